#include <gtest/gtest.h>

#include "diagrams/overlap_curve.h"
#include "diagrams/spectrum.h"

namespace corvane {
namespace {

TEST(OverlapCurve, RangeTextsGiveTheirFrequencies) {
    using Range = std::pair<double, double>;
    const std::pair<const char*, Range> cases[] = {
        {"", {200, 500}},        {"200-500Hz", {200, 500}}, {"2.5 kHz - 8 kHz", {2500, 8000}}, {"1k-3k", {1000, 3000}},
        {"500-200", {500, 200}}, {"100", {200, 500}},       {"abc-800", {200, 800}},           {"bass", {200, 500}},
        {"-60--120", {60, 120}}, {"1-2-3", {200, 500}},     {"1e3-2K", {1000, 2000}},
    };
    for (const auto& [text, range] : cases) EXPECT_EQ(parseRangeHz(text), range) << text;
}

TEST(OverlapCurve, SharedAreaFollowsTheLowerCurvePointByPoint) {
    std::vector<OverlapTrack> tracks{{"Kick", {0.6, 0.3, 0.1, 0.05, 0.0}}, {"Bass", {0.2, 0.5, 0.3, 0.1, 0.05}}};
    auto layout = layoutOverlapCurve(tracks, "", {60, 200, 1000, 5000, 12000}, 330, 160);
    ASSERT_EQ(layout.sharedArea.size(), 1u);
    const auto& outline = layout.sharedArea[0].outline;
    ASSERT_EQ(outline.size(), 202u);
    EXPECT_EQ(outline.front().y, layout.baselineY);
    EXPECT_EQ(outline.back().y, layout.baselineY);
    const auto& kick = layout.curves[0].line.points;
    const auto& bass = layout.curves[1].line.points;
    bool kickLower = false;
    bool bassLower = false;
    for (size_t i = 0; i < 200; ++i) {
        // Lower values stand lower on the canvas, at larger y.
        EXPECT_DOUBLE_EQ(outline[i + 1].y, std::max(kick[i].y, bass[i].y)) << i;
        kickLower = kickLower || kick[i].y > bass[i].y;
        bassLower = bassLower || bass[i].y > kick[i].y;
    }
    EXPECT_TRUE(kickLower && bassLower);          // the minimum switches curves along the axis
    EXPECT_EQ(outline[200].y, layout.baselineY);  // where the kick's air share is 0

    // The marked range is 200-500 Hz by default and spans the plot's height.
    ASSERT_EQ(layout.markedRange.size(), 1u);
    EXPECT_DOUBLE_EQ(layout.markedRange[0].rect.x, 330 * frequencyAxisPosition(200));
    EXPECT_DOUBLE_EQ(layout.markedRange[0].rect.maxX(), 330 * frequencyAxisPosition(500));
    EXPECT_DOUBLE_EQ(layout.markedRange[0].rect.y, 24);
    std::vector<std::string> labels;
    for (const auto& label : layout.frequencyLabels) labels.push_back(label.text);
    EXPECT_EQ(labels, (std::vector<std::string>{"60", "200", "1k", "5k", "12k"}));
}

TEST(OverlapCurve, LegendRowsPaletteAndSingleTrack) {
    std::vector<OverlapTrack> seven(7, {"Same name", {0.1, 0.2, 0.3, 0.2, 0.1}});
    auto layout = layoutOverlapCurve(seven, "500-200", {}, 600, 200);
    EXPECT_EQ(layout.plotTop, 56);
    EXPECT_TRUE(layout.markedRange.empty());  // low is not below high
    ASSERT_EQ(layout.legend.size(), 7u);      // one entry per track, names repeated
    EXPECT_EQ(layout.legend[6].swatch.fill, overlapPalette(0).stroke.withOpacity(0.85));
    EXPECT_EQ(layout.legend[4].swatch.rect, (diagram::Rect{208, 22, 7, 7}));  // row 1, column 1

    auto one = layoutOverlapCurve({seven[0]}, "", {}, 300, 160);
    EXPECT_TRUE(one.sharedArea.empty());
    EXPECT_EQ(one.curves.size(), 1u);
    EXPECT_EQ(one.legend[0].swatch.rect.x, 8);
    EXPECT_EQ(one.legend.size(), 1u);

    auto empty = layoutOverlapCurve({{"A", {}}, {"B", {}}}, "", {}, 300, 160);
    EXPECT_DOUBLE_EQ(empty.scale, 0.5);
    EXPECT_TRUE(empty.sharedArea.empty());
}

}  // namespace
}  // namespace corvane
