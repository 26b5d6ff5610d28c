// Every tool that selects a track before it writes or toggles reaches that track or none: not a
// second track of the same name, not the track a lagging strip still shows, and not when the
// selected track hides in a collapsed folder.

#include <gtest/gtest.h>

#include <functional>

#include "chat/chat_tool_executor.h"
#include "chat/tool_executor_fixture.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

struct Call {
    const char* tool;
    std::string args;
};

// What a tool may change of a track: mix values, switches, name and chain.
json mixOf(const standin::Project& p) {
    json tracks = json::array();
    for (const auto& t : p.tracks) {
        json inserts = json::array();
        for (const auto& slot : t.strip.inserts) inserts.push_back({slot.plugin, slot.bypassed});
        json sends = json::array();
        for (const auto& send : t.strip.sends) sends.push_back(send.detent);
        tracks.push_back({{"name", t.name},
                          {"volume", t.strip.volume},
                          {"pan", t.strip.pan},
                          {"muted", t.muted},
                          {"soloed", t.soloed},
                          {"inserts", inserts},
                          {"sends", sends}});
    }
    return tracks;
}

// The name of the first track a get_track_details answer read, or "".
std::string firstTrackRead(const json& answer) {
    const json tracks = answer.value("tracks", json::array());
    return tracks.empty() ? "" : tracks[0].value("trackName", "");
}

class ChatToolExecutorTrackTargets : public ToolExecutorTest {};

// The writing and toggling tools, each aimed at `track`.
std::vector<Call> editingCalls(const std::string& track) {
    const std::string t = "\"" + track + "\"";
    return {
        {"set_track_volume", R"({"track_name":)" + t + R"(,"value":"-6 dB"})"},
        {"set_track_pan", R"({"tracks":[{"track_name":)" + t + R"(,"value":"-20"}]})"},
        {"set_track_mute", R"({"enabled":true,"track_name":)" + t + "}"},
        {"set_track_solo", R"({"enabled":true,"track_names":[)" + t + "]}"},
        {"set_send_level", R"({"track_name":)" + t + R"(,"bus_label":"Bus 1","target_db":-6})"},
        {"rename_track", R"({"current_name":)" + t + R"(,"new_name":"Renamed"})"},
        {"set_plugin_bypass", R"({"track_name":)" + t + R"(,"plugin_index":0})"},
        {"add_plugin", R"({"track_name":)" + t + R"(,"plugin_name":"Limiter"})"},
    };
}

TEST_F(ChatToolExecutorTrackTargets, ANameTwoTracksShareIsRefusedAndNeitherTrackChanges) {
    const json scenario = standin::testing::demoSongWith({{"project",
                                                           {{"selected", "Keys"},
                                                            {"tracks",
                                                             {{{"name", "Vox"},
                                                               {"kind", "audio"},
                                                               {"volume", 100},
                                                               {"inserts", {{{"plugin", "Channel EQ"}}}},
                                                               {"sends", {{{"bus", 1}, {"levelDb", -12.0}}}}},
                                                              {{"name", "Vox"},
                                                               {"kind", "audio"},
                                                               {"volume", 200},
                                                               {"inserts", {{{"plugin", "Channel EQ"}}}},
                                                               {"sends", {{{"bus", 1}, {"levelDb", -12.0}}}}},
                                                              {{"name", "Keys"}, {"kind", "instrument"}},
                                                              {{"name", "Reverb"},
                                                               {"kind", "aux"},
                                                               {"input", "Bus 1"},
                                                               {"inArrange", false}},
                                                              {{"name", "Stereo Out"},
                                                               {"kind", "output"},
                                                               {"inArrange", false}}}}}}});
    for (const auto& call : editingCalls("Vox")) {
        SCOPED_TRACE(call.tool);
        load(scenario);
        world().mutateProject([](standin::Project& p) {  // the second Vox selected and shown
            p.selectedTrackId = p.stripTrackId = p.tracks[1].id;
        });
        const json before = mixOf(world().project());

        const json answer = oneJSON(call.tool, call.args);
        EXPECT_EQ(mixOf(world().project()), before);
        EXPECT_EQ(answer["status"], "error");
        EXPECT_NE(answer.value("message", "").find("tracks 1 and 2 are all named 'Vox'"), std::string::npos)
            << answer.dump();
    }
}

TEST_F(ChatToolExecutorTrackTargets, AStripThatLagsTheSelectionIsWaitedForNeverWrittenBeside) {
    // Within the wait: the strip catches up, and the switch reaches the track asked for.
    world().updateFaults([](standin::Faults& f) { f.lateStripUpdate = 2; });
    EXPECT_EQ(firstTrackRead(oneJSON("get_track_details", R"({"track_names":["Bass"]})")), "Bass");
    EXPECT_EQ(oneJSON("set_track_mute", R"({"enabled":true,"track_name":"Kick"})"),
              (json{{"status", "ok"}, {"message", "Muted Kick."}}));
    EXPECT_TRUE(world().project().track("Kick")->muted);
    EXPECT_FALSE(world().project().track("Bass")->muted);

    // Beyond it: after a read of Bass that did not land, no tool changes anything, and the answer
    // says which track the strip shows.
    for (const auto& call : editingCalls("Kick")) {
        SCOPED_TRACE(call.tool);
        load(standin::testing::demoSong());
        world().updateFaults([](standin::Faults& f) { f.lateStripUpdate = 6; });
        (void)oneJSON("get_track_details", R"({"track_names":["Bass"]})");
        const json before = mixOf(world().project());

        const json answer = oneJSON(call.tool, call.args);
        EXPECT_EQ(mixOf(world().project()), before);
        EXPECT_EQ(answer["status"], "error");
        const std::string message = answer.value("message", "");
        EXPECT_NE(message.find("could not be selected \u2014 Logic Pro's channel strip shows '"), std::string::npos)
            << message;
        EXPECT_NE(message.find("nothing was changed"), std::string::npos) << message;
    }
}

TEST_F(ChatToolExecutorTrackTargets, ASelectedTrackInACollapsedFolderLeavesEveryTrackReachable) {
    struct Case {
        Call call;
        std::function<void(const standin::Project&, const json&)> check;
    };
    const Case cases[] = {
        {{"set_folder_expanded", R"({"name":"Drums","expanded":true})"},
         [](const standin::Project& p, const json& answer) {
             EXPECT_TRUE(p.track("Drums")->expanded);
             EXPECT_EQ(answer, (json{{"status", "ok"}, {"message", "Expanded folder 'Drums'."}}));
         }},
        {{"get_track_details", R"({"track_names":["Bass"]})"},
         [](const standin::Project&, const json& answer) {
             EXPECT_EQ(firstTrackRead(answer), "Bass");
             EXPECT_FALSE(answer.contains("failures")) << answer.dump();
         }},
        {{"set_track_volume", R"({"track_name":"Bass","value":"-6 dB"})"},
         [](const standin::Project& p, const json& answer) {
             EXPECT_NEAR(standin::World::level(p.track("Bass")->strip.volume), -6.0, 0.3);
             EXPECT_EQ(p.track("Kick")->strip.volume, 200);
             EXPECT_EQ(answer["status"], "ok") << answer.dump();
         }},
        {{"set_track_mute", R"({"enabled":true,"track_name":"Bass"})"},
         [](const standin::Project& p, const json& answer) {
             EXPECT_TRUE(p.track("Bass")->muted);
             EXPECT_FALSE(p.track("Kick")->muted);
             EXPECT_EQ(answer, (json{{"status", "ok"}, {"message", "Muted Bass."}}));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call.tool);
        load(standin::testing::demoSong());  // Kick selected and shown
        world().mutateProject([](standin::Project& p) { p.track("Drums")->expanded = false; });
        const json answer = oneJSON(c.call.tool, c.call.args);
        c.check(world().project(), answer);
    }
}

TEST_F(ChatToolExecutorTrackTargets, ASideChainSourceTwoTracksShareIsRefused) {
    world().mutateProject([](standin::Project& p) { p.track("Guitar")->name = "Bass"; });
    const json answer =
        oneJSON("set_plugin_sidechain", R"({"track_name":"Kick","plugin_name":"Compressor","source":"Bass"})");
    EXPECT_EQ(world().project().track("Kick")->strip.inserts.at(1).sideChainSource, "None");
    EXPECT_EQ(answer["status"], "error");
    EXPECT_NE(answer.value("message", "").find("tracks 4 and 7 are all named 'Bass'"), std::string::npos)
        << answer.dump();
}

TEST_F(ChatToolExecutorTrackTargets, ASendTargetIsTheBusTrackNeverAnotherTrackBearingItsName) {
    // The bus track hidden from the list, as in the demo song, and Guitar renamed after it.
    const int guitar = world().project().track("Guitar")->id;
    const int reverb = world().project().track("Reverb")->id;
    world().mutateProject([](standin::Project& p) { p.track("Guitar")->name = "Reverb"; });
    auto sendTarget = [&] {
        signature.reset();
        const json answer = oneJSON("get_track_details", R"({"track_name":"Kick"})");
        return answer.value(json::json_pointer("/tracks/0/sendTargets/Bus 1"), answer.dump());
    };
    // Hidden, the bus track is surfaced; then listed, it cannot be told from the other.
    EXPECT_EQ(sendTarget(), "Reverb (track 8; track 7 is also named 'Reverb')");
    EXPECT_TRUE(world().project().trackById(reverb)->inArrange);
    EXPECT_EQ(sendTarget(), "Reverb (tracks 7 and 8 are all named 'Reverb')");
    const json before = mixOf(world().project());
    const json answer = oneJSON("set_track_volume", R"({"track_name":"Reverb","value":"-3 dB"})");
    EXPECT_EQ(mixOf(world().project()), before);
    EXPECT_EQ(world().project().trackById(guitar)->name, "Reverb");
    EXPECT_NE(answer.value("message", "").find("are all named 'Reverb'"), std::string::npos) << answer.dump();

    // Only a track whose strip takes the bus is its track.
    load(standin::testing::demoSong());
    world().mutateProject([](standin::Project& p) { p.track("Reverb")->inArrange = true; });
    EXPECT_EQ(oneJSON("get_track_details", R"({"track_name":"Kick"})")["tracks"][0]["sendTargets"],
              json({{"Bus 1", "Reverb"}}));
}

TEST_F(ChatToolExecutorTrackTargets, ASwitchThatReachedAnotherSelectedTrackIsPutBackOnThatTrackAlone) {
    struct Case {
        const char* tool;
        bool standin::Track::*flag;
        const char* verb;
    };
    for (const Case& c : {Case{"set_track_mute", &standin::Track::muted, "Muted"},
                          Case{"set_track_solo", &standin::Track::soloed, "Soloed"}}) {
        SCOPED_TRACE(c.tool);
        load(standin::testing::demoSong());  // Kick selected and shown
        world().shiftClickHeader("Bass");
        const json answer = oneJSON(c.tool, R"({"enabled":true,"track_names":["Kick"]})");
        const auto& p = world().project();
        EXPECT_TRUE(p.track("Kick")->*c.flag);
        EXPECT_FALSE(p.track("Bass")->*c.flag);
        EXPECT_EQ(p.selectedTrackId, p.track("Kick")->id);
        EXPECT_TRUE(p.alsoSelectedTrackIds.empty());
        EXPECT_EQ(answer["status"], "ok") << answer.dump();
        EXPECT_EQ(answer.value("message", ""),
                  std::string(c.verb) + " Kick. The press also reached 'Bass', which was put back.");
    }
}

}  // namespace
}  // namespace corvane::testing
