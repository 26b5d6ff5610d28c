#include <gtest/gtest.h>

#include "standin_fixture.h"

namespace corvane::standin::testing {
namespace {

using platform::AXError;
namespace ax = platform::ax;
namespace mod = platform::modifier;

constexpr std::uint64_t kFolderChord = mod::kCommand | mod::kControl;

TEST_F(StandinTest, DownArrowMovesTheSelectionAndTheStripNameFollows) {
    EXPECT_EQ(stripName(), "Kick");
    pressKey(125);
    EXPECT_EQ(selectedName(), "Snare");
    EXPECT_EQ(stripName(), "Snare");
    pressKey(125);
    pressKey(125);
    EXPECT_EQ(stripName(), "Lead Vox");
    pressKey(126);
    EXPECT_EQ(stripName(), "Bass");
    for (int i = 0; i < 10; ++i) pressKey(126);  // clamped at the top
    EXPECT_EQ(stripName(), "Drums");
    for (int i = 0; i < 10; ++i) pressKey(125);  // and at the bottom
    EXPECT_EQ(stripName(), "Guitar");
    auto selected = findInMain("Track 7 \u201CGuitar\u201D");
    EXPECT_EQ(selected->boolean(ax::kSelected), true);
}

TEST_F(StandinTest, LateStripUpdateShowsTheNewTrackOnlyAfterThatMuchVirtualTime) {
    world().setKnob("lateStripUpdate", 0.4);
    pressKey(125);  // includes 0.02 s between down and up
    EXPECT_EQ(selectedName(), "Snare");
    EXPECT_EQ(stripName(), "Kick");
    platform::pause(0.3);
    EXPECT_EQ(stripName(), "Kick");
    platform::pause(0.1);
    EXPECT_EQ(stripName(), "Snare");

    // Two quick presses: the strip walks through the first before it shows the second.
    pressKey(125);
    platform::pause(0.03);
    pressKey(125);
    EXPECT_EQ(selectedName(), "Lead Vox");
    platform::pause(0.36);
    EXPECT_EQ(stripName(), "Bass");
    platform::pause(0.1);
    EXPECT_EQ(stripName(), "Lead Vox");
}

TEST_F(StandinTest, CollapsedFolderHidesItsTracksUntilExpandedByChordOrTriangle) {
    // Select the folder, collapse it with Command+Control+Left.
    pressKey(126);
    ASSERT_EQ(selectedName(), "Drums");
    pressKey(123, kFolderChord);
    EXPECT_FALSE(world().project().track("Drums")->expanded);
    EXPECT_FALSE(hasHeader("Track 2 \u201CKick\u201D"));
    EXPECT_FALSE(hasHeader("Track 3 \u201CSnare\u201D"));
    EXPECT_TRUE(hasHeader("Track 4 \u201CBass\u201D"));
    EXPECT_EQ(world().headerFrame("Bass")->y - world().headerFrame("Drums")->y, 40);  // rows close up
    auto drums = findInMain("Track 1 \u201CDrums\u201D");
    auto tri = drums->children().front();
    EXPECT_EQ(tri.number(ax::kValue), 0);
    pressKey(125);  // Down skips the hidden tracks
    EXPECT_EQ(selectedName(), "Bass");
    pressKey(126);

    pressKey(124, kFolderChord);
    EXPECT_TRUE(hasHeader("Track 2 \u201CKick\u201D"));

    // The triangle's AXPress toggles too, whatever is selected.
    pressKey(125);
    ASSERT_EQ(selectedName(), "Kick");
    tri = findInMain("Track 1 \u201CDrums\u201D")->children().front();
    ASSERT_EQ(tri.performAction(ax::kPress), AXError::success);
    EXPECT_FALSE(hasHeader("Track 3 \u201CSnare\u201D"));
    EXPECT_EQ(selectedName(), "Drums");  // the hidden selection moves to the folder
    tri = findInMain("Track 1 \u201CDrums\u201D")->children().front();
    ASSERT_EQ(tri.performAction(ax::kPress), AXError::success);
    EXPECT_TRUE(hasHeader("Track 3 \u201CSnare\u201D"));
    EXPECT_TRUE(findInMain("Track 3 \u201CSnare\u201D", "AXGroup", 15));
}

TEST_F(StandinTest, FolderChordDoesNothingOnOrdinaryTracksOrWithOtherModifiers) {
    pressKey(123, kFolderChord);  // Kick is no folder
    EXPECT_TRUE(world().project().track("Drums")->expanded);
    pressKey(126);
    struct Case {
        std::uint64_t flags;
        const char* what;
    };
    for (Case c : {Case{mod::kCommand, "Command only"}, Case{kFolderChord | mod::kShift, "extra Shift"},
                   Case{mod::kControl | mod::kOption, "Control Option"}}) {
        pressKey(123, c.flags);
        EXPECT_TRUE(world().project().track("Drums")->expanded) << c.what;
    }
    pressKey(123, kFolderChord | 0x800000);  // bits other than the four modifiers are not compared
    EXPECT_FALSE(world().project().track("Drums")->expanded);
}

TEST_F(StandinTest, KeyCommandsToggleInspectorSoloMuteCycleAndPlay) {
    pressKey(34);
    EXPECT_FALSE(world().ui().inspectorVisible);
    EXPECT_FALSE(findInMain("Mixer", "AXLayoutArea", 10));
    EXPECT_FALSE(findInMain("Inspector"));
    pressKey(34);
    EXPECT_TRUE(findInMain("Mixer", "AXLayoutArea", 10));

    pressKey(46);
    EXPECT_TRUE(world().project().track("Kick")->muted);
    EXPECT_TRUE(findInMain("Track 2 \u201CKick\u201D, muted"));
    EXPECT_EQ(find(*strip(), "mute")->number(ax::kValue), 1);
    pressKey(1);
    EXPECT_TRUE(world().project().track("Kick")->soloed);
    EXPECT_EQ(find(*findInMain("Track 2 \u201CKick\u201D, muted"), "solo")->number(ax::kValue), 1);

    const bool cycle = world().project().transport.cycleOn;
    pressKey(8);
    EXPECT_NE(world().project().transport.cycleOn, cycle);
    pressKey(49);
    EXPECT_TRUE(world().project().transport.playing);
    EXPECT_EQ(findInMain("Play")->number(ax::kValue), 1);
    pressKey(49);
    EXPECT_FALSE(world().project().transport.playing);

    pressKey(1, mod::kShift);  // unexpected modifiers: nothing
    EXPECT_TRUE(world().project().track("Kick")->soloed);
    pressKey(5);
    auto keys = world().events(EventKind::key);
    EXPECT_EQ(keys.back().keyDown, false);
    EXPECT_EQ(keys[keys.size() - 2].outcome, "unhandled");
    EXPECT_EQ(keys[keys.size() - 4].outcome, "ignored");
}

TEST_F(StandinTest, AShiftClickedHeaderJoinsTheSelectionAndTheKeysActOnEverySelectedTrack) {
    world().shiftClickHeader("Bass");
    EXPECT_EQ(findInMain("Track 2 \u201CKick\u201D")->boolean(ax::kSelected), true);
    EXPECT_EQ(findInMain("Track 4 \u201CBass\u201D")->boolean(ax::kSelected), true);
    EXPECT_EQ(stripName(), "Kick");
    pressKey(46);
    EXPECT_TRUE(world().project().track("Kick")->muted);
    EXPECT_TRUE(world().project().track("Bass")->muted);
    find(*strip(), "solo")->performAction(ax::kPress);
    EXPECT_TRUE(world().project().track("Kick")->soloed);
    EXPECT_TRUE(world().project().track("Bass")->soloed);

    // A press on a header selects its track alone.
    findInMain("Track 4 \u201CBass\u201D, muted")->performAction(ax::kPress);
    EXPECT_EQ(findInMain("Track 2 \u201CKick\u201D, muted")->boolean(ax::kSelected), false);
    pressKey(46);
    EXPECT_TRUE(world().project().track("Kick")->muted);
    EXPECT_FALSE(world().project().track("Bass")->muted);
}

TEST_F(StandinTest, LostKeyKnobsSilentlyDropSelectionAndToggles) {
    world().setKnob("arrowKeysIgnored", true);
    pressKey(125);
    EXPECT_EQ(selectedName(), "Kick");
    pressKey(46);
    EXPECT_TRUE(world().project().track("Kick")->muted);  // only arrows are swallowed
    world().setKnob("arrowKeysIgnored", false);

    world().setKnob("backgroundKeys", "ignore");
    pressKey(125);  // Logic is in the background
    EXPECT_EQ(selectedName(), "Kick");
    world().setFrontmost(logicPid());
    pressKey(125);
    EXPECT_EQ(selectedName(), "Snare");
}

TEST_F(StandinTest, KeysAtTheHIDTapReachOnlyTheFrontmostApplication) {
    platform::input().postKeyAtHIDTap({125, true, 0, {}});
    EXPECT_EQ(selectedName(), "Kick");
    EXPECT_EQ(world().events(EventKind::key).back().outcome, "not Logic");
    world().setFrontmost(logicPid());
    platform::input().postKeyAtHIDTap({125, true, 0, {}});
    EXPECT_EQ(selectedName(), "Snare");
}

TEST_F(StandinTest, KeysToLogicWhileItIsNotRunningAreDropped) {
    world().quitLogic();
    pressKey(125);
    world().launchLogic(false);
    EXPECT_EQ(selectedName(), "Kick");
    auto keys = world().events(EventKind::key);
    ASSERT_FALSE(keys.empty());
    EXPECT_EQ(keys.front().outcome, "not Logic");
    EXPECT_EQ(keys.front().route, "process");
    EXPECT_EQ(keys.front().keyCode, 125);
}

TEST_F(StandinTest, UnicodeTextIsLoggedAsUnhandledOutsideMenusAndRenaming) {
    platform::KeyEvent ev{0, true, 0, u"Kick \u00E9"};
    platform::input().postKeyToProcess(logicPid(), ev);
    auto last = world().events(EventKind::key).back();
    EXPECT_EQ(last.text, "Kick \u00E9");
    EXPECT_EQ(last.outcome, "unhandled");
}

TEST_F(StandinTest, GlobalKeyMonitorSeesKeyDownsPostedToAnyApplicationButNoKeyUps) {
    std::vector<std::pair<std::uint16_t, std::uint64_t>> seen;
    auto token = world().keyMonitor().addGlobalMonitor(
        [&](const platform::KeyEvent& event) { seen.emplace_back(event.virtualKey, event.flags); });
    pressKey(37, mod::kControl | mod::kOption);
    platform::input().postKeyAtHIDTap({125, true, 0, {}});
    world().keyMonitor().removeMonitor(token);
    pressKey(46);
    const std::vector<std::pair<std::uint16_t, std::uint64_t>> expected{{37, mod::kControl | mod::kOption}, {125, 0}};
    EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace corvane::standin::testing
