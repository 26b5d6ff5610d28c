#pragma once

// Reads the chat backend's replies (Responses-API shaped: "id", "output" items of type
// "function_call" or "message", an optional "output_text").

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/chat_model.h"

namespace corvane {

// What one backend reply asks for.
struct AgentStep {
    std::string responseID;  // never empty; the next round's "previous_response_id"
    std::optional<std::string> assistantText;
    std::vector<AgentToolCall> toolCalls;  // in reply order
};

struct BackendChatResponseParser {
    // Throws BackendChatService::OpenAIClientError when "id" is missing or empty.
    static AgentStep parseAgentStep(const nlohmann::json& reply);
    static std::vector<AgentToolCall> parseToolCalls(const nlohmann::json& reply);
    static std::optional<std::string> extractAssistantText(const nlohmann::json& reply);
};

}  // namespace corvane
