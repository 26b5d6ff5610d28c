#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

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
    const auto textOf = [](int notes) {
        std::string text;
        for (int i = 0; i < notes; ++i) text += i % 2 ? "\u00e9=1 " : "\U0001F3B5=2 ";
        return text;
    };
    const std::string small = textOf(25'000), large = textOf(200'000);
    const Regex regex(R"((\S)=(\d))");
    // Both sizes are timed in the same run, interleaved, keeping each one's fastest round, so a busy
    // machine slows both alike; eight times the text costs about eight times as long, not sixty-four.
    double smallBest = 1e9, largeBest = 1e9;
    std::vector<Regex::Match> matches;
    for (int round = 0; round < 3; ++round) {
        const auto timed = [&](const std::string& text) {
            const auto start = std::chrono::steady_clock::now();
            matches = regex.allMatches(text);
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        smallBest = std::min(smallBest, timed(small));
        largeBest = std::min(largeBest, timed(large));
    }
    ASSERT_EQ(matches.size(), 200'000u);
    for (size_t i : {size_t{0}, size_t{1}, size_t{2}, size_t{199'999}}) {
        const auto& m = matches[i];
        EXPECT_EQ(large.substr(m.start, m.end - m.start), *m.groups[1] + "=" + *m.groups[2]) << i;
    }
    EXPECT_EQ(matches[1].start, 7u);  // after a 4-byte note, "=2 "
    EXPECT_LT(largeBest / smallBest, 24.0) << smallBest << " s, " << largeBest << " s";
}

}  // namespace
}  // namespace corvane
