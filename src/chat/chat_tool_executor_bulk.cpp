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
    std::vector<TrackHeader> selectedBefore;  // the headers shown selected before this one was
};

// Resolves and selects one track; when that fails, `reason` says why (for the failure list).
std::optional<Selected> resolveAndSelect(const LogicInspector& logic, const std::string& name, std::string& reason,
                                         std::size_t namesListed, bool stripReadNext = true) {
    auto window = logic.findMainWindow();
    auto resolved = window ? logic.resolveTrack(name) : LogicInspector::ResolvedTrack{};
    if (resolved.window) window = resolved.window;
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
    // Read with the list just resolved from: no round trip more.
    auto selectedBefore = logic.selectedTrackHeaders(*window);
    logic.activateLogic();
    if (logic.selectTrackViaKeyboard(*resolved.header, *window, stripReadNext))
        return Selected{*resolved.header, *window, std::move(selectedBefore)};
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

// The mute or solo switch of every shown header, by track number.
std::map<std::int64_t, std::pair<TrackHeader, bool>> switchStates(const LogicInspector& logic, const AXElement& window,
                                                                  const std::string& hint) {
    std::map<std::int64_t, std::pair<TrackHeader, bool>> states;
    for (const auto& h : logic.findTrackHeaders(window))
        states.emplace(h.trackNumber, std::make_pair(h, logic.detectToggleState(h.element, hint)));
    return states;
}

// The switches of the headers given, by track number; those that no longer show their track are left out.
std::map<std::int64_t, std::pair<TrackHeader, bool>> switchStates(const LogicInspector& logic,
                                                                  const std::vector<TrackHeader>& headers,
                                                                  const std::string& hint) {
    std::map<std::int64_t, std::pair<TrackHeader, bool>> states;
    for (const auto& h : headers)
        if (auto state = logic.headerSwitchState(h, hint)) states.emplace(h.trackNumber, std::make_pair(h, *state));
    return states;
}

// Selects the header's track alone, as a click on its header does; true once the list shows it so.
bool selectAlone(const LogicInspector& logic, const AXElement& window, const TrackHeader& header) {
    if (header.element.performAction(platform::ax::kPress) != platform::AXError::success) return false;
    platform::pause(pacing::kSelectionSettles);
    const auto selected = logic.selectedTrackHeaders(window);
    return selected.size() == 1 && selected.front().trackNumber == header.trackNumber;
}

struct Stray {
    std::string name;
    bool putBack = false;
};

// The M and S keys act on the tracks Logic Pro has selected: the target, and any shown selected
// with it before the selection moved to it (a selection moved by the keyboard or a click on a
// header is the target alone). A switch of such another track that changed with the press is put
// back with that track selected alone, and the target is selected again after.
std::vector<Stray> putBackStrays(const LogicInspector& logic, const AXElement& window, const std::string& hint,
                                 const std::map<std::int64_t, std::pair<TrackHeader, bool>>& before,
                                 const TrackHeader& target) {
    const std::int64_t targetNumber = target.trackNumber;
    std::vector<TrackHeader> others;
    for (const auto& [number, was] : before)
        if (number != targetNumber) others.push_back(was.first);
    auto after = switchStates(logic, others, hint);
    if (after.size() < others.size()) {  // a header went or was rebuilt: its track is looked for in the list
        for (const auto& [number, now] : switchStates(logic, window, hint))
            if (before.count(number) && !after.count(number)) after.emplace(number, now);
    }
    std::vector<Stray> strays;
    for (const auto& [number, now] : after) {
        auto was = before.find(number);
        if (number == targetNumber || was == before.end() || was->second.second == now.second) continue;
        const bool back = selectAlone(logic, window, now.first) &&
                          logic.clickTrackHeaderButton(now.first, hint, was->second.second, window).success;
        strays.push_back({now.first.name, back});
    }
    if (!strays.empty()) selectAlone(logic, window, target);
    return strays;
}

struct ToggleTool {
    const char* toolName;
    const char* buttonHint;
    const char* verbPast;
    const char* verbPastNegated;
};

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
    std::vector<std::string> names;
    for (const auto& name : requested)
        if (auto trimmed = text::trimSpacesAndTabs(name); !trimmed.empty()) names.emplace_back(trimmed);
    if (names.empty()) return fail("No valid track names provided in `track_names`.");

    const LogicInspector& logic = toolCall.executor.logicInspector();
    std::vector<std::string> switched;
    std::vector<Failure> failures;
    std::string notes;  // switches of other tracks that changed with a press and were put back
    toolCall.planTracks(names);
    const auto failed = [&](Failure failure) {
        toolCall.noteFailed(failureList({failure}));
        failures.push_back(std::move(failure));
    };
    for (const auto& name : names) {
        std::string reason;
        auto selected = resolveAndSelect(logic, name, reason, 15, false);
        if (!selected) {
            failed({name, reason});
            continue;
        }
        const std::int64_t number = selected->header.trackNumber;
        std::vector<TrackHeader> reachable = selected->selectedBefore;
        // Tracks selected with the target stay selected when the selection did not have to move
        // to it, hidden ones too: those a collapsed folder hides could be neither read nor put
        // back, so the target is selected alone first.
        const bool wasSelected = std::any_of(reachable.begin(), reachable.end(),
                                             [&](const TrackHeader& h) { return h.trackNumber == number; });
        if (wasSelected && logic.mayHideTracks(selected->window)) {
            if (!selectAlone(logic, selected->window, selected->header)) {
                failed({selected->header.name, "could not be selected alone, and the " + std::string(tool.buttonHint) +
                                                   " key would reach every selected track; nothing was changed."});
                continue;
            }
            reachable.clear();
        }
        reachable.push_back(selected->header);
        const auto before = switchStates(logic, reachable, tool.buttonHint);
        const bool mayPress = !before.count(number) || before.at(number).second != *enabled;
        // A Stop waits until this track is settled, a press read back and strays put back, with
        // its pauses cut short: the Stop is answered within half a second.
        const platform::HeldPauses settling(kSettleOnceStopped);
        // Only the header's read-back counts: a press that did not take is a failure.
        const bool switchedHere =
            logic.clickTrackHeaderButton(selected->header, tool.buttonHint, *enabled, selected->window).success;
        const auto strays = mayPress ? putBackStrays(logic, selected->window, tool.buttonHint, before, selected->header)
                                     : std::vector<Stray>{};
        const bool allBack =
            std::all_of(strays.begin(), strays.end(), [](const Stray& stray) { return stray.putBack; });
        if (switchedHere && allBack) {
            for (const auto& stray : strays)
                notes += " The press also reached '" + stray.name + "', which was put back.";
            switched.push_back(selected->header.name);
            toolCall.noteDone(selected->header.name + " " +
                              text::lowercased(*enabled ? tool.verbPast : tool.verbPastNegated));
        } else {
            std::string said;
            for (const auto& stray : strays)
                said += "; the press reached '" + stray.name + "' instead" +
                        (stray.putBack ? ", which was put back" : " and it could not be put back");
            failed({selected->header.name, std::string("could not toggle ") + tool.buttonHint + said});
        }
    }

    const std::string verb = *enabled ? tool.verbPast : tool.verbPastNegated;
    std::string message = switched.empty() ? "No tracks were " + text::lowercased(verb) + "."
                                           : verb + " " + joined(switched, switched.size()) + "." + notes;
    if (!failures.empty()) message += " Failed: " + failureList(failures);
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
    if (auto strip = logic.firstMixerStrip(window))
        if (auto slider = logic.findSlider(*strip, tool.control, search_depth::kStripControls)) {
            if (auto lo = slider->number(platform::ax::kMinValue)) range.first = std::max(range.first, *lo);
            if (auto hi = slider->number(platform::ax::kMaxValue)) range.second = std::min(range.second, *hi);
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
        const auto strip = logic.readChannelStrip(window);
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
                failed({trackName, "dB write failed (target " + shortestDecimal(*target) + " dB)"});
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
