#pragma once

// Turns the conversation, the open project's track list, live analysis, song sections, memories,
// screenshots and tool outputs into the JSON bodies the chat backend accepts. Pure: reads nothing.

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "conversation/memory_store.h"
#include "conversation/project_data_store.h"
#include "model/chat_model.h"
#include "model/conversation_model.h"
#include "model/health_response.h"
#include "model/track_analysis_state.h"
#include "networking/backend_chat_service.h"

namespace corvane {

struct BackendChatRequestBuilder {
    // One visible row of Logic Pro's track list, in list order.
    struct TrackListEntry {
        std::string name;
        int trackNumber = 0;
        bool isFolder = false;
        bool isMuted = false;
        int indentLevel = 0;  // 0 at the top, one more per enclosing folder
    };
    using AttachedCaptureInput = networking::BackendChatService::AttachedCaptureInput;

    std::string defaultModel = "gpt-5";  // never sent: the backend picks the model by tier and kind

    static constexpr std::size_t kHistoryLimit = 12;

    std::optional<nlohmann::json> makeConversationItem(const ConversationEntry& entry) const;
    std::string makeRuntimeContext(const HealthResponse& health, const std::optional<std::string>& projectName,
                                   const std::vector<TrackAnalysisState>& allTrackAnalysis,
                                   const std::vector<TrackListEntry>& allTracks,
                                   const std::map<std::string, std::string>& trackDescriptions,
                                   const std::vector<SongSection>& songSections,
                                   const std::vector<Memory>& memories) const;
    nlohmann::json makeAgentRequestBody(ModelTier tier, const std::vector<ConversationEntry>& history,
                                        const std::string& userMessage, const std::optional<std::string>& songBrief,
                                        const std::string& runtimeContext,
                                        const std::optional<AttachedCaptureInput>& attachments) const;
    nlohmann::json buildContinuationInput(const std::vector<AgentToolOutputPayload>& toolOutputs,
                                          const std::optional<std::string>& followUpMessage) const;
    nlohmann::json makeContinuationBody(ModelTier tier, const std::string& previousResponseID,
                                        const std::vector<AgentToolOutputPayload>& toolOutputs,
                                        const std::optional<std::string>& followUpMessage) const;
    nlohmann::json makeTitleBody(const std::string& userMessage, const std::string& assistantReply) const;
};

}  // namespace corvane
