#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::text {

// Unicode-aware helpers over UTF-8 text (ICU underneath).
std::string lowercased(std::string_view s);
std::string uppercased(std::string_view s);
std::string caseFolded(std::string_view s);
bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool containsIgnoringCase(std::string_view haystack, std::string_view needle);
bool hasPrefixIgnoringCase(std::string_view s, std::string_view prefix);

// Trimming by Unicode's White_Space property; the first form keeps line breaks.
std::string trimmingWhitespace(std::string_view s);
std::string trimmingWhitespaceAndNewlines(std::string_view s);
// Trimming ASCII spaces and tabs only: the blanks of HTTP headers, tool arguments and
// Accessibility values.
std::string_view trimSpacesAndTabs(std::string_view s);

// User-perceived characters (extended grapheme clusters).
std::vector<std::string> graphemes(std::string_view s);
size_t graphemeCount(std::string_view s);
std::string graphemePrefix(std::string_view s, size_t count);

std::u16string toUTF16(std::string_view s);
std::string fromUTF16(std::u16string_view s);
bool isValidUTF8(std::string_view s);

}  // namespace corvane::text
