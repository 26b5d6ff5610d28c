#include "ui/dropped_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/image_encoding.h"

namespace corvane {
namespace {

// A little-endian TIFF of one strip with the given width and height tags.
std::string tiff(std::uint32_t width, std::uint32_t height, bool withStrips = true) {
    std::string bytes = std::string("II*\0", 4) + std::string("\x08\0\0\0", 4);
    auto put16 = [&](std::uint32_t v) {
        bytes += static_cast<char>(v & 0xff), bytes += static_cast<char>(v >> 8 & 0xff);
    };
    auto put32 = [&](std::uint32_t v) { put16(v & 0xffff), put16(v >> 16); };
    std::vector<std::pair<std::uint16_t, std::uint32_t>> tags{{256, width}, {257, height}};
    if (withStrips) tags.insert(tags.end(), {{273, 8 + 2 + 4 * 12 + 4}, {279, 4}});
    put16(static_cast<std::uint32_t>(tags.size()));
    for (const auto& [tag, value] : tags) {
        put16(tag);
        put16(4);  // LONG
        put32(1);
        put32(value);
    }
    put32(0);
    bytes += std::string(4, '\x7f');
    return bytes;
}

TEST(DroppedImageTest, OnlyWholePNGJPEGAndTIFFImagesPass) {
    const RGBAImage image{3, 2, std::vector<std::uint8_t>(24, 128)};
    const std::string png = *encodePNG(image);
    struct Case {
        const char* label;
        std::string bytes;
        std::optional<DroppedImage::Format> format;
    };
    const std::vector<Case> cases{
        {"png", png, DroppedImage::Format::png},
        {"jpeg", *encodeJPEG(image, 0.9), DroppedImage::Format::jpeg},
        {"tiff", tiff(3, 2), DroppedImage::Format::tiff},
        {"png cut short", png.substr(0, png.size() / 2), std::nullopt},
        {"jpeg header alone", "\xff\xd8\xff\xe0", std::nullopt},
        {"tiff of no width", tiff(0, 2), std::nullopt},
        {"tiff without image data", tiff(3, 2, false), std::nullopt},
        {"tiff header alone", std::string("II*\0\x08\0\0\0", 8), std::nullopt},
        {"gif", "GIF89a\x01\0\x01\0", std::nullopt},
        {"empty", "", std::nullopt},
        {"one byte too large png", png + std::string(DroppedImage::kMaxBytes, '\0'), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(DroppedImage::format(c.bytes), c.format) << c.label;
}

TEST(DroppedImageTest, OnlyAPlainExtensionIsKept) {
    EXPECT_EQ(DroppedImage::fileExtension("PNG", DroppedImage::Format::png), "PNG");
    EXPECT_EQ(DroppedImage::fileExtension("jpeg", DroppedImage::Format::jpeg), "jpeg");
    EXPECT_EQ(DroppedImage::fileExtension("../../x", DroppedImage::Format::png), "png");
    EXPECT_EQ(DroppedImage::fileExtension("", DroppedImage::Format::tiff), "tiff");
    EXPECT_EQ(DroppedImage::fileExtension("tif/evil", DroppedImage::Format::jpeg), "jpg");
}

}  // namespace
}  // namespace corvane
