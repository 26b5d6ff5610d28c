#include "diagrams/levels_meter.h"

#include <algorithm>

#include "support/numbers.h"

namespace corvane {

using namespace diagram;
using L = LevelsMeterLayout;

namespace {
std::optional<std::string> wholeNumberText(double value) {
    auto whole = checkedInteger(value, INT64_MIN, INT64_MAX);
    if (!whole) return std::nullopt;
    return std::to_string(*whole);
}
}  // namespace

double levelsMeterHeight(size_t rows) { return double(rows) * L::rowHeight + L::scaleHeight + 2 * L::padding; }

LevelsMeterLayout layoutLevelsMeter(const std::vector<LevelsMeterTrack>& tracks, std::optional<double> targetDb,
                                    double W) {
    LevelsMeterLayout out;
    out.height = levelsMeterHeight(tracks.size());
    out.background = {{0, 0, W, out.height}, 10, white(0.03)};
    out.outline = {white(0.06), 1};

    const double barX = L::labelWidth + 6;
    const double barEnd = W - L::readoutWidth - L::padding;
    const double barWidth = barEnd - barX;
    const double scaleBottom = L::padding + L::scaleHeight;
    auto x = [&](double db) {
        const double c = std::max(L::minDb, std::min(db, L::maxDb));
        return barX + (c - L::minDb) / (L::maxDb - L::minDb) * barWidth;
    };

    for (double d : {-48.0, -24.0, -12.0, -6.0, 0.0}) {
        out.scaleLabels.push_back({wholeNumberText(d).value_or(""),
                                   {7.5, FontWeight::regular, true},
                                   white(0.25),
                                   {x(d), L::padding + L::scaleHeight / 2},
                                   Anchor::centre});
        out.scaleTicks.push_back({{x(d), scaleBottom - 2}, {x(d), scaleBottom}, {white(0.12), 0.5}});
    }

    for (size_t i = 0; i < tracks.size(); ++i) {
        const double rowTop = scaleBottom + double(i) * L::rowHeight;
        const double barY = rowTop + (L::rowHeight - L::barHeight) / 2;
        const double centre = rowTop + L::rowHeight / 2;
        const double level = tracks[i].levelDb;
        LevelsMeterLayout::Row row{
            {tracks[i].name, {10}, white(0.5), {L::labelWidth, centre}, Anchor::trailingCentre},
            {formatFixed(level, 0), {9, FontWeight::regular, true}, white(0.4), {barEnd + 6, centre}},
            {{barX, barY, barWidth, L::barHeight}, 2, white(0.04)},
            {}};
        const double fillEnd = std::max(barX, x(level));
        const double greenEnd = std::min(x(-12), fillEnd);
        if (greenEnd > barX)
            row.zones.push_back({{barX, barY, greenEnd - barX, L::barHeight}, 2, L::greenColor.withOpacity(0.6)});
        const double yellowEnd = std::min(x(-6), fillEnd);
        if (x(-12) < fillEnd && x(-12) < yellowEnd)
            row.zones.push_back({{x(-12), barY, yellowEnd - x(-12), L::barHeight}, 0, L::yellowColor.withOpacity(0.6)});
        if (x(-6) < fillEnd)
            row.zones.push_back({{x(-6), barY, fillEnd - x(-6), L::barHeight}, 0, L::redColor.withOpacity(0.6)});
        out.rows.push_back(std::move(row));
    }

    if (targetDb) {
        const double tx = x(*targetDb);
        out.target.push_back(
            {{tx, scaleBottom}, {tx, scaleBottom + double(tracks.size()) * L::rowHeight}, {white(0.3), 1, {4, 3}}});
        // Under the rows, in the bottom margin: above them it would cover the scale's marks, two
        // dB from the usual target.
        const double rowsBottom = scaleBottom + double(tracks.size()) * L::rowHeight;
        if (auto text = wholeNumberText(*targetDb))
            out.targetLabel.push_back({*text + " dB",
                                       {7, FontWeight::medium},
                                       white(0.35),
                                       {tx, rowsBottom + L::padding / 2},
                                       Anchor::centre});
    }
    return out;
}

}  // namespace corvane
