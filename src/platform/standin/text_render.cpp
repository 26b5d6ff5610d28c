// FreeType rendering of single lines, with each glyph rasterised once per size.

#include "platform/standin/text_render.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include <ft2build.h>
#include FT_FREETYPE_H

#include "platform/log.h"

namespace corvane::standin::detail {

namespace {

constexpr const char* kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Glyph {
    int left = 0;  // bitmap offset from the pen
    int top = 0;   // bitmap top above the baseline
    int width = 0;
    int rows = 0;
    int advance = 0;  // 26.6
    std::vector<std::uint8_t> bitmap;
};

// Malformed sequences read as U+FFFD, so that any bytes a scenario gives still draw something.
std::vector<char32_t> decodeUtf8(std::string_view s) {
    std::vector<char32_t> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        char32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        bool ok = extra >= 0 && i + static_cast<std::size_t>(extra) < s.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            if ((c & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) {
            out.push_back(U'\uFFFD');
            ++i;
            continue;
        }
        out.push_back(cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

}  // namespace

struct TextRenderer::Impl {
    std::mutex mutex;
    FT_Library library = nullptr;
    FT_Face face = nullptr;
    int faceSize = 0;
    std::unordered_map<std::uint64_t, Glyph> glyphs;  // key: size << 32 | code point

    bool setSize(int size) {
        if (size == faceSize) return true;
        if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(size)) != 0) return false;
        faceSize = size;
        return true;
    }

    const Glyph& glyph(char32_t cp, int size) {
        const std::uint64_t key = (std::uint64_t(size) << 32) | cp;
        if (auto it = glyphs.find(key); it != glyphs.end()) return it->second;
        Glyph g;
        if (setSize(size) && FT_Load_Char(face, cp, FT_LOAD_RENDER | FT_LOAD_TARGET_LIGHT) == 0) {
            const FT_GlyphSlot slot = face->glyph;
            const FT_Bitmap& bm = slot->bitmap;
            g.left = slot->bitmap_left;
            g.top = slot->bitmap_top;
            g.advance = static_cast<int>(slot->advance.x);
            if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
                g.width = static_cast<int>(bm.width);
                g.rows = static_cast<int>(bm.rows);
                g.bitmap.resize(static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.rows));
                for (int y = 0; y < g.rows; ++y)
                    std::copy_n(bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch, g.width,
                                g.bitmap.begin() + static_cast<std::ptrdiff_t>(y) * g.width);
            }
        }
        return glyphs.emplace(key, std::move(g)).first->second;
    }
};

TextRenderer::TextRenderer(std::string fontPath) : impl_(std::make_unique<Impl>()) {
    if (FT_Init_FreeType(&impl_->library) != 0) {
        impl_->library = nullptr;
        corvane::log("[Standin] FreeType could not start; the screen shows no text");
        return;
    }
    if (FT_New_Face(impl_->library, fontPath.c_str(), 0, &impl_->face) != 0) {
        impl_->face = nullptr;
        corvane::log("[Standin] No font at " + fontPath + "; the screen shows no text");
    }
}

TextRenderer::~TextRenderer() {
    if (impl_->face) FT_Done_Face(impl_->face);
    if (impl_->library) FT_Done_FreeType(impl_->library);
}

TextRenderer& TextRenderer::shared() {
    static TextRenderer renderer(kFontPath);
    return renderer;
}

bool TextRenderer::available() const { return impl_->face != nullptr; }

TextMask TextRenderer::render(std::string_view utf8, int pixelSize) {
    TextMask mask;
    if (!impl_->face || utf8.empty() || pixelSize < 1 || pixelSize > 512) return mask;
    std::lock_guard lock(impl_->mutex);
    const std::vector<char32_t> text = decodeUtf8(utf8);
    std::vector<const Glyph*> glyphs;
    glyphs.reserve(text.size());
    long pen = 0;  // 26.6
    for (char32_t cp : text) {
        glyphs.push_back(&impl_->glyph(cp, pixelSize));
        pen += glyphs.back()->advance;
    }
    if (!impl_->setSize(pixelSize)) return mask;
    const FT_Size_Metrics& m = impl_->face->size->metrics;
    mask.baseline = static_cast<int>((m.ascender + 63) >> 6);
    mask.height = mask.baseline + static_cast<int>((-m.descender + 63) >> 6);
    mask.width = static_cast<int>((pen + 63) >> 6);
    if (mask.empty()) return mask;
    mask.coverage.assign(static_cast<std::size_t>(mask.width) * static_cast<std::size_t>(mask.height), 0);
    pen = 0;
    for (const Glyph* g : glyphs) {
        const int x0 = static_cast<int>((pen + 32) >> 6) + g->left;
        const int y0 = mask.baseline - g->top;
        for (int y = std::max(0, -y0); y < g->rows && y0 + y < mask.height; ++y)
            for (int x = std::max(0, -x0); x < g->width && x0 + x < mask.width; ++x) {
                std::uint8_t& dst = mask.coverage[static_cast<std::size_t>(y0 + y) * std::size_t(mask.width) +
                                                  static_cast<std::size_t>(x0 + x)];
                dst = std::max(dst, g->bitmap[static_cast<std::size_t>(y) * std::size_t(g->width) + std::size_t(x)]);
            }
        pen += g->advance;
    }
    return mask;
}

}  // namespace corvane::standin::detail
