#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/conversation_model.h"
#include "diagrams/visual_tag.h"

namespace corvane {

enum class MarkdownBlockType { visual, paragraph, heading, bullet, numbered, code, spacer };

// One line of a message (or one fenced code block) as the bubble draws it; blocks are told
// apart by their position in the list.
struct MarkdownBlock {
    MarkdownBlockType type = MarkdownBlockType::paragraph;
    std::string text;              // empty for visual and spacer blocks
    std::optional<VisualTag> tag;  // visual blocks only
    friend bool operator==(const MarkdownBlock&, const MarkdownBlock&) = default;
};

enum class InlineStyle { plain, bold, code };

struct InlineRun {
    InlineStyle style = InlineStyle::plain;
    std::string text;
    friend bool operator==(const InlineRun&, const InlineRun&) = default;
};

// The line-based markdown subset of the transcript's messages: every non-empty line is a block
// of its own; headings, bullets, numbered items, fenced code, bold and inline code are all that
// is interpreted. Everything here runs in time linear in the text.
struct MessageMarkdown {
    static constexpr std::string_view snapshotMarkers[2] = {"[INTERNAL — Corvane plugin stream",
                                                            "[Analysis snapshot at this message]"};

    // The text shown: a user's message stops before the analysis snapshot the window appends
    // (and the separator lines in front of it); other roles' texts are shown whole.
    static std::string displayText(ConversationRole role, std::string_view text);
    static std::vector<MarkdownBlock> parseBlocks(ConversationRole role, std::string_view text);
    static std::string normalizeText(MarkdownBlockType type, std::string_view line);
    // Digits, a dot, then whitespace: "1. Item" but not "1.5 dB", "1)" or "1.".
    static bool startsWithOrderedList(std::string_view line);
    // Bold spans first, in the whole text; code spans only after the last bold pair.
    static std::vector<InlineRun> renderMarkdownText(std::string_view text);
    // The space in points above the block at `index`.
    static double topPadding(size_t index, const std::vector<MarkdownBlock>& blocks);
};

}  // namespace corvane
