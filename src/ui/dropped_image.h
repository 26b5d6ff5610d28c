#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace corvane {

// What the input bar may attach: PNG, JPEG and TIFF images of at most 20 MB.
struct DroppedImage {
    enum class Format { png, jpeg, tiff };
    static constexpr std::size_t kMaxBytes = 20 * 1024 * 1024;

    // The format the bytes decode as, or absent. PNG and JPEG are decoded whole; a TIFF must
    // have a well-formed header and first directory with a size and image data inside the file.
    static std::optional<Format> format(const std::string& bytes);
    // The extension to store the file under: the caller's (its case kept) when it is a plain
    // name of letters and digits, else the format's own.
    static std::string fileExtension(const std::string& requested, Format format);
    // Removes the images a crash left half-written in the Captures folder, where they are kept
    // as "drop-<id>.<extension>"; the screenshots beside them are left to their own writer. At
    // the chat's start, before its first drop.
    static void removeLeftovers();
};

}  // namespace corvane
