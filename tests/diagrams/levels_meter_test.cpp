#include <gtest/gtest.h>

#include "diagrams/levels_meter.h"

namespace corvane {
namespace {

using diagram::Rect;
using L = LevelsMeterLayout;

// A 326-pt meter has its bar from x 81 to 281: 200 pt for 60 dB, so x(db) = 81 + (db + 60) × 10/3,
// x(-12) = 241 and x(-6) = 261.
constexpr double kWidth = 326;

TEST(LevelsMeter, ZonesFillUpToTheLevel) {
    struct Case {
        double level;
        std::vector<Rect> zones;  // green, yellow, red, as far as filled
        const char* readout;
    };
    const double y = 26 + 3;  // first row's bar top
    const Case cases[] = {
        {-60, {}, "-60"},
        {-75, {}, "-75"},  // drawn at the bar's start, read as given
        {-30, {{81, y, 100, 10}}, "-30"},
        {-12, {{81, y, 160, 10}}, "-12"},
        {-8, {{81, y, 160, 10}, {241, y, 40.0 / 3, 10}}, "-8"},
        {-6, {{81, y, 160, 10}, {241, y, 20, 10}}, "-6"},
        {0, {{81, y, 160, 10}, {241, y, 20, 10}, {261, y, 20, 10}}, "0"},
        {3, {{81, y, 160, 10}, {241, y, 20, 10}, {261, y, 20, 10}}, "3"},
        {-14.4, {{81, y, 45.6 * 10 / 3, 10}}, "-14"},
        {-0.4, {{81, y, 160, 10}, {241, y, 20, 10}, {261, y, 20 - 0.4 * 10 / 3, 10}}, "-0"},
    };
    for (const auto& c : cases) {
        auto layout = layoutLevelsMeter({{"Bass", c.level}}, std::nullopt, kWidth);
        const auto& row = layout.rows.at(0);
        ASSERT_EQ(row.zones.size(), c.zones.size()) << c.level;
        for (size_t i = 0; i < c.zones.size(); ++i) {
            EXPECT_NEAR(row.zones[i].rect.x, c.zones[i].x, 1e-9) << c.level;
            EXPECT_NEAR(row.zones[i].rect.width, c.zones[i].width, 1e-9) << c.level;
            EXPECT_EQ(row.zones[i].rect.y, c.zones[i].y);
        }
        const diagram::Color colors[] = {L::greenColor, L::yellowColor, L::redColor};
        for (size_t i = 0; i < row.zones.size(); ++i) EXPECT_EQ(row.zones[i].fill, colors[i].withOpacity(0.6));
        if (!row.zones.empty()) {
            EXPECT_EQ(row.zones[0].cornerRadius, 2);  // only green is rounded
        }
        EXPECT_EQ(row.readout.text, c.readout);
        EXPECT_EQ(row.track.rect, (Rect{81, y, 200, 10}));
    }
}

TEST(LevelsMeter, DashedTargetRunsDownTheRowsAndTheScaleSitsAbove) {
    std::vector<LevelsMeterTrack> five(5, {"Same", -20});
    auto layout = layoutLevelsMeter(five, -14.0, kWidth);
    EXPECT_EQ(layout.height, 116);
    ASSERT_EQ(layout.rows.size(), 5u);
    EXPECT_EQ(layout.rows[4].name.at, (diagram::Point{75, 26 + 4 * 16 + 8}));
    ASSERT_EQ(layout.target.size(), 1u);
    const auto& line = layout.target[0];
    EXPECT_NEAR(line.from.x, 81 + 46 * 10.0 / 3, 1e-9);
    EXPECT_EQ(line.from.y, 26);
    EXPECT_EQ(line.to.y, 106);
    EXPECT_EQ(line.stroke.dash, (std::vector<double>{4, 3}));
    EXPECT_EQ(layout.targetLabel.at(0).text, "-14 dB");
    EXPECT_EQ(layout.targetLabel[0].at.y, 111);  // in the bottom margin, clear of the scale

    std::vector<std::string> marks;
    for (const auto& label : layout.scaleLabels) marks.push_back(label.text);
    EXPECT_EQ(marks, (std::vector<std::string>{"-48", "-24", "-12", "-6", "0"}));
    EXPECT_EQ(layout.scaleTicks[2].from, (diagram::Point{241, 24}));

    // No rows: the scale alone, 36 pt high, and a target line of no length at the bar's end.
    auto empty = layoutLevelsMeter({}, -70.0, kWidth);
    EXPECT_EQ(empty.height, 36);
    EXPECT_EQ(empty.target.at(0).from, empty.target[0].to);
    EXPECT_EQ(empty.target[0].from.x, 81);
    EXPECT_EQ(empty.targetLabel.at(0).text, "-70 dB");
    EXPECT_TRUE(layoutLevelsMeter(five, std::nullopt, kWidth).target.empty());
}

}  // namespace
}  // namespace corvane
