#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

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


// The window sets the process locale from the environment; a decimal comma there must not change
// how "150.5" or "-6.5" read.
TEST(Numbers, ReadNumberIgnoresADecimalCommaLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    const std::string restore = previous ? previous : "C";
    const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    EXPECT_EQ(readNumber("150.5"), 150.5);
    EXPECT_EQ(readNumber("-6.5"), -6.5);
    EXPECT_EQ(readNumber("+1e3"), 1000.0);
    EXPECT_EQ(readNumber("1,5"), std::nullopt);
    std::setlocale(LC_ALL, restore.c_str());
    if (!comma) GTEST_SKIP() << "de_DE.UTF-8 is not generated (scripts/setup generates it)";
}

TEST(Numbers, ReadNumberTakesTheWholeTextOnly) {
    for (const char* bad : {"", "+", "-", "+-1", "--1", " 1", "1 ", "1dB", "0x10", ".", "1e"})
        EXPECT_EQ(readNumber(bad), std::nullopt) << bad;
    EXPECT_EQ(readNumber("-0.25"), -0.25);
    EXPECT_EQ(readNumber(".5"), 0.5);
    EXPECT_TRUE(std::isinf(*readNumber("-inf")));
    EXPECT_TRUE(std::isinf(*readNumber("1e400")));
    EXPECT_EQ(readNumber("1e-400"), 0.0);
    EXPECT_EQ(readInteger("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(readInteger("+42"), 42);
    for (const char* bad : {"9223372036854775808", "1.0", "+-1", "", "1e3", " 7"})
        EXPECT_EQ(readInteger(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace corvane
