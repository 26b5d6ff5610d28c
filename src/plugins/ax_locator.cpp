#include "plugins/ax_locator.h"

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/logic_inspector.h"
#include "support/unicode.h"

namespace corvane {

namespace ax = platform::ax;
using ax_read::blanksForLineSeparators;
using ax_read::textOf;

namespace {

bool nonEmpty(const std::optional<std::string>& s) { return s && !s->empty(); }

}  // namespace

const std::vector<std::string>& AXLocator::controlReads() {
    static const std::vector<std::string> reads{ax::kIdentifier,        ax::kHelp,     ax::kValue,
                                                ax::kValueDescription, ax::kPosition, ax::kSize};
    return reads;
}

std::optional<platform::AXElement> AXLocator::find(const AXTarget& target, const AXElement& in, int maxDepth) {
    // The window's header holds Logic Pro's own buttons, never a control a map targets: it is left
    // unread, and the rest is searched from the window's children.
    const auto header = LogicInspector::pluginWindowHeader(in);
    auto accepts = [&](const AXElement& e) { return matches(e, target); };
    if (!header) return ax_tree::findFirst(in, maxDepth, accepts, 0, controlReads());
    if (maxDepth <= 0) return std::nullopt;
    if (accepts(in)) return in;
    for (const auto& child : in.children()) {
        if (child == *header) continue;
        if (auto found = ax_tree::findFirst(child, maxDepth, accepts, 1, controlReads())) return found;
    }
    return std::nullopt;
}

std::optional<platform::AXElement> AXLocator::findMenuItem(const std::string& title, const AXElement& in,
                                                           int maxDepth) {
    return ax_tree::findFirst(in, maxDepth, [&](const AXElement& e) {
        return textOf(e, ax::kRole) == "AXMenuItem" && text::equalsIgnoringCase(textOf(e, ax::kTitle), title);
    });
}

std::vector<platform::AXElement> AXLocator::collect(const AXElement& in, const std::optional<std::string>& role,
                                                    int maxDepth, const std::function<bool(const AXElement&)>& where,
                                                    const std::optional<AXElement>& leaveOut) {
    std::vector<AXElement> out;
    ax_tree::walk(
        in, maxDepth,
        [&](const ax_tree::Step& step) {
            if (leaveOut && step.element == *leaveOut) return ax_tree::Next::siblings;
            if (role && textOf(step.element, ax::kRole) != *role) return ax_tree::Next::children;
            if (where(step.element)) out.push_back(step.element);
            return ax_tree::Next::children;
        },
        0, controlReads());
    return out;
}

bool AXLocator::matches(const AXElement& element, const AXTarget& target) {
    if (target.role && textOf(element, ax::kRole) != *target.role) return false;
    if (nonEmpty(target.identifier)) return textOf(element, ax::kIdentifier) == *target.identifier;
    if (nonEmpty(target.title)) {
        const std::string wanted = blanksForLineSeparators(*target.title);
        if (blanksForLineSeparators(textOf(element, ax::kTitle)) == wanted) return true;
        return blanksForLineSeparators(textOf(element, ax::kDescription)) == wanted;
    }
    if (nonEmpty(target.helpPrefix))
        return text::lowercased(textOf(element, ax::kHelp)).rfind(text::lowercased(*target.helpPrefix), 0) == 0;
    return false;
}

}  // namespace corvane
