// How typed values and read-outs are understood: numbers with units, compared in canonical units.

#include <gtest/gtest.h>

#include "plugins/controls_view_fallback.h"

namespace corvane {
namespace {

using CV = ControlsViewFallback;

TEST(ControlsViewNudge, ValuesAndUnitsAreComparedInCanonicalUnits) {
    struct Case {
        const char* text;
        double value;
        const char* unit;
        double canonical;
        const char* canonicalUnit;
    };
    for (const Case& c :
         {Case{"1,000 Hz", 1000, "Hz", 1000, "Hz"}, Case{"-6 dB", -6, "dB", -6, "dB"},
          Case{"1.5 s", 1.5, "s", 1500, "ms"}, Case{"set it to 2.5kHz", 2.5, "kHz", 2500, "Hz"},
          Case{"4:1", 4, ":1", 4, ":1"}, Case{"12.7", 12.7, "", 12.7, ""}, Case{"3 st", 3, "st", 3, "st"}}) {
        const auto parsed = CV::parseValueAndUnit(c.text);
        ASSERT_TRUE(parsed) << c.text;
        EXPECT_EQ(parsed->value, c.value) << c.text;
        EXPECT_EQ(parsed->unit, c.unit) << c.text;
        EXPECT_EQ(CV::toCanonical(parsed->value, parsed->unit), c.canonical) << c.text;
        EXPECT_EQ(CV::canonicalUnit(parsed->unit), c.canonicalUnit) << c.text;
    }
    EXPECT_FALSE(CV::parseValueAndUnit("loud"));
    EXPECT_EQ(CV::formatCanonical(1500, "ms"), "1.50 s");
    EXPECT_EQ(CV::formatCanonical(999, "Hz"), "999 Hz");
    EXPECT_EQ(CV::formatCanonical(3, "st"), "3.0 st");
    EXPECT_EQ(CV::canonicalTolerance("Hz"), 5.0);
}

}  // namespace
}  // namespace corvane
