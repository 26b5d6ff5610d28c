#include "support/json_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include <nlohmann/json.hpp>

namespace corvane {

std::string jsonText(const nlohmann::json& value, std::string_view fallback) {
    std::string dumped;
    try {
        dumped = value.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception&) {
        return std::string(fallback);
    }
    // Outside texts JSON has no "/", so every one in the dump sits inside a text.
    std::string out;
    out.reserve(dumped.size() + static_cast<std::size_t>(std::count(dumped.begin(), dumped.end(), '/')));
    for (char c : dumped) {
        if (c == '/') out += '\\';
        out += c;
    }
    return out;
}

namespace {
// The length of the well-formed UTF-8 sequence at `p` (overlong forms, surrogates and code
// points beyond U+10FFFF are not), or 0.
size_t utf8Length(const unsigned char* p, const unsigned char* end) {
    const unsigned char lead = p[0];
    auto continuation = [&](size_t i, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
        return p + i < end && p[i] >= lo && p[i] <= hi;
    };
    if (lead >= 0xC2 && lead <= 0xDF) return continuation(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        unsigned char lo = lead == 0xE0 ? 0xA0 : 0x80;
        unsigned char hi = lead == 0xED ? 0x9F : 0xBF;
        return continuation(1, lo, hi) && continuation(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        unsigned char lo = lead == 0xF0 ? 0x90 : 0x80;
        unsigned char hi = lead == 0xF4 ? 0x8F : 0xBF;
        return continuation(1, lo, hi) && continuation(2) && continuation(3) ? 4 : 0;
    }
    return 0;
}

// Whether any of the eight bytes needs a look of its own: a control character, '"', '\\' or
// a byte of a multi-byte sequence. Text is mostly plain ASCII, copied eight bytes at a time.
bool needsLook(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t highs = 0x8080808080808080ull;
    auto hasZero = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
    const std::uint64_t below0x20 = (word - ones * 0x20) & ~word & highs;
    return ((word & highs) | below0x20 | hasZero(word ^ (ones * '"')) | hasZero(word ^ (ones * '\\'))) != 0;
}

bool hasSlash(std::uint64_t word) {
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t highs = 0x8080808080808080ull;
    const std::uint64_t v = word ^ (ones * '/');
    return ((v - ones) & ~v & highs) != 0;
}
}  // namespace

void PrettyJSONWriter::newLine(size_t depth) {
    out_ += '\n';
    out_.append(depth * 2, ' ');
}

void PrettyJSONWriter::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (counts_.empty()) return;  // the document itself
    if (counts_.back()++ > 0) out_ += ',';
    newLine(counts_.size());
}

void PrettyJSONWriter::open(char bracket) {
    beforeValue();
    out_ += bracket;
    counts_.push_back(0);
}

void PrettyJSONWriter::close(char bracket) {
    const bool empty = counts_.back() == 0;
    counts_.pop_back();
    if (!empty) newLine(counts_.size());
    out_ += bracket;
}

void PrettyJSONWriter::key(std::string_view name) {
    beforeValue();
    escaped(name);
    out_ += ": ";
    afterKey_ = true;
}

void PrettyJSONWriter::string(std::string_view text) {
    beforeValue();
    escaped(text);
}

void PrettyJSONWriter::boolean(bool value) {
    beforeValue();
    out_ += value ? "true" : "false";
}

void PrettyJSONWriter::integer(std::int64_t value) {
    beforeValue();
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr);
}

void PrettyJSONWriter::number(double value) {
    beforeValue();
    if (!std::isfinite(value)) {
        out_ += "null";
        return;
    }
    char buffer[64];
    // Whole numbers of modest size (window frames, mostly) read as nlohmann writes them, "875.0",
    // without the shortest-digits search.
    if (value == std::trunc(value) && std::fabs(value) < 1e15 && !(value == 0 && std::signbit(value))) {
        auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::int64_t>(value));
        out_.append(buffer, result.ptr);
        out_ += ".0";
        return;
    }
    char* end = nlohmann::detail::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, end);
}

void PrettyJSONWriter::escaped(std::string_view text) {
    out_ += '"';
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    const auto* run = p;  // start of the bytes copied as they are
    auto flush = [&] { out_.append(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run)); };
    while (p < end) {
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            if (!needsLook(word) && !(escapeSlashes_ && hasSlash(word))) {
                p += 8;
                continue;
            }
        }
        const unsigned char c = *p;
        if (c >= 0x20 && c != '"' && c != '\\' && c < 0x80 && !(c == '/' && escapeSlashes_)) {
            ++p;
            continue;
        }
        if (c >= 0x80) {
            size_t length = utf8Length(p, end);
            if (length == 0) {
                valid_ = false;
                return;
            }
            p += length;
            continue;
        }
        flush();
        switch (c) {
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            case '/': out_ += "\\/"; break;
            case '\b': out_ += "\\b"; break;
            case '\t': out_ += "\\t"; break;
            case '\n': out_ += "\\n"; break;
            case '\f': out_ += "\\f"; break;
            case '\r': out_ += "\\r"; break;
            default: {
                static const char* hex = "0123456789abcdef";
                out_ += "\\u00";
                out_ += hex[c >> 4];
                out_ += hex[c & 15];
            }
        }
        run = ++p;
    }
    flush();
    out_ += '"';
}

}  // namespace corvane
