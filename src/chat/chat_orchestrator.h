#pragma once

// Runs one chat turn: the user's message goes to the chat backend, the model's tool calls run
// against Logic Pro, their outputs go back, round by round, until the model answers through
// "respond", answers in plain text, fails, is stopped or reaches the round limit.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "chat/agent_event_stream.h"
#include "chat/backend_chat_request_builder.h"
#include "chat/backend_chat_response_parser.h"
#include "chat/chat_attachment_loader.h"
#include "chat/chat_tool_executor.h"
#include "chat/tool_logger.h"
#include "conversation/conversation_store.h"
#include "conversation/memory_store.h"
#include "conversation/project_data_store.h"
#include "logic/logic_inspector.h"
#include "model/health_response.h"
#include "networking/backend_chat_service.h"
#include "plugins/plugin_inspector.h"
#include "plugins/plugin_inventory.h"

namespace corvane {

// The error that ends a turn which used up its rounds.
class AgentLoopError : public std::runtime_error {
public:
    static constexpr const char* kDomain = "Quillmere.AgentLoop";
    static constexpr int kRoundLimitCode = 1;
    static AgentLoopError roundLimit();
    const char* domain() const { return kDomain; }
    int code() const { return code_; }

private:
    AgentLoopError(int code, const std::string& description) : std::runtime_error(description), code_(code) {}
    int code_;
};

class ChatOrchestrator;

// Who drives a turn: the chat window or the test harness.
enum class TurnOwner { window, harness };

// The agent loop held for one owner, from before its turn until it is dropped, so that nobody else
// starts a turn in between (the harness's snapshots around its turn included). Empty when the loop
// was already held. Dropping it lets go once a turn it started has ended; it must not outlive the
// orchestrator that gave it.
class TurnReservation {
public:
    TurnReservation() = default;
    TurnReservation(TurnReservation&& other) noexcept;
    TurnReservation& operator=(TurnReservation&& other) noexcept;
    TurnReservation(const TurnReservation&) = delete;
    TurnReservation& operator=(const TurnReservation&) = delete;
    ~TurnReservation();
    explicit operator bool() const { return owner_ != nullptr; }

private:
    friend class ChatOrchestrator;
    TurnReservation(ChatOrchestrator* owner, std::uint64_t id) : owner_(owner), id_(id) {}
    ChatOrchestrator* owner_ = nullptr;
    std::uint64_t id_ = 0;
};

class ChatOrchestrator final {
public:
    static constexpr int kRoundLimit = 15;
    static constexpr int kHistoryEntries = 40;
    static constexpr const char* kFreeTextNudge =
        "You emitted free text but did not call `respond`. Free text is never shown to the user. Call `respond` now "
        "with your reply in the `prose` field (and a `visual` if appropriate). That tool ends the turn.";
    static constexpr const char* kEmptyReplyNudge =
        "You returned no text and no tool calls. If you have the data you need, answer the user now. If you still "
        "need more data, call another tool.";
    static constexpr const char* kParameterNudge =
        "Do NOT respond with text saying you can't read parameters. You have the get_plugin_parameters tool -- call "
        "it now. Pass the track name, plugin name, and plugin_index from the get_track_details result.";
    // One Logic Pro, one turn driving it: a turn asked for while another runs is refused with this.
    static constexpr const char* kBusyMessage =
        "Another chat turn is still working in Logic Pro. Wait for it to finish (or stop it), then send your message "
        "again.";
    // The backend takes requests of at most 64 MiB, and a turn's first request carries its message
    // beside up to eleven earlier ones: a longer message is refused before anything is stored.
    static constexpr std::size_t kMaxMessageBytes = 4 * 1024 * 1024;
    // Why the message cannot be sent (too long), or none.
    static std::optional<std::string> messageProblem(const std::string& message);
    // The description of a turn stopped by the user, in its tool log.
    static constexpr const char* kStoppedTurnDescription = "The turn was stopped by the user.";
    static constexpr const char* kEndingTurnDescription = "The turn was stopped as Corvane was ending.";
    // A turn whose model never gave a reply the user can read.
    static constexpr const char* kNoReplyDescription = "The assistant ended the turn without a reply.";
    // Another copy of the program sharing the folder runs a turn in the same chat: its entries and
    // this turn's would interleave.
    static constexpr const char* kChatBusyElsewhereMessage =
        "Another copy of Corvane is still working in this chat. Wait for its reply (or stop it there), then send your "
        "message again.";
    // The chat's lock file could not be used (as a store's write is then refused): its turns would
    // interleave with another copy's.
    static std::string chatNotLockedMessage(const std::string& reason) {
        return "This chat could not be kept from other copies of Corvane, so nothing was sent: " + reason + ".";
    }
    // A turn asked for in a chat that no longer exists: nothing is sent or stored.
    static constexpr const char* kMissingThreadMessage =
        "The chat this message was sent to no longer exists, so nothing was sent.";
    // A turn asked for while the conversation file could not be read: the chat may well exist.
    static std::string unreadableThreadMessage(const std::string& reason) {
        return "The chat this message was sent to could not be read, so nothing was sent: " + reason + ".";
    }
    // What the user is told of a turn whose entries the conversation file did not take.
    static std::string notSavedMessage(const std::string& reason) {
        return "The chat could not be saved: " + reason + ".";
    }
    // What the user is told of a turn whose tool log could not be written.
    static std::string toolLogNotWrittenMessage(const std::string& reason) {
        return "The turn's tool log could not be written: " + reason + ".";
    }
    // The chat's song is not the one open in Logic Pro: what the window shows, and what the agent
    // is told, before the turn reads or changes anything.
    static std::string otherSongNotice(const std::string& chatSong, const std::string& openSong) {
        return "Logic Pro has \"" + openSong + "\" open, not this chat's song \"" + chatSong +
               "\": what Corvane reads and changes now is in \"" + openSong + "\". Open \"" + chatSong +
               "\" in Logic Pro to work on it.";
    }
    static std::string otherSongContext(const std::string& chatSong, const std::string& openSong) {
        return "Open project: Logic Pro has \"" + openSong + "\" open, but this chat is about \"" + chatSong +
               "\". The tracks listed here and every tool act on \"" + openSong +
               "\". Tell the user, and change nothing until they say to go on in \"" + openSong + "\".";
    }
    // What the model gets back for a "respond" without prose.
    static constexpr const char* kBlankRespondMessage =
        "respond needs your reply to the user in `prose`; it was empty. Call respond again with the reply.";

    // The controller's views of its state; each gives an empty value once the controller is gone.
    struct Providers {
        std::function<HealthResponse()> healthSnapshot;
        std::function<std::vector<TrackAnalysisState>()> trackAnalysis;
        std::function<std::map<std::string, std::string>()> trackDescriptions;
        std::function<std::vector<SongSection>()> songSections;
    };

    struct Services {
        PluginInventoryService& pluginInventoryService;
        networking::BackendChatService& backendChatService;
        ConversationStore& conversationStore;
        MemoryStore& memoryStore;
        const LogicInspector& logicInspector;
        PluginInspector& pluginInspector;
        ToolLogger& toolLogger;
        // The live analysis and the two update callbacks, for the executor.
        std::weak_ptr<ToolHost> host;
    };

    ChatOrchestrator(Services services, Providers providers);
    // Stops a running turn and waits for it to end.
    ~ChatOrchestrator();
    ChatOrchestrator(const ChatOrchestrator&) = delete;
    ChatOrchestrator& operator=(const ChatOrchestrator&) = delete;

    // Holds the loop for `owner` in one step with the busy check; empty while anyone holds it.
    TurnReservation reserveTurn(TurnOwner owner);

    // The window's turn: reserves the loop, starts the turn on a thread of its own and returns its
    // stream at once; the reservation ends with the turn. While the loop is held (a turn running,
    // or the harness between its snapshots) the new turn is refused: its stream holds an error
    // event and a final response with kBusyMessage, and nothing else happens; so is a message
    // over kMaxMessageBytes, with messageProblem's text.
    std::shared_ptr<AgentEventStream> handleChatStreaming(const ChatRequest& request);
    // A turn under a reservation already held; refused as above when the reservation is not the
    // one holding the loop or its previous turn still runs. The reservation outlives the turn.
    std::shared_ptr<AgentEventStream> handleChatStreaming(const TurnReservation& reservation,
                                                          const ChatRequest& request);

    // The window's stop button: stops the window's turn, if one runs; a harness turn is stopped
    // only through its own stream.
    void cancelCurrentTurn();
    // The program is ending: the turn running, whoever's, is stopped, and it and its calls say
    // that Corvane was ending rather than that the user stopped them.
    void stopForEnding();
    bool isTurnRunning() const;

    ChatToolExecutor& toolExecutor() { return toolExecutor_; }
    // The visible tracks of Logic Pro's main window, for the runtime context: the listing every turn
    // starts with. Read as a tool call reads, with where the headers lie kept from the last call and
    // handed on to the next, so that a later turn, and a list_tracks in the same turn, read only the
    // lists the headers lie in.
    std::vector<BackendChatRequestBuilder::TrackListEntry> collectAllTracks() const;
    static std::vector<BackendChatRequestBuilder::TrackListEntry> collectAllTracks(const LogicInspector& logic);

private:
    friend class TurnReservation;
    struct Turn;
    std::shared_ptr<AgentEventStream> startTurn(const ChatRequest& request, FileLock chatLock);  // under turnMutex_
    // The request's chat held for its turn (an empty lock for a request naming none, or where the
    // file system has no locks); refused while another copy runs a turn there, or where the lock
    // file cannot be used.
    FileLock lockChat(const ChatRequest& request);
    void release(std::uint64_t reservationID);
    void runTurn(Turn& turn);
    nlohmann::json send(Turn& turn, const nlohmann::json& body);
    // Answers the reply of the turn, or nothing to go on with the next reply.
    std::optional<std::string> handleReply(Turn& turn, const AgentStep& step, nlohmann::json& nextReply);
    std::optional<std::string> runToolRound(Turn& turn, const AgentStep& step, nlohmann::json& nextReply);
    void sendNudge(Turn& turn, const char* text, nlohmann::json& nextReply);
    // The reply of a "respond" with prose, after its diagram card if it has one.
    std::string endWithRespond(Turn& turn, const AgentToolCall& respond, const nlohmann::json& output);
    void cleanUpLogic() const;
    void endWithReply(Turn& turn, const std::string& reply);
    void endWithFailure(Turn& turn, const std::string& description, bool cancelled);
    std::string stoppedDescription() const {
        return toolExecutor_.programEnding() ? kEndingTurnDescription : kStoppedTurnDescription;
    }
    // `failure`: why the store found no such chat, when it could not read its file.
    void endForMissingThread(Turn& turn, const std::optional<std::string>& failure);
    // The turn's entries after its question; false when not stored (or not tried after an earlier failure).
    bool storeEntry(Turn& turn, ConversationRole role, const std::string& content);
    bool storeToolCall(Turn& turn, const ToolCallInfo& call);
    // Records why the turn's entries are not all stored when a store operation did not reach the file.
    void noteStored(Turn& turn, bool stored) const;
    // The save failure, when there was one, as the turn's error event and in its response.
    void reportSaveFailure(Turn& turn, ChatResponse& response) const;
    // Closes the turn's tool log; the first close is the one the answer reports on.
    void endToolLog(Turn& turn, int rounds, const std::optional<std::string>& reply);
    void reportLogFailure(Turn& turn);
    void finishTurn(Turn& turn, ChatResponse response);

    Services services_;
    Providers providers_;
    BackendChatRequestBuilder requestBuilder_;
    ChatToolExecutor toolExecutor_;
    ChatAttachmentLoader attachmentLoader_;

    // Who holds the loop: busy exactly while this is set.
    struct Holder {
        std::uint64_t id = 0;
        TurnOwner owner = TurnOwner::window;
        bool reservationHeld = false;  // a TurnReservation object still names it
        bool turnRunning = false;
    };
    mutable std::mutex turnMutex_;
    std::uint64_t nextReservationID_ = 0;
    std::optional<Holder> holder_;
    std::optional<std::stop_source> currentStop_;
    std::jthread currentTurnThread_;  // the latest turn's thread; joined before the next starts
};

}  // namespace corvane
