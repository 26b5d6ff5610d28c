#include "support/unicode.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

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

std::vector<std::string> graphemes(std::string_view s) {
    std::vector<std::string> out;
    icu::UnicodeString us = u(s);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> it(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) {
        for (int32_t i = 0; i < us.length();) {
            UChar32 c = us.char32At(i);
            out.push_back(utf8(icu::UnicodeString(c)));
            i += U16_LENGTH(c);
        }
        return out;
    }
    it->setText(us);
    int32_t start = it->first();
    for (int32_t end = it->next(); end != icu::BreakIterator::DONE; start = end, end = it->next())
        out.push_back(utf8(us.tempSubStringBetween(start, end)));
    return out;
}

size_t graphemeCount(std::string_view s) { return graphemes(s).size(); }

std::string graphemePrefix(std::string_view s, size_t count) {
    std::string out;
    auto g = graphemes(s);
    for (size_t i = 0; i < g.size() && i < count; ++i) out += g[i];
    return out;
}

std::u16string toUTF16(std::string_view s) {
    icu::UnicodeString us = u(s);
    return std::u16string(reinterpret_cast<const char16_t*>(us.getBuffer()), static_cast<size_t>(us.length()));
}

std::string fromUTF16(std::u16string_view s) {
    return utf8(icu::UnicodeString(reinterpret_cast<const UChar*>(s.data()), static_cast<int32_t>(s.size())));
}

bool isValidUTF8(std::string_view s) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t len = 0;
    u_strFromUTF8(nullptr, 0, &len, s.data(), static_cast<int32_t>(s.size()), &status);
    return status == U_BUFFER_OVERFLOW_ERROR || status == U_STRING_NOT_TERMINATED_WARNING || U_SUCCESS(status);
}

}  // namespace corvane::text
