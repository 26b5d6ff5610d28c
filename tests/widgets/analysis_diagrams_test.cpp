#include "widgets/analysis_diagrams.h"

#include <gtest/gtest.h>

#include "widget_pixels.h"

namespace corvane {
namespace {

using testing::at;
using testing::brightness;
using testing::render;
using Info = AudioAnalysisToolResult::TrackAnalysisInfo;

Info track(std::string name, std::optional<double> lufs, std::optional<double> width = {},
           std::optional<double> correlation = {}) {
    Info info;
    info.trackName = std::move(name);
    info.shortTermLufs = lufs;
    info.stereoWidth = width;
    info.phaseCorrelation = correlation;
    return info;
}

enum class Hue { none, green, yellow, red, blue };

// Which of the diagrams' colours a pixel on black shows.
Hue hueOf(const QColor& c) {
    const int r = c.red(), g = c.green(), b = c.blue();
    if (std::max({r, g, b}) < 40) return Hue::none;
    if (b > r + 20 && b >= g) return Hue::blue;
    if (g > r + 15 && g > b + 15) return Hue::green;
    if (r > b + 40 && g > b + 30 && std::abs(r - g) < 60) return Hue::yellow;
    if (r > g + 30 && r > b + 30) return Hue::red;
    return Hue::none;
}

TEST(LevelsMeterWidget, ZonesTakeTheirColoursAndTheTargetLineCrossesEveryRow) {
    // Width 426: the bar runs from x 81 to 381, 5 pt per dB; -14 dB sits at x 311.
    LevelsMeterWidget meter(std::vector<LevelsMeterTrack>{{"Vocal", -3}, {"Vocal", -60}, {"Pad", -9}}, -14);
    const QImage image = render(meter, 426);
    ASSERT_EQ(image.height(), 16 * 3 + 36);

    const double row0 = 26 + 8, row1 = 42 + 8, row2 = 58 + 8;
    EXPECT_EQ(hueOf(at(image, 200, row0)), Hue::green);
    EXPECT_EQ(hueOf(at(image, 335, row0)), Hue::yellow);
    EXPECT_EQ(hueOf(at(image, 360, row0)), Hue::red);
    EXPECT_EQ(hueOf(at(image, 372, row0)), Hue::none);  // beyond -3 dB
    EXPECT_EQ(hueOf(at(image, 335, row2)), Hue::yellow);
    EXPECT_EQ(hueOf(at(image, 348, row2)), Hue::none);  // beyond -9 dB
    EXPECT_EQ(hueOf(at(image, 200, row1)), Hue::none);  // the second "Vocal" is its own, empty row

    // The dashed target, 4 on and 3 off from y 26: lit between the bars and across the empty
    // row, dark in its gaps, and nothing below the last row.
    auto target = [&](double y) { return std::max(brightness(at(image, 310, y)), brightness(at(image, 311, y))); };
    auto beside = [&](double y) { return brightness(at(image, 300, y)); };
    for (double on : {41.5, 48.5}) EXPECT_GT(target(on), beside(on) + 20) << on;
    for (double off : {31.5, 45.5, 78.0}) EXPECT_LE(target(off), beside(off) + 3) << off;
}

TEST(LevelsCompareWidget, BarsFollowTheLevelAndSameNamedTracksGiveTwoRows) {
    // Width 352: bars from x 106, 200 pt for 0 dB; frame 86 high, rows from y 35.5, 16 apart.
    LevelsCompareWidget diagram(TrackAnalysisList{track("Vocal", -30), track("Vocal", -5)});
    const QImage image = render(diagram, 352);
    ASSERT_EQ(image.height(), 86);
    const double row0 = 35.5 + 7, row1 = 51.5 + 7;
    EXPECT_EQ(hueOf(at(image, 200, row0)), Hue::green);
    EXPECT_EQ(hueOf(at(image, 212, row0)), Hue::none);  // -30 fills half
    EXPECT_EQ(hueOf(at(image, 280, row1)), Hue::red);
    EXPECT_EQ(hueOf(at(image, 300, row1)), Hue::none);
}

TEST(OverlapCurveWidget, SharedAreaLiesWhereEveryCurveIsAboveTheBaseline) {
    // Width 600, height 160: plot from 24 to the baseline at 142. The second track has nothing
    // above the low mids, so near 2.5 kHz nothing is shared; near 60 Hz both are loud.
    OverlapCurveWidget diagram(
        std::vector<OverlapTrack>{{"Bass", {0.3, 0.3, 0.3, 0.3, 0.3}}, {"Bass", {0.3, 0.3, 0, 0, 0}}}, "1k-2k", 160);
    const QImage image = render(diagram, 600);
    const double lowX = 600 * frequencyAxisPosition(60), highX = 600 * frequencyAxisPosition(2500);
    const QColor shared = at(image, lowX, 130);
    const QColor alone = at(image, highX, 130);
    EXPECT_GT(shared.red() - shared.blue(), 10);
    EXPECT_GT(alone.blue() - alone.red(), 5);
    // Two legend entries, one per track, each in its own palette colour at 0.85.
    auto expectSwatch = [&](double x, double r, double g, double b) {
        const QColor c = at(image, x + 3.5, 4 + 5.5);
        EXPECT_NEAR(c.red(), 0.85 * 255 * r, 10);
        EXPECT_NEAR(c.green(), 0.85 * 255 * g, 10);
        EXPECT_NEAR(c.blue(), 0.85 * 255 * b, 10);
    };
    expectSwatch(8, 0.45, 0.7, 1.0);
    expectSwatch(8 + 200, 1.0, 0.7, 0.35);
}

TEST(SpectrumCurveWidget, BandDotsStandAtTheirSharesAgainstTheScale) {
    // Height 180 with a title: plot 34 to 164, scale floor 0.3.
    const std::vector<double> bands{0.1, 0.2, 0.15, 0.05, 0.02};
    SpectrumCurveWidget curve("Bass", bands, 180);
    const QImage image = render(curve, 300);
    ASSERT_EQ(image.height(), 180);
    const double centres[5] = {40, 150, 400, 2500, 10000};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const QColor dot = at(image, 300 * frequencyAxisPosition(centres[i]), 34 + 130 * (1 - bands[i] / 0.3));
        EXPECT_NEAR(dot.red(), 128, 12);
        EXPECT_NEAR(dot.green(), 191, 12);
        EXPECT_NEAR(dot.blue(), 255, 12);
    }
}

TEST(StereoFieldWidget, SpreadFollowsTheWidthInThePhaseColourRowByRow) {
    // Width 520: field from x 102, 236 wide, centre 220; rows centred at 25 and 63.
    StereoFieldWidget diagram(TrackAnalysisList{track("Vocal", {}, 0.5, 0.9), track("Vocal", {}, 0.0, -0.5)});
    const QImage image = render(diagram, 520);
    ASSERT_EQ(image.height(), 88);
    EXPECT_EQ(hueOf(at(image, 170, 25)), Hue::blue);
    EXPECT_EQ(hueOf(at(image, 150, 25)), Hue::none);
    EXPECT_EQ(hueOf(at(image, 170, 63)), Hue::none);   // mono: no spread
    EXPECT_EQ(hueOf(at(image, 219.5, 63)), Hue::red);  // but its edges on the centre line
}

TEST(BeforeAfterWidget, ColumnsHoldEveryRowOfTheirDiagram) {
    // Five tracks of levels do not fit a 180 pt frame; the diagram grows to hold them.
    TrackAnalysisList before, after;
    for (int i = 0; i < 5; ++i) {
        before.push_back(track("Vocal", -20 - i));
        after.push_back(track("Vocal", -3 - i));
    }
    BeforeAfterWidget diagram(before, after, "levels");
    const QImage image = render(diagram, 520);
    const auto layout = layoutBeforeAfter(before, after, "levels", 520);
    ASSERT_GT(layout.height, 180);
    EXPECT_EQ(image.height(), int(std::ceil(layout.height)));
    for (const auto* column : {&layout.before, &layout.after}) {
        const auto& rows = std::get<LevelsCompareLayout>(column->diagram).rows;
        ASSERT_EQ(rows.size(), 5u);
        for (const auto& row : rows) {
            const auto& bar = row.over.rect;
            EXPECT_NE(hueOf(at(image, column->frame.x + bar.x + 4, column->frame.y + bar.y + bar.height / 2)),
                      Hue::none);
        }
    }
}

TEST(DiagramChoiceWidget, TakesTheChosenHeightAndTheRoutersPadding) {
    testing::ensureApplication();
    DiagramChoice choice;
    choice.kind = DiagramChoice::Kind::levelsCompare;
    choice.tracks = {track("Kick", -8)};
    choice.height = levelsCompareFrameHeight(1);
    EXPECT_EQ(DiagramChoiceWidget(choice).heightForWidth(400), 58 + 8);
    EXPECT_EQ(DiagramChoiceWidget(choice, false).heightForWidth(400), 58);
    DiagramChoiceWidget padded(choice);
    const QImage image = render(padded, 352);
    // The bar stands 4 pt lower than in the bare diagram.
    const auto bare = layoutLevelsCompare(choice.tracks, 352, 58).rows[0].over.rect;
    EXPECT_EQ(hueOf(at(image, bare.x + 4, bare.y + 4 + 1)), Hue::yellow);
    EXPECT_EQ(hueOf(at(image, bare.x + 4, bare.y + 1)), Hue::none);
}

}  // namespace
}  // namespace corvane
