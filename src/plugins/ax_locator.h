#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessibility.h"
#include "platform/geometry.h"
#include "plugins/plugin_map.h"

namespace corvane {

// Depth-limited, depth-first (pre-order) searches of a plug-in window's Accessibility tree. The root
// is at depth 0 and a limit of 15 visits depths 0 to 14. Stateless: every call reads the live tree.
class AXLocator final {
public:
    using AXElement = platform::AXElement;
    // Answers whether the walk goes on; false ends the whole walk at once.
    using Visit = std::function<bool(const AXElement&)>;

    AXLocator() = delete;

    // The first element that matches the target, or none.
    static std::optional<AXElement> find(const AXTarget& target, const AXElement& in, int maxDepth);

    // Every element whose AXRole equals the role (every element without a role) and that the
    // predicate accepts. Elements of another role are not offered to the predicate, but their
    // children are still walked.
    static std::vector<AXElement> collect(const AXElement& in, const std::optional<std::string>& role, int maxDepth,
                                          const std::function<bool(const AXElement&)>& where);

    static void walk(const AXElement& root, int maxDepth, const Visit& visit);

    // The role must match when the target has one; then the first non-empty of identifier, title
    // (against AXTitle, else AXDescription, U+2028 read as a blank) and help prefix decides alone.
    // A target naming none of those three matches nothing.
    static bool matches(const AXElement& element, const AXTarget& target);
};

}  // namespace corvane
