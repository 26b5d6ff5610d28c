#pragma once

// Counts the Accessibility round trips each agent tool makes on the simulated Logic Pro, on the demo
// song and on a mixing-size session: shared by the tool bench and the test that holds the counts
// down. A round trip is one call that reaches Logic Pro's process, counted as the host would: one
// attribute, several attributes of one element, one write, one action, or the element at a point.
// A list of children with attributes of each is one for the list and one per child; an answer kept
// by a read scope is none.

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "chat/chat_orchestrator.h"
#include "chat/chat_tool_executor.h"
#include "logic/logic_inspector.h"
#include "model/tool_catalog.h"
#include "platform/platform.h"
#include "platform/standin/world.h"
#include "test_support/counting_accessibility.h"
#include "test_support/free_port.h"

namespace corvane::round_trips {

using corvane::testing::CountingAccessibility;

// What a tool looks through, which says how its count may grow with the session.
enum class Reach {
    noTrack,     // transport, master: no more round trips in a larger session
    namedTrack,  // finds the tracks it is given by name: once, at most one more per added track
    everyTrack,  // reports on every track: a few per track
};

struct Tool {
    const char* name;
    std::vector<std::string> arguments;  // used in turn
    Reach reach;
    // Puts the project back after each call (an added plug-in taken out); not counted.
    const char* undoName = nullptr;
    std::string undoArguments;
    // The line's name, when the tool has more than one line (a plug-in with a map and one without).
    const char* label = nullptr;
    Tool(const char* n, std::vector<std::string> a, Reach r, const char* un = nullptr, std::string ua = {},
         const char* l = nullptr)
        : name(n), arguments(std::move(a)), reach(r), undoName(un), undoArguments(std::move(ua)), label(l) {}
    const char* line() const { return label ? label : name; }
    // The most round trips a call may make on the demo song, from the tool's line in the catalog.
    long goal() const {
        const ToolDescriptor* descriptor = findTool(name);
        return descriptor ? roundTripGoal(descriptor->roundTrips) : 0;
    }
};

// Reading a plug-in's parameters on the demo song, per call over the bench's run and steady:
// through its map, and through the Controls view (whose two view switches cost their own round
// trips) when it has none. A first call also looks through the window for what later ones find
// where it lay, and the calls after it make up for that within the run. Each run's turn end lists
// Logic Pro's windows up to the one of its own in front, which the close gives the front back to.
inline constexpr long kMappedParameters = 36;
inline constexpr long kUnmappedParameters = 52;
inline constexpr long kFirstPluginWindow = 35;
// Reporting on every track, in any session.
inline constexpr long kPerTrack = 4;
inline constexpr long kEveryTrackBase = 30;
// The listing a turn starts with, when the turn before read it and nothing changed since.
inline constexpr double kLaterPerTrack = 1.1;
inline constexpr double kLaterBase = 10;
// One scripted turn (see scriptedTurn).
inline constexpr long kScriptedTurnDemo = 400;
inline constexpr long kScriptedTurnLarge = 850;
// The calls of each line the bench makes: its figures per call are over so many.
inline constexpr int kBenchRuns = 20;

inline const std::vector<Tool>& tools() {
    static const std::vector<Tool> all{
        {"list_tracks", {"{}"}, Reach::everyTrack},
        {"get_transport", {"{}"}, Reach::noTrack},
        {"get_arrangement", {"{}", R"({"track_name":"Bass"})"}, Reach::everyTrack},
        {"control_transport", {R"({"action":"play"})", R"({"action":"stop"})"}, Reach::noTrack},
        {"get_track_details",
         {R"({"track_names":["Kick","Bass"]})", R"({"track_names":["Lead Vox"]})"},
         Reach::namedTrack},
        {"set_track_solo",
         {R"({"enabled":true,"track_names":["Kick","Bass"]})", R"({"enabled":false,"track_names":["Kick","Bass"]})"},
         Reach::namedTrack},
        {"set_track_mute",
         {R"({"enabled":true,"track_name":"Guitar"})", R"({"enabled":false,"track_name":"Guitar"})"},
         Reach::namedTrack},
        {"set_track_volume",
         {R"({"tracks":[{"track_name":"Bass","value":"-6 dB"}]})", R"({"track_name":"Bass","value":"180"})"},
         Reach::namedTrack},
        {"set_track_pan",
         {R"({"track_name":"Guitar","value":"+5"})", R"({"track_name":"Guitar","value":"-5"})"},
         Reach::namedTrack},
        {"set_folder_expanded",
         {R"({"name":"Drums","expanded":false})", R"({"name":"Drums","expanded":true})"},
         Reach::namedTrack},
        {"rename_track",
         {R"({"current_name":"Guitar","new_name":"Gtr"})", R"({"current_name":"Gtr","new_name":"Guitar"})"},
         Reach::namedTrack},
        {"ensure_bus_track", {R"({"source_track":"Kick","bus_label":"Bus 1"})"}, Reach::namedTrack},
        {"ensure_master_track", {"{}"}, Reach::namedTrack},  // looks for "Stereo Out" among the tracks
        {"set_send_level",
         {R"({"track_name":"Kick","bus_label":"Bus 1","target_db":-12})",
          R"({"track_name":"Kick","bus_label":"Bus 1","delta_db":"-3"})"},
         Reach::namedTrack},
        {"get_plugin_parameters", {R"({"track_name":"Bass","plugin_name":"Compressor"})"}, Reach::namedTrack},
        {"get_plugin_parameters",
         {R"({"track_name":"Lead Vox","plugin_name":"Channel EQ"})"},
         Reach::namedTrack,
         nullptr,
         {},
         "get_plugin_parameters, no map"},
        {"set_plugin_parameter",
         {R"({"track_name":"Bass","plugin_index":0,"parameter_name":"Threshold","value":"-20 dB"})",
          R"({"track_name":"Bass","plugin_index":0,"parameter_name":"Threshold","value":"-30 dB"})"},
         Reach::namedTrack},
        {"set_plugin_bypass", {R"({"track_name":"Kick","plugin_index":1})"}, Reach::namedTrack},
        {"add_plugin",
         {R"({"track_name":"Lead Vox","plugin_name":"Limiter"})"},
         Reach::namedTrack,
         "remove_plugin",
         R"({"track_name":"Lead Vox","plugin_name":"Limiter"})"},
        {"remove_plugin",
         {R"({"track_name":"Bass","plugin_name":"Compressor"})"},
         Reach::namedTrack,
         "add_plugin",
         R"({"track_name":"Bass","plugin_name":"Compressor"})"},
        {"reorder_plugin",
         {R"({"track_name":"Kick","from_index":0,"to_index":1})",
          R"({"track_name":"Kick","from_index":1,"to_index":0})"},
         Reach::namedTrack},
        {"set_plugin_sidechain",
         {R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":"Bus 1"})",
          R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":"Kick"})",
          R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":"Keys"})"},
         Reach::namedTrack},
        {"expand_folder", {R"({"name":"Drums"})"}, Reach::namedTrack},
        {"collapse_folder", {R"({"name":"Drums"})"}, Reach::namedTrack, "expand_folder", R"({"name":"Drums"})"},
        // Last: its playback leaves the playhead where it ended.
        {"listen_to_playback", {R"({"duration_seconds":2,"start_bar":1})"}, Reach::noTrack},
    };
    return all;
}

struct Figures {
    std::string tool;  // the line's name
    long goal = 0;
    long first = 0;                    // round trips of the first call
    double mean = 0;                   // per call over all runs (for a turn's lines: over the later turns)
    double steady = 0;                 // per call after the first (for a turn's lines: over the later turns)
    long most = 0;                     // of the single call that made the most
    bool mapped = false;               // a plug-in read through its map
    double cpuMs = 0;                  // CPU time per call
    double sleeps = 0;                 // prescribed pauses per call, virtual seconds
    std::vector<std::string> outputs;  // each call's answer, and the project after it
};

inline double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

enum class Session {
    demo,   // the demo song: 7 tracks in the track list
    large,  // the demo song and 57 more tracks with inserts, sends and regions: 64 in the list
};
inline constexpr int kDemoTracks = 7;
inline constexpr int kAddedTracks = 57;

inline nlohmann::json scenario(Session session) {
    auto song = nlohmann::json::parse(
        std::ifstream(std::filesystem::path(CORVANE_SOURCE_DIR) / "resources/Scenarios/demo-song.json"));
    if (session == Session::demo) return song;
    // Half of them above the demo's tracks and half below, so that a track found by name is never
    // simply the first one looked at.
    auto& tracks = song["project"]["tracks"];
    nlohmann::json above = nlohmann::json::array();
    nlohmann::json below = nlohmann::json::array();
    for (int i = 1; i <= kAddedTracks; ++i) {
        nlohmann::json track{{"name", fmt::format("Take {:02}", i)},
                             {"kind", "audio"},
                             {"volume", 150 + i},
                             {"inserts", {{{"plugin", "Channel EQ"}}, {{"plugin", "Compressor"}}}},
                             {"sends", {{{"bus", 1}, {"levelDb", -20.0}}}},
                             {"regions", {{{"start", 1 + i % 8}, {"bars", 8}}, {{"start", 17 + i % 8}, {"bars", 16}}}}};
        (i <= kAddedTracks / 2 ? above : below).push_back(std::move(track));
    }
    nlohmann::json all = nlohmann::json::array();
    for (auto& t : above) all.push_back(std::move(t));
    auto at = tracks.begin();
    for (; at != tracks.end() && (*at).value("inArrange", true); ++at) all.push_back(*at);
    for (auto& t : below) all.push_back(std::move(t));
    for (; at != tracks.end(); ++at) all.push_back(*at);
    tracks = std::move(all);
    return song;
}

struct Setup {
    bool keptAnswers = true;  // a tool call's answers kept and batched (AXReadScope)
    bool keptPlaces = true;   // where things were found handed on from one call to the next
    Session session = Session::demo;
};

// One session on the simulated Logic Pro, with the program's services as the app builds them (the
// shipped plug-in maps loaded), counting every round trip that reaches it.
class Rig {
public:
    Rig(const std::filesystem::path& folder, Session session) : Rig(folder, scenario(session)) {}
    Rig(const std::filesystem::path& folder, const nlohmann::json& song)
        : world_(song), inventory_{folder / "system", folder / "home"} {
        // The plug-ins' posts go where nobody listens: whether another program answers on the
        // well-known port must not change what the run records.
        world_.updateFaults([this](standin::Faults& faults) { faults.analysisPort = closed_.port(); });
        counting_ = std::make_unique<CountingAccessibility>(world_.accessibility(), calls_);
        platform::Services services = world_.services();
        services.accessibility = counting_.get();
        installed_.emplace(services);
        maps_.reload();  // as the app does at its start
        threadID_ = conversations_.createThread(std::string("Demo Song")).currentThreadID;
    }
    ~Rig() { logger_.drain(); }

    long calls() const { return calls_.load(); }
    // Off: where things were found is not handed on from one call to the next.
    void keepPlaces(bool on) { LogicInspector::KeptPlaces::setKeptBetweenCalls(logic_, on); }
    double virtualSeconds() { return world_.virtualSeconds(); }

    // One tool call, as a round of a turn makes it; false (with `failure` saying why) when it failed.
    // `round`: of the turn, 0 for its first (which starts the turn).
    bool call(const char* name, const std::string& args, std::string& failure, int round = 0) {
        std::optional<InstalledPluginInventory> installedPlugins;
        std::vector<ToolExecution> toolsUsed;
        std::optional<std::string> signature;  // never a repeat
        const auto outputs =
            executor_.executeToolCalls({{"call", name, args}}, ChatRequest{}, threadID_, round,
                                       std::string("Demo Song"), installedPlugins, toolsUsed, signature);
        // What the call left to the UI thread (a listen brings the application to the front) is done
        // before anything else reaches Logic Pro: run at some moment of the next reads, it would end
        // their kept answers there, and the count would follow the threads' timing.
        world_.drainMainQueue();
        for (const auto& output : outputs) answers.push_back(output.outputJSON);
        recordEvents();
        if (toolsUsed.size() == 1 && toolsUsed[0].succeeded) return true;
        failure = fmt::format("{} failed: {}", name, toolsUsed.empty() ? "" : toolsUsed[0].summary);
        return false;
    }
    // The track listing a turn starts with.
    void startTurn() {
        for (const auto& t : ChatOrchestrator::collectAllTracks(logic_))
            answers.push_back(
                fmt::format("{} {} {} {} {}", t.trackNumber, t.name, t.isFolder, t.isMuted, t.indentLevel));
        recordEvents();
    }
    // As the agent loop does at the end of a turn.
    void endTurn() {
        logic_.closeOpenPluginAndRestoreEditorView();
        plugins_.resetTurnState();
        recordEvents();
    }

    std::vector<std::string> answers;  // each call's answer, and what reached Logic Pro

private:
    // What reached Logic Pro, and when: keys, clicks, actions and writes with their results.
    void recordEvents() {
        for (const auto& e : world_.eventLog())
            answers.push_back(fmt::format("{:.6f} {} {} {} {} {} {} {} {}", e.time, static_cast<int>(e.kind), e.route,
                                          e.keyCode, e.keyDown, e.text, e.element, e.name, e.code));
        world_.clearEventLog();
    }

    std::atomic<long> calls_{0};
    const corvane::testing::ClosedPort closed_;
    standin::World world_;
    std::unique_ptr<CountingAccessibility> counting_;
    std::optional<platform::ScopedServices> installed_;
    ConversationStore conversations_;
    MemoryStore memories_;
    ToolLogger logger_;
    PluginInventoryService inventory_;
    LogicInspector logic_;
    PluginMapStore maps_{std::filesystem::path(CORVANE_SOURCE_DIR) / "resources"};
    PluginInspector plugins_{logic_, maps_};
    ChatToolExecutor executor_{{inventory_, conversations_, memories_, logic_, plugins_, logger_, {}}};
    std::string threadID_;
};

// The lines of one turn as a user runs it (see scriptedTurn), after the tools' lines.
inline constexpr const char* kTurnStart = "turn start";
inline constexpr const char* kListAfterTurnStart = "list_tracks after turn start";
inline constexpr const char* kScriptedTurn = "scripted turn";

// A user's turn: the listing it starts with, the track list, one track's details and volume, and
// a plug-in of it read and written, then the turn's end.
struct ScriptedCall {
    const char* name;
    const char* arguments;
};
inline const std::vector<ScriptedCall>& scriptedTurn() {
    static const std::vector<ScriptedCall> calls{
        {"list_tracks", "{}"},
        {"get_track_details", R"({"track_names":["Bass"]})"},
        {"set_track_volume", R"({"track_name":"Bass","value":"-6 dB"})"},
        {"get_plugin_parameters", R"({"track_name":"Bass","plugin_name":"Compressor"})"},
        {"set_plugin_parameter",
         R"({"track_name":"Bass","plugin_index":0,"parameter_name":"Threshold","value":"-20 dB"})"},
    };
    return calls;
}

struct Switches {
    struct KeptAnswers {
        bool was = platform::AXReadScope::enabled();
        explicit KeptAnswers(bool on) { platform::AXReadScope::setEnabled(on); }
        ~KeptAnswers() { platform::AXReadScope::setEnabled(was); }
    } keptAnswers;
};

// The scripted turn `runs` times on a fresh session: its start, the list_tracks after it, and the
// whole turn, each first in the first turn and per turn over the later ones.
inline std::vector<Figures> measureTurns(const std::filesystem::path& folder, int runs, Session session,
                                         std::string& failure, bool keptPlaces = true) {
    Rig rig(folder, session);
    rig.keepPlaces(keptPlaces);
    Figures start, list, turn;
    start.tool = kTurnStart;
    list.tool = kListAfterTurnStart;
    turn.tool = kScriptedTurn;
    for (int i = 0; i < runs; ++i) {
        const long before = rig.calls();
        rig.startTurn();
        const long started = rig.calls();
        bool listed = false;
        long afterList = 0;
        for (const auto& call : scriptedTurn()) {
            if (!rig.call(call.name, call.arguments, failure)) return {};
            if (!listed) afterList = rig.calls();
            listed = true;
        }
        rig.endTurn();
        const long made[] = {started - before, afterList - started, rig.calls() - before};
        Figures* lines[] = {&start, &list, &turn};
        for (int k = 0; k < 3; ++k) {
            Figures& f = *lines[k];
            if (i == 0)
                f.first = made[k];
            else
                f.mean += double(made[k]) / double(std::max(1, runs - 1));
            f.most = std::max(f.most, made[k]);
        }
    }
    for (Figures* f : {&start, &list, &turn}) {
        if (runs == 1) f->mean = double(f->first);
        f->steady = f->mean;
        f->outputs = rig.answers;
    }
    return {start, list, turn};
}

// Runs every tool `runs` times in turn on a fresh session in `folder` (the application folder
// goes there), then the scripted turn as many times on another (see measureTurns). Empty when a
// call failed; `failure` then says which.
inline std::vector<Figures> measure(const std::filesystem::path& folder, int runs, Setup setup, std::string& failure) {
    const Switches switches{Switches::KeptAnswers(setup.keptAnswers)};
    std::vector<Figures> figures;
    {
        Rig rig(folder / "tools", setup.session);
        rig.keepPlaces(setup.keptPlaces);
        for (const auto& tool : tools()) {
            Figures f;
            f.tool = tool.line();
            f.goal = tool.goal();
            long counted = 0;
            double cpu = 0;
            double slept = 0;
            for (int i = 0; i < runs; ++i) {
                const long before = rig.calls();
                const double cpuBefore = cpuSeconds();
                const double virtualBefore = rig.virtualSeconds();
                if (!rig.call(tool.name, tool.arguments[static_cast<std::size_t>(i) % tool.arguments.size()], failure))
                    return {};
                rig.endTurn();
                const long made = rig.calls() - before;
                if (i == 0) {
                    f.first = made;
                    const auto answer = nlohmann::json::parse(rig.answers.front(), nullptr, false);
                    if (answer.is_object() && answer.value("mapApplied", false)) f.mapped = true;
                }
                counted += made;
                f.most = std::max(f.most, made);
                cpu += cpuSeconds() - cpuBefore;
                slept += rig.virtualSeconds() - virtualBefore;
                if (tool.undoName) {
                    if (!rig.call(tool.undoName, tool.undoArguments, failure)) return {};
                    rig.endTurn();
                }
            }
            f.outputs = std::move(rig.answers);
            rig.answers.clear();
            f.mean = static_cast<double>(counted) / runs;
            f.steady = runs > 1 ? static_cast<double>(counted - f.first) / (runs - 1) : f.mean;
            f.cpuMs = cpu * 1000.0 / runs;
            f.sleeps = slept / runs;
            figures.push_back(std::move(f));
        }
    }
    auto turns = measureTurns(folder / "turns", runs, setup.session, failure, setup.keptPlaces);
    if (turns.empty()) return {};
    for (auto& t : turns) figures.push_back(std::move(t));
    return figures;
}

// Per call over the bench's kBenchRuns calls, from fewer calls: the first and as many later
// ones as make up the rest (the simulated Logic Pro answers the later calls alike).
inline double benchMean(const Figures& line) {
    return (double(line.first) + double(kBenchRuns - 1) * line.steady) / double(kBenchRuns);
}

// The most round trips a call may make, first, on average (over the bench's run) and in any single call.
// - A tool on the demo song: its goal from the catalog; a plug-in's parameters, the figure for its
//   path (through a map or through the Controls view).
// - In the larger session: the same (within a tenth) for a tool that touches no track, the goal and
//   one per added track for one that finds tracks by name, and a few per track for one that reports
//   on every track.
// - A turn's start: a few per track the first time; little more than one per track after a turn
//   that read it, and the same for a list_tracks right after it. The scripted turn: a figure per
//   session.
struct Budget {
    double first = 0;
    double mean = 0;
    double most = 0;  // any single call
    double steady = 0;
};
inline Budget budget(const Figures& line, const Figures& demo, Session session) {
    const double tracks = session == Session::demo ? kDemoTracks : kDemoTracks + kAddedTracks;
    const double added = session == Session::demo ? 0 : kAddedTracks;
    const double firstListing = double(kPerTrack) * tracks + double(kEveryTrackBase);
    const double laterListing = kLaterPerTrack * tracks + kLaterBase;
    if (line.tool == kTurnStart) return {firstListing, laterListing, firstListing, laterListing};
    if (line.tool == kListAfterTurnStart) return {laterListing, laterListing, laterListing, laterListing};
    if (line.tool == kScriptedTurn) {
        const double most = double(session == Session::demo ? kScriptedTurnDemo : kScriptedTurnLarge);
        return {most, most, most, most};
    }
    const auto tool =
        std::find_if(tools().begin(), tools().end(), [&](const Tool& t) { return line.tool == t.line(); });
    if (tool == tools().end()) return {};
    if (tool->name == std::string("get_plugin_parameters")) {
        const double steady = double(demo.mapped ? kMappedParameters : kUnmappedParameters) + added;
        const double first = steady + double(kFirstPluginWindow);
        return {first, steady, first, steady};
    }
    const double goal = double(tool->goal());
    switch (tool->reach) {
        case Reach::noTrack:
            if (session == Session::demo) return {goal, goal, goal, goal};
            return {1.1 * double(demo.first), 1.1 * demo.mean, 1.1 * double(demo.most), 1.1 * demo.steady};
        case Reach::namedTrack: return {goal + added, goal + added, goal + added, goal + added};
        case Reach::everyTrack: break;
    }
    const double listing = session == Session::demo ? std::min(goal, firstListing) : firstListing;
    return {listing, listing, listing, listing};
}

}  // namespace corvane::round_trips
