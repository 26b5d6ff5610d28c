#include <gtest/gtest.h>

#include "logic/logic_inspector.h"
#include "platform/log.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/fake_ax.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using standin::EventKind;
using testing::FakeElement;

class LogicInspectorPlugins : public standin::testing::StandinTest {
protected:
    platform::AXElement main() { return *inspector.findMainWindow(); }

    std::vector<std::string> slotNames() {
        std::vector<std::string> names;
        for (const auto& s : inspector.findTrackPluginSlots(main())) names.push_back(s.name);
        return names;
    }

    // Opens the plug-in window of the selected track's slot the way a user's click on "open" does.
    void openSlot(int index) {
        auto slots = inspector.findTrackPluginSlots(main());
        ASSERT_GT(static_cast<int>(slots.size()), index);
        auto open = inspector.findChildButton(slots[static_cast<std::size_t>(index)].element, "open");
        ASSERT_TRUE(open);
        open->performAction(platform::ax::kPress);
    }

    std::string slotView(const std::string& track, int index) {
        return world().project().track(track)->strip.inserts[static_cast<std::size_t>(index)].windowView;
    }

    testing::TempHome home;
    LogicInspector inspector;
};

TEST_F(LogicInspectorPlugins, SlotsReadTopToBottomWithTheirBypassStateOnEveryTrack) {
    struct Case {
        const char* track;
        std::vector<std::string> names;
        std::vector<bool> bypassed;
    };
    // Bypass switches that show "On" and "Off" read as those that show 1 and 0.
    for (const bool shownAsText : {false, true}) {
        world().setKnob("toggleValueText", shownAsText);
        for (const Case& c : {Case{"Kick", {"Channel EQ", "Compressor"}, {false, true}},
                              Case{"Lead Vox", {"Channel EQ", "Compressor", "Corvane"}, {false, false, false}},
                              Case{"Guitar", {}, {}}}) {
            ASSERT_TRUE(inspector.selectTrack(c.track)) << c.track;
            auto slots = inspector.findTrackPluginSlots(main());
            std::vector<std::string> names;
            std::vector<bool> bypassed;
            for (const auto& s : slots) {
                names.push_back(s.name);
                bypassed.push_back(s.isBypassed);
            }
            EXPECT_EQ(names, c.names) << c.track;
            EXPECT_EQ(bypassed, c.bypassed) << c.track << (shownAsText ? " shown as text" : "");
        }
    }
    // No Inspector, no strip: nothing to list rather than another strip's slots.
    world().setKnob("inspectorVisible", false);
    EXPECT_TRUE(inspector.findTrackPluginSlots(main()).empty());
}

TEST_F(LogicInspectorPlugins, OnlyGroupsWithOpenAndABypassCheckBoxAreSlots) {
    auto check = [](const char* description, platform::AXValue value) {
        return FakeElement::make("AXCheckBox", description)->set("AXValue", value);
    };
    auto slot = [&](const char* name, platform::AXValue bypass, double y) {
        return FakeElement::make("AXGroup", name)
            ->set("AXPosition", platform::Point{0, y})
            ->add(FakeElement::make("AXButton", "OPEN"))
            ->add(check("bypass", bypass));
    };
    auto strip = FakeElement::make("AXGroup");
    strip->add(slot("  Lower\n", std::int64_t{1}, 40))
        ->add(slot("Upper", std::string("0"), 10))
        ->add(slot("Same Y", true, 10))
        // A named container is no slot, but slots inside it are found.
        ->add(FakeElement::make("AXGroup", "Inspector")
                  ->add(FakeElement::make("AXButton", "open"))
                  ->add(check("bypass", std::int64_t{0}))
                  ->add(slot("Inside", std::int64_t{0}, 70)))
        // A "bypass" that is a button does not make a slot.
        ->add(FakeElement::make("AXGroup", "Button Bypass")
                  ->add(FakeElement::make("AXButton", "open"))
                  ->add(FakeElement::make("AXButton", "bypass")));
    auto window = FakeElement::make("AXWindow")->add(FakeElement::make("AXLayoutArea", "Mixer")->add(strip));
    auto slots = inspector.findTrackPluginSlots(window->handle());
    std::vector<std::pair<std::string, bool>> got;
    for (const auto& s : slots) got.emplace_back(s.name, s.isBypassed);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, bool>>{
                       {"Upper", false}, {"Same Y", true}, {"Lower", true}, {"Inside", false}}));
}

TEST_F(LogicInspectorPlugins, ViewButtonTextsReadAsEditorOrControlsOrUnknown) {
    struct Case {
        std::optional<std::string> value, title;
        std::optional<PluginViewPreference> expected;
    };
    for (const Case& c :
         {Case{"Editor", "Controls", PluginViewPreference::editor},
          Case{"", "Controls", PluginViewPreference::controls},
          Case{" \tControls & Editor", std::nullopt, PluginViewPreference::editor},
          Case{"Settings", "Controls", PluginViewPreference::controls}, Case{"Settings", "Other", std::nullopt}}) {
        auto button = FakeElement::make("AXMenuButton", "view");
        if (c.value) button->set("AXValue", *c.value);
        if (c.title) button->set("AXTitle", *c.title);
        EXPECT_EQ(inspector.readCurrentPluginView(button->handle()), c.expected)
            << c.value.value_or("") << "/" << c.title.value_or("");
    }
}

TEST_F(LogicInspectorPlugins, WindowIsSwitchedBetweenEditorAndControlsAndClosedInItsEditorView) {
    openSlot(1);  // Kick: Compressor
    ASSERT_EQ(world().ui().pluginWindows.size(), 1u);
    EXPECT_EQ(world().ui().pluginWindows[0].title, "Kick: Compressor");

    EXPECT_TRUE(inspector.switchCurrentlyOpenPluginView(PluginViewPreference::controls).success);
    EXPECT_EQ(world().ui().pluginWindows[0].view, "Controls");
    EXPECT_EQ(world().ui().openMenu, "");

    // Already there: nothing is pressed.
    world().clearEventLog();
    platform::LogCapture logs;
    EXPECT_TRUE(inspector.switchCurrentlyOpenPluginView(PluginViewPreference::controls).success);
    EXPECT_TRUE(logs.contains("[switchPluginWindowView] already at controls \u2014 no-op"));
    EXPECT_TRUE(world().events(EventKind::axAction).empty());

    inspector.closeOpenPluginAndRestoreEditorView();
    EXPECT_TRUE(world().ui().pluginWindows.empty());
    EXPECT_EQ(slotView("Kick", 1), "Editor");
    // It reopens in its editor view.
    openSlot(1);
    EXPECT_EQ(world().ui().pluginWindows.at(0).view, "Editor");
}

TEST_F(LogicInspectorPlugins, AViewMenuHungUnderTheApplicationIsFoundThere) {
    world().setKnob("menuPlacement", "appLevel");
    openSlot(1);
    EXPECT_TRUE(inspector.switchCurrentlyOpenPluginView(PluginViewPreference::controls).success);
    EXPECT_EQ(world().ui().pluginWindows.at(0).view, "Controls");
    inspector.closeOpenPluginAndRestoreEditorView();
    EXPECT_TRUE(world().ui().pluginWindows.empty());
    EXPECT_EQ(slotView("Kick", 1), "Editor");
    EXPECT_EQ(world().ui().openMenu, "");
}

TEST_F(LogicInspectorPlugins, CloseTakesOnlyTheFirstPluginWindow) {
    openSlot(0);
    openSlot(1);
    ASSERT_EQ(world().ui().pluginWindows.size(), 2u);
    inspector.closeOpenPluginAndRestoreEditorView();
    auto ui = world().ui();
    ASSERT_EQ(ui.pluginWindows.size(), 1u);
    EXPECT_EQ(ui.pluginWindows[0].title, "Kick: Channel EQ");
}

// An application handle held through a call may be read too often to answer: the plug-in window
// is found through one made anew.
TEST_F(LogicInspectorPlugins, APluginWindowIsFoundThroughAnApplicationHandleGoneStale) {
    openSlot(0);
    const auto in = main();
    auto app = platform::accessibility().applicationElement(world().logicPid());
    world().setKnob("staleAfter", "afterReads 1");
    ASSERT_TRUE(app.elements(platform::ax::kWindows));
    ASSERT_FALSE(app.elements(platform::ax::kWindows));
    std::optional<platform::AXElement> window;
    {
        const platform::AXReadScope reads;  // as a tool call reads
        window = inspector.findPluginWindow(app, in);
    }
    ASSERT_TRUE(window);
    world().setKnob("staleAfter", "onRebuild");
    EXPECT_EQ(window->string(platform::ax::kTitle), "Kick: Channel EQ");
}

TEST_F(LogicInspectorPlugins, LogicsOwnMixerWindowIsNeverTakenForAPluginWindow) {
    world().setKnob("mixerWindow", true);
    auto app = this->app();
    ASSERT_EQ(world().ui().windows, (std::vector<std::string>{"Demo Song - Tracks", "Demo Song - Mixer"}));

    // Nothing but Logic's own windows: no plug-in window is found, switched or closed.
    EXPECT_FALSE(inspector.findPluginWindow(app, main()));
    platform::LogCapture logs;
    EXPECT_FALSE(inspector.switchCurrentlyOpenPluginView(PluginViewPreference::controls).success);
    EXPECT_TRUE(logs.contains("[switchCurrentlyOpenPluginView] No plugin window found"));
    inspector.closeOpenPluginAndRestoreEditorView();
    EXPECT_EQ(world().ui().windows.size(), 2u);

    // With the Mixer raised in front of an open plug-in window, the plug-in window is the one acted on.
    openSlot(1);
    auto windows = app.elements(platform::ax::kWindows);
    ASSERT_TRUE(windows);
    for (const auto& w : *windows)
        if (w.string(platform::ax::kTitle) == std::optional<std::string>("Demo Song - Mixer"))
            w.performAction(platform::ax::kRaise);
    ASSERT_EQ(world().ui().windows.front(), "Demo Song - Mixer");
    auto found = inspector.findPluginWindow(app, main());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->string(platform::ax::kTitle), "Kick: Compressor");
    EXPECT_TRUE(inspector.switchCurrentlyOpenPluginView(PluginViewPreference::controls).success);
    EXPECT_EQ(slotView("Kick", 1), "Controls");
    inspector.closeOpenPluginAndRestoreEditorView();
    EXPECT_TRUE(world().ui().pluginWindows.empty());
    EXPECT_EQ(world().ui().windows.size(), 2u);
    EXPECT_EQ(slotView("Kick", 1), "Editor");
}

TEST_F(LogicInspectorPlugins, UntitledAndLookalikeWindowsAreSkipped) {
    world().setKnob("extraWindows",
                    nlohmann::json::array({{{"title", ""}, {"front", true}}, {{"title", "Demo Song - Tracks"}}}));
    // A second window titled like the main one and an untitled one are both passed over.
    EXPECT_FALSE(inspector.findPluginWindow(app(), main()));
    openSlot(0);
    auto found = inspector.findPluginWindow(app(), main());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->string(platform::ax::kTitle), "Kick: Channel EQ");
}

TEST_F(LogicInspectorPlugins, SidechainSelectorIsTheHighestMatchingPopUp) {
    auto popup = [](const char* role, const char* help, double y) {
        return FakeElement::make(role)->set("AXHelp", std::string(help))->set("AXPosition", platform::Point{0, y});
    };
    auto lower = popup("AXPopUpButton", "SIDE-CHAIN INPUT: pick a track", 60);
    auto upper = popup("AXMenuButton", "Sidechain Source", 30);
    auto window = FakeElement::make("AXWindow")
                      ->add(FakeElement::make("AXGroup")->add(lower)->add(popup("AXButton", "side chain source", 5)))
                      ->add(upper)
                      ->add(popup("AXPopUpButton", "Output", 0));
    std::optional<LogicInspector::SidechainDropdown> best;
    inspector.walkForSidechainDropdown(window->handle(), best, 0, 10);
    ASSERT_TRUE(best);
    EXPECT_EQ(best->element, upper->handle());
    EXPECT_EQ(best->y, 30);

    // On the stand-in: a side-chain plug-in's header has one, an EQ has none.
    openSlot(1);
    std::optional<LogicInspector::SidechainDropdown> found;
    inspector.walkForSidechainDropdown(*inspector.findPluginWindow(app(), main()), found, 0, 10);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->element.string(platform::ax::kValue), "None");
    inspector.closeOpenPluginAndRestoreEditorView();
    openSlot(0);
    std::optional<LogicInspector::SidechainDropdown> none;
    inspector.walkForSidechainDropdown(*inspector.findPluginWindow(app(), main()), none, 0, 10);
    EXPECT_FALSE(none);
}

}  // namespace
}  // namespace corvane
