// The pixel probes: pixel layouts and the colour decision, on hand-built bitmaps.

#include <gtest/gtest.h>

#include <limits>

#include "plugins/pixel_probe.h"

namespace corvane {
namespace {

platform::Image image(int width, int height, int bitsPerPixel, std::uint32_t bitmapInfo,
                      std::vector<std::uint8_t> pixel) {
    platform::Image img;
    img.width = width;
    img.height = height;
    img.bitsPerPixel = bitsPerPixel;
    img.bytesPerRow = width * bitsPerPixel / 8;
    img.bitmapInfo = bitmapInfo;
    for (int i = 0; i < width * height; ++i) img.bytes.insert(img.bytes.end(), pixel.begin(), pixel.end());
    return img;
}

TEST(PixelProbe, SamplesReadEveryFourByteLayoutAndRejectTheRest) {
    // The colour (10, 20, 30) stored in each layout.
    struct Case {
        const char* layout;
        int bits;
        std::uint32_t info;
        std::vector<std::uint8_t> bytes;
        std::optional<PixelRGB> expected;
    };
    const PixelRGB c{10, 20, 30};
    for (const Case& k : {Case{"premultiplied first, little-endian (BGRA)", 32, 2 | 0x2000, {30, 20, 10, 255}, c},
                          Case{"skip first, big-endian (xRGB)", 32, 6, {255, 10, 20, 30}, c},
                          Case{"premultiplied last, big-endian (RGBA)", 32, 1, {10, 20, 30, 255}, c},
                          Case{"skip last, little-endian (ABGR)", 32, 5 | 0x2000, {255, 30, 20, 10}, c},
                          Case{"no alpha", 32, 0, {10, 20, 30, 0}, std::nullopt},
                          Case{"alpha info out of range", 32, 7, {10, 20, 30, 0}, std::nullopt},
                          Case{"24-bit", 24, 0, {10, 20, 30}, std::nullopt}}) {
        PluginWindowImage picture{image(4, 4, k.bits, k.info, k.bytes), 4, 4};
        EXPECT_EQ(PixelProbe::sample(picture, 1, 1), k.expected) << k.layout;
    }
}

TEST(PixelProbe, PointsAreScaledToPixelsAndStayInsideTheImage) {
    // A 400-pixel-wide picture of a 200-point window: point 100 is pixel column 200.
    auto img = image(400, 2, 32, 2 | 0x2000, {0, 0, 0, 255});
    img.bytes[200 * 4 + 2] = 99;  // red of pixel (200, 0)
    PluginWindowImage picture{img, 200, 1};
    EXPECT_EQ(PixelProbe::sample(picture, 100, 0), (PixelRGB{99, 0, 0}));
    EXPECT_EQ(PixelProbe::sample(picture, 200, 0), std::nullopt);  // one column past the last
    EXPECT_EQ(PixelProbe::sample(picture, -1, 0), std::nullopt);
    // A buffer shorter than its stated size is never read past its end.
    picture.image.bytes.resize(100);
    EXPECT_EQ(PixelProbe::sample(picture, 100, 0), std::nullopt);
}

TEST(PixelProbe, TiesGoToLitAndColoursFarFromBothAreUnknown) {
    const StateProbe probe{0, 0, {200, 0, 0}, {0, 0, 200}, 150};
    struct Case {
        PixelRGB sample;
        StateProbeResult expected;
    };
    for (const Case& c : {Case{{190, 5, 0}, StateProbeResult::lit}, Case{{0, 0, 180}, StateProbeResult::dark},
                          Case{{100, 0, 100}, StateProbeResult::lit},  // equally far, within the tolerance
                          Case{{0, 255, 0}, StateProbeResult::unknown}})
        EXPECT_EQ(PixelProbe::evaluate(c.sample, probe), c.expected)
            << c.sample.red << "," << c.sample.green << "," << c.sample.blue;
    EXPECT_EQ(PixelProbe::evaluate({200, 0, 0}, StateProbe{0, 0, {200, 0}, {0, 0, 200}, 50}),
              StateProbeResult::unknown);
    // Reference colours beyond 0..255 in a map do not overflow the distance.
    const std::int64_t huge = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(PixelProbe::evaluate({0, 0, 0}, StateProbe{0, 0, {huge, huge, huge}, {0, 0, 1}, 5}),
              StateProbeResult::dark);
    EXPECT_EQ((PixelRGB{0, 0, 0}).distance({3, 4, 0}), 5);
    EXPECT_EQ((PixelRGB{0, 0, 0}).distance({1, 1, 1}), 1);  // 1.73 truncated
}

}  // namespace
}  // namespace corvane
