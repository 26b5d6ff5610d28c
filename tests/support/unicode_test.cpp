#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

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
    // Bytes that are not UTF-8 read as U+FFFD, whichever way the text is walked.
    const std::string broken = std::string("a\xff") + "e\u0301 ";
    EXPECT_EQ(text::graphemeCount(broken), 4u);
    EXPECT_EQ(text::graphemePrefix(broken, 2), "a\uFFFD");
    EXPECT_EQ(text::trimmingWhitespace(broken), "a\uFFFDe\u0301");
    EXPECT_EQ(text::toUTF16("e\u0301").size(), 2u);
    EXPECT_EQ(text::fromUTF16(text::toUTF16("“Kick”")), "“Kick”");
}

// Overlongs, surrogates, code points past U+10FFFF and cut sequences are not UTF-8.
TEST(Unicode, ValidUTF8IsStrict) {
    const std::vector<std::pair<std::string, bool>> samples = {
        {"", true},          {"plain", true},           {"\xc3\xa9", true},         {"\xe2\x82\xac", true},
        {"\xf0\x9f\x8e\xb5", true}, {"\xed\x9f\xbf", true},      {"\xf4\x8f\xbf\xbf", true},   {std::string("\0", 1), true},
        {"\xc0\x80", false},  {"\xc1\xbf", false},        {"\xe0\x80\x80", false},    {"\xed\xa0\x80", false},
        {"\xf4\x90\x80\x80", false}, {"\xf5\x80\x80\x80", false}, {"\x80", false},  {"\xc3", false},
        {"\xe2\x82", false},  {"a\xffz", false}};
    for (const auto& [bytes, valid] : samples) EXPECT_EQ(text::isValidUTF8(bytes), valid) << bytes;
}

}  // namespace
}  // namespace corvane
