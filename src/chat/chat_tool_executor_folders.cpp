// "set_folder_expanded" (also "expand_folder" and "collapse_folder"): opens or closes a folder
// track, so the tracks it hides can be found by name.

#include <string>

#include "chat/chat_tool_executor.h"
#include "logic/logic_messages.h"
#include "model/tool_result_payloads.h"
#include "platform/clock.h"
#include "support/json_fields.h"

namespace corvane {

namespace {

constexpr const char* kTool = "set_folder_expanded";

// Whether the folder's header, found anew by its number, shows it open.
std::optional<bool> shownExpanded(const LogicInspector& logic, const LogicInspector::TrackHeader& folder) {
    const auto window = logic.findMainWindow();
    if (!window) return std::nullopt;
    for (auto& h : logic.findTrackHeadersByName(*window))
        if (h.trackNumber == folder.trackNumber) {
            h.isFolder = true;  // the same track: its triangle alone is read
            return logic.isFolderExpanded(h);
        }
    return std::nullopt;
}

AgentToolOutputPayload setFolderExpanded(ToolCall& toolCall) {
    auto fail = [&](const std::string& message) {
        toolCall.record(kTool, message, false);
        return ChatToolExecutor::makeErrorToolOutput(toolCall.callID(), message);
    };
    auto args = json_fields::parseObject(toolCall.args());
    if (!args) return fail("Missing track_name or expanded parameter.");
    std::optional<std::string> name;
    for (const char* key : {"track_name", "name", "folder", "folder_name"})
        if ((name = tool_args::text(*args, key))) break;
    if (!name || name->empty()) return fail("Missing track_name parameter (the folder's exact name).");
    // Each name does what it says unless "expanded" says otherwise.
    const bool expanded = tool_args::boolean(*args, "expanded").value_or(toolCall.call.name != "collapse_folder");

    const LogicInspector& logic = toolCall.executor.logicInspector();
    auto window = logic.findMainWindow();
    if (!window) return fail(logic_messages::kLogicProNotRunning);
    // A folder is opened or closed by its own row, and doing so shows what it hides: the folders
    // are not looked into first.
    auto resolved = logic.resolveTrack(*name, false);
    if (!resolved.header) {
        // A folder inside a collapsed one is not listed, yet may be there.
        if (logic.mayHideTracks(*window)) return fail(logic.selectionFailure(*name));
        std::string available;
        for (const auto& n : resolved.availableNames) available += (available.empty() ? "" : ", ") + n;
        return fail("Track '" + *name + "' not found. Available: " + available);
    }
    if (resolved.matches.size() > 1) return fail("'" + *name + "': " + LogicInspector::ambiguousTrackMessage(resolved));
    const auto& header = *resolved.header;
    if (!header.isFolder)
        return fail("'" + header.name +
                    "' is not a folder track \u2014 only folder tracks can be expanded or collapsed.");

    // A Stop after the key press leaves the folder as it then shows: the answer says so.
    const std::optional<bool> was = logic.isFolderExpanded(header);
    Outcome outcome;
    try {
        outcome = logic.setFolderExpanded(header, expanded);
    } catch (const platform::PauseStopped&) {
        const std::optional<bool> shows = shownExpanded(logic, header);
        if (was && shows && *shows != *was)
            toolCall.noteDone(std::string(*shows ? "Expanded folder '" : "Collapsed folder '") + header.name + "'");
        throw;
    }
    if (!outcome.success) return fail(outcome.message);
    // The key press is not proof: report what the folder shows afterwards.
    const std::optional<bool> shows = shownExpanded(logic, header);
    if (!shows)
        return fail("Could not read whether folder '" + header.name + "' is " + (expanded ? "expanded" : "collapsed") +
                    " after the key press.");
    if (*shows != expanded)
        return fail("Folder '" + header.name + "' did not " + (expanded ? "open" : "close") +
                    " \u2014 it still shows " + (*shows ? "expanded" : "collapsed") + ".");
    toolCall.record(kTool, outcome.message, true);
    return ChatToolExecutor::makeToolOutput(toolCall.callID(), ActionResult{"ok", outcome.message});
}

}  // namespace

AgentToolOutputPayload tool_handlers::setFolderExpanded(ToolCall& toolCall) {
    return corvane::setFolderExpanded(toolCall);
}

}  // namespace corvane
