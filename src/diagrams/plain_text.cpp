#include "diagrams/plain_text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace corvane::plain_text {

namespace {
bool isSpaceOrTab(char32_t c) { return c == U'\t' || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR; }

bool isLineBreak(char32_t c) { return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029; }

// The start of the code point that ends just before byte `end`.
size_t previousStart(std::string_view s, size_t end) {
    size_t start = end - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80 && end - start < 4) --start;
    return start;
}

template <class Predicate>
std::string_view trim(std::string_view s, Predicate strip) {
    size_t begin = 0;
    while (begin < s.size()) {
        size_t next = begin;
        if (!strip(nextCodePoint(s, next))) break;
        begin = next;
    }
    size_t end = s.size();
    while (end > begin) {
        size_t start = previousStart(s, end);
        size_t at = start;
        if (!strip(nextCodePoint(s, at)) || at != end) break;
        end = start;
    }
    return s.substr(begin, end - begin);
}
}  // namespace

char32_t nextCodePoint(std::string_view s, size_t& at) {
    UChar32 c = 0;
    int32_t i = static_cast<int32_t>(at);
    U8_NEXT(reinterpret_cast<const uint8_t*>(s.data()), i, static_cast<int32_t>(s.size()), c);
    at = static_cast<size_t>(i);
    return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

std::string_view trimSpaceSeparatorsAndTabs(std::string_view s) { return trim(s, isSpaceOrTab); }

std::string_view trimLineBreaks(std::string_view s) { return trim(s, isLineBreak); }

bool isNumeric(char32_t c) { return u_getIntPropertyValue(static_cast<UChar32>(c), UCHAR_NUMERIC_TYPE) != U_NT_NONE; }

bool isWhitespace(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)); }

void removeAll(std::string& s, std::string_view what) {
    if (s.find(what) == std::string::npos) return;
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        if (s.compare(i, what.size(), what) == 0) {
            i += what.size();
        } else {
            out += s[i++];
        }
    }
    s = std::move(out);
}

}  // namespace corvane::plain_text
