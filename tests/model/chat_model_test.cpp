#include <gtest/gtest.h>

#include "test_support/json_helpers.h"

#include "model/chat_model.h"

namespace corvane {
namespace {

using nlohmann::json;

using testing::decodes;

TEST(ChatModel, ModelTierAcceptsOnlyItsExactTexts) {
    EXPECT_EQ(modelTierFromString("pro"), ModelTier::pro);
    EXPECT_EQ(modelTierFromString("standard"), ModelTier::standard);
    EXPECT_FALSE(modelTierFromString("Pro"));
    EXPECT_FALSE(decodes<ModelTier>(json("Pro")));
    EXPECT_EQ(json(ModelTier::pro), json("pro"));
    EXPECT_EQ(json("standard").get<ModelTier>(), ModelTier::standard);
}

TEST(ChatModel, ChatResponseNeedsEveryMemberButTheActivitySummary) {
    ChatResponse response;
    response.ok = true;
    response.assistantMessage = "Done";
    response.toolsUsed = {{"list_tracks", "12 tracks", true}};
    response.threadID = "T";
    response.threadTitle = "Chat 1";
    response.availableThreads = {{"T", "Chat 1", "2026-12-06T15:24:00.000Z", 2, std::nullopt, "hi"}};
    json written = response;
    EXPECT_FALSE(written.contains("activitySummary"));
    EXPECT_EQ(written.get<ChatResponse>(), response);

    response.activitySummary = "Listed tracks";
    EXPECT_EQ(json(response).get<ChatResponse>(), response);
    json withoutTitle = written;
    withoutTitle.erase("threadTitle");
    EXPECT_FALSE(decodes<ChatResponse>(withoutTitle));
    json badTool = written;
    badTool["toolsUsed"][0].erase("succeeded");
    EXPECT_FALSE(decodes<ChatResponse>(badTool));
}

TEST(ChatModel, TranscriptRowsOfOneTimestampAreToldApartByRole) {
    ConversationEntry user{.timestamp = "2026-12-06T15:24:00.000Z",
                           .role = ConversationRole::user,
                           .content = "a",
                           .toolCallID = {},
                           .toolName = {},
                           .arguments = {},
                           .roundIndex = {},
                           .succeeded = {},
                           .summary = {},
                           .resultJSON = {},
                           .userEntryIndex = {}};
    ConversationEntry call = user;
    call.role = ConversationRole::toolCall;
    ConversationEntry otherUser = user;
    otherUser.content = "b";
    EXPECT_EQ(TranscriptItem::message(user).id(), "2026-12-06T15:24:00.000Z_user");
    EXPECT_EQ(TranscriptItem::message(call).id(), "2026-12-06T15:24:00.000Z_toolCall");
    EXPECT_EQ(TranscriptItem::message(otherUser).id(), TranscriptItem::message(user).id());
    EXPECT_EQ(TranscriptItem::toolCallGroup({"group-3", 3, {}}).id(), "group-3");
    EXPECT_EQ(TranscriptItem::thinking("thinking").id(), "thinking");
}

}  // namespace
}  // namespace corvane
