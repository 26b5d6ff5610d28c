#include <gtest/gtest.h>

#include "logic/logic_inspector.h"
#include "platform/log.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using standin::EventKind;

const char* const kNotFoundTail =
    "' \u2014 menu item not found. Logic's menu groups sources into Audio / Inst / Bus submenus; check that the source "
    "exists (a "
    "track name, 'Bus N', or 'Internal' to clear).";

class LogicInspectorSidechain : public standin::testing::StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        ASSERT_TRUE(inspector.selectTrack("Lead Vox"));
    }

    platform::AXElement main() { return *inspector.findMainWindow(); }
    LogicInspector::InsertSlot slot(int index) {
        return inspector.findTrackPluginSlots(main()).at(static_cast<std::size_t>(index));
    }
    std::string source() { return world().project().track("Lead Vox")->strip.inserts[1].sideChainSource; }
    int popupWrites() {
        int n = 0;
        for (const auto& e : world().events(EventKind::axWrite))
            if (e.element == "AXPopUpButton \"Side Chain\"") ++n;
        return n;
    }

    testing::TempHome home;
    LogicInspector inspector;
};

// Also where every press or write leaves the handles held before it stale.
TEST_F(LogicInspectorSidechain, SourceChosenFromTheMenuReadsBackInThePlugin) {
    struct Case {
        const char* asked;
        const char* shows;
        const char* message;
    };
    for (const char* stale : {"onRebuild", "afterReads 3", "always"}) {
        load(standin::testing::demoSong());
        ASSERT_TRUE(inspector.selectTrack("Lead Vox"));
        for (const Case& c : {Case{"Bus 1", "Bus 1", "Side Chain: None \u2192 Bus 1"},  // listed as "Bus 1 ← Reverb"
                              Case{"Kick", "Kick", "Side Chain: Bus 1 \u2192 Kick"},
                              Case{"keys", "Keys", "Side Chain: Kick \u2192 keys (Logic shows as Keys)"},
                              Case{"Internal", "Internal", "Side Chain: Keys \u2192 Internal"}}) {
            SCOPED_TRACE(std::string(stale) + ": " + c.asked);
            world().setKnob("staleAfter", stale);
            const platform::AXReadScope reads;  // as a tool call reads
            const auto in = main();
            const auto at = slot(1);
            auto result = inspector.setPluginSidechain(in, at, c.asked);
            EXPECT_EQ(source(), c.shows);
            EXPECT_TRUE(result.success) << result.message;
            EXPECT_EQ(result.message, c.message);
            // The window it opened is closed again, and its menu with it.
            EXPECT_TRUE(world().ui().pluginWindows.empty());
            EXPECT_EQ(world().ui().openMenu, "");
        }
    }
}

TEST_F(LogicInspectorSidechain, DirectWritesCountOnlyWhenThePopUpShowsThem) {
    struct Case {
        const char* knob;
        const char* asked;
        const char* message;
        int menuPresses;  // pop-up presses: the menu fallback
    };
    for (const Case& c : {Case{"accept", "bus 1", "Side Chain: None \u2192 bus 1 (Logic shows as Bus 1)", 0},
                          Case{"ignore", "Bus 1", "Side Chain: None \u2192 Bus 1", 1},
                          Case{"refuse", "Bus 1", "Side Chain: None \u2192 Bus 1", 1}}) {
        load(standin::testing::demoSong());
        ASSERT_TRUE(inspector.selectTrack("Lead Vox"));
        world().setKnob("popupDirectSet", c.knob);
        world().clearEventLog();
        auto result = inspector.setPluginSidechain(main(), slot(1), c.asked);
        EXPECT_TRUE(result.success) << c.knob;
        EXPECT_EQ(result.message, c.message) << c.knob;
        EXPECT_EQ(result.beforeValue, "None") << c.knob;
        EXPECT_EQ(source(), "Bus 1") << c.knob;
        EXPECT_EQ(popupWrites(), 1) << c.knob;
        int presses = 0;
        for (const auto& e : world().events(EventKind::axAction))
            if (e.element == "AXPopUpButton \"Side Chain\"") ++presses;
        EXPECT_EQ(presses, c.menuPresses) << c.knob;
    }
}

TEST_F(LogicInspectorSidechain, SourceAlreadySetIsNotWrittenAgain) {
    ASSERT_TRUE(inspector.setPluginSidechain(main(), slot(1), "Bus 1").success);
    world().clearEventLog();
    auto result = inspector.setPluginSidechain(main(), slot(1), " bus 1 ");
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.message, "Side Chain already Bus 1");
    EXPECT_EQ(result.beforeValue, "Bus 1");
    EXPECT_EQ(popupWrites(), 0);
    EXPECT_TRUE(world().ui().pluginWindows.empty());
}

TEST_F(LogicInspectorSidechain, FailuresLeaveTheSourceAndCloseTheWindow) {
    struct Case {
        int slot;
        const char* asked;
        std::string message;
        std::optional<std::string> before;
    };
    for (const Case& c :
         {Case{1, "Bus 9", "Could not set Side Chain to 'Bus 9" + std::string(kNotFoundTail), "None"},
          Case{1, "Bus 10", "Could not set Side Chain to 'Bus 10" + std::string(kNotFoundTail), "None"},
          Case{0, "Kick",
               "Plugin 'Channel EQ' has no sidechain input (no 'Side Chain Source' dropdown found in plugin header).",
               std::nullopt}}) {
        auto result = inspector.setPluginSidechain(main(), slot(c.slot), c.asked);
        EXPECT_FALSE(result.success) << c.asked;
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(result.beforeValue, c.before) << c.asked;
        EXPECT_EQ(source(), "None") << c.asked;
        EXPECT_TRUE(world().ui().pluginWindows.empty()) << c.asked;
        EXPECT_EQ(world().ui().openMenu, "") << c.asked;
    }
}

TEST_F(LogicInspectorSidechain, SlowWindowGetsASecondPressAndThenGivesUp) {
    struct Case {
        const char* knob;
        nlohmann::json value;
        bool success;
    };
    for (const Case& c :
         {Case{"lateWindow", 0.5, true}, Case{"openIgnoresFirstPress", true, true}, Case{"lateWindow", 1.0, false}}) {
        load(standin::testing::demoSong());
        ASSERT_TRUE(inspector.selectTrack("Lead Vox"));
        world().setKnob(c.knob, c.value);
        auto result = inspector.setPluginSidechain(main(), slot(1), "Kick");
        EXPECT_EQ(result.success, c.success) << c.knob << " " << c.value;
        if (c.success) {
            EXPECT_EQ(source(), "Kick");
        } else {
            EXPECT_EQ(result.message, "Plugin window did not appear");
            EXPECT_FALSE(result.beforeValue);
            EXPECT_EQ(source(), "None");
        }
    }
}

}  // namespace
}  // namespace corvane
