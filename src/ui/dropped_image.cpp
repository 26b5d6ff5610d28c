#include "ui/dropped_image.h"

#include <cstdint>
#include <limits>
#include <string_view>

#include "support/app_paths.h"
#include "support/files.h"
#include "support/image_encoding.h"

namespace corvane {

namespace {

// A TIFF reader of just enough of the file to know it holds one image: the byte order, the
// magic number, the first directory and its size and data-location tags.
class TIFFProbe {
public:
    explicit TIFFProbe(const std::string& bytes) : bytes_(bytes) {}

    bool valid() const {
        if (bytes_.size() < 8) return false;
        if (bytes_.compare(0, 2, "II") == 0) {
            little_ = true;
        } else if (bytes_.compare(0, 2, "MM") == 0) {
            little_ = false;
        } else {
            return false;
        }
        if (read16(2) != 42) return false;
        const std::uint64_t directory = read32(4);
        if (directory < 8 || directory + 2 > bytes_.size()) return false;
        const std::uint64_t count = read16(directory);
        if (count == 0 || directory + 2 + count * 12 + 4 > bytes_.size()) return false;
        std::uint64_t width = 0, height = 0, dataOffset = 0, dataLength = 0;
        bool hasOffset = false, hasLength = false;
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t entry = directory + 2 + i * 12;
            const auto tag = read16(entry);
            const auto type = read16(entry + 2);
            const auto value = type == 3 ? read16(entry + 8) : read32(entry + 8);  // SHORT or LONG
            switch (tag) {
                case 256: width = value; break;
                case 257: height = value; break;
                case 273:  // StripOffsets
                case 324:  // TileOffsets
                    dataOffset = value;
                    hasOffset = true;
                    break;
                case 279:  // StripByteCounts
                case 325:  // TileByteCounts
                    dataLength = value;
                    hasLength = true;
                    break;
                default: break;
            }
        }
        // With several strips the value is where their table stands; either way it lies inside.
        return width > 0 && height > 0 && hasOffset && hasLength && dataLength > 0 && dataOffset < bytes_.size();
    }

private:
    std::uint32_t byte(std::uint64_t at) const { return static_cast<unsigned char>(bytes_[at]); }
    std::uint32_t read16(std::uint64_t at) const {
        return little_ ? byte(at) | byte(at + 1) << 8 : byte(at) << 8 | byte(at + 1);
    }
    std::uint32_t read32(std::uint64_t at) const {
        return little_ ? read16(at) | read16(at + 2) << 16 : read16(at) << 16 | read16(at + 2);
    }

    const std::string& bytes_;
    mutable bool little_ = true;
};

}  // namespace

std::optional<DroppedImage::Format> DroppedImage::format(const std::string& bytes) {
    if (bytes.empty() || bytes.size() > kMaxBytes) return std::nullopt;
    if (bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) {
        if (decodePNG(bytes)) return Format::png;
        return std::nullopt;
    }
    if (bytes.compare(0, 3, "\xff\xd8\xff") == 0) {
        if (decodeJPEG(bytes)) return Format::jpeg;
        return std::nullopt;
    }
    if (TIFFProbe(bytes).valid()) return Format::tiff;
    return std::nullopt;
}

std::string DroppedImage::fileExtension(const std::string& requested, Format format) {
    bool plain = !requested.empty() && requested.size() <= 10;
    for (char c : requested)
        plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
    if (plain) return requested;
    switch (format) {
        case Format::png: return "png";
        case Format::jpeg: return "jpg";
        case Format::tiff: return "tiff";
    }
    return "png";
}

void DroppedImage::removeLeftovers() {
    removeLeftoverTemporaryFiles(AppPaths::appSupportDirectory(std::string("Captures")), [](std::string_view name) {
        return name.starts_with("drop-") && name.find('.') != std::string_view::npos;
    });
}

}  // namespace corvane
