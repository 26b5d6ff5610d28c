#include <gtest/gtest.h>

#include "diagrams/knob_row.h"

namespace corvane {
namespace {

TEST(KnobRow, EqualTilesSixPointsApartAndUnitAfterOneSpace) {
    std::vector<KnobParam> params{{"Gain", "-6.0", "dB", -24.0, 24.0},
                                  {"Gain", "-6.0", "", std::nullopt, std::nullopt},
                                  {"Q", "0.7", "", std::nullopt, std::nullopt},
                                  {"Mix", "100", "%", std::nullopt, std::nullopt}};
    auto tiles = layoutKnobRow(params, 418);
    ASSERT_EQ(tiles.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(tiles[i].rect.width, 100);
        EXPECT_EQ(tiles[i].rect.x, 106.0 * double(i));
    }
    EXPECT_EQ(tiles[0].value.text, "-6.0 dB");
    EXPECT_EQ(tiles[1].value.text, "-6.0");
    EXPECT_EQ(tiles[0].name.text, tiles[1].name.text);
    EXPECT_EQ(layoutKnobRow({params[2]}, 300).at(0).rect.width, 300);
    EXPECT_TRUE(layoutKnobRow({}, 300).empty());
}

}  // namespace
}  // namespace corvane
