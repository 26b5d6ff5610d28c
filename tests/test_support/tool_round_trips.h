#pragma once

// Counts the Accessibility round trips each agent tool makes on the simulated Logic Pro, on the demo
// song and on a mixing-size session: shared by the tool bench and the test that holds the counts
// down. A round trip is one call that reaches Logic Pro's process, counted as the host would: one
// attribute, several attributes of one element, one write, one action, or the element at a point.
// A list of children with attributes of each is one for the list and one per child; an answer kept
// by a read scope is none.

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
    Tool(const char* n, std::vector<std::string> a, Reach r, const char* un = nullptr, std::string ua = {})
        : name(n), arguments(std::move(a)), reach(r), undoName(un), undoArguments(std::move(ua)) {}
    // The most round trips a call may make on the demo song, from the tool's line in the catalog.
    long goal() const {
        const ToolDescriptor* descriptor = findTool(name);
        return descriptor ? roundTripGoal(descriptor->roundTrips) : 0;
    }
};

// Reading a plug-in's parameters: a base and two per parameter it returns.
inline constexpr long kParameterBase = 30;
inline constexpr long kPerParameter = 2;
// Reporting on every track, in any session.
inline constexpr long kPerTrack = 3;
inline constexpr long kEveryTrackBase = 30;

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
         {R"({"enabled":true,"track_names":["Kick","Bass"]})", R"({"enabled":false,"track_names":["Kick","Bass"]})"}, Reach::namedTrack},
        {"set_track_mute",
         {R"({"enabled":true,"track_name":"Guitar"})", R"({"enabled":false,"track_name":"Guitar"})"}, Reach::namedTrack},
        {"set_track_volume",
         {R"({"tracks":[{"track_name":"Bass","value":"-6 dB"}]})", R"({"track_name":"Bass","value":"180"})"}, Reach::namedTrack},
        {"set_track_pan",
         {R"({"track_name":"Guitar","value":"+5"})", R"({"track_name":"Guitar","value":"-5"})"}, Reach::namedTrack},
        {"set_folder_expanded",
         {R"({"name":"Drums","expanded":false})", R"({"name":"Drums","expanded":true})"}, Reach::namedTrack},
        {"rename_track",
         {R"({"current_name":"Guitar","new_name":"Gtr"})", R"({"current_name":"Gtr","new_name":"Guitar"})"}, Reach::namedTrack},
        {"ensure_bus_track", {R"({"source_track":"Kick","bus_label":"Bus 1"})"}, Reach::namedTrack},
        {"ensure_master_track", {"{}"}, Reach::namedTrack},  // looks for "Stereo Out" among the tracks
        {"set_send_level",
         {R"({"track_name":"Kick","bus_label":"Bus 1","target_db":-12})",
          R"({"track_name":"Kick","bus_label":"Bus 1","delta_db":"-3"})"}, Reach::namedTrack},
        {"get_plugin_parameters",
         {R"({"track_name":"Bass","plugin_name":"Compressor"})"},
         Reach::namedTrack},
        {"set_plugin_parameter",
         {R"({"track_name":"Bass","plugin_index":0,"parameter_name":"Threshold","value":"-20 dB"})",
          R"({"track_name":"Bass","plugin_index":0,"parameter_name":"Threshold","value":"-30 dB"})"}, Reach::namedTrack},
        {"set_plugin_bypass", {R"({"track_name":"Kick","plugin_index":1})"}, Reach::namedTrack},
        {"add_plugin",
         {R"({"track_name":"Lead Vox","plugin_name":"Limiter"})"}, Reach::namedTrack,
         "remove_plugin",
         R"({"track_name":"Lead Vox","plugin_name":"Limiter"})"},
        {"remove_plugin",
         {R"({"track_name":"Bass","plugin_name":"Compressor"})"}, Reach::namedTrack,
         "add_plugin",
         R"({"track_name":"Bass","plugin_name":"Compressor"})"},
        {"reorder_plugin",
         {R"({"track_name":"Kick","from_index":0,"to_index":1})",
          R"({"track_name":"Kick","from_index":1,"to_index":0})"}, Reach::namedTrack},
        {"set_plugin_sidechain",
         {R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":"Bus 1"})",
          R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":"Kick"})"}, Reach::namedTrack},
    };
    return all;
}

struct Figures {
    std::string tool;
    long goal = 0;
    long first = 0;                    // round trips of the first call
    double mean = 0;                   // per call over all runs
    long returned = 0;                 // the parameters the first call returned, if it returns any
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

// Runs every tool `runs` times in turn on a fresh session in `folder` (the application folder
// goes there). Empty when a call failed; `failure` then says which.
inline std::vector<Figures> measure(const std::filesystem::path& folder, int runs, Setup setup, std::string& failure) {
    struct Switch {
        bool was = platform::AXReadScope::enabled();
        explicit Switch(bool on) { platform::AXReadScope::setEnabled(on); }
        ~Switch() { platform::AXReadScope::setEnabled(was); }
    } keptAnswers(setup.keptAnswers);
    // Also forgets what an earlier session's calls found.
    struct PlacesSwitch {
        bool was = LogicInspector::KeptPlaces::keptBetweenCalls();
        explicit PlacesSwitch(bool on) { LogicInspector::KeptPlaces::setKeptBetweenCalls(on); }
        ~PlacesSwitch() { LogicInspector::KeptPlaces::setKeptBetweenCalls(was); }
    } keptPlaces(setup.keptPlaces);
    const Session session = setup.session;

    std::atomic<long> calls{0};
    standin::World world(scenario(session));
    // The plug-ins' posts go where nobody listens: whether another program answers on the
    // well-known port must not change what the run records.
    world.updateFaults([](standin::Faults& faults) { faults.analysisPort = corvane::testing::freePort(); });
    CountingAccessibility counting(world.accessibility(), calls);
    platform::Services services = world.services();
    services.accessibility = &counting;
    platform::ScopedServices installed(services);

    ConversationStore conversations;
    MemoryStore memories;
    ToolLogger logger;
    PluginInventoryService inventory{folder / "system", folder / "home"};
    LogicInspector logic;
    PluginMapStore maps(std::filesystem::path(CORVANE_SOURCE_DIR) / "resources");
    PluginInspector plugins(logic, maps);
    ChatToolExecutor executor({inventory, conversations, memories, logic, plugins, logger, {}});
    const std::string threadID = conversations.createThread(std::string("Demo Song")).currentThreadID;

    std::vector<std::string> answers;
    auto call = [&](const char* name, const std::string& args) {
        std::optional<InstalledPluginInventory> installedPlugins;
        std::vector<ToolExecution> toolsUsed;
        std::optional<std::string> signature;  // a fresh turn each time: never a repeat
        const auto outputs =
            executor.executeToolCalls({{"call", name, args}}, ChatRequest{}, threadID, 0, std::string("Demo Song"),
                                      installedPlugins, toolsUsed, signature);
        for (const auto& output : outputs) answers.push_back(output.outputJSON);
        // What reached Logic Pro, and when: keys, clicks, actions and writes with their results.
        for (const auto& e : world.eventLog())
            answers.push_back(fmt::format("{:.6f} {} {} {} {} {} {} {} {}", e.time, static_cast<int>(e.kind), e.route,
                                          e.keyCode, e.keyDown, e.text, e.element, e.name, e.code));
        world.clearEventLog();
        logic.closeOpenPluginAndRestoreEditorView();  // as the agent loop does at the end of a turn
        plugins.resetTurnState();
        if (toolsUsed.size() == 1 && toolsUsed[0].succeeded) return true;
        failure = fmt::format("{} failed: {}", name, toolsUsed.empty() ? "" : toolsUsed[0].summary);
        return false;
    };

    std::vector<Figures> figures;
    for (const auto& tool : tools()) {
        Figures f;
        f.tool = tool.name;
        f.goal = tool.goal();
        long counted = 0;
        double cpu = 0;
        double slept = 0;
        for (int i = 0; i < runs; ++i) {
            const long before = calls.load();
            const double cpuBefore = cpuSeconds();
            const double virtualBefore = world.virtualSeconds();
            if (!call(tool.name, tool.arguments[static_cast<std::size_t>(i) % tool.arguments.size()])) return {};
            const long made = calls.load() - before;
            if (i == 0) {
                f.first = made;
                const auto answer = nlohmann::json::parse(answers.front(), nullptr, false);
                if (answer.is_object() && answer.contains("parameters") && answer["parameters"].is_array())
                    f.returned = static_cast<long>(answer["parameters"].size());
            }
            counted += made;
            cpu += cpuSeconds() - cpuBefore;
            slept += world.virtualSeconds() - virtualBefore;
            if (tool.undoName && !call(tool.undoName, tool.undoArguments)) return {};
        }
        f.outputs = std::move(answers);
        answers.clear();
        f.mean = static_cast<double>(counted) / runs;
        f.cpuMs = cpu * 1000.0 / runs;
        f.sleeps = slept / runs;
        figures.push_back(std::move(f));
    }
    logger.drain();
    return figures;
}

// The most round trips a call may make, first and on average: on the demo song the tool's goal (for
// a plug-in's parameters, a base and two per parameter returned); in the larger session the same
// as on the demo song (within a tenth) for a tool that touches no track, the goal and one per added
// track for one that finds tracks by name, and a few per track for one that reports on every track.
struct Budget {
    double first = 0;
    double mean = 0;
};
inline Budget budget(const Tool& tool, const Figures& demo, Session session) {
    const double goal = demo.returned > 0 ? double(kParameterBase + kPerParameter * demo.returned) : double(tool.goal());
    if (session == Session::demo) return {goal, goal};
    switch (tool.reach) {
        case Reach::noTrack: return {1.1 * double(demo.first), 1.1 * demo.mean};
        case Reach::namedTrack: return {goal + kAddedTracks, goal + kAddedTracks};
        case Reach::everyTrack: break;
    }
    const double everyTrack = double(kPerTrack * (kDemoTracks + kAddedTracks) + kEveryTrackBase);
    return {everyTrack, everyTrack};
}

}  // namespace corvane::round_trips
