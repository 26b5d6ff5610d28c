#include "diagrams/spectrum.h"

#include <algorithm>
#include <cmath>

#include "support/numbers.h"

namespace corvane {

using namespace diagram;

namespace {
constexpr double kLog10Of20 = 1.3010299956639813;
constexpr double kBandCentres[5] = {40, 150, 400, 2500, 10000};
}  // namespace

double frequencyAxisPosition(double hz) {
    if (hz >= 20000) return 1;
    return (std::log10(std::max(hz, 20.0)) - kLog10Of20) / 3;
}

std::vector<double> bandShares(const AudioAnalysisToolResult::TrackAnalysisInfo& track) {
    return {track.subBandRatio.value_or(0), track.bassBandRatio.value_or(0), track.lowMidBandRatio.value_or(0),
            track.highMidBandRatio.value_or(0), track.airBandRatio.value_or(0)};
}

std::vector<SpectrumPoint> SpectrumInterpolation::interpolateSpectrum(const std::vector<double>& bands, int pointCount,
                                                                      double width) {
    std::vector<SpectrumPoint> points;
    if (bands.size() < 5 || pointCount <= 0) return points;

    double xs[7];
    for (int i = 0; i < 7; ++i) xs[i] = (std::log10(anchorFrequencies[i]) - kLog10Of20) / 3.0;
    std::vector<double> values;
    values.reserve(bands.size() + 2);
    values.push_back(0.3 * bands[0]);
    values.insert(values.end(), bands.begin(), bands.end());
    values.push_back(0.3 * bands[4]);
    const int last = static_cast<int>(values.size()) - 1;

    points.reserve(static_cast<size_t>(pointCount));
    for (int i = 0; i < pointCount; ++i) {
        const double t = pointCount == 1 ? 0.0 : double(i) / double(pointCount - 1);
        int k = 0;
        for (int j = 0; j <= 5; ++j)
            if (xs[j] <= t) k = j;
        const double span = xs[k + 1] - xs[k];
        const double u = span > 0 ? (t - xs[k]) / span : 0;
        const double p0 = values[std::max(k - 1, 0)];
        const double p1 = values[k];
        const double p2 = values[std::min(k + 1, last)];
        const double p3 = values[std::min(k + 2, last)];
        const double y = 0.5 * (2 * p1 + (p2 - p0) * u + (2 * p0 - 5 * p1 + 4 * p2 - p3) * u * u +
                                (-p0 + 3 * p1 - 3 * p2 + p3) * u * u * u);
        points.push_back({width * t, y >= 0 ? y : 0});  // NaN fails the test too
    }
    return points;
}

SpectrumCurveLayout layoutSpectrumCurve(const std::string& trackName, const std::vector<double>& bands,
                                        const std::vector<double>& gridFreqs, double W, double H) {
    SpectrumCurveLayout out;
    out.background.push_back({{0, 0, W, H}, 8, white(0.03)});
    const double T = trackName.empty() ? 16 : 34;
    const double B = H - 16;
    const double P = std::max(1.0, B - T);
    double S = 0.3;
    for (double v : bands) S = std::max(S, v);
    out.plotTop = T;
    out.scale = S;
    auto y = [&](double v) { return T + P * (1 - std::min(v / S, 1.0)); };
    auto x = [&](double f) { return W * frequencyAxisPosition(f); };

    if (!trackName.empty())
        out.title.push_back({trackName + " frequency balance", {11, FontWeight::medium}, white(0.55), {8, 9}});
    for (double f : gridFreqs) out.grid.push_back({{x(f), T}, {x(f), H}, {white(0.06), 0.5}});
    out.baseline = {{0, B}, {W, B}, {white(0.08), 1}};

    auto points = SpectrumInterpolation::interpolateSpectrum(bands, 200, W);
    if (points.empty()) return out;
    Area area{{{points.front().x, B}}, {0.3, 0.6, 1.0, 0.1}};
    Polyline line{{}, {{0.4, 0.65, 1.0, 0.7}, 2, {}, true}};
    for (const auto& p : points) {
        area.outline.push_back({p.x, y(p.value)});
        line.points.push_back({p.x, y(p.value)});
    }
    area.outline.push_back({points.back().x, B});
    out.area.push_back(std::move(area));
    out.line.push_back(std::move(line));

    constexpr Font kPercentageFont{11, FontWeight::medium, true};
    for (size_t i = 0; i < std::min<size_t>(bands.size(), 5); ++i) {
        const double mx = x(kBandCentres[i]);
        const double my = y(bands[i]);
        // Without a title a dot at the plot top would push its percentage out of the canvas.
        const double percentageBottom = std::max(my - 8, lineHeight(kPercentageFont));
        out.marks.push_back(
            {{{mx - 4, my - 4, 8, 8}, 4, {0.5, 0.75, 1.0, 1}},
             {formatFixed(bands[i] * 100, 0) + "%",
              kPercentageFont,
              white(0.6),
              {mx, percentageBottom},
              Anchor::bottomCentre},
             {bandLabels()[i], {10, FontWeight::medium}, white(0.45), {mx, H - 4}, Anchor::bottomCentre}});
    }
    return out;
}

}  // namespace corvane
