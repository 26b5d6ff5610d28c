#include <gtest/gtest.h>

#include "logic/logic_inspector.h"
#include "platform/log.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/fake_ax.h"
#include "test_support/temp_home.h"

namespace corvane {
namespace {

using standin::EventKind;

class LogicInspectorTracks : public standin::testing::StandinTest {
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

TEST_F(LogicInspectorTracks, HeadersCarryNumbersNamesFoldersMutesAndIndents) {
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

TEST_F(LogicInspectorTracks, SelectingByNameMovesTheSelectionByKeysAndVerifiesTheInspector) {
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
        EXPECT_EQ(inspector.readChannelStrip(selected->mainWindow).text("name"), c.lands);
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

TEST_F(LogicInspectorTracks, ASelectionThatDoesNotLandIsReportedNotTrusted) {
    world().setKnob("arrowKeysIgnored", true);
    platform::LogCapture logs;
    EXPECT_FALSE(inspector.selectTrack("Bass"));
    EXPECT_TRUE(logs.contains("[selectTrackViaKeyboard] after navigation, strip name='Kick' (verified=no)"));
    EXPECT_TRUE(logs.contains("SelectTrack: keyboard navigation failed for 'Bass'"));
    EXPECT_FALSE(inspector.selectAndVerifyTrack("Bass"));

    // A strip that follows within the bounded wait verifies; a slower one does not.
    load(standin::testing::demoSong());
    world().setKnob("lateStripUpdate", 0.4);
    EXPECT_TRUE(inspector.selectAndVerifyTrack("Bass"));
    world().setKnob("lateStripUpdate", 2.5);
    EXPECT_TRUE(inspector.selectAndVerifyTrack("Lead Vox"));
    world().setKnob("lateStripUpdate", 4);
    platform::LogCapture slow;
    EXPECT_FALSE(inspector.selectAndVerifyTrack("Guitar"));
    EXPECT_TRUE(slow.contains("(verified=no)"));
}

// Held elements may go stale at every change (while playing, all the time): the
// selection finds the window, the headers and the strip anew, and lands where it was sent.
TEST_F(LogicInspectorTracks, ASelectionOnAScreenWhoseElementsGoStaleLandsAndIsVerified) {
    for (const char* stale : {"always"}) {
        for (const bool playing : {false, true}) {
            SCOPED_TRACE(std::string(stale) + (playing ? ", playing" : ""));
            load(standin::testing::demoSong());
            world().setKnob("staleAfter", stale);
            if (playing) world().mutateProject([](standin::Project& p) { p.transport.playing = true; });
            for (const char* target : {"Bass", "Guitar", "Kick", "Lead Vox"}) {
                auto selected = inspector.selectTrack(target);
                EXPECT_TRUE(selected) << target;
                EXPECT_EQ(selectedName(), target);
            }
        }
    }
}

TEST_F(LogicInspectorTracks, AHiddenInspectorIsOpenedWithTheIKey) {
    world().setKnob("inspectorVisible", false);
    auto window = inspector.findMainWindow();
    EXPECT_EQ(inspector.readChannelStrip(*window).error, "Mixer area not found");
    ASSERT_TRUE(inspector.selectTrack("Bass"));
    EXPECT_TRUE(world().ui().inspectorVisible);
}

TEST_F(LogicInspectorTracks, FoldersExpandAndCollapseByChordAndReportTheirState) {
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

TEST_F(LogicInspectorTracks, TrackContextListsTheTrackRowsWithTheirState) {
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

TEST_F(LogicInspectorTracks, KeptPlacesFollowTheTrackListAndLogicProThroughChanges) {
    const LogicInspector::KeptPlaces places;
    auto names = [&] {
        std::vector<std::string> out;
        auto window = inspector.findMainWindow();
        if (!window) return out;
        for (const auto& h : inspector.findTrackHeaders(*window)) out.push_back(h.isFolder ? h.name + "/" : h.name);
        return out;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"Drums/", "Kick", "Snare", "Bass", "Lead Vox", "Keys", "Guitar"}));
    // Collapsing a folder and showing the output track rebuild the list the headers were found in.
    ASSERT_TRUE(inspector.setFolderExpanded(*inspector.resolveTrack("Drums").header, false).success);
    EXPECT_EQ(names(), (std::vector<std::string>{"Drums/", "Bass", "Lead Vox", "Keys", "Guitar"}));
    ASSERT_EQ(inspector.ensureMasterArrangeTrack().message,
              "Surfaced Stereo Out as Arrange track 8, at the end of the track list.");
    EXPECT_EQ(names(), (std::vector<std::string>{"Drums/", "Bass", "Lead Vox", "Keys", "Guitar", "Stereo Out"}));
    EXPECT_TRUE(inspector.resolveTrack("drums").header->isFolder);
    EXPECT_FALSE(inspector.resolveTrack("Stereo Out").header->isFolder);
    ASSERT_TRUE(inspector.selectTrack("Guitar"));
    EXPECT_EQ(selectedName(), "Guitar");

    // Logic Pro started again answers to new handles only.
    world().quitLogic();
    EXPECT_FALSE(inspector.findMainWindow());
    world().launchLogic();
    EXPECT_FALSE(names().empty());
    ASSERT_TRUE(inspector.selectTrack("Bass"));
    EXPECT_EQ(selectedName(), "Bass");
}

// --- On hand-built elements ------------------------------------------------------------------

using testing::FakeElement;
using Node = std::shared_ptr<FakeElement>;

Node el(const std::string& role, const std::string& description = {}) { return FakeElement::make(role, description); }
Node at(Node n, double x, double y) {
    return n->set("AXPosition", platform::Point{x, y})->set("AXSize", platform::Size{80, 20});
}

TEST(LogicInspectorTracksShapes, GrammarAcceptsBothQuoteKindsAndRejectsMalformedHeaders) {
    struct Case {
        const char* description;
        std::optional<std::int64_t> number;
        const char* name;
    };
    const Case cases[] = {
        {"Track 7 \u201CKick\u201D, muted", 7, "Kick"},
        {"  Track 12 \u201CBass\u201D\n", 12, "Bass"},
        {"Track 3 \"Lead Vox\"", 3, "Lead Vox"},
        {"Track +3 \u201CSnare\"", 3, "Snare"},
        {"Track -2 \"\"", -2, ""},
        {"Track 4 folder \u201CDrum Tracks\u201D", 4, "Drum Tracks"},
        {"Track 7 Kick", std::nullopt, ""},
        {"Track \u201CKick\u201D", std::nullopt, ""},
        {"Track x3 \u201CKick\u201D", std::nullopt, ""},
        {"Track 5 \u201C", std::nullopt, ""},
        {"Track 5 \u201CNo close", std::nullopt, ""},
        {"track 5 \u201CKick\u201D", std::nullopt, ""},
        {"Track 99999999999999999999 \"Big\"", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        auto parsed = LogicInspector::parseTrackDescription(c.description);
        ASSERT_EQ(parsed.has_value(), c.number.has_value()) << c.description;
        if (parsed) {
            EXPECT_EQ(parsed->number, *c.number) << c.description;
            EXPECT_EQ(parsed->name, c.name) << c.description;
        }
    }
}

TEST(LogicInspectorTracksShapes, SortedUniqueMutedFoldersAndIndents) {
    LogicInspector inspector;
    auto folder = at(el("AXGroup", "Track 1 \u201CDrums\u201D"), 100, 100)->add(el("AXDisclosureTriangle"));
    auto kick = at(el("AXGroup", "Track 2 \u201CKick\u201D, muted"), 112, 140);
    auto snare = at(el("AXGroup", "Track 3 \u201CSnare\u201D, Mute"), 118, 180);
    auto duplicate = at(el("AXGroup", "Track 2 \u201CKick copy\u201D"), 124, 220);
    auto bass = at(el("AXGroup", "Track 4 \u201CBass\u201D"), 124, 260);
    auto window = el("AXWindow")->add(el("AXGroup")->add(bass)->add(snare)->add(folder)->add(kick))->add(duplicate);

    auto headers = inspector.findTrackHeaders(window->handle());
    ASSERT_EQ(headers.size(), 4u);
    EXPECT_EQ(headers[0].name, "Drums");
    EXPECT_TRUE(headers[0].isFolder);
    EXPECT_EQ(headers[1].name, "Kick");  // the first one met wins
    EXPECT_TRUE(headers[1].isMuted);
    EXPECT_FALSE(headers[2].isMuted);  // the suffix is case-sensitive

    auto indented = inspector.findTrackHeadersWithIndent(window->handle());
    std::vector<std::int64_t> levels;
    for (const auto& i : indented) levels.push_back(i.indentLevel);
    EXPECT_EQ(levels, (std::vector<std::int64_t>{0, 1, 2, 2}));
}

TEST(LogicInspectorTracksShapes, HeadersOutsideTheTrackListAreStillFoundWhenTheListHasNone) {
    LogicInspector inspector;
    auto contents = el("AXLayoutArea", "Tracks contents")
                        ->add(at(el("AXGroup", "Track 2 \u201CBass\u201D"), 300, 140))
                        ->add(at(el("AXGroup", "Track 1 \u201CKick\u201D"), 300, 100));
    auto strip = el("AXGroup")->add(at(el("AXGroup", "Track 3 \u201CVox\u201D"), 10, 100));
    auto window = el("AXWindow")
                      ->add(el("AXGroup", "Control Bar"))
                      ->add(el("AXLayoutArea", "Mixer")->add(strip))
                      ->add(el("AXGroup", "Tracks")->add(contents));
    const std::vector<std::string> expected{"Kick", "Bass", "Vox"};
    auto names = [&] {
        std::vector<std::string> out;
        for (const auto& h : inspector.findTrackHeaders(window->handle())) out.push_back(h.name);
        return out;
    };
    EXPECT_EQ(names(), expected);
    const LogicInspector::KeptPlaces places;  // found again from where they were found
    EXPECT_EQ(names(), expected);
    EXPECT_EQ(names(), expected);
}

}  // namespace
}  // namespace corvane
