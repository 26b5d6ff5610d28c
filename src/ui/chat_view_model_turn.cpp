// The chat turn: from the typed message through the agent's events to the reloaded thread whose
// reply is then revealed; and the rules by which the transcript is rebuilt from a thread.

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <set>

#include "chat/chat_orchestrator.h"
#include "support/iso8601.h"
#include "support/unicode.h"
#include "support/uuid.h"
#include "ui/chat_view_model.h"

namespace corvane {

namespace {

std::string trackLine(const TrackAnalysisState& state) {
    const auto& a = *state.analysis;
    return fmt::format("{}{}: LUFS:{:.1f}, lowMid:{:.0f}%, highMid:{:.0f}%, air:{:.0f}%, width:{:.0f}%, tilt:{:.1f}dB",
                       state.trackName, state.isMaster ? "(master)" : "", a.shortTermLufs, a.lowMidBandRatio * 100,
                       a.highMidBandRatio * 100, a.airBandRatio * 100, a.stereoWidth * 100, a.spectralTiltDb);
}

bool isThinking(const TranscriptItem& item) { return std::holds_alternative<TranscriptItem::Thinking>(item.value); }

std::string notSavedNotice(const std::string& saveError) {
    return saveError == ConversationStore::kClearedThreadFailure ? std::string(ChatViewModel::kClearedChatNotice)
                                                                 : ChatOrchestrator::notSavedMessage(saveError);
}

}  // namespace

std::string ChatViewModel::makeAnalysisSnapshot() const {
    if (trackAnalysisMap_.empty()) return {};
    std::vector<std::string> lines{
        "---",
        "[INTERNAL — Corvane plugin stream, NOT pasted by the user.",
        "Live readings (updated ~twice per second) from Corvane instances currently monitoring tracks.",
        "Use for quick context only — for any audio question, still run a fresh `listen_to_playback` this turn.",
        "Do NOT reference this block in your reply ('that snapshot', 'those numbers you shared', etc.). The user "
        "did not paste it.]",
    };
    for (const auto& state : activeTrackStates())
        if (state.analysis) lines.push_back(trackLine(state));
    lines.push_back("---");
    return fmt::format("{}", fmt::join(lines, "\n"));
}

namespace {

// The agent loop's answer when another turn holds it (a harness run, or another copy of the app
// in this chat): a stream that has already ended, and nothing of the message was stored.
std::optional<std::string> refusal(const std::vector<AgentEvent>& events) {
    for (const auto& event : events)
        if (const auto* final = std::get_if<AgentEvent::FinalResponse>(&event.value)) {
            const auto& message = final->response.assistantMessage;
            if (!final->response.ok &&
                (message == ChatOrchestrator::kBusyMessage || message == ChatOrchestrator::kChatBusyElsewhereMessage))
                return message;
        }
    return std::nullopt;
}

}  // namespace

bool ChatViewModel::sendMessage(const std::string& text) {
    unsentReason_.clear();
    if (text::trimmingWhitespaceAndNewlines(text).empty()) return false;
    // One turn at a time, whichever control asks (input bar, project page); the caller keeps the
    // text and shows why. The running turn keeps its status line.
    if (turn_) {
        unsentReason_ = kTurnRunningNotice;
        return false;
    }
    letGoOfFailures();
    // Refused before a chat is made for it: the caller keeps the text to shorten.
    if (auto problem = ChatOrchestrator::messageProblem(text)) {
        unsentReason_ = *problem;
        tellFailure(unsentReason_);
        return false;
    }

    // The new thread is shown only once the agent loop took the message: a refused one leaves
    // no empty thread behind.
    auto& store = *ports_.conversations;
    // Another copy of the app sharing the folder may have deleted the open chat: the message
    // would go nowhere (or into another chat), so it stays with the user, and the window stays.
    if (navigation_.isChat() && !currentThreadID_.empty() && !store.existingThreadState(currentThreadID_)) {
        unsentReason_ = kDeletedChatNotice;
        tellFailure(unsentReason_);
        assign(threads_, store.conversationState(std::nullopt).threads, Field::threads);
        return false;
    }
    std::optional<ConversationStateResponse> created;
    if (!navigation_.isChat()) {
        created = store.createThread(navigation_.projectName);
        // A refused create answers the kept state, whose current thread is another chat.
        if (!created->ok || created->currentThreadID.empty()) {
            unsentReason_ =
                "The new chat could not be created: " + created->error.value_or("it could not be stored") + ".";
            tellStoreFailure(unsentReason_, kNewChatScope);
            return false;
        }
        storeSaved(kNewChatScope);
    }
    const std::string threadID = created ? created->currentThreadID : currentThreadID_;

    ChatRequest request;
    request.message = text;
    if (auto snapshot = makeAnalysisSnapshot(); !snapshot.empty()) request.analysisSnapshot = std::move(snapshot);
    request.threadID = threadID;
    const bool capturesSent = (created ? created->pendingCaptureCount : pendingCaptureCount_) > 0;
    if (capturesSent) request.includePendingCaptures = true;
    request.modelTier = selectedModelTier_;

    auto stream = environment_.startTurn ? environment_.startTurn(request) : ports_.turns->startTurn(request);
    // A stream that ended before anyone read it is read here, once.
    std::optional<std::vector<AgentEvent>> ended;
    if (stream->finished()) ended = stream->collect();
    if (const auto refused = ended ? refusal(*ended) : std::nullopt) {
        if (created) store.deleteThread(threadID);
        unsentReason_ = *refused;
        tellFailure(unsentReason_);
        return false;
    }
    if (created) {
        applyState(*created);
        setNavigation(NavigationState::chat(currentThreadID_));
    }

    Turn turn;
    turn.id = nextTurnID_++;
    turn.threadID = threadID;
    turn.capturesSent = capturesSent;
    turn.stream = stream;
    turn.storedBefore = storedEntryCount(threadID);
    turn_ = std::move(turn);
    refreshBusy();
    turnEndStatus_.clear();
    setStatus("Thinking...");
    currentTurnToolGroups_.clear();
    transientUpdates_.clear();

    ConversationEntry entry;
    entry.timestamp = ISO8601::corvaneDefault(clock().now());
    entry.role = ConversationRole::user;
    entry.content = text;
    turn_->userEntry = entry;
    auto entries = entries_;
    entries.push_back(std::move(entry));
    assign(entries_, std::move(entries), Field::entries);
    // The active card stays as the user sees it until this turn starts a call of its own.
    rebuildTranscriptFromEntries();
    auto items = transcriptItems_;
    items.push_back(TranscriptItem::thinking(makeUUID()));
    assign(transcriptItems_, std::move(items), Field::transcriptItems);

    // The stream blocks its reader, so a thread of its own reads it and hands each event to the
    // UI thread in order; the turn ends with its final response.
    const std::weak_ptr<ChatViewModel> weak = weak_from_this();
    auto& queue = environment_.mainQueue;
    const auto turnID = turn_->id;
    if (ended) {
        for (auto& event : *ended)
            queue.async([weak, turnID, event = std::move(event)] {
                if (auto model = weak.lock()) model->handleEvent(turnID, event);
            });
        return true;
    }
    runInBackground([stream, weak, &queue, turnID] {
        while (auto event = stream->next()) {
            queue.async([weak, turnID, event = std::move(*event)] {
                if (auto model = weak.lock()) model->handleEvent(turnID, event);
            });
        }
    });
    return true;
}

void ChatViewModel::stopTurn() {
    if (!turn_) return;
    turn_->stopRequested = true;
    if (!turn_->eventsEnded) {
        if (turn_->stream) turn_->stream->stop();
        return;
    }
    // The reply is stored already: shown whole at once, the turn ends now.
    if (pendingFullResponse_) finishStreaming();
}

void ChatViewModel::handleEvent(std::uint64_t turnID, const AgentEvent& event) {
    if (!turn_ || turn_->id != turnID || turn_->eventsEnded) return;
    const bool showing = currentThreadID_ == turn_->threadID;
    std::visit(
        [&](const auto& e) {
            using E = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<E, AgentEvent::Thinking>) {
                setStatus("Thinking...");
                removeThinkingIndicator();
                if (showing) {
                    auto items = transcriptItems_;
                    items.push_back(TranscriptItem::thinking(makeUUID()));
                    assign(transcriptItems_, std::move(items), Field::transcriptItems);
                }
            } else if constexpr (std::is_same_v<E, AgentEvent::ToolCallStarted>) {
                setStatus(e.call.displayName + "...");
                removeThinkingIndicator();
                assign(activeCallID_, std::optional<std::string>(e.call.id), Field::activeCallID);
                assign(transientUpdates_, {}, Field::transientUpdates);
                appendToolCall(e.call);
            } else if constexpr (std::is_same_v<E, AgentEvent::ToolCallCompleted>) {
                updateToolCall(e.call);
                setStatus(std::string(e.call.succeeded == true ? "Done" : "Failed") + ": " +
                          e.call.summary.value_or(e.call.displayName));
            } else if constexpr (std::is_same_v<E, AgentEvent::InterimAssistantMessage>) {
                auto updates = transientUpdates_;
                updates.push_back(e.text);
                assign(transientUpdates_, std::move(updates), Field::transientUpdates);
                rebuildTranscriptFromEntries();
            } else if constexpr (std::is_same_v<E, AgentEvent::Error>) {
                if (turn_->threadDeletedHere) return;
                if (e.saveError)
                    tellStoreFailure(notSavedNotice(*e.saveError), turn_->threadID);
                else
                    tellFailure("Error: " + e.message);
            } else if constexpr (std::is_same_v<E, AgentEvent::FinalResponse>) {
                finishTurn(e.response);
            }
        },
        event.value);
}

void ChatViewModel::finishTurn(const ChatResponse& response) {
    turn_->eventsEnded = true;
    removeThinkingIndicator();
    assign(transientUpdates_, {}, Field::transientUpdates);
    if (turn_->capturesSent && pendingCaptureCount_ != 0)
        assign(pendingCaptureCount_, std::int64_t{0}, Field::pendingCaptureCount);
    // Every entry of the turn was stored: a notice that its chat was not saved is no longer true
    // (told before the images below, which the file may still refuse).
    if (!response.saveError && !turn_->threadDeletedHere && ports_.conversations->existingThreadState(turn_->threadID))
        storeSaved(turn_->threadID);
    // Images dropped during the turn: the turn's end cleared the thread's queue, these go with
    // the next message.
    auto held = std::move(heldCaptures_);
    heldCaptures_.clear();
    for (const auto& capture : held)
        if (!ports_.conversations->appendPendingCapture(capture.metadata, capture.threadID))
            forgetUnkeptImage(capture.metadata, capture.threadID);

    auto& store = *ports_.conversations;
    // The window keeps the thread it shows: a turn that ran in another one only updates the list
    // (and a thread deleted while its turn ran is not brought back).
    // As the file has it: another copy of the app may have deleted the thread meanwhile.
    const std::string& turnThread = turn_->threadID;
    const bool threadExists = store.existingThreadState(turnThread).has_value();
    const bool turnShown = threadExists && currentThreadID_ == turnThread;
    const bool deletedHere = turn_->threadDeletedHere;
    if (response.saveError && !deletedHere) {
        turnEndStatus_ = notSavedNotice(*response.saveError);
        tellStoreFailure(turnEndStatus_, turnThread);
        if (threadExists) keepUnsavedEntries(response.assistantMessage);
    }
    if (!threadExists && currentThreadID_ == turnThread && !deletedHere) {
        // The store would answer for another chat: the window keeps this one as it was shown,
        // and the next message is refused rather than sent there.
        turnEndStatus_ =
            "This chat was deleted in another copy of Corvane while Corvane worked on it: the reply was not kept.";
        tellStoreFailure(turnEndStatus_, turnThread);
        assign(threads_, store.conversationState(std::nullopt).threads, Field::threads);
        assign(pendingCaptureCount_, std::int64_t{0}, Field::pendingCaptureCount);
        currentTurnToolGroups_.clear();
        rebuildTranscriptFromEntries();
    } else {
        applyState(store.conversationState(turnShown ? turnThread : currentThreadID_));
    }

    if (turnShown) {
        std::optional<std::string> lastCall;
        for (const auto& entry : entries_)
            if (entry.role == ConversationRole::toolCall) lastCall = entry.toolCallID;
        assign(activeCallID_, lastCall, Field::activeCallID);
    }

    if (threadExists) {
        const auto turnEntries = turnShown ? entries_ : store.conversationState(turnThread).entries;
        int userEntries = 0;
        const ConversationEntry* firstUser = nullptr;
        for (const auto& entry : turnEntries)
            if (entry.role == ConversationRole::user) {
                if (!firstUser) firstUser = &entry;
                ++userEntries;
            }
        if (userEntries == 1) generateTitle(turnThread, firstUser->content, response.assistantMessage);
    }

    // A reply is revealed in its own thread only; elsewhere it is in the list when opened.
    beginStreaming(turnShown ? response.assistantMessage : std::string());
}

void ChatViewModel::keepUnsavedEntries(const std::string& reply) {
    const auto stored = ports_.conversations->existingThreadState(turn_->threadID);
    if (!stored) return;
    const auto& entries = stored->entries;
    // What of the turn did reach the file is shown from there.
    bool userStored = false, replyStored = reply.empty();
    for (std::size_t i = std::min(turn_->storedBefore, entries.size()); i < entries.size(); ++i) {
        const auto& entry = entries[i];
        userStored = userStored || (entry.role == ConversationRole::user && entry.content == turn_->userEntry.content);
        replyStored = replyStored || (entry.role == ConversationRole::assistant && entry.content == reply);
    }
    std::set<std::string> storedCalls;
    std::optional<std::int64_t> userIndex;
    for (std::size_t i = std::min(turn_->storedBefore, entries.size()); i < entries.size(); ++i) {
        if (entries[i].toolCallID) storedCalls.insert(*entries[i].toolCallID);
        if (entries[i].role == ConversationRole::user && !userIndex) userIndex = static_cast<std::int64_t>(i);
    }
    auto& kept = unsavedEntries_[turn_->threadID];
    const std::size_t keptBefore = kept.size();
    const std::size_t end = entries.size();
    if (!userStored) {
        userIndex = static_cast<std::int64_t>(std::min(turn_->storedBefore, end));
        kept.push_back({std::min(turn_->storedBefore, end), turn_->userEntry});
    }
    // The calls the file did not take keep their cards: the file holds a prefix of the turn, so
    // they all come after what it holds.
    for (const auto& group : currentTurnToolGroups_)
        for (const auto& call : group.toolCalls) {
            if (storedCalls.count(call.id)) continue;
            ConversationEntry entry;
            entry.timestamp = ISO8601::corvaneDefault(clock().now());
            entry.role = ConversationRole::toolCall;
            entry.toolCallID = call.id;
            entry.toolName = call.toolName;
            entry.arguments = call.arguments;
            entry.roundIndex = call.roundIndex;
            entry.succeeded = call.succeeded.value_or(false);
            entry.summary = call.summary;
            entry.resultJSON = call.resultJSON;
            entry.userEntryIndex = userIndex;
            kept.push_back({end, std::move(entry)});
        }
    if (!replyStored) {
        ConversationEntry entry;
        entry.timestamp = ISO8601::corvaneDefault(clock().now());
        entry.role = ConversationRole::assistant;
        entry.content = reply;
        kept.push_back({end, std::move(entry)});
    }
    // What is shown but not kept says so, after the notice has gone.
    if (kept.size() > keptBefore) {
        ConversationEntry note;
        note.timestamp = "unsaved-" + makeUUID();
        note.role = ConversationRole::update;
        note.content = kUnsavedTurnNote;
        kept.push_back({end, std::move(note)});
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const UnsavedEntry& a, const UnsavedEntry& b) { return a.position < b.position; });
}

void ChatViewModel::removeThinkingIndicator() {
    if (std::none_of(transcriptItems_.begin(), transcriptItems_.end(), isThinking)) return;
    auto items = transcriptItems_;
    std::erase_if(items, isThinking);
    assign(transcriptItems_, std::move(items), Field::transcriptItems);
}

void ChatViewModel::appendToolCall(const ToolCallInfo& info) {
    if (!currentTurnToolGroups_.empty() && currentTurnToolGroups_.back().roundIndex == info.roundIndex) {
        currentTurnToolGroups_.back().toolCalls.push_back(info);
    } else {
        currentTurnToolGroups_.push_back(ToolCallGroup{makeUUID(), info.roundIndex, {info}});
    }
    rebuildTranscriptFromEntries();
}

void ChatViewModel::updateToolCall(const ToolCallInfo& info) {
    for (auto& group : currentTurnToolGroups_)
        for (auto& call : group.toolCalls)
            if (call.id == info.id) {
                call = info;
                rebuildTranscriptFromEntries();
                return;
            }
}

void ChatViewModel::rebuildTranscriptFromEntries() {
    // The running turn's live cards and progress lines belong to its thread only; the calls
    // they show are in the thread's stored entries too once the turn stored them.
    const bool turnRunning = turn_ && !turn_->eventsEnded;
    const bool liveShown = !turnRunning || currentThreadID_ == turn_->threadID;
    std::set<std::string> liveCallIDs;
    if (turnRunning && liveShown)
        for (const auto& group : currentTurnToolGroups_)
            for (const auto& call : group.toolCalls) liveCallIDs.insert(call.id);

    std::vector<TranscriptItem> items;
    std::map<std::int64_t, ToolCallGroup> pending;
    auto flush = [&] {
        for (auto& [round, group] : pending) items.push_back(TranscriptItem::toolCallGroup(std::move(group)));
        pending.clear();
    };
    auto unansweredNote = [](std::string id) {
        ConversationEntry note;
        note.timestamp = std::move(id);
        note.role = ConversationRole::update;
        note.content = kUnansweredNote;
        return TranscriptItem::message(std::move(note));
    };
    // A question whose turn stored no reply keeps its note when another question follows it.
    std::optional<std::size_t> openQuestion;
    for (std::size_t index = 0; index < entries_.size(); ++index) {
        const auto& entry = entries_[index];
        switch (entry.role) {
            case ConversationRole::user:
                flush();
                if (openQuestion) items.push_back(unansweredNote("unanswered-" + std::to_string(*openQuestion)));
                openQuestion = index;
                items.push_back(TranscriptItem::message(entry));
                break;
            case ConversationRole::assistant:
                openQuestion.reset();
                [[fallthrough]];
            case ConversationRole::update:
                flush();
                items.push_back(TranscriptItem::message(entry));
                break;
            case ConversationRole::tool:
            case ConversationRole::system: break;
            case ConversationRole::toolCall: {
                if (!entry.toolCallID || !entry.toolName || liveCallIDs.count(*entry.toolCallID)) break;
                ToolCallInfo info;
                info.id = *entry.toolCallID;
                info.toolName = *entry.toolName;
                info.displayName = ToolCallInfo::displayNameFor(*entry.toolName);
                info.arguments = entry.arguments.value_or("");
                info.roundIndex = entry.roundIndex.value_or(0);
                info.status = entry.succeeded == false ? ToolCallStatus::failed : ToolCallStatus::completed;
                info.summary = entry.summary;
                info.succeeded = entry.succeeded;
                info.resultJSON = entry.resultJSON;
                auto found = pending.find(info.roundIndex);
                if (found != pending.end()) {
                    found->second.toolCalls.push_back(std::move(info));
                } else {
                    const auto round = info.roundIndex;
                    pending.emplace(round, ToolCallGroup{"user-" + std::to_string(entry.userEntryIndex.value_or(-1)) +
                                                             "-round-" + std::to_string(round),
                                                         round,
                                                         {std::move(info)}});
                }
                break;
            }
        }
    }
    flush();
    if (lastQuestionUnanswered()) items.push_back(unansweredNote("unanswered"));
    if (liveShown) {
        for (const auto& group : currentTurnToolGroups_) items.push_back(TranscriptItem::toolCallGroup(group));
        for (std::size_t i = 0; i < transientUpdates_.size(); ++i) {
            ConversationEntry line;
            line.timestamp = "transient-" + std::to_string(i);
            line.role = ConversationRole::update;
            line.content = transientUpdates_[i];
            items.push_back(TranscriptItem::message(std::move(line)));
        }
    }
    assign(transcriptItems_, std::move(items), Field::transcriptItems);
}

bool ChatViewModel::lastQuestionUnanswered() const {
    // The turn may have stored tool calls (and their outputs) before it was quit: a question is
    // answered by a reply only.
    const auto question = std::find_if(entries_.rbegin(), entries_.rend(), [](const ConversationEntry& entry) {
        return entry.role == ConversationRole::user || entry.role == ConversationRole::assistant;
    });
    if (question == entries_.rend() || question->role != ConversationRole::user) return false;
    // This program's turn there is still working (its end shows the note where it stored no
    // reply); one of another copy may be.
    if (turn_ && turn_->threadID == currentThreadID_) return false;
    const FileLock free = ports_.conversations->lockChatTurn(currentThreadID_);
    return free.held() || free.refusal() != std::optional<std::string>(std::string(kFolderHeldByAnotherCopy));
}

void ChatViewModel::toggleToolCallExpanded(const std::string& callID, bool currentlyExpanded) {
    auto overrides = userExpandOverrides_;
    overrides[callID] = !currentlyExpanded;
    assign(userExpandOverrides_, std::move(overrides), Field::userExpandOverrides);
}

bool ChatViewModel::isToolCallExpanded(const std::string& callID) const {
    if (auto found = userExpandOverrides_.find(callID); found != userExpandOverrides_.end()) return found->second;
    return activeCallID_ && *activeCallID_ == callID;
}

}  // namespace corvane
