#include <gtest/gtest.h>

#include <chrono>

#include "support/iso8601.h"

namespace corvane {
namespace {

TEST(ISO8601, DefaultFormIsFixedWidthWithMillisecondsAndPlainFormHasNone) {
    auto t = *ISO8601::parse("2026-03-01T09:15:42.250Z");
    EXPECT_EQ(ISO8601::corvaneDefault(t), "2026-03-01T09:15:42.250Z");
    EXPECT_EQ(ISO8601::plainString(t), "2026-03-01T09:15:42Z");
    auto whole = *ISO8601::parse("2026-03-01T09:15:42Z");
    EXPECT_EQ(ISO8601::corvaneDefault(whole), "2026-03-01T09:15:42.000Z");
    EXPECT_EQ(ISO8601::corvaneDefault(*ISO8601::parse("2026-03-01T10:15:42+01:00")), "2026-03-01T09:15:42.000Z");
    // Text order is time order for the default form.
    EXPECT_LT(ISO8601::corvaneDefault(t), ISO8601::corvaneDefault(t + std::chrono::milliseconds(1)));
    for (const char* bad : {"", "2026-13-01T00:00:00Z", "2026-02-30T00:00:00Z", "2026-03-01 09:15:42Z",
                            "2026-03-01T09:15:42", "2026-03-01T09:15:42.Z", "2026-03-01T09:15:42Zjunk"})
        EXPECT_FALSE(ISO8601::parse(bad).has_value()) << bad;
}

}  // namespace
}  // namespace corvane
