// "get_track_details": channel strips and insert chains of the named tracks, with the track that
// receives each send. Bus tracks the track list does not show are surfaced on the way.

#include <algorithm>
#include <map>
#include <string>

#include "chat/chat_tool_executor.h"
#include "logic/logic_messages.h"
#include "model/tool_result_payloads.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "support/json_fields.h"
#include "support/unicode.h"

namespace corvane {

namespace {

struct TrackRead {
    std::string headerName;
    LogicInspector::StripReading strip;
    std::vector<TrackDetailsResult::PluginSlotInfo> plugins;
};

struct TrackFailure {
    std::string track;
    std::string error;
};

// The requested names, trimmed, without empty ones; absent with the failure text.
std::optional<std::vector<std::string>> requestedNames(const std::string& argumentsJSON, std::string& failure) {
    auto args = json_fields::parseObject(argumentsJSON);
    if (!args) {
        failure = tool_messages::kInvalidArguments;
        return std::nullopt;
    }
    std::vector<std::string> raw;
    if (auto list = tool_args::textList(*args, "track_names")) {
        raw = std::move(*list);
    } else if (auto single = tool_args::text(*args, "track_name")) {
        raw.push_back(*single);
    } else {
        failure = "Missing track_names parameter (array of track name strings).";
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (const auto& name : raw)
        if (auto trimmed = text::trimSpacesAndTabs(name); !trimmed.empty()) names.emplace_back(trimmed);
    if (names.empty()) {
        failure = "No valid track names.";
        return std::nullopt;
    }
    return names;
}

std::vector<std::string> sendsOf(const nlohmann::json& strip) {
    std::vector<std::string> sends;
    auto found = strip.find("sends");
    if (found == strip.end() || !found->is_array()) return sends;
    for (const auto& send : *found)
        if (!send.is_string()) return {};
    for (const auto& send : *found) sends.push_back(send.get<std::string>());
    return sends;
}

TrackDetailsResult resultFor(const TrackRead& read, const std::map<std::string, std::string>& busMap) {
    TrackDetailsResult result;
    result.status = "ok";
    result.trackName = read.headerName;
    result.plugins = read.plugins;
    // A strip that could not be read reports no readings.
    if (read.strip.error) return result;
    result.volume = read.strip.text("volume");
    result.volumeDisplay = read.strip.text("volumeDisplay");
    result.pan = read.strip.text("pan");
    result.input = read.strip.text("input");
    result.inputBus = read.strip.text("inputBus");
    result.output = read.strip.text("output");
    result.channelMode = read.strip.text("channelMode");
    auto sends = read.strip.values.find("sends");
    bool allText = sends != read.strip.values.end() && sends->is_array();
    if (allText)
        for (const auto& send : *sends) allText = allText && send.is_string();
    if (!allText) return result;
    result.sends = sendsOf(read.strip.values);
    std::map<std::string, std::string> targets;
    for (const auto& label : *result.sends)
        if (auto found = busMap.find(label); found != busMap.end() && !found->second.empty())
            targets[label] = found->second;
    if (!targets.empty()) result.sendTargets = std::move(targets);
    return result;
}

AgentToolOutputPayload getTrackDetails(ToolCall& toolCall) {
    std::string argumentFailure;
    auto names = requestedNames(toolCall.args(), argumentFailure);
    if (!names) return toolCall.fail(argumentFailure);

    const LogicInspector& logic = toolCall.executor.logicInspector();
    const LogicInspector::KeptPlaces places;  // one track selected after another
    std::vector<TrackRead> reads;
    std::vector<TrackFailure> failures;
    std::map<std::string, std::string> busMap;  // "" for a bus whose track was not found
    std::vector<std::string> shownNow;          // bus tracks the reads put into the track list
    for (const auto& name : *names) {
        auto window = logic.findMainWindow();
        auto resolved = window ? logic.resolveTrack(name) : LogicInspector::ResolvedTrack{};
        if (resolved.window) window = resolved.window;
        if (window && resolved.matches.size() > 1) {
            failures.push_back({name, LogicInspector::ambiguousTrackMessage(resolved)});
            continue;
        }
        if (window && resolved.header) {
            logic.activateLogic();
            if (logic.selectTrackViaKeyboard(*resolved.header, *window)) {
                TrackRead read{resolved.header->name, logic.readChannelStrip(*window), {}};
                const auto slots = logic.findTrackPluginSlots(*window);
                for (std::size_t i = 0; i < slots.size(); ++i)
                    read.plugins.push_back({static_cast<std::int64_t>(i), slots[i].name, slots[i].isBypassed});
                // Which track receives each send, asked while this track is still the selected one.
                // Logic Pro offers no way to take a bus's track out of the list again: the card says
                // it is there now.
                for (const auto& label : sendsOf(read.strip.values)) {
                    if (busMap.count(label)) continue;
                    std::optional<std::string> putInList;
                    const auto shownNote = [&] {
                        return *putInList + " (the track of " + label + ") is now shown in the track list";
                    };
                    try {
                        busMap[label] =
                            logic.findTrackForBusThroughSend(*resolved.header, label, &putInList).value_or("");
                    } catch (const platform::PauseStopped&) {
                        if (putInList) toolCall.noteDone(shownNote());  // for the stopped call's answer
                        throw;
                    }
                    if (putInList) shownNow.push_back(shownNote());
                }
                reads.push_back(std::move(read));
                continue;
            }
            log(logic_messages::selectTrackFailed(resolved.header->name));
        }
        // Found but not selected, or not in the track list at all (perhaps in a collapsed folder).
        if (!window) {
            failures.push_back({name, logic_messages::kNoTracksWindow});
            continue;
        }
        auto again = logic.resolveTrack(name);
        failures.push_back({name, again.header ? "track exists but selection didn't land \u2014 try again. This can "
                                                 "happen if a plugin window grabbed Logic's keyboard focus."
                                               : toolCall.executor.collapsedFolderHint(name, again.availableNames)});
    }

    nlohmann::json tracks = nlohmann::json::array();
    std::string readNames;
    for (const auto& read : reads) {
        nlohmann::json one = resultFor(read, busMap);
        try {
            (void)one.dump();  // a name that is not UTF-8 cannot be written
        } catch (const nlohmann::json::exception&) {
            one = nlohmann::json::object();
        }
        tracks.push_back(std::move(one));
        readNames += (readNames.empty() ? "" : ", ") + read.headerName;
    }
    std::string summary = "Read details for " + readNames + ".";
    nlohmann::json output{{"tracks", std::move(tracks)}};
    if (!failures.empty()) {
        std::string failedNames;
        nlohmann::json list = nlohmann::json::array();
        for (const auto& failure : failures) {
            failedNames += (failedNames.empty() ? "" : ", ") + failure.track;
            list.push_back({{"track", failure.track}, {"error", failure.error}});
        }
        summary += " Failed: " + failedNames;
        output["failures"] = std::move(list);
    }
    for (const auto& shown : shownNow) summary += (failures.empty() ? " " : ". ") + shown + ".";
    toolCall.record(summary, !reads.empty());
    return ChatToolExecutor::makeJSONOutput(toolCall.callID(), output, "{}");
}

}  // namespace

AgentToolOutputPayload tool_handlers::getTrackDetails(ToolCall& toolCall) { return corvane::getTrackDetails(toolCall); }

}  // namespace corvane
