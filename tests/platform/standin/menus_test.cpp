// Logic's menus on the stand-in: shape, placement, keyboard and clicks.

#include <functional>

#include "platform/standin/standin_fixture.h"

namespace corvane::standin::testing {
namespace {

using platform::AXElement;
namespace ax = platform::ax;

std::string titleOf(const AXElement& e) { return e.string(ax::kTitle).value_or(""); }

std::vector<std::string> itemTitles(const AXElement& menu) {
    std::vector<std::string> titles;
    for (const auto& item : menu.children()) titles.push_back(titleOf(item));
    return titles;
}

std::optional<AXElement> child(const AXElement& parent, const std::string& role, const std::string& title = "") {
    for (const auto& c : parent.children())
        if (c.string(ax::kRole) == std::optional<std::string>(role) && (title.empty() || titleOf(c) == title)) return c;
    return std::nullopt;
}

// The submenu of the item with that title in a menu.
std::optional<AXElement> submenu(const AXElement& menu, const std::string& title) {
    auto item = child(menu, "AXMenuItem", title);
    return item ? child(*item, "AXMenu") : std::nullopt;
}

class MenusTest : public StandinTest {
protected:
    AXElement bar(int gap) {
        std::vector<AXElement> bars;
        std::function<void(const AXElement&)> walk = [&](const AXElement& e) {
            if (e.string(ax::kDescription) == std::optional<std::string>("insert bar")) bars.push_back(e);
            for (const auto& c : e.children()) walk(c);
        };
        walk(*strip(0));
        return bars.at(static_cast<std::size_t>(gap));
    }
    AXElement slotButton(int slot, const std::string& description) {
        int i = 0;
        std::optional<AXElement> found;
        std::function<void(const AXElement&)> walk = [&](const AXElement& e) {
            if (found) return;
            auto bypass = child(e, "AXCheckBox");
            if (e.string(ax::kRole) == std::optional<std::string>("AXGroup") && bypass &&
                bypass->string(ax::kDescription) == std::optional<std::string>("bypass") && i++ == slot) {
                for (const auto& c : e.children())
                    if (c.string(ax::kDescription) == std::optional<std::string>(description)) found = c;
                return;
            }
            for (const auto& c : e.children()) walk(c);
        };
        walk(*strip(0));
        return *found;
    }
    std::vector<std::string> kickChain() {
        std::vector<std::string> names;
        const auto project = world().project();
        for (const auto& s : project.track("Kick")->strip.inserts) names.push_back(s.plugin + "/" + s.format);
        return names;
    }
    void type(const std::string& text) {
        std::u16string units(text.begin(), text.end());
        platform::input().postKeyToProcess(logicPid(), {0, true, 0, units});
        platform::input().postKeyToProcess(logicPid(), {0, false, 0, units});
    }
};

TEST_F(MenusTest, InsertMenuHoldsCategoriesPluginsAndTheirFormatsAndInsertsInItsGap) {
    bar(1).performAction(ax::kPress);
    EXPECT_EQ(world().ui().openMenu, "insert");
    auto menu = child(bar(1), "AXMenu");  // hangs below its invoker
    ASSERT_TRUE(menu);
    EXPECT_EQ(itemTitles(*menu), (std::vector<std::string>{"EQ", "Dynamics", "Audio Units"}));
    auto dynamics = submenu(*menu, "Dynamics");
    ASSERT_TRUE(dynamics);
    EXPECT_EQ(itemTitles(*dynamics), (std::vector<std::string>{"Compressor", "Limiter"}));
    EXPECT_EQ(itemTitles(*submenu(*dynamics, "Compressor")),
              (std::vector<std::string>{"Mono", "Mono->Stereo", "Stereo"}));
    // The manufacturer item has no formats; the plug-in item of the same name below it does.
    auto maker = submenu(*submenu(*menu, "Audio Units"), "Corvane");
    ASSERT_TRUE(maker);
    EXPECT_EQ(itemTitles(*submenu(*maker, "Corvane")), (std::vector<std::string>{"Stereo"}));
    // The outermost open menu has the focus.
    EXPECT_EQ(app().element(ax::kFocusedUIElement), menu);

    // A deep leaf can be pressed directly; it inserts into the bar's gap and opens the new window.
    child(*submenu(*dynamics, "Limiter"), "AXMenuItem", "Stereo")->performAction(ax::kPress);
    EXPECT_EQ(kickChain(), (std::vector<std::string>{"Channel EQ/Stereo", "Limiter/Stereo", "Compressor/Stereo"}));
    EXPECT_EQ(world().ui().openMenu, "");
    EXPECT_EQ(world().ui().windows.front(), "Kick: Limiter");
}

TEST_F(MenusTest, AppLevelMenusHangUnderTheApplicationAndAreReachedThroughTheFocus) {
    world().setKnob("menuPlacement", "appLevel");
    bar(0).performAction(ax::kPress);
    EXPECT_FALSE(child(bar(0), "AXMenu"));
    auto menu = child(app(), "AXMenu");
    ASSERT_TRUE(menu);
    EXPECT_EQ(app().element(ax::kFocusedUIElement), menu);
    EXPECT_EQ(itemTitles(*menu).front(), "EQ");
}

TEST_F(MenusTest, KeyboardMovesTheHighlightOpensSubmenusAndPopsLevels) {
    // The slot menu: Down, Down, Return takes the plug-in out.
    slotButton(1, "list").performAction(ax::kPress);
    EXPECT_EQ(itemTitles(*child(slotButton(1, "list"), "AXMenu")), (std::vector<std::string>{"Open", "No Plug-in"}));
    pressKey(125);
    pressKey(125);
    pressKey(125);  // no wrapping past the last item
    pressKey(36);
    EXPECT_EQ(kickChain(), (std::vector<std::string>{"Channel EQ/Stereo"}));
    EXPECT_EQ(world().ui().openMenu, "");

    // Return with nothing highlighted only closes the menu.
    slotButton(0, "list").performAction(ax::kPress);
    pressKey(36);
    EXPECT_EQ(world().ui().openMenu, "");
    EXPECT_EQ(kickChain().size(), 1u);

    // Right opens the highlighted submenu, Escape pops one level at a time.
    bar(0).performAction(ax::kPress);
    pressKey(125);
    pressKey(125);
    pressKey(124);
    EXPECT_EQ(world().ui().openSubmenus, (std::vector<std::string>{"Dynamics"}));
    pressKey(53);
    EXPECT_EQ(world().ui().openSubmenus, std::vector<std::string>{});
    EXPECT_EQ(world().ui().openMenu, "insert");
    pressKey(53);
    EXPECT_EQ(world().ui().openMenu, "");
}

TEST_F(MenusTest, TypedTextSelectsByPrefixAndRestartsAfterASecond) {
    bar(0).performAction(ax::kPress);
    auto highlighted = [&] {
        for (const auto& item : child(bar(0), "AXMenu")->children())
            if (item.boolean(ax::kSelected) == std::optional<bool>(true)) return titleOf(item);
        return std::string();
    };
    type("d");
    type("Y");
    EXPECT_EQ(highlighted(), "Dynamics");
    world().advance(1.5);
    type("a");
    EXPECT_EQ(highlighted(), "Audio Units");
    type("q");  // "aq" starts nothing: the highlight stays
    EXPECT_EQ(highlighted(), "Audio Units");
}

TEST_F(MenusTest, ClickOnAnItemPressesItAndAClickOutsideOnlyCloses) {
    slotButton(1, "list").performAction(ax::kPress);
    auto remove = child(*child(slotButton(1, "list"), "AXMenu"), "AXMenuItem", "No Plug-in");
    auto frame = *remove->point(ax::kPosition);
    clickInProcess({frame.x + 20, frame.y + 9});
    EXPECT_EQ(kickChain(), (std::vector<std::string>{"Channel EQ/Stereo"}));

    slotButton(0, "list").performAction(ax::kPress);
    clickInProcess(World::center(*world().controlFrame("Play")));
    EXPECT_EQ(world().ui().openMenu, "");
    EXPECT_FALSE(world().project().transport.playing);
    EXPECT_EQ(kickChain().size(), 1u);
}

}  // namespace
}  // namespace corvane::standin::testing
