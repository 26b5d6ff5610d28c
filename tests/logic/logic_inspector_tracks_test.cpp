#include <gtest/gtest.h>

#include "logic/logic_inspector.h"
#include "platform/log.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using standin::EventKind;

class LogicTracksTest : public standin::testing::StandinTest {
protected:
    int arrowPresses() {
        int n = 0;
        for (const auto& e : world().events(EventKind::key))
            if (e.keyDown && (e.keyCode == 125 || e.keyCode == 126)) ++n;
        return n;
    }
    testing::TempHome home;
    LogicInspector inspector;
};

TEST_F(LogicTracksTest, HeadersCarryNumbersNamesFoldersMutesAndIndents) {
    auto window = inspector.findMainWindow();
    ASSERT_TRUE(window);
    auto headers = inspector.findTrackHeadersWithIndent(*window);
    std::vector<std::string> names;
    std::vector<std::int64_t> levels;
    for (const auto& h : headers) {
        names.push_back(h.header.name);
        levels.push_back(h.indentLevel);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Drums", "Kick", "Snare", "Bass", "Lead Vox", "Keys", "Guitar"}));
    EXPECT_EQ(levels, (std::vector<std::int64_t>{0, 1, 1, 0, 0, 0, 0}));
    EXPECT_TRUE(headers[0].header.isFolder);
    EXPECT_TRUE(headers[5].header.isMuted);
    EXPECT_EQ(headers[4].header.trackNumber, 5);
    EXPECT_EQ(inspector.isFolderExpanded(headers[0].header), true);

    // Straight quotes read the same.
    world().setKnob("plainQuotes", true);
    EXPECT_EQ(inspector.findTrackHeaders(*inspector.findMainWindow()).size(), 7u);
}

TEST_F(LogicTracksTest, SelectingByNameMovesTheSelectionByKeysAndVerifiesTheInspector) {
    struct Case {
        const char* asked;
        const char* lands;
    };
    for (const Case& c : {Case{"guitar", "Guitar"}, Case{"Kick [Audio 2]", "Kick"}, Case{"SNARE", "Snare"},
                          Case{"Lead Vox", "Lead Vox"}}) {
        auto selected = inspector.selectTrack(c.asked);
        ASSERT_TRUE(selected) << c.asked;
        EXPECT_EQ(selected->header.name, c.lands);
        EXPECT_EQ(selectedName(), c.lands);
        EXPECT_EQ(inspector.readChannelStrip(selected->mainWindow)["name"], c.lands);
    }
    // Kick -> Guitar is five rows down: five Down presses, no more.
    load(standin::testing::demoSong());
    world().clearEventLog();
    ASSERT_TRUE(inspector.selectTrack("Guitar"));
    EXPECT_EQ(arrowPresses(), 5);
    world().clearEventLog();
    ASSERT_TRUE(inspector.selectTrack("Guitar"));
    EXPECT_EQ(arrowPresses(), 0);

    auto missing = inspector.resolveTrack("Vox");
    EXPECT_FALSE(missing.header);
    EXPECT_EQ(missing.availableNames.size(), 7u);
    EXPECT_FALSE(inspector.resolveTrack("Drums [Bus 2").header);
    EXPECT_FALSE(inspector.selectTrack("Vox"));
}

TEST_F(LogicTracksTest, ASelectionThatDoesNotLandIsReportedNotTrusted) {
    world().setKnob("arrowKeysIgnored", true);
    platform::LogCapture logs;
    EXPECT_FALSE(inspector.selectTrack("Bass"));
    EXPECT_TRUE(logs.contains("[selectTrackViaKeyboard] after navigation, strip name='Kick' (verified=no)"));
    EXPECT_TRUE(logs.contains("SelectTrack: keyboard navigation failed for 'Bass'"));
    EXPECT_FALSE(inspector.selectAndVerifyTrack("Bass"));

    // A strip that follows within the half-second wait verifies; a slower one does not.
    load(standin::testing::demoSong());
    world().setKnob("lateStripUpdate", 0.4);
    EXPECT_TRUE(inspector.selectAndVerifyTrack("Bass"));
    world().setKnob("lateStripUpdate", 0.6);
    platform::LogCapture slow;
    EXPECT_FALSE(inspector.selectAndVerifyTrack("Guitar"));
    EXPECT_TRUE(slow.contains("(verified=no)"));
}

TEST_F(LogicTracksTest, AHiddenInspectorIsOpenedWithTheIKey) {
    world().setKnob("inspectorVisible", false);
    auto window = inspector.findMainWindow();
    EXPECT_EQ(inspector.readChannelStrip(*window), (nlohmann::json{{"error", "Mixer area not found"}}));
    ASSERT_TRUE(inspector.selectTrack("Bass"));
    EXPECT_TRUE(world().ui().inspectorVisible);
}

TEST_F(LogicTracksTest, FoldersExpandAndCollapseByChordAndReportTheirState) {
    auto drums = inspector.resolveTrack("Drums").header;
    ASSERT_TRUE(drums);
    auto already = inspector.setFolderExpanded(*drums, true);
    EXPECT_EQ(already.message, "Folder 'Drums' is already expanded.");
    auto collapsed = inspector.setFolderExpanded(*drums, false);
    EXPECT_TRUE(collapsed.success);
    EXPECT_EQ(collapsed.message, "Collapsed folder 'Drums'.");
    EXPECT_FALSE(inspector.resolveTrack("Kick").header);  // hidden inside the folder
    drums = inspector.resolveTrack("Drums").header;
    EXPECT_EQ(inspector.isFolderExpanded(*drums), false);
    EXPECT_EQ(inspector.setFolderExpanded(*drums, true).message, "Expanded folder 'Drums'.");
    EXPECT_TRUE(inspector.resolveTrack("Kick").header);
    auto bass = inspector.resolveTrack("Bass").header;
    EXPECT_EQ(inspector.setFolderExpanded(*bass, true).message, "Track 'Bass' is not a folder.");
}

TEST_F(LogicTracksTest, StripOfATrackWithInsertsSendsAndABusInput) {
    world().mutateProject([](standin::Project& p) { p.track("Lead Vox")->strip.input = "Bus 4"; });
    auto window = inspector.selectAndVerifyTrack("Lead Vox");
    ASSERT_TRUE(window);
    auto strip = inspector.readChannelStrip(*window);
    EXPECT_EQ(strip["name"], "Lead Vox");
    EXPECT_EQ(strip["input"], "Bus 4");
    EXPECT_EQ(strip["inputBus"], "Bus 4");
    EXPECT_EQ(strip["output"], "Stereo Output");
    EXPECT_EQ(strip["sends"], (nlohmann::json{"Bus 1"}));
    EXPECT_EQ(strip["volume"], "225");
    EXPECT_EQ(strip["volumeDisplay"], "0.0 dB");
    EXPECT_EQ(strip["channelMode"], "Stereo");
    EXPECT_EQ(inspector.readTrackInputBus(*window), "Bus 4");
    EXPECT_EQ(inspector.readTrackOutput(*window), "Bus 4");  // a bus above the first slot wins
    EXPECT_EQ(inspector.readTrackOutputForName("Bass"), "Stereo Output");
}

TEST_F(LogicTracksTest, TrackContextListsTheTrackRowsWithTheirState) {
    world().mutateProject([](standin::Project& p) { p.track("Bass")->soloed = true; });
    auto context = inspector.trackContext();
    std::vector<std::string> names;
    for (const auto& t : context.tracks) names.push_back(t.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Drums", "Kick", "Snare", "Bass", "Lead Vox", "Keys", "Guitar"}));
    EXPECT_EQ(context.soloedTrackNames, std::vector<std::string>{"Bass"});
    EXPECT_EQ(context.selectedTrackNames, std::vector<std::string>{"Kick"});
    EXPECT_TRUE(context.hasSoloedTracks);
    EXPECT_TRUE(context.tracks[5].isMuted);

    world().quitLogic();
    auto closed = inspector.trackContext();
    EXPECT_TRUE(closed.tracks.empty());
    EXPECT_FALSE(closed.hasSoloedTracks);
}

TEST_F(LogicTracksTest, APluginWindowOfATrackNamedWithTracksIsNeverTheMainWindow) {
    world().setKnob("extraWindows", nlohmann::json::array({{{"title", "Drum Tracks: Compressor"}, {"front", true}}}));
    auto window = inspector.findMainWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->string("AXTitle"), "Demo Song - Tracks");
}

TEST_F(LogicTracksTest, ContextSnapshotReadsWindowsOnlyWhenAsked) {
    world().setFrontmost(logicPid());
    auto full = inspector.snapshot(true);
    EXPECT_TRUE(full.logicIsRunning);
    EXPECT_TRUE(full.logicIsFrontmost);
    EXPECT_EQ(full.focusedWindowTitle, "Demo Song - Tracks");
    ASSERT_EQ(full.windows.size(), 1u);
    EXPECT_TRUE(full.windows[0].isFocused);
    EXPECT_EQ(full.windows[0].frame.width, 1440);

    auto bare = inspector.snapshot(false);
    EXPECT_TRUE(bare.windows.empty());
    EXPECT_FALSE(bare.focusedWindowTitle);
    EXPECT_EQ(bare.processIdentifier, 4242);

    world().quitLogic();
    EXPECT_EQ(nlohmann::json(inspector.snapshot(true)),
              (nlohmann::json{{"logicIsRunning", false}, {"logicIsFrontmost", false}, {"windows", nlohmann::json::array()}}));
    world().launchLogic(false);
    world().setKnob("accessibilityTrusted", false);
    EXPECT_TRUE(inspector.snapshot(true).windows.empty());
    EXPECT_FALSE(PermissionService().currentSnapshot().accessibilityTrusted);
}

}  // namespace
}  // namespace corvane
