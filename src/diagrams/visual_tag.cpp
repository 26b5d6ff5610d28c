#include "diagrams/visual_tag.h"

#include "support/regex.h"
#include "diagrams/plain_text.h"

namespace corvane {

namespace {
// Compiled once; both are constants, so a failure to compile is a programming error that the
// first use reports by throwing out of the static initialiser.
const Regex& tagRegex() {
    static const Regex regex(VisualTagParser::tagPattern);
    return regex;
}

const Regex& paramRegex() {
    static const Regex regex(VisualTagParser::paramPattern);
    return regex;
}
}  // namespace

std::optional<VisualTag> VisualTagParser::parse(std::string_view text) {
    std::string_view trimmed = plain_text::trimSpacesAndTabs(text);
    // Most lines hold no tag; the literal opening keeps them away from the regex engine.
    if (trimmed.find("[visual:") == std::string_view::npos) return std::nullopt;
    auto match = tagRegex().firstMatch(trimmed);
    if (!match) return std::nullopt;

    VisualTag tag;
    tag.type = match->groups[1].value_or("");
    for (const auto& param : paramRegex().allMatches(match->groups[2].value_or("")))
        tag.params[param.groups[1].value_or("")] = param.groups[2].value_or("");
    return tag;
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
        std::string_view piece = plain_text::trimSpacesAndTabs(value.substr(start, comma - start));
        if (!piece.empty()) names.emplace_back(piece);
        start = comma + 1;
    }
    return names;
}

}  // namespace corvane
