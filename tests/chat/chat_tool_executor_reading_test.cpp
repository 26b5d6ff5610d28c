#include <gtest/gtest.h>

#include "chat/chat_tool_executor.h"
#include "chat/tool_executor_fixture.h"
#include "model/tool_result_payloads.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

class ChatToolExecutorReading : public ToolExecutorTest {
protected:
    void collapse(const std::string& folder) {
        world().mutateProject([&](standin::Project& p) { p.track(folder)->expanded = false; });
    }
};

TEST_F(ChatToolExecutorReading, ListTracksGivesTheVisibleTrackListWithMuteAndFolderFlags) {
    collapse("Drums");
    const auto project = world().project();
    ASSERT_FALSE(project.isVisible(project.track("Kick")->id));
    ASSERT_TRUE(project.track("Keys")->muted);

    const auto result = json::parse(one("list_tracks").outputJSON).get<ListTracksResult>();
    EXPECT_EQ(result.status, "ok");
    std::vector<ListTracksResult::TrackInfo> expected;
    for (int id : project.visibleTrackIds()) {
        const standin::Track* t = project.trackById(id);
        expected.push_back({t->number, t->name, t->muted, t->kind == standin::TrackKind::folder});
    }
    EXPECT_EQ(result.tracks, expected);
    ASSERT_FALSE(result.tracks.empty());
    EXPECT_EQ(result.tracks.front().name, "Drums");
    EXPECT_TRUE(result.tracks.front().isFolder);
    EXPECT_EQ(lastRecord(),
              (ToolExecution{"list_tracks", "Listed " + std::to_string(expected.size()) + " tracks.", true}));
}

// Handles that stop answering after a few reads, or a window whose title or children fail to read
// a few times, are read again: the list is the one a healthy Logic Pro gives, folders told as folders.
TEST_F(ChatToolExecutorReading, ListTracksReadsAgainWhatFailedToAnswer) {
    const auto healthy = json::parse(one("list_tracks").outputJSON).get<ListTracksResult>();
    ASSERT_TRUE(healthy.tracks.front().isFolder);
    for (const json& fault : {json{{"staleAfter", "afterReads 3"}},
                              json{{"axError", {{"element", "window"}, {"attribute", "AXChildren"},
                                                {"code", -25204}, {"times", 2}}}},
                              json{{"axError", {{"element", "window"}, {"attribute", "AXTitle"},
                                                {"code", -25212}, {"times", 2}}}}}) {
        SCOPED_TRACE(fault.dump());
        load(standin::testing::demoSong());
        for (const auto& [knob, value] : fault.items()) world().setKnob(knob, value);
        signature.reset();  // a call of its own, not the agent repeating itself

        const json answer = oneJSON("list_tracks");

        ASSERT_EQ(answer.value("status", ""), "ok") << answer.dump();
        EXPECT_EQ(answer.get<ListTracksResult>().tracks, healthy.tracks);
    }
}

TEST_F(ChatToolExecutorReading, TheMixerWindowListedFirstIsNeverTakenForTheTrackList) {
    world().setKnob("mixerWindowFirst", true);
    ASSERT_EQ(world().ui().windows.front(), "Demo Song - Mixer");
    const auto project = world().project();

    const auto listed = json::parse(one("list_tracks").outputJSON).get<ListTracksResult>();
    EXPECT_EQ(listed.status, "ok");
    ASSERT_EQ(listed.tracks.size(), project.visibleTrackIds().size());
    EXPECT_EQ(listed.tracks.front().name, "Drums");

    const json details = oneJSON("get_track_details", R"({"track_names":["Bass"]})");
    EXPECT_EQ(world().project().selectedTrack()->name, "Bass");
    ASSERT_EQ(details["tracks"].size(), 1u);
    EXPECT_EQ(details["tracks"][0]["trackName"], "Bass");
    EXPECT_EQ(details["tracks"][0]["status"], "ok");

    // The Mixer window alone holds no track list: that is said, never an empty list.
    auto close = find(app().elements(platform::ax::kWindows)->at(1), "close", "AXButton", 2);
    ASSERT_TRUE(close);
    ASSERT_EQ(close->performAction(platform::ax::kPress), platform::AXError::success);
    ASSERT_EQ(world().ui().windows, std::vector<std::string>{"Demo Song - Mixer"});
    EXPECT_EQ(oneJSON("list_tracks"),
              json({{"status", "error"}, {"message", "Logic Pro is not running or no Tracks window found."}}));
    for (const char* tool : {"get_transport", "get_arrangement"}) {
        SCOPED_TRACE(tool);
        EXPECT_EQ(oneJSON(tool), json({{"status", "error"},
                                       {"message", "No Tracks window with the track list is open in Logic Pro."}}));
    }
    EXPECT_EQ(
        oneJSON("get_track_details", R"({"track_names":["Bass"]})")["failures"],
        json::parse(R"([{"track":"Bass","error":"No Tracks window with the track list is open in Logic Pro."}])"));
}

TEST_F(ChatToolExecutorReading, TransportIsReadFromTheControlBarAndThePlayhead) {
    world().mutateProject([](standin::Project& p) {
        p.transport.tempo = 96;
        p.transport.numerator = 6;
        p.transport.denominator = 8;
        p.transport.setPlayhead({9, 1, 1, 1});
    });
    const auto transport = world().project().transport;
    ASSERT_EQ(transport.playhead().bar, 9);

    const auto result = json::parse(one("get_transport").outputJSON).get<TransportResult>();
    EXPECT_EQ(result, (TransportResult{"ok", "96", "6/8", 9, transport.playing, transport.recording, transport.cycleOn,
                                       transport.globalSolo}));
    EXPECT_EQ(lastRecord().summary, "Read transport: bar=9, tempo=96, time sig=6/8.");

    // Switches that show "On" and "Off" read as the header toggles do.
    world().updateFaults([](standin::Faults& f) { f.toggleValueText = true; });
    world().mutateProject([](standin::Project& p) {
        p.transport.playing = true;
        p.transport.cycleOn = true;
    });
    signature.reset();
    const auto shown = json::parse(one("get_transport").outputJSON).get<TransportResult>();
    EXPECT_TRUE(shown.isPlaying);
    EXPECT_TRUE(shown.cycleEnabled);
    EXPECT_FALSE(shown.isRecording);
    EXPECT_EQ(oneJSON("control_transport", R"({"action":"stop"})")["message"], "Transport: stop.");
    EXPECT_FALSE(world().project().transport.playing);
}

TEST_F(ChatToolExecutorReading, ArrangementIsABareArrayOfTheReadersRows) {
    const auto project = world().project();
    ASSERT_EQ(project.track("Snare")->regions.size(), 1u);

    // The reader's bar scale is calibrated by the playhead.
    ASSERT_TRUE(logic.movePlayhead(11, *logic.findMainWindow()).success);
    const json all = json::parse(one("get_arrangement", "not json").outputJSON);
    ASSERT_TRUE(all.is_array());
    EXPECT_EQ(all, nlohmann::json(logic.readArrangement(*logic.findMainWindow(), std::nullopt)));
    EXPECT_EQ(lastRecord().summary, "Read arrangement: " + std::to_string(all.size()) + " tracks with regions.");

    const json snare = json::parse(one("get_arrangement", R"({"track_name":"Snare"})").outputJSON);
    ASSERT_EQ(snare.size(), 1u);
    EXPECT_EQ(lastRecord().summary, "Read arrangement: 1 track with regions.");
    EXPECT_EQ(snare[0]["name"], "Snare");
    EXPECT_EQ(snare[0]["spans"][0], json({{"startBar", 5}, {"endBar", 33}}));

    EXPECT_EQ(json::parse(one("get_arrangement", R"({"track_name":""})").outputJSON), all);
}

TEST_F(ChatToolExecutorReading, ArrangementBarsAreMeasuredWhereverThePlayheadStands) {
    // Guitar's second region runs on past the song's 64 bars.
    world().mutateProject([](standin::Project& p) { p.track("Guitar")->regions.push_back({"G2", 57, 16, false}); });
    const json expected = json::parse(R"([
        {"trackNumber":1,"name":"Drums","hasContent":false},
        {"trackNumber":2,"name":"Kick","hasContent":true,"spans":[{"startBar":1,"endBar":33}]},
        {"trackNumber":3,"name":"Snare","hasContent":true,"spans":[{"startBar":5,"endBar":33}]},
        {"trackNumber":4,"name":"Bass","hasContent":true,"spans":[{"startBar":1,"endBar":17}]},
        {"trackNumber":5,"name":"Lead Vox","hasContent":true,"spans":[{"startBar":9,"endBar":33}]},
        {"trackNumber":6,"name":"Keys","hasContent":true,"spans":[{"startBar":1,"endBar":33}]},
        {"trackNumber":7,"name":"Guitar","hasContent":true,
         "spans":[{"startBar":17,"endBar":33},{"startBar":57,"endBar":65}]}])");
    // As the song loads, off a bar's downbeat, on the last bar, and while playing.
    const struct {
        standin::PlayheadPosition at;
        bool playing;
    } cases[] = {{{1, 1, 1, 1}, false}, {{2, 3, 2, 100}, false}, {{64, 1, 1, 1}, false}, {{1, 2, 1, 1}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.at.bar) + "." + std::to_string(c.at.beat));
        world().mutateProject([&](standin::Project& p) {
            p.transport.setPlayhead(c.at);
            p.transport.playing = c.playing;
        });
        signature.reset();  // each call is a turn of its own, never a repeat
        const json answer = oneJSON("get_arrangement");
        if (!c.playing) {
            EXPECT_EQ(world().project().transport.playhead(), c.at);
        }
        EXPECT_EQ(answer, expected);
    }

    // Nothing to measure the bars by: said so, and the playhead stays.
    world().mutateProject([](standin::Project& p) {
        p.transport.playing = false;
        p.transport.setPlayhead({1, 1, 1, 1});
    });
    world().setKnob("axError", json{{"element", "Start Marker"}, {"attribute", "AXPosition"}});
    signature.reset();
    EXPECT_EQ(oneJSON("get_arrangement"),
              json({{"status", "error"},
                    {"message", "Cannot measure the bar scale: the ruler shows no start marker or playhead."}}));
    EXPECT_EQ(world().project().transport.playhead(), (standin::PlayheadPosition{1, 1, 1, 1}));
}

TEST_F(ChatToolExecutorReading, ControlTransportPressesOnlyWhatChangesTheState) {
    struct Step {
        const char* args;
        const char* message;
        bool succeeded;
        bool playingAfter;
    };
    const Step steps[] = {
        {R"({"action":"stop"})", "Transport: already stopped.", true, false},
        {R"({"action":"play"})", "Transport: play.", true, true},
        {R"({"action":"play","again":1})", "Transport: already playing.", true, true},
        {R"({"action":"Play"})", "Unknown action 'Play'. Use: play, stop, go_to_beginning.", false, true},
        {R"({"action":3})", "Missing action parameter.", false, true},
        {R"({"action":"stop"})", "Transport: stop.", true, false},
        {R"({"action":"go_to_beginning"})", "Transport: go_to_beginning.", true, false},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.args);
        world().advance(2.0);
        const json output = oneJSON("control_transport", step.args);
        EXPECT_EQ(world().project().transport.playing, step.playingAfter);
        EXPECT_EQ(output["status"], step.succeeded ? "ok" : "error");
        EXPECT_EQ(output["message"], step.message);
        EXPECT_EQ(lastRecord(), (ToolExecution{"control_transport", step.message, step.succeeded}));
    }
    EXPECT_EQ(world().project().transport.playhead().bar, 1);
}

TEST_F(ChatToolExecutorReading, WithoutLogicEveryReadingToolSaysSo) {
    world().quitLogic();
    const std::pair<const char*, const char*> cases[] = {
        {"list_tracks", "Logic Pro is not running or no Tracks window found."},
        {"get_transport", "Logic Pro is not running."},
        {"get_arrangement", "Logic Pro is not running."},
        {"control_transport", "Logic Pro is not running."},
    };
    for (const auto& [tool, message] : cases) {
        SCOPED_TRACE(tool);
        EXPECT_EQ(one(tool, R"({"action":"dance"})").outputJSON,
                  json({{"status", "error"}, {"message", message}}).dump());
        EXPECT_EQ(lastRecord(), (ToolExecution{tool, message, false}));
    }
}

}  // namespace
}  // namespace corvane::testing
