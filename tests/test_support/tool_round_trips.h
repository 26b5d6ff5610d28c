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
#include "platform/platform.h"
#include "platform/standin/world.h"
#include "test_support/counting_accessibility.h"
#include "test_support/free_port.h"

namespace corvane::round_trips {

using corvane::testing::CountingAccessibility;

struct Tool {
    const char* name;
    std::vector<std::string> arguments;  // used in turn
    long goal;                           // the most round trips a call may make
    // Puts the project back after each call (an added plug-in taken out); not counted.
    const char* undoName = nullptr;
    std::string undoArguments;
    Tool(const char* n, std::vector<std::string> a, long g, const char* un = nullptr, std::string ua = {})
        : name(n), arguments(std::move(a)), goal(g), undoName(un), undoArguments(std::move(ua)) {}
};

inline constexpr long kReadingGoal = 50;
inline constexpr long kEditingGoal = 150;
inline constexpr long kWideGoal = 300;  // the tools that read several whole channel strips

inline const std::vector<Tool>& tools() {
    static const std::vector<Tool> all{
        {"list_tracks", {"{}"}, kReadingGoal},
        {"get_transport", {"{}"}, kReadingGoal},
        {"get_arrangement", {"{}", R"({"track_name":"Bass"})"}, kReadingGoal},
        {"control_transport", {R"({"action":"play"})", R"({"action":"stop"})"}, kEditingGoal},
        {"get_track_details", {R"({"track_names":["Kick","Bass"]})", R"({"track_names":["Lead Vox"]})"}, kWideGoal},
        {"set_track_solo",
         {R"({"enabled":true,"track_names":["Kick","Bass"]})", R"({"enabled":false,"track_names":["Kick","Bass"]})"},
         kEditingGoal},
        {"set_track_mute",
         {R"({"enabled":true,"track_name":"Guitar"})", R"({"enabled":false,"track_name":"Guitar"})"},
         kEditingGoal},
        {"set_track_volume",
         {R"({"tracks":[{"track_name":"Bass","value":"-6 dB"}]})", R"({"track_name":"Bass","value":"180"})"},
         kEditingGoal},
        {"set_track_pan",
         {R"({"track_name":"Guitar","value":"+5"})", R"({"track_name":"Guitar","value":"-5"})"},
         kEditingGoal},
        {"set_folder_expanded",
         {R"({"name":"Drums","expanded":false})", R"({"name":"Drums","expanded":true})"},
         kEditingGoal},
        {"rename_track",
         {R"({"current_name":"Guitar","new_name":"Gtr"})", R"({"current_name":"Gtr","new_name":"Guitar"})"},
         kEditingGoal},
        {"ensure_bus_track", {R"({"source_track":"Kick","bus_label":"Bus 1"})"}, kWideGoal},
        {"ensure_master_track", {"{}"}, kEditingGoal},
        {"set_send_level",
         {R"({"track_name":"Kick","bus_label":"Bus 1","target_db":-12})",
          R"({"track_name":"Kick","bus_label":"Bus 1","delta_db":"-3"})"},
         kEditingGoal},
        {"get_plugin_parameters", {R"({"track_name":"Bass","plugin_name":"Compressor"})"}, kReadingGoal},
        {"set_plugin_parameter",
         {R"({"track_name":"Bass","plugin_index":0,"parameter_name":"Threshold","value":"-20 dB"})",
          R"({"track_name":"Bass","plugin_index":0,"parameter_name":"Threshold","value":"-30 dB"})"},
         kEditingGoal},
        {"set_plugin_bypass", {R"({"track_name":"Kick","plugin_index":1})"}, kEditingGoal},
        {"add_plugin",
         {R"({"track_name":"Lead Vox","plugin_name":"Limiter"})"},
         kEditingGoal,
         "remove_plugin",
         R"({"track_name":"Lead Vox","plugin_name":"Limiter"})"},
        {"remove_plugin",
         {R"({"track_name":"Bass","plugin_name":"Compressor"})"},
         kEditingGoal,
         "add_plugin",
         R"({"track_name":"Bass","plugin_name":"Compressor"})"},
        {"reorder_plugin",
         {R"({"track_name":"Kick","from_index":0,"to_index":1})",
          R"({"track_name":"Kick","from_index":1,"to_index":0})"},
         kEditingGoal},
        {"set_plugin_sidechain",
         {R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":"Bus 1"})",
          R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":"Kick"})"},
         kEditingGoal},
    };
    return all;
}

struct Figures {
    std::string tool;
    long goal = 0;
    long first = 0;                    // round trips of the first call
    double mean = 0;                   // per call over all runs
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

// Runs every tool `runs` times in turn on a fresh session in `folder` (the application folder
// goes there); `kept` turns kept answers and batched reads on or off. Empty when a call failed;
// `failure` then says which.
inline std::vector<Figures> measure(const std::filesystem::path& folder, int runs, bool kept, std::string& failure,
                                    Session session = Session::demo) {
    struct Switch {
        bool was = platform::AXReadScope::enabled();
        explicit Switch(bool on) { platform::AXReadScope::setEnabled(on); }
        ~Switch() { platform::AXReadScope::setEnabled(was); }
    } keptAnswers(kept);

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
        f.goal = tool.goal;
        long counted = 0;
        double cpu = 0;
        double slept = 0;
        for (int i = 0; i < runs; ++i) {
            const long before = calls.load();
            const double cpuBefore = cpuSeconds();
            const double virtualBefore = world.virtualSeconds();
            if (!call(tool.name, tool.arguments[static_cast<std::size_t>(i) % tool.arguments.size()])) return {};
            const long made = calls.load() - before;
            if (i == 0) f.first = made;
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

}  // namespace corvane::round_trips
