// The tools that read Logic Pro's track list, transport and arrangement and drive its transport.

#include <string>

#include "chat/chat_tool_executor.h"
#include "logic/logic_messages.h"
#include "model/tool_result_payloads.h"
#include "support/json_fields.h"
#include "support/unicode.h"

namespace corvane {

namespace {

std::string joined(const std::vector<std::string>& names, std::size_t limit) {
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < limit; ++i) text += (i ? ", " : "") + names[i];
    return text;
}

// No window shows the track list: Logic Pro is not running, or shows other windows only.
AgentToolOutputPayload noMainWindow(ToolCall& toolCall) {
    const bool running = toolCall.executor.logicInspector().logicApplication().has_value();
    return toolCall.fail(running ? logic_messages::kNoTracksWindow : logic_messages::kLogicProNotRunning);
}

AgentToolOutputPayload listTracks(ToolCall& toolCall) {
    const LogicInspector& logic = toolCall.executor.logicInspector();
    auto window = logic.findMainWindow();
    if (!window) return toolCall.fail("Logic Pro is not running or no Tracks window found.");
    ListTracksResult result{"ok", {}};
    for (const auto& header : logic.findTrackHeaders(*window))
        result.tracks.push_back({header.trackNumber, header.name, header.isMuted, header.isFolder});
    return toolCall.succeed("Listed " + counted(result.tracks.size(), "track") + ".", result);
}

bool flagMember(const nlohmann::json& map, const char* key) {
    auto found = map.find(key);
    return found != map.end() && found->is_boolean() && found->get<bool>();
}

AgentToolOutputPayload getTransport(ToolCall& toolCall) {
    const LogicInspector& logic = toolCall.executor.logicInspector();
    auto window = logic.findMainWindow();
    if (!window) return noMainWindow(toolCall);
    const nlohmann::json transport = logic.readTransport(*window);
    TransportResult result;
    result.status = "ok";
    result.tempo = json_fields::lenientText(transport, "tempo");
    result.timeSignature = json_fields::lenientText(transport, "timeSignature");
    result.playheadBar = logic.currentBar(*window);
    result.isPlaying = flagMember(transport, "isPlaying");
    result.isRecording = flagMember(transport, "isRecording");
    result.cycleEnabled = flagMember(transport, "cycleEnabled");
    result.globalSolo = flagMember(transport, "globalSolo");
    const std::string summary =
        "Read transport: bar=" + (result.playheadBar ? std::to_string(*result.playheadBar) : std::string("?")) +
        ", tempo=" + result.tempo.value_or("?") + ", time sig=" + result.timeSignature.value_or("?") + ".";
    return toolCall.succeed(summary, result);
}

// A bare array, not wrapped in an object: the arrangement reader's rows as they are.
AgentToolOutputPayload getArrangement(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    std::optional<std::string> trackName = args ? tool_args::text(*args, "track_name") : std::nullopt;
    if (trackName && trackName->empty()) trackName.reset();

    const LogicInspector& logic = toolCall.executor.logicInspector();
    auto window = logic.findMainWindow();
    if (!window) return noMainWindow(toolCall);
    const auto reading = logic.readArrangement(*window, trackName);
    // Bars the reader cannot place are no arrangement.
    if (reading.error) return toolCall.fail(*reading.error);
    toolCall.record("Read arrangement: " + counted(reading.rows.size(), "track") + " with regions.", true);
    return ChatToolExecutor::makeJSONOutput(toolCall.callID(), reading, "[]");
}

AgentToolOutputPayload controlTransport(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto action = args ? tool_args::text(*args, "action") : std::nullopt;
    if (!action) return toolCall.fail("Missing action parameter.");

    const LogicInspector& logic = toolCall.executor.logicInspector();
    auto window = logic.findMainWindow();
    if (!window) return noMainWindow(toolCall);

    auto already = [&](const std::string& message) { return toolCall.succeed(message, ActionResult{"ok", message}); };
    std::string button;
    if (*action == "play") {
        if (flagMember(logic.readTransport(*window), "isPlaying")) return already("Transport: already playing.");
        button = "Play";
    } else if (*action == "stop") {
        // An unreadable playing state counts as stopped: pressing Stop then would do nothing useful.
        if (!flagMember(logic.readTransport(*window), "isPlaying")) return already("Transport: already stopped.");
        button = "Stop";
    } else if (*action == "go_to_beginning") {
        button = "Go to Beginning";
    } else {
        return toolCall.fail("Unknown action '" + *action + "'. Use: play, stop, go_to_beginning.");
    }

    if (!logic.clickTransportButton(button, *window).success)
        return toolCall.fail("Could not find " + button + " button.");
    const std::string message = "Transport: " + *action + ".";
    return toolCall.succeed(message, ActionResult{"ok", message});
}

}  // namespace

std::string ChatToolExecutor::collapsedFolderHint(const std::string& trackName,
                                                  const std::vector<std::string>& availableNames) const {
    const std::string wanted = text::lowercased(trackName);
    bool streaming = false;
    for (const auto& state : trackAnalysis())
        if (text::lowercased(state.trackName) == wanted) streaming = true;
    if (!streaming) return "not found. Available: " + joined(availableNames, 10);

    // The track list hides a collapsed folder's children; the analysis plug-in still streams from
    // them. Which folder holds the track cannot be read, so every folder is a candidate.
    std::vector<std::string> folders;
    const LogicInspector& logic = services_.logicInspector;
    if (auto window = logic.findMainWindow())
        for (const auto& row : logic.findTrackHeadersWithIndent(*window))
            if (row.header.isFolder) folders.push_back(row.header.name);
    const std::string candidates = folders.empty() ? "any folder in the project" : joined(folders, folders.size());
    return "track exists (Corvane is streaming data from it) but isn't in the visible Arrange list \u2014 it's inside "
           "a collapsed folder. Call `set_folder_expanded(name: \"<folder>\", expanded: true)` for the folder that "
           "contains it (candidates: " +
           candidates +
           "), then retry. Do NOT edit the parent folder's channel strip as a substitute \u2014 the user asked about "
           "this child track specifically.";
}

AgentToolOutputPayload tool_handlers::listTracks(ToolCall& toolCall) { return corvane::listTracks(toolCall); }
AgentToolOutputPayload tool_handlers::getTransport(ToolCall& toolCall) { return corvane::getTransport(toolCall); }
AgentToolOutputPayload tool_handlers::getArrangement(ToolCall& toolCall) { return corvane::getArrangement(toolCall); }
AgentToolOutputPayload tool_handlers::controlTransport(ToolCall& toolCall) {
    return corvane::controlTransport(toolCall);
}

}  // namespace corvane
