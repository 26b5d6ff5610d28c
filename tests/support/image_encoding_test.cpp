#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "support/image_encoding.h"

namespace corvane {
namespace {

namespace bitmap = platform::bitmap;

// One opaque red pixel and one half-transparent green one, in a given 32-bit layout.
platform::Image twoPixels(std::uint32_t info, std::array<std::uint8_t, 8> bytes) {
    return platform::Image{2, 1, 8, 32, info, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

TEST(ImageEncoding, EveryHostPixelLayoutReadsAsTheSameColours) {
    struct Case {
        std::uint32_t info;
        std::array<std::uint8_t, 8> bytes;
    };
    const Case cases[] = {
        // BGRA premultiplied, little-endian words: the host's usual screen layout.
        {bitmap::kAlphaPremultipliedFirst | bitmap::kByteOrder32Little, {0, 0, 255, 255, 0, 64, 0, 128}},
        {bitmap::kAlphaPremultipliedLast | bitmap::kByteOrderDefault, {255, 0, 0, 255, 0, 64, 0, 128}},
        {bitmap::kAlphaFirst | bitmap::kByteOrder32Big, {255, 255, 0, 0, 128, 0, 128, 0}},
        {bitmap::kAlphaLast | bitmap::kByteOrder32Little, {255, 0, 0, 255, 128, 0, 128, 0}},
    };
    for (const auto& c : cases) {
        auto rgba = toRGBA(twoPixels(c.info, c.bytes));
        ASSERT_TRUE(rgba) << c.info;
        const std::uint8_t* red = rgba->at(0, 0);
        const std::uint8_t* green = rgba->at(1, 0);
        EXPECT_EQ((std::array<int, 4>{red[0], red[1], red[2], red[3]}), (std::array<int, 4>{255, 0, 0, 255})) << c.info;
        EXPECT_EQ(green[3], 128) << c.info;
        EXPECT_NEAR(green[1], 128, 1) << c.info;
        EXPECT_EQ(green[0], 0) << c.info;
    }
    // A buffer shorter than its stated size, or an unknown depth, is refused rather than read past.
    auto shortImage = twoPixels(bitmap::kAlphaPremultipliedFirst | bitmap::kByteOrder32Little, {});
    shortImage.bytes.resize(5);
    EXPECT_FALSE(toRGBA(shortImage));
    auto sixteen = twoPixels(bitmap::kAlphaNone, {});
    sixteen.bitsPerPixel = 16;
    EXPECT_FALSE(toRGBA(sixteen));
}

TEST(ImageEncoding, PngRoundTripsExactlyAndJpegClosely) {
    RGBAImage image{40, 30, std::vector<std::uint8_t>(40 * 30 * 4)};
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            auto* p = image.at(x, y);
            p[0] = x < 20 ? 200 : 10, p[1] = y < 15 ? 30 : 220, p[2] = 90, p[3] = 255;
        }
    auto png = encodePNG(image);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->substr(1, 3), "PNG");
    auto back = decodePNG(*png);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->pixels, image.pixels);

    auto jpeg = encodeJPEG(image, 0.8);
    ASSERT_TRUE(jpeg);
    auto decoded = decodeJPEG(*jpeg);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 40);
    EXPECT_NEAR(decoded->at(5, 5)[0], 200, 12);
    EXPECT_NEAR(decoded->at(35, 25)[1], 220, 12);

    EXPECT_FALSE(decodePNG("not a png"));
    EXPECT_FALSE(decodePNG(png->substr(0, png->size() / 2)));
    EXPECT_FALSE(decodeJPEG(std::string("\xFF\xD8\xFF\x00garbage", 11)));
    EXPECT_FALSE(encodePNG(RGBAImage{}));
}

TEST(ImageEncoding, ResizingKeepsAtLeastOnePixel) {
    RGBAImage one{3, 2, std::vector<std::uint8_t>(3 * 2 * 4, 7)};
    auto r = resized(one, 0, 0);
    EXPECT_EQ(r.width, 1);
    EXPECT_EQ(r.height, 1);
    EXPECT_EQ(r.at(0, 0)[0], 7);
    auto big = resized(one, 6, 4);
    EXPECT_EQ(big.pixels.size(), 6u * 4u * 4u);
}

}  // namespace
}  // namespace corvane
