// The user's Stop while a tool is in the middle of its steps, on the stand-in in virtual time.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "chat/chat_orchestrator.h"
#include "chat/turn_services.h"
#include "platform/standin/standin_fixture.h"
#include "platform/standin/taper.h"
#include "plugins/plugin_editors_fixture.h"
#include "plugins/plugin_map_store.h"
#include "support/files.h"
#include "test_support/scripted_chat_backend.h"
#include "test_support/temp_home.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

class TurnStopTest : public standin::testing::StandinTest, protected ScriptedTurns {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        threadID = conversations.createThread(std::string("Demo Song")).currentThreadID;
        backend.setAuthTokenProvider([] { return std::optional<std::string>("token"); });
    }
    void TearDown() override {
        orchestrator.reset();
        world().drainMainQueue();
        StandinTest::TearDown();
    }

    ChatResponse run() {
        ChatRequest request;
        request.message = "Pull Kick and Bass down, then listen";
        request.threadID = threadID;
        std::optional<ChatResponse> response;
        for (const auto& event : orchestrator->handleChatStreaming(request)->collect())
            if (auto* f = std::get_if<AgentEvent::FinalResponse>(&event.value)) response = f->response;
        world().drainMainQueue();
        logger.drain();
        EXPECT_TRUE(response);
        return response.value_or(ChatResponse{});
    }

    // One call through the tool dispatcher, with the user's Stop `after` virtual seconds into it
    // (none: nothing stops it).
    struct Call {
        ToolExecution record;
        double took = 0;  // virtual seconds from its start to its answer
    };
    Call call(const std::string& tool, const std::string& args, std::optional<double> after) {
        auto stop = std::make_shared<std::stop_source>();
        const double start = world().virtualSeconds();
        if (after) world().at(start + *after, [stop] { stop->request_stop(); });
        ChatRequest request;
        request.message = "Mix it";
        request.threadID = threadID;
        std::optional<InstalledPluginInventory> installed;
        std::vector<ToolExecution> used;
        std::optional<std::string> signature;
        orchestrator->toolExecutor().executeToolCalls({{"c", tool, args}}, request, threadID, 0,
                                                      std::string("Demo Song"), installed, used, signature,
                                                      stop->get_token());
        return {used.at(0), world().virtualSeconds() - start};
    }

    // Every moment of a call on `scenario`, `step` apart, from its start to just past its end
    // when nothing stops it.
    std::vector<double> everyMoment(const json& scenario, const std::string& tool, const std::string& args,
                                    double step = 0.05) {
        load(scenario);
        const double whole = call(tool, args, std::nullopt).took;
        std::vector<double> moments;
        for (int i = 0; i * step < whole + 0.1; ++i) moments.push_back(i * step);
        return moments;
    }

    // What the mix is made of, per track: level, pan, switches, sends and automation.
    using TrackMix = std::tuple<int, int, bool, bool, std::vector<int>, std::string, bool>;
    std::map<std::string, TrackMix> mix() {
        std::map<std::string, TrackMix> tracks;
        for (const auto& t : world().project().tracks) {
            std::vector<int> sends;
            for (const auto& send : t.strip.sends) sends.push_back(send.detent);
            tracks[t.name] = {t.strip.volume,          t.strip.pan, t.muted, t.soloed, sends, t.strip.automation.mode,
                              t.strip.automation.power};
        }
        return tracks;
    }

    // Nothing left open where the next keys land.
    void expectNothingOpen() {
        const auto ui = world().ui();
        EXPECT_EQ(ui.openMenu, "");
        EXPECT_TRUE(ui.openSubmenus.empty());
        EXPECT_FALSE(ui.renaming) << ui.renaming->text;
    }

    static bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

    std::string threadID;
};

std::vector<std::string> chainOf(const standin::Track& track) {
    std::vector<std::string> names;
    for (const auto& slot : track.strip.inserts) names.push_back(slot.plugin);
    return names;
}

// Stop comes while set_track_volume is between its steps, before the listen after it: the call
// ends at its next pause, the turn within half a second of the click, the listen never starts,
// and the call's answer says whether it had touched Logic Pro and what the strip shows now.
TEST_F(TurnStopTest, StopBetweenAToolsStepsEndsItAtItsNextPause) {
    struct Case {
        const char* label;
        double stopAfter;  // virtual seconds into the turn
        std::string selected;
        std::string answer;
    };
    const std::vector<Case> cases{
        {"while Logic Pro comes to the front", 0.05, "Kick",
         "Stopped by the user before set_track_volume finished; nothing had been sent to Logic Pro, so nothing "
         "changed."},
        {"while the selection settles", 0.4, "Bass",
         "Stopped by the user before set_track_volume finished; it had already acted on Logic Pro. Not done: Bass. "
         "The selected track is now 'Bass', volume -8.0 dB, pan -10. Check it before doing more."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        load(standin::testing::demoSong());
        const int bassBefore = world().project().track("Bass")->strip.volume;
        const auto playheadBefore = world().project().transport.positionTicks;
        const std::size_t requestsBefore = transport->requests().size();
        // The one reply: a second request would find none.
        transport->reply(callsReply({{"v", "set_track_volume", R"({"track_name":"Bass","value":"-6 dB"})"},
                                     {"l", "listen_to_playback", R"({"duration_seconds":4,"start_bar":1})"}}));

        const double start = world().virtualSeconds();
        world().at(start + c.stopAfter, [this] { orchestrator->cancelCurrentTurn(); });
        const ChatResponse response = run();

        EXPECT_LE(world().virtualSeconds() - start, c.stopAfter + 0.5);
        EXPECT_EQ(world().project().track("Bass")->strip.volume, bassBefore);
        EXPECT_EQ(world().project().selectedTrack()->name, c.selected);
        EXPECT_FALSE(world().project().transport.playing);
        EXPECT_EQ(world().project().transport.positionTicks, playheadBefore);
        EXPECT_EQ(transport->requests().size(), requestsBefore + 1);
        EXPECT_EQ(response.assistantMessage, "");
        ASSERT_EQ(response.toolsUsed.size(), 2u);
        EXPECT_EQ(response.toolsUsed[0].summary, c.answer);
        EXPECT_FALSE(response.toolsUsed[0].succeeded);
        EXPECT_EQ(response.toolsUsed[1].summary, ChatToolExecutor::kStoppedCallMessage);
    }
}

// A turn stopped because the program was ending was stored as stopped by the user. Wherever the
// ending comes (a step of a track write, a listen's preparation or its playing), the calls and the
// turn's log say that Corvane was ending, and nothing says the user stopped it.
TEST_F(TurnStopTest, ATurnStoppedByTheEndingSaysCorvaneWasEnding) {
    bool midway = false, listen = false;
    for (double at = 0.05; at < 6; at += 0.5) {
        SCOPED_TRACE("ending at " + std::to_string(at));
        load(standin::testing::demoSong());
        orchestrator = std::make_unique<ChatOrchestrator>(
            ChatOrchestrator::Services{inventory, backend, conversations, memories, logic, plugins, logger, {}},
            ChatOrchestrator::Providers{});
        transport->reply(callsReply({{"v", "set_track_volume", R"({"track_name":"Bass","value":"-6 dB"})"},
                                     {"l", "listen_to_playback", R"({"duration_seconds":4,"start_bar":1})"}}));
        const double start = world().virtualSeconds();
        world().at(start + at, [this] { orchestrator->stopForEnding(); });
        const ChatResponse response = run();
        if (world().virtualSeconds() - start < at) continue;  // over before the ending

        ASSERT_EQ(response.toolsUsed.size(), 2u);
        for (const auto& record : response.toolsUsed) EXPECT_FALSE(has(record.summary, "by the user")) << record.summary;
        midway = midway || response.toolsUsed[0].summary.starts_with(
                               "Stopped as Corvane was ending, before set_track_volume finished");
        listen = listen || response.toolsUsed[1].summary.starts_with("Stopped as Corvane was ending, ");
        const auto logs = logger.recentLogPaths(1);
        ASSERT_EQ(logs.size(), 1u);
        const auto log = json::parse(readFile(logs[0].url).bytes);
        EXPECT_EQ(log.value("agentResponse", ""), "ERROR: The turn was stopped as Corvane was ending.");
    }
    EXPECT_TRUE(midway);
    EXPECT_TRUE(listen);
}

// A strip that lags the selection still shows the track selected before: the stopped call's
// answer names the track the list shows selected, not the strip's, even when the strip's track
// bears its name in another case.
TEST_F(TurnStopTest, AStoppedCallNamesTheSelectedTrackWhileTheStripLags) {
    for (const bool caseTwinShownBefore : {false, true}) {
        SCOPED_TRACE(caseTwinShownBefore ? "strip on a track named 'bass', hidden from the list" : "strip on Kick");
        load(standin::testing::demoSong());
        if (caseTwinShownBefore)
            world().mutateProject([](standin::Project& p) {
                standin::Track* guitar = p.track("Guitar");
                guitar->name = "bass";
                guitar->inArrange = false;
                p.selectedTrackId = p.stripTrackId = guitar->id;
            });
        world().setKnob("lateStripUpdate", 0.9);
        transport->reply(callsReply({{"v", "set_track_volume", R"({"track_name":"Bass","value":"-6 dB"})"}}));
        const double start = world().virtualSeconds();
        world().at(start + 0.4, [this] { orchestrator->cancelCurrentTurn(); });
        const ChatResponse response = run();

        EXPECT_EQ(world().project().selectedTrack()->name, "Bass");
        ASSERT_EQ(response.toolsUsed.size(), 1u);
        EXPECT_EQ(response.toolsUsed[0].summary,
                  "Stopped by the user before set_track_volume finished; it had already acted on Logic Pro. Not done: "
                  "Bass. The selected track is now 'Bass'. Check it before doing more.");
    }
}

// Stop between the tracks of a call that acts on several: the first track stays changed, the
// second is not touched, and the answer names the one that was changed and the one that was not.
TEST_F(TurnStopTest, StopBetweenTracksSaysWhichTracksWereChanged) {
    struct Case {
        const char* tool;
        const char* args;
        double stopAfter;  // after the first track's change, before the second's
        std::string answer;
    };
    const std::vector<Case> cases{
        {"set_track_volume",
         R"({"tracks":[{"track_name":"Bass","value":"-14 dB"},{"track_name":"Guitar","value":"-10 dB"}]})", 1.3,
         "Stopped by the user before set_track_volume finished; it had already acted on Logic Pro. Already done: Bass "
         "volume: -8.0 dB \u2192 -14.0 dB. Not done: Guitar. The selected track is now 'Guitar', volume 0.0 dB, pan "
         "20. "
         "Check it before doing more."},
        {"set_track_mute", R"({"track_names":["Bass","Guitar"],"enabled":true})", 1.0,
         "Stopped by the user before set_track_mute finished; it had already acted on Logic Pro. Already done: Bass "
         "muted. Not done: Guitar. The selected track is now 'Keys', volume 0.0 dB, pan 0, muted. Check it before "
         "doing "
         "more."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        load(standin::testing::demoSong());
        const auto guitarBefore = *world().project().track("Guitar");
        transport->reply(callsReply({{"c", c.tool, c.args}}));

        const double start = world().virtualSeconds();
        world().at(start + c.stopAfter, [this] { orchestrator->cancelCurrentTurn(); });
        const ChatResponse response = run();

        const auto project = world().project();
        const auto& bass = *project.track("Bass");
        const auto& guitar = *project.track("Guitar");
        if (std::string(c.tool) == "set_track_volume")
            EXPECT_EQ(bass.strip.volume, standin::World::rawFor(-14.0));
        else
            EXPECT_TRUE(bass.muted);
        EXPECT_EQ(guitar.strip.volume, guitarBefore.strip.volume);
        EXPECT_EQ(guitar.muted, guitarBefore.muted);
        ASSERT_EQ(response.toolsUsed.size(), 1u);
        EXPECT_EQ(response.toolsUsed[0].summary, c.answer);
        EXPECT_FALSE(response.toolsUsed[0].succeeded);
    }
}

// A Stop at any moment of a call that opens a menu or the rename field: the call closes it (nothing
// chosen, the old name kept) before it answers, within half a second, so the next tool's keys
// reach the tracks; the project holds either the whole change or none of it.
TEST_F(TurnStopTest, AStoppedCallLeavesNoMenuOrNameFieldOpen) {
    struct Case {
        const char* tool;
        const char* args;
        std::vector<std::vector<std::string>> chains;  // Kick's chain: as before, or as the whole call leaves it
        std::vector<std::string> names;                // Kick's name: the same
    };
    const std::vector<Case> cases{
        {"remove_plugin",
         R"({"track_name":"Kick","plugin_name":"Channel EQ"})",
         {{"Channel EQ", "Compressor"}, {"Compressor"}},
         {"Kick"}},
        {"add_plugin",
         R"({"track_name":"Kick","plugin_name":"Limiter"})",
         {{"Channel EQ", "Compressor"}, {"Channel EQ", "Compressor", "Limiter"}},
         {"Kick"}},
        {"rename_track",
         R"({"current_name":"Kick","new_name":"Kik"})",
         {{"Channel EQ", "Compressor"}},
         {"Kick", "Kik"}},
        {"reorder_plugin",
         R"({"track_name":"Kick","from_index":0,"to_index":1})",
         {{"Channel EQ", "Compressor"}, {"Compressor", "Channel EQ"}},
         {"Kick"}},
    };
    for (const auto& c : cases) {
        for (const double at : everyMoment(standin::testing::demoSong(), c.tool, c.args)) {
            SCOPED_TRACE(std::string(c.tool) + " stopped at " + std::to_string(at));
            load(standin::testing::demoSong());
            const int kick = world().project().track("Kick")->id;
            const auto before = *world().project().track("Kick");
            const auto chainBefore = chainOf(before);

            const auto stopped = call(c.tool, c.args, at);

            EXPECT_LE(stopped.took, at + 0.5);
            expectNothingOpen();
            const auto after = *world().project().trackById(kick);
            EXPECT_NE(std::find(c.chains.begin(), c.chains.end(), chainOf(after)), c.chains.end());
            EXPECT_NE(std::find(c.names.begin(), c.names.end(), after.name), c.names.end()) << after.name;
            const bool unchanged = chainOf(after) == chainBefore && after.name == before.name;
            if (unchanged) {
                EXPECT_FALSE(stopped.record.succeeded) << stopped.record.summary;
                EXPECT_TRUE(has(stopped.record.summary, "Stopped by the user before")) << stopped.record.summary;
            } else if (!stopped.record.succeeded) {
                EXPECT_TRUE(has(stopped.record.summary, "it had already acted on Logic Pro")) << stopped.record.summary;
            }
            // Acting on Logic Pro (a track selected) says whether the chain asked about was touched.
            if (chainOf(after) == chainBefore && std::string(c.tool) != "rename_track" &&
                has(stopped.record.summary, "it had already acted on Logic Pro")) {
                EXPECT_TRUE(has(stopped.record.summary, "No plug-in was moved, added or removed: Kick's plug-ins are "
                                                        "still Channel EQ, Compressor"))
                    << stopped.record.summary;
            }

            // The next tool's keys go to the track, and nothing else changes with them.
            const auto muted =
                call("set_track_mute", json{{"track_names", {after.name}}, {"enabled", true}}.dump(), std::nullopt);
            const auto now = *world().project().trackById(kick);
            EXPECT_TRUE(now.muted);
            EXPECT_EQ(now.name, after.name);
            EXPECT_TRUE(muted.record.succeeded) << muted.record.summary;
        }
    }
}

// A reading tool steps a send up and back, and switches a strip's automation on and off: a Stop
// never splits such a pair, and the mix is as it was whatever moment the Stop comes.
TEST_F(TurnStopTest, AStoppedReadingToolLeavesTheMixAsItFoundIt) {
    struct Case {
        const char* tool;
        const char* args;
        const char* shown;  // what a stopped answer says once the bus's track is in the list
    };
    const std::vector<Case> cases{
        {"get_track_details", R"({"track_name":"Kick"})", "Reverb (the track of Bus 1) is now shown in the track list"},
        {"ensure_bus_track", R"({"source_track":"Kick","bus_label":"B 1"})",
         "Reverb (the track of B 1) is now shown in the track list"},
    };
    for (const auto& c : cases) {
        for (const double at : everyMoment(standin::testing::demoSong(), c.tool, c.args)) {
            SCOPED_TRACE(std::string(c.tool) + " stopped at " + std::to_string(at));
            load(standin::testing::demoSong());
            const auto before = mix();

            const auto stopped = call(c.tool, c.args, at);

            EXPECT_LE(stopped.took, at + 0.5);
            EXPECT_EQ(mix(), before);
            expectNothingOpen();
            if (!stopped.record.succeeded) {
                EXPECT_TRUE(has(stopped.record.summary, "Stopped by the user before")) << stopped.record.summary;
            }
            // The call's one lasting change, the bus's track put into the list, is named (the
            // answer of ensure_bus_track that ends gives the track's name its own way).
            const bool ended = stopped.record.succeeded && std::string(c.tool) == "ensure_bus_track";
            if (world().project().track("Reverb")->inArrange && !ended) {
                EXPECT_TRUE(has(stopped.record.summary, c.shown)) << stopped.record.summary;
            }
        }
    }
}

// A Stop while a track is being switched or its fader searched: the step is finished, and the
// answer names every track that differs from before, never a changed one as not done.
TEST_F(TurnStopTest, AStoppedTrackWriteNamesEveryTrackItChanged) {
    struct Case {
        const char* tool;
        const char* args;
        std::string done;  // what the answer says of Bass once it is changed
    };
    const std::vector<Case> cases{
        {"set_track_mute", R"({"track_names":["Bass"],"enabled":true})", "Bass muted"},
        {"set_track_volume", R"({"track_name":"Bass","value":"-14 dB"})", "Bass volume: -8.0 dB \u2192 -14.0 dB"},
    };
    for (const auto& c : cases) {
        // The switch's own moment is short: every hundredth of a second.
        for (const double at : everyMoment(standin::testing::demoSong(), c.tool, c.args, 0.01)) {
            SCOPED_TRACE(std::string(c.tool) + " stopped at " + std::to_string(at));
            load(standin::testing::demoSong());
            auto before = mix();

            const auto stopped = call(c.tool, c.args, at);

            EXPECT_LE(stopped.took, at + 0.5);
            const auto bass = *world().project().track("Bass");
            const bool changed = std::string(c.tool) == "set_track_mute"
                                     ? bass.muted
                                     : bass.strip.volume != std::get<0>(before.at("Bass"));
            if (std::string(c.tool) == "set_track_volume" && changed) {
                EXPECT_EQ(bass.strip.volume, standin::World::rawFor(-14.0));
            }
            // Bass as the whole call leaves it, every other track as it was.
            auto now = mix();
            now["Bass"] = before["Bass"];
            EXPECT_EQ(now, before);
            const std::string& said = stopped.record.summary;
            if (changed) {
                EXPECT_FALSE(has(said, "Not done: Bass")) << said;
                if (!stopped.record.succeeded) {
                    EXPECT_TRUE(has(said, "Already done: " + c.done)) << said;
                }
            } else {
                EXPECT_FALSE(stopped.record.succeeded) << said;
                EXPECT_FALSE(has(said, "Already done")) << said;
            }
        }
    }
}

// A Stop while a send is walked to its level, or while a reading tool steps a send at the top of
// its travel up and back: the answer comes within half a second, the send rests on a step between
// where it was and where it was asked to go, never on the step past the target that the walk
// takes back, and an answer that comes with the send changed names the level it shows.
TEST_F(TurnStopTest, AStoppedSendWalkEndsOnAStepOnTheWayAndNamesIt) {
    struct Case {
        const char* tool;
        const char* args;
        int from;             // Kick's send detent before (0 is -inf, 57 is +6 dB)
        int lowest, highest;  // where a Stop may leave it
    };
    const std::vector<Case> cases{
        {"set_send_level", R"({"track_name":"Kick","bus_label":"Bus 1","target_db":0})", 9, 9, 45},
        {"set_send_level", R"({"track_name":"Kick","bus_label":"Bus 1","target_db":-100})", 9, 0, 9},
        {"set_send_level", R"({"track_name":"Kick","bus_label":"Bus 1","target_db":12})", 9, 9, 57},
        {"set_send_level", R"({"track_name":"Kick","bus_label":"Bus 1","delta_db":-3})", 57, 51, 57},
        // Between -50 and -40 dB: the walk passes the target by one step and comes back.
        {"set_send_level", R"({"track_name":"Kick","bus_label":"Bus 1","target_db":-44})", 57, 3, 57},
        {"set_send_level", R"({"track_name":"Kick","bus_label":"Bus 1","target_db":-46})", 0, 0, 2},
        {"get_track_details", R"({"track_names":["Kick"]})", 57, 57, 57},
        {"get_track_details", R"({"track_names":["Kick"]})", 0, 0, 0},
    };
    const auto levelText = [](int detent) {
        return detent == 0 ? std::string("-\u221E dB")
                           : fmt::format("{:+.1f} dB", standin::taper::sendDetentDb(detent));
    };
    for (const auto& c : cases) {
        const auto shape = [&] {
            load(standin::testing::demoSong());
            world().mutateProject([&](standin::Project& p) { p.track("Kick")->strip.sends.at(0).detent = c.from; });
        };
        shape();
        const double whole = call(c.tool, c.args, std::nullopt).took;
        for (double at = 0; at < whole + 0.1; at += 0.02) {
            SCOPED_TRACE(std::string(c.tool) + " " + c.args + " stopped at " + std::to_string(at));
            shape();

            const auto stopped = call(c.tool, c.args, at);

            EXPECT_LE(stopped.took, at + 0.5);
            expectNothingOpen();
            const int now = world().project().track("Kick")->strip.sends.at(0).detent;
            EXPECT_GE(now, c.lowest);
            EXPECT_LE(now, c.highest);
            if (now != c.from) {
                EXPECT_TRUE(has(stopped.record.summary, "Send Kick \u2192 Bus 1: ")) << stopped.record.summary;
                const bool muted = stopped.record.succeeded && now == 0;  // "…: muted."
                EXPECT_TRUE(muted || has(stopped.record.summary, "\u2192 " + levelText(now))) << stopped.record.summary;
            }
        }
    }
}

// A drag hides Corvane's window and brings Logic Pro to the front. However the turn ends, stopped
// at any moment of the drag or failed after it, Corvane comes back to the front; a Stop during the
// drag lets it drop at once and answers within half a second, saying where the plug-in went.
TEST_F(TurnStopTest, EveryEndOfATurnThatDraggedBringsCorvaneBack) {
    const char* args = R"({"track_name":"Kick","from_index":1,"to_index":0})";
    const std::vector<std::string> before{"Channel EQ", "Compressor"};
    const std::vector<std::string> moved{"Compressor", "Channel EQ"};
    std::vector<std::optional<double>> stops{std::nullopt};  // not stopped: the backend fails after the round
    for (const double at : everyMoment(standin::testing::demoSong(), "reorder_plugin", args, 0.02)) stops.push_back(at);
    for (const auto& at : stops) {
        SCOPED_TRACE(at ? "stopped at " + std::to_string(*at) : std::string("failed after the round"));
        load(standin::testing::demoSong());
        ASSERT_EQ(world().frontmostPid(), world().selfPid());
        transport->reply(callsReply({{"r", "reorder_plugin", args}}));  // and no reply after it

        const double start = world().virtualSeconds();
        if (at) world().at(start + *at, [this] { orchestrator->cancelCurrentTurn(); });
        const ChatResponse response = run();

        EXPECT_EQ(world().frontmostPid(), world().selfPid());
        const auto chain = chainOf(*world().project().track("Kick"));
        EXPECT_TRUE(chain == before || chain == moved);
        ASSERT_EQ(response.toolsUsed.size(), 1u);
        const auto& record = response.toolsUsed[0];
        if (chain == moved) {
            EXPECT_TRUE(record.succeeded) << record.summary;
            EXPECT_EQ(record.summary, "Moved plugin on Kick from slot 1 to slot 0.");
        }
        if (at && world().virtualSeconds() - start > *at) {
            EXPECT_LE(world().virtualSeconds() - start, *at + 0.5);
            expectNothingOpen();
        }
    }
}

// A listen stopped before it plays, in a song that was playing: the card names what the listen
// left changed (the transport stopped, the playhead moved, the analysis plug-in it inserted), also
// where the insert leaves the handles read before it stale.
TEST_F(TurnStopTest, AListenStoppedBeforeItPlaysNamesEveryChangeItLeaves) {
    for (const int staleAfterReads : {0, 3}) {
        SCOPED_TRACE("handles stale after reads: " + std::to_string(staleAfterReads));
        const char* args = R"({"duration_seconds":2,"start_bar":1,"tracks":"Kick"})";
        const auto shape = [&] {
            load(standin::testing::demoSong());
            if (staleAfterReads > 0)
                world().updateFaults([&](standin::Faults& f) {
                    f.staleAfter = {standin::StaleAfter::Mode::afterReads, staleAfterReads};
                });
            world().mutateProject([](standin::Project& p) {
                p.transport.positionTicks = 8 * p.transport.ticksPerBar();  // bar 9
                p.transport.playing = true;
            });
            // A new program with it: none that knows whether Kick has the plug-in.
            orchestrator = std::make_unique<ChatOrchestrator>(
                ChatOrchestrator::Services{inventory, backend, conversations, memories, logic, plugins, logger, {}},
                ChatOrchestrator::Providers{});
        };
        shape();
        const double whole = call("listen_to_playback", args, std::nullopt).took;
        for (double at = 0; at < whole; at += 0.03) {
            SCOPED_TRACE("stopped at " + std::to_string(at));
            shape();
            const bool cycle = world().project().transport.cycleOn;

            const auto stopped = call("listen_to_playback", args, at);

            EXPECT_LE(stopped.took, at + 0.5);
            expectNothingOpen();
            const auto project = world().project();
            EXPECT_EQ(project.transport.cycleOn, cycle);
            const std::string& said = stopped.record.summary;
            EXPECT_FALSE(stopped.record.succeeded) << said;
            const auto kick = chainOf(*project.track("Kick"));
            if (std::find(kick.begin(), kick.end(), "Corvane") != kick.end()) {
                EXPECT_TRUE(has(said, "analysis plug-in was inserted on Kick")) << said;
            }
            if (!project.transport.playing) {
                EXPECT_TRUE(has(said, "is stopped")) << said;
            }
            if (project.transport.playhead().bar == 1) {
                EXPECT_TRUE(has(said, "bar 1")) << said;
            }
        }
    }
}

// The listen moves the playhead to its start bar and leaves it there: its card, stopped or not,
// must not pass that off as where the playhead already was, nor name a bar it could not take.
TEST_F(TurnStopTest, AListenCardSaysWhereThePlayheadWasAndWhereItIs) {
    struct Case {
        const char* label;
        int fromBar;
        const char* args;
        std::optional<double> stopAfter;
        int endBar;
        std::string said;  // what the card says of the playhead, "" for none
    };
    const std::vector<Case> cases{
        {"stopped, moved", 1, R"({"duration_seconds":4,"start_bar":9})", 1.0, 9,
         "; Logic Pro is stopped and the playhead moved from bar 1 to bar 9."},
        {"stopped, in place", 9, R"({"duration_seconds":4,"start_bar":9})", 1.0, 9,
         "; Logic Pro is stopped and the playhead is at bar 9, where it was."},
        {"stopped, past the song's last bar", 1, R"({"duration_seconds":4,"start_bar":70})", 1.0, 64,
         "; Logic Pro is stopped and the playhead moved from bar 1 to bar 64."},
        {"finished, moved", 1, R"({"duration_seconds":2,"start_bar":9})", std::nullopt, 9,
         " tracks monitored. The playhead moved from bar 1 to bar 9."},
        {"finished, in place", 9, R"({"duration_seconds":2,"start_bar":9})", std::nullopt, 9, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        load(standin::testing::demoSong());
        world().mutateProject(
            [&](standin::Project& p) { p.transport.positionTicks = (c.fromBar - 1) * p.transport.ticksPerBar(); });

        const auto listened = call("listen_to_playback", c.args, c.stopAfter);

        const auto after = world().project().transport;
        EXPECT_FALSE(after.playing);
        EXPECT_EQ(after.playhead().bar, c.endBar);
        const std::string& said = listened.record.summary;
        EXPECT_EQ(listened.record.succeeded, !c.stopAfter) << said;
        if (c.said.empty()) {
            EXPECT_FALSE(has(said, "playhead")) << said;
        } else {
            EXPECT_TRUE(has(said, c.said)) << said;
        }
    }
}

// An insert whose new slot shows no frame yet keeps add_plugin waiting for it to settle: a Stop
// in that wait ends the call at its next look, not at the end of the wait.
TEST_F(TurnStopTest, AStopEndsTheWaitForANewSlotAtOnce) {
    const char* args = R"({"track_name":"Guitar","plugin_name":"Limiter","slot_index":0})";
    auto moments = everyMoment(standin::testing::demoSong(), "add_plugin", args);
    for (const double at : moments) {
        SCOPED_TRACE("stopped at " + std::to_string(at));
        load(standin::testing::demoSong());
        world().setKnob("newSlotZeroFrame", 1000);

        const auto stopped = call("add_plugin", args, at);

        EXPECT_LE(stopped.took, at + 0.5);
        expectNothingOpen();
        const auto chain = chainOf(*world().project().track("Guitar"));
        EXPECT_TRUE(chain.empty() || chain == std::vector<std::string>{"Limiter"});
        if (stopped.took > at) {
            EXPECT_FALSE(stopped.record.succeeded) << stopped.record.summary;
        }
    }
}

// Stop as a listen makes sure of its analysis plug-ins, starts playing or plays: the turn ends
// within half a second of the click, the transport is stopped with Cycle as it was, nothing is left
// open, and the listen's card says it was stopped, never a success.
TEST_F(TurnStopTest, AStopAnywhereInAListenEndsTheTurnAtOnceAndItsCardSaysStopped) {
    // From bar 1, and from a bar past the song's last (64), which the playhead cannot take.
    for (const char* args : {R"({"duration_seconds":2,"start_bar":1,"tracks":"Bass, Lead Vox"})",
                             R"({"duration_seconds":2,"start_bar":70})"}) {
        for (const double at : everyMoment(standin::testing::demoSong(), "listen_to_playback", args)) {
            SCOPED_TRACE(std::string(args) + " stopped at " + std::to_string(at));
            load(standin::testing::demoSong());
            // A new program with it: none that knows the plug-ins are there already.
            orchestrator = std::make_unique<ChatOrchestrator>(
                ChatOrchestrator::Services{inventory, backend, conversations, memories, logic, plugins, logger, {}},
                ChatOrchestrator::Providers{});
            const bool cycle = world().project().transport.cycleOn;
            transport->reply(callsReply({{"l", "listen_to_playback", args}}));

            const double start = world().virtualSeconds();
            world().at(start + at, [this] { orchestrator->cancelCurrentTurn(); });
            const ChatResponse response = run();
            if (world().virtualSeconds() - start < at) continue;  // the turn had ended before the Stop

            EXPECT_LE(world().virtualSeconds() - start, at + 0.5);
            EXPECT_FALSE(world().project().transport.playing);
            EXPECT_EQ(world().project().transport.cycleOn, cycle);
            expectNothingOpen();
            ASSERT_EQ(response.toolsUsed.size(), 1u);
            EXPECT_FALSE(response.toolsUsed[0].succeeded) << response.toolsUsed[0].summary;
            EXPECT_EQ(response.toolsUsed[0].summary.rfind("Stopped by the user", 0), 0u)
                << response.toolsUsed[0].summary;
        }
    }
}

// A Stop while get_plugin_parameters switches a plug-in window to its Controls view and back: the
// end of the turn still closes the window in its editor view, so that the next open shows the
// plug-in's own face.
TEST_F(TurnStopTest, AStopDuringAViewSwitchStillLeavesThePluginInItsEditorView) {
    const std::string args = R"({"track_name":"Lead Vox","plugin_name":"Channel EQ"})";
    for (const double at : everyMoment(standin::testing::demoSong(), "get_plugin_parameters", args)) {
        SCOPED_TRACE("stopped at " + std::to_string(at));
        load(standin::testing::demoSong());
        call("get_plugin_parameters", args, at);
        logic.closeMenusAndNameField();  // the end of the turn, as the agent loop makes it
        logic.closeOpenPluginAndRestoreEditorView();
        plugins.resetTurnState();
        EXPECT_TRUE(world().ui().pluginWindows.empty());
        const auto project = world().project();
        for (const auto& slot : project.track("Lead Vox")->strip.inserts)
            EXPECT_EQ(slot.windowView, "Editor") << slot.plugin;
    }
}

// A plug-in read closes the window an earlier call of its turn opened, which hands the front to
// the Tracks window: stopped at any moment, it leaves the Mixer window in front as it found it.
TEST_F(TurnStopTest, AStoppedPluginReadLeavesTheMixerWindowInFront) {
    const json scenario = standin::testing::demoSongWith({{"ui", {{"mixerWindow", true}, {"mixerWindowFirst", true}}}});
    const std::string first = R"({"track_name":"Lead Vox","plugin_index":0})";
    const std::string second = R"({"track_name":"Lead Vox","plugin_index":1})";
    const auto mainWindows = [&] {
        std::vector<std::string> titles;
        for (const auto& title : world().ui().windows)
            if (title.ends_with(" - Mixer") || title.ends_with(" - Tracks")) titles.push_back(title);
        return titles;
    };
    load(scenario);
    call("get_plugin_parameters", first, std::nullopt);
    const double whole = call("get_plugin_parameters", second, std::nullopt).took;
    for (double at = 0; at < whole + 0.1; at += 0.05) {
        SCOPED_TRACE("stopped at " + std::to_string(at));
        load(scenario);
        call("get_plugin_parameters", first, std::nullopt);
        const auto before = mainWindows();
        ASSERT_EQ(before.size(), 2u);
        ASSERT_TRUE(before.front().ends_with(" - Mixer"));
        call("get_plugin_parameters", second, at);
        EXPECT_EQ(mainWindows(), before);
    }
}

// A turn shows one plug-in window of its own at a time and closes it at its end, and the Mixer
// window the user had in front stays there, also where handles go stale on every change.
TEST_F(TurnStopTest, ATurnLeavesNoPlugInWindowOfItsOwnOpen) {
    auto scenario = standin::testing::demoSongWith({{"ui", {{"mixerWindow", true}, {"mixerWindowFirst", true}}}});
    scenario["project"]["playing"] = true;
    load(scenario);
    world().setKnob("staleAfter", "always");
    const auto mixerInFront = [&] {
        for (const auto& title : world().ui().windows) {
            if (title.ends_with(" - Mixer")) return true;
            if (title.ends_with(" - Tracks")) return false;
        }
        return false;
    };
    ASSERT_TRUE(mixerInFront());
    call("get_plugin_parameters", R"({"track_name":"Lead Vox","plugin_index":0})", std::nullopt);
    call("get_plugin_parameters", R"({"track_name":"Lead Vox","plugin_index":1})", std::nullopt);
    EXPECT_EQ(world().ui().pluginWindows.size(), 1u);
    EXPECT_TRUE(mixerInFront());
    logic.closeMenusAndNameField();
    logic.closeOpenPluginAndRestoreEditorView();
    plugins.resetTurnState();
    EXPECT_TRUE(world().ui().pluginWindows.empty());
}

// The end of a turn closes a menu a call left open, stopped or not, before the user's keys come.
// A Stop at any moment of an edit of a plug-in chain: whatever the chain or a side chain shows
// afterwards that it did not before, the stopped answer names it.
TEST_F(TurnStopTest, AStoppedChainEditNamesWhatItLeftChanged) {
    struct Case {
        const char* tool;
        const char* args;
        const char* track;
        const char* named;  // what the answer says once it changed
    };
    const std::vector<Case> cases{
        {"set_plugin_sidechain", R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":"Bus 1"})", "Lead Vox",
         "the side chain of Compressor on Lead Vox"},
        {"add_plugin", R"({"track_name":"Kick","plugin_name":"Channel EQ"})", "Kick", "Kick's plug-ins are now: "},
        {"remove_plugin", R"({"track_name":"Lead Vox","plugin_index":1})", "Lead Vox", "Lead Vox's plug-ins are now: "},
    };
    for (const auto& c : cases) {
        for (const double at : everyMoment(standin::testing::demoSong(), c.tool, c.args, 0.05)) {
            SCOPED_TRACE(std::string(c.tool) + " stopped at " + std::to_string(at));
            load(standin::testing::demoSong());
            const auto before = *world().project().track(c.track);

            const auto stopped = call(c.tool, c.args, at);

            const auto now = *world().project().track(c.track);
            bool changed = chainOf(now) != chainOf(before);
            for (std::size_t i = 0; !changed && i < now.strip.inserts.size(); ++i)
                changed = now.strip.inserts[i].sideChainSource != before.strip.inserts[i].sideChainSource;
            if (changed && !stopped.record.succeeded) {
                EXPECT_TRUE(has(stopped.record.summary, c.named)) << stopped.record.summary;
            }
        }
    }
}

// A Stop at any moment of a parameter write, the last hundredths of a second after the write took
// included: once the plug-in shows another value, the answer names the parameter and what it shows.
TEST_F(TurnStopTest, AStoppedParameterWriteNamesTheValueItLeft) {
    struct Case {
        json scenario;
        std::string track;
        std::size_t slot;
        std::string args;
        std::string named;
    };
    const std::vector<Case> cases{
        {standin::testing::demoSong(), "Kick", 1,
         R"({"track_name":"Kick","plugin_name":"Compressor","parameter_name":"Threshold","value":"-20 dB"})",
         "Already done: Compressor on Kick: Threshold: -12.8 dB \u2192 "},
        // A pop-up of the Controls view.
        {pluginEditorsScenario(), "Vox", 1,
         R"({"track_name":"Vox","plugin_index":1,"parameter_name":"Character","value":"Dark"})",
         "Already done: Tube Saturator on Vox: Character: Warm \u2192 Dark"},
    };
    for (const auto& c : cases) {
        load(c.scenario);
        const double whole = call("set_plugin_parameter", c.args, std::nullopt).took;
        std::vector<double> moments;
        for (double at = 0; at < whole - 0.03; at += 0.05) moments.push_back(at);
        for (double at = whole - 0.03; at < whole + 0.005; at += 0.001) moments.push_back(at);
        for (const double at : moments) {
            SCOPED_TRACE(c.track + " stopped at " + std::to_string(at));
            load(c.scenario);
            const auto paramsOf = [&] { return world().project().track(c.track)->strip.inserts.at(c.slot).params; };
            const auto before = paramsOf();

            const auto stopped = call("set_plugin_parameter", c.args, at);

            EXPECT_LE(stopped.took, at + 0.5);
            if (paramsOf() != before && !stopped.record.succeeded) {
                EXPECT_TRUE(has(stopped.record.summary, c.named)) << stopped.record.summary;
            }
        }
    }
}

TEST_F(TurnStopTest, TheEndOfATurnClosesAMenuACallLeftOpen) {
    orchestrator->toolExecutor().registerTool("open_slot_menu", [&](ToolCall& call) {
        // The selected track's first slot menu, opened as Logic Pro's own list button opens it.
        auto list = find(*mainWindow(), "list", "AXButton");
        const bool pressed = list && list->performAction(platform::ax::kPress) == platform::AXError::success;
        call.record("opened", pressed);
        return ChatToolExecutor::makeJSONOutput(call.callID(), {{"status", "ok"}}, "{}");
    });
    transport->reply(callsReply({{"o", "open_slot_menu", "{}"}}));
    transport->reply(respondReply("Done"));
    const ChatResponse response = run();
    ASSERT_FALSE(response.toolsUsed.empty());
    EXPECT_TRUE(response.toolsUsed[0].succeeded);
    expectNothingOpen();
    EXPECT_EQ(chainOf(*world().project().track("Kick")), (std::vector<std::string>{"Channel EQ", "Compressor"}));
    EXPECT_EQ(response.assistantMessage, "Done");
}

}  // namespace
}  // namespace corvane::testing
