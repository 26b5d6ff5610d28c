#include <gtest/gtest.h>

#include "diagrams/spectrum.h"

namespace corvane {
namespace {

const std::vector<double> kBands{0.1, 0.2, 0.4, 0.2, 0.1};

TEST(SpectrumInterpolation, PassesThroughTheEdgeAnchorsAndMatchesHandComputedPoints) {
    // t = 0.5 is 632 Hz, a quarter of the way from the 400 Hz anchor to the 2.5 kHz one (632/400
    // = 6.25^0.25). Catmull-Rom weights at u = 1/4: -9/128, 111/128, 29/128, -3/128 over bass,
    // low-mid, high-mid and air: -0.0140625 + 0.346875 + 0.0453125 - 0.00234375 = 0.37578125.
    auto points = SpectrumInterpolation::interpolateSpectrum(kBands, 3, 300);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_DOUBLE_EQ(points[0].x, 0);
    EXPECT_NEAR(points[0].value, 0.03, 1e-12);  // 0.3 × sub
    EXPECT_DOUBLE_EQ(points[1].x, 150);
    EXPECT_NEAR(points[1].value, 0.37578125, 1e-9);
    EXPECT_DOUBLE_EQ(points[2].x, 300);
    EXPECT_NEAR(points[2].value, 0.03, 1e-12);  // 0.3 × air

    auto five = SpectrumInterpolation::interpolateSpectrum(kBands, 5, 100);
    ASSERT_EQ(five.size(), 5u);
    EXPECT_NEAR(five[2].value, 0.37578125, 1e-9);
    EXPECT_DOUBLE_EQ(five[1].x, 25);
}

TEST(SpectrumInterpolation, DegenerateInputsGiveNoPointsOrAFlatCurve) {
    EXPECT_TRUE(SpectrumInterpolation::interpolateSpectrum({0.1, 0.2, 0.3, 0.4}, 200, 100).empty());
    EXPECT_TRUE(SpectrumInterpolation::interpolateSpectrum(kBands, 0, 100).empty());
    EXPECT_EQ(SpectrumInterpolation::interpolateSpectrum(kBands, 200, 100).size(), 200u);
    auto single = SpectrumInterpolation::interpolateSpectrum(kBands, 1, 100);
    ASSERT_EQ(single.size(), 1u);
    EXPECT_EQ(single[0], (SpectrumPoint{0, 0.3 * 0.1}));
    for (const auto& p : SpectrumInterpolation::interpolateSpectrum({0, 0, 0, 0, 0}, 50, 100)) EXPECT_EQ(p.value, 0);
}

TEST(SpectrumInterpolation, UndershootNextToAPeakIsCutAtZero) {
    auto points = SpectrumInterpolation::interpolateSpectrum({0, 0, 1, 0, 0}, 400, 100);
    bool clamped = false;
    for (const auto& p : points) {
        EXPECT_GE(p.value, 0);
        clamped = clamped || p.value == 0;
    }
    EXPECT_TRUE(clamped);
}

TEST(SpectrumCurve, PlotScaleTitleAndMarks) {
    // The scale floor 0.3 puts a 0.2 share at two thirds of the plot; with a name the plot
    // starts at 34, without at 16; the baseline is 16 above the bottom.
    auto named = layoutSpectrumCurve("Bass", {0.1, 0.2, 0.15, 0.05, 0.02}, {100, 1000, 10000}, 300, 180);
    EXPECT_EQ(named.title.at(0).text, "Bass frequency balance");
    EXPECT_DOUBLE_EQ(named.scale, 0.3);
    ASSERT_EQ(named.marks.size(), 5u);
    EXPECT_NEAR(named.marks[1].dot.rect.y + 4, 34 + 130.0 / 3, 1e-9);
    EXPECT_EQ(named.marks[1].percentage.text, "20%");
    EXPECT_EQ(named.marks[4].name.text, "Air");
    EXPECT_EQ(named.baseline.from.y, 164);
    EXPECT_EQ(named.grid.size(), 3u);

    auto anonymous = layoutSpectrumCurve("", {0.6, 0, 0.237, 0, 0}, {20000, 10}, 300, 180);
    EXPECT_TRUE(anonymous.title.empty());
    EXPECT_DOUBLE_EQ(anonymous.marks[0].dot.rect.y + 4, 16);   // the largest share touches the top
    EXPECT_DOUBLE_EQ(anonymous.marks[1].dot.rect.y + 4, 164);  // a zero share sits on the baseline
    EXPECT_EQ(anonymous.marks[0].percentage.at.y, 14);         // kept inside the canvas, not at 16 - 8
    EXPECT_EQ(named.marks[1].percentage.at.y, named.marks[1].dot.rect.y + 4 - 8);
    EXPECT_EQ(anonymous.marks[1].percentage.text, "0%");
    EXPECT_EQ(anonymous.marks[2].percentage.text, "24%");
    EXPECT_EQ(anonymous.grid[0].from.x, 300);  // 20 kHz and up on the right edge
    EXPECT_EQ(anonymous.grid[1].from.x, 0);    // below 20 Hz on the left

    auto short_ = layoutSpectrumCurve("Bass", {0.1, 0.2}, {100}, 300, 40);
    EXPECT_TRUE(short_.area.empty() && short_.line.empty() && short_.marks.empty());
    EXPECT_EQ(short_.grid.size(), 1u);
}

}  // namespace
}  // namespace corvane
