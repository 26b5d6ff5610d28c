#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "chat/tool_executor_fixture.h"

namespace corvane::testing {
namespace {

using nlohmann::json;
using standin::Project;

// What a tool that finds a track by name may change of it, per track, as "<name> <field>".
std::vector<std::string> changes(const Project& before, const Project& after) {
    std::vector<std::string> changed;
    for (const auto& b : before.tracks) {
        const auto* a = after.trackById(b.id);
        if (!a) continue;
        if (a->name != b.name) changed.push_back(b.name + " name");
        if (a->muted != b.muted) changed.push_back(b.name + " mute");
        if (a->soloed != b.soloed) changed.push_back(b.name + " solo");
        if (a->strip.volume != b.strip.volume) changed.push_back(b.name + " volume");
        if (a->strip.pan != b.strip.pan) changed.push_back(b.name + " pan");
    }
    return changed;
}

// Logic Pro numbers the tracks in its list by their places.
void renumber(Project& p) {
    int n = 0;
    for (auto& t : p.tracks)
        if (t.number > 0) t.number = ++n;
}

class KeptPlacesBetweenCalls : public ToolExecutorTest {
protected:
    // One call, and what it changed in the project.
    std::vector<std::string> changedBy(const std::string& tool, const std::string& args, json& answer) {
        const Project before = world().project();
        answer = oneJSON(tool, args);
        return changes(before, world().project());
    }
};

TEST_F(KeptPlacesBetweenCalls, NoWriteLandsOnAnotherTrackAfterTracksWereDeletedMovedOrRenamed) {
    json answer;
    // The first call finds the headers, the control bar and the strip, and keeps where they are.
    EXPECT_EQ(changedBy("set_track_mute", R"({"track_name":"Bass","enabled":true})", answer),
              std::vector<std::string>{"Bass mute"});
    EXPECT_EQ(answer["status"], "ok");

    world().mutateProject([](Project& p) {
        std::erase_if(p.tracks, [](const standin::Track& t) { return t.name == "Snare"; });
        renumber(p);
    });
    EXPECT_EQ(changedBy("set_track_mute", R"({"track_name":"Guitar","enabled":true})", answer),
              std::vector<std::string>{"Guitar mute"});
    EXPECT_EQ(answer["status"], "ok");

    world().mutateProject([](Project& p) {  // Guitar moves up above Bass
        auto guitar = std::find_if(p.tracks.begin(), p.tracks.end(), [](const auto& t) { return t.name == "Guitar"; });
        auto bass = std::find_if(p.tracks.begin(), p.tracks.end(), [](const auto& t) { return t.name == "Bass"; });
        std::rotate(bass, guitar, guitar + 1);
        renumber(p);
    });
    EXPECT_EQ(changedBy("set_track_pan", R"({"track_name":"Lead Vox","value":"+20"})", answer),
              std::vector<std::string>{"Lead Vox pan"});
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(changedBy("set_track_mute", R"({"track_name":"Guitar","enabled":false})", answer),
              std::vector<std::string>{"Guitar mute"});
    EXPECT_EQ(answer["status"], "ok");

    world().mutateProject([](Project& p) { p.track("Bass")->name = "Sub"; });
    EXPECT_EQ(changedBy("set_track_mute", R"({"track_name":"Bass","enabled":false})", answer),
              std::vector<std::string>{});
    EXPECT_EQ(answer["status"], "error");
    EXPECT_EQ(changedBy("set_track_mute", R"({"track_name":"Sub","enabled":false})", answer),
              std::vector<std::string>{"Sub mute"});
    EXPECT_EQ(answer["status"], "ok");

    world().mutateProject([](Project& p) {  // Lead Vox moves to the top
        auto vox = std::find_if(p.tracks.begin(), p.tracks.end(), [](const auto& t) { return t.name == "Lead Vox"; });
        std::rotate(p.tracks.begin(), vox, vox + 1);
        renumber(p);
    });
    EXPECT_EQ(changedBy("rename_track", R"({"current_name":"Guitar","new_name":"Gtr"})", answer),
              std::vector<std::string>{"Guitar name"});
    EXPECT_EQ(answer["status"], "ok");
    EXPECT_EQ(changedBy("set_track_solo", R"({"track_names":["Gtr","Sub"],"enabled":true})", answer),
              (std::vector<std::string>{"Gtr solo", "Sub solo"}));
    EXPECT_EQ(answer["status"], "ok");
}

TEST_F(KeptPlacesBetweenCalls, ArrangementIsReadAnewAfterTracksThePlayheadOrTheWindowChanged) {
    // Between two calls, each of these; the kept answer must be the one a reading with nothing kept gives.
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"nothing", [] {}},
        {"Snare deleted, Guitar's regions moved",
         [&] {
             world().mutateProject([](Project& p) {
                 std::erase_if(p.tracks, [](const standin::Track& t) { return t.name == "Snare"; });
                 renumber(p);
                 p.track("Guitar")->regions = {{"G1", 3, 2, false}, {"G2", 40, 8, false}};
             });
         }},
        {"playhead on a downbeat",
         [&] {
             world().mutateProject([](Project& p) { p.transport.setPlayhead({12, 1, 1, 1}); });
         }},
        {"a read-only position display higher up, playhead off a downbeat",
         [&] {
             world().setKnob("secondPlayheadGroup", true);
             world().mutateProject([](Project& p) { p.transport.setPlayhead({6, 2, 3, 40}); });
         }},
        {"Logic Pro relaunched",
         [&] {
             world().quitLogic();
             world().launchLogic();
         }},
    };
    for (const auto& [what, change] : cases) {
        SCOPED_TRACE(what);
        change();
        const auto playhead = world().project().transport.playhead();
        signature.reset();
        const json answer = oneJSON("get_arrangement");
        ASSERT_TRUE(answer.is_array()) << answer;
        EXPECT_EQ(world().project().transport.playhead(), playhead);
        EXPECT_EQ(answer, nlohmann::json(logic.readArrangement(*logic.findMainWindow(), std::nullopt)));
        EXPECT_EQ(world().project().transport.playhead(), playhead);
    }
}

// A listen presses the transport and writes the playhead through what an earlier call found:
// whatever changed in between, it stops a playing song, plays from its bar and puts the
// transport back as it was.
TEST_F(KeptPlacesBetweenCalls, AListenPutsTheTransportBackAfterTheWindowChangedBetweenCalls) {
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"nothing", [] {}},
        {"playing with Cycle on",
         [&] {
             world().mutateProject([](Project& p) {
                 p.transport.playing = true;
                 p.transport.cycleOn = true;
             });
         }},
        {"a read-only position display higher up", [&] { world().setKnob("secondPlayheadGroup", true); }},
        {"Logic Pro relaunched, playing",
         [&] {
             world().quitLogic();
             world().launchLogic();
             world().mutateProject([](Project& p) { p.transport.playing = true; });
         }},
    };
    for (const auto& [what, change] : cases) {
        SCOPED_TRACE(what);
        change();
        const bool cycle = world().project().transport.cycleOn;
        signature.reset();
        const json answer = oneJSON("listen_to_playback", R"({"duration_seconds":2,"start_bar":5})");
        ASSERT_EQ(answer["status"], "ok") << answer;
        EXPECT_EQ(answer["durationSeconds"], 2.0);
        const auto transport = world().project().transport;
        EXPECT_FALSE(transport.playing);
        EXPECT_EQ(transport.playhead(), (standin::PlayheadPosition{5, 1, 1, 1}));
        EXPECT_EQ(transport.cycleOn, cycle);
    }
}

// The list a strip's slots lie in outlasts the calls; the slots in it never do.
TEST_F(KeptPlacesBetweenCalls, PlugInEditsReachWhatIsInTheSlotNowAfterTheChainChangedBetweenCalls) {
    auto chain = [&](const char* track) {
        std::vector<std::string> shown;
        const Project project = world().project();
        for (const auto& slot : project.track(track)->strip.inserts)
            shown.push_back(slot.plugin + (slot.bypassed ? " off" : " on"));
        return shown;
    };
    EXPECT_EQ(oneJSON("set_plugin_bypass", R"({"track_name":"Kick","plugin_index":0,"bypassed":true})")["status"],
              "ok");
    EXPECT_EQ(chain("Kick"), (std::vector<std::string>{"Channel EQ off", "Compressor off"}));

    // Taken out by hand: the first slot now holds the compressor.
    world().mutateProject([](Project& p) {
        auto& inserts = p.track("Kick")->strip.inserts;
        inserts.erase(inserts.begin());
    });
    EXPECT_EQ(oneJSON("set_plugin_bypass", R"({"track_name":"Kick","plugin_index":0,"bypassed":false})")["status"],
              "ok");
    EXPECT_EQ(chain("Kick"), (std::vector<std::string>{"Compressor on"}));

    // Another track now stands where Kick's strip was shown; its own chain is the one changed.
    world().mutateProject([](Project& p) {
        std::erase_if(p.tracks, [](const standin::Track& t) { return t.name == "Kick"; });
        renumber(p);
    });
    EXPECT_EQ(oneJSON("remove_plugin", R"({"track_name":"Lead Vox","plugin_index":0})")["status"], "ok");
    EXPECT_EQ(chain("Lead Vox"), (std::vector<std::string>{"Compressor on", "Corvane on"}));
}

TEST_F(KeptPlacesBetweenCalls, TheOutputTrackAndBusTracksAreToldFromTheListAsItIsNow) {
    auto stereoOutListed = [&] { return world().project().track("Stereo Out")->inArrange; };
    auto again = [&](const std::string& tool, const std::string& args) {
        signature.reset();  // each call a turn of its own: never skipped as a repeat
        return oneJSON(tool, args);
    };
    oneJSON("list_tracks", "{}");  // a listing without the output track is kept
    world().mutateProject([](Project& p) {
        p.track("Stereo Out")->inArrange = true;
        p.track("Stereo Out")->number = 8;
    });
    // Its menu item hides a shown output track: it must not be pressed now.
    EXPECT_EQ(again("ensure_master_track", "{}")["message"], "Stereo Out was already in the Arrange track list.");
    EXPECT_TRUE(stereoOutListed());
    world().mutateProject([](Project& p) { p.track("Stereo Out")->inArrange = false; });
    EXPECT_EQ(again("ensure_master_track", "{}")["message"],
              "Surfaced Stereo Out as Arrange track 9, at the end of the track list.");
    EXPECT_TRUE(stereoOutListed());
    EXPECT_EQ(again("ensure_master_track", "{}")["message"], "Stereo Out was already in the Arrange track list.");
    EXPECT_TRUE(stereoOutListed());

    json answer = again("get_track_details", R"({"track_name":"Kick"})");
    EXPECT_EQ(answer["tracks"][0]["sendTargets"], json({{"Bus 1", "Reverb"}}));
    world().mutateProject([](Project& p) { p.track("Reverb")->name = "Plate"; });
    const Project before = world().project();
    answer = again("get_track_details", R"({"track_name":"Kick"})");
    EXPECT_EQ(answer["tracks"][0]["sendTargets"], json({{"Bus 1", "Plate"}}));
    EXPECT_EQ(changes(before, world().project()), std::vector<std::string>{});
    world().mutateProject([](Project& p) { p.track("Plate")->inArrange = false; });
    answer = again("get_track_details", R"({"track_name":"Kick"})");
    EXPECT_EQ(answer["tracks"][0]["sendTargets"], json({{"Bus 1", "Plate"}}));
    EXPECT_TRUE(world().project().track("Plate")->inArrange);
}

TEST_F(KeptPlacesBetweenCalls, ARowRenamedByHandBetweenCallsIsReadUnderItsNameNow) {
    const int output = world().project().track("Stereo Out")->id;
    world().mutateProject([](Project& p) {
        auto* out = p.track("Stereo Out");
        out->name = "Main Out";
        out->inArrange = true;
        out->number = 8;
    });
    oneJSON("list_tracks", "{}");  // the output track is kept as "Main Out"
    world().mutateProject([](Project& p) { p.track("Main Out")->name = "Stereo Out"; });
    signature.reset();
    // Its menu item would hide it.
    EXPECT_EQ(oneJSON("ensure_master_track", "{}")["message"], "Stereo Out was already in the Arrange track list.");
    EXPECT_TRUE(world().project().trackById(output)->inArrange);
}

TEST_F(KeptPlacesBetweenCalls, TheEndOfATurnClosesThePlugInWindowOpenNowWhenTheOneItOpenedWentByHand) {
    auto windows = [&] {
        std::vector<std::string> open;
        for (const auto& w : world().ui().pluginWindows) open.push_back(w.title + " " + w.view);
        return open;
    };
    EXPECT_FALSE(
        oneJSON("get_plugin_parameters", R"({"track_name":"Bass","plugin_name":"Compressor"})")["parameters"].empty());
    EXPECT_EQ(windows(), std::vector<std::string>{"Bass: Compressor Controls"});
    // By hand: that window closed, and the plug-in opened again from its slot (a window of its own).
    auto shown = platform::accessibility().applicationElement(logicPid()).elements(platform::ax::kWindows);
    ASSERT_TRUE(shown);
    for (const auto& w : *shown)
        if (w.string(platform::ax::kTitle) == std::optional<std::string>("Bass: Compressor"))
            if (auto close = logic.findChildButton(w, "close")) close->performAction(platform::ax::kPress);
    ASSERT_EQ(windows(), std::vector<std::string>{});
    clickInProcess(standin::World::center(*world().slotFrame(0, 0)));
    ASSERT_EQ(windows().size(), 1u);

    logic.closeOpenPluginAndRestoreEditorView();
    EXPECT_EQ(windows(), std::vector<std::string>{});
}

}  // namespace
}  // namespace corvane::testing
