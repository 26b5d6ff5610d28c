#include <gtest/gtest.h>

#include <algorithm>
#include <string>
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

}  // namespace
}  // namespace corvane::testing
