#include "chat/backend_chat_response_parser.h"

#include "networking/backend_chat_service.h"
#include "support/json_fields.h"
#include "support/unicode.h"

namespace corvane {
namespace {

using nlohmann::json;

}  // namespace

AgentStep BackendChatResponseParser::parseAgentStep(const json& reply) {
    const auto id = json_fields::lenientText(reply, "id");
    if (!id || id->empty()) {
        throw networking::BackendChatService::OpenAIClientError::invalidResponse("missing response id");
    }
    return AgentStep{*id, extractAssistantText(reply), parseToolCalls(reply)};
}

std::vector<AgentToolCall> BackendChatResponseParser::parseToolCalls(const json& reply) {
    std::vector<AgentToolCall> calls;
    if (!reply.is_object()) return calls;
    const auto output = reply.find("output");
    if (output == reply.end() || !output->is_array()) return calls;
    for (const auto& item : *output) {
        if (!item.is_object()) return {};
    }
    for (const auto& item : *output) {
        if (json_fields::lenientText(item, "type") != "function_call") continue;
        const auto name = json_fields::lenientText(item, "name");
        if (!name) continue;
        auto callID = json_fields::lenientText(item, "call_id");
        if (!callID) callID = json_fields::lenientText(item, "id");
        if (!callID || callID->empty()) continue;
        calls.push_back(AgentToolCall{*callID, *name, json_fields::lenientText(item, "arguments").value_or("{}")});
    }
    return calls;
}

std::optional<std::string> BackendChatResponseParser::extractAssistantText(const json& reply) {
    if (!reply.is_object()) return std::nullopt;
    if (const auto outputText = json_fields::lenientText(reply, "output_text");
        outputText && !text::trimmingWhitespaceAndNewlines(*outputText).empty()) {
        return outputText;
    }
    std::string joined;
    bool first = true;
    const auto output = reply.find("output");
    if (output != reply.end() && output->is_array()) {
        for (const auto& item : *output) {
            if (!item.is_object() || json_fields::lenientText(item, "type") != "message") continue;
            const auto content = item.find("content");
            if (content == item.end() || !content->is_array()) continue;
            bool allObjects = true;
            for (const auto& part : *content) allObjects = allObjects && part.is_object();
            if (!allObjects) continue;
            for (const auto& part : *content) {
                const auto partText = json_fields::lenientText(part, "text");
                if (json_fields::lenientText(part, "type") != "output_text" || !partText || partText->empty()) continue;
                if (!first) joined += "\n";
                joined += *partText;
                first = false;
            }
        }
    }
    const std::string result = text::trimmingWhitespaceAndNewlines(joined);
    if (result.empty()) return std::nullopt;
    return result;
}

}  // namespace corvane
