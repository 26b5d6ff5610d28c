#include <gtest/gtest.h>

#include "diagrams/comparison_diagrams.h"

namespace corvane {
namespace {

AudioAnalysisToolResult::TrackAnalysisInfo track(std::string name, std::optional<double> lufs,
                                                 std::optional<double> width = {},
                                                 std::optional<double> correlation = {}) {
    AudioAnalysisToolResult::TrackAnalysisInfo info;
    info.trackName = std::move(name);
    info.shortTermLufs = lufs;
    info.stereoWidth = width;
    info.phaseCorrelation = correlation;
    return info;
}

TEST(LevelsCompare, BarsFollowTheLevelAndRowsStayApartByPosition) {
    // Bar area: 352 - 152 = 200 pt.
    struct Case {
        std::optional<double> level;
        double barWidth;
        double red, green;  // of the zone colour, telling the three apart
        const char* value;
    };
    const Case cases[] = {
        {-5.9, 200 * 54.1 / 60, 1.0, 0.231, "-5.9"},
        {-6.0, 180, 1.0, 0.8, "-6.0"},
        {-12.0, 160, 0.204, 0.78, "-12.0"},
        {-12.1, 200 * 47.9 / 60, 0.204, 0.78, "-12.1"},
        {-30, 100, 0.204, 0.78, "-30.0"},
        {-70, 0, 0.204, 0.78, "-70.0"},
        {4, 200, 1.0, 0.231, "4.0"},
        {std::nullopt, 0, 0.204, 0.78, "-60.0"},
    };
    for (const auto& c : cases) {
        auto layout = layoutLevelsCompare({track("Bass", c.level), track("Bass", -1)}, 352, 86);
        ASSERT_EQ(layout.rows.size(), 2u);
        const auto& row = layout.rows[0];
        EXPECT_NEAR(row.over.rect.width, c.barWidth, 1e-9) << row.value.text;
        EXPECT_EQ(row.over.rect.x, 106);
        EXPECT_EQ(row.over.fill.red, c.red) << row.value.text;
        EXPECT_EQ(row.over.fill.green, c.green) << row.value.text;
        EXPECT_EQ(row.under.fill.opacity, 0.3);
        EXPECT_EQ(row.value.text, c.value);
        EXPECT_EQ(layout.rows[1].name.text, "Bass");
    }
    auto empty = layoutLevelsCompare({}, 352, 30);
    EXPECT_EQ(empty.heading.text, "Levels");
    EXPECT_TRUE(empty.rows.empty());
}

TEST(StereoField, WordsPercentagesAndPhaseColours) {
    struct Case {
        std::optional<double> width;
        std::optional<double> correlation;
        int percentage;
        const char* widthWord;
        const char* correlationText;
    };
    const Case cases[] = {
        {0.199, 0.6, 20, "Narrow", "φ 0.60 · correlated"},
        {0.2, 0.3, 20, "Moderate", "φ 0.30 · mono-safe"},
        {0.5, 0.0, 50, "Wide", "φ 0.00 · very decorrelated"},
        {0.8, -0.01, 80, "Very wide", "φ -0.01 · mono-collapse risk"},
        {0.125, 1.2, 13, "Narrow", "φ 1.20 · correlated"},
        {0.004, std::nullopt, 0, "Narrow", "φ 1.00 · correlated"},
        {1.7, 0.9, 100, "Very wide", "φ 0.90 · correlated"},
        {std::nullopt, 0.9, 0, "Narrow", "φ 0.90 · correlated"},
    };
    for (const auto& c : cases) {
        auto layout = layoutStereoField({track("Pad", -20, c.width, c.correlation)}, 384, 52);
        const auto& row = layout.rows.at(0);
        EXPECT_EQ(row.percentage, c.percentage) << c.correlationText;
        EXPECT_EQ(row.widthWord, c.widthWord) << c.correlationText;
        EXPECT_EQ(row.correlationReadout.parts.at(0).text, c.correlationText);
        EXPECT_EQ(row.widthReadout.parts.at(0).text, std::to_string(c.percentage) + "%");
    }
    // Field from x 102, 100 wide: a width of 0.5 spreads 25 pt each side of the centre at 152.
    auto layout = layoutStereoField({track("Pad", -20, 0.5, 0.45)}, 384, 52);
    const auto& field = layout.rows[0].field;
    ASSERT_EQ(field.size(), 5u);
    EXPECT_EQ(field[0].rect.x, 102);
    EXPECT_EQ(field[0].rect.width, 100);
    EXPECT_EQ(field[2].rect.x, 127);
    EXPECT_EQ(field[2].rect.width, 50);
    EXPECT_EQ(field[4].rect.x, 175.5);
    EXPECT_EQ(field[2].fill, (diagram::Color{0.45, 0.85, 0.55, 0.35}));
}

TEST(BeforeAfter, ColumnsAreSizedFromTheirContent) {
    std::vector<AudioAnalysisToolResult::TrackAnalysisInfo> five(5, track("Same", -20, 0.4, 0.7));
    std::vector<AudioAnalysisToolResult::TrackAnalysisInfo> four(4, track("Same", -18, 0.4, 0.7));
    // heading 13 + 4, label 12 + 2: diagrams start 31 pt down.
    EXPECT_EQ(beforeAfterHeight(five, five, "levels"), 31 + 28 * 5 + 20);
    EXPECT_EQ(beforeAfterHeight(four, four, "stereo"), 31 + 36 * 4 + 16);
    EXPECT_EQ(beforeAfterHeight(five, five, "freq"), 180);  // small content keeps the 180-pt frame
    EXPECT_EQ(beforeAfterHeight({}, five, "Levels"), 180);  // any other metric draws the curve

    auto layout = layoutBeforeAfter(four, five, "levels", 500);
    EXPECT_EQ(layout.height, 191);
    EXPECT_EQ(layout.before.frame.width, 244);
    EXPECT_EQ(layout.after.frame.x, 256);
    EXPECT_EQ(layout.after.frame.height, 160);
    EXPECT_EQ(layout.before.frame.height, 132);
    EXPECT_EQ(layout.before.frame.y, 31 + 14);  // centred beside the taller column
    const auto& after = std::get<LevelsCompareLayout>(layout.after.diagram);
    EXPECT_EQ(after.rows.size(), 5u);
    EXPECT_LE(after.contentHeight, layout.after.frame.height);

    auto curves = layoutBeforeAfter({}, five, "freq", 500);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(curves.before.diagram));
    EXPECT_EQ(std::get<SpectrumCurveLayout>(curves.after.diagram).title.at(0).text, "Same frequency balance");
    EXPECT_EQ(curves.after.label.text, "After");
}

}  // namespace
}  // namespace corvane
