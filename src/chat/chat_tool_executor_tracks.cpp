// "rename_track", "ensure_bus_track", "ensure_master_track" and "set_send_level": the tools that
// change what the track list shows and how much of a track reaches a bus.

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "chat/chat_tool_executor.h"
#include "logic/logic_messages.h"
#include "logic/search_depths.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "support/json_fields.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

namespace {

using nlohmann::json;

AgentToolOutputPayload failed(ToolCall& toolCall, const char* tool, const std::string& message) {
    toolCall.record(tool, message, false);
    return ChatToolExecutor::makeErrorToolOutput(toolCall.callID(), message);
}

AgentToolOutputPayload succeeded(ToolCall& toolCall, const char* tool, const std::string& message, const json& output) {
    toolCall.record(tool, message, true);
    return ChatToolExecutor::makeJSONOutput(toolCall.callID(), output, "{}");
}

// A selection that failed reads as "not found" from below; a track that is listed was found, and
// one a collapsed folder may hold may be there, so say what did go wrong.
std::string selectionMessage(const LogicInspector& logic, const std::string& name, const std::string& message) {
    if (message != "Track '" + name + "' not found." && message != logic_messages::trackNotFound(name)) return message;
    if (const auto resolved = logic.resolveTrack(name); resolved.header || resolved.unreadable)
        return logic.selectionFailure(name);
    // Unlisted: said as not found only when no collapsed folder may hold it.
    const auto window = logic.findMainWindow();
    return window && logic.mayHideTracks(*window) ? logic.selectionFailure(name) : message;
}

AgentToolOutputPayload renameTrack(ToolCall& toolCall) {
    constexpr const char* kTool = "rename_track";
    auto args = json_fields::parseObject(toolCall.args());
    auto current = args ? tool_args::text(*args, "current_name") : std::nullopt;
    auto wanted = args ? tool_args::text(*args, "new_name") : std::nullopt;
    if (!current || !wanted) return failed(toolCall, kTool, "Missing current_name or new_name.");
    const LogicInspector& logic = toolCall.executor.logicInspector();
    const auto result = logic.renameTrack(*current, *wanted);
    if (!result.success) return failed(toolCall, kTool, selectionMessage(logic, *current, result.message));
    return succeeded(
        toolCall, kTool, result.message,
        {{"status", "ok"}, {"new_name", result.actualName.value_or(*wanted)}, {"message", result.message}});
}

// The track whose strip takes the bus as input, found by selecting one track after another.
// `shown` receives the name the right-hand strip shows for the bus, before anything that may pause;
// `selectedBefore` receives the tracks selected before the first of them was.
std::optional<std::string> trackForBus(const LogicInspector& logic, const std::string& busLabel,
                                       std::optional<std::string>& shown,
                                       std::optional<std::vector<LogicInspector::TrackHeader>>& selectedBefore) {
    auto window = logic.findMainWindow();
    if (!window) return std::nullopt;
    // The send just clicked shows its bus's channel on the Inspector's right-hand strip: when that
    // takes the bus as input and its name is one track's in the list, no track need be selected.
    if (auto mixer = logic.findMixerArea(*window)) {
        if (const auto strips = mixer->children(); strips.size() > 1) {
            json strip = json::object();
            logic.readStripData(strips[1], strip, 0, search_depth::kStripControls);
            auto input = strip.find("inputBus");
            auto name = strip.find("name");
            if (input != strip.end() && input->is_string() && name != strip.end() && name->is_string() &&
                LogicInspector::sameBus(input->get<std::string>(), busLabel)) {
                shown = name->get<std::string>();
                const auto resolved = logic.resolveTrack(name->get<std::string>());
                if (resolved.header && resolved.matches.size() == 1) return resolved.header->name;
            }
        }
    }
    for (const auto& header : logic.findTrackHeaders(*window)) {
        auto again = logic.findMainWindow();
        if (!again) continue;
        auto resolved = logic.resolveTrack(header.name);
        if (!resolved.header) continue;
        if (resolved.window) again = resolved.window;
        if (!selectedBefore) selectedBefore = logic.selectedTrackHeaders(*again);
        logic.activateLogic();
        if (!logic.selectTrackViaKeyboard(*resolved.header, *again)) {
            log(logic_messages::selectTrackFailed(resolved.header->name));
            continue;
        }
        const auto input = logic.readChannelStrip(*again).text("inputBus");
        if (input && LogicInspector::sameBus(*input, busLabel)) return header.name;
    }
    return std::nullopt;
}

// Selects again the one track selected before (by its number, as names may repeat); when that
// cannot be, what is selected now, for the answer.
std::optional<std::string> selectAgain(const LogicInspector& logic,
                                       const std::vector<LogicInspector::TrackHeader>& selectedBefore) {
    const auto window = logic.findMainWindow();
    if (!window) return std::nullopt;
    if (selectedBefore.size() == 1) {
        for (const auto& header : logic.findTrackHeaders(*window)) {
            if (header.trackNumber != selectedBefore.front().trackNumber) continue;
            logic.activateLogic();
            if (logic.selectTrackViaKeyboard(header, *window, false)) return std::nullopt;
            break;
        }
    }
    const auto selected = logic.selectedTrackHeaders(*window);
    std::string names;
    for (std::size_t i = 0; i < selected.size(); ++i)
        names += (i == 0 ? "" : i + 1 == selected.size() ? " and " : ", ") + selected[i].name;
    if (names.empty()) return "No track is selected now.";
    return "Looking for the bus's track selected one track after another: the selection is now " + names + ".";
}

AgentToolOutputPayload ensureBusTrack(ToolCall& toolCall) {
    constexpr const char* kTool = "ensure_bus_track";
    auto args = json_fields::parseObject(toolCall.args());
    auto source = args ? tool_args::text(*args, "source_track") : std::nullopt;
    auto label = args ? tool_args::text(*args, "bus_label") : std::nullopt;
    if (!source || !label) return failed(toolCall, kTool, "Missing source_track or bus_label.");
    const LogicInspector& logic = toolCall.executor.logicInspector();
    const LogicInspector::KeptPlaces places;  // one track selected after another
    // The bus's track, once the switch put it into the list: a Stop after that names it, as
    // Logic Pro offers no way to take it out again.
    std::optional<std::string> shown;
    std::optional<std::string> found;
    std::optional<std::string> selectionSaid;
    try {
        if (const auto made = logic.ensureBusArrangeTrack(*source, *label, &shown); !made.success)
            return failed(toolCall, kTool, made.message);
        // The send's click selected the source track: a search through the tracks that moves the
        // selection puts it back there.
        std::optional<std::vector<LogicInspector::TrackHeader>> selectedBefore;
        found = trackForBus(logic, *label, shown, selectedBefore);
        if (selectedBefore) selectionSaid = selectAgain(logic, *selectedBefore);
    } catch (const platform::PauseStopped&) {
        if (shown) toolCall.noteDone(*shown + " (the track of " + *label + ") is now shown in the track list");
        throw;
    }
    std::string message =
        found ? "Bus " + *label + " is available as Arrange track '" + *found + "'."
              : "Bus " + *label + " surfacing attempted \u2014 rescan list_tracks to find the new aux track.";
    if (selectionSaid) message += " " + *selectionSaid;
    return succeeded(toolCall, kTool, message,
                     {{"status", "ok"},
                      {"bus_label", *label},
                      {"source_track", *source},
                      {"arrange_track_name", found.value_or("")},
                      {"message", message}});
}

AgentToolOutputPayload ensureMasterTrack(ToolCall& toolCall) {
    constexpr const char* kTool = "ensure_master_track";
    const LogicInspector& logic = toolCall.executor.logicInspector();
    Outcome result;
    std::optional<std::string> listedAs;
    std::vector<std::string> left;
    try {
        result = logic.ensureMasterArrangeTrack(&listedAs, &left);
    } catch (const platform::PauseStopped&) {
        // Stopped once the menu item was pressed: what the presses did to the list stays.
        for (auto& change : left) toolCall.noteDone(std::move(change));
        throw;
    }
    if (!result.success) return failed(toolCall, kTool, result.message);
    return succeeded(toolCall, kTool, result.message,
                     {{"status", "ok"},
                      {"arrange_track_name", listedAs.value_or("Stereo Out")},
                      {"message", result.message}});
}

// A JSON number, or text holding nothing but a number ("-12" with blanks around it; not "-12dB").
std::optional<double> decibels(const json& args, const char* key) {
    tool_args::noteRead(key, "number");
    tool_args::noteRead(key, "string");
    auto found = args.find(key);
    if (found == args.end()) return std::nullopt;
    if (found->is_number()) return found->get<double>();
    if (!found->is_string()) return std::nullopt;
    auto value = readNumber(text::trimSpacesAndTabs(found->get_ref<const std::string&>()));
    // "nan" and "inf" would reach the knob as a level nobody can mean.
    if (value && !std::isfinite(*value)) return std::nullopt;
    return value;
}

json levelOrNull(const std::optional<double>& db) {
    if (!db || !std::isfinite(*db)) return nullptr;
    return *db;
}

AgentToolOutputPayload setSendLevel(ToolCall& toolCall) {
    constexpr const char* kTool = "set_send_level";
    auto args = json_fields::parseObject(toolCall.args());
    auto track = args ? tool_args::text(*args, "track_name") : std::nullopt;
    auto bus = args ? tool_args::text(*args, "bus_label") : std::nullopt;
    if (!track || !bus) return failed(toolCall, kTool, "Missing track_name or bus_label.");
    const auto delta = decibels(*args, "delta_db");
    const auto target = decibels(*args, "target_db");
    if (delta && target) return failed(toolCall, kTool, "Pass delta_db OR target_db, not both.");
    if (!delta && !target)
        return failed(toolCall, kTool, "Pass exactly one of delta_db (relative change) or target_db (absolute dB).");

    const LogicInspector& logic = toolCall.executor.logicInspector();
    double goal = target.value_or(0);
    if (delta) {
        const auto knob = logic.readSendKnobValue(*track, *bus);
        if (!knob.success) return failed(toolCall, kTool, selectionMessage(logic, *track, knob.message));
        const auto current = readNumber(knob.valueDescription);
        if (!current || !std::isfinite(*current))
            return failed(toolCall, kTool,
                          "Can't apply relative delta \u2014 current send is -\u221E (no signal). Use target_db to set "
                          "an absolute dB.");
        goal = *current + *delta;
    }
    LogicInspector::SendLevelResult result;
    std::optional<std::string> leftWhenStopped;
    try {
        result = logic.setSendKnobToDb(*track, *bus, goal, &leftWhenStopped);
    } catch (const platform::PauseStopped&) {
        if (leftWhenStopped) toolCall.noteDone(*leftWhenStopped);
        throw;
    }
    if (!result.success) return failed(toolCall, kTool, selectionMessage(logic, *track, result.message));
    return succeeded(toolCall, kTool, result.message,
                     {{"status", "ok"},
                      {"track", *track},
                      {"bus", *bus},
                      {"beforeDb", levelOrNull(result.before)},
                      {"afterDb", levelOrNull(result.after)},
                      {"message", result.message}});
}

}  // namespace

AgentToolOutputPayload tool_handlers::renameTrack(ToolCall& toolCall) { return corvane::renameTrack(toolCall); }
AgentToolOutputPayload tool_handlers::ensureBusTrack(ToolCall& toolCall) { return corvane::ensureBusTrack(toolCall); }
AgentToolOutputPayload tool_handlers::ensureMasterTrack(ToolCall& toolCall) {
    return corvane::ensureMasterTrack(toolCall);
}
AgentToolOutputPayload tool_handlers::setSendLevel(ToolCall& toolCall) { return corvane::setSendLevel(toolCall); }

}  // namespace corvane
