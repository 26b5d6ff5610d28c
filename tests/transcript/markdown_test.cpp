#include <gtest/gtest.h>

#include <string_view>

#include "test_support/work_cost.h"
#include "transcript/markdown.h"

namespace corvane {
namespace {

using T = MarkdownBlockType;
using Blocks = std::vector<std::pair<T, std::string>>;

Blocks parse(const std::string& text, ConversationRole role = ConversationRole::assistant) {
    Blocks out;
    for (const auto& block : MessageMarkdown::parseBlocks(role, text)) out.emplace_back(block.type, block.text);
    return out;
}

TEST(MessageMarkdown, EachLineKindBecomesItsBlock) {
    const std::pair<const char*, Blocks> cases[] = {
        {"", {}},
        {"\n \n\t\n", {}},
        {"one\ntwo", {{T::paragraph, "one"}, {T::paragraph, "two"}}},
        {"\n\none\n\n\n\ntwo\n\n", {{T::paragraph, "one"}, {T::spacer, ""}, {T::paragraph, "two"}}},
        {"one\r\ntwo\rthree", {{T::paragraph, "one"}, {T::paragraph, "two"}, {T::paragraph, "three"}}},
        {"# Title", {{T::heading, "Title"}}},
        {"##  Two spaces", {{T::heading, " Two spaces"}}},
        {"### **Bold** `code` __x__", {{T::heading, "Bold code x"}}},
        {"#### Four", {{T::paragraph, "#### Four"}}},
        {"#NoSpace", {{T::paragraph, "#NoSpace"}}},
        {"- item\n*  star", {{T::bullet, "item"}, {T::bullet, "star"}}},
        {"-item", {{T::paragraph, "-item"}}},
        {"**Bold** start", {{T::paragraph, "**Bold** start"}}},
        {"1. First", {{T::numbered, "1. First"}}},
        {"12.\tTab", {{T::numbered, "12.\tTab"}}},
        {"١. Arabic-Indic digit", {{T::numbered, "١. Arabic-Indic digit"}}},
        {"1.5 dB", {{T::paragraph, "1.5 dB"}}},
        {"1) Paren", {{T::paragraph, "1) Paren"}}},
        {"1.", {{T::paragraph, "1."}}},
        {". dot", {{T::paragraph, ". dot"}}},
        {"> quoted ", {{T::paragraph, "quoted"}}},
        {"  indented  ", {{T::paragraph, "indented"}}},
        {"\u2029\u3000wide space\u00a0\u2028", {{T::paragraph, "wide space"}}},
        {"[NOTE: internal] [X:y]", {}},
        {"[NOTE: internal]\nnext", {{T::paragraph, "next"}}},
        {"a [TODO: x] b", {{T::paragraph, "a  b"}}},
        {"[note: kept] [A1: kept]", {{T::paragraph, "[note: kept] [A1: kept]"}}},
        {"[visual:nope tracks='x']", {{T::paragraph, "[visual:nope tracks='x']"}}},
    };
    for (const auto& [text, blocks] : cases) EXPECT_EQ(parse(text), blocks) << text;
}

TEST(MessageMarkdown, CodeFencesAndVisualTags) {
    EXPECT_EQ(parse("```swift\n  let x = 1\n\n```\nafter"),
              (Blocks{{T::code, "  let x = 1\n"}, {T::paragraph, "after"}}));
    EXPECT_EQ(parse("```\n```"), (Blocks{{T::code, ""}}));
    EXPECT_EQ(parse("text\n```\n# not a heading\n[visual:freq_curve]"),
              (Blocks{{T::paragraph, "text"}, {T::code, "# not a heading\n[visual:freq_curve]"}}));
    EXPECT_EQ(parse("text\n```"), (Blocks{{T::paragraph, "text"}}));

    auto blocks = MessageMarkdown::parseBlocks(ConversationRole::assistant,
                                               "See: [visual:freq_compare tracks=\"Kick, Bass\"] below\n- done");
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].type, T::visual);
    EXPECT_EQ(blocks[0].text, "");
    EXPECT_EQ(blocks[0].tag->trackNames(), (std::vector<std::string>{"Kick", "Bass"}));
}

TEST(MessageMarkdown, TheAnalysisSnapshotIsHiddenInTheUsersMessagesOnly) {
    const std::string snapshot = "[INTERNAL — Corvane plugin stream, NOT pasted by the user.\nKick: -12 LUFS";
    const std::string message = "Make the kick punchier\n\n---\n" + snapshot;
    EXPECT_EQ(parse(message, ConversationRole::user), (Blocks{{T::paragraph, "Make the kick punchier"}}));
    EXPECT_EQ(parse(message).size(), 5u);  // assistant: shown whole
    EXPECT_EQ(MessageMarkdown::displayText(ConversationRole::user, "Hi\n[Analysis snapshot at this message]\nx"), "Hi");
    EXPECT_EQ(MessageMarkdown::displayText(ConversationRole::user, snapshot), "");
    // A CR LF pair is one character, neither a line break nor a dash alone: it stops the walk.
    EXPECT_EQ(MessageMarkdown::displayText(ConversationRole::user, "Hi\r\n---\r\n" + snapshot), "Hi\r\n---");
}

TEST(MessageMarkdown, InlineRunsBoldFirstThenCode) {
    using S = InlineStyle;
    using Runs = std::vector<InlineRun>;
    const std::pair<const char*, Runs> cases[] = {
        {"a **b** c", {{S::plain, "a "}, {S::bold, "b"}, {S::plain, " c"}}},
        {"lone ** here", {{S::plain, "lone "}, {S::plain, "**"}, {S::plain, " here"}}},
        {"use `eq` now", {{S::plain, "use "}, {S::code, "eq"}, {S::plain, " now"}}},
        {"`x` then **y**", {{S::plain, "`x` then "}, {S::bold, "y"}}},
        {"**`a`** `b`", {{S::bold, "`a`"}, {S::plain, " "}, {S::code, "b"}}},
        {"****", {{S::bold, ""}}},
        {"tick ` only", {{S::plain, "tick "}, {S::plain, "`"}, {S::plain, " only"}}},
        {"*one* _two_", {{S::plain, "*one* _two_"}}},
        {"", {}},
    };
    for (const auto& [text, runs] : cases) EXPECT_EQ(MessageMarkdown::renderMarkdownText(text), runs) << text;
}

TEST(MessageMarkdown, SpaceAboveBlocks) {
    auto blocks = MessageMarkdown::parseBlocks(ConversationRole::assistant, "p\n- a\n- b\n1. c\np\n\np\n\n- d");
    std::vector<double> spaces;
    for (size_t i = 0; i < blocks.size(); ++i) spaces.push_back(MessageMarkdown::topPadding(i, blocks));
    EXPECT_EQ(spaces, (std::vector<double>{0, 10, 2, 2, 10, 0, 8, 0, 8}));
}

// A reply revealed a few characters at a time gets, at every step, exactly the blocks of a whole
// parse, with the corners where the end of the text matters: open code fences, spacers at the
// end, CR LF split between steps, trailing separators that trimming removes, tags half written.
TEST(MessageMarkdown, AGrowingReplyHasTheBlocksOfAWholeParseAtEveryStep) {
    const std::string texts[] = {
        "\n\r\n## Plan\r\n- one\r\n- two\r\r\n\n\n1. three\n```\ncode\n\n  more\n```\nafter\n\n",
        "start\n```\nopen fence\nnever closed\n",
        "line\u2028\nnext\u2029\n\u0085\x0b\x0c\n[visual:freq_curve tracks=\"Kick\"]\n[NOTE: gone]\n> quote",
        "\u2028\u2029lead\n\n\n",
        "a\rb\rc\r\nd",
    };
    for (const auto& text : texts) {
        for (size_t step : {1, 3, 7}) {
            GrowingMarkdown growing;
            for (size_t length = 0;; length = std::min(text.size(), length + step)) {
                EXPECT_EQ(growing.update(std::string_view(text).substr(0, length)),
                          MessageMarkdown::parseBlocks(ConversationRole::assistant, text.substr(0, length)))
                    << "step " << step << " at " << length << " of " << text;
                if (length == text.size()) break;
            }
        }
    }
    GrowingMarkdown growing;  // another reply starts over
    growing.update("## First\nreply");
    EXPECT_EQ(growing.update("Second"), MessageMarkdown::parseBlocks(ConversationRole::assistant, "Second"));
}

// A long reply parses in time linear in its length: 1 MB of every line kind, and lines built to
// make naive scans quadratic (many unclosed tags, many code spans after the last bold marker).
// Sixteen times the text costs about sixteen times the work, not the 256 of a quadratic scan.
TEST(MessageMarkdown, AMegabyteParsesInLinearTime) {
    const auto repeated = [](std::string_view piece, size_t size) {
        std::string text;
        while (text.size() < size) text += piece;
        return text;
    };
    for (const std::string_view piece :
         {"## Heading\n- bullet with **bold** and `code`\n1. numbered [NOTE: hidden] item\n\n"
          "```\ncode line\n```\nA plain paragraph line with some words in it.\n",
          "[A:[B: `x` ** [visual:y "}) {
        size_t runs = 0;
        const auto render = [&](const std::string& text) {
            runs = 0;
            for (const auto& block : MessageMarkdown::parseBlocks(ConversationRole::assistant, text))
                runs += MessageMarkdown::renderMarkdownText(block.text).size();
        };
        const std::string small = repeated(piece, 62'500), large = repeated(piece, 1'000'000);
        const auto cost = testing::costRatio([&] { render(small); }, [&] { render(large); }, 3);
        EXPECT_GT(runs, 0u);
        EXPECT_LT(cost.ratio(), 32.0) << cost.small << " s, then " << cost.large << " s for " << piece;
    }
}

}  // namespace
}  // namespace corvane
