#include "transcript/message_style.h"

#include "transcript/theme.h"

namespace corvane {

using namespace diagram;

BubbleStyle BubbleStyle::forRole(ConversationRole role) {
    BubbleStyle style;
    if (role == ConversationRole::update) {
        style.kind = Kind::interimLine;
        style.maxWidth = 0;
        style.fill = {0, 0, 0, 0};
        style.paragraphColor = white(0.6);
        return style;
    }
    if (role == ConversationRole::user) {
        style.kind = Kind::user;
        style.trailing = true;
        style.maxWidth = 520;
        style.minSpacer = 60;
        style.fill = CorvaneTheme::userBubble;
        style.paragraphColor = white(1);
        return style;
    }
    style.fill = CorvaneTheme::assistantBubble;
    style.outlined = true;
    style.paragraphColor = white(0.9);
    return style;
}

bool BubbleStyle::showsReportButton(ConversationRole role, bool hasReportAction) {
    return hasReportAction && role != ConversationRole::user && role != ConversationRole::update;
}

BlockStyle BlockStyle::forBlock(MarkdownBlockType type, const BubbleStyle& bubble) {
    switch (type) {
        case MarkdownBlockType::heading: return {{14, FontWeight::semibold}, white(1), false, false};
        case MarkdownBlockType::bullet: return {{13.5}, white(0.9), true, true};
        case MarkdownBlockType::numbered: return {{13.5}, white(0.9), false, true};
        case MarkdownBlockType::code: return {{12, FontWeight::regular, true}, white(0.85), true, false};
        case MarkdownBlockType::paragraph: return {{13.5}, bubble.paragraphColor, false, true};
        default: return {{13.5}, bubble.paragraphColor, false, false};
    }
}

}  // namespace corvane
