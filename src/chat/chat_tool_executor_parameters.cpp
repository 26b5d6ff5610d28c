// "get_plugin_parameters", "set_plugin_parameter" and "set_plugin_bypass": one plug-in of a
// track's insert chain, read or changed through the plug-in inspector.

#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <string>

#include "chat/chat_tool_executor.h"
#include "logic/logic_messages.h"
#include "logic/logic_timing.h"
#include "model/tool_result_payloads.h"
#include "platform/accessibility.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "support/json_fields.h"
#include "support/regex.h"
#include "support/unicode.h"

namespace corvane {

namespace {

using nlohmann::json;

std::string notFound(const LogicInspector& logic, const std::string& name) { return logic.selectionFailure(name); }

// Numbered slots ("3", "Param 12", "P4") tell nobody what the control does.
bool isGenericParameterName(const std::string& name) {
    static const Regex patterns[] = {
        Regex(R"(^\d+$)", {.caseInsensitive = true}),
        Regex(R"(^(Param|Parameter|Knob|Slider|Control|Ctrl|Value|CC)\s*\d+$)", {.caseInsensitive = true}),
        Regex(R"(^P\d+$)", {.caseInsensitive = true}),
    };
    const std::string trimmed(text::trimSpacesAndTabs(name));
    if (trimmed.empty()) return false;
    for (const auto& pattern : patterns)
        if (pattern.search(trimmed)) return true;
    return false;
}

struct Target {
    std::string trackName;
    platform::AXElement window;
    LogicInspector::InsertSlot slot;
};

// Selects the track and resolves the slot; the failure text otherwise.
std::optional<Target> selectSlot(ToolCall& toolCall, const json& args, const std::string& name, std::string& error) {
    const LogicInspector& logic = toolCall.executor.logicInspector();
    auto selected = logic.selectTrack(name, false);
    if (!selected) {
        error = notFound(logic, name);
        return std::nullopt;
    }
    auto resolved = ChatToolExecutor::resolvePluginSlot(args, logic.findTrackPluginSlots(selected->mainWindow),
                                                        selected->header.name);
    if (!resolved.slot) {
        error = *resolved.error;
        return std::nullopt;
    }
    return Target{selected->header.name, selected->mainWindow, *resolved.slot};
}

AgentToolOutputPayload getPluginParameters(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto name = args ? tool_args::text(*args, "track_name") : std::nullopt;
    if (!name) return toolCall.fail(tool_messages::kMissingTrackName);
    const LogicInspector::KeptPlaces places;  // the strip and the plug-in window outlast the pauses between
    std::string error;
    auto target = selectSlot(toolCall, *args, *name, error);
    if (!target) return toolCall.fail(error);
    auto read = toolCall.executor.pluginInspector().readPlugin(target->slot, target->window, target->trackName);
    // The slot and window found before the plug-in window opened may no longer answer: found again once.
    if (!read) {
        platform::invalidateAccessibilityReads();
        if (auto again = selectSlot(toolCall, *args, *name, error)) {
            target = std::move(again);
            read = toolCall.executor.pluginInspector().readPlugin(target->slot, target->window, target->trackName);
        }
    }
    if (!read)
        return toolCall.fail("Failed to read plugin '" + target->slot.name + "' on '" + target->trackName + "'.");

    const std::string view = read->viewUsed == PluginViewPreference::controls ? "controls" : "editor";
    log(fmt::format("[get_plugin_parameters] Read {} parameters from {} on {} (mapApplied={}, view={})",
                    read->parameters.size(), target->slot.name, target->trackName, read->mapApplied ? "yes" : "no",
                    view));
    toolCall.record("Read " + counted(read->parameters.size(), "parameter") + " from " + target->slot.name +
                        " on " + target->trackName + " (" + (read->mapApplied ? "mapped" : "runtime") + ").",
                    true);
    const json fallback{
        {"pluginName", target->slot.name}, {"trackName", target->trackName}, {"parameters", json::array()}};
    return ChatToolExecutor::makeJSONOutput(toolCall.callID(), json(*read), fallback.dump());
}

AgentToolOutputPayload setPluginParameter(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto name = args ? tool_args::text(*args, "track_name") : std::nullopt;
    auto parameter = args ? tool_args::text(*args, "parameter_name") : std::nullopt;
    auto value = args ? tool_args::text(*args, "value") : std::nullopt;
    if (!name || !parameter || !value)
        return toolCall.fail(
            "Missing parameters. Need: track_name, plugin_name or plugin_index, parameter_name, value.");
    const LogicInspector::KeptPlaces places;  // the strip and the plug-in window outlast the pauses between
    std::string error;
    auto target = selectSlot(toolCall, *args, *name, error);
    if (!target) return toolCall.fail(error);
    if (isGenericParameterName(*parameter))
        return toolCall.fail(
            "'" + *parameter + "' on '" + target->slot.name +
            "' looks like a generic numeric slot, not a named control. This plugin doesn't expose meaningful "
            "parameter labels via Accessibility, so writing to it would be a blind guess. If the user knows exactly "
            "which numbered knob they want nudged, they can say so explicitly; otherwise suggest a Logic-native "
            "equivalent (e.g. ES2 / Alchemy instead of an opaque third-party instrument).");
    ParameterWriteResult written;
    std::optional<std::string> changedWhenStopped;
    try {
        written = toolCall.executor.pluginInspector().writeParameter(target->slot, target->window, *parameter, *value,
                                                                      &changedWhenStopped);
    } catch (const platform::PauseStopped&) {
        if (changedWhenStopped)
            toolCall.noteDone(target->slot.name + " on " + target->trackName + ": " + *changedWhenStopped);
        throw;
    }
    if (!written.success) return toolCall.fail(written.message);
    const std::string message = target->slot.name + " on " + target->trackName + ": " + written.message;
    return toolCall.succeed(message, ActionResult{"ok", message});
}

AgentToolOutputPayload setPluginBypass(ToolCall& toolCall) {
    auto args = json_fields::parseObject(toolCall.args());
    auto name = args ? tool_args::text(*args, "track_name") : std::nullopt;
    if (!name) return toolCall.fail(tool_messages::kMissingTrackName);
    const LogicInspector& logic = toolCall.executor.logicInspector();
    const LogicInspector::KeptPlaces places;  // the strip is read again after the press
    auto resolved = logic.resolveTrack(*name);
    if (!resolved.header) return toolCall.fail(notFound(logic, *name));
    auto window = logic.findMainWindow();
    if (!window) return toolCall.fail(logic_messages::kLogicProNotRunning);
    // The strip is written: it must be known to show this track, never one of the same name.
    logic.activateLogic();
    if (resolved.matches.size() > 1 || !logic.selectTrackViaKeyboard(*resolved.header, *window))
        return toolCall.fail(logic.selectionFailure(*name));

    const std::string& trackName = resolved.header->name;
    const auto slots = logic.findTrackPluginSlots(*window);
    auto slot = ChatToolExecutor::resolvePluginSlot(*args, slots, trackName);
    if (!slot.slot) return toolCall.fail(*slot.error);
    const bool was = slot.slot->isBypassed;
    const std::string head = slot.slot->name + " on " + trackName + ": ";
    // Which way to press, and whether it is needed at all, depends on the state before.
    if (!slot.slot->bypassRead)
        return toolCall.fail(head + "its bypass state could not be read, so it was not pressed.");
    if (tool_args::boolean(*args, "bypassed") == was) {
        const std::string message = head + "already " + (was ? "bypassed" : "enabled") + ", no-op.";
        return toolCall.succeed(message, ActionResult{"ok", message});
    }
    auto button = logic.findChildButton(slot.slot->element, "bypass");
    if (!button) return toolCall.fail("Could not find bypass button.");
    const auto at = static_cast<std::size_t>(
        std::find_if(slots.begin(), slots.end(),
                     [&](const LogicInspector::InsertSlot& s) { return s.element == slot.slot->element; }) -
        slots.begin());
    // The slot at its place as Logic Pro shows it now, where a handle held went stale. Only in a
    // list read whole: a slot Logic Pro did not describe drops out of it, and a look-alike below
    // would move into the place.
    const auto slotNow = [&]() -> std::optional<LogicInspector::InsertSlot> {
        const auto now = logic.findTrackPluginSlots(logic.mainWindowAnew(*window));
        if (now.size() == slots.size() && at < now.size() && now[at].name == slot.slot->name) return now[at];
        return std::nullopt;
    };
    if (button->performAction(platform::ax::kPress) == platform::AXError::invalidUIElement) {
        button.reset();
        if (const auto again = slotNow())
            if ((button = logic.findChildButton(again->element, "bypass")))
                (void)button->performAction(platform::ax::kPress);
    }
    const std::string message = head + (was ? "bypassed \u2192 enabled" : "enabled \u2192 bypassed");
    // The slot is read back: a press the slot did not take is no success. Stopped before that, the
    // press is told as made.
    std::optional<bool> shown;
    try {
        for (int attempt = 0; attempt < 3 && shown != !was; ++attempt) {
            platform::pause(attempt == 0 ? pacing::kBypassTakes : pacing::kChainReadBackRetry);
            // The check box pressed, while it answers; else the slot found anew.
            if (const auto value = button ? button->number(platform::ax::kValue) : std::nullopt) {
                shown = *value != 0;
            } else {
                const auto now = slotNow();
                shown = now && now->bypassRead ? std::optional<bool>(now->isBypassed) : std::nullopt;
            }
        }
    } catch (const platform::PauseStopped&) {
        toolCall.noteDone(message + " (pressed; not read back)");
        throw;
    }
    if (shown != !was)
        return toolCall.fail(head + "pressed its bypass, but the slot " +
                             (shown ? std::string("still shows ") + (*shown ? "bypassed" : "enabled")
                                    : std::string("could not be read back")) +
                             ".");
    return toolCall.succeed(message, ActionResult{"ok", message});
}

}  // namespace

AgentToolOutputPayload tool_handlers::getPluginParameters(ToolCall& toolCall) {
    return corvane::getPluginParameters(toolCall);
}
AgentToolOutputPayload tool_handlers::setPluginParameter(ToolCall& toolCall) {
    return corvane::setPluginParameter(toolCall);
}
AgentToolOutputPayload tool_handlers::setPluginBypass(ToolCall& toolCall) { return corvane::setPluginBypass(toolCall); }

}  // namespace corvane
