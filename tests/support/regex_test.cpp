#include <gtest/gtest.h>

#include <stdexcept>

#include "support/regex.h"

namespace corvane {
namespace {

TEST(Regex, IsUnicodeAwareAndGivesGroups) {
    Regex r(R"(Track (\d+) [“"](.*)[”"])");
    auto m = r.firstMatch("Track 12 “Lead Vox”, muted");
    ASSERT_TRUE(m);
    EXPECT_EQ(*m->groups[1], "12");
    EXPECT_EQ(*m->groups[2], "Lead Vox");
    EXPECT_EQ(m->start, 0u);
    EXPECT_TRUE(Regex("^\\p{L}+$").matches("Ärger"));
    EXPECT_EQ(Regex("(\\d+)").replaceAll("bar 3 to 4", "<$1>"), "bar <3> to <4>");
    EXPECT_EQ(Regex("a", {.caseInsensitive = true}).allMatches("AaA").size(), 3u);
    EXPECT_THROW(Regex("("), std::invalid_argument);
}

}  // namespace
}  // namespace corvane
