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

// The state between the lines of a message while its blocks are read one line at a time.
class MarkdownBlockBuilder {
public:
    void addLine(std::string_view line);
    // The blocks if the message ended here: no spacer at either end, an open code block closed.
    std::vector<MarkdownBlock> blocks() const;

private:
    std::vector<MarkdownBlock> blocks_;
    std::string pending_;  // the open code block's lines
    bool hasPending_ = false;
    bool inCode_ = false;
};

// The blocks of an assistant's reply while it is revealed a little more at every step, equal to
// parseBlocks of each text shown. Lines before the last line break are parsed once; only the last
// line is parsed again at each step. A text that does not continue the last one starts over.
class GrowingMarkdown {
public:
    const std::vector<MarkdownBlock>& update(std::string_view text);
    // Lines read so far, the last line counted at every step: the parsing work done.
    size_t linesParsed() const { return linesParsed_; }

private:
    MarkdownBlockBuilder builder_;  // the lines before committed_
    std::string text_;              // the text before committed_
    size_t committed_ = 0;
    std::vector<MarkdownBlock> blocks_;
    size_t linesParsed_ = 0;
};

}  // namespace corvane
