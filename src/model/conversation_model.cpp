#include "model/conversation_model.h"

#include "support/json_fields.h"
#include "support/json_writer.h"

namespace corvane {

using namespace json_fields;

std::string toString(ConversationRole role) {
    switch (role) {
        case ConversationRole::user: return "user";
        case ConversationRole::assistant: return "assistant";
        case ConversationRole::tool: return "tool";
        case ConversationRole::system: return "system";
        case ConversationRole::toolCall: return "toolCall";
        case ConversationRole::update: return "update";
    }
    return "user";
}

std::optional<ConversationRole> conversationRoleFromString(const std::string& text) {
    for (auto role : {ConversationRole::user, ConversationRole::assistant, ConversationRole::tool,
                      ConversationRole::system, ConversationRole::toolCall, ConversationRole::update})
        if (toString(role) == text) return role;
    return std::nullopt;
}

void to_json(nlohmann::json& j, ConversationRole v) { j = toString(v); }

void from_json(const nlohmann::json& j, ConversationRole& v) { v = enumeration(j, "role", conversationRoleFromString); }

void to_json(nlohmann::json& j, const ConversationEntry& v) {
    j = {{"timestamp", v.timestamp}, {"role", v.role}, {"content", v.content}};
    put(j, "toolCallID", v.toolCallID);
    put(j, "toolName", v.toolName);
    put(j, "arguments", v.arguments);
    put(j, "roundIndex", v.roundIndex);
    put(j, "succeeded", v.succeeded);
    put(j, "summary", v.summary);
    put(j, "resultJSON", v.resultJSON);
    put(j, "userEntryIndex", v.userEntryIndex);
}

void from_json(const nlohmann::json& j, ConversationEntry& v) {
    v.timestamp = text(j, "timestamp");
    v.role = value<ConversationRole>(j, "role");
    v.content = text(j, "content");
    v.toolCallID = optionalText(j, "toolCallID");
    v.toolName = optionalText(j, "toolName");
    v.arguments = optionalText(j, "arguments");
    v.roundIndex = optionalInteger(j, "roundIndex");
    v.succeeded = optionalBoolean(j, "succeeded");
    v.summary = optionalText(j, "summary");
    v.resultJSON = optionalText(j, "resultJSON");
    v.userEntryIndex = optionalInteger(j, "userEntryIndex");
}

void to_json(nlohmann::json& j, const StoredConversationThread& v) {
    j = {{"threadID", v.threadID},
         {"title", v.title},
         {"createdAt", v.createdAt},
         {"updatedAt", v.updatedAt},
         {"entries", v.entries}};
    put(j, "latestCapture", v.latestCapture);
    put(j, "pendingCaptures", v.pendingCaptures);
    put(j, "songBrief", v.songBrief);
    put(j, "projectName", v.projectName);
}

void from_json(const nlohmann::json& j, StoredConversationThread& v) {
    v.threadID = text(j, "threadID");
    v.title = text(j, "title");
    v.createdAt = text(j, "createdAt");
    v.updatedAt = text(j, "updatedAt");
    v.entries = value<std::vector<ConversationEntry>>(j, "entries");
    v.latestCapture = optionalValue<CaptureMetadata>(j, "latestCapture");
    v.pendingCaptures = optionalValue<std::vector<CaptureMetadata>>(j, "pendingCaptures");
    v.songBrief = optionalText(j, "songBrief");
    v.projectName = optionalText(j, "projectName");
}

void to_json(nlohmann::json& j, const StoredConversationState& v) { j = {{"threads", v.threads}}; }

void from_json(const nlohmann::json& j, StoredConversationState& v) {
    v.threads = value<std::vector<StoredConversationThread>>(j, "threads");
}

void from_json(const nlohmann::json& j, StoredConversation& v) {
    v.entries = value<std::vector<ConversationEntry>>(j, "entries");
    v.latestCapture = optionalValue<CaptureMetadata>(j, "latestCapture");
    v.pendingCaptures = optionalValue<std::vector<CaptureMetadata>>(j, "pendingCaptures");
    v.songBrief = optionalText(j, "songBrief");
}

namespace {
void writeOptionalText(PrettyJSONWriter& w, const char* key, const std::optional<std::string>& value) {
    if (!value) return;
    w.key(key);
    w.string(*value);
}

void writeOptionalInteger(PrettyJSONWriter& w, const char* key, const std::optional<std::int64_t>& value) {
    if (!value) return;
    w.key(key);
    w.integer(*value);
}

template <class List>
void list(PrettyJSONWriter& w, const List& values) {
    w.beginArray();
    for (const auto& value : values) writeJSON(w, value);
    w.endArray();
}
}  // namespace

// Keys in sorted order, as to_json's objects hold them.
void writeJSON(PrettyJSONWriter& w, const ConversationEntry& v) {
    w.beginObject();
    writeOptionalText(w, "arguments", v.arguments);
    w.key("content");
    w.string(v.content);
    writeOptionalText(w, "resultJSON", v.resultJSON);
    w.key("role");
    w.string(toString(v.role));
    writeOptionalInteger(w, "roundIndex", v.roundIndex);
    if (v.succeeded) {
        w.key("succeeded");
        w.boolean(*v.succeeded);
    }
    writeOptionalText(w, "summary", v.summary);
    w.key("timestamp");
    w.string(v.timestamp);
    writeOptionalText(w, "toolCallID", v.toolCallID);
    writeOptionalText(w, "toolName", v.toolName);
    writeOptionalInteger(w, "userEntryIndex", v.userEntryIndex);
    w.endObject();
}

void writeJSON(PrettyJSONWriter& w, const StoredConversationThread& v) {
    w.beginObject();
    w.key("createdAt");
    w.string(v.createdAt);
    w.key("entries");
    list(w, v.entries);
    if (v.latestCapture) {
        w.key("latestCapture");
        writeJSON(w, *v.latestCapture);
    }
    if (v.pendingCaptures) {
        w.key("pendingCaptures");
        list(w, *v.pendingCaptures);
    }
    writeOptionalText(w, "projectName", v.projectName);
    writeOptionalText(w, "songBrief", v.songBrief);
    w.key("threadID");
    w.string(v.threadID);
    w.key("title");
    w.string(v.title);
    w.key("updatedAt");
    w.string(v.updatedAt);
    w.endObject();
}

void writeJSON(PrettyJSONWriter& w, const StoredConversationState& v) {
    w.beginObject();
    w.key("threads");
    list(w, v.threads);
    w.endObject();
}

void to_json(nlohmann::json& j, const ConversationSummary& v) {
    j = {{"threadID", v.threadID}, {"title", v.title}, {"updatedAt", v.updatedAt}, {"messageCount", v.messageCount}};
    put(j, "projectName", v.projectName);
    put(j, "lastMessagePreview", v.lastMessagePreview);
}

void from_json(const nlohmann::json& j, ConversationSummary& v) {
    v.threadID = text(j, "threadID");
    v.title = text(j, "title");
    v.updatedAt = text(j, "updatedAt");
    v.messageCount = integer(j, "messageCount");
    v.projectName = optionalText(j, "projectName");
    v.lastMessagePreview = optionalText(j, "lastMessagePreview");
}

void to_json(nlohmann::json& j, const ConversationStateResponse& v) {
    j = {{"ok", v.ok},
         {"currentThreadID", v.currentThreadID},
         {"currentThreadTitle", v.currentThreadTitle},
         {"threads", v.threads},
         {"entries", v.entries},
         {"pendingCaptureCount", v.pendingCaptureCount}};
    put(j, "songBrief", v.songBrief);
    put(j, "error", v.error);
}

void from_json(const nlohmann::json& j, ConversationStateResponse& v) {
    v.ok = boolean(j, "ok");
    v.currentThreadID = text(j, "currentThreadID");
    v.currentThreadTitle = text(j, "currentThreadTitle");
    v.threads = value<std::vector<ConversationSummary>>(j, "threads");
    v.entries = value<std::vector<ConversationEntry>>(j, "entries");
    v.pendingCaptureCount = integer(j, "pendingCaptureCount");
    v.songBrief = optionalText(j, "songBrief");
    v.error = optionalText(j, "error");
}

void to_json(nlohmann::json& j, const ConversationThreadRequest& v) {
    j = nlohmann::json::object();
    put(j, "threadID", v.threadID);
}

void from_json(const nlohmann::json& j, ConversationThreadRequest& v) { v.threadID = optionalText(j, "threadID"); }

void to_json(nlohmann::json& j, const SongBriefRequest& v) {
    j = {{"songBrief", v.songBrief}};
    put(j, "threadID", v.threadID);
}

void from_json(const nlohmann::json& j, SongBriefRequest& v) {
    v.threadID = optionalText(j, "threadID");
    v.songBrief = text(j, "songBrief");
}

}  // namespace corvane
