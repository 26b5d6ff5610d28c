#include "support/unicode.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <unicode/ustring.h>
#include "support/icu_text.h"

#include <memory>

namespace corvane::text {

namespace {
using icu_text::u;
using icu_text::utf8;

bool isSpace(UChar32 c, bool newlinesToo) {
    if (!u_hasBinaryProperty(c, UCHAR_WHITE_SPACE)) return false;
    if (newlinesToo) return true;
    // Line breaks of the White_Space set stay when only white space is trimmed.
    return !(c == 0x0A || c == 0x0B || c == 0x0C || c == 0x0D || c == 0x85 || c == 0x2028 || c == 0x2029);
}

std::string trim(std::string_view s, bool newlinesToo) {
    if (isValidUTF8(s)) {  // in place: a long text is copied once, trimmed
        const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
        const auto length = static_cast<int32_t>(s.size());
        int32_t start = 0, end = length;
        while (start < end) {
            int32_t next = start;
            UChar32 c;
            U8_NEXT(bytes, next, end, c);
            if (!isSpace(c, newlinesToo)) break;
            start = next;
        }
        while (end > start) {
            int32_t previous = end;
            UChar32 c;
            U8_PREV(bytes, start, previous, c);
            if (!isSpace(c, newlinesToo)) break;
            end = previous;
        }
        return std::string(s.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)));
    }
    icu::UnicodeString us = u(s);
    int32_t start = 0, end = us.length();
    while (start < end) {
        UChar32 c = us.char32At(start);
        if (!isSpace(c, newlinesToo)) break;
        start += U16_LENGTH(c);
    }
    while (end > start) {
        int32_t prev = us.moveIndex32(end, -1);
        if (!isSpace(us.char32At(prev), newlinesToo)) break;
        end = prev;
    }
    return utf8(us.tempSubStringBetween(start, end));
}
}  // namespace

std::string lowercased(std::string_view s) { return utf8(u(s).toLower(icu::Locale::getRoot())); }
std::string uppercased(std::string_view s) { return utf8(u(s).toUpper(icu::Locale::getRoot())); }
std::string caseFolded(std::string_view s) { return utf8(u(s).foldCase()); }

bool equalsIgnoringCase(std::string_view a, std::string_view b) { return u(a).caseCompare(u(b), 0) == 0; }

bool containsIgnoringCase(std::string_view haystack, std::string_view needle) {
    return u(haystack).foldCase().indexOf(u(needle).foldCase()) >= 0;
}

bool hasPrefixIgnoringCase(std::string_view s, std::string_view prefix) {
    return u(s).foldCase().startsWith(u(prefix).foldCase());
}

std::string trimmingWhitespace(std::string_view s) { return trim(s, false); }
std::string trimmingWhitespaceAndNewlines(std::string_view s) { return trim(s, true); }

std::string_view trimSpacesAndTabs(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

namespace {
// Calls each(begin, end) with the byte range of every grapheme of valid UTF-8 text, in order,
// until it returns false. Walks the text in place: a long text is never copied or split up.
template <class Each>
void forEachGrapheme(std::string_view s, Each each) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    std::unique_ptr<UText, UText* (*)(UText*)> text(
        U_SUCCESS(status) ? utext_openUTF8(nullptr, s.data(), static_cast<int64_t>(s.size()), &status) : nullptr,
        &utext_close);
    if (U_SUCCESS(status) && text) it->setText(text.get(), status);
    if (U_FAILURE(status) || !text) {  // one code point each
        const auto* bytes = reinterpret_cast<const uint8_t*>(s.data());
        const auto length = static_cast<int32_t>(s.size());
        for (int32_t i = 0; i < length;) {
            const int32_t begin = i;
            UChar32 c;
            U8_NEXT(bytes, i, length, c);
            if (!each(static_cast<size_t>(begin), static_cast<size_t>(i))) return;
        }
        return;
    }
    int32_t begin = it->first();
    for (int32_t end = it->next(); end != icu::BreakIterator::DONE; begin = end, end = it->next())
        if (!each(static_cast<size_t>(begin), static_cast<size_t>(end))) return;
}

// Calls use(text) with the text itself, or with its invalid bytes read as U+FFFD, as everywhere else.
template <class Use>
auto withValidUTF8(std::string_view s, Use use) {
    if (isValidUTF8(s)) return use(s);
    const std::string valid = utf8(u(s));
    return use(std::string_view(valid));
}
}  // namespace

std::vector<std::string> graphemes(std::string_view s) {
    return withValidUTF8(s, [](std::string_view text) {
        std::vector<std::string> out;
        forEachGrapheme(text, [&](size_t begin, size_t end) {
            out.emplace_back(text.substr(begin, end - begin));
            return true;
        });
        return out;
    });
}

size_t graphemeCount(std::string_view s) {
    return withValidUTF8(s, [](std::string_view text) {
        size_t count = 0;
        forEachGrapheme(text, [&](size_t, size_t) {
            ++count;
            return true;
        });
        return count;
    });
}

std::string graphemePrefix(std::string_view s, size_t count) {
    return withValidUTF8(s, [count](std::string_view text) {
        size_t taken = 0, bytes = 0;
        if (count > 0) {
            forEachGrapheme(text, [&](size_t, size_t end) {
                bytes = end;
                return ++taken < count;
            });
        }
        return std::string(text.substr(0, bytes));
    });
}

std::u16string toUTF16(std::string_view s) {
    icu::UnicodeString us = u(s);
    return std::u16string(reinterpret_cast<const char16_t*>(us.getBuffer()), static_cast<size_t>(us.length()));
}

std::string fromUTF16(std::u16string_view s) {
    return utf8(icu::UnicodeString(reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size())));
}

// Checked by hand rather than through ICU: every loopback request's head and query pass here.
bool isValidUTF8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c == 0xE0) {
            length = 3, low = 0xA0;
        } else if (c == 0xED) {
            length = 3, high = 0x9F;  // no surrogates
        } else if (c >= 0xE1 && c <= 0xEF) {
            length = 3;
        } else if (c == 0xF0) {
            length = 4, low = 0x90;
        } else if (c >= 0xF1 && c <= 0xF3) {
            length = 4;
        } else if (c == 0xF4) {
            length = 4, high = 0x8F;  // nothing past U+10FFFF
        } else {
            return false;
        }
        if (n - i < length) return false;
        if (p[i + 1] < low || p[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k) {
            if (p[i + k] < 0x80 || p[i + k] > 0xBF) return false;
        }
        i += length;
    }
    return true;
}

}  // namespace corvane::text
