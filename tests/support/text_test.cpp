#include <gtest/gtest.h>

#include <vector>

#include "support/base64.h"
#include "support/iso8601.h"
#include "support/regex.h"
#include "support/unicode.h"
#include "support/uuid.h"

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

TEST(Text, UnicodeCaseTrimAndGraphemes) {
    EXPECT_TRUE(text::equalsIgnoringCase("LEAD VOX", "lead vox"));
    EXPECT_EQ(text::lowercased("ÄRGER Ω"), "ärger ω");
    EXPECT_TRUE(text::containsIgnoringCase("Song - TRACKS", "- tracks"));
    EXPECT_TRUE(text::hasPrefixIgnoringCase("Compressor", "comp"));
    EXPECT_EQ(text::trimmingWhitespace("\u00a0 hi \t"), "hi");
    EXPECT_EQ(text::trimmingWhitespace(" hi\n"), "hi\n");
    EXPECT_EQ(text::trimmingWhitespaceAndNewlines("\n hi \u2028"), "hi");
    // e + combining acute is one character; a flag is one character.
    EXPECT_EQ(text::graphemeCount("e\u0301"), 1u);
    EXPECT_EQ(text::graphemeCount("🇩🇪ab"), 3u);
    EXPECT_EQ(text::graphemePrefix("e\u0301xyz", 2), "e\u0301x");
    EXPECT_EQ(text::toUTF16("e\u0301").size(), 2u);
    EXPECT_EQ(text::fromUTF16(text::toUTF16("“Kick”")), "“Kick”");
}

TEST(Text, RegexIsUnicodeAwareAndGivesGroups) {
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

TEST(Encoding, Base64RoundTripsAndRejectsGarbage) {
    for (const std::string& s : std::vector<std::string>{"", "f", "fo", "foo", "foob", std::string("\0\xff\x10", 3)})
        EXPECT_EQ(base64Decode(base64Encode(s)), s);
    EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_FALSE(base64Decode("Zm9v=mFy"));
    EXPECT_FALSE(base64Decode("abc"));
    EXPECT_FALSE(base64Decode("ab!d"));
    auto id = makeUUID();
    EXPECT_TRUE(isUUID(id));
    EXPECT_EQ(id[14], '4');
    EXPECT_NE(id, makeUUID());
}

}  // namespace
}  // namespace corvane
