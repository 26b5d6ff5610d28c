#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// A diagram asked for in a message by a line such as [visual:freq_compare tracks="Kick, Bass"].
struct VisualTag {
    std::string type;                           // as written, case kept
    std::map<std::string, std::string> params;  // as written, no trimming or case folding

    // The names under "tracks" (or, only when that key is absent, "track"): split at commas,
    // each trimmed of spaces and tabs, empty pieces left out, order and duplicates kept.
    std::vector<std::string> trackNames() const;
    friend bool operator==(const VisualTag&, const VisualTag&) = default;
};

struct VisualTagParser {
    static constexpr std::string_view tagPattern = R"re(\[visual:(\w+)((?:\s+\w+="[^"]*")*)\])re";
    static constexpr std::string_view paramPattern = R"re((\w+)="([^"]*)")re";

    // The first tag anywhere in the text, or nothing when no text matches the syntax exactly.
    // Pure: callable from any thread.
    static std::optional<VisualTag> parse(std::string_view text);
};

}  // namespace corvane
