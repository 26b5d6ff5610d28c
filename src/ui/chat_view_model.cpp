#include "ui/chat_view_model.h"

#include <algorithm>
#include <set>
#include <utility>

#include "chat/chat_orchestrator.h"
#include "platform/platform.h"
#include "ui/dropped_image.h"

namespace corvane {

std::shared_ptr<ChatViewModel> ChatViewModel::create(ChatWindowPorts ports, Environment environment) {
    std::shared_ptr<ChatViewModel> model(new ChatViewModel(std::move(ports), std::move(environment)));
    model->start();
    return model;
}

ChatViewModel::ChatViewModel(ChatWindowPorts ports, Environment environment)
    : ports_(std::move(ports)), environment_(std::move(environment)) {
    selectedModelTier_ = environment_.userDefaults.string(kModelTierKey) == std::optional<std::string>("pro")
                             ? ModelTier::pro
                             : ModelTier::standard;
    accessibilityTrusted_ = ports_.logic->accessibilityTrusted();
}

void ChatViewModel::start() {
    DroppedImage::removeLeftovers();
    detectLogicProject();

    const std::weak_ptr<ChatViewModel> weak = weak_from_this();
    for (auto notification : {platform::WorkspaceNotification::didActivateApplication,
                              platform::WorkspaceNotification::didLaunchApplication,
                              platform::WorkspaceNotification::didTerminateApplication}) {
        workspaceObserverTokens_.push_back(
            platform::workspace().addObserver(notification, [weak](const platform::RunningApplication&) {
                if (auto model = weak.lock()) model->detectLogicProject();
            }));
    }
    // This application becoming active: the user may have just granted the trust.
    workspaceObserverTokens_.push_back(platform::workspace().addObserver(
        platform::WorkspaceNotification::didActivateApplication, [weak](const platform::RunningApplication& app) {
            auto model = weak.lock();
            if (model && app.processIdentifier == platform::workspace().currentApplication().processIdentifier)
                model->refreshAccessibilityTrust();
        }));
    installPortCallbacks();

    pluginCheckTimer_.reset();
    pluginCheckTimer_ = environment_.timers.schedule(std::chrono::duration<double>(kPluginCheckDelay), false, [weak] {
        if (auto model = weak.lock()) model->firePluginCheck();
    });
}

void ChatViewModel::installPortCallbacks() {
    // Each callback comes on a request or turn thread and hops to the UI thread; once the view
    // model is gone it does nothing.
    const std::weak_ptr<ChatViewModel> weak = weak_from_this();
    auto& queue = environment_.mainQueue;
    const std::weak_ptr<LiveAnalysisPort> analysis = ports_.analysis;
    ports_.analysis->setAnalysisUpdateHandler([weak, analysis, &queue](const std::string&) {
        queue.async([weak, analysis] {
            auto model = weak.lock();
            auto source = analysis.lock();
            if (!model || !source) return;
            model->updateTrackAnalysis(source->trackAnalysis());
            model->detectLogicProject();
        });
    });
    ports_.songNotes->setOnTrackDescriptionUpdate([weak, &queue](const std::string& trackName,
                                                                 const std::string& text) {
        queue.async([weak, trackName, text] {
            auto model = weak.lock();
            if (!model) return;
            for (const auto& state : model->activeTrackStates()) {
                if (state.trackName != trackName) continue;
                model->setTrackDescription(state.id, text);
                return;
            }
        });
    });
    ports_.songNotes->setOnSongBriefUpdate([weak, &queue](const std::string& brief) {
        queue.async([weak, brief] {
            auto model = weak.lock();
            if (!model) return;
            // The agent's brief belongs to the thread its turn runs in, whichever one is open.
            std::optional<std::string> threadID;
            if (model->turn_) threadID = model->turn_->threadID;
            model->saveSongBriefForThread(brief, threadID);
        });
    });
}

ChatViewModel::~ChatViewModel() {
    for (auto token : workspaceObserverTokens_) platform::workspace().removeObserver(token);
    // The callbacks refer to the main queue, which need not outlive the ports.
    ports_.analysis->setAnalysisUpdateHandler(nullptr);
    ports_.songNotes->setOnTrackDescriptionUpdate(nullptr);
    ports_.songNotes->setOnSongBriefUpdate(nullptr);
    if (turn_ && turn_->stream) {
        // The turn stops, and its reader thread no longer waits for events nobody will show.
        turn_->stream->stop();
        turn_->stream->finish();
    }
    streamTimer_.reset();
    pluginCheckTimer_.reset();
    reportConfirmationTimers_.clear();
    workers_.clear();  // joins them
}

platform::Clock& ChatViewModel::clock() const { return environment_.clock ? *environment_.clock : platform::clock(); }

// ---- change notification ---------------------------------------------------------------------

ChatViewModel::ObserverToken ChatViewModel::addObserver(Observer observer) {
    const auto token = nextObserverToken_++;
    observers_.emplace(token, std::move(observer));
    return token;
}

void ChatViewModel::removeObserver(ObserverToken token) { observers_.erase(token); }

void ChatViewModel::notify(Field field) {
    // A copy: an observer may add or remove observers.
    const auto observers = observers_;
    for (const auto& [token, observer] : observers)
        if (observers_.count(token)) observer(field);
}

// ---- fields ------------------------------------------------------------------------------------

void ChatViewModel::setNavigation(NavigationState navigation) {
    assign(navigation_, std::move(navigation), Field::navigation);
}

void ChatViewModel::setSelectedModelTier(ModelTier tier) {
    assign(selectedModelTier_, tier, Field::selectedModelTier);
    environment_.userDefaults.setString(kModelTierKey, tier == ModelTier::pro ? "pro" : "standard");
}

void ChatViewModel::setReportingEntry(std::optional<ConversationEntry> entry) {
    reportDraft_.clear();
    reportProblem_.clear();
    if (entry) {
        reporting_ = {currentThreadID_, entries_};
    } else {
        reporting_ = {};
    }
    assign(reportingEntry_, std::move(entry), Field::reportingEntry);
}

void ChatViewModel::setStatus(std::string text) { assign(statusMessage_, std::move(text), Field::statusMessage); }

void ChatViewModel::tellFailure(const std::string& text) {
    setStatus(text);
    // A turn's error event and the notice of the same refused save say one thing.
    auto withoutPrefix = [](std::string_view line) { return line.starts_with("Error: ") ? line.substr(7) : line; };
    if (std::any_of(statusFailures_.begin(), statusFailures_.end(),
                    [&](const std::string& told) { return withoutPrefix(told) == withoutPrefix(text); }))
        return;
    auto failures = statusFailures_;
    failures.push_back(text);
    assign(statusFailures_, std::move(failures), Field::statusFailures);
}

void ChatViewModel::letGoOfFailures() { assign(statusFailures_, {}, Field::statusFailures); }

void ChatViewModel::tellStoreFailure(const std::string& text, const std::string& scope) {
    tellFailure(text);
    storeFailureScope_ = scope;
    assign(storeFailure_, text, Field::storeFailure);
}

void ChatViewModel::storeSaved(const std::string& scope) {
    // The notice would name a failure that is no longer true; what the file still lacks of that
    // chat stays marked in its transcript.
    if (storeFailure_.empty() || storeFailureScope_ != scope) return;
    dismissStoreFailure();
}

void ChatViewModel::dismissStoreFailure() {
    storeFailureScope_.clear();
    assign(storeFailure_, std::string(), Field::storeFailure);
}

void ChatViewModel::beginOperation() {
    ++operationsRunning_;
    refreshBusy();
}

void ChatViewModel::endOperation() {
    --operationsRunning_;
    refreshBusy();
}

void ChatViewModel::refreshBusy() {
    // One meaning only: a thread operation in progress or a turn not yet revealed.
    assign(isBusy_, operationsRunning_ > 0 || turn_.has_value(), Field::isBusy);
}

// ---- computed ------------------------------------------------------------------------------------

std::optional<std::string> ChatViewModel::currentProjectName() const {
    if (!navigation_.isChat()) return navigation_.projectName;
    for (const auto& summary : threads_)
        if (summary.threadID == navigation_.threadID)
            return summary.projectName ? summary.projectName : detectedProjectName_;
    return detectedProjectName_;
}

std::string ChatViewModel::otherSongNotice() const {
    if (!navigation_.isChat() || !detectedProjectName_ || detectedProjectName_->empty()) return {};
    for (const auto& summary : threads_)
        if (summary.threadID == navigation_.threadID) {
            if (!summary.projectName || summary.projectName->empty() || *summary.projectName == *detectedProjectName_)
                return {};
            return ChatOrchestrator::otherSongNotice(*summary.projectName, *detectedProjectName_);
        }
    return {};
}

std::vector<std::string> ChatViewModel::projectNames() const {
    std::set<std::string> names;
    for (const auto& summary : threads_)
        if (summary.projectName) names.insert(*summary.projectName);
    if (detectedProjectName_ && !detectedProjectName_->empty()) names.insert(*detectedProjectName_);
    return {names.begin(), names.end()};
}

std::vector<ConversationSummary> ChatViewModel::threadsForProject(const std::optional<std::string>& projectName) const {
    std::vector<ConversationSummary> matching;
    for (const auto& summary : threads_)
        if (summary.projectName == projectName) matching.push_back(summary);
    return matching;
}

// ---- navigation and threads ------------------------------------------------------------------

void ChatViewModel::applyState(const ConversationStateResponse& state) {
    assign(currentThreadID_, state.currentThreadID, Field::currentThreadID);
    assign(currentThreadTitle_, state.currentThreadTitle, Field::currentThreadTitle);
    assign(threads_, state.threads, Field::threads);
    assign(entries_, withUnsavedEntries(state.currentThreadID, state.entries), Field::entries);
    assign(songBrief_, state.songBrief.value_or(""), Field::songBrief);
    assign(pendingCaptureCount_, state.pendingCaptureCount + heldCaptureCount(state.currentThreadID),
           Field::pendingCaptureCount);
    // A reveal in progress is dropped, and with it the turn it belonged to: nothing else would
    // ever end that turn's busy state.
    if (pendingFullResponse_ || streamingText_) endTurnAfterDroppedReveal();
    // The running turn's live cards stay until its final response replaces them.
    if (!turn_ || turn_->eventsEnded) currentTurnToolGroups_.clear();
    rebuildTranscriptFromEntries();
}

void ChatViewModel::loadConversations() {
    applyState(ports_.conversations->conversationState(std::nullopt));
    detectLogicProject();
    setNavigation(NavigationState::projectPage(detectedProjectName_));
    loadProjectData();
}

void ChatViewModel::reloadThreadTitles() {
    // Read only: a chat another copy deleted is left to the paths that tell of it.
    const auto state = ports_.conversations->existingThreadState(
        currentThreadID_.empty() ? std::nullopt : std::optional<std::string>(currentThreadID_));
    if (!state) return;
    assign(threads_, state->threads, Field::threads);
    if (state->currentThreadID == currentThreadID_)
        assign(currentThreadTitle_, state->currentThreadTitle, Field::currentThreadTitle);
}

void ChatViewModel::switchConversation(const std::string& threadID) {
    letGoOfFailures();
    beginOperation();
    // The running turn keeps its cards and progress lines; they show again with its thread.
    if (!turn_) {
        currentTurnToolGroups_.clear();
        assign(activeCallID_, std::optional<std::string>(), Field::activeCallID);
        assign(transientUpdates_, {}, Field::transientUpdates);
    }
    assign(userExpandOverrides_, {}, Field::userExpandOverrides);
    applyState(ports_.conversations->conversationState(threadID));
    endOperation();
}

std::vector<ConversationEntry> ChatViewModel::withUnsavedEntries(const std::string& threadID,
                                                                 const std::vector<ConversationEntry>& stored) const {
    const auto found = unsavedEntries_.find(threadID);
    if (found == unsavedEntries_.end()) return stored;
    std::vector<ConversationEntry> entries;
    entries.reserve(stored.size() + found->second.size());
    auto unsaved = found->second.begin();
    for (std::size_t i = 0; i <= stored.size(); ++i) {
        for (; unsaved != found->second.end() && (unsaved->position <= i || i == stored.size()); ++unsaved)
            entries.push_back(unsaved->entry);
        if (i < stored.size()) entries.push_back(stored[i]);
    }
    return entries;
}

std::size_t ChatViewModel::storedEntryCount(const std::string& threadID) const {
    if (threadID != currentThreadID_) return 0;  // a thread created for this message
    const auto found = unsavedEntries_.find(threadID);
    const std::size_t unsaved = found == unsavedEntries_.end() ? 0 : found->second.size();
    return entries_.size() >= unsaved ? entries_.size() - unsaved : 0;
}

void ChatViewModel::requestClearConversation() {
    const AlertPresenter presenter = alertPresenter_;
    ViewModelAlert alert;
    alert.messageText = "Clear \"" + (currentThreadTitle_.empty() ? std::string("this chat") : currentThreadTitle_) +
                        "\"?";
    alert.informativeText = "Every message in this chat will be removed. This can't be undone.";
    alert.buttons = {"Clear", "Cancel"};
    alert.destructiveButton = 0;
    if (presenter && presenter(alert) == 0) clearConversation();
}

void ChatViewModel::clearConversation() {
    letGoOfFailures();
    beginOperation();
    setStatus("Clearing this chat...");
    const std::string threadID = currentThreadID_;
    // The turn's later entries would follow no question: it ends as Stop ends it, and what the
    // store then refuses of it is the user's own doing.
    if (turn_ && turn_->threadID == threadID && !turn_->eventsEnded) {
        turn_->threadDeletedHere = true;
        stopTurn();
    }
    const auto state = ports_.conversations->clearThread(threadID);
    if (state.ok) unsavedEntries_.erase(threadID);
    applyState(state);
    if (state.ok) {
        setStatus("Cleared.");
        storeSaved(threadID);
    } else {
        tellStoreFailure("This chat was not cleared: " + state.error.value_or("it could not be stored") + ".",
                         threadID);
    }
    endOperation();
}

void ChatViewModel::setAlertPresenter(AlertPresenter presenter) { alertPresenter_ = std::move(presenter); }

void ChatViewModel::requestDeleteThread(const std::string& requested) {
    // The question waits in an event loop of its own, where what `requested` refers to may go.
    const std::string threadID = requested;
    const AlertPresenter presenter = alertPresenter_;
    std::string title = "this chat";
    for (const auto& summary : threads_)
        if (summary.threadID == threadID) {
            title = summary.title;
            break;
        }
    ViewModelAlert alert;
    alert.messageText = "Delete \"" + title + "\"?";
    alert.informativeText = "This can't be undone.";
    alert.buttons = {"Delete", "Cancel"};
    alert.destructiveButton = 0;
    if (presenter && presenter(alert) == 0) deleteThread(threadID);
}

void ChatViewModel::deleteThread(const std::string& threadID) {
    std::optional<std::string> project;
    for (const auto& summary : threads_)
        if (summary.threadID == threadID) {
            project = summary.projectName;
            break;
        }
    if (!project) project = currentProjectName();
    const bool wasCurrent = threadID == currentThreadID_;
    letGoOfFailures();
    const auto state = ports_.conversations->deleteThread(threadID);
    if (!state.ok) {
        // The chat is still there: the window stays where it is, with the list as stored.
        assign(threads_, state.threads, Field::threads);
        tellStoreFailure("The chat was not deleted: " + state.error.value_or("it could not be stored") + ".", threadID);
        return;
    }
    unsavedEntries_.erase(threadID);
    storeSaved(threadID);
    // A turn has nothing left to work for once its chat is gone: it ends as Stop ends it, and what
    // it can no longer store there is the user's own doing, not a failure to tell.
    if (turn_ && turn_->threadID == threadID) {
        turn_->threadDeletedHere = true;
        stopTurn();
    }
    applyState(state);
    if (wasCurrent) setNavigation(NavigationState::projectPage(project));
}

}  // namespace corvane
