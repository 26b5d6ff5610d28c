#pragma once

// The flat colours the stand-in paints its screen with, so that tests can sample known points.

#include <cstdint>
#include <optional>

#include "platform/screen_capture.h"

namespace corvane::standin {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

namespace palette {
inline constexpr Rgb desktop{20, 24, 32};
inline constexpr Rgb windowBody{48, 48, 48};
inline constexpr Rgb titleBar{88, 88, 88};  // the top 22 pt of every window
inline constexpr Rgb controlBar{64, 64, 64};
inline constexpr Rgb transportButton{96, 96, 96};
inline constexpr Rgb playLit{52, 199, 89};
inline constexpr Rgb recordLit{230, 60, 60};
inline constexpr Rgb cycleLit{240, 190, 40};
inline constexpr Rgb soloLit{225, 205, 70};
inline constexpr Rgb display{24, 40, 56};  // tempo, signature, playhead position
inline constexpr Rgb inspector{40, 40, 40};
inline constexpr Rgb strip{60, 60, 60};
inline constexpr Rgb insertBar{30, 30, 30};
inline constexpr Rgb slot{70, 110, 170};
inline constexpr Rgb slotBypassed{50, 64, 84};
inline constexpr Rgb control{80, 80, 80};  // routing buttons, knobs, faders, fields, toggles when off
inline constexpr Rgb muteOn{60, 140, 230};
inline constexpr Rgb soloOn{230, 200, 40};
inline constexpr Rgb tracksArea{36, 36, 36};
inline constexpr Rgb header{72, 72, 72};
inline constexpr Rgb headerSelected{90, 120, 200};
inline constexpr Rgb headerMuted{128, 128, 128};
inline constexpr Rgb headerSelectedMuted{110, 125, 160};
inline constexpr Rgb ruler{52, 52, 52};
inline constexpr Rgb playhead{255, 255, 255};
inline constexpr Rgb trackRow{42, 42, 42};
inline constexpr Rgb region{64, 170, 110};
inline constexpr Rgb regionMuted{96, 104, 100};
inline constexpr Rgb pluginHeader{58, 62, 70};
inline constexpr Rgb pluginBody{34, 38, 46};
inline constexpr Rgb menu{210, 210, 214};  // the open levels of a menu hanging in a window
inline constexpr Rgb menuHighlight{60, 110, 220};
inline constexpr Rgb otherWindow{236, 236, 236};  // windows of other applications, unless they give their own
inline constexpr double shieldAlpha = 0.3;        // the program's shield: black at this opacity
}  // namespace palette

// Reads the colour at pixel (x, y) of a 32-bit image in any of the 4-byte layouts; absent outside the image
// or for other formats. Premultiplied colours are returned as stored (the stand-in paints opaque pixels).
std::optional<Rgb> pixelAt(const platform::Image& image, int x, int y);

}  // namespace corvane::standin
