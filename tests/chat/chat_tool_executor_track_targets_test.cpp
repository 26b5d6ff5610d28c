// Every tool that selects a track before it writes or toggles reaches that track or none: not a
// second track of the same name, not the track a lagging strip still shows, and not when the
// selected track hides in a collapsed folder.

#include <gtest/gtest.h>

#include <map>

#include <functional>
#include <stop_token>

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

// The two switch tools, the track flag each sets, and the verb its answer uses.
struct SwitchTool {
    const char* tool;
    bool standin::Track::*flag;
    const char* verb;
};
constexpr SwitchTool kSwitchTools[] = {{"set_track_mute", &standin::Track::muted, "Muted"},
                                       {"set_track_solo", &standin::Track::soloed, "Soloed"}};

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

// Logic Pro lists no header for a track inside a collapsed folder: a name such a track shares with
// a shown one is refused by every tool, and the folder is left closed.
TEST_F(ChatToolExecutorTrackTargets, ANameSharedWithATrackHiddenInACollapsedFolderIsRefused) {
    auto calls = editingCalls("KICK");
    calls.push_back({"get_track_details", R"({"track_names":["KICK"]})"});
    for (const auto& call : calls) {
        SCOPED_TRACE(call.tool);
        load(standin::testing::demoSong());
        world().mutateProject([](standin::Project& p) {
            p.track("Guitar")->name = "kick";
            p.track("Kick")->name = "KICK";
            p.track("Drums")->expanded = false;
            p.selectedTrackId = p.stripTrackId = p.track("Bass")->id;
        });
        const json before = mixOf(world().project());
        const json answer = oneJSON(call.tool, call.args);
        EXPECT_EQ(mixOf(world().project()), before);
        EXPECT_FALSE(world().project().track("Drums")->expanded);
        EXPECT_NE(answer.dump().find("are all named"), std::string::npos) << answer.dump();
        EXPECT_FALSE(lastRecord().succeeded);
    }
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

// A name asked in another case reaches the one listed track it names ignoring case, never a track
// hidden from the list that bears it exactly, and the answer calls the track by its own name: said
// as asked, it would name the hidden track.
TEST_F(ChatToolExecutorTrackTargets, ANameInAnotherCaseIsAnsweredWithTheNameOfTheTrackReached) {
    for (const auto& call : editingCalls("lead vox")) {
        SCOPED_TRACE(call.tool);
        load(standin::testing::demoSong());
        world().mutateProject([](standin::Project& p) {
            standin::Track* guitar = p.track("Guitar");
            guitar->name = "lead vox";
            guitar->inArrange = false;
            guitar->strip.sends = p.track("Lead Vox")->strip.sends;
        });
        const auto& tracks = world().project().tracks;
        const auto twin = static_cast<std::size_t>(
            std::find_if(tracks.begin(), tracks.end(), [](const standin::Track& t) { return t.name == "lead vox"; }) -
            tracks.begin());
        const auto before = mixOf(world().project());
        oneJSON(call.tool, call.args);
        const auto after = mixOf(world().project());
        EXPECT_TRUE(lastRecord().succeeded) << lastRecord().summary;
        EXPECT_NE(after, before);
        EXPECT_EQ(after.at(twin), before.at(twin));
        EXPECT_EQ(lastRecord().summary.find("lead vox"), std::string::npos) << lastRecord().summary;
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

// Logic Pro's M and S act on every selected track: a target selected with others is pressed alone,
// and the selection, with the track the strip follows and the windows in front, is put back.
TEST_F(ChatToolExecutorTrackTargets, ASwitchOnATrackSelectedWithOthersLeavesTheSelectionAsItWas) {
    struct Shape {
        const char* leading;
        std::vector<const char*> shiftClicked;
        std::vector<const char*> targets;
        bool mixerInFront;
        bool staleAlways = false;  // and a plug-in window the user opened in front
    };
    const Shape shapes[] = {{"Kick", {"Bass"}, {"Kick"}, false},
                            {"Bass", {"Kick"}, {"Kick"}, false},
                            {"Bass", {"Drums", "Lead Vox"}, {"Lead Vox", "Bass"}, false},
                            {"Kick", {"Bass"}, {"Kick"}, true},
                            {"Bass", {"Kick"}, {"Bass"}, false, true},
                            {"Lead Vox", {"Kick"}, {"Kick"}, false, true}};
    for (const SwitchTool& c : kSwitchTools) {
        for (const Shape& shape : shapes) {
            SCOPED_TRACE(std::string(c.tool) + " leading " + shape.leading + (shape.mixerInFront ? ", Mixer in front" : "") +
                         (shape.staleAlways ? ", stale handles" : ""));
            load(standin::testing::demoSong());
            if (shape.mixerInFront) world().setKnob("mixerWindowFirst", true);
            if (shape.staleAlways) {
                world().openPluginWindowByHand(world().project().track("Kick")->id, 0);
                world().setKnob("staleAfter", "always");
            }
            const int leading = world().project().track(shape.leading)->id;
            world().mutateProject([&](standin::Project& p) { p.selectedTrackId = p.stripTrackId = leading; });
            for (const char* extra : shape.shiftClicked) world().shiftClickHeader(extra);
            const auto selectedBefore = world().project().selectedTrackIds();
            const auto windowsBefore = world().ui().windows;
            std::map<std::string, bool> was;
            for (const auto& t : world().project().tracks) was[t.name] = t.*c.flag;
            signature.reset();
            json names = json::array();
            for (const char* t : shape.targets) names.push_back(t);

            const json answer = oneJSON(c.tool, json{{"enabled", true}, {"track_names", names}}.dump());
            const auto& p = world().project();
            for (const auto& t : p.tracks) {
                const bool target = std::any_of(shape.targets.begin(), shape.targets.end(),
                                                [&](const char* n) { return t.name == n; });
                EXPECT_EQ(t.*c.flag, target || was[t.name]) << t.name;
            }
            EXPECT_EQ(p.selectedTrackIds(), selectedBefore);
            EXPECT_EQ(p.stripTrackId, leading);
            EXPECT_EQ(world().ui().windows, windowsBefore);
            std::string said = std::string(c.verb) + " ";
            for (std::size_t i = 0; i < shape.targets.size(); ++i) said += (i ? ", " : "") + std::string(shape.targets[i]);
            EXPECT_EQ(answer, (json{{"status", "ok"}, {"message", said + "."}}));
        }
    }
    // A target outside the selection is reached from the track the strip follows, and selected alone.
    load(standin::testing::demoSong());
    const int bass = world().project().track("Bass")->id;
    world().mutateProject([&](standin::Project& p) { p.selectedTrackId = p.stripTrackId = bass; });
    world().shiftClickHeader("Kick");
    EXPECT_EQ(oneJSON("set_track_mute", R"({"enabled":true,"track_name":"Lead Vox"})"),
              (json{{"status", "ok"}, {"message", "Muted Lead Vox."}}));
    EXPECT_EQ(world().project().selectedTrackIds(), std::vector<int>{world().project().track("Lead Vox")->id});
    for (const char* other : {"Kick", "Bass"}) EXPECT_FALSE(world().project().track(other)->muted) << other;
}

// The menu lists every track, those in collapsed folders too, by its own name only.
TEST_F(ChatToolExecutorTrackTargets, ASideChainTakesTheTrackOfExactlyThatNameAndSaysWhatLogicShows) {
    const std::string vox = R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":)";
    auto source = [this] { return world().project().track("Lead Vox")->strip.inserts.at(1).sideChainSource; };

    // A name another track's name starts with, halved to from either side.
    for (const char* renamed : {"Kick 2", "Kick Sub", "kick  2"}) {
        SCOPED_TRACE(renamed);
        load(standin::testing::demoSong());
        world().mutateProject([&](standin::Project& p) { p.track("Bass")->name = renamed; });
        auto answer = oneJSON("set_plugin_sidechain", vox + R"("Kick"})");
        EXPECT_EQ(source(), "Kick");
        EXPECT_EQ(answer,
                  (json{{"status", "ok"}, {"message", "Compressor on Lead Vox: Side Chain: None \u2192 Kick"}}));
        answer = oneJSON("set_plugin_sidechain", vox + "\"" + renamed + "\"}");
        EXPECT_EQ(source(), renamed);
        EXPECT_EQ(answer["message"], std::string("Compressor on Lead Vox: Side Chain: Kick \u2192 ") + renamed);
    }

    // A track inside a collapsed folder is still offered, under its own name.
    load(standin::testing::demoSong());
    world().mutateProject([](standin::Project& p) { p.track("Drums")->expanded = false; });
    EXPECT_EQ(oneJSON("set_plugin_sidechain", vox + R"("Bass"})")["message"],
              "Compressor on Lead Vox: Side Chain: None \u2192 Bass");
    EXPECT_EQ(source(), "Bass");

    // The answer names the source as the selector shows it.
    EXPECT_EQ(oneJSON("set_plugin_sidechain", vox + R"("bus 1"})")["message"],
              "Compressor on Lead Vox: Side Chain: Bass \u2192 Bus 1");
    EXPECT_EQ(source(), "Bus 1");
}

// A track a collapsed folder hides has no header to select: refused without saying it is missing,
// and the folder left shut.
TEST_F(ChatToolExecutorTrackTargets, ATargetACollapsedFolderHidesIsRefusedAsUnlistedNotAsMissing) {
    std::vector<Call> calls;
    for (const auto& call : editingCalls("Snare"))
        if (call.tool != std::string("set_track_volume") && call.tool != std::string("set_track_pan") &&
            call.tool != std::string("set_track_mute") && call.tool != std::string("set_track_solo"))
            calls.push_back(call);
    calls.push_back({"remove_plugin", R"({"track_name":"Snare","plugin_index":0})"});
    calls.push_back({"set_plugin_parameter",
                     R"({"track_name":"Snare","plugin_name":"Compressor","parameter_name":"Threshold","value":"-20"})"});
    calls.push_back({"set_plugin_sidechain", R"({"track_name":"Snare","plugin_index":0,"source":"Kick"})"});
    for (const auto& call : calls) {
        SCOPED_TRACE(call.tool);
        load(standin::testing::demoSong());
        world().mutateProject([](standin::Project& p) { p.track("Drums")->expanded = false; });
        const json before = mixOf(world().project());

        const json answer = oneJSON(call.tool, call.args);
        EXPECT_EQ(mixOf(world().project()), before);
        EXPECT_FALSE(world().project().track("Drums")->expanded);
        EXPECT_EQ(answer["status"], "error");
        const std::string message = answer.value("message", "");
        EXPECT_NE(message.find("'Snare' is not among the tracks Logic Pro's track list shows; a collapsed folder may "
                               "hold it"),
                  std::string::npos)
            << message;
        EXPECT_EQ(message.find("not found"), std::string::npos) << message;
    }
}

TEST_F(ChatToolExecutorTrackTargets, ASideChainSourceOnlyACollapsedFolderHoldsIsTakenAndTheFolderLeftShut) {
    const std::string vox = R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":)";
    auto source = [this] { return world().project().track("Lead Vox")->strip.inserts.at(1).sideChainSource; };
    auto untouched = [this] {
        EXPECT_FALSE(world().project().track("Drums")->expanded);
        EXPECT_EQ(world().ui().openMenu, "");
        EXPECT_TRUE(world().ui().pluginWindows.empty());
    };
    for (const char* directSet : {"ignore", "accept"}) {
        SCOPED_TRACE(directSet);
        load(standin::testing::demoSong());
        world().setKnob("popupDirectSet", directSet);
        world().mutateProject([](standin::Project& p) { p.track("Drums")->expanded = false; });

        json answer = oneJSON("set_plugin_sidechain", vox + R"("Kick"})");
        EXPECT_EQ(source(), "Kick");
        untouched();
        EXPECT_EQ(answer, (json{{"status", "ok"}, {"message", "Compressor on Lead Vox: Side Chain: None \u2192 Kick"}}));

        // Named in another case: the answer says what the selector shows.
        answer = oneJSON("set_plugin_sidechain", vox + R"(" snare"})");
        EXPECT_EQ(source(), "Snare");
        untouched();
        EXPECT_EQ(answer["message"], "Compressor on Lead Vox: Side Chain: Kick \u2192 Snare") << answer.dump();

        // A name no track bears, shown or hidden, changes nothing.
        answer = oneJSON("set_plugin_sidechain", vox + R"("Kik"})");
        EXPECT_EQ(source(), "Snare");
        untouched();
        EXPECT_EQ(answer["status"], "error") << answer.dump();
    }
}

TEST_F(ChatToolExecutorTrackTargets, ASideChainSourceNamedLikeAHiddenTrackIsRefused) {
    const std::string vox = R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":"Kick"})";
    auto refused = [&](const json& answer) {
        EXPECT_EQ(answer["status"], "error") << answer.dump();
        EXPECT_NE(answer.value("message", "").find("cannot be told apart; nothing was changed"), std::string::npos)
            << answer.dump();
        EXPECT_EQ(world().ui().openMenu, "");
        EXPECT_TRUE(world().ui().pluginWindows.empty());
    };
    // Drums, holding Kick, collapsed, and Guitar renamed after it; a value written to the selector
    // directly would take either.
    for (const char* directSet : {"ignore", "accept"}) {
        SCOPED_TRACE(directSet);
        load(standin::testing::demoSong());
        world().setKnob("popupDirectSet", directSet);
        world().mutateProject([](standin::Project& p) {
            p.track("Guitar")->name = "Kick";
            p.track("Drums")->expanded = false;
        });
        signature.reset();
        refused(oneJSON("set_plugin_sidechain", vox));
        EXPECT_EQ(world().project().track("Lead Vox")->strip.inserts.at(1).sideChainSource, "None");
    }
    // Already keyed from the name: which of the two is meant is still unknown.
    load(standin::testing::demoSong());
    world().mutateProject([](standin::Project& p) {
        p.track("Guitar")->name = "Kick";
        p.track("Drums")->expanded = false;
        p.track("Lead Vox")->strip.inserts.at(1).sideChainSource = "Kick";
    });
    signature.reset();
    refused(oneJSON("set_plugin_sidechain", vox));
    EXPECT_EQ(world().project().track("Lead Vox")->strip.inserts.at(1).sideChainSource, "Kick");

    // A collapsed folder at the end of the list leaves no gap in the numbers shown.
    load(standin::testing::demoSongWith({{"project",
                                          {{"selected", "Lead Vox"},
                                           {"tracks",
                                            {{{"name", "Kick"}, {"kind", "audio"}},
                                             {{"name", "Lead Vox"},
                                              {"kind", "audio"},
                                              {"inserts", {{{"plugin", "Compressor"}, {"sideChain", "None"}}}}},
                                             {{"name", "Stack"},
                                              {"kind", "folder"},
                                              {"expanded", false},
                                              {"children", {{{"name", "Kick"}, {"kind", "audio"}}}}}}}}}}));
    refused(oneJSON("set_plugin_sidechain", R"({"track_name":"Lead Vox","plugin_index":0,"source":"Kick"})"));
    EXPECT_EQ(world().project().track("Lead Vox")->strip.inserts.at(0).sideChainSource, "None");
}

// Logic Pro's M and S act on every selected track, those a collapsed folder hides too: the target
// is pressed alone, and the answer says the hidden one is no longer selected.
TEST_F(ChatToolExecutorTrackTargets, ASwitchNeverReachesASelectedTrackInACollapsedFolder) {
    for (const SwitchTool& c : kSwitchTools) {
        for (const bool withShown : {false, true}) {
            SCOPED_TRACE(std::string(c.tool) + (withShown ? " with Guitar selected too" : ""));
            load(standin::testing::demoSong());
            const int bass = world().project().track("Bass")->id;
            world().mutateProject([&](standin::Project& p) { p.selectedTrackId = p.stripTrackId = bass; });
            world().shiftClickHeader("Kick");
            if (withShown) world().shiftClickHeader("Guitar");
            world().mutateProject([](standin::Project& p) { p.track("Drums")->expanded = false; });
            signature.reset();

            const json answer = oneJSON(c.tool, R"({"enabled":true,"track_name":"Bass"})");
            const auto& p = world().project();
            EXPECT_TRUE(p.track("Bass")->*c.flag);
            EXPECT_FALSE(p.track("Kick")->*c.flag);
            EXPECT_FALSE(p.track("Snare")->*c.flag);
            EXPECT_FALSE(p.track("Guitar")->*c.flag);
            std::vector<int> selected{bass};
            if (withShown) selected.push_back(p.track("Guitar")->id);
            EXPECT_EQ(p.selectedTrackIds(), selected);
            EXPECT_EQ(answer, (json{{"status", "ok"},
                                    {"message", std::string(c.verb) + " Bass. " + (withShown ? "Bass, Guitar are" : "Bass is") +
                                                    " selected now, without any track a collapsed folder hides, "
                                                    "which the press would have reached too."}}));
        }
    }
}

// A Stop while the selection is put back: every step is still taken, without its pauses, and the
// call answers within half a second, with the selection as it was or the target alone and said.
// The same at every moment of a selection extended upwards or into a folder collapsed since.
TEST_F(ChatToolExecutorTrackTargets, AStopWhileTheSelectionIsPutBackIsAnsweredQuicklyAndLeavesItWhole) {
    struct Shape {
        const char* leading;
        const char* extra;  // Shift-clicked
        const char* target;
        bool collapsed;  // Drums collapsed after
    };
    for (const Shape& shape : {Shape{"Kick", "Bass", "Kick", false}, Shape{"Bass", "Kick", "Bass", false},
                               Shape{"Bass", "Kick", "Kick", false}, Shape{"Bass", "Kick", "Bass", true}}) {
        std::vector<int> selectedBefore;
        auto run = [&](std::optional<double> stopAfter) {
            load(standin::testing::demoSong());
            const int leading = world().project().track(shape.leading)->id;
            world().mutateProject([&](standin::Project& p) { p.selectedTrackId = p.stripTrackId = leading; });
            world().shiftClickHeader(shape.extra);
            if (shape.collapsed) world().mutateProject([](standin::Project& p) { p.track("Drums")->expanded = false; });
            selectedBefore = world().project().selectedTrackIds();
            signature.reset();
            auto stop = std::make_shared<std::stop_source>();
            const double start = world().virtualSeconds();
            if (stopAfter) world().at(start + *stopAfter, [stop] { stop->request_stop(); });
            executor->executeToolCalls(
                {toolCall("c", "set_track_mute",
                          std::string(R"({"enabled":true,"track_name":")") + shape.target + "\"}")},
                request, threadID, roundIndex++, projectName, installedPlugins, toolsUsed, signature,
                stop->get_token());
            return world().virtualSeconds() - start;
        };
        const double whole = run(std::nullopt);
        for (double at = 0; at < whole + 0.05; at += 0.01) {
            SCOPED_TRACE(std::string(shape.target) + " of " + shape.leading + " with " + shape.extra +
                         (shape.collapsed ? " hidden" : "") + ", stopped at " + std::to_string(at));
            const double took = run(at);
            EXPECT_LE(took, at + 0.5);
            const auto& p = world().project();
            for (const char* other : {shape.leading, shape.extra})
                if (std::string(other) != shape.target) {
                    EXPECT_FALSE(p.track(other)->muted) << other;
                }
            const std::string& said = lastRecord().summary;
            const auto selected = p.selectedTrackIds();
            if (selected != selectedBefore) {  // a Stop amid the keys leaves one track selected on the way
                ASSERT_EQ(selected.size(), 1u);
                const std::string name = p.trackById(selected.front())->name;
                EXPECT_TRUE(said.find("select") != std::string::npos && said.find(name) != std::string::npos)
                    << said;
            }
            if (p.track(shape.target)->muted) {
                EXPECT_EQ(said.find(std::string("Not done: ") + shape.target), std::string::npos) << said;
            }
        }
    }
}

}  // namespace
}  // namespace corvane::testing
