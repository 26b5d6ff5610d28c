// "set_folder_expanded" (also "expand_folder" and "collapse_folder"): opens or closes a folder
// track, so the tracks it hides can be found by name.

#include <algorithm>
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
    // The shown headers first; a track a collapsed folder hides is looked for below.
    auto resolved = logic.resolveTrack(*name, false);
    if (!resolved.header) {
        // A folder inside a collapsed one is not listed, yet may be there.
        if (logic.mayHideTracks(*window)) return fail(logic.selectionFailure(*name));
        std::string available;
        for (const auto& n : resolved.availableNames) available += (available.empty() ? "" : ", ") + n;
        return fail("Track '" + *name + "' not found. Available: " + available);
    }
    const auto ambiguous = [&](const LogicInspector::ResolvedTrack& all) {
        return fail("'" + *name + "': " + LogicInspector::ambiguousTrackMessage(all));
    };
    if (resolved.matches.size() > 1) return ambiguous(resolved);
    auto header = *resolved.header;
    if (!header.isFolder)
        return fail("'" + header.name +
                    "' is not a folder track \u2014 only folder tracks can be expanded or collapsed.");

    // A Stop after the key press leaves the folder as it then shows: the answer says so.
    const std::optional<bool> was = logic.isFolderExpanded(header);
    // A track a collapsed folder hides may bear the name too, and the row would be taken for the
    // wrong one. A folder to be opened is opened first: what it hides then shows, and only the
    // other collapsed folders need a look, which a lone collapsed folder is thereby spared.
    const bool openFirst = expanded && was == std::optional(false);
    if (!openFirst) {
        const auto all = logic.resolveTrack(*name);
        if (all.matches.size() > 1) return ambiguous(all);
        if (all.header) header = *all.header;  // found anew: a look may have rebuilt the list
    }
    Outcome outcome;
    std::optional<LogicInspector::ResolvedTrack> opened;  // what the list shows with the folder open
    try {
        outcome = logic.setFolderExpanded(header, expanded);
        // The look at the other collapsed folders takes a while: a Stop within it leaves this one open.
        if (outcome.success && openFirst) opened = logic.resolveTrack(*name);
    } catch (const platform::PauseStopped&) {
        const std::optional<bool> shows = shownExpanded(logic, header);
        if (was && shows && *shows != *was)
            toolCall.noteDone(std::string(*shows ? "Expanded folder '" : "Collapsed folder '") + header.name + "'");
        throw;
    }
    if (!outcome.success) return fail(outcome.message);
    if (opened)
        if (auto& all = *opened; all.matches.size() > 1) {
            const platform::HeldPauses whole(0.05);  // closed again even after a Stop
            auto again = std::find_if(all.matches.begin(), all.matches.end(),
                                      [&](const auto& h) { return h.trackNumber == header.trackNumber; });
            if (again != all.matches.end()) again->isFolder = true;  // the same track, found anew
            const bool closed = again != all.matches.end() && logic.setFolderExpanded(*again, false).success &&
                                shownExpanded(logic, *again) == std::optional(false);
            if (closed) return ambiguous(all);
            std::string message = LogicInspector::ambiguousTrackMessage(all);
            if (const auto at = message.find("; nothing was changed."); at != std::string::npos)
                message.replace(at, 22, ".");
            return fail("'" + *name + "': " + message + " Folder '" + header.name +
                        "' was opened before the other tracks of that name showed, and could not be collapsed again: "
                        "it is left expanded.");
        }
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
