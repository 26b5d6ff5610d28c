#include "diagrams/visual_tag.h"

#include <unicode/uchar.h>

#include "diagrams/plain_text.h"

namespace corvane {

namespace {

constexpr std::string_view kOpening = "[visual:";

// The classes of ICU's \w and \s, which the tag's syntax was written in.
bool isWordCharacter(char32_t c) {
    const auto cp = static_cast<UChar32>(c);
    if (c == 0x200C || c == 0x200D) return true;
    if (u_hasBinaryProperty(cp, UCHAR_ALPHABETIC)) return true;
    const int8_t type = u_charType(cp);
    return type == U_NON_SPACING_MARK || type == U_ENCLOSING_MARK || type == U_COMBINING_SPACING_MARK ||
           type == U_DECIMAL_DIGIT_NUMBER || type == U_CONNECTOR_PUNCTUATION;
}

bool isSpace(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)); }

// Past the longest run of code points in the class starting at `at`; `at` itself when none.
template <class Class>
size_t skipRun(std::string_view s, size_t at, Class inClass) {
    while (at < s.size()) {
        size_t next = at;
        if (!inClass(plain_text::nextCodePoint(s, next))) break;
        at = next;
    }
    return at;
}

// A value as the regex engine saw it: each malformed UTF-8 sequence one U+FFFD.
std::string asValidText(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t at = 0; at < s.size();) {
        const size_t start = at;
        const char32_t c = plain_text::nextCodePoint(s, at);
        if (c != U'\uFFFD') {
            out.append(s.substr(start, at - start));
            continue;
        }
        out.append("\xEF\xBF\xBD");  // U+FFFD, written or standing in for a malformed sequence
    }
    return out;
}

// The tag whose opening "[visual:" ends at `at`: \w+ then (\s+\w+="[^"]*")* then "]". The
// syntax never backtracks, so a position after the type or after a parameter leads to the same
// outcome whichever opening reached it; `deadEnds` holds those that earlier openings reached
// without finding their "]", which keeps a line of many openings linear.
std::optional<VisualTag> tagAt(std::string_view s, size_t at, std::vector<bool>& deadEnds) {
    const size_t typeEnd = skipRun(s, at, isWordCharacter);
    if (typeEnd == at) return std::nullopt;
    VisualTag tag;
    tag.type = std::string(s.substr(at, typeEnd - at));
    for (size_t k = typeEnd;;) {
        if (deadEnds[k]) return std::nullopt;
        deadEnds[k] = true;
        if (k < s.size() && s[k] == ']') return tag;
        const size_t name = skipRun(s, k, isSpace);
        if (name == k) return std::nullopt;
        const size_t nameEnd = skipRun(s, name, isWordCharacter);
        if (nameEnd == name || s.substr(nameEnd, 2) != "=\"") return std::nullopt;
        const size_t value = nameEnd + 2;
        const size_t close = s.find('"', value);
        if (close == std::string_view::npos) return std::nullopt;
        tag.params[std::string(s.substr(name, nameEnd - name))] = asValidText(s.substr(value, close - value));
        k = close + 1;
    }
}

}  // namespace

std::optional<VisualTag> VisualTagParser::parse(std::string_view text) {
    const std::string_view trimmed = plain_text::trimSpaceSeparatorsAndTabs(text);
    size_t opening = trimmed.find(kOpening);
    if (opening == std::string_view::npos) return std::nullopt;  // most lines
    std::vector<bool> deadEnds(trimmed.size() + 1, false);
    for (; opening != std::string_view::npos; opening = trimmed.find(kOpening, opening + 1))
        if (auto tag = tagAt(trimmed, opening + kOpening.size(), deadEnds)) return tag;
    return std::nullopt;
}

std::vector<std::string> VisualTag::trackNames() const {
    auto found = params.find("tracks");
    if (found == params.end()) found = params.find("track");
    std::string_view value = found == params.end() ? std::string_view{} : std::string_view{found->second};

    std::vector<std::string> names;
    size_t start = 0;
    while (start <= value.size()) {
        size_t comma = value.find(',', start);
        if (comma == std::string_view::npos) comma = value.size();
        std::string_view piece = plain_text::trimSpaceSeparatorsAndTabs(value.substr(start, comma - start));
        if (!piece.empty()) names.emplace_back(piece);
        start = comma + 1;
    }
    return names;
}

}  // namespace corvane
