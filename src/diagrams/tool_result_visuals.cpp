#include "diagrams/tool_result_visuals.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "model/tool_result_payloads.h"
#include "support/json_fields.h"
#include "support/numbers.h"

namespace corvane {

using namespace diagram;
using Json = nlohmann::json;
using Info = AudioAnalysisToolResult::TrackAnalysisInfo;

namespace {
template <class T>
std::optional<T> decodeAs(const std::string& resultJSON) {
    try {
        return json_fields::decode<T>(resultJSON);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<TrackAnalysisList> decodeAudioAnalysis(const std::string& resultJSON) {
    if (auto analysis = decodeAs<AudioAnalysisToolResult>(resultJSON); analysis && analysis->status == "ok")
        return analysis->tracks;
    if (auto listen = decodeAs<ListenResult>(resultJSON); listen && listen->status == "ok") return listen->tracks;
    return std::nullopt;
}

std::optional<ToolResultVisual> audioAnalysisVisual(const TrackAnalysisList& tracks) {
    AudioAnalysisVisual visual;
    for (const auto& track : tracks) {
        if (!track.shortTermLufs || !(*track.shortTermLufs > -90)) continue;
        visual.meter.push_back({track.trackName, std::max(std::min(*track.shortTermLufs, 0.0), -60.0)});
        auto shares = bandShares(track);
        if (std::any_of(shares.begin(), shares.end(), [](double v) { return v > 0; }))
            visual.spectrumRows.push_back({track.trackName, std::move(shares), track.spectralTiltDb});
    }
    if (visual.meter.empty()) return std::nullopt;
    return visual;
}

std::optional<ToolResultVisual> pluginChainVisual(const std::string& resultJSON) {
    auto details = decodeAs<TrackDetailsResult>(resultJSON);
    if (!details || details->status != "ok" || details->plugins.empty()) return std::nullopt;
    PluginChainVisual visual{details->trackName, {}};
    const int last = int(details->plugins.size()) - 1;
    for (const auto& slot : details->plugins) visual.chips.push_back({slot.name, slot.isBypassed, slot.index < last});
    return visual;
}

std::optional<ToolResultVisual> knobGridVisual(const std::string& resultJSON) {
    auto result = decodeAs<PluginParametersResult>(resultJSON);
    if (!result || result->status != "ok") return std::nullopt;
    KnobGridVisual visual{result->pluginName + " on " + result->trackName, {}};
    for (const auto& parameter : result->parameters) {
        if (!parameter.value || parameter.value->empty() || parameter.label.starts_with("Slider ")) continue;
        if (visual.rows.empty() || visual.rows.back().size() == 4) visual.rows.emplace_back();
        visual.rows.back().push_back({parameter.label, *parameter.value, "", std::nullopt, std::nullopt});
    }
    if (visual.rows.empty()) return std::nullopt;
    return visual;
}

std::optional<ToolResultVisual> trackListVisual(const std::string& resultJSON) {
    auto result = decodeAs<ListTracksResult>(resultJSON);
    if (!result || result->status != "ok" || result->tracks.empty()) return std::nullopt;
    TrackListVisual visual;
    for (const auto& track : result->tracks) {
        visual.rows.push_back({fmt::format("{:02d}", track.number), track.name, track.isMuted, track.isFolder});
    }
    return visual;
}

// The tracks of a "show_visual" output; none unless `value` is an array of objects only.
std::optional<TrackAnalysisList> showVisualTracks(const Json* value) {
    if (!value || !value->is_array()) return std::nullopt;
    TrackAnalysisList tracks;
    for (const auto& object : *value) {
        if (!object.is_object()) return std::nullopt;
        auto name = object.find("trackName");
        if (name == object.end() || !name->is_string()) continue;
        Info track;
        track.trackName = name->get<std::string>();
        auto number = [&](const char* key) -> std::optional<double> {
            auto found = object.find(key);
            if (found == object.end() || !found->is_number()) return std::nullopt;
            return found->get<double>();
        };
        track.shortTermLufs = number("shortTermLufs");
        track.subBandRatio = number("subBandRatio");
        track.bassBandRatio = number("bassBandRatio");
        track.lowMidBandRatio = number("lowMidBandRatio");
        track.highMidBandRatio = number("highMidBandRatio");
        track.airBandRatio = number("airBandRatio");
        track.stereoWidth = number("stereoWidth");
        track.phaseCorrelation = number("phaseCorrelation");
        tracks.push_back(std::move(track));
    }
    return tracks;
}

const Json* member(const Json& object, const char* key) {
    auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

std::optional<ToolResultVisual> showVisual(const std::string& resultJSON) {
    Json root = Json::parse(resultJSON, nullptr, false);
    if (root.is_discarded() || !root.is_object()) return std::nullopt;
    const Json* type = member(root, "diagramType");
    if (!type || !type->is_string()) return std::nullopt;
    auto tracks = showVisualTracks(member(root, "tracks"));
    if (!tracks) return std::nullopt;
    const std::string& diagramType = type->get_ref<const std::string&>();
    const size_t n = tracks->size();

    using Kind = DiagramChoice::Kind;
    DiagramChoice choice;
    if (diagramType == "stereo_field") {
        choice.kind = Kind::stereoField;
        choice.height = stereoFieldHeight(std::max<size_t>(n, 1));
    } else if (diagramType == "freq_curve") {
        if (n == 0) return std::nullopt;
        choice.kind = Kind::spectrumCurve;
        choice.height = 140;
    } else if (diagramType == "freq_compare") {
        if (n < 2) return std::nullopt;
        choice.kind = Kind::overlapCurve;
        choice.height = 160;
    } else if (diagramType == "levels_compare") {
        choice.kind = Kind::levelsCompare;
        choice.height = levelsCompareFrameHeight(n);
    } else if (diagramType == "before_after") {
        auto before = showVisualTracks(member(root, "beforeTracks"));
        if (!before) return std::nullopt;
        choice.kind = Kind::beforeAfter;
        choice.beforeTracks = std::move(*before);
        const Json* metric = member(root, "metric");
        choice.metric = metric && metric->is_string() ? metric->get<std::string>() : "freq";
        choice.height = beforeAfterHeight(choice.beforeTracks, *tracks, choice.metric);
    } else {
        return std::nullopt;
    }
    choice.tracks = std::move(*tracks);
    return choice;
}
}  // namespace

std::vector<Box> CompactSpectrumRow::bars() const {
    static constexpr Color kBandColors[5] = {
        {0.85, 0.45, 0.4, 0.75}, {0.9, 0.55, 0.35, 0.75}, {0.75, 0.7, 0.45, 0.75},
        {0.5, 0.7, 0.75, 0.75},  {0.4, 0.65, 0.95, 0.75},
    };
    std::vector<Box> out;
    const double count = double(bands.size());
    const double stackWidth = count * barWidth + std::max(0.0, count - 1) * barSpacing;
    const double left = ((barSpacing + barWidth) * count - stackWidth) / 2;
    for (size_t i = 0; i < bands.size(); ++i) {
        double h = std::max(barAreaHeight * bands[i], 2.0);
        if (std::isnan(h)) h = 2;
        h = std::min(h, barAreaHeight);
        out.push_back({{left + double(i) * (barWidth + barSpacing), barAreaHeight - h, barWidth, h},
                       1,
                       kBandColors[std::min<size_t>(i, 4)]});
    }
    return out;
}

std::optional<Label> CompactSpectrumRow::tiltLabel() const {
    if (!tiltDb) return std::nullopt;
    const double t = *tiltDb;
    Color color = t >= 0 ? Color{0.4, 0.65, 0.95, 1} : Color{0.8, 0.45, 0.4, 1};
    color.opacity = 0.3 + 0.5 * std::min(std::abs(t) / 6, 1.0);
    std::string text = formatFixed(t, 1);
    if (t >= 0 && !text.starts_with('-')) text.insert(0, 1, '+');
    return Label{text + " dB tilt",  {9, FontWeight::regular, true}, color,
                 {0, rowHeight / 2}, Anchor::leadingCentre,          70};
}

std::optional<ToolResultVisual> toolResultVisual(const std::string& toolName, const std::string& resultJSON) {
    if (toolName == "get_audio_analysis" || toolName == "listen_to_playback") {
        auto tracks = decodeAudioAnalysis(resultJSON);
        return tracks ? audioAnalysisVisual(*tracks) : std::nullopt;
    }
    if (toolName == "show_visual") return showVisual(resultJSON);
    if (toolName == "get_track_details") return pluginChainVisual(resultJSON);
    if (toolName == "get_plugin_parameters") return knobGridVisual(resultJSON);
    if (toolName == "list_tracks") return trackListVisual(resultJSON);
    return std::nullopt;
}

}  // namespace corvane
