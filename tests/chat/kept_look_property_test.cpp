// The quick look into collapsed folders (a level's folders opened together, what it learned kept
// between the calls of a turn) against the plain way that looks anew in every call, one folder at
// a time: on projects drawn with folders collapsed within collapsed ones and names several tracks
// share, with the user renaming tracks between turns, the same calls give the same answers and
// leave the same project.

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "chat/tool_executor_fixture.h"
#include "chat/turn_services.h"
#include "platform/standin/standin_fixture.h"
#include "test_support/free_port.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

const std::vector<std::string> kNames{"Kick", "kick", "Snare", "Bass", "Drums", "Lead Vox"};

// A folder's or track's scenario entry, with folders inside folders down to `depth`.
json drawEntry(int depth) {
    const bool isFolder = depth > 0 && *rc::gen::weightedElement<int>({{2, 0}, {1, 1}}) == 1;
    const std::string name = *rc::gen::elementOf(kNames);
    if (!isFolder) return {{"name", name}, {"kind", "audio"}};
    json children = json::array();
    const int count = *rc::gen::inRange(1, 4);
    for (int i = 0; i < count; ++i) children.push_back(drawEntry(depth - 1));
    return {{"name", name},
            {"kind", "folder"},
            {"expanded", *rc::gen::weightedElement<int>({{3, 0}, {1, 1}}) == 1},
            {"children", children}};
}

// The project: a track at the top to start selected, then tracks and folders.
json drawSong() {
    json tracks = json::array({{{"name", "Lead Vox"}, {"kind", "audio"}}});
    const int count = *rc::gen::inRange(2, 7);
    for (int i = 0; i < count; ++i) tracks.push_back(drawEntry(2));
    tracks.push_back({{"name", "Stereo Out"}, {"kind", "output"}, {"inArrange", false}});
    return standin::testing::demoSongWith({{"project", {{"selected", "Lead Vox"}, {"tracks", tracks}}}});
}

struct Step {
    int renameIndex = -1;  // the user renames the track at this index first (and a turn starts)
    std::string renameTo;
    std::string tool;
    std::string args;
};

// Calls on the song's own names mostly; folders opened and closed within a turn change the list
// behind which a look learned what the folders hide.
std::vector<Step> drawSteps(int tracks, const std::vector<std::string>& names, const std::vector<std::string>& folders) {
    std::vector<Step> steps;
    const int count = *rc::gen::inRange(2, 9);
    for (int i = 0; i < count; ++i) {
        Step s;
        if (i > 0 && *rc::gen::weightedElement<int>({{3, 0}, {1, 1}}) == 1) {
            s.renameIndex = *rc::gen::inRange(0, tracks);
            s.renameTo = *rc::gen::elementOf(kNames);
        }
        const std::string name = *rc::gen::elementOf(*rc::gen::weightedElement<int>({{1, 0}, {3, 1}}) ? names : kNames);
        const bool on = *rc::gen::arbitrary<bool>();
        switch (*rc::gen::weightedElement<int>({{2, 0}, {1, 1}, {3, 2}, {1, 3}})) {
            case 0:
                s.tool = "set_track_mute";
                s.args = json{{"track_name", name}, {"enabled", on}}.dump();
                break;
            case 1:
                s.tool = "set_track_solo";
                s.args = json{{"track_names", {name}}, {"enabled", on}}.dump();
                break;
            case 2:
                s.tool = "set_folder_expanded";
                s.args = json{{"name", folders.empty() ? name : *rc::gen::elementOf(folders)}, {"expanded", on}}.dump();
                break;
            default:
                s.tool = "get_track_details";
                s.args = json{{"track_names", {name}}}.dump();
                break;
        }
        steps.push_back(std::move(s));
    }
    return steps;
}

// What a call may change, read from the simulated project.
json projectOf(const standin::Project& p) {
    json tracks = json::array();
    for (const auto& t : p.tracks)
        tracks.push_back({t.name, t.muted, t.soloed, t.expanded});
    return {{"tracks", tracks}, {"selected", p.selectedTrackId}};
}

// The steps run on a fresh simulated Logic Pro: after each, its answer and the project.
std::vector<json> run(const json& song, const std::vector<Step>& steps, const std::string& stale, bool quick) {
    ClosedPort port;
    standin::World world(song);
    world.updateFaults([&](standin::Faults& f) {
        f.analysisPort = port.port();
        f.staleAfter = standin::parseStaleAfter(stale);
    });
    const platform::ScopedServices scoped(world.services());
    TurnServices s;
    LogicInspector::KeptPlaces::setKeptBetweenCalls(s.logic, quick);
    s.logic.setFoldersOpenedTogether(quick);
    auto host = std::make_shared<FakeToolHost>();
    ChatToolExecutor executor({s.inventory, s.conversations, s.memories, s.logic, s.plugins, s.logger, host});
    const std::string thread = s.conversations.createThread(std::string("Demo Song")).currentThreadID;
    s.logger.beginTurn("Mix it", thread);
    const ChatRequest request{"Mix it", {}, {}, {}, ModelTier::standard};
    std::optional<InstalledPluginInventory> installed;
    std::vector<json> seen;
    int round = 0;
    int id = 0;
    for (const auto& step : steps) {
        if (step.renameIndex >= 0) {
            world.renameByHand(world.project().tracks.at(static_cast<std::size_t>(step.renameIndex)).id,
                               step.renameTo);
            round = 0;
        }
        std::vector<ToolExecution> used;
        std::optional<std::string> signature;
        const auto out = executor.executeToolCalls({{"call_" + std::to_string(id++), step.tool, step.args}}, request,
                                                   thread, round++, std::string("Demo Song"), installed, used,
                                                   signature);
        seen.push_back({{"answer", json::parse(out.at(0).outputJSON)}, {"project", projectOf(world.project())}});
    }
    return seen;
}

// Every entry's name, and the folders' apart; the number of entries.
int namesIn(const json& entries, std::vector<std::string>& names, std::vector<std::string>& folders) {
    int n = 0;
    for (const auto& e : entries) {
        ++n;
        names.push_back(e["name"]);
        if (e.contains("children")) {
            folders.push_back(e["name"]);
            n += namesIn(e["children"], names, folders);
        }
    }
    return n;
}

RC_GTEST_PROP(QuickLook, GivesThePlainWaysAnswersAndProject, ()) {
    const json song = *rc::gen::exec(drawSong);
    std::vector<std::string> names, folders;
    const int tracks = namesIn(song["project"]["tracks"], names, folders) - 1;  // the output track is no row
    // By value: a shrink draws the steps again after this run's names are gone.
    const auto steps = *rc::gen::exec([=] { return drawSteps(tracks, names, folders); });
    // Handles gone stale after every rebuild, as Logic Pro's, or sooner: each press may leave the
    // next folder's triangle unanswering.
    const std::string stale = *rc::gen::weightedElement<std::string>({{3, "onRebuild"}, {1, "always"}, {1, "afterReads 3"}});
    RC_LOG() << "stale after: " << stale << "\n";
    for (const auto& s : steps) {
        if (s.renameIndex >= 0) RC_LOG() << "by hand: track at " << s.renameIndex << " renamed '" << s.renameTo << "'\n";
        RC_LOG() << s.tool << " " << s.args << "\n";
    }
    const auto plain = run(song, steps, stale, false);
    const auto quick = run(song, steps, stale, true);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        RC_LOG() << "plain: " << plain[i].dump() << "\nquick: " << quick[i].dump() << "\n";
        RC_ASSERT(plain[i] == quick[i]);
    }
}

}  // namespace
}  // namespace corvane::testing
