#include <gtest/gtest.h>

#include "support/unicode.h"

namespace corvane {
namespace {

TEST(Unicode, CaseTrimAndGraphemes) {
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

}  // namespace
}  // namespace corvane
