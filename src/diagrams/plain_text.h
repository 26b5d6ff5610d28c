#pragma once

#include <string>
#include <string_view>

// Character classes of the message text that both the visual tags and the transcript's markdown
// need, decided by Unicode properties (ICU) and done in one pass over the text.
namespace corvane::plain_text {

// Without the Unicode space separators (category Zs) and tabs at either end; line breaks stay.
std::string_view trimSpaceSeparatorsAndTabs(std::string_view s);
// Without LF, VT, FF, CR, NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR at either end.
std::string_view trimLineBreaks(std::string_view s);

// The code point starting at byte `at` (U+FFFD for a malformed sequence) and advances `at`.
char32_t nextCodePoint(std::string_view s, size_t& at);
// Unicode Numeric_Type other than None: ASCII digits, other scripts' digits, fractions, numerals.
bool isNumeric(char32_t c);
// Unicode White_Space.
bool isWhitespace(char32_t c);

// Every occurrence of `what` taken out of `s`.
void removeAll(std::string& s, std::string_view what);

}  // namespace corvane::plain_text
