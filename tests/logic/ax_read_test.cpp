#include <gtest/gtest.h>

#include <cmath>

#include "logic/ax_read.h"
#include "test_support/fake_ax.h"

namespace corvane {
namespace {

using testing::FakeElement;

TEST(AXRead, ValuesReadAsTextOrWholeNumbersOnlyWhenTheyAreThat) {
    struct Case {
        const char* what;
        std::optional<platform::AXValue> value;
        std::optional<std::string> text;
        std::optional<std::int64_t> whole;
    };
    const Case cases[] = {
        {"integer", std::int64_t{42}, "42", 42},
        {"whole real", 42.0, "42", 42},
        {"fraction", 2.5, "2.5", std::nullopt},
        {"check box", true, "1", std::nullopt},
        {"text stays text", std::string("12"), "12", std::nullopt},
        {"real too large for a neighbour", 4e18, "4000000000000000000", std::nullopt},
        {"not a number", double(NAN), "nan", std::nullopt},
        {"unreadable", std::nullopt, std::nullopt, std::nullopt},
        {"a point is neither", platform::Point{1, 2}, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        auto e = FakeElement::make("AXSlider");
        if (c.value) e->set("AXValue", *c.value);
        EXPECT_EQ(ax_read::valueText(e->handle()), c.text) << c.what;
        EXPECT_EQ(ax_read::wholeNumber(e->handle()), c.whole) << c.what;
    }
    auto labelled = FakeElement::make("AXButton", " \tAuto\u2028Gain\n");
    EXPECT_EQ(ax_read::textOf(labelled->handle(), "AXTitle"), "");
    EXPECT_FALSE(ax_read::trimmedOrAbsent(labelled->handle(), "AXTitle"));
    EXPECT_EQ(ax_read::trimmed(labelled->handle(), "AXDescription"), "Auto\u2028Gain");
    EXPECT_EQ(ax_read::blanksForLineSeparators("Auto\u2028Gain\n"), "Auto Gain\n");
}

TEST(AXRead, SwitchWordsReadInAnyCaseAndNumbersPrintWithAPoint) {
    for (const char* on : {"On", " yes\t", "ENABLED", "1"}) EXPECT_EQ(ax_read::parseBoolean(on), true) << on;
    for (const char* off : {"off", "Disable", "0", "no"}) EXPECT_EQ(ax_read::parseBoolean(off), false) << off;
    EXPECT_FALSE(ax_read::parseBoolean("maybe"));
    EXPECT_EQ(ax_read::printed(-6), "-6.0");
    EXPECT_EQ(ax_read::printed(2.5), "2.5");
    EXPECT_EQ(ax_read::printed(1e21), "1e+21");
}

}  // namespace
}  // namespace corvane
