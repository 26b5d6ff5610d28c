// Runs each reading tool 100 times on the simulated Logic Pro and prints, per tool, the
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
    PluginMapStore maps;
    PluginInspector plugins(logic, maps);
    ChatToolExecutor executor({inventory, conversations, memories, logic, plugins, logger, {}});
    const std::string threadID = conversations.createThread(std::string("Demo Song")).currentThreadID;

    struct Tool {
        const char* name;
        std::vector<std::string> arguments;  // used in turn
    };
    const Tool tools[] = {
        {"list_tracks", {"{}"}},
        {"get_transport", {"{}"}},
        {"get_arrangement", {"{}", R"({"track_name":"Bass"})"}},
        {"control_transport", {R"({"action":"play"})", R"({"action":"stop"})"}},
        {"get_track_details", {R"({"track_names":["Kick","Bass"]})", R"({"track_names":["Lead Vox"]})"}},
    };
    constexpr int kRuns = 100;
    fmt::print("{:<20} {:>14} {:>16} {:>22}\n", "tool", "AX calls/call", "CPU ms/call", "prescribed sleeps s/call");
    for (const auto& tool : tools) {
        const long axBefore = axCalls.load();
        const double cpuBefore = cpuSeconds();
        const double virtualBefore = world.virtualSeconds();
        for (int i = 0; i < kRuns; ++i) {
            std::optional<InstalledPluginInventory> installedPlugins;
            std::vector<ToolExecution> toolsUsed;
            std::optional<std::string> signature;  // a fresh turn each time: never a repeat
            const std::string& args = tool.arguments[static_cast<std::size_t>(i) % tool.arguments.size()];
            executor.executeToolCalls({{"call", tool.name, args}}, ChatRequest{}, threadID, 0, std::string("Demo Song"),
                                      installedPlugins, toolsUsed, signature);
            if (toolsUsed.size() != 1 || !toolsUsed[0].succeeded) {
                fmt::print(stderr, "{} failed: {}\n", tool.name, toolsUsed.empty() ? "" : toolsUsed[0].summary);
                return 1;
            }
        }
        fmt::print("{:<20} {:>14.1f} {:>16.3f} {:>22.3f}\n", tool.name,
                   static_cast<double>(axCalls.load() - axBefore) / kRuns, (cpuSeconds() - cpuBefore) * 1000.0 / kRuns,
                   (world.virtualSeconds() - virtualBefore) / kRuns);
    }
    logger.drain();
    std::filesystem::remove_all(folder);
    return 0;
}

}  // namespace
}  // namespace corvane

int main() { return corvane::run(); }
