#include "diagrams/comparison_diagrams.h"

#include <algorithm>
#include <cmath>

#include "support/numbers.h"

namespace corvane {

using namespace diagram;

namespace {
// The platform's standard colours, as the levels bars and the "After" label use them.
constexpr Color kRed{1.0, 0.231, 0.188, 1};
constexpr Color kYellow{1.0, 0.8, 0.0, 1};
constexpr Color kGreen{0.204, 0.78, 0.349, 1};

constexpr Font kHeadingFont{10, FontWeight::medium};
constexpr double kColumnSpacing = 12;

double centredTop(double frameHeight, double content) { return std::max(0.0, (frameHeight - content) / 2); }

struct PhaseLook {
    const char* word;
    Color color;
};

PhaseLook phaseLook(double c) {
    if (c < 0) return {"mono-collapse risk", {1.0, 0.35, 0.35, 1}};
    if (c < 0.3) return {"very decorrelated", {1.0, 0.65, 0.25, 1}};
    if (c < 0.6) return {"mono-safe", {0.45, 0.85, 0.55, 1}};
    return {"correlated", {0.35, 0.7, 0.95, 1}};
}

const char* widthWord(double w) {
    if (w < 0.2) return "Narrow";
    if (w < 0.5) return "Moderate";
    if (w < 0.8) return "Wide";
    return "Very wide";
}

// What one column of the before/after comparison holds, and how high.
double metricHeight(const TrackAnalysisList& tracks, const std::string& metric) {
    if (metric == "stereo") return stereoFieldHeight(tracks.size());
    if (metric == "levels") return 28 * double(tracks.size()) + 20;
    return tracks.empty() ? 0 : 120;
}

BeforeAfterLayout::Diagram metricDiagram(const TrackAnalysisList& tracks, const std::string& metric, double width,
                                         double height) {
    if (metric == "stereo") return layoutStereoField(tracks, width, height);
    if (metric == "levels") return layoutLevelsCompare(tracks, width, height);
    if (tracks.empty()) return std::monostate{};
    return layoutSpectrumCurve(tracks.front().trackName, bandShares(tracks.front()), {100, 1000, 10000}, width, height);
}

constexpr Font kColumnLabelFont{9, FontWeight::medium};
const double kColumnsTop = lineHeight(kHeadingFont) + 4;
const double kDiagramTop = kColumnsTop + lineHeight(kColumnLabelFont) + 2;
}  // namespace

double stereoFieldHeight(size_t rows) { return 36 * double(rows) + 16; }

double levelsCompareFrameHeight(size_t rows) { return 28 * double(rows) + 30; }

LevelsCompareLayout layoutLevelsCompare(const TrackAnalysisList& tracks, double W, double frameHeight) {
    constexpr double kRowHeight = 14;
    LevelsCompareLayout out;
    const double headingHeight = lineHeight(kHeadingFont);
    out.contentHeight = headingHeight + double(tracks.size()) * (kRowHeight + 2);
    const double top = centredTop(frameHeight, out.contentHeight);
    out.heading = {"Levels", kHeadingFont, white(0.5), {0, top}, Anchor::topLeading};

    const double barX = 100 + 6;
    const double barWidth = std::max(0.0, W - barX - 6 - 40);
    for (size_t i = 0; i < tracks.size(); ++i) {
        LevelsCompareLayout::Row row;
        row.level = tracks[i].shortTermLufs.value_or(-60);
        row.fraction = std::clamp((row.level + 60) / 60, 0.0, 1.0);
        if (std::isnan(row.fraction)) row.fraction = 0;
        const Color color = row.level > -6 ? kRed : row.level > -12 ? kYellow : kGreen;
        const double rowTop = top + headingHeight + 2 + double(i) * (kRowHeight + 2);
        const double centre = rowTop + kRowHeight / 2;
        row.name = {tracks[i].trackName, {10}, white(0.7), {100, centre}, Anchor::trailingCentre, 100};
        row.under = {{barX, rowTop, barWidth * row.fraction, kRowHeight}, 2, color.withOpacity(0.3)};
        row.over = {row.under.rect, 2, color.withOpacity(0.6)};
        row.value = {
            formatFixed(row.level, 1), {9, FontWeight::regular, true}, white(0.5), {W, centre}, Anchor::trailingCentre};
        out.rows.push_back(std::move(row));
    }
    return out;
}

StereoFieldLayout layoutStereoField(const TrackAnalysisList& tracks, double W, double frameHeight) {
    constexpr double kFieldHeight = 18;
    constexpr Font kPercentFont{13, FontWeight::bold, false, true};
    constexpr Font kSmallFont{9, FontWeight::medium};
    constexpr Font kCorrelationFont{9, FontWeight::regular, true};
    const double rowHeight = std::max(kFieldHeight, lineHeight(kPercentFont) + 1 + lineHeight(kCorrelationFont));
    StereoFieldLayout out;
    out.contentHeight = 8 + double(tracks.size()) * rowHeight + (tracks.empty() ? 0 : 8 * double(tracks.size() - 1));
    const double top = centredTop(frameHeight, out.contentHeight) + 4;

    const double fieldX = 90 + 12;
    const double fieldWidth = std::max(0.0, W - 90 - 170 - 24);
    for (size_t i = 0; i < tracks.size(); ++i) {
        const auto& track = tracks[i];
        StereoFieldLayout::Row row;
        double w = std::clamp(track.stereoWidth.value_or(0), 0.0, 1.0);
        if (std::isnan(w)) w = 0;
        const double c = track.phaseCorrelation.value_or(1.0);
        const PhaseLook look = phaseLook(c);
        row.percentage = int(checkedRounded(w * 100).value_or(0));
        row.widthWord = widthWord(w);
        row.correlationWord = look.word;
        row.phaseColor = look.color;

        const double rowTop = top + double(i) * (rowHeight + 8);
        const double centre = rowTop + rowHeight / 2;
        const double fieldY = centre - kFieldHeight / 2;
        const double cx = fieldWidth * 0.5;
        const double h = w * cx;
        row.name = {track.trackName, {11, FontWeight::semibold}, white(0.85), {0, centre}, Anchor::leadingCentre, 90};
        row.field = {
            {{fieldX, fieldY, fieldWidth, kFieldHeight}, 3, white(0.06)},
            {{fieldX + cx - 0.5, fieldY, 1, kFieldHeight}, 0, white(0.18)},
            {{fieldX + cx - h, fieldY, 2 * h, kFieldHeight}, 3, look.color.withOpacity(0.35)},
            {{fieldX + cx - h, fieldY, 1.5, kFieldHeight}, 0, look.color.withOpacity(0.7)},
            {{fieldX + cx + h - 1.5, fieldY, 1.5, kFieldHeight}, 0, look.color.withOpacity(0.7)},
        };
        const double line1 = centre - (lineHeight(kCorrelationFont) + 1) / 2;
        const double line2 = centre + (lineHeight(kPercentFont) + 1) / 2;
        row.widthReadout = {{{std::to_string(row.percentage) + "%", kPercentFont, white(0.95)},
                             {row.widthWord, kSmallFont, white(0.55)}},
                            4,
                            {W, line1}};
        row.correlationReadout = {
            {{"φ " + formatFixed(c, 2) + " · " + look.word, kCorrelationFont, look.color.withOpacity(0.85)}},
            4,
            {W, line2},
            Anchor::trailingCentre,
            5,
            look.color};
        out.rows.push_back(std::move(row));
    }
    return out;
}

double beforeAfterHeight(const TrackAnalysisList& before, const TrackAnalysisList& after, const std::string& metric) {
    return std::max(180.0, kDiagramTop + std::max(metricHeight(before, metric), metricHeight(after, metric)));
}

BeforeAfterLayout layoutBeforeAfter(const TrackAnalysisList& before, const TrackAnalysisList& after,
                                    const std::string& metric, double W) {
    BeforeAfterLayout out;
    out.height = beforeAfterHeight(before, after, metric);
    const double columnsHeight = std::max(metricHeight(before, metric), metricHeight(after, metric));
    const double top = centredTop(out.height, kDiagramTop + columnsHeight);
    out.heading = {"Before → After", kHeadingFont, white(0.5), {0, top}, Anchor::topLeading};

    const double columnWidth = std::max(0.0, (W - kColumnSpacing) / 2);
    auto column = [&](const TrackAnalysisList& tracks, double x, const char* label, Color labelColor) {
        const double height = metricHeight(tracks, metric);
        // Each column is centred in the row of the two, as a horizontal stack centres them.
        const double diagramTop = top + kDiagramTop + (columnsHeight - height) / 2;
        BeforeAfterLayout::Column c;
        c.label = {label, kColumnLabelFont, labelColor, {x + columnWidth / 2, diagramTop - 2}, Anchor::bottomCentre};
        c.frame = {x, diagramTop, columnWidth, height};
        c.diagram = metricDiagram(tracks, metric, columnWidth, height);
        return c;
    };
    out.before = column(before, 0, "Before", white(0.4));
    out.after = column(after, columnWidth + kColumnSpacing, "After", kGreen.withOpacity(0.7));
    return out;
}

}  // namespace corvane
