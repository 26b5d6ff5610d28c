#include "model/chat_model.h"

#include "support/json_fields.h"

namespace corvane {

using namespace json_fields;

std::string toString(ModelTier tier) { return tier == ModelTier::pro ? "pro" : "standard"; }

std::optional<ModelTier> modelTierFromString(const std::string& text) {
    for (auto tier : kAllModelTiers)
        if (toString(tier) == text) return tier;
    return std::nullopt;
}

std::string TranscriptItem::id() const {
    struct Visitor {
        std::string operator()(const ConversationEntry& e) const { return e.timestamp + "_" + toString(e.role); }
        std::string operator()(const ToolCallGroup& g) const { return g.id; }
        std::string operator()(const Thinking& t) const { return t.id; }
    };
    return std::visit(Visitor{}, value);
}

void to_json(nlohmann::json& j, ModelTier v) { j = toString(v); }

void from_json(const nlohmann::json& j, ModelTier& v) { v = enumeration(j, "model tier", modelTierFromString); }

void to_json(nlohmann::json& j, const ToolExecution& v) {
    j = {{"tool", v.tool}, {"summary", v.summary}, {"succeeded", v.succeeded}};
}

void from_json(const nlohmann::json& j, ToolExecution& v) {
    v.tool = text(j, "tool");
    v.summary = text(j, "summary");
    v.succeeded = boolean(j, "succeeded");
}

void to_json(nlohmann::json& j, const ChatResponse& v) {
    j = {{"ok", v.ok},
         {"assistantMessage", v.assistantMessage},
         {"toolsUsed", v.toolsUsed},
         {"threadID", v.threadID},
         {"threadTitle", v.threadTitle},
         {"availableThreads", v.availableThreads}};
    put(j, "activitySummary", v.activitySummary);
}

void from_json(const nlohmann::json& j, ChatResponse& v) {
    v.ok = boolean(j, "ok");
    v.assistantMessage = text(j, "assistantMessage");
    v.toolsUsed = value<std::vector<ToolExecution>>(j, "toolsUsed");
    v.activitySummary = optionalText(j, "activitySummary");
    v.threadID = text(j, "threadID");
    v.threadTitle = text(j, "threadTitle");
    v.availableThreads = value<std::vector<ConversationSummary>>(j, "availableThreads");
}

}  // namespace corvane
