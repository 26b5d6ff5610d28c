// The route table of the loopback API and the analysis intake.

#include <string>
#include <utility>

#include "app/companion_controller.h"
#include "app/companion_request_decoding.h"
#include "app/debug_routes.h"
#include "app/route_answers.h"
#include "app/test_routes.h"
#include "platform/log.h"
#include "support/json_fields.h"

namespace corvane::app {
namespace {

// A thread named by ID that does not exist: answered as such, never with another thread's state.
// One the store could not look for (the file unreadable for want of descriptors, say) is not
// said to be missing: the answer gives the store's reason.
HTTPResponse threadAnswer(ConversationStore& store, const std::optional<ConversationStateResponse>& state,
                          const std::optional<std::string>& threadID) {
    if (state) return jsonAnswer(*state);
    const auto failure = store.lastFailure();
    if (failure && *failure != ConversationStore::kGoneThreadFailure)
        return http::jsonDictAnswer(nlohmann::json{{"error", *failure}}, 500);
    return http::jsonDictAnswer(nlohmann::json{{"error", "Thread not found: " + threadID.value_or("")}}, 404);
}

HTTPResponse busyAnswer(const std::string& error) {
    auto answer = http::jsonDictAnswer(nlohmann::json{{"error", error}}, 503);
    answer.headers.emplace_back("Retry-After", "1");
    return answer;
}

HTTPResponse tooManyLargeBodiesAnswer() { return busyAnswer("Too many large bodies at once; try again shortly"); }

HTTPResponse harnessBusyAnswer() { return busyAnswer("Too many test requests waiting; try again shortly"); }

bool readsBody(const std::string& route) {
    return route == "/conversations/load" || route == "/conversations/clear" || route == "/song-brief" ||
           route == "/analysis" || route == "/test/prompt" || route == "/test/run" || route == "/test/suite";
}

// A body is measured before it is parsed: its values and nesting, not its bytes, decide what
// parsing it takes.
std::optional<HTTPResponse> unboundedBodyAnswer(const std::string& route, const std::string& body) {
    const std::size_t maxValues =
        route.starts_with("/test/") ? CompanionController::kMaxTestBodyValues : json_fields::kMaxValues;
    switch (json_fields::bounds(body, json_fields::kMaxNesting, maxValues)) {
        case json_fields::Bounds::within: return std::nullopt;
        case json_fields::Bounds::tooDeep:
            return payloadTooLargeAnswer("Body too large: nested deeper than " +
                                         std::to_string(json_fields::kMaxNesting) + " levels");
        case json_fields::Bounds::tooManyValues:
            return payloadTooLargeAnswer("Body too large: more than " + std::to_string(maxValues) + " values");
    }
    return std::nullopt;
}

}  // namespace

http::BodyAllowance CompanionController::bodyAllowance(const HTTPRequest& head) const {
    // Refused before its body is read or a worker taken: refusing costs the other routes nothing.
    if (isTestRoute(head) && harnessSlots_.wouldRefuse("")) return {-1, harnessBusyAnswer()};
    const std::string route = head.routePath();
    std::int64_t limit = kMaxOtherBodyBytes;
    if (head.method == "POST") {
        if (route == "/analysis") {
            limit = kMaxAnalysisBodyBytes;
        } else if (route == "/song-brief") {
            limit = kMaxSongBriefBodyBytes;
        } else if (route == "/test/prompt" || route == "/test/run") {
            limit = kMaxPromptBodyBytes;
        } else if (route == "/test/suite") {
            limit = kMaxSuiteBodyBytes;
        }
    }
    return {limit, payloadTooLargeAnswer("Body too large: at most " + std::to_string(limit) + " bytes")};
}

HTTPResponse CompanionController::handle(const HTTPRequest& request) {
    {
        // Built in the thread's own buffer: a line per request costs no allocation.
        thread_local std::string line;
        line.assign("[API] Local request ").append(request.method).append(" ").append(request.path);
        log(line);
        if (line.capacity() > 4096) std::string().swap(line);
    }
    const std::string route = request.routePath();
    const std::string& method = request.method;

    if (method == "GET") {
        if (route == "/health") return healthAnswer(healthSnapshot());
        if (route == "/context") return contextAnswer(healthSnapshot().logic);
        if (route == "/conversations") return jsonAnswer(conversationStore_.conversationState(std::nullopt));
        if (route == "/tracks") return jsonAnswer(logicInspector_.trackContext());
        if (route.starts_with("/debug/")) {
            if (auto answer = handleDebugRoute(*this, request)) return std::move(*answer);
        }
    } else if (method == "POST") {
        if (readsBody(route)) {
            if (auto refusal = unboundedBodyAnswer(route, request.body)) return std::move(*refusal);
        }
        if (route == "/conversations/create") return jsonAnswer(conversationStore_.createThread(std::nullopt));
        if (route == "/conversations/load") {
            const auto body = CompanionRequestDecoding::decodeConversationThreadRequest(request.body);
            return threadAnswer(conversationStore_, conversationStore_.existingThreadState(body.threadID),
                                body.threadID);
        }
        if (route == "/conversations/clear") return handleConversationClear(request);
        if (route == "/song-brief" || route == "/analysis") {
            const auto answer = [&] {
                return route == "/analysis" ? handleAnalysis(request) : handleSongBrief(request);
            };
            if (request.body.size() <= kInlineAnalysisBytes) return answer();
            const auto slot = largeBodySlots_.acquire("");
            if (!slot) return tooManyLargeBodiesAnswer();
            return answer();
        }
    }
    if (isTestRoute(request)) {
        const auto slot = harnessSlots_.acquire("");
        if (!slot) return harnessBusyAnswer();
        if (auto answer = handleTestRoute(*this, request)) return std::move(*answer);
    }
    return notFoundAnswer();
}

bool CompanionController::answersAtOnce(const HTTPRequest& request) {
    const std::string route = request.routePath();
    if (request.method == "GET") return route == "/health" || route == "/context";
    return request.method == "POST" && route == "/analysis" && request.body.size() <= kInlineAnalysisBytes;
}

http::WorkLane CompanionController::workLane(const HTTPRequest& request) {
    const std::string route = request.routePath();
    http::WorkLane lane;
    if (request.method == "GET" && route == "/conversations") {
        lane.prompt = true;  // the store answers from memory and its file
    } else if (request.method == "POST" && (route == "/conversations/create" || route == "/conversations/load" ||
                                            route == "/conversations/clear")) {
        lane.prompt = true;
    } else if (request.method == "POST" && (route == "/analysis" || route == "/song-brief")) {
        lane.prompt = true;
        // Large ones wait for their slots on the workers: as many as run or wait there, no more.
        if (request.body.size() > kInlineAnalysisBytes) {
            lane.key = "large bodies";
            lane.maxRunning = kLargeBodiesAtOnce + kMaxLargeBodiesWaiting;
            lane.maxWaiting = 0;
            lane.refusal = tooManyLargeBodiesAnswer();
        }
    } else if (isTestRoute(request)) {
        // Slow: they wait for the harness's turn on the workers, as many as it lets wait.
        lane.key = "test harness";
        lane.maxRunning = 1 + kMaxHarnessWaiting;
        lane.maxWaiting = 0;
        lane.refusal = harnessBusyAnswer();
    }
    // Every other route ("/tracks", "/debug/...", any added later) is slow, in a lane of its own.
    return lane;
}

// Clearing deletes a thread's entries: a body that cannot be read is refused rather than taken
// to mean the current thread.
HTTPResponse CompanionController::handleConversationClear(const HTTPRequest& request) {
    const auto decoded = CompanionRequestDecoding::decodeConversationThreadRequestStrictly(request.body);
    if (!decoded.request) return badRequestAnswer(decoded.error);
    const auto& threadID = decoded.request->threadID;
    return threadAnswer(conversationStore_, conversationStore_.clearExistingThread(threadID), threadID);
}

// Overwrites the brief: a body without a text "songBrief" would erase it, so it is refused.
HTTPResponse CompanionController::handleSongBrief(const HTTPRequest& request) {
    const auto decoded = CompanionRequestDecoding::decodeSongBriefRequestStrictly(request.body);
    if (!decoded.request) return badRequestAnswer(decoded.error);
    if (decoded.request->songBrief.size() > kMaxSongBriefBytes) {
        return payloadTooLargeAnswer("Song brief too long: at most " + std::to_string(kMaxSongBriefBytes) +
                                     " bytes");
    }
    const auto& threadID = decoded.request->threadID;
    return threadAnswer(conversationStore_,
                        conversationStore_.updateSongBriefOfExistingThread(decoded.request->songBrief, threadID),
                        threadID);
}

HTTPResponse CompanionController::handleAnalysis(const HTTPRequest& request) {
    auto update = CompanionRequestDecoding::decodeAnalysisUpdate(request.body);
    TrackAnalysisState state;
    state.id = update.instanceID.value_or("default");
    state.trackName = update.trackName.value_or("Unknown");
    state.analysis = std::move(update.audioAnalysis);
    state.barMap = std::move(update.barAnalysisMap).value_or(std::vector<BarAnalysisEntry>{});
    state.lastUpdateTime = clock_.now();
    state.isMaster = TrackAnalysisState::isMasterName(state.trackName);
    const std::string instanceID = state.id;
    updateTrackAnalysis(instanceID, std::move(state));

    AnalysisUpdateHandler handler;
    {
        std::lock_guard lock(sharedMutex_);
        handler = analysisUpdateHandler_;
    }
    if (handler) handler(instanceID);
    return analysisAcceptedAnswer();
}

}  // namespace corvane::app
