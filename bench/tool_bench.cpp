// Runs each agent tool 100 times on the simulated Logic Pro and prints, per tool, the
// Accessibility calls per call and the CPU time per call. The pauses the tools are prescribed to
// make (activation, key pacing) pass in virtual time and cost no CPU; they are printed beside it
// as the baseline a real Logic Pro would add.

#include <fmt/format.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "chat/chat_tool_executor.h"
#include "platform/platform.h"
#include "platform/standin/world.h"

namespace corvane {
namespace {

std::atomic<long> axCalls{0};

// An element that counts every Accessibility call made through it and hands out counting
// elements for the elements it answers.
class CountingElement final : public platform::AXElementImpl {
public:
    explicit CountingElement(platform::AXElement inner) : inner_(std::move(inner)) {}

    static platform::AXElement wrap(const platform::AXElement& e) {
        return e ? platform::AXElement(std::make_shared<CountingElement>(e)) : e;
    }

    platform::AXError copyAttributeValue(const std::string& attribute, platform::AXValue& out) const override {
        ++axCalls;
        auto error = inner_.copyAttributeValue(attribute, out);
        if (auto* element = std::get_if<platform::AXElement>(&out)) *element = wrap(*element);
        if (auto* list = std::get_if<std::vector<platform::AXElement>>(&out))
            for (auto& element : *list) element = wrap(element);
        return error;
    }
    platform::AXError setAttributeValue(const std::string& attribute, const platform::AXValue& value) override {
        ++axCalls;
        return inner_.setAttributeValue(attribute, value);
    }
    platform::AXError isAttributeSettable(const std::string& attribute, bool& out) const override {
        ++axCalls;
        return inner_.isAttributeSettable(attribute, out);
    }
    platform::AXError copyAttributeNames(std::vector<std::string>& out) const override {
        ++axCalls;
        return inner_.copyAttributeNames(out);
    }
    platform::AXError copyActionNames(std::vector<std::string>& out) const override {
        ++axCalls;
        return inner_.copyActionNames(out);
    }
    platform::AXError performAction(const std::string& action) override {
        ++axCalls;
        return inner_.performAction(action);
    }
    platform::AXError processIdentifier(int& out) const override {
        ++axCalls;
        return inner_.processIdentifier(out);
    }
    bool isSameElement(const platform::AXElementImpl& other) const override {
        auto* counted = dynamic_cast<const CountingElement*>(&other);
        return inner_.impl()->isSameElement(counted ? *counted->inner_.impl() : other);
    }
    std::size_t identityHash() const override { return inner_.impl()->identityHash(); }

private:
    platform::AXElement inner_;
};

class CountingAccessibility final : public platform::Accessibility {
public:
    explicit CountingAccessibility(platform::Accessibility& inner) : inner_(inner) {}
    platform::AXElement applicationElement(int pid) override {
        ++axCalls;
        return CountingElement::wrap(inner_.applicationElement(pid));
    }
    platform::AXElement systemWideElement() override {
        ++axCalls;
        return CountingElement::wrap(inner_.systemWideElement());
    }
    bool isProcessTrusted(bool prompt) override { return inner_.isProcessTrusted(prompt); }

private:
    platform::Accessibility& inner_;
};

double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

nlohmann::json demoSong() {
    return nlohmann::json::parse(
        std::ifstream(std::filesystem::path(CORVANE_SOURCE_DIR) / "resources/Scenarios/demo-song.json"));
}

int run() {
    char folder[] = "/tmp/corvane-tool-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    setenv("CORVANE_HOME", folder, 1);

    standin::World world(demoSong());
    CountingAccessibility counting(world.accessibility());
    platform::Services services = world.services();
    services.accessibility = &counting;
    platform::ScopedServices installed(services);

    ConversationStore conversations;
    MemoryStore memories;
    ToolLogger logger;
    PluginInventoryService inventory{std::filesystem::path(folder) / "system", std::filesystem::path(folder) / "home"};
    LogicInspector logic;
    PluginMapStore maps(std::filesystem::path(CORVANE_SOURCE_DIR) / "resources");
    PluginInspector plugins(logic, maps);
    ChatToolExecutor executor({inventory, conversations, memories, logic, plugins, logger, {}});
    const std::string threadID = conversations.createThread(std::string("Demo Song")).currentThreadID;

    struct Tool {
        const char* name;
        std::vector<std::string> arguments;  // used in turn
        // Puts the project back after each call (an added plug-in taken out); not measured.
        const char* undoName = nullptr;
        std::string undoArguments;
        Tool(const char* n, std::vector<std::string> a, const char* un = nullptr, std::string ua = {})
            : name(n), arguments(std::move(a)), undoName(un), undoArguments(std::move(ua)) {}
    };
    const Tool tools[] = {
        {"list_tracks", {"{}"}},
        {"get_transport", {"{}"}},
        {"get_arrangement", {"{}", R"({"track_name":"Bass"})"}},
        {"control_transport", {R"({"action":"play"})", R"({"action":"stop"})"}},
        {"get_track_details", {R"({"track_names":["Kick","Bass"]})", R"({"track_names":["Lead Vox"]})"}},
        {"set_track_solo",
         {R"({"enabled":true,"track_names":["Kick","Bass"]})", R"({"enabled":false,"track_names":["Kick","Bass"]})"}},
        {"set_track_mute", {R"({"enabled":true,"track_name":"Guitar"})", R"({"enabled":false,"track_name":"Guitar"})"}},
        {"set_track_volume",
         {R"({"tracks":[{"track_name":"Bass","value":"-6 dB"}]})", R"({"track_name":"Bass","value":"180"})"}},
        {"set_track_pan", {R"({"track_name":"Guitar","value":"+5"})", R"({"track_name":"Guitar","value":"-5"})"}},
        {"set_folder_expanded", {R"({"name":"Drums","expanded":false})", R"({"name":"Drums","expanded":true})"}},
        {"rename_track",
         {R"({"current_name":"Guitar","new_name":"Gtr"})", R"({"current_name":"Gtr","new_name":"Guitar"})"}},
        {"ensure_bus_track", {R"({"source_track":"Kick","bus_label":"Bus 1"})"}},
        {"ensure_master_track", {"{}"}},
        {"set_send_level",
         {R"({"track_name":"Kick","bus_label":"Bus 1","target_db":-12})",
          R"({"track_name":"Kick","bus_label":"Bus 1","delta_db":"-3"})"}},
        {"get_plugin_parameters", {R"({"track_name":"Bass","plugin_name":"Compressor"})"}},
        {"set_plugin_parameter",
         {R"({"track_name":"Bass","plugin_index":0,"parameter_name":"Threshold","value":"-20 dB"})",
          R"({"track_name":"Bass","plugin_index":0,"parameter_name":"Threshold","value":"-30 dB"})"}},
        {"set_plugin_bypass", {R"({"track_name":"Kick","plugin_index":1})"}},
        {"add_plugin",
         {R"({"track_name":"Lead Vox","plugin_name":"Limiter"})"},
         "remove_plugin",
         R"({"track_name":"Lead Vox","plugin_name":"Limiter"})"},
        {"remove_plugin",
         {R"({"track_name":"Bass","plugin_name":"Compressor"})"},
         "add_plugin",
         R"({"track_name":"Bass","plugin_name":"Compressor"})"},
        {"reorder_plugin",
         {R"({"track_name":"Kick","from_index":0,"to_index":1})",
          R"({"track_name":"Kick","from_index":1,"to_index":0})"}},
        {"set_plugin_sidechain",
         {R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":"Bus 1"})",
          R"({"track_name":"Lead Vox","plugin_name":"Compressor","source":"Kick"})"}},
    };
    constexpr int kRuns = 100;
    auto call = [&](const char* name, const std::string& args) {
        std::optional<InstalledPluginInventory> installedPlugins;
        std::vector<ToolExecution> toolsUsed;
        std::optional<std::string> signature;  // a fresh turn each time: never a repeat
        executor.executeToolCalls({{"call", name, args}}, ChatRequest{}, threadID, 0, std::string("Demo Song"),
                                  installedPlugins, toolsUsed, signature);
        logic.closeOpenPluginAndRestoreEditorView();  // as the agent loop does at the end of a turn
        plugins.resetTurnState();
        if (toolsUsed.size() == 1 && toolsUsed[0].succeeded) return true;
        fmt::print(stderr, "{} failed: {}\n", name, toolsUsed.empty() ? "" : toolsUsed[0].summary);
        return false;
    };
    fmt::print("{:<22} {:>14} {:>16} {:>22}\n", "tool", "AX calls/call", "CPU ms/call", "prescribed sleeps s/call");
    for (const auto& tool : tools) {
        const long axBefore = axCalls.load();
        const double cpuBefore = cpuSeconds();
        const double virtualBefore = world.virtualSeconds();
        long undoAX = 0;
        double undoCPU = 0;
        double undoVirtual = 0;
        for (int i = 0; i < kRuns; ++i) {
            if (!call(tool.name, tool.arguments[static_cast<std::size_t>(i) % tool.arguments.size()])) return 1;
            if (!tool.undoName) continue;
            const long ax = axCalls.load();
            const double cpu = cpuSeconds();
            const double virtualStart = world.virtualSeconds();
            if (!call(tool.undoName, tool.undoArguments)) return 1;
            undoAX += axCalls.load() - ax;
            undoCPU += cpuSeconds() - cpu;
            undoVirtual += world.virtualSeconds() - virtualStart;
        }
        fmt::print("{:<22} {:>14.1f} {:>16.3f} {:>22.3f}\n", tool.name,
                   static_cast<double>(axCalls.load() - axBefore - undoAX) / kRuns,
                   (cpuSeconds() - cpuBefore - undoCPU) * 1000.0 / kRuns,
                   (world.virtualSeconds() - virtualBefore - undoVirtual) / kRuns);
    }
    logger.drain();
    std::filesystem::remove_all(folder);
    return 0;
}

}  // namespace
}  // namespace corvane

int main() { return corvane::run(); }
