#pragma once

#include "model/conversation_model.h"
#include "diagrams/diagram_shapes.h"
#include "transcript/markdown.h"

namespace corvane {

// How a message bubble looks, decided by its role alone: the agent's interim updates are a dim
// italic line, the user's messages a blue bubble on the right, every other role a dark outlined
// bubble on the left.
struct BubbleStyle {
    enum class Kind { interimLine, user, assistant };
    Kind kind = Kind::assistant;
    bool trailing = false;          // right-aligned
    double maxWidth = 720;          // of the bubble's frame
    double minSpacer = 24;          // kept free on the other side
    diagram::Color fill;            // none for the interim line
    bool outlined = false;          // a 1-pt outline in assistantBubbleBorder
    diagram::Color paragraphColor;  // of paragraph text
    static constexpr double cornerRadius = 18;
    static constexpr double horizontalPadding = 16;
    static constexpr double verticalPadding = 12;

    static BubbleStyle forRole(ConversationRole role);
    // The "Report" button shows only on assistant-style bubbles that were given a report action;
    // it is dim until the pointer is over the message.
    static bool showsReportButton(ConversationRole role, bool hasReportAction);
    static double reportButtonOpacity(bool hovering) { return hovering ? 1.0 : 0.35; }
};

// The font and colour of a block's text in an assistant-style bubble (paragraph colours follow
// the bubble), and whether it takes the bubble's whole width.
struct BlockStyle {
    diagram::Font font;
    diagram::Color color;
    bool fillsWidth = false;    // bullets and code blocks
    bool inlineMarkup = false;  // bold and code spans interpreted
    static BlockStyle forBlock(MarkdownBlockType type, const BubbleStyle& bubble);
};

}  // namespace corvane
