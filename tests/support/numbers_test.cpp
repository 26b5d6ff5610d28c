#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/numbers.h"

namespace corvane {
namespace {

TEST(Numbers, ConversionsRefuseNonFiniteAndOutOfRangeValues) {
    EXPECT_EQ(checkedInteger(3.9, 0, 255), 3);
    EXPECT_EQ(checkedInteger(-0.5, 0, 255), 0);
    EXPECT_EQ(checkedRounded(2.5, 0, 255), 3);
    EXPECT_FALSE(checkedInteger(std::nan(""), 0, 255));
    EXPECT_FALSE(checkedInteger(std::numeric_limits<double>::infinity(), 0, 255));
    EXPECT_FALSE(checkedInteger(1e300));
    EXPECT_FALSE(checkedInteger(256.0, 0, 255));
    EXPECT_FALSE(checkedInteger(9223372036854775808.0, INT64_MIN, INT64_MAX));  // 2^63 overflows
    EXPECT_EQ(checkedInteger(-9223372036854775808.0, INT64_MIN, INT64_MAX), INT64_MIN);
    EXPECT_EQ(formatFixed(-14.2, 1), "-14.2");
}

}  // namespace
}  // namespace corvane
