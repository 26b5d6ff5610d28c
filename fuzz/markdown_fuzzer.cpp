// Feeds arbitrary bytes to the message parsers that run on the UI thread: the visual tag parser,
// the markdown blocks and inline runs, and the parse of a reply that grows step by step.
//
// The tag parser is checked against the regular expressions that define its syntax, run by the
// regex engine; the growing parse must equal the whole parse of every text shown; every block
// and run must hold its invariants. The step size comes from the input's first byte.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "diagrams/plain_text.h"
#include "diagrams/visual_tag.h"
#include "support/regex.h"
#include "transcript/markdown.h"

using namespace corvane;

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

// The tag as the two patterns read it.
std::optional<VisualTag> byPattern(std::string_view text) {
    static const Regex tag(VisualTagParser::tagPattern);
    static const Regex parameter(VisualTagParser::paramPattern);
    const auto match = tag.firstMatch(plain_text::trimSpaceSeparatorsAndTabs(text));
    if (!match) return std::nullopt;
    VisualTag result;
    result.type = match->groups[1].value_or("");
    for (const auto& p : parameter.allMatches(match->groups[2].value_or("")))
        result.params[p.groups[1].value_or("")] = p.groups[2].value_or("");
    return result;
}

void checkBlocks(const std::vector<MarkdownBlock>& blocks) {
    if (blocks.empty()) return;
    require(blocks.front().type != MarkdownBlockType::spacer);
    require(blocks.back().type != MarkdownBlockType::spacer);
    for (size_t i = 0; i < blocks.size(); ++i) {
        const auto& block = blocks[i];
        require((block.type == MarkdownBlockType::visual) == block.tag.has_value());
        if (block.type == MarkdownBlockType::spacer) {
            require(block.text.empty());
            require(i == 0 || blocks[i - 1].type != MarkdownBlockType::spacer);
        }
        for (const auto& run : MessageMarkdown::renderMarkdownText(block.text))
            require(run.style != InlineStyle::plain || !run.text.empty());
        (void)MessageMarkdown::topPadding(i, blocks);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const size_t step = 1 + input.ConsumeIntegralInRange<size_t>(0, 15);
    const std::string text = input.ConsumeRemainingBytesAsString();

    // The engine gives up on long inputs (its time limit); the syntax is checked on short ones.
    const auto tag = VisualTagParser::parse(text);
    if (text.size() <= 4096) require(tag == byPattern(text));
    if (tag) (void)tag->trackNames();

    const auto whole = MessageMarkdown::parseBlocks(ConversationRole::assistant, text);
    checkBlocks(whole);
    checkBlocks(MessageMarkdown::parseBlocks(ConversationRole::user, text));

    GrowingMarkdown growing;
    for (size_t length = 0;; length = std::min(text.size(), length + step)) {
        const std::string_view shown = std::string_view(text).substr(0, length);
        require(growing.update(shown) == MessageMarkdown::parseBlocks(ConversationRole::assistant, shown));
        if (length == text.size()) break;
    }
    return 0;
}
