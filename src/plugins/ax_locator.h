#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessibility.h"
#include "platform/geometry.h"
#include "plugins/plugin_map.h"

namespace corvane {

// Searches of a plug-in window's Accessibility tree for a map's targets, on the one tree walk
// (ax_tree::walk: the root is at depth 0 and a limit of 15 visits depths 0 to 14). Stateless: every
// call reads the live tree.
class AXLocator final {
public:
    using AXElement = platform::AXElement;

    AXLocator() = delete;

    // The first element that matches the target, or none; a plug-in window's header (see
    // LogicInspector::pluginWindowHeader) is not looked through.
    static std::optional<AXElement> find(const AXTarget& target, const AXElement& in, int maxDepth);

    // Every element whose AXRole equals the role (every element without a role) and that the
    // predicate accepts. Elements of another role are not offered to the predicate, but their
    // children are still walked; those of `leaveOut` are not.
    static std::vector<AXElement> collect(const AXElement& in, const std::optional<std::string>& role, int maxDepth,
                                          const std::function<bool(const AXElement&)>& where,
                                          const std::optional<AXElement>& leaveOut = std::nullopt);

    // The first AXMenuItem whose title equals the title, ignoring case.
    static std::optional<AXElement> findMenuItem(const std::string& title, const AXElement& in, int maxDepth);

    // The role must match when the target has one; then the first non-empty of identifier, title
    // (against AXTitle, else AXDescription, U+2028 read as a blank) and help prefix decides alone.
    // A target naming none of those three matches nothing.
    static bool matches(const AXElement& element, const AXTarget& target);

    // What matching and reading a plug-in window's controls ask of each element, beyond what every
    // walk reads: the searches here batch them with each element's siblings.
    static const std::vector<std::string>& controlReads();
};

}  // namespace corvane
