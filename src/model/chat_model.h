#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/conversation_model.h"

namespace corvane {

// The answer tier the user chose; written as its case name.
enum class ModelTier { standard, pro };

inline constexpr std::array<ModelTier, 2> kAllModelTiers{ModelTier::standard, ModelTier::pro};
std::string toString(ModelTier tier);
std::optional<ModelTier> modelTierFromString(const std::string& text);  // exact, case-sensitive

// One user turn handed to the agent loop.
struct ChatRequest {
    std::string message;
    std::optional<std::string> analysisSnapshot;
    std::optional<std::string> threadID;  // absent: the conversation store chooses
    std::optional<bool> includePendingCaptures;
    ModelTier modelTier = ModelTier::standard;
};

// One executed tool call as listed in a final response.
struct ToolExecution {
    std::string tool;
    std::string summary;
    bool succeeded = false;
    friend bool operator==(const ToolExecution&, const ToolExecution&) = default;
};

// The result of one agent turn.
struct ChatResponse {
    bool ok = false;
    std::string assistantMessage;
    std::vector<ToolExecution> toolsUsed;
    std::optional<std::string> activitySummary;
    std::string threadID;
    std::string threadTitle;
    std::vector<ConversationSummary> availableThreads;
    // Why some of the turn's entries could not be stored; absent when all were. Held in memory
    // only: the JSON form leaves it out.
    std::optional<std::string> saveError;
    friend bool operator==(const ChatResponse&, const ChatResponse&) = default;
};

// One function call the model requested in a round.
struct AgentToolCall {
    std::string callID;
    std::string name;
    std::string argumentsJSON;  // unchanged
};

// The output of one tool call for the next backend request.
struct AgentToolOutputPayload {
    std::string callID;
    std::string outputJSON;
    std::optional<std::string> additionalInputText;
    std::optional<std::string> additionalInputImageDataURL;
};

enum class ToolCallStatus { running, completed, failed };

// A tool call as the transcript and the conversation store see it.
struct ToolCallInfo {
    std::string id;  // the model's call ID
    std::string toolName;
    std::string displayName;
    std::string arguments;  // JSON text
    std::int64_t roundIndex = 0;
    ToolCallStatus status = ToolCallStatus::running;
    std::optional<std::string> summary;
    std::optional<bool> succeeded;
    std::optional<std::string> resultJSON;

    // The card title of a tool name; unknown names come back unchanged.
    static std::string displayNameFor(const std::string& toolName);
    // The symbol name of a tool's card; "gearshape" for unknown names.
    static std::string icon(const std::string& toolName);
    // A one-line preview of the arguments; absent when they are not a JSON object or say nothing.
    std::optional<std::string> argumentPreview() const;

    friend bool operator==(const ToolCallInfo&, const ToolCallInfo&) = default;
};

// The calls of one agent round, shown as one group of cards.
struct ToolCallGroup {
    std::string id;
    std::int64_t roundIndex = 0;
    std::vector<ToolCallInfo> toolCalls;
    friend bool operator==(const ToolCallGroup&, const ToolCallGroup&) = default;
};

// One row of the transcript.
struct TranscriptItem {
    struct Thinking {
        std::string id;
        friend bool operator==(const Thinking&, const Thinking&) = default;
    };
    std::variant<ConversationEntry, ToolCallGroup, Thinking> value;

    static TranscriptItem message(ConversationEntry entry) { return {std::move(entry)}; }
    static TranscriptItem toolCallGroup(ToolCallGroup group) { return {std::move(group)}; }
    static TranscriptItem thinking(std::string id) { return {Thinking{std::move(id)}}; }

    // A message row is known by its entry's timestamp and role: "<timestamp>_<role>".
    std::string id() const;
    friend bool operator==(const TranscriptItem&, const TranscriptItem&) = default;
};

enum class AgentPhase { idle, thinking, executingTools, streaming };

// One element of the event stream of a running turn.
struct AgentEvent {
    struct ToolCallStarted {
        ToolCallInfo call;
    };
    struct ToolCallCompleted {
        ToolCallInfo call;
    };
    struct InterimAssistantMessage {
        std::string text;
    };
    struct FinalResponse {
        ChatResponse response;
    };
    struct Error {
        std::string message;
        std::optional<std::string> saveError;  // set where the conversation file refused the turn's write
    };
    struct Thinking {};
    std::variant<ToolCallStarted, ToolCallCompleted, InterimAssistantMessage, FinalResponse, Error, Thinking> value;

    static AgentEvent toolCallStarted(ToolCallInfo call) { return {ToolCallStarted{std::move(call)}}; }
    static AgentEvent toolCallCompleted(ToolCallInfo call) { return {ToolCallCompleted{std::move(call)}}; }
    static AgentEvent interimAssistantMessage(std::string text) { return {InterimAssistantMessage{std::move(text)}}; }
    static AgentEvent finalResponse(ChatResponse response) { return {FinalResponse{std::move(response)}}; }
    static AgentEvent error(std::string message, std::optional<std::string> saveError = std::nullopt) {
        return {Error{std::move(message), std::move(saveError)}};
    }
    static AgentEvent thinking() { return {Thinking{}}; }
};

void to_json(nlohmann::json& j, ModelTier v);
void from_json(const nlohmann::json& j, ModelTier& v);
void to_json(nlohmann::json& j, const ToolExecution& v);
void from_json(const nlohmann::json& j, ToolExecution& v);
void to_json(nlohmann::json& j, const ChatResponse& v);
void from_json(const nlohmann::json& j, ChatResponse& v);

}  // namespace corvane
