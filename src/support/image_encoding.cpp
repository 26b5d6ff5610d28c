#include "support/image_encoding.h"

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

namespace corvane {

namespace bitmap = platform::bitmap;

std::optional<RGBAImage> toRGBA(const platform::Image& image) {
    if (image.width <= 0 || image.height <= 0) return std::nullopt;
    int bytesPerPixel = image.bitsPerPixel / 8;
    if (image.bitsPerPixel != 32 && image.bitsPerPixel != 24) return std::nullopt;
    if (image.bytesPerRow < image.width * bytesPerPixel) return std::nullopt;
    if (image.bytes.size() <
        static_cast<size_t>(image.bytesPerRow) * (image.height - 1) + static_cast<size_t>(image.width) * bytesPerPixel)
        return std::nullopt;

    std::uint32_t alphaInfo = image.bitmapInfo & bitmap::kAlphaInfoMask;
    std::uint32_t order = image.bitmapInfo & bitmap::kByteOrderMask;
    RGBAImage out{image.width, image.height,
                  std::vector<std::uint8_t>(static_cast<size_t>(image.width) * image.height * 4)};

    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.bytes.data() + static_cast<size_t>(y) * image.bytesPerRow;
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p = row + static_cast<size_t>(x) * bytesPerPixel;
            std::uint8_t r, g, b, a = 255;
            if (bytesPerPixel == 3) {
                r = p[0], g = p[1], b = p[2];
            } else {
                // Bring the pixel into memory order A/R/G/B positions as the layout defines
                // them for a big-endian word, then pick the channels.
                std::uint8_t w[4];
                if (order == bitmap::kByteOrder32Little) {
                    w[0] = p[3], w[1] = p[2], w[2] = p[1], w[3] = p[0];
                } else if (order == bitmap::kByteOrderDefault || order == bitmap::kByteOrder32Big) {
                    std::memcpy(w, p, 4);
                } else {
                    return std::nullopt;
                }
                bool alphaFirst = alphaInfo == bitmap::kAlphaPremultipliedFirst || alphaInfo == bitmap::kAlphaFirst ||
                                  alphaInfo == bitmap::kAlphaNoneSkipFirst;
                bool alphaLast = alphaInfo == bitmap::kAlphaPremultipliedLast || alphaInfo == bitmap::kAlphaLast ||
                                 alphaInfo == bitmap::kAlphaNoneSkipLast;
                if (!alphaFirst && !alphaLast) return std::nullopt;
                if (alphaFirst)
                    a = w[0], r = w[1], g = w[2], b = w[3];
                else
                    r = w[0], g = w[1], b = w[2], a = w[3];
                if (alphaInfo == bitmap::kAlphaNoneSkipFirst || alphaInfo == bitmap::kAlphaNoneSkipLast) a = 255;
                bool premultiplied =
                    alphaInfo == bitmap::kAlphaPremultipliedFirst || alphaInfo == bitmap::kAlphaPremultipliedLast;
                if (premultiplied && a != 0 && a != 255) {
                    r = static_cast<std::uint8_t>(std::min(255, (r * 255 + a / 2) / a));
                    g = static_cast<std::uint8_t>(std::min(255, (g * 255 + a / 2) / a));
                    b = static_cast<std::uint8_t>(std::min(255, (b * 255 + a / 2) / a));
                }
            }
            std::uint8_t* q = out.at(x, y);
            q[0] = r, q[1] = g, q[2] = b, q[3] = a;
        }
    }
    return out;
}

RGBAImage resized(const RGBAImage& image, int width, int height) {
    width = std::max(1, width);
    height = std::max(1, height);
    if (width == image.width && height == image.height) return image;
    RGBAImage out{width, height, std::vector<std::uint8_t>(static_cast<size_t>(width) * height * 4, 0)};
    if (image.width <= 0 || image.height <= 0) return out;
    for (int y = 0; y < height; ++y) {
        int sy = std::min(image.height - 1, static_cast<int>(static_cast<long long>(y) * image.height / height));
        for (int x = 0; x < width; ++x) {
            int sx = std::min(image.width - 1, static_cast<int>(static_cast<long long>(x) * image.width / width));
            std::memcpy(out.at(x, y), image.at(sx, sy), 4);
        }
    }
    return out;
}

// --- PNG ----------------------------------------------------------------------------------

namespace {
void pngWrite(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), length);
}
void pngFlush(png_structp) {}

struct PNGReadState {
    const std::string* bytes;
    size_t offset = 0;
};
void pngRead(png_structp png, png_bytep data, png_size_t length) {
    auto* state = static_cast<PNGReadState*>(png_get_io_ptr(png));
    if (state->offset + length > state->bytes->size()) png_error(png, "truncated");
    std::memcpy(data, state->bytes->data() + state->offset, length);
    state->offset += length;
}
}  // namespace

std::optional<std::string> encodePNG(const RGBAImage& image) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height * 4)
        return std::nullopt;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return std::nullopt;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return std::nullopt;
    }
    std::string out;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return std::nullopt;
    }
    png_set_write_fn(png, &out, pngWrite, pngFlush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, const_cast<png_bytep>(image.pixels.data() + static_cast<size_t>(y) * image.width * 4));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::optional<RGBAImage> decodePNG(const std::string& bytes) {
    if (bytes.size() < 8 || png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.data()), 0, 8) != 0)
        return std::nullopt;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return std::nullopt;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return std::nullopt;
    }
    PNGReadState state{&bytes};
    RGBAImage image;
    std::vector<png_bytep> rows;  // before setjmp: a libpng error jumps past later objects
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return std::nullopt;
    }
    png_set_read_fn(png, &state, pngRead);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
    image.width = static_cast<int>(png_get_image_width(png, info));
    image.height = static_cast<int>(png_get_image_height(png, info));
    if (image.width <= 0 || image.height <= 0 || image.width > 20000 || image.height > 20000) png_error(png, "size");
    image.pixels.resize(static_cast<size_t>(image.width) * image.height * 4);
    rows.resize(static_cast<size_t>(image.height));
    for (int y = 0; y < image.height; ++y) rows[static_cast<size_t>(y)] = image.at(0, y);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return image;
}

// --- JPEG ---------------------------------------------------------------------------------

namespace {
struct JPEGError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};
void jpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JPEGError*>(info->err)->jump, 1); }
}  // namespace

std::optional<std::string> encodeJPEG(const RGBAImage& image, double quality) {
    if (image.width <= 0 || image.height <= 0) return std::nullopt;
    jpeg_compress_struct info{};
    JPEGError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegFail;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    std::vector<std::uint8_t> row(static_cast<size_t>(image.width) * 3);
    if (setjmp(error.jump)) {
        jpeg_destroy_compress(&info);
        free(buffer);
        return std::nullopt;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(image.width);
    info.image_height = static_cast<JDIMENSION>(image.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, std::clamp(static_cast<int>(quality * 100 + 0.5), 1, 100), TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        const std::uint8_t* src = image.at(0, static_cast<int>(info.next_scanline));
        for (int x = 0; x < image.width; ++x) {
            // Flatten onto white, as an opaque picture format must.
            int a = src[x * 4 + 3];
            for (int c = 0; c < 3; ++c)
                row[static_cast<size_t>(x) * 3 + c] =
                    static_cast<std::uint8_t>((src[x * 4 + c] * a + 255 * (255 - a)) / 255);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&info);
    free(buffer);
    return out;
}

std::optional<RGBAImage> decodeJPEG(const std::string& bytes) {
    if (bytes.size() < 4) return std::nullopt;
    jpeg_decompress_struct info{};
    JPEGError error{};
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegFail;
    RGBAImage image;
    std::vector<std::uint8_t> row;  // before setjmp: a libjpeg error jumps past later objects
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        return std::nullopt;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image.width = static_cast<int>(info.output_width);
    image.height = static_cast<int>(info.output_height);
    image.pixels.assign(static_cast<size_t>(image.width) * image.height * 4, 255);
    row.resize(static_cast<size_t>(image.width) * 3);
    while (info.output_scanline < info.output_height) {
        int y = static_cast<int>(info.output_scanline);
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        for (int x = 0; x < image.width; ++x)
            for (int c = 0; c < 3; ++c) image.at(x, y)[c] = row[static_cast<size_t>(x) * 3 + c];
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return image;
}

}  // namespace corvane
