#pragma once

// The one state object of the chat window, without widgets: the thread list and the open thread,
// what the window shows, the status line and busy state, the answer tier, the running agent turn
// and the reveal of its reply, the live analysis and the open Logic Pro project's song sections
// and track descriptions. Every public member is for the UI thread only (the main queue); the
// work that runs elsewhere (the turn's events, title and report requests) posts its results back
// there. Widgets read the getters and hear of changes through addObserver().

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "chat/agent_event_stream.h"
#include "chat/chat_window_ports.h"
#include "conversation/project_data_store.h"
#include "model/capture_models.h"
#include "model/chat_model.h"
#include "model/conversation_model.h"
#include "model/track_analysis_state.h"
#include "platform/clock.h"
#include "platform/lifetime.h"
#include "platform/main_queue.h"
#include "platform/main_timers.h"
#include "support/user_defaults.h"

namespace corvane {

// What the window shows: one project's page (no name: the chats of no project) or one chat.
struct NavigationState {
    enum class Kind { projectPage, chat };
    Kind kind = Kind::projectPage;
    std::optional<std::string> projectName;  // projectPage only
    std::string threadID;                    // chat only

    static NavigationState projectPage(std::optional<std::string> name) {
        return {Kind::projectPage, std::move(name), {}};
    }
    static NavigationState chat(std::string threadID) { return {Kind::chat, std::nullopt, std::move(threadID)}; }
    bool isChat() const { return kind == Kind::chat; }
    friend bool operator==(const NavigationState&, const NavigationState&) = default;
};

// A modal question to the user (the delete confirmation); the window shows it.
struct ViewModelAlert {
    enum class Style { warning };
    Style style = Style::warning;
    std::string messageText;
    std::string informativeText;
    std::vector<std::string> buttons;              // in the order they are added
    std::optional<std::size_t> destructiveButton;  // index into buttons
};

// What became of the song-brief editor's save; the editor closes only when it is done.
struct SongBriefSaveOutcome {
    // The brief as stored now, when it changed since the editor opened and yours was not saved.
    std::optional<std::string> storedMeanwhile;
    // What the user is told of a save the disk refused ("The song brief was not saved: …").
    std::optional<std::string> refusal;
    bool done() const { return !storedMeanwhile && !refusal; }
};

// What the view model needs besides its ports; all of it outlives the view model.
struct ChatViewModelEnvironment {
    using TurnStarter = std::function<std::shared_ptr<AgentEventStream>(const ChatRequest&)>;

    platform::MainQueue& mainQueue;
    platform::MainTimers& timers;
    UserDefaults& userDefaults;
    platform::Clock* clock = nullptr;  // null: platform::clock()
    // Starts an agent turn; null: the turns port.
    TurnStarter startTurn = nullptr;
};

class ChatViewModel : public std::enable_shared_from_this<ChatViewModel> {
public:
    using Environment = ChatViewModelEnvironment;

    // The observable fields, as named to observers.
    enum class Field {
        navigation,
        detectedProjectName,
        currentThreadID,
        currentThreadTitle,
        threads,
        entries,
        songBrief,
        pendingCaptureCount,
        statusMessage,
        isBusy,
        selectedModelTier,
        streamingText,
        streamedLength,
        pluginDetected,
        showPluginMissingBanner,
        pluginBannerDismissed,
        accessibilityTrusted,
        transcriptItems,
        activeCallID,
        transientUpdates,
        userExpandOverrides,
        reportingEntry,
        reportSentConfirmation,
        trackAnalysisMap,
        songSections,
        songStartBar,
        songEndBar,
        trackDescriptions,
        loopbackProblem,
        storeFailure,
        statusFailures,
    };
    using Observer = std::function<void(Field)>;
    using ObserverToken = std::uint64_t;
    // Answers the index of the button the user chose.
    using AlertPresenter = std::function<std::size_t(const ViewModelAlert&)>;

    static constexpr const char* kModelTierKey = "Corvane.selectedModelTier";
    static constexpr double kProjectDetectionInterval = 3.0;  // seconds
    static constexpr double kPluginCheckDelay = 60.0;
    static constexpr double kRevealInterval = 0.125;
    static constexpr double kReportConfirmationSeconds = 3.0;
    static constexpr const char* kTurnRunningNotice =
        "Corvane is still working on the last message. Send this one when it has finished.";
    static constexpr const char* kReportNotSentNotice =
        "The report was not sent: the service could not be reached, or you are signed out. Send it again, or cancel.";
    static constexpr const char* kClearedChatNotice =
        "This chat was cleared elsewhere while Corvane worked on it: the rest of this turn was not kept.";
    // Under a chat's last question when no reply follows it and no turn works on it (the program
    // quit or stopped mid-turn, before or after the turn's tool calls).
    static constexpr const char* kUnansweredNote =
        "No reply was stored for this message: the turn was stopped, or Corvane closed, before it answered.";
    // After a turn's entries that the conversation file did not take, for as long as they are shown.
    static constexpr const char* kUnsavedTurnNote =
        "Not saved: the chat file does not hold this turn, so it is gone once Corvane closes.";
    static constexpr const char* kDeletedChatNotice =
        "This chat was deleted in another copy of Corvane, so the message was not sent. Start a new chat for it.";

    // Reads the persisted tier and the Accessibility trust, detects the project, installs the
    // workspace observers and the three window callbacks of the ports, and starts the 60 s
    // plug-in check. Every port is set. Call on the main thread; the conversation list is not
    // loaded yet.
    static std::shared_ptr<ChatViewModel> create(ChatWindowPorts ports, Environment environment);
    // Stops a running turn and waits for the work it started elsewhere.
    ~ChatViewModel();
    ChatViewModel(const ChatViewModel&) = delete;
    ChatViewModel& operator=(const ChatViewModel&) = delete;

    // ---- change notification ------------------------------------------------------------------
    // Called on the main thread after the field changed; assigning an equal value notifies nobody.
    ObserverToken addObserver(Observer observer);
    void removeObserver(ObserverToken token);

    // ---- fields ---------------------------------------------------------------------------------
    const NavigationState& navigation() const { return navigation_; }
    void setNavigation(NavigationState navigation);
    const std::optional<std::string>& detectedProjectName() const { return detectedProjectName_; }
    const std::string& currentThreadID() const { return currentThreadID_; }
    const std::string& currentThreadTitle() const { return currentThreadTitle_; }
    const std::vector<ConversationSummary>& threads() const { return threads_; }
    const std::vector<ConversationEntry>& entries() const { return entries_; }
    const std::string& songBrief() const { return songBrief_; }
    std::int64_t pendingCaptureCount() const { return pendingCaptureCount_; }
    const std::string& statusMessage() const { return statusMessage_; }
    // The failures told since the user's last action (a turn's errors, a refused drop, a report
    // not sent, a change not saved), oldest first: the status line keeps them in sight, whatever
    // progress follows, until the user does something else.
    const std::vector<std::string>& statusFailures() const { return statusFailures_; }
    // True from sendMessage() until the reply's reveal ends, and during the thread operations.
    bool isBusy() const { return isBusy_; }
    ModelTier selectedModelTier() const { return selectedModelTier_; }
    void setSelectedModelTier(ModelTier tier);  // persisted on every call
    // The reply as revealed so far; the transcript shows it in place of the newest reply.
    const std::optional<std::string>& streamingText() const { return streamingText_; }
    std::int64_t streamedLength() const { return streamedLength_; }
    bool pluginDetected() const { return pluginDetected_; }
    bool showPluginMissingBanner() const { return showPluginMissingBanner_; }
    bool pluginBannerDismissed() const { return pluginBannerDismissed_; }
    bool accessibilityTrusted() const { return accessibilityTrusted_; }
    // Why the loopback API is not served (its port taken, say); empty while it is.
    const std::string& loopbackProblem() const { return loopbackProblem_; }
    // The last change the disk refused (a chat not saved, cleared or deleted, an image not kept,
    // a brief not saved), until dismissed or until what it names is saved; empty when there is
    // none to tell.
    const std::string& storeFailure() const { return storeFailure_; }
    void dismissStoreFailure();
    const std::vector<TranscriptItem>& transcriptItems() const { return transcriptItems_; }
    const std::optional<std::string>& activeCallID() const { return activeCallID_; }
    const std::vector<std::string>& transientUpdates() const { return transientUpdates_; }
    const std::map<std::string, bool>& userExpandOverrides() const { return userExpandOverrides_; }
    // The assistant message being reported; the report sheet shows while it is present. The
    // report names the thread open when the entry was set, whatever is open when it is sent.
    const std::optional<ConversationEntry>& reportingEntry() const { return reportingEntry_; }
    void setReportingEntry(std::optional<ConversationEntry> entry);
    const std::string& reportingThreadID() const { return reporting_.threadID; }
    bool reportSentConfirmation() const { return reportSentConfirmation_; }
    // A report that could not be sent comes back as the reported entry again: the sheet then
    // starts with the description it had and says why it was not sent. Empty for a new report.
    const std::string& reportDraft() const { return reportDraft_; }
    const std::string& reportProblem() const { return reportProblem_; }
    const std::map<std::string, TrackAnalysisState>& trackAnalysisMap() const { return trackAnalysisMap_; }
    const std::vector<SongSection>& songSections() const { return songSections_; }
    void setSongSections(std::vector<SongSection> sections);  // mirrored for the agent, saved
    std::optional<int> songStartBar() const { return songStartBar_; }
    void setSongStartBar(std::optional<int> bar);  // saved
    std::optional<int> songEndBar() const { return songEndBar_; }
    void setSongEndBar(std::optional<int> bar);  // saved
    // Keyed by analysis plug-in instance ID.
    const std::map<std::string, std::string>& trackDescriptions() const { return trackDescriptions_; }
    void setTrackDescriptions(std::map<std::string, std::string> descriptions);  // mirrored, saved
    void setTrackDescription(const std::string& instanceID, const std::string& text);

    // ---- computed -------------------------------------------------------------------------------
    std::optional<std::string> currentProjectName() const;
    std::vector<std::string> projectNames() const;
    // The open chat is about another song than Logic Pro has open: what the window says about it
    // for as long as that holds; empty otherwise.
    std::string otherSongNotice() const;
    std::vector<ConversationSummary> threadsForProject(const std::optional<std::string>& projectName) const;
    // Master states first, then by track name, then by instance ID.
    std::vector<TrackAnalysisState> activeTrackStates() const;

    // ---- navigation and threads -----------------------------------------------------------------
    void loadConversations();
    // The list of chats and the open chat's title as stored now: another copy of the program
    // sharing the folder may have named or renamed chats. The window calls it when it is activated.
    void reloadThreadTitles();
    void switchConversation(const std::string& threadID);
    // Asks through the alert presenter (nothing happens without one), then clears the open chat.
    void requestClearConversation();
    // A turn running in the open chat is stopped first, as a delete stops it.
    void clearConversation();
    // Asks through the alert presenter (nothing happens without one), then deletes.
    void requestDeleteThread(const std::string& threadID);
    void deleteThread(const std::string& threadID);
    void setAlertPresenter(AlertPresenter presenter);

    // ---- project, live analysis, notices --------------------------------------------------------
    void detectLogicProject();
    void loadProjectData();
    void updateTrackAnalysis(const std::map<std::string, TrackAnalysisState>& incoming);
    // The song-brief editor's save, for the open thread.
    void saveSongBrief(const std::string& text);
    // The same for the thread the editor was opened for, whichever is open now.
    void saveSongBrief(const std::string& text, const std::string& threadID);
    // The brief of the open thread as stored now (another copy of the program, or the agent, may
    // have changed it): shown again, and what the song-brief editor opens with.
    const std::string& reloadSongBrief();
    // The editor's save over the brief it opened with (`openedWith`). A brief changed since is not
    // written over: nothing is saved, the status says so, and the brief as stored is returned for
    // the editor to show. A save the disk refused is told, and returned for the editor to keep the
    // text; one to a chat that is gone is only told: there is nowhere to save it.
    SongBriefSaveOutcome saveSongBrief(const std::string& text, const std::string& threadID,
                                       const std::string& openedWith);
    void refreshAccessibilityTrust();  // the window calls it when the application becomes active
    void dismissPluginMissingBanner();
    // The loopback API could not be served: the window says why, and the plug-in, which reports
    // through that API, is not called missing.
    void reportLoopbackUnavailable(const std::string& reason);

    // ---- the turn -------------------------------------------------------------------------------
    // Starts a turn and returns at once; whether the message went. A blank text does nothing; a
    // turn still running, the open chat deleted by another copy of the app, or the agent loop
    // refusing (another turn holds it), sends nothing, creates no thread, opens no other chat and
    // says why in unsentReason(), so the caller keeps the text and shows it.
    bool sendMessage(const std::string& text);
    // Why the last sendMessage() sent nothing; empty after one that went (or a blank text).
    const std::string& unsentReason() const { return unsentReason_; }
    void rebuildTranscriptFromEntries();
    void toggleToolCallExpanded(const std::string& callID, bool currentlyExpanded);
    bool isToolCallExpanded(const std::string& callID) const;
    // Whether an agent turn of this view model is running (its reply not yet revealed).
    bool isTurnRunning() const { return turn_.has_value(); }
    // The input bar's stop: the agent loop stops this turn, which still ends with its final
    // response, shown whole; a reply being revealed is shown whole at once and the turn ends.
    void stopTurn();

    // ---- report and dropped images --------------------------------------------------------------
    // Files the report of reportingEntry() and closes the sheet at once.
    void submitReport(const std::string& userDescription);
    // An image dropped on or picked in the input bar: queued for the thread's next message when
    // it is a PNG, JPEG or TIFF image of at most 20 MB.
    void acceptDroppedImage(const std::string& data, const std::string& fileExtension);

private:
    ChatViewModel(ChatWindowPorts ports, Environment environment);
    void start();
    void installPortCallbacks();
    void notify(Field field);
    // Stores the value and notifies, unless it equals the current one; whether it changed.
    template <class T>
    bool assign(T& member, T value, Field field) {
        if (member == value) return false;
        member = std::move(value);
        notify(field);
        return true;
    }
    platform::Clock& clock() const;

    void applyState(const ConversationStateResponse& state);
    // The thread's stored entries with the turn entries the file did not take, in their places.
    std::vector<ConversationEntry> withUnsavedEntries(const std::string& threadID,
                                                      const std::vector<ConversationEntry>& stored) const;
    std::size_t storedEntryCount(const std::string& threadID) const;
    void keepUnsavedEntries(const std::string& reply);
    // isBusy: a thread operation in progress or a turn whose reply is not yet revealed.
    void beginOperation();
    void endOperation();
    void refreshBusy();
    void setStatus(std::string text);
    // A failure: the status line says it, and keeps it until the user's next action.
    void tellFailure(const std::string& text);
    // The user did something new: the failures told before it leave the status line.
    void letGoOfFailures();
    // A change the disk refused: the status line and the window's notice say so. `scope` is what
    // the notice names (a thread ID, kProjectDataScope or kNewChatScope); it goes once that is saved again.
    void tellStoreFailure(const std::string& text, const std::string& scope);
    void storeSaved(const std::string& scope);
    static constexpr const char* kProjectDataScope = "project-data";
    static constexpr const char* kNewChatScope = "new-chat";
    void resetProjectFields();
    enum class ProjectDataChange { sections, trackDescriptions, songStartBar, songEndBar };
    void persistProjectData(ProjectDataChange changed);
    void saveSongBriefForThread(const std::string& text, const std::optional<std::string>& threadID);
    void firePluginCheck();

    std::string makeAnalysisSnapshot() const;
    void handleEvent(std::uint64_t turnID, const AgentEvent& event);
    void finishTurn(const ChatResponse& response);
    void removeThinkingIndicator();
    void appendToolCall(const ToolCallInfo& info);
    void updateToolCall(const ToolCallInfo& info);

    void beginStreaming(const std::string& text);
    void advanceStream();
    void finishStreaming();
    void stopReveal();
    void endTurnAfterDroppedReveal();
    void endTurn();
    void generateTitle(const std::string& threadID, const std::string& userMessage, const std::string& assistantReply);
    void applyTitle(const std::string& threadID, const std::string& title);
    void showReportConfirmation();
    struct Reporting;
    void reportNotSent(const ConversationEntry& entry, const Reporting& reporting, const std::string& description);
    std::int64_t heldCaptureCount(const std::string& threadID) const;
    // A dropped image the conversation file did not take: its file goes, and the user is told.
    void forgetUnkeptImage(const CaptureMetadata& capture, const std::string& threadID);
    void runInBackground(std::function<void()> work);

    ChatWindowPorts ports_;
    Environment environment_;
    AlertPresenter alertPresenter_;
    std::map<ObserverToken, Observer> observers_;
    ObserverToken nextObserverToken_ = 1;

    NavigationState navigation_;
    std::optional<std::string> detectedProjectName_;
    std::string currentThreadID_;
    std::string currentThreadTitle_;
    std::vector<ConversationSummary> threads_;
    std::vector<ConversationEntry> entries_;
    std::string songBrief_;
    std::int64_t pendingCaptureCount_ = 0;
    std::string statusMessage_ = "Ready.";
    std::string turnEndStatus_;  // the status once the turn's reply is revealed; empty: "Ready."
    std::string loopbackProblem_;
    std::string storeFailure_;
    std::string storeFailureScope_;
    std::vector<std::string> statusFailures_;
    std::string unsentReason_;
    bool isBusy_ = false;
    ModelTier selectedModelTier_ = ModelTier::standard;
    std::optional<std::string> streamingText_;
    std::optional<std::string> pendingFullResponse_;
    std::int64_t streamedLength_ = 0;
    std::int64_t revealLength_ = 0;  // characters of pendingFullResponse_
    platform::MainTimers::Handle streamTimer_;
    std::optional<platform::Clock::TimePoint> lastProjectDetection_;  // absent: the distant past
    bool pluginDetected_ = false;
    bool showPluginMissingBanner_ = false;
    bool pluginBannerDismissed_ = false;
    platform::MainTimers::Handle pluginCheckTimer_;
    bool accessibilityTrusted_ = false;
    std::vector<TranscriptItem> transcriptItems_;
    std::vector<ToolCallGroup> currentTurnToolGroups_;
    std::optional<std::string> activeCallID_;
    std::vector<std::string> transientUpdates_;
    std::map<std::string, bool> userExpandOverrides_;
    std::optional<ConversationEntry> reportingEntry_;
    struct Reporting {
        std::string threadID;
        std::vector<ConversationEntry> entries;  // the thread's, when the entry was set
    } reporting_;
    bool reportSentConfirmation_ = false;
    std::string reportDraft_;
    std::string reportProblem_;
    std::vector<platform::MainTimers::Handle> reportConfirmationTimers_;
    std::map<std::string, TrackAnalysisState> trackAnalysisMap_;
    std::vector<SongSection> songSections_;
    std::optional<int> songStartBar_;
    std::optional<int> songEndBar_;
    std::map<std::string, std::string> trackDescriptions_;

    // The running turn, from send to the end of its reveal.
    struct Turn {
        std::uint64_t id = 0;
        std::string threadID;
        bool capturesSent = false;
        bool eventsEnded = false;        // finalResponse handled; the reveal may still run
        bool stopRequested = false;      // the reply is shown whole, not revealed
        bool threadDeletedHere = false;  // the user deleted or cleared its chat: stopped, and nothing of it is a failure
        std::shared_ptr<AgentEventStream> stream;
        ConversationEntry userEntry;   // as the window showed it
        std::size_t storedBefore = 0;  // the thread's stored entries when the turn began
    };
    // Entries of turns the conversation file did not take, by thread: shown in their threads
    // while the program runs, each after the first `position` stored entries.
    struct UnsavedEntry {
        std::size_t position = 0;
        ConversationEntry entry;
    };
    std::map<std::string, std::vector<UnsavedEntry>> unsavedEntries_;
    std::optional<Turn> turn_;
    bool lastQuestionUnanswered() const;
    std::uint64_t nextTurnID_ = 1;
    // Images dropped while a turn runs, queued in the store once it has ended.
    struct HeldCapture {
        CaptureMetadata metadata;
        std::string threadID;
    };
    std::vector<HeldCapture> heldCaptures_;
    int operationsRunning_ = 0;
    int loadingProjectData_ = 0;  // while above 0 the project fields are not saved
    std::vector<std::uint64_t> workspaceObserverTokens_;

    // Threads that wait off the UI thread (turn events, title and report requests); joined last.
    struct Worker {
        platform::Lifetime::Guard running;  // ends when the thread's work has returned
        std::jthread thread;
    };
    std::vector<Worker> workers_;
};

}  // namespace corvane
