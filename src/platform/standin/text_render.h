#pragma once

// Anti-aliased text for the simulated screen: one FreeType face, loaded once, with a cache of rendered
// glyphs per pixel size. Internal to the stand-in.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::standin::detail {

// One line of text as coverage (0 = none, 255 = full), one byte per pixel, row after row.
struct TextMask {
    int width = 0;
    int height = 0;    // ascender to descender of the face at this size
    int baseline = 0;  // row of the baseline, from the top
    std::vector<std::uint8_t> coverage;
    bool empty() const { return width == 0 || height == 0; }
};

class TextRenderer {
public:
    // A font that cannot be loaded leaves the renderer without text; it says so in the log once.
    explicit TextRenderer(std::string fontPath);
    ~TextRenderer();
    TextRenderer(const TextRenderer&) = delete;
    TextRenderer& operator=(const TextRenderer&) = delete;

    // DejaVu Sans from the system's fonts, shared by every capture of the process.
    static TextRenderer& shared();

    bool available() const;
    // UTF-8 text on one line at a pixel size; empty without a font or for empty text. Thread-safe.
    TextMask render(std::string_view utf8, int pixelSize);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace corvane::standin::detail
