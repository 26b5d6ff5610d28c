#include "chat/chat_orchestrator.h"

#include <array>
#include <exception>
#include <future>
#include <utility>

#include "chat/chat_response_composer.h"
#include "chat/turn_end.h"
#include "model/logic_snapshot_models.h"
#include "platform/platform.h"
#include "shield/input_shield.h"
#include "support/json_fields.h"
#include "support/unicode.h"

namespace corvane {

namespace {

// Phrases of a model that claims it cannot read plug-in parameters, in the order they are tried.
constexpr std::array<const char*, 8> kRefusalPhrases{
    "i'm going to pull",    "i'll pull",         "i need to read", "can't read its parameter",
    "send me a screenshot", "send a screenshot", "i can't see",    "i don't have access"};

// Thrown at the turn's own stop checks; only the user's Stop ends a turn as cancelled.
struct TurnStopped {};

bool isBlank(const std::string& text) { return text::trimmingWhitespaceAndNewlines(text).empty(); }

ToolCallInfo startedInfo(const AgentToolCall& call, int roundIndex) {
    ToolCallInfo info;
    info.id = call.callID;
    info.toolName = call.name;
    info.displayName = ToolCallInfo::displayNameFor(call.name);
    info.arguments = call.argumentsJSON;
    info.roundIndex = roundIndex;
    info.status = ToolCallStatus::running;
    return info;
}

bool hasOwnCard(const AgentToolCall& call) { return call.name != "update_user" && call.name != "respond"; }

}  // namespace

AgentLoopError AgentLoopError::roundLimit() {
    return AgentLoopError(kRoundLimitCode, "The agent loop reached its round limit before finishing.");
}

// Everything one turn keeps; owned by the turn's thread, so two turns never share it.
struct ChatOrchestrator::Turn {
    ChatRequest request;
    std::shared_ptr<AgentEventStream> stream;
    std::stop_token stop;

    std::string threadID;
    std::int64_t userEntryIndex = 0;
    std::optional<std::string> projectName;
    bool includeCaptures = false;
    int roundIndex = 0;
    std::string previousResponseID;
    std::vector<ToolExecution> toolsUsed;
    std::optional<InstalledPluginInventory> installedPlugins;
    std::optional<std::string> previousToolSignature;
    bool freeTextNudgeAvailable = true;
    bool parameterNudgeSent = false;
    std::optional<std::string> saveError;  // why an entry of the turn did not reach the file
    // Every write of the turn to its chat, the tools' notes included; made once the chat is known.
    std::unique_ptr<TurnWriter> writer;
    FileLock chatLock;  // the chat's turn, against other copies sharing the folder
    std::future<std::optional<std::string>> logWritten;  // the first end of the turn's tool log
};

ChatOrchestrator::ChatOrchestrator(Services services, Providers providers)
    : services_(std::move(services)),
      providers_(std::move(providers)),
      toolExecutor_(ChatToolExecutor::Services{services_.pluginInventoryService, services_.conversationStore,
                                               services_.memoryStore, services_.logicInspector,
                                               services_.pluginInspector, services_.toolLogger, services_.host}),
      attachmentLoader_(services_.conversationStore) {}

ChatOrchestrator::~ChatOrchestrator() {
    std::jthread running;
    toolExecutor_.noteProgramEnding();
    {
        std::lock_guard lock(turnMutex_);
        if (currentStop_) currentStop_->request_stop();
        running = std::move(currentTurnThread_);
    }
    // joins here, outside the lock the turn takes when it ends
}

namespace {

// A turn that never starts: by default because two turns would post keys and clicks into the same
// Logic Pro at once.
std::shared_ptr<AgentEventStream> refusedStream(const ChatRequest& request,
                                                const std::string& why = ChatOrchestrator::kBusyMessage) {
    auto stream = std::make_shared<AgentEventStream>();
    ChatResponse refused;
    refused.ok = false;
    refused.assistantMessage = why;
    refused.threadID = request.threadID.value_or("");
    stream->yield(AgentEvent::error(why));
    stream->yield(AgentEvent::finalResponse(std::move(refused)));
    stream->finish();
    return stream;
}

}  // namespace

TurnReservation::TurnReservation(TurnReservation&& other) noexcept
    : owner_(std::exchange(other.owner_, nullptr)), id_(other.id_) {}

TurnReservation& TurnReservation::operator=(TurnReservation&& other) noexcept {
    if (this != &other) {
        if (owner_) owner_->release(id_);
        owner_ = std::exchange(other.owner_, nullptr);
        id_ = other.id_;
    }
    return *this;
}

TurnReservation::~TurnReservation() {
    if (owner_) owner_->release(id_);
}

TurnReservation ChatOrchestrator::reserveTurn(TurnOwner owner) {
    std::lock_guard lock(turnMutex_);
    if (holder_) return {};
    holder_ = Holder{++nextReservationID_, owner, true, false};
    return TurnReservation(this, holder_->id);
}

void ChatOrchestrator::release(std::uint64_t reservationID) {
    std::lock_guard lock(turnMutex_);
    if (!holder_ || holder_->id != reservationID) return;
    holder_->reservationHeld = false;
    if (!holder_->turnRunning) holder_.reset();
}

std::optional<std::string> ChatOrchestrator::messageProblem(const std::string& message) {
    if (message.size() <= kMaxMessageBytes) return std::nullopt;
    return "The message is too long to send: it holds " + std::to_string(message.size()) +
           " bytes and the chat backend accepts at most " + std::to_string(kMaxMessageBytes) +
           " (4 MiB). Shorten it and send it again.";
}

FileLock ChatOrchestrator::lockChat(const ChatRequest& request) {
    if (!request.threadID || request.threadID->empty()) return FileLock{};
    return services_.conversationStore.lockChatTurn(*request.threadID);
}

std::shared_ptr<AgentEventStream> ChatOrchestrator::handleChatStreaming(const ChatRequest& request) {
    if (auto tooLong = messageProblem(request.message)) return refusedStream(request, *tooLong);
    const TurnReservation reservation = reserveTurn(TurnOwner::window);
    if (!reservation) return refusedStream(request);
    return handleChatStreaming(reservation, request);
}

std::shared_ptr<AgentEventStream> ChatOrchestrator::handleChatStreaming(const TurnReservation& reservation,
                                                                        const ChatRequest& request) {
    if (auto tooLong = messageProblem(request.message)) return refusedStream(request, *tooLong);
    const auto holds = [&] {
        return reservation.owner_ == this && holder_ && holder_->id == reservation.id_ && !holder_->turnRunning;
    };
    {
        std::lock_guard lock(turnMutex_);
        if (!holds()) return refusedStream(request);
    }
    // Taken outside turnMutex_: the lock's wait reads the clock, and a Stop may come from the clock.
    auto chatLock = lockChat(request);
    if (const auto& refusal = chatLock.refusal())
        return refusedStream(request, *refusal == kFolderHeldByAnotherCopy ? std::string(kChatBusyElsewhereMessage)
                                                                           : chatNotLockedMessage(*refusal));
    std::lock_guard lock(turnMutex_);
    if (!holds()) return refusedStream(request);
    return startTurn(request, std::move(chatLock));
}

std::shared_ptr<AgentEventStream> ChatOrchestrator::startTurn(const ChatRequest& request, FileLock chatLock) {
    // The previous turn has let go of the loop and does nothing after that but finish its stream.
    if (currentTurnThread_.joinable()) currentTurnThread_.join();
    holder_->turnRunning = true;

    auto stream = std::make_shared<AgentEventStream>();
    auto turn = std::make_shared<Turn>();
    turn->request = request;
    turn->stream = stream;
    turn->chatLock = std::move(chatLock);
    currentTurnThread_ = std::jthread([this, turn](std::stop_token stop) {
        turn->stop = std::move(stop);
        runTurn(*turn);
    });
    currentStop_ = currentTurnThread_.get_stop_source();
    stream->bindStop(currentTurnThread_.get_stop_source());
    return stream;
}

void ChatOrchestrator::cancelCurrentTurn() {
    std::lock_guard lock(turnMutex_);
    // Only marks the turn: the shield stays up until the running tool has returned.
    if (currentStop_ && holder_ && holder_->owner == TurnOwner::window && holder_->turnRunning)
        currentStop_->request_stop();
}

void ChatOrchestrator::stopForEnding() {
    toolExecutor_.noteProgramEnding();
    std::lock_guard lock(turnMutex_);
    if (currentStop_) currentStop_->request_stop();
}

bool ChatOrchestrator::isTurnRunning() const {
    std::lock_guard lock(turnMutex_);
    return holder_ && holder_->turnRunning;
}

std::vector<BackendChatRequestBuilder::TrackListEntry> ChatOrchestrator::collectAllTracks() const {
    return collectAllTracks(services_.logicInspector);
}

std::vector<BackendChatRequestBuilder::TrackListEntry> ChatOrchestrator::collectAllTracks(const LogicInspector& logic) {
    const platform::AXReadScope reads;
    const LogicInspector::KeptPlaces places(logic);
    std::vector<BackendChatRequestBuilder::TrackListEntry> tracks;
    auto window = logic.findMainWindow();
    if (!window) return tracks;
    for (const auto& row : logic.findTrackHeadersWithIndent(*window)) {
        tracks.push_back({row.header.name, static_cast<int>(row.header.trackNumber), row.header.isFolder,
                          row.header.isMuted, static_cast<int>(row.indentLevel)});
    }
    return tracks;
}

// --- The turn ------------------------------------------------------------------------------------

void ChatOrchestrator::runTurn(Turn& turn) {
    InputShield::shared().beginTurn("");
    auto& store = services_.conversationStore;
    const ChatRequest& request = turn.request;

    // A chat gone since the message was typed: its turn never goes into another chat.
    const auto existing = store.existingThreadState(request.threadID);
    if (!existing) {
        endForMissingThread(turn, store.lastFailure());
        return;
    }
    const auto& state = *existing;
    turn.threadID = state.currentThreadID;
    turn.userEntryIndex = static_cast<std::int64_t>(state.entries.size());
    turn.writer = std::make_unique<TurnWriter>(store, turn.threadID, turn.chatLock.lockedFile());
    turn.includeCaptures = request.includePendingCaptures.value_or(false);
    try {
        // The history before the user's entry: read before storing it, so that the store's write
        // (and its flush to disk) runs beside the rest of the request's preparation and the first
        // request, not ahead of them. The new message goes once, as the request's last item, with
        // its context.
        const auto recent = store.recentEntries(turn.threadID, kHistoryEntries - 1);
        const auto songBrief = store.songBrief(turn.threadID);
        const auto attachments = attachmentLoader_.loadAttachedCaptureInput(turn.threadID, turn.includeCaptures);
        // Joined before the reply is handled (or the turn ends), so every later entry of the
        // turn is stored after the user's.
        std::jthread storeUserEntry([this, &turn] { noteStored(turn, turn.writer->question(turn.request.message)); });
        toolExecutor_.setInterimUpdateHandler([stream = turn.stream](const std::string& text) {
            stream->yield(AgentEvent::interimAssistantMessage(text));
        });

        // The message itself unless a snapshot rides along: a long message is held once.
        std::string withSnapshot;
        if (request.analysisSnapshot) withSnapshot = request.message + "\n\n" + *request.analysisSnapshot;
        const std::string& userText = request.analysisSnapshot ? withSnapshot : request.message;
        const HealthResponse health = providers_.healthSnapshot ? providers_.healthSnapshot() : HealthResponse{};
        for (const auto& summary : state.threads)
            if (summary.threadID == turn.threadID) turn.projectName = summary.projectName;
        // Whatever the turn reads or changes is in the song Logic Pro has open: when that is not the
        // chat's, the user and the agent hear of it before any tool runs.
        std::optional<std::string> otherSong;
        if (const auto open = openProjectName(health.logic);
            open && turn.projectName && !turn.projectName->empty() && *open != *turn.projectName)
            otherSong = *open;
        if (otherSong)
            turn.stream->yield(AgentEvent::interimAssistantMessage(otherSongNotice(*turn.projectName, *otherSong)));
        const auto analysis = providers_.trackAnalysis ? providers_.trackAnalysis() : std::vector<TrackAnalysisState>{};
        const auto tracks = collectAllTracks();
        const auto descriptions =
            providers_.trackDescriptions ? providers_.trackDescriptions() : std::map<std::string, std::string>{};
        const auto sections = providers_.songSections ? providers_.songSections() : std::vector<SongSection>{};
        services_.toolLogger.beginTurn(request.message, turn.threadID);
        turn.stream->yield(AgentEvent::thinking());

        auto memories = services_.memoryStore.masterMemories();
        if (turn.projectName && !turn.projectName->empty()) {
            auto song = services_.memoryStore.songMemories(*turn.projectName);
            memories.insert(memories.end(), song.begin(), song.end());
        }
        std::string context = requestBuilder_.makeRuntimeContext(health, turn.projectName, analysis, tracks,
                                                                 descriptions, sections, memories);
        if (otherSong) context += "\n\n" + otherSongContext(*turn.projectName, *otherSong);
        const auto body =
            requestBuilder_.makeAgentRequestBody(request.modelTier, recent, userText, songBrief, context, attachments);

        nlohmann::json reply = send(turn, body);
        storeUserEntry.join();
        if (const auto index = turn.writer->questionIndex()) turn.userEntryIndex = static_cast<std::int64_t>(*index);
        // Kept after the user's message, so the chat still says which song the turn worked on.
        if (otherSong)
            noteStored(turn, storeEntry(turn, ConversationRole::update, otherSongNotice(*turn.projectName, *otherSong)));
        for (;;) {
            if (turn.stop.stop_requested()) throw TurnStopped{};
            const AgentStep step = BackendChatResponseParser::parseAgentStep(reply);
            turn.previousResponseID = step.responseID;
            nlohmann::json next;
            if (auto ended = handleReply(turn, step, next)) {
                endWithReply(turn, *ended);
                return;
            }
            reply = std::move(next);
            ++turn.roundIndex;
        }
    } catch (const TurnStopped&) {
        endWithFailure(turn, stoppedDescription(), true);
    } catch (const std::exception& e) {
        // A backend error that merely says "cancelled" is an error; only the turn's Stop cancels.
        const bool stopped = turn.stop.stop_requested();
        endWithFailure(turn, stopped ? stoppedDescription() : std::string(e.what()), stopped);
    }
}

nlohmann::json ChatOrchestrator::send(Turn& turn, const nlohmann::json& body) {
    if (turn.stop.stop_requested()) throw TurnStopped{};
    return services_.backendChatService.sendRequest(body, turn.stop);
}

std::optional<std::string> ChatOrchestrator::handleReply(Turn& turn, const AgentStep& step, nlohmann::json& nextReply) {
    if (step.assistantText && step.toolCalls.empty()) {
        const std::string lower = text::lowercased(*step.assistantText);
        bool refusal = false;
        for (const char* phrase : kRefusalPhrases) {
            if (lower.find(phrase) != std::string::npos) {
                refusal = true;
                break;
            }
        }
        const bool nudgesLeft = turn.roundIndex < kRoundLimit;
        if (refusal && !turn.parameterNudgeSent && nudgesLeft) {
            turn.parameterNudgeSent = true;
            sendNudge(turn, kParameterNudge, nextReply);
            return std::nullopt;
        }
        if (turn.freeTextNudgeAvailable && nudgesLeft) {
            turn.freeTextNudgeAvailable = false;
            sendNudge(turn, kFreeTextNudge, nextReply);
            return std::nullopt;
        }
        return *step.assistantText;
    }
    if (turn.roundIndex >= kRoundLimit) {
        cleanUpLogic();
        platform::mainQueue().async([] { platform::workspace().activateCurrentApplication(true); });
        endToolLog(turn, turn.roundIndex, std::nullopt);
        throw AgentLoopError::roundLimit();
    }
    if (!step.toolCalls.empty()) return runToolRound(turn, step, nextReply);
    sendNudge(turn, kEmptyReplyNudge, nextReply);
    return std::nullopt;
}

void ChatOrchestrator::sendNudge(Turn& turn, const char* text, nlohmann::json& nextReply) {
    turn.stream->yield(AgentEvent::thinking());
    nextReply = send(turn, requestBuilder_.makeContinuationBody(turn.request.modelTier, turn.previousResponseID, {},
                                                                std::string(text)));
}

std::optional<std::string> ChatOrchestrator::runToolRound(Turn& turn, const AgentStep& step,
                                                          nlohmann::json& nextReply) {
    const auto& calls = step.toolCalls;
    for (const auto& call : calls) {
        if (!hasOwnCard(call)) continue;
        auto info = startedInfo(call, turn.roundIndex);
        InputShield::shared().updateTool(info.displayName);
        turn.stream->yield(AgentEvent::toolCallStarted(std::move(info)));
    }

    auto outputs =
        toolExecutor_.executeToolCalls(calls, turn.request, turn.threadID, turn.roundIndex, turn.projectName,
                                       turn.installedPlugins, turn.toolsUsed, turn.previousToolSignature, turn.stop,
                                       turn.writer.get());

    const auto findOutput = [&outputs](const std::string& callID) -> AgentToolOutputPayload* {
        for (auto& output : outputs)
            if (output.callID == callID) return &output;
        return nullptr;
    };

    // The executor appends one record per call, so the round's records are the last ones.
    const auto firstRecord =
        static_cast<std::ptrdiff_t>(turn.toolsUsed.size()) - static_cast<std::ptrdiff_t>(calls.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const auto& call = calls[i];
        if (!hasOwnCard(call)) continue;
        auto info = startedInfo(call, turn.roundIndex);
        const auto position = firstRecord + static_cast<std::ptrdiff_t>(i);
        const ToolExecution* record = position >= 0 && position < static_cast<std::ptrdiff_t>(turn.toolsUsed.size())
                                          ? &turn.toolsUsed[static_cast<std::size_t>(position)]
                                          : nullptr;
        info.status = record && record->succeeded ? ToolCallStatus::completed : ToolCallStatus::failed;
        if (record) {
            info.summary = record->summary;
            info.succeeded = record->succeeded;
        }
        if (const auto* output = findOutput(call.callID)) info.resultJSON = output->outputJSON;
        noteStored(turn, storeToolCall(turn, info));
        turn.stream->yield(AgentEvent::toolCallCompleted(std::move(info)));
    }

    const AgentToolCall* respond = nullptr;
    for (const auto& call : calls) {
        if (call.name == "respond") {
            respond = &call;
            break;
        }
    }
    AgentToolOutputPayload* respondOutput = respond ? findOutput(respond->callID) : nullptr;
    if (respondOutput) {
        const auto object = nlohmann::json::parse(respondOutput->outputJSON, nullptr, false);
        if (!object.is_discarded() && object.is_object()) {
            const auto prose = object.find("prose");
            const bool failed = (object.contains("status") && object["status"] == "error") || prose == object.end() ||
                                !prose->is_string() || isBlank(prose->get<std::string>());
            if (!failed) return endWithRespond(turn, *respond, object);
            // An error output already says what went wrong; an "ok" without prose does not.
            if (!(object.contains("status") && object["status"] == "error"))
                *respondOutput = ChatToolExecutor::makeErrorToolOutput(respond->callID, kBlankRespondMessage);
        }
    }

    turn.stream->yield(AgentEvent::thinking());
    nextReply =
        send(turn, requestBuilder_.makeContinuationBody(turn.request.modelTier, turn.previousResponseID, outputs, {}));
    return std::nullopt;
}

}  // namespace corvane

namespace corvane {

std::string ChatOrchestrator::endWithRespond(Turn& turn, const AgentToolCall& respond, const nlohmann::json& output) {
    const auto diagramType = output.find("diagramType");
    if (diagramType != output.end() && diagramType->is_string()) {
        ToolCallInfo card;
        card.id = respond.callID;
        card.toolName = "show_visual";
        card.displayName = "Analysis";
        card.arguments = respond.argumentsJSON;
        card.roundIndex = turn.roundIndex;
        card.status = ToolCallStatus::completed;
        card.succeeded = true;
        card.summary = json_fields::lenientText(output, "diagramSummary").value_or("Analysis");
        nlohmann::json visual = output;
        visual.erase("prose");
        visual.erase("diagramSummary");
        try {
            card.resultJSON = visual.dump();
        } catch (const nlohmann::json::exception&) {
            card.resultJSON.reset();  // text that is not UTF-8
        }
        turn.stream->yield(AgentEvent::toolCallStarted(card));
        noteStored(turn, storeToolCall(turn, card));
        turn.stream->yield(AgentEvent::toolCallCompleted(std::move(card)));
    }
    return output["prose"].get<std::string>();
}

// --- Ending a turn ---------------------------------------------------------------------------------

void ChatOrchestrator::cleanUpLogic() const {
    cleanUpLogicAfterTurn(services_.logicInspector, services_.pluginInspector);
}

namespace {
// The answer names the chat the turn was about, even one deleted meanwhile (whose state answer
// shows the chat the window lands on instead).
void nameTurnsThread(ChatResponse& response, const std::string& threadID, const ConversationStateResponse& state) {
    response.threadID = threadID;
    if (state.currentThreadID == threadID) response.threadTitle = state.currentThreadTitle;
    response.availableThreads = state.threads;
}
}  // namespace

void ChatOrchestrator::endWithReply(Turn& turn, const std::string& reply) {
    // An empty reply reported as a success would leave the user with nothing to read.
    if (isBlank(reply)) {
        endWithFailure(turn, kNoReplyDescription, false);
        return;
    }
    auto& store = services_.conversationStore;
    if (turn.includeCaptures) noteStored(turn, turn.writer->clearPendingCaptures());
    cleanUpLogic();
    platform::mainQueue().async([] { platform::workspace().activateCurrentApplication(true); });
    endToolLog(turn, turn.roundIndex, reply);
    noteStored(turn, storeEntry(turn, ConversationRole::assistant, reply));
    const auto state = store.conversationState(turn.threadID);

    ChatResponse response;
    response.ok = true;
    response.assistantMessage = reply;
    response.toolsUsed = turn.toolsUsed;
    response.activitySummary = ChatResponseComposer::makeActivitySummary(turn.toolsUsed);
    nameTurnsThread(response, turn.threadID, state);
    reportLogFailure(turn);
    reportSaveFailure(turn, response);
    finishTurn(turn, std::move(response));
}

void ChatOrchestrator::endWithFailure(Turn& turn, const std::string& description, bool cancelled) {
    auto& store = services_.conversationStore;
    cleanUpLogic();
    // A stopped or failed turn may have hidden the window (a drag does) and left Logic Pro in
    // front: the user comes back to Corvane whichever way the turn ended.
    platform::mainQueue().async([] { platform::workspace().activateCurrentApplication(true); });
    endToolLog(turn, 0, "ERROR: " + description);
    if (turn.includeCaptures) noteStored(turn, turn.writer->clearPendingCaptures());
    std::string reply;
    if (!cancelled) {
        reply = ChatResponseComposer::makeFallbackAssistantReply(turn.toolsUsed, description);
        noteStored(turn, storeEntry(turn, ConversationRole::assistant, reply));
    }
    const auto state = store.conversationState(turn.threadID);

    ChatResponse response;
    response.ok = cancelled;  // a stopped turn did what the user asked; a failed one did not
    response.assistantMessage = reply;
    response.toolsUsed = turn.toolsUsed;
    response.activitySummary = ChatResponseComposer::makeActivitySummary(turn.toolsUsed);
    nameTurnsThread(response, turn.threadID, state);
    reportLogFailure(turn);
    reportSaveFailure(turn, response);
    // The turn's own failure is the last error: it is what ended the turn.
    if (!cancelled) turn.stream->yield(AgentEvent::error(description));
    finishTurn(turn, std::move(response));
}

void ChatOrchestrator::endForMissingThread(Turn& turn, const std::optional<std::string>& failure) {
    // A file that could not be read is no proof that the chat is gone.
    const bool unread = failure && *failure != ConversationStore::kGoneThreadFailure;
    turn.stream->yield(AgentEvent::error(unread ? unreadableThreadMessage(*failure) : kMissingThreadMessage));
    ChatResponse response;
    response.ok = false;
    response.threadID = turn.request.threadID.value_or("");
    response.availableThreads = services_.conversationStore.conversationState().threads;
    finishTurn(turn, std::move(response));
}

bool ChatOrchestrator::storeEntry(Turn& turn, ConversationRole role, const std::string& content) {
    return turn.writer->entry(role, content);
}

bool ChatOrchestrator::storeToolCall(Turn& turn, const ToolCallInfo& call) { return turn.writer->toolCall(call); }

// The writer stores a turn's later entries only while every earlier write of the turn was
// stored: what the file holds is then always a whole prefix of the chat, and a restart never
// finds a reply without its question. The rest is shown and told as not saved.
void ChatOrchestrator::noteStored(Turn& turn, bool stored) const {
    if (stored || turn.saveError) return;
    turn.saveError = turn.writer->failure().value_or(services_.conversationStore.fileURL().string() +
                                                     " could not be written");
    // Told with the refusal, not only at the turn's end: the user may go on for a while in a chat
    // that is not being kept.
    turn.stream->yield(AgentEvent::error(notSavedMessage(*turn.saveError), turn.saveError));
}

void ChatOrchestrator::reportSaveFailure(Turn& turn, ChatResponse& response) const {
    // A note a tool wrote may have been the refused one.
    if (!turn.saveError && turn.writer) turn.saveError = turn.writer->failure();
    if (!turn.saveError) return;
    // Shown as it came back, the reply would pass for kept: the turn is not ok.
    response.ok = false;
    response.saveError = turn.saveError;
    turn.stream->yield(AgentEvent::error(notSavedMessage(*turn.saveError), turn.saveError));
}

void ChatOrchestrator::endToolLog(Turn& turn, int rounds, const std::optional<std::string>& reply) {
    auto written = services_.toolLogger.endTurn(rounds, reply);
    if (!turn.logWritten.valid()) turn.logWritten = std::move(written);
}

// Before a failure to store the chat, which is the one the turn's answer ends with.
void ChatOrchestrator::reportLogFailure(Turn& turn) {
    // A turn whose log is missing would pass for one that used no tools.
    if (turn.logWritten.valid())
        if (const auto failure = turn.logWritten.get())
            turn.stream->yield(AgentEvent::error(toolLogNotWrittenMessage(*failure)));
}

void ChatOrchestrator::finishTurn(Turn& turn, ChatResponse response) {
    // The shield's end is posted before the next turn may post its start, so a turn started on
    // this final response keeps its shield up.
    InputShield::shared().endTurn();
    // The chat is free for the next turn, in any copy.
    services_.conversationStore.releaseChatTurn(std::move(turn.chatLock), turn.request.threadID.value_or(""));
    {
        std::lock_guard lock(turnMutex_);
        if (holder_) {
            holder_->turnRunning = false;
            if (!holder_->reservationHeld) holder_.reset();
        }
        currentStop_.reset();
    }
    turn.stream->yield(AgentEvent::finalResponse(std::move(response)));
    turn.stream->finish();
}

}  // namespace corvane
