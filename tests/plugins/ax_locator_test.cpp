// The element locator: matching rules and depth limits, on hand-built trees.

#include <gtest/gtest.h>

#include "plugins/ax_locator.h"
#include "test_support/fake_ax.h"

namespace corvane {
namespace {

using testing::FakeElement;

TEST(AXLocator, TargetsMatchByTheirFirstNamedKeyAlone) {
    auto knob = FakeElement::make("AXSlider", "Tempo\u2028Sync")
                    ->set("AXTitle", std::string("Sync"))
                    ->set("AXIdentifier", std::string("k1"))
                    ->set("AXHelp", std::string("CUTOFF KNOB: sets the frequency"));
    struct Case {
        const char* what;
        AXTarget target;
        bool matches;
    };
    for (const Case& c : {
             Case{"role only", {"AXSlider", {}, {}, {}}, false},
             Case{"nothing", {{}, {}, {}, {}}, false},
             Case{"identifier", {"AXSlider", "k1", {}, {}}, true},
             Case{"identifier decides over a matching title", {{}, "k2", "Sync", {}}, false},
             Case{"wrong role", {"AXButton", "k1", {}, {}}, false},
             Case{"empty role is a role", {"", "k1", {}, {}}, false},
             Case{"title", {{}, {}, "Sync", {}}, true},
             Case{"description with a line separator", {{}, {}, "Tempo Sync", {}}, true},
             Case{"title is case-sensitive", {{}, {}, "sync", {}}, false},
             Case{"empty identifier falls through", {{}, "", "Sync", {}}, true},
             Case{"help prefix ignores case", {{}, {}, {}, "Cutoff knob"}, true},
             Case{"help prefix is a prefix", {{}, {}, {}, "knob"}, false},
         })
        EXPECT_EQ(AXLocator::matches(knob->handle(), c.target), c.matches) << c.what;
}

TEST(AXLocator, SearchesVisitDepthsBelowTheLimitOnly) {
    // A chain of groups; the slider at the end sits at the given depth below the root.
    auto chain = [](int depth) {
        auto root = FakeElement::make("AXWindow");
        auto at = root;
        for (int d = 1; d < depth; ++d) {
            auto group = FakeElement::make("AXGroup");
            at->add(group);
            at = group;
        }
        at->add(FakeElement::make("AXSlider")->set("AXIdentifier", std::string("deep")));
        return root;
    };
    const AXTarget deep{{}, "deep", {}, {}};
    EXPECT_TRUE(AXLocator::find(deep, chain(14)->handle(), 15));
    EXPECT_FALSE(AXLocator::find(deep, chain(15)->handle(), 15));
    // The root itself can be the match.
    auto root = FakeElement::make("AXWindow")->set("AXIdentifier", std::string("w"));
    EXPECT_TRUE(AXLocator::find({{}, "w", {}, {}}, root->handle(), 15));

    // Collecting by role still walks below elements of other roles, and never stops early.
    auto window = FakeElement::make("AXWindow");
    window
        ->add(FakeElement::make("AXGroup")
                  ->add(FakeElement::make("AXSlider", "a"))
                  ->add(FakeElement::make("AXSlider", "b")))
        ->add(FakeElement::make("AXSlider", "c")->add(FakeElement::make("AXSlider", "d")));
    std::vector<std::string> seen;
    for (const auto& e :
         AXLocator::collect(window->handle(), std::string("AXSlider"), 15, [&](const platform::AXElement& e) {
             seen.push_back(e.string("AXDescription").value_or(""));
             return e.string("AXDescription") != std::optional<std::string>("b");
         }))
        seen.push_back("+" + e.string("AXDescription").value_or(""));
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c", "d", "+a", "+c", "+d"}));
}

TEST(AXLocator, MenuItemsAreFoundByTheirTitleInAnyCase) {
    auto item = FakeElement::make("AXMenuItem")->set("AXTitle", std::string("Low Pass"));
    auto lookalike = FakeElement::make("AXButton")->set("AXTitle", std::string("low pass"));
    auto menu = FakeElement::make("AXMenu")->add(lookalike)->add(item);
    auto found = AXLocator::findMenuItem("LOW PASS", menu->handle(), 5);
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, item->handle());
    EXPECT_FALSE(AXLocator::findMenuItem("Low Pass", menu->handle(), 1));
}

}  // namespace
}  // namespace corvane
