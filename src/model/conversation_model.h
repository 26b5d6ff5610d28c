#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/capture_models.h"

namespace corvane {

// The kind of a stored entry; written as its case name, any other text fails to decode.
enum class ConversationRole { user, assistant, tool, system, toolCall, update };

std::string toString(ConversationRole role);
std::optional<ConversationRole> conversationRoleFromString(const std::string& text);

// One stored entry of a thread. Only "toolCall" entries carry the optional tool fields.
struct ConversationEntry {
    std::string timestamp;
    ConversationRole role = ConversationRole::user;
    std::string content;
    std::optional<std::string> toolCallID;
    std::optional<std::string> toolName;
    std::optional<std::string> arguments;
    std::optional<std::int64_t> roundIndex;
    std::optional<bool> succeeded;
    std::optional<std::string> summary;
    std::optional<std::string> resultJSON;
    std::optional<std::int64_t> userEntryIndex;
    friend bool operator==(const ConversationEntry&, const ConversationEntry&) = default;
};

struct StoredConversationThread {
    std::string threadID;  // upper-case UUID text
    std::string title;
    std::string createdAt;
    std::string updatedAt;  // thread lists are ordered by this text
    std::vector<ConversationEntry> entries;
    std::optional<CaptureMetadata> latestCapture;
    std::optional<std::vector<CaptureMetadata>> pendingCaptures;  // absent and empty mean the same
    std::optional<std::string> songBrief;
    std::optional<std::string> projectName;
    friend bool operator==(const StoredConversationThread&, const StoredConversationThread&) = default;
};

// The whole of "conversation.json". Stored order matters: new threads go first.
struct StoredConversationState {
    std::vector<StoredConversationThread> threads;
    friend bool operator==(const StoredConversationState&, const StoredConversationState&) = default;
};

// The legacy single-conversation form of the file; read, never written.
struct StoredConversation {
    std::vector<ConversationEntry> entries;
    std::optional<CaptureMetadata> latestCapture;
    std::optional<std::vector<CaptureMetadata>> pendingCaptures;
    std::optional<std::string> songBrief;
};

struct ConversationSummary {
    std::string threadID;
    std::string title;
    std::string updatedAt;
    std::int64_t messageCount = 0;
    std::optional<std::string> projectName;
    std::optional<std::string> lastMessagePreview;
    friend bool operator==(const ConversationSummary&, const ConversationSummary&) = default;
};

// The answer of every state-returning store operation; empty current thread when there is none.
struct ConversationStateResponse {
    bool ok = true;
    std::string currentThreadID;
    std::string currentThreadTitle;
    std::vector<ConversationSummary> threads;
    std::vector<ConversationEntry> entries;
    std::int64_t pendingCaptureCount = 0;
    std::optional<std::string> songBrief;
    std::optional<std::string> error;  // with `ok` false: why the change could not be stored
    friend bool operator==(const ConversationStateResponse&, const ConversationStateResponse&) = default;
};

struct ConversationThreadRequest {
    std::optional<std::string> threadID;
};

struct SongBriefRequest {
    std::optional<std::string> threadID;
    std::string songBrief;
};

void to_json(nlohmann::json& j, ConversationRole v);
void from_json(const nlohmann::json& j, ConversationRole& v);
void to_json(nlohmann::json& j, const ConversationEntry& v);
void from_json(const nlohmann::json& j, ConversationEntry& v);
void to_json(nlohmann::json& j, const StoredConversationThread& v);
void from_json(const nlohmann::json& j, StoredConversationThread& v);
void to_json(nlohmann::json& j, const StoredConversationState& v);
void from_json(const nlohmann::json& j, StoredConversationState& v);
void from_json(const nlohmann::json& j, StoredConversation& v);
// The text of dump(2) of to_json, written straight: the conversation file can be large.
void writeJSON(PrettyJSONWriter& w, const ConversationEntry& v);
void writeJSON(PrettyJSONWriter& w, const StoredConversationThread& v);
void writeJSON(PrettyJSONWriter& w, const StoredConversationState& v);
void to_json(nlohmann::json& j, const ConversationSummary& v);
void from_json(const nlohmann::json& j, ConversationSummary& v);
void to_json(nlohmann::json& j, const ConversationStateResponse& v);
void from_json(const nlohmann::json& j, ConversationStateResponse& v);
void to_json(nlohmann::json& j, const ConversationThreadRequest& v);
void from_json(const nlohmann::json& j, ConversationThreadRequest& v);
void to_json(nlohmann::json& j, const SongBriefRequest& v);
void from_json(const nlohmann::json& j, SongBriefRequest& v);

}  // namespace corvane
