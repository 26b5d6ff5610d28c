#include "chat/backend_chat_request_builder.h"

#include <set>

#include "support/unicode.h"

namespace corvane {
namespace {

using nlohmann::json;

json textPart(const std::string& text) { return {{"type", "input_text"}, {"text", text}}; }
json imagePart(const std::string& url) { return {{"type", "input_image"}, {"image_url", url}}; }
json userItem(json parts) { return {{"role", "user"}, {"content", std::move(parts)}}; }
json assistantItem(const std::string& text) {
    return {{"role", "assistant"}, {"content", json::array({{{"type", "output_text"}, {"text", text}}})}};
}

std::string tierName(ModelTier tier) { return tier == ModelTier::pro ? "pro" : "standard"; }

std::string trimmed(const std::optional<std::string>& text) {
    return text ? text::trimmingWhitespaceAndNewlines(*text) : std::string();
}

std::string joinedLines(const std::vector<std::string>& lines, const std::string& separator) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out += separator;
        out += lines[i];
    }
    return out;
}

// The model is pointed at the tool that exists: listening is how a track's analysis is read.
constexpr const char* kTrackBlockFooter =
    "(Tracks marked `folder` are Logic folder tracks / track stacks. A folder's audio output is the SUM of its "
    "children's audio \u2014 so listen_to_playback on a folder returns the combined mix of everything inside it. "
    "Soloing a folder solos all its children. When the user says \"inside the Foo folder\", they mean the tracks "
    "listed below Foo as children. Tracks marked `monitored` have the Corvane plugin installed and can be read "
    "with listen_to_playback. Only currently visible tracks are listed \u2014 collapsed folders hide their "
    "children, use set_folder_expanded to reveal them.)";

std::string trackBlock(const std::vector<BackendChatRequestBuilder::TrackListEntry>& tracks,
                       const std::vector<TrackAnalysisState>& analysis,
                       const std::map<std::string, std::string>& trackDescriptions) {
    std::map<int, std::vector<std::string>> children;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (!tracks[i].isFolder) continue;
        std::vector<std::string> names;
        for (std::size_t j = i + 1; j < tracks.size() && tracks[j].indentLevel > tracks[i].indentLevel; ++j) {
            if (tracks[j].indentLevel == tracks[i].indentLevel + 1) names.push_back(tracks[j].name);
        }
        children[tracks[i].trackNumber] = std::move(names);
    }
    std::set<std::string> monitored;
    for (const auto& state : analysis) monitored.insert(state.trackName);
    std::map<std::string, std::string> descriptions;
    for (const auto& [name, description] : trackDescriptions) {
        const std::string value = text::trimmingWhitespaceAndNewlines(description);
        if (!value.empty()) descriptions[text::lowercased(name)] = value;
    }

    std::vector<std::string> lines{"All tracks in project (exact names \u2014 pass these to tools verbatim):"};
    for (const auto& track : tracks) {
        const std::string indent(2 * static_cast<std::size_t>(std::max(track.indentLevel, 0)), ' ');
        std::vector<std::string> tags;
        if (track.isFolder) tags.push_back("folder");
        if (track.isMuted) tags.push_back("muted");
        if (monitored.count(track.name) != 0) tags.push_back("monitored");
        std::string line = indent + "- " + track.name;
        if (!tags.empty()) line += " [" + joinedLines(tags, ", ") + "]";
        if (const auto found = descriptions.find(text::lowercased(track.name)); found != descriptions.end()) {
            line += " \u2014 \"" + found->second + "\"";
        }
        lines.push_back(line);
        if (track.isFolder) {
            const auto& names = children[track.trackNumber];
            if (!names.empty()) lines.push_back(indent + "    children: " + joinedLines(names, ", "));
        }
    }
    lines.push_back(kTrackBlockFooter);
    return joinedLines(lines, "\n");
}

std::string scopeLabel(const std::string& scope) {
    if (scope == "master") return "master";
    if (scope.rfind("song:", 0) == 0) return "song";
    return scope;
}

}  // namespace

std::optional<json> BackendChatRequestBuilder::makeConversationItem(const ConversationEntry& entry) const {
    const std::string content = text::trimmingWhitespaceAndNewlines(entry.content);
    if (content.empty()) return std::nullopt;
    switch (entry.role) {
        case ConversationRole::user: return userItem(json::array({textPart(content)}));
        case ConversationRole::assistant:
        case ConversationRole::update: return assistantItem(content);
        case ConversationRole::toolCall: {
            if (!entry.toolName) return std::nullopt;
            std::vector<std::string> pieces{"[tool " + std::string(entry.succeeded == false ? "failed" : "ok") + "] " +
                                            *entry.toolName};
            if (const auto args = trimmed(entry.arguments); !args.empty()) pieces.push_back("args: " + args);
            if (const auto summary = trimmed(entry.summary); !summary.empty()) pieces.push_back("result: " + summary);
            return assistantItem(joinedLines(pieces, " | "));
        }
        case ConversationRole::tool:
        case ConversationRole::system: return std::nullopt;
    }
    return std::nullopt;
}

std::string BackendChatRequestBuilder::makeRuntimeContext(const HealthResponse& health,
                                                          const std::optional<std::string>& projectName,
                                                          const std::vector<TrackAnalysisState>& allTrackAnalysis,
                                                          const std::vector<TrackListEntry>& allTracks,
                                                          const std::map<std::string, std::string>& trackDescriptions,
                                                          const std::vector<SongSection>& songSections,
                                                          const std::vector<Memory>& memories) const {
    std::vector<std::string> blocks;
    std::string logic = "Logic Pro context:\n- Running: " + std::string(health.logic.logicIsRunning ? "true" : "false");
    if (projectName && !projectName->empty()) logic += "\n- Project: \"" + *projectName + "\"";
    blocks.push_back(logic);

    if (!allTracks.empty()) {
        blocks.push_back(trackBlock(allTracks, allTrackAnalysis, trackDescriptions));
    } else if (!allTrackAnalysis.empty()) {
        std::vector<std::string> names;
        for (const auto& state : allTrackAnalysis) names.push_back(state.trackName);
        blocks.push_back("Tracks with Corvane plugin (can be read with listen_to_playback): " +
                         joinedLines(names, ", "));
    }
    if (!songSections.empty()) {
        std::vector<std::string> lines{"Song sections:"};
        for (const auto& section : songSections) {
            lines.push_back("- " + section.name + ": bars " + std::to_string(section.startBar) + "-" +
                            std::to_string(section.endBar));
        }
        blocks.push_back(joinedLines(lines, "\n"));
    }
    if (!memories.empty()) {
        std::vector<std::string> lines{"Memories (reference by ID; use `forget` to remove):"};
        for (const auto& memory : memories) {
            lines.push_back("- [" + memory.id + "] (" + scopeLabel(memory.scope) + ") " + memory.note);
        }
        blocks.push_back(joinedLines(lines, "\n"));
    }
    return joinedLines(blocks, "\n\n");
}

json BackendChatRequestBuilder::makeAgentRequestBody(ModelTier tier, const std::vector<ConversationEntry>& history,
                                                     const std::string& userMessage,
                                                     const std::optional<std::string>& songBrief,
                                                     const std::string& runtimeContext,
                                                     const std::optional<AttachedCaptureInput>& attachments) const {
    json input = json::array();
    const std::size_t first = history.size() > kHistoryLimit ? history.size() - kHistoryLimit : 0;
    for (std::size_t i = first; i < history.size(); ++i) {
        if (auto item = makeConversationItem(history[i])) input.push_back(std::move(*item));
    }
    json parts = json::array({textPart(userMessage)});
    if (const auto brief = trimmed(songBrief); !brief.empty()) {
        parts.push_back(textPart("Saved song brief for this chat:\n" + brief +
                                 "\n\nTreat this as durable user-provided context about the song and keep it in "
                                 "mind unless the user overrides it."));
    }
    parts.push_back(textPart(runtimeContext));
    if (attachments && !attachments->empty()) {
        const std::string n = std::to_string(attachments->size());
        parts.push_back(textPart("The following " + n +
                                 " Logic screenshot(s) are attached for this message. Use only these attached "
                                 "screenshots as screen context for this reply."));
        for (std::size_t i = 0; i < attachments->size(); ++i) {
            const auto& capture = (*attachments)[i];
            std::string label =
                "Attached screenshot " + std::to_string(i + 1) + " of " + n + ": " + capture.contextLabel + ".";
            const auto& title = capture.metadata.logicContext.focusedWindowTitle;
            if (title && !title->empty()) label += " Focused window: " + *title + ".";
            parts.push_back(textPart(label));
            parts.push_back(imagePart(capture.imageDataURL));
        }
    }
    input.push_back(userItem(std::move(parts)));
    return {{"tier", tierName(tier)}, {"kind", "agent"}, {"input", std::move(input)}, {"parallel_tool_calls", true}};
}

json BackendChatRequestBuilder::buildContinuationInput(const std::vector<AgentToolOutputPayload>& toolOutputs,
                                                       const std::optional<std::string>& followUpMessage) const {
    json input = json::array();
    for (const auto& output : toolOutputs) {
        input.push_back({{"type", "function_call_output"}, {"call_id", output.callID}, {"output", output.outputJSON}});
        if (output.additionalInputText && output.additionalInputImageDataURL) {
            input.push_back(userItem(
                json::array({textPart(*output.additionalInputText), imagePart(*output.additionalInputImageDataURL)})));
        }
    }
    if (!trimmed(followUpMessage).empty()) input.push_back(userItem(json::array({textPart(*followUpMessage)})));
    return input;
}

json BackendChatRequestBuilder::makeContinuationBody(ModelTier tier, const std::string& previousResponseID,
                                                     const std::vector<AgentToolOutputPayload>& toolOutputs,
                                                     const std::optional<std::string>& followUpMessage) const {
    return {{"tier", tierName(tier)},
            {"previous_response_id", previousResponseID},
            {"input", buildContinuationInput(toolOutputs, followUpMessage)},
            {"parallel_tool_calls", true}};
}

json BackendChatRequestBuilder::makeTitleBody(const std::string& userMessage, const std::string& assistantReply) const {
    return {
        {"tier", "standard"},
        {"kind", "title"},
        {"input",
         json::array({userItem(json::array({textPart("User: " + userMessage + "\nAssistant: " + assistantReply)}))})},
        {"store", false},
        {"parallel_tool_calls", false}};
}

}  // namespace corvane
