#include "diagrams/diagram_router.h"

#include <cmath>

#include "diagrams/analysis_resolver.h"
#include "support/numbers.h"

namespace corvane {

namespace {
std::string param(const VisualTag& tag, const char* key, const char* fallback) {
    auto found = tag.params.find(key);
    return found == tag.params.end() ? fallback : found->second;
}

// The whole text as a finite number, or -14.
double targetFrom(const std::string& text) {
    const auto value = readNumber(text);
    return value && std::isfinite(*value) ? *value : -14;
}

DiagramChoice spectrumOf(TrackAnalysisList tracks, double height) {
    DiagramChoice choice;
    choice.kind = DiagramChoice::Kind::spectrumCurve;
    choice.height = height;
    choice.tracks = std::move(tracks);
    return choice;
}
}  // namespace

SpectrumCurveLayout DiagramChoice::spectrumCurve(double width) const {
    if (tracks.empty()) return layoutSpectrumCurve("", {}, kSpectrumGridFreqs, width, height);
    return layoutSpectrumCurve(tracks.front().trackName, bandShares(tracks.front()), kSpectrumGridFreqs, width, height);
}

OverlapCurveLayout DiagramChoice::overlapCurve(double width) const {
    std::vector<OverlapTrack> curves;
    for (const auto& track : tracks) curves.push_back({track.trackName, bandShares(track)});
    return layoutOverlapCurve(curves, overlapRange, kOverlapGridFreqs, width, height);
}

StereoFieldLayout DiagramChoice::stereoField(double width) const { return layoutStereoField(tracks, width, height); }

LevelsCompareLayout DiagramChoice::levelsCompare(double width) const {
    return layoutLevelsCompare(tracks, width, height);
}

BeforeAfterLayout DiagramChoice::beforeAfter(double width) const {
    return layoutBeforeAfter(beforeTracks, tracks, metric, width);
}

std::optional<DiagramChoice> VisualDiagramRouter::choose(const VisualTag& tag,
                                                         const std::vector<ConversationEntry>& entries) {
    using Kind = DiagramChoice::Kind;
    const bool known = tag.type == "freq_curve" || tag.type == "freq_compare" || tag.type == "stereo_field" ||
                       tag.type == "levels_compare" || tag.type == "before_after";
    if (!known) return std::nullopt;

    auto results = AnalysisResolver::resolve(tag.trackNames(), entries, tag.type == "before_after" ? 2 : 1);
    if (results.empty() || results.front().empty()) return std::nullopt;
    TrackAnalysisList newest = std::move(results.front());
    const size_t n = newest.size();

    DiagramChoice choice;
    if (tag.type == "freq_curve") return spectrumOf(std::move(newest), 180);
    if (tag.type == "freq_compare") {
        if (n == 1) return spectrumOf(std::move(newest), 180);
        choice.kind = Kind::overlapCurve;
        choice.height = 160 + 16 * (double((n + 2) / 3) - 1);
        choice.overlapRange = param(tag, "range", "");
    } else if (tag.type == "stereo_field") {
        choice.kind = Kind::stereoField;
        choice.height = stereoFieldHeight(n);
    } else if (tag.type == "levels_compare") {
        choice.kind = Kind::levelsCompare;
        choice.height = levelsCompareFrameHeight(n);
        choice.targetDb = targetFrom(param(tag, "target", "-14"));
    } else {
        if (results.size() < 2) return std::nullopt;
        choice.kind = Kind::beforeAfter;
        choice.beforeTracks = std::move(results[1]);
        choice.metric = param(tag, "metric", "freq");
        choice.height = beforeAfterHeight(choice.beforeTracks, newest, choice.metric);
    }
    choice.tracks = std::move(newest);
    return choice;
}

}  // namespace corvane
