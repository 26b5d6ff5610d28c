#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/screen_capture.h"

namespace corvane {

// Straight (not premultiplied) 8-bit RGBA pixels, rows top to bottom.
struct RGBAImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 4

    std::uint8_t* at(int x, int y) { return &pixels[(static_cast<size_t>(y) * width + x) * 4]; }
    const std::uint8_t* at(int x, int y) const { return &pixels[(static_cast<size_t>(y) * width + x) * 4]; }
};

// Reads the host's bitmap in any of its 32-bit layouts (and packed 24-bit RGB); absent for
// layouts it cannot tell apart or a buffer too small for its stated size.
std::optional<RGBAImage> toRGBA(const platform::Image& image);

// Nearest-neighbour scaling to an exact size (at least 1x1).
RGBAImage resized(const RGBAImage& image, int width, int height);

std::optional<std::string> encodePNG(const RGBAImage& image);
std::optional<RGBAImage> decodePNG(const std::string& bytes);
// quality 0..1
std::optional<std::string> encodeJPEG(const RGBAImage& image, double quality);
std::optional<RGBAImage> decodeJPEG(const std::string& bytes);

}  // namespace corvane
