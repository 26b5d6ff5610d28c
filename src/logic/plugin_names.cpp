#include "logic/plugin_names.h"

#include <algorithm>

#include "support/unicode.h"

namespace corvane::plugin_names {

namespace {

constexpr std::string_view kProductName = "corvane";

std::string withoutSpaces(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
    return s;
}

// A cut name ends in "…" (or three full stops) where Logic Pro ran out of room.
std::string withoutEllipsis(std::string s) {
    for (std::string_view mark : {std::string_view("\u2026"), std::string_view("...")})
        if (s.size() >= mark.size() && s.compare(s.size() - mark.size(), mark.size(), mark) == 0) {
            s.erase(s.size() - mark.size());
            break;
        }
    return text::trimmingWhitespace(s);
}

}  // namespace

std::string normalised(std::string_view name) { return text::lowercased(text::trimmingWhitespace(name)); }

bool isAnalysisPlugin(std::string_view name) {
    const std::string n = normalised(name);
    const std::string_view cutTwo = kProductName.substr(0, kProductName.size() - 2);
    const std::string_view cutFour = kProductName.substr(0, kProductName.size() - 4);
    if (n.find("quillmere") != std::string::npos || n.find(kProductName) != std::string::npos) return true;
    if (n.starts_with(cutTwo)) return true;
    return n.starts_with(cutFour) && text::graphemeCount(n) < kProductName.size() - 1;
}

bool slotShows(std::string_view shown, std::string_view name) {
    if (isAnalysisPlugin(name)) return isAnalysisPlugin(shown);
    const std::string slot = withoutSpaces(withoutEllipsis(normalised(shown)));
    const std::string wanted = withoutSpaces(normalised(name));
    if (slot.empty() || wanted.empty()) return false;
    return wanted.starts_with(slot) || slot.find(wanted) != std::string::npos;
}

}  // namespace corvane::plugin_names
