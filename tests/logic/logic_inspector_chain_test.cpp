#include <gtest/gtest.h>

#include <functional>
#include <mutex>

#include "logic/logic_inspector.h"
#include "platform/log.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/temp_home.h"
#include "shield/input_shield.h"

namespace corvane {
namespace {

using standin::EventKind;
using Names = std::vector<std::string>;

// Notes each placement of the shield: its scope, and how many drag events Logic Pro had seen then.
struct RecordingShield : InputShield::Window {
    explicit RecordingShield(standin::World& w) : world(w) {}
    void show(platform::Rect, InputShield::Scope) override {}
    void hide() override {}
    void setFrame(platform::Rect) override {
        int drags = 0;
        for (const auto& e : world.events(EventKind::mouse))
            if (e.mouseType == platform::MouseEventType::leftDragged) ++drags;
        std::lock_guard lock(mutex);
        placements.emplace_back(InputShield::shared().scope(), drags);
    }
    std::vector<std::pair<InputShield::Scope, int>> taken() {
        std::lock_guard lock(mutex);
        return placements;
    }
    standin::World& world;
    std::mutex mutex;
    std::vector<std::pair<InputShield::Scope, int>> placements;
};

class LogicInspectorChain : public standin::testing::StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        plugShield();
    }
    void TearDown() override {
        InputShield::shared().escalate(InputShield::Scope::logicWindow);
        InputShield::shared().setWindow(nullptr);
        InputShield::shared().setEnvironment({});
    }
    void reload(const nlohmann::json& scenario) {
        load(scenario);
        plugShield();
    }
    void plugShield() {
        shield = std::make_shared<RecordingShield>(world());
        InputShield::shared().setWindow(shield);
        InputShield::shared().setEnvironment({[] { return true; }, [] { return std::optional<platform::Rect>(); },
                                              [] {
                                                  return std::optional<platform::Rect>(platform::Rect{0, 0, 1440, 900});
                                              }});
    }

    platform::AXElement main() { return *inspector.findMainWindow(); }
    Names chain(const std::string& track) {
        Names names;
        const auto project = world().project();
        for (const auto& s : project.track(track)->strip.inserts) names.push_back(s.plugin);
        return names;
    }
    int drags() {
        int n = 0;
        for (const auto& e : world().events(EventKind::mouse))
            if (e.mouseType == platform::MouseEventType::leftDragged) ++n;
        return n;
    }

    testing::TempHome home;
    LogicInspector inspector;
    std::shared_ptr<RecordingShield> shield;
};

TEST_F(LogicInspectorChain, PluginLandsWhereEachSlotRuleSays) {
    struct Case {
        const char* track;
        std::optional<int> slot;
        bool success;
        Names chain;
        std::string message;
    };
    const Names kick{"Channel EQ", "Compressor"};
    const std::string beyond = " plugins). Use -1 to append at the end or 0 for the first slot.";
    for (const Case& c : {
             Case{"Kick", -1, true, {"Channel EQ", "Compressor", "Limiter"}, "Added Limiter to the channel strip"},
             Case{"Kick",
                  std::nullopt,
                  true,
                  {"Channel EQ", "Compressor", "Limiter"},
                  "Added Limiter to the channel strip"},
             Case{"Kick", 0, true, {"Limiter", "Channel EQ", "Compressor"}, "Added Limiter to the channel strip"},
             Case{"Kick", 1, true, {"Channel EQ", "Limiter", "Compressor"}, "Added Limiter to the channel strip"},
             Case{"Kick", 2, true, {"Channel EQ", "Compressor", "Limiter"}, "Added Limiter to the channel strip"},
             Case{"Kick", 3, false, kick, "Slot index 3 is beyond the current chain (2" + beyond},
             Case{"Kick", -2, false, kick, "Slot index -2 is beyond the current chain (2" + beyond},
             Case{"Guitar", -1, true, {"Limiter"}, "Added Limiter to the channel strip"},
             Case{"Guitar", 0, true, {"Limiter"}, "Added Limiter to the channel strip"},
             Case{"Guitar", 1, false, {}, "Slot index 1 is beyond the current chain (0" + beyond},
         }) {
        reload(standin::testing::demoSong());
        ASSERT_TRUE(inspector.selectTrack(c.track));
        auto result = inspector.addPlugin(main(), "Limiter", c.slot);
        const std::string label = std::string(c.track) + " at " + std::to_string(c.slot.value_or(-99));
        EXPECT_EQ(result.success, c.success) << label;
        EXPECT_EQ(result.message, c.message) << label;
        EXPECT_EQ(chain(c.track), c.chain) << label;
        // The window the insert opened is closed again, and no menu is left open.
        EXPECT_TRUE(world().ui().pluginWindows.empty()) << label;
        EXPECT_EQ(world().ui().openMenu, "") << label;
    }
}

TEST_F(LogicInspectorChain, TypedNamesFindTheirMenuItemAndTheStereoFormatIsPreferred) {
    reload(standin::testing::demoSongWith(
        {{"plugins",
          nlohmann::json::array(
              {{{"name", "Channel EQ"}, {"category", {"EQ"}}, {"formats", {"Mono", "Stereo"}}},
               {{"name", "Widener"}, {"category", {"Imaging"}}, {"formats", {"Mono", "Mono->Stereo"}}},
               {{"name", "Spacer"}, {"category", {"Imaging"}}, {"formats", {"Dual Mono", "Surround"}}},
               {{"name", "Corvane"}, {"category", {"Audio Units", "Corvane"}}, {"formats", {"Stereo"}}}})}}));
    struct Case {
        const char* typed;
        const char* plugin;  // empty: nothing is found
        const char* format;
    };
    for (const Case& c : {Case{"  Channel EQ\t", "Channel EQ", "Stereo"}, Case{"channel eq", "Channel EQ", "Stereo"},
                          Case{"channeleq", "Channel EQ", "Stereo"}, Case{"Channel  EQ", "Channel EQ", "Stereo"},
                          Case{"channel-eq", "", ""}, Case{"Channel EQ\n", "", ""},
                          Case{"Widener", "Widener", "Mono->Stereo"}, Case{"Spacer", "Spacer", "Dual Mono"},
                          // The manufacturer item "Corvane" has no formats; the plug-in item below it does.
                          Case{"quillmere", "Corvane", "Stereo"}, Case{"Corvane", "Corvane", "Stereo"}}) {
        auto before = world().project().track("Kick")->strip.inserts.size();
        auto result = inspector.addPlugin(main(), c.typed, -1);
        auto inserts = world().project().track("Kick")->strip.inserts;
        if (*c.plugin) {
            EXPECT_TRUE(result.success) << c.typed << ": " << result.message;
            ASSERT_EQ(inserts.size(), before + 1) << c.typed;
            EXPECT_EQ(inserts.back().plugin, c.plugin) << c.typed;
            EXPECT_EQ(inserts.back().format, c.format) << c.typed;
        } else {
            EXPECT_FALSE(result.success) << c.typed;
            EXPECT_EQ(result.message,
                      "Could not find '" + std::string(c.typed) +
                          "' in the plugin menu. Use the exact name as it appears in Logic (e.g. 'Compressor', "
                          "'Channel EQ', 'Limiter').");
            EXPECT_EQ(inserts.size(), before) << c.typed;
            EXPECT_EQ(world().ui().openMenu, "") << c.typed;
        }
    }
}

TEST_F(LogicInspectorChain, AnInsertMenuHungUnderTheApplicationIsSearchedThere) {
    world().setKnob("menuPlacement", "appLevel");
    const auto before = world().project().track("Kick")->strip.inserts.size();
    const auto result = inspector.addPlugin(main(), "Limiter", -1);
    EXPECT_TRUE(result.success) << result.message;
    const auto inserts = world().project().track("Kick")->strip.inserts;
    ASSERT_EQ(inserts.size(), before + 1);
    EXPECT_EQ(inserts.back().plugin, "Limiter");
    EXPECT_EQ(world().ui().openMenu, "");
}

TEST_F(LogicInspectorChain, CategoryNameIsNoPluginAndItsMenusAreClosed) {
    platform::LogCapture logs;
    auto result = inspector.addPlugin(main(), "Dynamics", -1);
    EXPECT_FALSE(result.success);
    EXPECT_TRUE(
        logs.contains("[navigatePluginMenu] Found 'Dynamics' but no format leaf (Mono/Stereo) underneath \u2014 likely "
                      "a category, not a plugin"));
    EXPECT_EQ(chain("Kick"), (Names{"Channel EQ", "Compressor"}));
    EXPECT_EQ(world().ui().openMenu, "");
}

// Pressing the format leaf is not proof: the add succeeds only when the chain reads back with the
// plug-in at the asked slot.
TEST_F(LogicInspectorChain, AddIsReportedOnlyWhenTheChainReadsBackAsAsked) {
    // A full strip: Logic refuses the insert though the menu was there.
    nlohmann::json fifteen = nlohmann::json::array();
    for (int i = 0; i < 15; ++i) fifteen.push_back({{"plugin", i % 2 ? "Compressor" : "Channel EQ"}});
    reload(standin::testing::demoSongWith(
        {{"project", {{"tracks", {{{"name", "Full"}, {"inserts", fifteen}}}}, {"selected", "Full"}}}}));
    auto full = inspector.addPlugin(main(), "Limiter", 0);
    EXPECT_FALSE(full.success);
    EXPECT_EQ(
        full.message.rfind(
            "Chose 'Limiter' in the plugin menu, but it did not appear at slot 0. Chain: Channel EQ, Compressor", 0),
        0u)
        << full.message;
    EXPECT_EQ(world().project().track("Full")->strip.inserts.size(), 15u);
    // No bar below a full chain: appending and adding after the last slot fail before any menu opens.
    EXPECT_EQ(inspector.addPlugin(main(), "Limiter", -1).message,
              "No empty slot after the last plugin. The chain may be full.");
    EXPECT_EQ(inspector.addPlugin(main(), "Limiter", 15).message, "No empty slot after position 15.");

    // A new slot that keeps reading as a zero frame (top of the list) never counts as inserted below.
    reload(standin::testing::demoSong());
    world().setKnob("newSlotZeroFrame", 1000);
    auto misread = inspector.addPlugin(main(), "Limiter", -1);
    EXPECT_FALSE(misread.success);
    EXPECT_EQ(misread.message, "Added Limiter at slot 0 instead of slot 2. Chain: Limiter, Channel EQ, Compressor");

    // One that settles after a few reads is confirmed.
    reload(standin::testing::demoSong());
    world().setKnob("newSlotZeroFrame", 3);
    auto settled = inspector.addPlugin(main(), "Limiter", -1);
    EXPECT_TRUE(settled.success) << settled.message;
}

TEST_F(LogicInspectorChain, ASlotShowingACutNameConfirmsTheInsert) {
    struct Case {
        const char* typed;
        const char* plugin;
        int width;
    };
    for (const Case& c : {Case{"Limiter", "Limiter", 5}, Case{"channel eq", "Channel EQ", 4},
                          Case{"quillmere", "Corvane", 5}, Case{"Corvane", "Corvane", 3}}) {
        reload(standin::testing::demoSong());
        world().setKnob("slotNameWidth", c.width);
        world().setKnob("slotNameEllipsis", true);
        auto result = inspector.addPlugin(main(), c.typed, -1);
        EXPECT_EQ(chain("Kick"), (Names{"Channel EQ", "Compressor", c.plugin})) << c.typed;
        EXPECT_TRUE(result.success) << c.typed << ": " << result.message;
        EXPECT_EQ(result.message, std::string("Added ") + c.typed + " to the channel strip");
    }
}

TEST_F(LogicInspectorChain, RemoveTakesThePluginOutAndSaysSoOnlyWhenItIsGone) {
    auto slots = inspector.findTrackPluginSlots(main());
    ASSERT_EQ(slots.size(), 2u);
    auto removed = inspector.removePlugin(main(), slots[1]);
    EXPECT_TRUE(removed.success);
    EXPECT_EQ(removed.message, "Removed Compressor");
    EXPECT_EQ(chain("Kick"), (Names{"Channel EQ"}));

    // Of two like-named plug-ins, one goes.
    ASSERT_TRUE(inspector.addPlugin(main(), "Channel EQ", -1).success);
    slots = inspector.findTrackPluginSlots(main());
    EXPECT_TRUE(inspector.removePlugin(main(), slots[0]).success);
    EXPECT_EQ(chain("Kick"), (Names{"Channel EQ"}));

    // Logic swallows the arrows: Return closes the menu with nothing chosen, and that is no removal.
    world().setKnob("arrowKeysIgnored", true);
    slots = inspector.findTrackPluginSlots(main());
    auto kept = inspector.removePlugin(main(), slots[0]);
    EXPECT_FALSE(kept.success);
    EXPECT_EQ(kept.message, "Could not remove Channel EQ: it is still in the chain. Chain: Channel EQ");
    EXPECT_EQ(chain("Kick"), (Names{"Channel EQ"}));
    EXPECT_EQ(world().ui().openMenu, "");
}

// Where every change rebuilds Logic Pro's window, the window held from before the selection no
// longer answers: the Mixer area is found in the window found anew, and each edit lands and says so.
TEST_F(LogicInspectorChain, AWindowHeldFromBeforeAChangeStillLeadsToTheChain) {
    reload(standin::testing::demoSong());
    world().setKnob("staleAfter", "always");
    const auto held = main();
    ASSERT_TRUE(inspector.selectTrack("Lead Vox"));

    const auto added = inspector.addPlugin(held, "Limiter", -1);
    EXPECT_EQ(chain("Lead Vox"), (Names{"Channel EQ", "Compressor", "Corvane", "Limiter"}));
    EXPECT_TRUE(added.success) << added.message;

    const auto moved = inspector.reorderPlugin(held, 3, 0);
    EXPECT_EQ(chain("Lead Vox"), (Names{"Limiter", "Channel EQ", "Compressor", "Corvane"}));
    EXPECT_TRUE(moved.success) << moved.message;

    const auto slots = inspector.findTrackPluginSlots(held);
    ASSERT_EQ(slots.size(), 4u);
    const auto removed = inspector.removePlugin(held, slots[0]);
    EXPECT_EQ(chain("Lead Vox"), (Names{"Channel EQ", "Compressor", "Corvane"}));
    EXPECT_EQ(removed.message, "Removed Limiter");
    EXPECT_TRUE(world().ui().pluginWindows.empty());
}

TEST_F(LogicInspectorChain, ReorderDragsUnderTheFullScreenShieldAndConfirms) {
    struct Case {
        int from, to;
        Names chain;
        std::string message;
    };
    for (const Case& c : {
             Case{2,
                  0,
                  {"Corvane", "Channel EQ", "Compressor"},
                  "Moved Corvane to slot 0. Chain: Corvane, Channel EQ, Compressor"},
             Case{0,
                  1,
                  {"Compressor", "Channel EQ", "Corvane"},
                  "Moved Channel EQ to slot 1. Chain: Compressor, Channel EQ, Corvane"},
             Case{0,
                  2,
                  {"Compressor", "Corvane", "Channel EQ"},
                  "Moved Channel EQ to slot 2. Chain: Compressor, Corvane, Channel EQ"},
             // One past the end is the last place, and is reported as where the plug-in now is.
             Case{0,
                  3,
                  {"Compressor", "Corvane", "Channel EQ"},
                  "Moved Channel EQ to slot 2. Chain: Compressor, Corvane, Channel EQ"},
         }) {
        reload(standin::testing::demoSong());
        ASSERT_TRUE(inspector.selectTrack("Lead Vox"));
        world().clearEventLog();
        auto result = inspector.reorderPlugin(main(), c.from, c.to);
        const std::string label = std::to_string(c.from) + "->" + std::to_string(c.to);
        EXPECT_TRUE(result.success) << label;
        EXPECT_EQ(result.message, c.message) << label;
        EXPECT_EQ(chain("Lead Vox"), c.chain) << label;
        // Full screen before the first drag event, back over Logic's window after the last.
        EXPECT_EQ(shield->taken(),
                  (std::vector<std::pair<InputShield::Scope, int>>{{InputShield::Scope::fullscreen, 0},
                                                                   {InputShield::Scope::logicWindow, drags()}}))
            << label;
        EXPECT_GT(drags(), 0) << label;
        EXPECT_TRUE(world().ui().pluginWindows.empty()) << label;
    }
}

TEST_F(LogicInspectorChain, RefusedReordersNeverTouchTheShieldOrDrag) {
    ASSERT_TRUE(inspector.selectTrack("Lead Vox"));
    struct Case {
        int from, to;
        bool success;
        std::string message;
    };
    for (const Case& c : {Case{3, 0, false, "fromIndex 3 out of range (chain size 3)"},
                          Case{-1, 0, false, "fromIndex -1 out of range (chain size 3)"},
                          Case{0, 4, false, "toIndex 4 out of range (0..3)"}, Case{1, 1, true, "No move needed."},
                          Case{2, 3, true, "No move needed."}}) {
        auto result = inspector.reorderPlugin(main(), c.from, c.to);
        EXPECT_EQ(result.success, c.success);
        EXPECT_EQ(result.message, c.message);
    }
    EXPECT_TRUE(shield->taken().empty());
    EXPECT_EQ(drags(), 0);
    EXPECT_EQ(chain("Lead Vox"), (Names{"Channel EQ", "Compressor", "Corvane"}));
}

TEST_F(LogicInspectorChain, MissedDragIsRetriedAfterClosingTheWindowItOpened) {
    ASSERT_TRUE(inspector.selectTrack("Lead Vox"));
    world().setKnob("dropMisses", 1);
    platform::LogCapture logs;
    auto result = inspector.reorderPlugin(main(), 2, 0);
    EXPECT_TRUE(result.success) << result.message;
    EXPECT_EQ(result.message, "Moved Corvane to slot 0. Chain: Corvane, Channel EQ, Compressor");
    EXPECT_TRUE(logs.contains("[reorderPlugin] first drag missed \u2014 closing stray plugin window and retrying"));
    EXPECT_TRUE(world().ui().pluginWindows.empty());
    auto taken = shield->taken();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken.back(), std::make_pair(InputShield::Scope::logicWindow, drags()));
}

TEST_F(LogicInspectorChain, TwoMissedDragsReportWhereThePluginIsAndReleaseTheShield) {
    ASSERT_TRUE(inspector.selectTrack("Lead Vox"));
    world().setKnob("dropMisses", 2);
    auto result = inspector.reorderPlugin(main(), 2, 0);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message,
              "Reorder failed twice: wanted Corvane at slot 0, it's at slot 2. Chain: Channel EQ, Compressor, Corvane");
    EXPECT_EQ(chain("Lead Vox"), (Names{"Channel EQ", "Compressor", "Corvane"}));
    EXPECT_TRUE(world().ui().pluginWindows.empty());
    EXPECT_EQ(shield->taken(), (std::vector<std::pair<InputShield::Scope, int>>{
                                   {InputShield::Scope::fullscreen, 0}, {InputShield::Scope::logicWindow, drags()}}));
    EXPECT_EQ(InputShield::shared().scope(), InputShield::Scope::logicWindow);
}

TEST_F(LogicInspectorChain, AReorderThatCannotBringLogicToTheFrontSaysSo) {
    reload(standin::testing::demoSongWith({{"logic", {{"activation", "never"}}}}));
    ASSERT_TRUE(inspector.selectTrack("Lead Vox"));
    world().setFrontmost(200);  // the terminal stays in front whatever is asked
    auto result = inspector.reorderPlugin(main(), 2, 0);
    EXPECT_EQ(chain("Lead Vox"), (Names{"Channel EQ", "Compressor", "Corvane"}));
    EXPECT_EQ(drags(), 0);
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.message, "Could not move Corvane: Logic Pro did not come to the front; the drag was not sent.");
    EXPECT_EQ(InputShield::shared().scope(), InputShield::Scope::logicWindow);
}

// Pressing a filled slot's "audio plug-in" button offers the menu that replaces its plug-in.
TEST_F(LogicInspectorChain, AFilledSlotsPluginButtonIsNeverTakenForAnEmptyBar) {
    auto pressedFilledSlot = [&] {
        for (const auto& e : world().events(EventKind::axAction))
            if (e.element == "AXButton \"audio plug-in\"") return true;
        return false;
    };
    world().setKnob("filledSlotButton", true);
    std::vector<LogicInspector::InsertBar> bars;
    inspector.findInsertBars(*inspector.firstMixerStrip(main()), bars, 0, 10);
    std::vector<platform::Rect> frames;
    for (const auto& bar : bars) frames.push_back(LogicInspector::frameForElement(bar.element));
    EXPECT_EQ(frames, (std::vector<platform::Rect>{*world().insertBarFrame(0, 0), *world().insertBarFrame(0, 1),
                                                   *world().insertBarFrame(0, 2)}));

    struct Case {
        const char* what;
        std::function<Outcome()> act;
        Names chain;
    };
    for (const Case& c :
         {Case{"add first", [&] { return inspector.addPlugin(main(), "Limiter", 0); },
               Names{"Limiter", "Channel EQ", "Compressor"}},
          Case{"add below", [&] { return inspector.addPlugin(main(), "Limiter", 2); },
               Names{"Limiter", "Channel EQ", "Limiter", "Compressor"}},
          Case{"append", [&] { return inspector.addPlugin(main(), "Corvane", -1); },
               Names{"Limiter", "Channel EQ", "Limiter", "Compressor", "Corvane"}},
          Case{"reorder", [&] { return inspector.reorderPlugin(main(), 3, 0); },
               Names{"Compressor", "Limiter", "Channel EQ", "Limiter", "Corvane"}},
          Case{"remove", [&] { return inspector.removePlugin(main(), inspector.findTrackPluginSlots(main())[1]); },
               Names{"Compressor", "Channel EQ", "Limiter", "Corvane"}}}) {
        world().clearEventLog();
        auto result = c.act();
        EXPECT_EQ(chain("Kick"), c.chain) << c.what;
        EXPECT_FALSE(pressedFilledSlot()) << c.what;
        EXPECT_TRUE(result.success) << c.what << ": " << result.message;
    }
}

}  // namespace
}  // namespace corvane
