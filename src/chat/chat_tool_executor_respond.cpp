// The final answer, "respond", and the listening helpers it shares with "listen_to_playback": the
// summary line of one track, the round's latest listen and the before/after comparison.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <limits>
#include <string>

#include "chat/chat_tool_executor.h"
#include "diagrams/analysis_resolver.h"
#include "support/json_fields.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

using TrackAnalysisInfo = ChatToolExecutor::TrackAnalysisInfo;

std::optional<std::string> ChatToolExecutor::findRecentListenJSON(const std::vector<AgentToolCall>& calls,
                                                                  const std::vector<AgentToolOutputPayload>& outputs) {
    for (std::size_t i = std::min(calls.size(), outputs.size()); i-- > 0;)
        if (calls[i].name == "listen_to_playback") return outputs[i].outputJSON;
    return std::nullopt;
}

ChatToolExecutor::BeforeAfterDelta ChatToolExecutor::beforeAfterMaxDelta(const std::vector<TrackAnalysisInfo>& before,
                                                                         const std::vector<TrackAnalysisInfo>& after,
                                                                         const std::string& metric) {
    BeforeAfterDelta result;
    result.threshold = metric == "freq" ? 0.015 : metric == "levels" ? 0.7 : metric == "stereo" ? 0.03 : 0.01;
    for (const auto& a : after) {
        const std::string name = text::lowercased(a.trackName);
        auto b = std::find_if(before.begin(), before.end(),
                              [&](const TrackAnalysisInfo& t) { return text::lowercased(t.trackName) == name; });
        if (b == before.end()) {
            result.maxDelta = std::numeric_limits<double>::infinity();
            return result;
        }
        auto diff = [](std::optional<double> x, std::optional<double> y, double absent) {
            return std::fabs(x.value_or(absent) - y.value_or(absent));
        };
        double change = 0.0;
        if (metric == "freq") {
            for (auto member : {&TrackAnalysisInfo::subBandRatio, &TrackAnalysisInfo::bassBandRatio,
                                &TrackAnalysisInfo::lowMidBandRatio, &TrackAnalysisInfo::highMidBandRatio,
                                &TrackAnalysisInfo::airBandRatio})
                change = std::max(change, diff((*b).*member, a.*member, 0.0));
        } else if (metric == "levels") {
            change = diff(b->shortTermLufs, a.shortTermLufs, -100.0);
        } else if (metric == "stereo") {
            change =
                std::max(diff(b->stereoWidth, a.stereoWidth, 0.0), diff(b->phaseCorrelation, a.phaseCorrelation, 1.0));
        }
        result.maxDelta = std::max(result.maxDelta, change);
    }
    return result;
}

std::string ChatToolExecutor::trackSummaryLine(const TrackAnalysisInfo& track) {
    std::string line = track.trackName + ": " + formatFixed(track.shortTermLufs.value_or(-100.0), 1) + " LUFS";
    if (track.spectralTiltDb) line += ", tilt " + formatFixed(*track.spectralTiltDb, 1) + "dB";
    if (track.stereoWidth) line += ", width " + formatFixed(*track.stereoWidth, 2);
    return line;
}

namespace {

constexpr const char* kBlankProse = "`prose` is required and cannot be empty.";

std::vector<std::string> splitNames(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        std::string name(text::trimSpacesAndTabs(std::string_view(list).substr(start, comma - start)));
        if (!name.empty()) names.push_back(std::move(name));
        start = comma + 1;
    }
    return names;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) text += (i ? ", " : "") + names[i];
    return text;
}

std::string diagramTitle(const std::string& type) {
    if (type == "stereo_field") return "Stereo field";
    if (type == "freq_curve") return "Frequency curve";
    if (type == "freq_compare") return "Frequency comparison";
    if (type == "levels_compare") return "Level comparison";
    if (type == "before_after") return "Before / after";
    std::string title = type;
    std::replace(title.begin(), title.end(), '_', ' ');
    bool wordStart = true;
    for (char& c : title) {
        const auto u = static_cast<unsigned char>(c);
        c = static_cast<char>(wordStart ? std::toupper(u) : std::tolower(u));
        wordStart = std::isspace(u) != 0;
    }
    return title;
}

nlohmann::json trackEntry(const TrackAnalysisInfo& t) {
    return {{"trackName", t.trackName},
            {"shortTermLufs", t.shortTermLufs.value_or(-100.0)},
            {"subBandRatio", t.subBandRatio.value_or(0.0)},
            {"bassBandRatio", t.bassBandRatio.value_or(0.0)},
            {"lowMidBandRatio", t.lowMidBandRatio.value_or(0.0)},
            {"highMidBandRatio", t.highMidBandRatio.value_or(0.0)},
            {"airBandRatio", t.airBandRatio.value_or(0.0)},
            {"stereoWidth", t.stereoWidth.value_or(0.0)},
            {"phaseCorrelation", t.phaseCorrelation.value_or(1.0)}};
}

nlohmann::json trackEntries(const std::vector<TrackAnalysisInfo>& tracks) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& t : tracks) list.push_back(trackEntry(t));
    return list;
}

// The tracks of the round's own listen that the diagram asks for, first of each name; a listen
// that failed decodes as nothing.
std::vector<TrackAnalysisInfo> priorTracks(const std::optional<std::string>& listenJSON,
                                           const std::vector<std::string>& names) {
    if (!listenJSON) return {};
    const auto parsed = nlohmann::json::parse(*listenJSON, nullptr, false);
    if (parsed.is_discarded()) return {};
    std::vector<TrackAnalysisInfo> tracks;
    try {
        tracks = parsed.get<AudioAnalysisToolResult>().tracks;
    } catch (const std::exception&) {
        try {
            tracks = parsed.get<ListenResult>().tracks;
        } catch (const std::exception&) {
            return {};
        }
    }
    std::vector<std::string> wanted;
    for (const auto& n : names) wanted.push_back(text::lowercased(n));
    std::vector<TrackAnalysisInfo> kept;
    std::vector<std::string> seen;
    for (auto& t : tracks) {
        const std::string name = text::lowercased(t.trackName);
        if (std::find(wanted.begin(), wanted.end(), name) == wanted.end()) continue;
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) continue;
        seen.push_back(name);
        kept.push_back(std::move(t));
    }
    return kept;
}

AgentToolOutputPayload respond(ToolCall& toolCall) {
    const auto args = json_fields::parseObject(toolCall.args());
    if (!args) return toolCall.fail("Malformed arguments.");
    const auto rawProse = tool_args::text(*args, "prose");
    const std::string prose = rawProse ? text::trimmingWhitespaceAndNewlines(*rawProse) : std::string();
    if (prose.empty()) return toolCall.fail(kBlankProse);

    nlohmann::json output = {{"status", "ok"}, {"prose", prose}};
    auto finish = [&] {
        toolCall.record(prose, true);
        return ChatToolExecutor::makeJSONOutput(toolCall.callID(), output, "{}");
    };

    const nlohmann::json* visual = tool_args::object(*args, "visual");
    if (!visual) return finish();
    const auto type = tool_args::text(*visual, "type");
    const auto trackList = tool_args::text(*visual, "tracks");
    if (!type || !trackList) return finish();
    const std::vector<std::string> names = splitNames(*trackList);
    const std::string metric = tool_args::text(*visual, "metric").value_or("freq");
    const bool beforeAfter = *type == "before_after";

    const auto prior =
        priorTracks(ChatToolExecutor::findRecentListenJSON(toolCall.roundCalls, toolCall.outputs), names);
    const auto entries = toolCall.executor.conversations().entries(toolCall.threadID);
    std::vector<std::vector<TrackAnalysisInfo>> resolved;
    if (beforeAfter || prior.empty()) resolved = AnalysisResolver::resolve(names, entries, beforeAfter ? 2 : 1);

    std::optional<std::vector<TrackAnalysisInfo>> after;
    if (!prior.empty())
        after = prior;
    else if (!resolved.empty())
        after = resolved[0];
    std::optional<std::vector<TrackAnalysisInfo>> before;
    const std::size_t beforeIndex = prior.empty() ? 1 : 0;
    if (beforeAfter && resolved.size() > beforeIndex) before = resolved[beforeIndex];

    if (!after) {
        output["droppedVisual"] = "no recent listen_to_playback data for " + joined(names);
        return finish();
    }
    if (beforeAfter && !before) {
        output["droppedVisual"] = "no prior-listen data for a before/after comparison";
        return finish();
    }
    if (beforeAfter) {
        const auto delta = ChatToolExecutor::beforeAfterMaxDelta(*before, *after, metric);
        if (delta.maxDelta < delta.threshold) {
            output["droppedVisual"] = "before/after deltas below threshold (" + formatFixed(delta.maxDelta, 3) + " < " +
                                      formatFixed(delta.threshold, 3) + ") \u2014 panels would look identical";
            return finish();
        }
        output["beforeTracks"] = trackEntries(*before);
    }
    output["diagramType"] = *type;
    output["diagramSummary"] = diagramTitle(*type) + " \u2014 " + joined(names);
    output["metric"] = metric;
    output["tracks"] = trackEntries(*after);
    return finish();
}

}  // namespace

AgentToolOutputPayload tool_handlers::respond(ToolCall& toolCall) { return corvane::respond(toolCall); }

}  // namespace corvane
