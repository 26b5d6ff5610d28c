#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <memory>
#include <set>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "chat/chat_tool_executor.h"
#include "chat/tool_executor_fixture.h"
#include "platform/standin/taper.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

class ChatToolExecutorTracks : public ToolExecutorTest {
protected:
    double sendDb(const std::string& track) {
        const auto project = world().project();
        return standin::taper::sendDetentDb(project.track(track)->strip.sends.at(0).detent);
    }
    static json error(const std::string& message) { return {{"status", "error"}, {"message", message}}; }
};

// While the song plays every moment is a change: where each leaves every handle held before it
// stale, the rename still lands and is read back.
TEST_F(ChatToolExecutorTracks, RenamesWhileThePlayingSongsHandlesGoStale) {
    auto scenario = standin::testing::demoSong();
    scenario["project"]["playing"] = true;
    load(scenario);
    world().setKnob("staleAfter", "always");
    const auto answer = oneJSON("rename_track", R"({"current_name":"Guitar","new_name":"Gtr DI"})");
    EXPECT_NE(world().project().track("Gtr DI"), nullptr);
    EXPECT_EQ(answer["status"], "ok") << answer;
}

TEST_F(ChatToolExecutorTracks, RenamesThroughTheTrackMenuAndChecksTheHeader) {
    auto answer = oneJSON("rename_track", R"({"current_name":"guitar","new_name":"Gtr DI"})");
    ASSERT_NE(world().project().track("Gtr DI"), nullptr);
    EXPECT_EQ(world().project().track("Guitar"), nullptr);
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["new_name"], "Gtr DI");
    EXPECT_EQ(lastRecord().summary, answer["message"]);

    EXPECT_EQ(oneJSON("rename_track", R"({"current_name":"Bass","new_name":7})"),
              error("Missing current_name or new_name."));
    world().updateFaults([](standin::Faults& f) { f.renameIgnoresInput = true; });
    answer = oneJSON("rename_track", R"({"current_name":"Bass","new_name":"Sub"})");
    EXPECT_NE(world().project().track("Bass"), nullptr);
    EXPECT_EQ(answer["status"], "error");
    EXPECT_FALSE(lastRecord().succeeded);
}

TEST_F(ChatToolExecutorTracks, BringsTheBusAndTheMasterIntoTheTrackList) {
    ASSERT_FALSE(world().project().track("Reverb")->inArrange);
    auto answer = oneJSON("ensure_bus_track", R"({"source_track":"Kick","bus_label":"B 1"})");
    EXPECT_TRUE(world().project().track("Reverb")->inArrange);
    EXPECT_EQ(answer, (json{{"status", "ok"},
                            {"bus_label", "B 1"},
                            {"source_track", "Kick"},
                            {"arrange_track_name", "Reverb"},
                            {"message", "Bus B 1 is available as Arrange track 'Reverb'."}}));

    // The short form in any letter case names the same bus, on the send and on the bus track's
    // input alike: the track is told from the strip the send shows, no track selected in turn.
    load(standin::testing::demoSong());
    answer = oneJSON("ensure_bus_track", R"({"source_track":"Kick","bus_label":"b 1"})");
    EXPECT_TRUE(world().project().track("Reverb")->inArrange);
    EXPECT_EQ(world().project().selectedTrackId, world().project().track("Kick")->id);
    EXPECT_EQ(answer["arrange_track_name"], "Reverb");
    EXPECT_EQ(answer["message"], "Bus b 1 is available as Arrange track 'Reverb'.");

    EXPECT_EQ(oneJSON("ensure_bus_track", R"({"source_track":"Kick"})"), error("Missing source_track or bus_label."));
    EXPECT_EQ(oneJSON("ensure_bus_track", R"({"source_track":"Nope","bus_label":"Bus 1"})")["status"], "error");

    ASSERT_FALSE(world().project().track("Stereo Out")->inArrange);
    answer = oneJSON("ensure_master_track");
    EXPECT_TRUE(world().project().track("Stereo Out")->inArrange);
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["arrange_track_name"], "Stereo Out");
}

// The demo song with its output track called "Master" by the user and listed as track 8, between
// Guitar (7) and Reverb (9); `selected` clicks the first header, Shift-clicks the others.
void listMasterBeforeReverb(standin::World& world, const std::vector<const char*>& selected) {
    world.mutateProject([](standin::Project& p) {
        p.track("Stereo Out")->inArrange = true;
        p.track("Stereo Out")->number = 8;
        p.track("Reverb")->inArrange = true;
        p.track("Reverb")->number = 9;
        const auto reverb =
            std::find_if(p.tracks.begin(), p.tracks.end(), [](const standin::Track& t) { return t.name == "Reverb"; });
        std::rotate(reverb, reverb + 1, p.tracks.end());
    });
    world.renameByHand(world.project().track("Stereo Out")->id, "Master");
    for (std::size_t i = 0; i < selected.size(); ++i) {
        const int id = world.project().track(selected[i])->id;
        if (i == 0)
            world.clickHeader(id);
        else
            world.shiftClickHeader(id);
    }
}

// Each shown track as (id, number), top to bottom.
std::vector<std::pair<int, int>> listedRows(const standin::Project& project) {
    std::vector<std::pair<int, int>> rows;
    for (const int id : project.visibleTrackIds()) rows.emplace_back(id, project.trackById(id)->number);
    return rows;
}

// A bus track whose name another track bears cannot be told from the strip: looking for it selects
// one track after another, and the selection goes back to the source track whose send was clicked.
TEST_F(ChatToolExecutorTracks, ABusTrackSearchedTrackByTrackLeavesTheSourceSelected) {
    world().renameByHand(world().project().track("Guitar")->id, "Reverb");
    const int kick = world().project().track("Kick")->id;
    world().clickHeader(world().project().track("Bass")->id);
    const auto rowsBefore = listedRows(world().project());

    const auto answer = oneJSON("ensure_bus_track", R"({"source_track":"Kick","bus_label":"Bus 1"})");

    const auto project = world().project();
    const standin::Track* aux = nullptr;
    for (const auto& t : project.tracks)
        if (t.kind == standin::TrackKind::aux) aux = &t;
    ASSERT_NE(aux, nullptr);
    EXPECT_TRUE(aux->inArrange);
    auto rowsAfter = rowsBefore;
    rowsAfter.emplace_back(aux->id, 8);
    EXPECT_EQ(listedRows(project), rowsAfter);
    EXPECT_EQ(project.selectedTrackIds(), std::vector<int>{kick});
    EXPECT_EQ(answer["status"], "ok");
}

// Listed under a name of the user's, the output track is hidden by the press and shown again by a
// second at the end of the list: the answer gives its new number, and the selection is put back
// where one click can, else said.
TEST_F(ChatToolExecutorTracks, AnOutputTrackListedUnderTheUsersNameEndsListedAndItsMoveIsSaid) {
    const std::string moved =
        "Master (the output track) moved from track 8 to track 10, at the end of the track list: it was listed "
        "already, Show Output Track hid it, and a second press showed it again.";
    struct Case {
        std::vector<const char*> selected;
        std::vector<const char*> selectedAfter;
        std::string message;
    };
    const std::vector<Case> cases{
        {{"Kick"}, {"Kick"}, moved},
        {{"Master"}, {"Master"}, moved},
        {{"Kick", "Master"}, {"Kick"}, moved + " The selection is now Kick (it was Kick and Master)."},
        {{"Master", "Kick"}, {"Master"}, moved + " The selection is now Master (it was Kick and Master)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.selected));
        load(standin::testing::demoSong());
        signature.reset();  // the same call again is a new one here
        listMasterBeforeReverb(world(), c.selected);
        const int master = world().project().track("Master")->id;
        auto rowsAfter = listedRows(world().project());
        std::erase(rowsAfter, std::pair(master, 8));
        rowsAfter.emplace_back(master, 10);
        std::vector<int> selectedAfter;
        for (const char* name : c.selectedAfter) selectedAfter.push_back(world().project().track(name)->id);

        const auto answer = oneJSON("ensure_master_track");

        EXPECT_EQ(listedRows(world().project()), rowsAfter);
        EXPECT_EQ(world().project().selectedTrackIds(), selectedAfter);
        EXPECT_EQ(answer["status"], "ok");
        EXPECT_EQ(answer["message"], c.message);
        EXPECT_EQ(answer["arrange_track_name"], "Master");
    }

    // Hidden under that name, one press shows it, named with its number.
    load(standin::testing::demoSong());
    signature.reset();
    world().renameByHand(world().project().track("Stereo Out")->id, "Master");
    const auto selected = world().project().selectedTrackIds();
    const auto answer = oneJSON("ensure_master_track");
    EXPECT_TRUE(world().project().track("Master")->inArrange);
    EXPECT_EQ(world().project().visibleTrackIds().back(), world().project().track("Master")->id);
    EXPECT_EQ(world().project().selectedTrackIds(), selected);
    EXPECT_EQ(answer["message"],
              "Surfaced the output track as Arrange track 8, 'Master', at the end of the track list: Stereo Out bears "
              "that name in this project.");
    EXPECT_EQ(answer["arrange_track_name"], "Master");
}

// Handles that go stale after a few reads, or with every change: each call finds the window, the
// list and the menu again, and the call after it works too.
TEST_F(ChatToolExecutorTracks, OutputTrackCallsInARowWorkWhereHandlesGoStale) {
    for (const auto stale : {standin::StaleAfter{standin::StaleAfter::Mode::afterReads, 3},
                             standin::StaleAfter{standin::StaleAfter::Mode::always, 0}}) {
        SCOPED_TRACE(static_cast<int>(stale.mode));
        load(standin::testing::demoSong());
        world().updateFaults([&](standin::Faults& f) { f.staleAfter = stale; });
        listMasterBeforeReverb(world(), {"Kick"});
        const int master = world().project().track("Master")->id;
        for (const int number : {10, 11}) {
            SCOPED_TRACE(number);
            signature.reset();
            const auto answer = oneJSON("ensure_master_track");
            EXPECT_EQ(world().project().visibleTrackIds().back(), master);
            EXPECT_EQ(world().project().trackById(master)->number, number);
            EXPECT_EQ(world().project().selectedTrackIds(), std::vector<int>{world().project().track("Kick")->id});
            EXPECT_EQ(answer["status"], "ok") << answer;
        }
        if (stale.mode == standin::StaleAfter::Mode::always) continue;  // get_track_details itself fails there as yet
        const auto answer = oneJSON("get_track_details", R"({"track_name":"Bass"})");
        EXPECT_EQ(answer.value("/tracks/0/trackName"_json_pointer, json()), "Bass") << answer;
    }
}

// Stopped at any moment, within half a second, the answer names the output track as the presses
// left it: shown with its number, hidden, or moved to the end; and the selection, when it changed.
TEST_F(ChatToolExecutorTracks, AStoppedOutputTrackCallNamesWhatItLeftHiddenOrShown) {
    struct Setup {
        const char* name;
        bool listed;
    };
    for (const Setup setup : {Setup{"Stereo Out", false}, Setup{"Master", false}, Setup{"Master", true}}) {
        const std::string name = setup.name;
        auto run = [&](std::optional<double> stopAfter) {
            load(standin::testing::demoSong());
            if (setup.listed)
                listMasterBeforeReverb(world(), {"Kick", "Master"});
            else
                world().renameByHand(world().project().track("Stereo Out")->id, name);
            signature.reset();
            auto stop = std::make_shared<std::stop_source>();
            const double start = world().virtualSeconds();
            if (stopAfter) world().at(start + *stopAfter, [stop] { stop->request_stop(); });
            executor->executeToolCalls({toolCall("c", "ensure_master_track")}, request, threadID, roundIndex++,
                                       projectName, installedPlugins, toolsUsed, signature, stop->get_token());
            return world().virtualSeconds() - start;
        };
        const double whole = run(std::nullopt);
        ASSERT_TRUE(world().project().track(name)->inArrange);
        std::set<std::string> outcomes;
        for (double at = 0; at < whole; at += 0.05) {
            SCOPED_TRACE(name + (setup.listed ? " listed" : " hidden") + ", stopped at " + std::to_string(at));
            const double took = run(at);
            const auto project = world().project();
            const standin::Track& output = *project.track(name);
            const std::string& said = lastRecord().summary;
            EXPECT_LE(took, at + 0.5);
            if (!output.inArrange) {
                ASSERT_TRUE(setup.listed);
                outcomes.insert("hidden");
                EXPECT_NE(said.find("Master (the output track, track 8) is now hidden from the track list"),
                          std::string::npos)
                    << said;
            } else if (setup.listed) {
                ASSERT_EQ(output.number, 10);
                outcomes.insert("moved");
                EXPECT_NE(said.find("Master (the output track) moved from track 8 to track 10"), std::string::npos)
                    << said;
            } else {
                outcomes.insert("shown");
                EXPECT_NE(said.find(name + " is now shown in the track list as track 8"), std::string::npos) << said;
            }
            if (setup.listed) {
                ASSERT_EQ(project.selectedTrackIds(), std::vector<int>{project.track("Kick")->id});
                EXPECT_NE(said.find("The selection is now Kick (it was Kick and Master)"), std::string::npos) << said;
            }
        }
        const std::set<std::string> expected =
            setup.listed ? std::set<std::string>{"hidden", "moved"} : std::set<std::string>{"shown"};
        EXPECT_EQ(outcomes, expected);
    }
}

// A name no hidden track bears is reached as ever, at any moment of a Stop the folder looked into
// is closed again, and the answer comes within half a second.
TEST_F(ChatToolExecutorTracks, ATrackBesideACollapsedFolderIsReachedAndTheFolderStaysClosed) {
    auto run = [&](std::optional<double> stopAfter) {
        load(standin::testing::demoSong());
        world().mutateProject([](standin::Project& p) { p.track("Drums")->expanded = false; });
        signature.reset();
        auto stop = std::make_shared<std::stop_source>();
        const double start = world().virtualSeconds();
        if (stopAfter) world().at(start + *stopAfter, [stop] { stop->request_stop(); });
        executor->executeToolCalls({toolCall("c", "set_track_volume", R"({"track_name":"Bass","value":"-6 dB"})")},
                                   request, threadID, roundIndex++, projectName, installedPlugins, toolsUsed, signature,
                                   stop->get_token());
        return world().virtualSeconds() - start;
    };
    const double whole = run(std::nullopt);
    EXPECT_FALSE(world().project().track("Drums")->expanded);
    EXPECT_NEAR(standin::World::level(world().project().track("Bass")->strip.volume), -6, 0.15);
    EXPECT_TRUE(lastRecord().succeeded) << lastRecord().summary;
    for (double at = 0; at < whole; at += 0.05) {
        SCOPED_TRACE("stopped at " + std::to_string(at));
        EXPECT_LE(run(at), at + 0.5);
        EXPECT_FALSE(world().project().track("Drums")->expanded);
    }
}

// A header's name with blanks around it is reached by the name without them, as asked.
TEST_F(ChatToolExecutorTracks, ATrackNamedWithATrailingSpaceIsReached) {
    auto bassWithBlank = [&] {
        load(standin::testing::demoSong());
        world().mutateProject([](standin::Project& p) { p.track("Bass")->name = "Bass "; });
    };
    bassWithBlank();
    auto answer = oneJSON("set_track_volume", R"({"track_name":"Bass","value":"-6 dB"})");
    EXPECT_NEAR(standin::World::level(world().project().track("Bass ")->strip.volume), -6, 0.15);
    EXPECT_TRUE(lastRecord().succeeded) << answer.dump();

    bassWithBlank();
    answer = oneJSON("set_track_mute", R"({"enabled":true,"track_name":"bass"})");
    EXPECT_TRUE(world().project().track("Bass ")->muted);
    EXPECT_TRUE(lastRecord().succeeded) << answer.dump();

    bassWithBlank();
    answer = oneJSON("rename_track", R"({"current_name":"Bass","new_name":"Low End"})");
    EXPECT_NE(world().project().track("Low End"), nullptr);
    EXPECT_TRUE(lastRecord().succeeded) << answer.dump();
}

TEST_F(ChatToolExecutorTracks, SendLevelAbsoluteAndByDelta) {
    ASSERT_DOUBLE_EQ(sendDb("Kick"), -18.0);
    auto answer = oneJSON("set_send_level", R"({"track_name":"Kick","bus_label":"Bus 1","target_db":" -12 "})");
    EXPECT_DOUBLE_EQ(sendDb("Kick"), -12.0);
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["track"], "Kick");
    EXPECT_EQ(answer["bus"], "Bus 1");
    EXPECT_EQ(answer["beforeDb"], -18.0);
    EXPECT_EQ(answer["afterDb"], -12.0);
    EXPECT_EQ(lastRecord(), (ToolExecution{"set_send_level", answer["message"], true}));

    answer = oneJSON("set_send_level", R"({"track_name":"Kick","bus_label":"Bus 1","delta_db":3,"target_db":"x"})");
    EXPECT_DOUBLE_EQ(sendDb("Kick"), -9.0);
    EXPECT_EQ(answer["afterDb"], -9.0);

    const std::pair<const char*, const char*> refused[] = {
        {R"({"track_name":"Kick","bus_label":"Bus 1","target_db":"-12dB"})",
         "Pass exactly one of delta_db (relative change) or target_db (absolute dB)."},
        {R"({"track_name":"Kick","bus_label":"Bus 1","target_db":"nan"})",
         "Pass exactly one of delta_db (relative change) or target_db (absolute dB)."},
        {R"({"track_name":"Kick","bus_label":"Bus 1","target_db":-6,"delta_db":"2"})",
         "Pass delta_db OR target_db, not both."},
        {R"({"track_name":"Kick","target_db":-6})", "Missing track_name or bus_label."},
    };
    for (const auto& [args, message] : refused) EXPECT_EQ(oneJSON("set_send_level", args), error(message)) << args;
    EXPECT_DOUBLE_EQ(sendDb("Kick"), -9.0);
}

// Below -18 dB the send has few steps: a level between two of them ends on the nearer, says so,
// and comes in a few writes rather than flipping between the two until the walk runs out.
TEST_F(ChatToolExecutorTracks, ASendLevelBetweenTwoStepsEndsOnTheNearerAndSaysSo) {
    const std::vector<double> steps{-60, -50, -40, -35, -30, -27, -24, -21, -18};
    for (const int from : {0, 57}) {  // -inf and +6 dB
        for (int target = -59; target <= -19; ++target) {
            SCOPED_TRACE(fmt::format("from detent {} to {} dB", from, target));
            world().mutateProject([&](standin::Project& p) { p.track("Kick")->strip.sends.at(0).detent = from; });
            const double start = world().virtualSeconds();
            const auto answer = oneJSON(
                "set_send_level", json{{"track_name", "Kick"}, {"bus_label", "Bus 1"}, {"target_db", target}}.dump());
            const double took = world().virtualSeconds() - start;

            double nearest = INFINITY;
            for (const double step : steps) nearest = std::min(nearest, std::fabs(step - target));
            const double now = sendDb("Kick");
            EXPECT_EQ(std::fabs(now - target), nearest) << "left at " << now;
            EXPECT_LT(took, 0.8);
            EXPECT_EQ(answer["status"], "ok");
            EXPECT_EQ(answer["afterDb"], now);
            const std::string said = answer["message"];
            if (nearest > 0) {
                EXPECT_NE(said.find(fmt::format("The {:+.1f} dB asked falls between the send's steps", double(target))),
                          std::string::npos)
                    << said;
                EXPECT_NE(said.find(fmt::format("took the {}, {:+.1f} dB.", nearest == 5 ? "quieter" : "nearer", now)),
                          std::string::npos)
                    << said;
            } else {
                EXPECT_EQ(said.find("falls between"), std::string::npos) << said;
            }
        }
    }
}

// The walk reads the knob more often than a handle may answer: found again, it reaches the level
// and reports it, or says it could not read it, never an unread level as done.
TEST_F(ChatToolExecutorTracks, ASendWalkReachesItsLevelWhereHandlesGoStale) {
    for (const char* stale : {"afterReads 3", "afterReads 5", "always"}) {
        for (const auto& [from, target] : std::vector<std::pair<int, double>>{{0, -18}, {57, -57}, {30, -6}}) {
            SCOPED_TRACE(fmt::format("{}: from detent {} to {} dB", stale, from, target));
            load(standin::testing::demoSong());
            world().mutateProject([&](standin::Project& p) { p.track("Kick")->strip.sends.at(0).detent = from; });
            world().setKnob("staleAfter", stale);
            const auto answer = oneJSON(
                "set_send_level", json{{"track_name", "Kick"}, {"bus_label", "Bus 1"}, {"target_db", target}}.dump());
            const double now = sendDb("Kick");
            if (answer["status"] == "ok") {
                EXPECT_LE(std::fabs(now - target), 5.0) << answer.dump();
                EXPECT_EQ(answer["afterDb"], now) << answer.dump();
            } else {
                EXPECT_NE(answer["message"].get<std::string>().find("could not"), std::string::npos) << answer.dump();
            }
        }
    }
}

TEST_F(ChatToolExecutorTracks, ADeltaOnASilentSendIsRefusedButATargetWorks) {
    world().mutateProject([](standin::Project& p) { p.track("Snare")->strip.sends.at(0).detent = 0; });
    const std::string args = R"({"track_name":"Snare","bus_label":"Bus 1",)";
    EXPECT_EQ(oneJSON("set_send_level", args + R"("delta_db":3})"),
              error("Can't apply relative delta \u2014 current send is -\u221E (no signal). Use target_db to set an "
                    "absolute dB."));
    auto answer = oneJSON("set_send_level", args + R"("target_db":-6})");
    EXPECT_DOUBLE_EQ(sendDb("Snare"), -6.0);
    EXPECT_EQ(answer["beforeDb"], nullptr);
}

// The window sets the process locale from the user's environment; with a decimal comma there,
// "-6.5" must still be minus six and a half, not -6 or no number at all.
TEST_F(ChatToolExecutorTracks, LevelArgumentsReadTheSameUnderADecimalCommaLocale) {
    struct RestoreLocale {
        std::string previous = std::setlocale(LC_ALL, nullptr);
        ~RestoreLocale() { std::setlocale(LC_ALL, previous.c_str()); }
    } restore;
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 is not generated (scripts/setup generates it)";

    const double kickBefore = world().level(world().project().track("Kick")->strip.volume);
    auto answer = oneJSON("set_track_volume", R"({"tracks":[{"track_name":"Kick","value":"-6.5 dB"}]})");
    const double kickAfter = world().level(world().project().track("Kick")->strip.volume);
    EXPECT_NEAR(kickAfter, -6.5, 0.3);
    EXPECT_EQ(answer,
              (json{{"status", "ok"},
                    {"message", fmt::format("Kick volume: {:+.1f} dB \u2192 {:+.1f} dB.", kickBefore, kickAfter)}}));

    answer = oneJSON("set_send_level", R"({"track_name":"Kick","bus_label":"Bus 1","target_db":"-12.5"})");
    EXPECT_DOUBLE_EQ(sendDb("Kick"), -12.5);
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(answer["afterDb"], -12.5);
}

}  // namespace
}  // namespace corvane::testing
