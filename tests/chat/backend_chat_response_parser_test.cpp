#include "chat/backend_chat_response_parser.h"

#include <gtest/gtest.h>

#include "networking/backend_chat_service.h"

namespace corvane {
namespace {

using nlohmann::json;

TEST(BackendChatResponseParser, ToolCallsTakeCallIDThenIDAndSkipWhatIsNotACall) {
    const json reply = {
        {"id", "resp_1"},
        {"output",
         {{{"type", "function_call"}, {"call_id", "c1"}, {"id", "fc1"}, {"name", "list_tracks"}},
          {{"type", "function_call"}, {"id", "fc2"}, {"name", "respond"}, {"arguments", R"({"prose":"x"})"}},
          {{"type", "function_call"}, {"call_id", ""}, {"name", "dropped"}},
          {{"type", "Function_call"}, {"call_id", "c4"}, {"name", "wrong type"}},
          {{"type", "function_call"}, {"call_id", "c5"}},
          {{"type", "message"}, {"content", {{{"type", "output_text"}, {"text", " Hello "}}}}}}}};
    const AgentStep step = BackendChatResponseParser::parseAgentStep(reply);
    EXPECT_EQ(step.responseID, "resp_1");
    ASSERT_EQ(step.toolCalls.size(), 2u);
    EXPECT_EQ(step.toolCalls[0].callID, "c1");
    EXPECT_EQ(step.toolCalls[0].argumentsJSON, "{}");
    EXPECT_EQ(step.toolCalls[1].callID, "fc2");
    EXPECT_EQ(step.toolCalls[1].argumentsJSON, R"({"prose":"x"})");
    EXPECT_EQ(step.assistantText, "Hello");

    json mixed = reply;
    mixed["output"].push_back("not an object");
    EXPECT_TRUE(BackendChatResponseParser::parseToolCalls(mixed).empty());
}

TEST(BackendChatResponseParser, AssistantTextPrefersNonBlankOutputTextThenJoinsMessageParts) {
    const json messages = {{"type", "message"},
                           {"content",
                            {{{"type", "output_text"}, {"text", "One"}},
                             {{"type", "refusal"}, {"text", "no"}},
                             {{"type", "output_text"}, {"text", "Two "}}}}};
    EXPECT_EQ(BackendChatResponseParser::extractAssistantText({{"output_text", "  "}, {"output", {messages}}}),
              "One\nTwo");
    EXPECT_EQ(BackendChatResponseParser::extractAssistantText({{"output_text", " kept "}, {"output", {messages}}}),
              " kept ");
    EXPECT_EQ(BackendChatResponseParser::extractAssistantText({{"output", json::array()}}), std::nullopt);
}

TEST(BackendChatResponseParser, AReplyWithoutIDFails) {
    for (const json& reply : {json{{"output", json::array()}}, json{{"id", ""}}, json{{"id", 7}}}) {
        try {
            BackendChatResponseParser::parseAgentStep(reply);
            ADD_FAILURE() << reply;
        } catch (const networking::BackendChatService::OpenAIClientError& error) {
            EXPECT_STREQ(error.what(), "OpenAI response could not be parsed: missing response id");
        }
    }
}

}  // namespace
}  // namespace corvane
