#include <gtest/gtest.h>

#include "transcript/message_style.h"

namespace corvane {
namespace {

using R = ConversationRole;

TEST(MessageStyle, BubbleKindsAndTheReportButton) {
    auto user = BubbleStyle::forRole(R::user);
    EXPECT_EQ(user.kind, BubbleStyle::Kind::user);
    EXPECT_TRUE(user.trailing);
    EXPECT_FALSE(user.outlined);
    EXPECT_EQ(user.maxWidth, 520);
    EXPECT_EQ(user.paragraphColor, diagram::white(1));
    for (R role : {R::assistant, R::system, R::tool, R::toolCall}) {
        auto style = BubbleStyle::forRole(role);
        EXPECT_EQ(style.kind, BubbleStyle::Kind::assistant);
        EXPECT_TRUE(style.outlined);
        EXPECT_EQ(style.paragraphColor, diagram::white(0.9));
    }
    EXPECT_EQ(BubbleStyle::forRole(R::update).kind, BubbleStyle::Kind::interimLine);
    EXPECT_TRUE(BubbleStyle::showsReportButton(R::assistant, true));
    EXPECT_FALSE(BubbleStyle::showsReportButton(R::assistant, false));
    EXPECT_FALSE(BubbleStyle::showsReportButton(R::user, true));
    EXPECT_EQ(BubbleStyle::reportButtonOpacity(false), 0.35);
    EXPECT_TRUE(BlockStyle::forBlock(MarkdownBlockType::code, user).fillsWidth);
    EXPECT_EQ(BlockStyle::forBlock(MarkdownBlockType::paragraph, user).color, diagram::white(1));
}

}  // namespace
}  // namespace corvane
