#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>

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

// Every match's byte offsets used to be found by converting the whole text before it, which made
// a text of many matches quadratic: 200,000 matches here took minutes.
TEST(Regex, ManyMatchesKeepTheirByteOffsetsInLinearTime) {
    std::string text;
    for (int i = 0; i < 200'000; ++i) text += i % 2 ? "é=1 " : "\U0001F3B5=2 ";
    const auto start = std::chrono::steady_clock::now();
    const auto matches = Regex(R"((\S)=(\d))").allMatches(text);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(matches.size(), 200'000u);
    for (size_t i : {size_t{0}, size_t{1}, size_t{2}, size_t{199'999}}) {
        const auto& m = matches[i];
        EXPECT_EQ(text.substr(m.start, m.end - m.start), *m.groups[1] + "=" + *m.groups[2]) << i;
    }
    EXPECT_EQ(matches[1].start, 7u);  // after a 4-byte note, "=2 "
    EXPECT_LT(seconds, 10.0);         // linear: well under a second even with the sanitizers
}

}  // namespace
}  // namespace corvane
