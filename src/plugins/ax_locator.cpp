#include "plugins/ax_locator.h"

#include "logic/ax_read.h"
#include "support/unicode.h"

namespace corvane {

namespace ax = platform::ax;
using ax_read::blanksForLineSeparators;
using ax_read::textOf;

namespace {

bool walkFrom(const platform::AXElement& element, int depth, int maxDepth, const AXLocator::Visit& visit) {
    if (depth >= maxDepth) return true;
    if (!visit(element)) return false;
    auto children = element.elements(ax::kChildren);
    if (!children) return true;
    for (const auto& child : *children)
        if (!walkFrom(child, depth + 1, maxDepth, visit)) return false;
    return true;
}

bool nonEmpty(const std::optional<std::string>& s) { return s && !s->empty(); }

}  // namespace

void AXLocator::walk(const AXElement& root, int maxDepth, const Visit& visit) { walkFrom(root, 0, maxDepth, visit); }

std::optional<platform::AXElement> AXLocator::find(const AXTarget& target, const AXElement& in, int maxDepth) {
    std::optional<AXElement> found;
    walk(in, maxDepth, [&](const AXElement& e) {
        if (!matches(e, target)) return true;
        found = e;
        return false;
    });
    return found;
}

std::vector<platform::AXElement> AXLocator::collect(const AXElement& in, const std::optional<std::string>& role, int maxDepth,
                                                    const std::function<bool(const AXElement&)>& where) {
    std::vector<AXElement> out;
    walk(in, maxDepth, [&](const AXElement& e) {
        if (role && textOf(e, ax::kRole) != *role) return true;
        if (where(e)) out.push_back(e);
        return true;
    });
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
