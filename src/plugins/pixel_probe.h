#pragma once

#include <cstdint>
#include <optional>

#include "platform/accessibility.h"
#include "platform/screen_capture.h"
#include "plugins/plugin_map.h"

namespace corvane {

// One colour sample, channels as read from an 8-bit image (reference colours from a map may hold
// any integers; distances are computed so that they cannot overflow).
struct PixelRGB {
    std::int64_t red = 0;
    std::int64_t green = 0;
    std::int64_t blue = 0;
    friend bool operator==(const PixelRGB&, const PixelRGB&) = default;

    // The Euclidean distance of the two colours, truncated to a whole number.
    std::int64_t distance(const PixelRGB& to) const;
};

// A picture of a plug-in window with the window's size in whole points; the image may have more
// pixels than the window has points, and probe points (in points) are scaled by the ratio.
struct PluginWindowImage {
    platform::Image image;
    std::int64_t width = 0;
    std::int64_t height = 0;
};

enum class StateProbeResult { lit, dark, unknown };

// Tells the on/off state of a control that exposes no usable Accessibility value from one pixel of
// its plug-in window. Stateless.
class PixelProbe final {
public:
    PixelProbe() = delete;

    // The pixel under a point given in points from the window's top-left corner; none outside the
    // image, for pixel data that is not 4 bytes per pixel, or for a channel layout it cannot tell.
    static std::optional<PixelRGB> sample(const PluginWindowImage& image, double x, double y);

    // lit when the sample is within the tolerance of the lit colour and no farther from it than
    // from the dark one; dark when strictly nearer the dark colour and within the tolerance;
    // unknown otherwise, and always for reference colours without exactly three channels.
    static StateProbeResult evaluate(const PixelRGB& sample, const StateProbe& probe);

    // The picture of the plug-in window: its frame must be more than 10 points each way. Taken of
    // the window alone, so that nothing stacked over it (the program's own on-screen notice above
    // all) can colour a probe; none when the window is not on screen or cannot be captured.
    static std::optional<PluginWindowImage> captureWindowImage(const platform::AXElement& window);
};

}  // namespace corvane
