// "set_track_solo" / "set_track_mute" and "set_track_volume" / "set_track_pan": one switch or one
// value per named track, track after track; a failing track never stops the others.

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>

#include "chat/chat_tool_executor.h"
#include "logic/logic_messages.h"
#include "logic/logic_timing.h"
#include "logic/search_depths.h"
#include "model/tool_result_payloads.h"
#include "platform/accessibility.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/json_fields.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

namespace {

using TrackHeader = LogicInspector::TrackHeader;
using AXElement = platform::AXElement;

struct Failure {
    std::string name;
    std::string reason;
};

std::string joined(const std::vector<std::string>& names, std::size_t limit, const char* separator = ", ") {
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < limit; ++i) text += (i ? separator : "") + names[i];
    return text;
}

std::string failureList(const std::vector<Failure>& failures) {
    std::vector<std::string> parts;
    for (const auto& f : failures) parts.push_back("'" + f.name + "' \u2014 " + f.reason);
    return joined(parts, parts.size(), "; ");
}

struct Selected {
    TrackHeader header;
    AXElement window;
};

// Resolves and selects one track; when that fails, `reason` says why (for the failure list).
// `selectionBefore`, when given, gets the selection as it was before it moved to the track.
std::optional<Selected> resolveAndSelect(const LogicInspector& logic, const std::string& name, std::string& reason,
                                         std::size_t namesListed, bool stripReadNext = true,
                                         LogicInspector::TrackSelection* selectionBefore = nullptr) {
    auto window = logic.findMainWindow();
    auto resolved = window ? logic.resolveTrack(name) : LogicInspector::ResolvedTrack{};
    if (!window) resolved.unreadable = logic.logicApplication().has_value();
    if (resolved.window) window = resolved.window;
    if (resolved.unreadable) {
        reason = "not looked for: Logic Pro's track list could not be read, even when read again; retry in a moment.";
        return std::nullopt;
    }
    if (!resolved.header) {
        const std::string shown = joined(resolved.availableNames, namesListed);
        // A track inside a collapsed folder has no header to select, so an unlisted name may still be a track.
        if (window && logic.mayHideTracks(*window)) {
            reason = "not among the tracks Logic Pro's track list shows; a collapsed folder may hold it, and a "
                     "track inside one cannot be selected. Nothing was changed: expand the folder that holds it "
                     "(set_folder_expanded), then retry.";
            if (!shown.empty()) reason += " Shown: " + shown;
            return std::nullopt;
        }
        reason = "not found.";
        if (!shown.empty()) reason += " Available: " + shown;
        return std::nullopt;
    }
    if (resolved.matches.size() > 1) {
        reason = LogicInspector::ambiguousTrackMessage(resolved);
        return std::nullopt;
    }
    if (selectionBefore) *selectionBefore = logic.trackSelection(*window);
    logic.activateLogic();
    if (logic.selectTrackViaKeyboard(*resolved.header, *window, stripReadNext))
        return Selected{*resolved.header, *window};
    log(logic_messages::selectTrackFailed(resolved.header->name));
    const auto strip = logic.readChannelStrip(*window);
    reason = "could not be selected";
    if (const auto shown = strip.text("name")) reason += " \u2014 Logic Pro's channel strip shows '" + *shown + "'";
    reason += "; nothing was changed.";
    return std::nullopt;
}

// --- Solo and mute ------------------------------------------------------------------------------

// The longest a pause of a switch's steps lasts once the user pressed Stop.
constexpr double kSettleOnceStopped = 0.05;

// Selects the header's track alone, as a click on its header does; true once the list shows it so.
// A window or header gone stale is found anew, the header by its number.
bool selectAlone(const LogicInspector& logic, const AXElement& window, const TrackHeader& header) {
    AXElement now = window;
    auto pressed = header.element.performAction(platform::ax::kPress);
    if (pressed != platform::AXError::success) {
        if (auto again = logic.findMainWindow()) now = *again;
        for (const auto& h : logic.findTrackHeaders(now))
            if (h.trackNumber == header.trackNumber) pressed = h.element.performAction(platform::ax::kPress);
    }
    if (pressed != platform::AXError::success) return false;
    platform::pause(pacing::kSelectionSettles);
    auto selected = logic.selectedTrackHeaders(now);
    if (selected.empty())
        if (auto again = logic.findMainWindow()) selected = logic.selectedTrackHeaders(*again);
    return selected.size() == 1 && selected.front().trackNumber == header.trackNumber;
}

// "Kick is", "Kick, Bass are": the shown tracks selected now, for a sentence about the selection.
std::string selectedNow(const LogicInspector& logic, const AXElement& window) {
    std::vector<std::string> names;
    for (const auto& h : logic.selectedTrackHeaders(logic.mainWindowAnew(window))) names.push_back(h.name);
    if (names.empty()) return "no shown track is";
    return joined(names, names.size()) + (names.size() == 1 ? " is" : " are");
}

struct ToggleTool {
    const char* toolName;
    const char* buttonHint;
    const char* verbPast;
    const char* verbPastNegated;
};

// The M and S keys act on every track Logic Pro has selected, those a collapsed folder hides too.
// A target selected with others is selected alone for the press, and the selection is put back
// after it with a click and Shift-clicks; what cannot be put back is said.
AgentToolOutputPayload bulkToggle(ToolCall& toolCall, const ToggleTool& tool) {
    auto fail = [&](const std::string& message) {
        toolCall.record(tool.toolName, message, false);
        return ChatToolExecutor::makeErrorToolOutput(toolCall.callID(), message);
    };
    auto args = json_fields::parseObject(toolCall.args());
    auto enabled = args && !args->empty() ? tool_args::boolean(*args, "enabled") : std::nullopt;
    if (!enabled) return fail("Missing `enabled` parameter (boolean).");

    std::vector<std::string> requested;
    if (auto list = tool_args::textList(*args, "track_names")) {
        requested = std::move(*list);
    } else if (auto single = tool_args::text(*args, "track_name")) {
        requested.push_back(*single);
    } else {
        return fail("Missing `track_names` parameter (array of track name strings).");
    }
    // A track named twice is switched once: a second press would start from the selection the
    // first left, not the user's.
    std::vector<std::string> names;
    for (const auto& name : requested)
        if (auto trimmed = text::trimSpacesAndTabs(name);
            !trimmed.empty() && std::none_of(names.begin(), names.end(), [&](const std::string& n) {
                return text::equalsIgnoringCase(n, trimmed);
            }))
            names.emplace_back(trimmed);
    if (names.empty()) return fail("No valid track names provided in `track_names`.");

    const LogicInspector& logic = toolCall.executor.logicInspector();
    std::vector<std::string> switched;
    std::vector<Failure> failures;
    std::string selectionNote;  // how the last press left the selection, where it is not as it was
    toolCall.planTracks(names);
    const auto failed = [&](Failure failure) {
        toolCall.noteFailed(failureList({failure}));
        failures.push_back(std::move(failure));
    };
    for (const auto& name : names) {
        std::string reason;
        LogicInspector::TrackSelection before;
        auto selected = resolveAndSelect(logic, name, reason, 15, false, &before);
        if (!selected) {
            failed({name, reason});
            continue;
        }
        selectionNote.clear();
        const TrackHeader& target = selected->header;
        const AXElement& window = selected->window;
        const bool wasSelected = std::any_of(before.headers.begin(), before.headers.end(),
                                             [&](const TrackHeader& h) { return h.trackNumber == target.trackNumber; });
        const bool withOthers = wasSelected && before.headers.size() > 1;
        // A selection moved off the target (to reach it, or to press it alone) took any track a
        // collapsed folder hides with it: those cannot be selected again.
        const bool mayHide = wasSelected && logic.mayHideTracks(window);
        // Alone for the press only where it is pressed: a switch already as asked needs none.
        bool madeAlone = false;
        if ((withOthers || mayHide) && logic.headerSwitchState(target, tool.buttonHint) != *enabled) {
            if (!selectAlone(logic, window, target)) {
                std::string said = withOthers && !logic.reselectTracks(before, window)
                                       ? " " + selectedNow(logic, window) + " selected now."
                                       : std::string();
                failed({target.name, "could not be selected alone, and the " + std::string(tool.buttonHint) +
                                         " key would reach every selected track; nothing was changed." + said});
                continue;
            }
            madeAlone = true;
        }
        // A Stop waits until the press is read back and the selection put back, with its pauses
        // cut short: the Stop is answered within half a second.
        const platform::HeldPauses settling(kSettleOnceStopped);
        // Only the header's read-back counts: a press that did not take is a failure.
        bool switchedHere = logic.clickTrackHeaderButton(target, tool.buttonHint, *enabled, window).success;
        // A header gone stale since the selection is found anew by its number: the press reads the
        // switch before it presses, so trying again never undoes one that took.
        if (!switchedHere)
            if (const auto again = logic.findMainWindow())
                for (const auto& h : logic.findTrackHeaders(*again))
                    if (h.trackNumber == target.trackNumber)
                        switchedHere = logic.clickTrackHeaderButton(h, tool.buttonHint, *enabled, *again).success;
        if (withOthers && !logic.reselectTracks(before, window))
            selectionNote = " The selection could not be put back as it was: " + selectedNow(logic, window) +
                            " selected now.";
        else if (mayHide && (madeAlone || (withOthers && before.leading != target.trackNumber)))
            selectionNote = " " + selectedNow(logic, window) +
                            " selected now, without any track a collapsed folder hides, which the press would "
                            "have reached too.";
        if (switchedHere) {
            switched.push_back(target.name);
            toolCall.noteDone(target.name + " " + text::lowercased(*enabled ? tool.verbPast : tool.verbPastNegated));
        } else {
            failed({target.name, std::string("could not toggle ") + tool.buttonHint});
        }
    }

    const std::string verb = *enabled ? tool.verbPast : tool.verbPastNegated;
    std::string message = switched.empty() ? "No tracks were " + text::lowercased(verb) + "."
                                           : verb + " " + joined(switched, switched.size()) + ".";
    if (!failures.empty()) message += " Failed: " + failureList(failures);
    message += selectionNote;
    if (switched.empty()) return fail(message);
    toolCall.record(tool.toolName, message, true);
    return ChatToolExecutor::makeToolOutput(toolCall.callID(),
                                            ActionResult{failures.empty() ? "ok" : "partial", message});
}

// --- Volume and pan -----------------------------------------------------------------------------

std::string levelDisplay(double db) {
    return std::isinf(db) ? std::string("-\u221E dB") : fmt::format("{:+.1f} dB", db);
}

// "-6 dB", "+1.5DB", " -12 db ": an absolute target level.
std::optional<double> parseDbTarget(std::string_view value) {
    const std::string_view trimmed = text::trimSpacesAndTabs(value);
    const std::string lower = text::lowercased(trimmed);
    if (lower.size() < 2 || lower.compare(lower.size() - 2, 2, "db") != 0) return std::nullopt;
    return readNumber(text::trimSpacesAndTabs(trimmed.substr(0, trimmed.size() - 2)));
}

struct ValueTool {
    const char* toolName;
    const char* writeLabel;
    const char* control;  // the strip control's description
    double maxValue;
    const char* currentKey;
    std::vector<const char*> beforeKeys;
    bool dbWrite;
};

// The control's own range, where it shows one.
std::pair<double, double> controlRange(const LogicInspector& logic, const AXElement& window, const ValueTool& tool) {
    std::pair<double, double> range{-tool.maxValue, tool.maxValue};
    // Read through handles found anew where the held ones went stale: a value past the control's
    // end would be moved to its end stop and then not be shown.
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto strip = logic.firstMixerStrip(attempt == 0 ? window : logic.mainWindowAnew(window));
        auto slider = strip ? logic.findSlider(*strip, tool.control, search_depth::kStripControls) : std::nullopt;
        if (!slider) continue;
        auto lo = slider->number(platform::ax::kMinValue);
        auto hi = lo ? slider->number(platform::ax::kMaxValue) : std::nullopt;
        if (!lo || !hi) continue;
        return {std::max(range.first, *lo), std::min(range.second, *hi)};
    }
    return range;
}

// The shortest decimal that reads back the same, with a digit after the point.
std::string shortestDecimal(double v) {
    std::string s = fmt::format("{}", v);
    if (s.find_first_of(".eEn") == std::string::npos) s += ".0";
    return s;
}

struct Entry {
    std::string name;
    std::string value;    // as requested, for the messages
    bool absolute = false;  // a JSON number: no sign makes it relative
};

// "value" as text ("+3" and "-3" relative, "-6 dB" a level) or as a JSON number, which is always
// absolute: the one way to ask for a negative control value such as a pan to the left.
std::optional<Entry> requestedValue(const nlohmann::json& object) {
    const auto text = tool_args::text(object, "value");
    const auto number = tool_args::number(object, "value");
    if (text) return Entry{{}, *text, false};
    if (number) return Entry{{}, object.find("value")->dump(), true};
    return std::nullopt;
}

AgentToolOutputPayload bulkValueWrite(ToolCall& toolCall, const ValueTool& tool) {
    auto fail = [&](const std::string& message) {
        toolCall.record(tool.toolName, message, false);
        return ChatToolExecutor::makeErrorToolOutput(toolCall.callID(), message);
    };
    auto args = json_fields::parseObject(toolCall.args());
    if (!args) return fail(tool_messages::kInvalidArguments);

    std::vector<Entry> entries;
    if (const nlohmann::json* list = tool_args::objectList(*args, "tracks")) {
        for (const auto& element : *list) {
            auto name = tool_args::text(element, "track_name");
            auto value = requestedValue(element);
            if (name && value) {
                value->name = text::trimSpacesAndTabs(*name);
                entries.push_back(std::move(*value));
            }
        }
    } else {
        auto name = tool_args::text(*args, "track_name");
        auto value = requestedValue(*args);
        if (name && value) {
            value->name = *name;
            entries.push_back(std::move(*value));
        }
    }
    if (entries.empty()) return fail("Missing `tracks` array of {track_name, value} objects.");

    const LogicInspector& logic = toolCall.executor.logicInspector();
    std::vector<std::string> lines;
    std::vector<Failure> failures;
    std::vector<std::string> planned;
    for (const auto& entry : entries) planned.push_back(entry.name);
    toolCall.planTracks(std::move(planned));
    const auto failed = [&](Failure failure) {
        toolCall.noteFailed(failureList({failure}));
        failures.push_back(std::move(failure));
    };
    const auto done = [&](std::string line) {
        toolCall.noteDone(line);
        lines.push_back(std::move(line));
    };
    for (const auto& entry : entries) {
        std::string reason;
        auto selected = resolveAndSelect(logic, entry.name, reason, 10);
        if (!selected) {
            failed({entry.name, reason});
            continue;
        }
        const std::string trackName = selected->header.name;
        const AXElement& window = selected->window;
        // A strip read through handles gone stale shows nothing: it is read again from the window
        // found anew, so a relative value is not refused for want of the current one.
        auto strip = logic.readChannelStrip(window);
        for (int attempt = 0; attempt < 3 && !strip.text(tool.currentKey); ++attempt)
            strip = logic.readChannelStrip(logic.mainWindowAnew(window));
        std::string before = "?";
        for (const char* key : tool.beforeKeys)
            if (auto shown = strip.text(key)) {
                before = *shown;
                break;
            }
        const std::string head = trackName + " " + tool.writeLabel + ": ";

        if (auto target = tool.dbWrite && !entry.absolute ? parseDbTarget(entry.value) : std::nullopt) {
            if (!std::isfinite(*target) && !(std::isinf(*target) && *target < 0)) {
                failed({trackName, "invalid value '" + entry.value + "'"});
                continue;
            }
            if (auto level = logic.readCurrentVolumeDb(window)) before = levelDisplay(*level);
            // The search for the level runs to its end once begun: a Stop in it would leave the
            // fader wherever the search had got to.
            const platform::HeldPauses searching;
            auto result = logic.setTrackVolumeToDb(window, *target);
            if (!result.success) {
                // A search that ended midway may have left the fader elsewhere: where it stands is said.
                std::string why = "dB write failed (target " + shortestDecimal(*target) + " dB): " + result.message;
                const auto rawBefore = strip.text("volume");
                const auto rawAfter = logic.readChannelStrip(logic.mainWindowAnew(window)).text("volume");
                if (rawBefore && rawAfter && *rawBefore != *rawAfter)
                    why += " The fader was moved on the way: it stands at " + *rawAfter + ", not " + *rawBefore +
                              " as before.";
                failed({trackName, why});
                continue;
            }
            done(head + before + " \u2192 " + levelDisplay(result.actualDb.value_or(*target)));
            continue;
        }

        const bool relative = !entry.absolute && !entry.value.empty() && (entry.value[0] == '+' || entry.value[0] == '-');
        auto parsed = readNumber(entry.value);
        if (!parsed) {
            failed({trackName,
                    std::string(relative ? "invalid relative value '" : "invalid value '") + entry.value + "'"});
            continue;
        }
        // A value that is no finite number would end at an end stop nobody asked for.
        if (!std::isfinite(*parsed)) {
            failed({trackName, "invalid value '" + entry.value + "'"});
            continue;
        }
        double value = *parsed;
        if (relative) {
            auto current = strip.text(tool.currentKey);
            auto currentValue = current ? readNumber(*current) : std::nullopt;
            if (!currentValue || !std::isfinite(*currentValue)) {
                failed({trackName, std::string("could not read current ") + tool.writeLabel});
                continue;
            }
            value += *currentValue;
        }
        const auto [lo, hi] = controlRange(logic, window, tool);
        value = std::clamp(value, lo, hi);
        const platform::HeldPauses writing;  // written is settled
        const Outcome written = tool.dbWrite ? logic.setTrackVolume(window, value) : logic.setTrackPan(window, value);
        if (!written.success) {
            failed({trackName, "AX write failed"});
            continue;
        }
        std::string line = head + before + " \u2192 " + std::to_string(static_cast<std::int64_t>(std::trunc(value)));
        if (relative) line += " (" + entry.value + ")";
        done(line);
    }

    std::string message = lines.empty() ? "No changes applied." : joined(lines, lines.size(), ". ") + ".";
    if (!failures.empty()) message += " Failed: " + failureList(failures);
    if (lines.empty()) return fail(message);
    toolCall.record(tool.toolName, message, true);
    return ChatToolExecutor::makeToolOutput(toolCall.callID(),
                                            ActionResult{failures.empty() ? "ok" : "partial", message});
}

}  // namespace

AgentToolOutputPayload tool_handlers::setTrackSolo(ToolCall& toolCall) {
    return bulkToggle(toolCall, {"set_track_solo", "solo", "Soloed", "Unsoloed"});
}

AgentToolOutputPayload tool_handlers::setTrackMute(ToolCall& toolCall) {
    return bulkToggle(toolCall, {"set_track_mute", "mute", "Muted", "Unmuted"});
}

AgentToolOutputPayload tool_handlers::setTrackVolume(ToolCall& toolCall) {
    return bulkValueWrite(
        toolCall, {"set_track_volume", "volume", "volume fader", 255.0, "volume", {"volumeDisplay", "volume"}, true});
}

AgentToolOutputPayload tool_handlers::setTrackPan(ToolCall& toolCall) {
    return bulkValueWrite(toolCall, {"set_track_pan", "pan", "pan", 64.0, "pan", {"pan"}, false});
}

}  // namespace corvane
