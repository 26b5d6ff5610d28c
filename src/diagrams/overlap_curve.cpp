#include "diagrams/overlap_curve.h"

#include "diagrams/plain_text.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "support/numbers.h"
#include "support/unicode.h"
#include "diagrams/spectrum.h"

namespace corvane {

using namespace diagram;

namespace {
constexpr Color kSystemRed{1.0, 0.231, 0.188, 1};

// The whole text as a finite number, or nothing.
std::optional<double> wholeNumber(std::string_view s) {
    const auto value = readNumber(s);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

std::optional<double> pieceValue(std::string_view piece) {
    if (!piece.empty() && piece.back() == 'k') {
        if (auto n = wholeNumber(piece.substr(0, piece.size() - 1))) return *n * 1000;
    }
    return wholeNumber(piece);
}

std::string frequencyLabel(double f) {
    auto whole = checkedInteger(f >= 1000 ? f / 1000 : f, INT64_MIN, INT64_MAX);
    if (!whole) return "";
    return std::to_string(*whole) + (f >= 1000 ? "k" : "");
}
}  // namespace

std::pair<double, double> parseRangeHz(const std::string& text) {
    std::string s = text::lowercased(text);
    plain_text::removeAll(s, "hz");
    plain_text::removeAll(s, " ");
    std::vector<std::string_view> pieces;
    std::string_view rest = s;
    while (!rest.empty()) {
        size_t dash = rest.find('-');
        std::string_view piece = rest.substr(0, dash);
        if (!piece.empty()) pieces.push_back(piece);
        if (dash == std::string_view::npos) break;
        rest.remove_prefix(dash + 1);
    }
    if (pieces.size() != 2) return {200, 500};
    return {pieceValue(pieces[0]).value_or(200), pieceValue(pieces[1]).value_or(500)};
}

const OverlapPalette& overlapPalette(size_t trackIndex) {
    static const OverlapPalette palette[6] = {
        {{0.3, 0.6, 1.0, 1}, {0.45, 0.7, 1.0, 1}},    {{1.0, 0.6, 0.2, 1}, {1.0, 0.7, 0.35, 1}},
        {{0.4, 0.85, 0.55, 1}, {0.55, 0.9, 0.65, 1}}, {{0.85, 0.45, 0.9, 1}, {0.9, 0.55, 0.95, 1}},
        {{0.95, 0.85, 0.3, 1}, {1.0, 0.9, 0.45, 1}},  {{0.4, 0.8, 0.9, 1}, {0.55, 0.85, 0.95, 1}},
    };
    return palette[trackIndex % 6];
}

OverlapCurveLayout layoutOverlapCurve(const std::vector<OverlapTrack>& tracks, const std::string& overlapRange,
                                      const std::vector<double>& gridFreqs, double W, double H) {
    OverlapCurveLayout out;
    out.background.push_back({{0, 0, W, H}, 8, white(0.03)});
    out.frame = {kSystemRed.withOpacity(0.12), 1};
    const size_t n = tracks.size();
    const double rows = double((n + 2) / 3);
    const double T = 16 * rows + 8;
    const double B = H - 18;
    const double P = std::max(1.0, B - T);
    bool anyValue = false;
    double S = 0.3;
    for (const auto& track : tracks)
        for (double v : track.bands) {
            anyValue = true;
            S = std::max(S, v);
        }
    if (!anyValue) S = 0.5;
    out.plotTop = T;
    out.baselineY = B;
    out.scale = S;
    auto x = [&](double f) { return W * frequencyAxisPosition(f); };
    auto y = [&](double v) { return T + P * (1 - std::min(v / S, 1.0)); };

    for (double f : gridFreqs) out.grid.push_back({{x(f), T}, {x(f), B}, {white(0.07), 0.5}});
    out.baseline = {{0, B}, {W, B}, {white(0.12), 1}};

    auto [low, high] = parseRangeHz(overlapRange);
    if (low < high) {
        out.markedRange.push_back({{x(low), T, x(high) - x(low), P}, 0, kSystemRed.withOpacity(0.06)});
        out.markedRangeOutline = {kSystemRed.withOpacity(0.12), 0.5};
    }

    std::vector<std::vector<SpectrumPoint>> curves;
    for (const auto& track : tracks) curves.push_back(SpectrumInterpolation::interpolateSpectrum(track.bands, 200, W));

    if (n >= 2 && !curves.front().empty()) {
        Area shared{{{curves.front().front().x, B}}, {1.0, 0.3, 0.2, 0.14}};
        for (size_t i = 0; i < curves.front().size(); ++i) {
            double m = curves.front()[i].value;
            for (const auto& curve : curves)
                if (i < curve.size()) m = std::min(m, curve[i].value);
            shared.outline.push_back({curves.front()[i].x, y(m)});
        }
        shared.outline.push_back({curves.front().back().x, B});
        out.sharedArea.push_back(std::move(shared));
    }

    for (size_t i = 0; i < n; ++i) {
        const auto& pair = overlapPalette(i);
        OverlapCurveLayout::TrackCurve curve{{{}, pair.fill.withOpacity(0.08)},
                                             {{}, {pair.stroke.withOpacity(0.75), 1.8, {}, true}}};
        if (!curves[i].empty()) {
            curve.area.outline.push_back({curves[i].front().x, B});
            for (const auto& p : curves[i]) {
                curve.area.outline.push_back({p.x, y(p.value)});
                curve.line.points.push_back({p.x, y(p.value)});
            }
            curve.area.outline.push_back({curves[i].back().x, B});
        }
        out.curves.push_back(std::move(curve));

        const double C = std::max(110.0, W / 3);
        const double L = 8 + C * double(i % 3);
        const double Y = 4 + 16 * double(i / 3);
        out.legend.push_back({{{L, Y + 2, 7, 7}, 1.5, pair.stroke.withOpacity(0.85)},
                              {tracks[i].name, {10, FontWeight::medium}, white(0.65), {L + 12, Y + 5}}});
    }

    for (double f : gridFreqs)
        out.frequencyLabels.push_back(
            {frequencyLabel(f), {10, FontWeight::medium, true}, white(0.5), {x(f), H - 4}, Anchor::bottomCentre});
    return out;
}

}  // namespace corvane
