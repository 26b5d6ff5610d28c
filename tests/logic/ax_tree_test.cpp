#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "logic/ax_tree.h"
#include "test_support/fake_ax.h"

namespace corvane {
namespace {

using ax_tree::Next;
using ax_tree::Step;
using testing::FakeElement;
using Node = std::shared_ptr<FakeElement>;

Node el(const std::string& description) { return FakeElement::make("AXGroup", description); }

// a ─┬─ b ─── c ─── d
//    └─ e ─── f
struct Tree {
    Node d = el("d"), c = el("c")->add(d), b = el("b")->add(c), f = el("f"), e = el("e")->add(f),
         a = el("a")->add(b)->add(e);
};

// "name@depth#index" for each visit, the visit answering by name.
std::vector<std::string> visits(const Node& root, int maxDepth, const std::map<std::string, Next>& answers,
                                int fromDepth = 0, bool* completed = nullptr) {
    std::vector<std::string> seen;
    const bool done = ax_tree::walk(
        root->handle(), maxDepth,
        [&](const Step& step) {
            const std::string name = step.element.string("AXDescription").value_or("?");
            seen.push_back(name + "@" + std::to_string(step.depth) + "#" + std::to_string(step.index));
            auto it = answers.find(name);
            return it == answers.end() ? Next::children : it->second;
        },
        fromDepth);
    if (completed) *completed = done;
    return seen;
}

TEST(AXTree, PreOrderWithinTheDepthLimitSkippingAndStopping) {
    Tree t;
    bool completed = false;
    EXPECT_EQ(visits(t.a, 15, {}, 0, &completed),
              (std::vector<std::string>{"a@0#0", "b@1#0", "c@2#0", "d@3#0", "e@1#1", "f@2#0"}));
    EXPECT_TRUE(completed);
    EXPECT_EQ(visits(t.a, 3, {}), (std::vector<std::string>{"a@0#0", "b@1#0", "c@2#0", "e@1#1", "f@2#0"}));
    EXPECT_EQ(visits(t.a, 15, {{"b", Next::siblings}}), (std::vector<std::string>{"a@0#0", "b@1#0", "e@1#1", "f@2#0"}));
    EXPECT_EQ(visits(t.a, 15, {{"c", Next::stop}}, 0, &completed),
              (std::vector<std::string>{"a@0#0", "b@1#0", "c@2#0"}));
    EXPECT_FALSE(completed);
    // Started deeper, the same limit leaves fewer levels; at the limit nothing is visited or read.
    EXPECT_EQ(visits(t.a, 3, {}, 1), (std::vector<std::string>{"a@1#0", "b@2#0", "e@2#1"}));
    const int before = t.a->reads;
    EXPECT_TRUE(visits(t.a, 2, {}, 2).empty());
    EXPECT_EQ(t.a->reads, before);
}

TEST(AXTree, ChildrenAreReadOnceAndOnlyWhereTheWalkGoesIn) {
    Tree t;
    // The visits here read no attribute, so every read counted is one of AXChildren.
    auto childReads = [](const Node& n, const std::function<void()>& run) {
        const int before = n->reads;
        run();
        return n->reads - before;
    };
    // The visit asks for the children too: still one read.
    EXPECT_EQ(childReads(t.a,
                         [&] {
                             ax_tree::walk(t.a->handle(), 15, [](const Step& step) {
                                 EXPECT_TRUE(step.children());
                                 return Next::children;
                             });
                         }),
              1);
    // Skipped: never read. At the last level walked into: read, though not visited.
    EXPECT_EQ(childReads(t.a, [&] { ax_tree::walk(t.a->handle(), 15, [](const Step&) { return Next::siblings; }); }),
              0);
    EXPECT_EQ(childReads(t.b, [&] { ax_tree::walk(t.b->handle(), 1, [](const Step&) { return Next::children; }); }), 1);

    auto found = ax_tree::findFirst(t.a->handle(), 15, [](const platform::AXElement& e) {
        return e.string("AXDescription") == std::optional<std::string>("f");
    });
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, t.f->handle());
    EXPECT_FALSE(ax_tree::findFirst(t.a->handle(), 2, [](const platform::AXElement& e) {
        return e.string("AXDescription") == std::optional<std::string>("f");
    }));
}

}  // namespace
}  // namespace corvane
