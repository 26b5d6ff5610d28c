#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/regex.h"
#include "test_support/work_cost.h"

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
// a text of many matches quadratic: 200,000 matches took minutes.
TEST(Regex, ManyMatchesKeepTheirByteOffsetsInLinearTime) {
    const auto textOf = [](int notes) {
        std::string text;
        for (int i = 0; i < notes; ++i) text += i % 2 ? "\u00e9=1 " : "\U0001F3B5=2 ";
        return text;
    };
    const std::string small = textOf(5'000), large = textOf(40'000);
    const Regex regex(R"((\S)=(\d))");
    std::vector<Regex::Match> matches;
    // Eight times the text costs about eight times the work, not the sixty-four of a quadratic pass.
    const auto cost = testing::costRatio([&] { matches = regex.allMatches(small); },
                                         [&] { matches = regex.allMatches(large); }, 3);
    ASSERT_EQ(matches.size(), 40'000u);
    for (size_t i : {size_t{0}, size_t{1}, size_t{2}, size_t{39'999}}) {
        const auto& m = matches[i];
        EXPECT_EQ(large.substr(m.start, m.end - m.start), *m.groups[1] + "=" + *m.groups[2]) << i;
    }
    EXPECT_EQ(matches[1].start, 7u);  // after a 4-byte note, "=2 "
    EXPECT_LT(cost.ratio(), 24.0) << cost.small << " s, then " << cost.large << " s";
}

}  // namespace
}  // namespace corvane
