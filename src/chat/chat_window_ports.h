#pragma once

// What the chat window needs of the application, as a few narrow interfaces the controller
// implements (as ToolHost serves the agent's tools), so that the view model knows no controller.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "chat/agent_event_stream.h"
#include "conversation/conversation_store.h"
#include "conversation/project_data_store.h"
#include "model/chat_model.h"
#include "model/logic_snapshot_models.h"
#include "model/track_analysis_state.h"
#include "networking/backend_chat_service.h"

namespace corvane {

// Logic Pro as the window sees it: whether it may read Accessibility, and the open project.
class LogicContextPort {
public:
    virtual ~LogicContextPort() = default;
    virtual bool accessibilityTrusted() const = 0;
    virtual LogicContextSnapshot logicContext(bool includeAccessibilityData) const = 0;
};

// The live analysis records the analysis plug-in instances post.
class LiveAnalysisPort {
public:
    using AnalysisUpdateHandler = std::function<void(const std::string& instanceID)>;

    virtual ~LiveAnalysisPort() = default;
    // By instance ID.
    virtual std::map<std::string, TrackAnalysisState> trackAnalysis() const = 0;
    // Called on a request thread after every update; null removes it.
    virtual void setAnalysisUpdateHandler(AnalysisUpdateHandler handler) = 0;
};

// The song notes the agent and the window share: the window's descriptions and sections are
// mirrored for the agent, and the agent's writes come back through the callbacks (on a turn
// thread; null removes them).
class SongNotesPort {
public:
    using TrackDescriptionCallback = std::function<void(const std::string& trackName, const std::string& text)>;
    using SongBriefCallback = std::function<void(const std::string& brief)>;

    virtual ~SongNotesPort() = default;
    virtual void setOnTrackDescriptionUpdate(TrackDescriptionCallback callback) = 0;
    virtual void setOnSongBriefUpdate(SongBriefCallback callback) = 0;
    // Keyed by analysis instance ID.
    virtual void setTrackDescriptionsStore(std::map<std::string, std::string> descriptions) = 0;
    virtual void setSongSectionsStore(std::vector<SongSection> sections) = 0;
};

// Starts agent turns on the one agent loop.
class TurnPort {
public:
    virtual ~TurnPort() = default;
    virtual std::shared_ptr<AgentEventStream> startTurn(const ChatRequest& request) = 0;
};

// Everything the chat window uses; each member keeps what it points into alive.
struct ChatWindowPorts {
    std::shared_ptr<ConversationStore> conversations;
    std::shared_ptr<ProjectDataStore> projectData;
    // Thread titles and error reports.
    std::shared_ptr<networking::BackendChatService> backend;
    std::shared_ptr<LogicContextPort> logic;
    std::shared_ptr<LiveAnalysisPort> analysis;
    std::shared_ptr<SongNotesPort> songNotes;
    std::shared_ptr<TurnPort> turns;
};

}  // namespace corvane
