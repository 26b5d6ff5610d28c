#include "logic/ax_tree.h"

namespace corvane::ax_tree {

const std::optional<std::vector<platform::AXElement>>& Step::children() const {
    if (!children_) children_ = element.elements(platform::ax::kChildren);
    return *children_;
}

namespace {

bool walkFrom(const platform::AXElement& element, int depth, std::size_t index, int maxDepth, const Visit& visit) {
    if (depth >= maxDepth) return true;
    const Step step(element, depth, index);
    switch (visit(step)) {
        case Next::stop: return false;
        case Next::siblings: return true;
        case Next::children: break;
    }
    const auto& children = step.children();
    if (!children) return true;
    for (std::size_t i = 0; i < children->size(); ++i)
        if (!walkFrom((*children)[i], depth + 1, i, maxDepth, visit)) return false;
    return true;
}

}  // namespace

bool walk(const platform::AXElement& root, int maxDepth, const Visit& visit, int fromDepth) {
    return walkFrom(root, fromDepth, 0, maxDepth, visit);
}

std::optional<platform::AXElement> findFirst(const platform::AXElement& root, int maxDepth,
                                             const std::function<bool(const platform::AXElement&)>& accepts,
                                             int fromDepth) {
    std::optional<platform::AXElement> found;
    walk(
        root, maxDepth,
        [&](const Step& step) {
            if (!accepts(step.element)) return Next::children;
            found = step.element;
            return Next::stop;
        },
        fromDepth);
    return found;
}

}  // namespace corvane::ax_tree
