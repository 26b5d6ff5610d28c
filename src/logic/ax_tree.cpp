#include "logic/ax_tree.h"

namespace corvane::ax_tree {

namespace {
// What nearly every visit asks of an element, and its children: one batched read of each element
// brings them, so a walk costs about one round trip per element it visits.
const std::vector<std::string> kVisitReads{platform::ax::kRole, platform::ax::kDescription, platform::ax::kTitle,
                                           platform::ax::kChildren};
}  // namespace

const std::optional<std::vector<platform::AXElement>>& Step::children() const {
    if (!children_) children_ = element.elements(platform::ax::kChildren);
    return *children_;
}

const std::optional<std::vector<platform::AXElement>>& Step::childrenRead() const {
    if (const auto& list = children())
        for (const auto& child : *list) child.prefetch(reads_);
    return *children_;
}

namespace {

bool walkFrom(const platform::AXElement& element, const platform::AXElement* parent, int depth, std::size_t index,
              int maxDepth, const Visit& visit, const std::vector<std::string>& reads) {
    if (depth >= maxDepth) return true;
    const Step step(element, parent, depth, index, reads);
    switch (visit(step)) {
        case Next::stop: return false;
        case Next::siblings: return true;
        case Next::children: break;
    }
    const auto& children = step.children();
    if (!children) return true;
    for (std::size_t i = 0; i < children->size(); ++i) {
        if (depth + 1 < maxDepth) (*children)[i].prefetch(reads);
        if (!walkFrom((*children)[i], &element, depth + 1, i, maxDepth, visit, reads)) return false;
    }
    return true;
}

}  // namespace

bool walk(const platform::AXElement& root, int maxDepth, const Visit& visit, int fromDepth,
          const std::vector<std::string>& alsoRead) {
    std::vector<std::string> reads = kVisitReads;
    reads.insert(reads.end(), alsoRead.begin(), alsoRead.end());
    if (fromDepth < maxDepth) root.prefetch(reads);
    return walkFrom(root, nullptr, fromDepth, 0, maxDepth, visit, reads);
}

std::optional<platform::AXElement> findFirst(const platform::AXElement& root, int maxDepth,
                                             const std::function<bool(const platform::AXElement&)>& accepts,
                                             int fromDepth, const std::vector<std::string>& alsoRead) {
    std::optional<platform::AXElement> found;
    walk(
        root, maxDepth,
        [&](const Step& step) {
            if (!accepts(step.element)) return Next::children;
            found = step.element;
            return Next::stop;
        },
        fromDepth, alsoRead);
    return found;
}

}  // namespace corvane::ax_tree
