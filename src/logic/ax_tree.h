#pragma once

// The depth-first walk of an Accessibility tree that the searches, collections and dumps are written
// on: each element before its children, children in their listed order, bounded in depth, and able
// to skip a subtree or end the whole walk. Three searches for the nearest element of a kind go level
// by level instead, each list of children read in one round trip, and are written out where they
// are: a window's own areas (logic_inspector_search.cpp), the ruler's marks
// (logic_inspector_transport.cpp) and an item of a menu just opened (logic_inspector_chain.cpp).

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessibility.h"

namespace corvane::ax_tree {

// What the walk does after a visit.
enum class Next {
    children,  // go on into the element's children
    siblings,  // leave its subtree out and go on with the next element
    stop,      // end the whole walk
};

// One visited element.
class Step {
public:
    Step(const platform::AXElement& of, const platform::AXElement* within, int atDepth, std::size_t at,
         const std::vector<std::string>& reads)
        : element(of), parent(within), depth(atDepth), index(at), reads_(reads) {}

    const platform::AXElement& element;
    const platform::AXElement* const parent;  // null for the walk's first element
    const int depth;                          // the walk's first element is at the depth the walk started from
    const std::size_t index;                  // place among its parent's children; 0 for the first element

    // The element's AXChildren, read at most once, whether the visit asks first or the walk does;
    // absent when unreadable. The walk reads each child only when it comes to it, so that a walk
    // that ends early leaves the rest unread.
    const std::optional<std::vector<platform::AXElement>>& children() const;
    // The same, with what the walk reads of each child read now for all of them: for a visit that
    // looks at every child itself.
    const std::optional<std::vector<platform::AXElement>>& childrenRead() const;

private:
    const std::vector<std::string>& reads_;
    mutable std::optional<std::optional<std::vector<platform::AXElement>>> children_;
};

using Visit = std::function<Next(const Step&)>;

// Visits the root at depth `fromDepth`, and the children of every element whose visit answers
// `children` one depth further down. Elements at depth maxDepth or deeper are not visited: from
// depth 0, a limit of 15 visits depths 0 to 14. The children of an element the walk goes into are
// read even when they lie beyond the limit. False when a visit ended the walk.
//
// Each element's role, description, title and children are read in one round trip (within a read
// scope) as the walk comes to it; `alsoRead` names further attributes the visits read of most elements.
bool walk(const platform::AXElement& root, int maxDepth, const Visit& visit, int fromDepth = 0,
          const std::vector<std::string>& alsoRead = {});

// The first element in walk order that the test accepts.
std::optional<platform::AXElement> findFirst(const platform::AXElement& root, int maxDepth,
                                             const std::function<bool(const platform::AXElement&)>& accepts,
                                             int fromDepth = 0, const std::vector<std::string>& alsoRead = {});

}  // namespace corvane::ax_tree
