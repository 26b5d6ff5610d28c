// The tools the executor answers itself: the installed plug-in inventory, the agent's notes to
// the controller and its interim messages to the user.

#include <algorithm>
#include <string>

#include "chat/chat_tool_executor.h"
#include "chat/track_descriptions.h"
#include "support/json_fields.h"
#include "support/unicode.h"

namespace corvane {

namespace {

constexpr const char* kOkOutput = R"({"ok":true})";
constexpr std::size_t kExampleNames = 8;
constexpr const char* kInvalidArguments = "Invalid arguments";

AgentToolOutputPayload okOutput(const ToolCall& toolCall) { return {toolCall.callID(), kOkOutput, {}, {}}; }

AgentToolOutputPayload listInstalledPlugins(ToolCall& toolCall) {
    // Scanned on every call: the user may have installed something since the last one.
    toolCall.installedPlugins = toolCall.executor.pluginInventoryService().scanInstalledPlugins();
    const InstalledPluginInventory& inventory = *toolCall.installedPlugins;

    std::string examples;
    const std::size_t taken = std::min(kExampleNames, inventory.plugins.size());
    for (std::size_t i = 0; i < taken; ++i) examples += (i ? ", " : "") + inventory.plugins[i].name;
    if (inventory.totalCount > static_cast<std::int64_t>(taken)) examples += ", ...";
    if (inventory.plugins.empty()) examples = "none found";
    const std::string message =
        "Found " + std::to_string(inventory.totalCount) + " installed plugins. Examples: " + examples + ".";

    toolCall.record(message, true);
    toolCall.note(message);
    return ChatToolExecutor::makePluginInventoryToolOutput(toolCall.callID(), "ok", toolCall.installedPlugins, message);
}

// Descriptions are kept per analysis instance, so a track without one has nowhere to keep its
// description: the model hears so instead of a success that stores nothing.
AgentToolOutputPayload updateTrackDescription(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto trackName = args ? tool_args::text(*args, "trackName") : std::nullopt;
    auto description = args ? tool_args::text(*args, "description") : std::nullopt;
    if (!trackName || !description) return toolCall.fail(kInvalidArguments);

    const std::string cannot = "Could not save the description for '" + *trackName + "': ";
    auto controller = toolCall.executor.host();
    if (!controller) return toolCall.fail(cannot + "track descriptions cannot be stored right now.");
    auto keys = descriptionKeysForTrack(*trackName, controller->trackAnalysis());
    if (keys.empty())
        return toolCall.fail(cannot +
                             "descriptions are kept per Corvane analysis plug-in, and no Corvane instance is "
                             "streaming from a track of that name. Insert Corvane on the track and start playback, "
                             "then retry.");
    bool stored = false;
    for (const auto& key : keys) stored = controller->storeTrackDescription(key, *description) || stored;
    if (!stored) return toolCall.fail(cannot + "the description could not be stored.");

    toolCall.record("Saved description for " + *trackName + ": " + *description, true);
    return okOutput(toolCall);
}

AgentToolOutputPayload updateSongBrief(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto brief = args ? tool_args::text(*args, "brief") : std::nullopt;
    if (!brief) return toolCall.fail(kInvalidArguments);
    // Headless, no window takes the brief: the model hears so rather than a success.
    auto controller = toolCall.executor.host();
    const auto refused = controller ? controller->updateSongBrief(*brief, toolCall.threadID)
                                    : std::optional<std::string>(ToolHost::kNoWindow);
    if (refused == ToolHost::kNoWindow)
        return toolCall.fail("The song brief was not stored: no chat window is open to keep it. Tell the user the "
                             "brief instead, or ask them to open the Corvane window and retry.");
    if (refused) return toolCall.fail("The song brief was not stored: " + *refused + ".");
    toolCall.record("Saved song brief: " + *brief, true);
    return okOutput(toolCall);
}

AgentToolOutputPayload updateUser(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto raw = args ? tool_args::text(*args, "message") : std::nullopt;
    const std::string message = raw ? text::trimmingWhitespaceAndNewlines(*raw) : std::string();
    if (message.empty()) {
        toolCall.record("Missing message", false);
        return ChatToolExecutor::makeErrorToolOutput(toolCall.callID(), "Missing or empty 'message' argument");
    }
    toolCall.executor.sendInterimUpdate(message);
    toolCall.record(message, true);
    return okOutput(toolCall);
}

}  // namespace

AgentToolOutputPayload tool_handlers::listInstalledPlugins(ToolCall& toolCall) {
    return corvane::listInstalledPlugins(toolCall);
}
AgentToolOutputPayload tool_handlers::updateTrackDescription(ToolCall& toolCall) {
    return corvane::updateTrackDescription(toolCall);
}
AgentToolOutputPayload tool_handlers::updateSongBrief(ToolCall& toolCall) { return corvane::updateSongBrief(toolCall); }
AgentToolOutputPayload tool_handlers::updateUser(ToolCall& toolCall) { return corvane::updateUser(toolCall); }

}  // namespace corvane
