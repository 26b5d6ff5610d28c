// Builds the first agent request of a turn for a 1,000-entry thread with 30 live tracks, the way
// a turn does (runtime context, agent body, compact serialisation), and prints the time per
// request and the body size beside a baseline: plain JSON serialisation of the same data.
// Then runs whole 15-round agent turns (14 tool rounds and a "respond") on the simulated Logic Pro
// against an instant fake backend, and prints the wall time per turn beside the pauses the tools
// are prescribed to make, which pass in virtual time and so are not part of the wall time.
//
//   request_bench [iterations (default 300)] [turns (default 20)]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <utility>

#include "app/companion_controller.h"
#include "chat/backend_chat_request_builder.h"
#include "chat/chat_orchestrator.h"
#include "platform/platform.h"
#include "platform/standin/world.h"
#include "test_support/free_port.h"

namespace {

using namespace corvane;
using Clock = std::chrono::steady_clock;

struct Data {
    std::vector<ConversationEntry> thread;
    std::vector<TrackAnalysisState> analysis;
    std::vector<BackendChatRequestBuilder::TrackListEntry> tracks;
    std::map<std::string, std::string> descriptions;
    std::vector<SongSection> sections;
    std::vector<Memory> memories;
};

Data makeData() {
    Data d;
    for (int i = 0; i < 1000; ++i) {
        ConversationEntry e;
        e.timestamp = "2026-12-06T15:24:00.000Z";
        switch (i % 4) {
            case 0:
                e.role = ConversationRole::user;
                e.content = "Can you tighten the low end on track " + std::to_string(i % 30) + " and check the vocal?";
                break;
            case 1:
            case 2:
                e.role = ConversationRole::toolCall;
                e.content = "Set volume";
                e.toolName = "set_track_volume";
                e.arguments =
                    R"({"tracks":[{"track_name":"Track )" + std::to_string(i % 30) + R"(","value":"-3 dB"}]})";
                e.summary = "Track " + std::to_string(i % 30) + " volume: -6.0 dB \u2192 -3.0 dB";
                e.succeeded = true;
                e.resultJSON = R"({"status":"ok","message":"done"})";
                break;
            default:
                e.role = ConversationRole::assistant;
                e.content = "I pulled the low mids down by 2 dB and the vocal now sits 1.5 LU above the mix.";
        }
        d.thread.push_back(e);
    }
    for (int i = 0; i < 30; ++i) {
        const std::string name = "Track " + std::to_string(i);
        d.tracks.push_back({name, i + 1, i % 10 == 0, i % 7 == 0, i % 10 == 0 ? 0 : 1});
        TrackAnalysisState state;
        state.id = "instance-" + std::to_string(i);
        state.trackName = name;
        AudioAnalysisSummary summary;
        summary.shortTermLufs = -18.5;
        summary.peakDbfs = -3.1;
        state.analysis = summary;
        d.analysis.push_back(state);
        d.descriptions[name] = "Part " + std::to_string(i) + " of the arrangement";
    }
    d.sections = {{"s1", "Intro", 1, 8, 0}, {"s2", "Verse", 9, 24, 1}, {"s3", "Chorus", 25, 40, 2}};
    for (int i = 0; i < 10; ++i) d.memories.push_back({"abc12" + std::to_string(i), "master", "Keep it warm", "t"});
    return d;
}

template <class F>
double medianMicroseconds(int iterations, F&& work) {
    std::vector<double> samples;
    for (int i = 0; i < iterations; ++i) {
        const auto start = Clock::now();
        work();
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// The chat backend answering at once: tool rounds, then a "respond" on the fifteenth reply.
class InstantBackend final : public http::HTTPTransport {
public:
    http::HTTPClientResponse send(const http::HTTPClientRequest&, std::stop_token) override {
        std::lock_guard lock(mutex_);
        if (round_ == 0) firstRequestAt_ = Clock::now();
        const int round = round_++;
        // Reading and transport tools, as a mixing turn uses them; no two neighbours alike.
        static const std::pair<const char*, const char*> tools[] = {
            {"list_tracks", "{}"},
            {"control_transport", R"({"action":"play"})"},
            {"get_track_details", R"({"track_names":["Kick","Bass"]})"},
            {"control_transport", R"({"action":"stop"})"},
            {"get_track_details", R"({"track_names":["Lead Vox"]})"},
        };
        nlohmann::json call = {{"type", "function_call"}, {"call_id", "call_" + std::to_string(round)}};
        if (round >= respondAt_) {
            call["name"] = "respond";
            call["arguments"] = R"({"prose":"Done."})";
        } else {
            call["name"] = tools[round % 5].first;
            call["arguments"] = tools[round % 5].second;
        }
        return {
            200,
            nlohmann::json{{"id", "resp_" + std::to_string(round)}, {"output", nlohmann::json::array({call})}}.dump()};
    }
    // The next turn answers with "respond" at round `respondAt`.
    void reset(int respondAt) {
        std::lock_guard lock(mutex_);
        round_ = 0;
        respondAt_ = respondAt;
    }
    Clock::time_point firstRequestAt() {
        std::lock_guard lock(mutex_);
        return firstRequestAt_;
    }

private:
    std::mutex mutex_;
    int round_ = 0;
    int respondAt_ = 14;
    Clock::time_point firstRequestAt_;
};

struct TurnFigures {
    double wallMs = 0;
    double virtualSeconds = 0;
    bool ok = false;
};

// The program's own path: the controller that owns the stores and the agent loop, listening on
// a port of its own where the simulated analysis plug-ins post, the simulated Logic Pro in
// virtual time, and a chat backend that answers at once.
class Setup {
public:
    Setup() {
        if (!mkdtemp(folder_)) std::abort();
        setenv("CORVANE_HOME", folder_, 1);
        world_ = std::make_unique<standin::World>(nlohmann::json::parse(
            std::ifstream(std::filesystem::path(CORVANE_SOURCE_DIR) / "resources/Scenarios/demo-song.json")));
        installed_ = std::make_unique<platform::ScopedServices>(world_->services());
        app::CompanionController::Options options;
        options.port = testing::freePort();
        options.chatTransport = transport;
        controller = app::CompanionController::create(options);
        if (!controller->start()) std::abort();
        world_->updateFaults([&](standin::Faults& faults) { faults.analysisPort = controller->boundPort(); });
        controller->backendChatService().setAuthTokenProvider([] { return std::optional<std::string>("token"); });
    }
    ~Setup() {
        controller->stop();
        world_->drainMainQueue();
        controller.reset();
        installed_.reset();
        world_.reset();
        std::filesystem::remove_all(folder_);
    }
    standin::World& world() { return *world_; }

    std::shared_ptr<InstantBackend> transport = std::make_shared<InstantBackend>();
    std::shared_ptr<app::CompanionController> controller;

private:
    char folder_[64] = "/tmp/corvane-request-bench-XXXXXX";
    std::unique_ptr<standin::World> world_;
    std::unique_ptr<platform::ScopedServices> installed_;
};

std::string threadOf(ConversationStore& store, int entries) {
    const std::string threadID = store.createThread(std::string("Demo Song")).currentThreadID;
    for (int i = 0; i < entries; ++i)
        store.append(i % 2 ? ConversationRole::assistant : ConversationRole::user,
                     i % 2 ? "I pulled the low mids down by 2 dB and the vocal now sits 1.5 LU above the mix."
                           : "Can you tighten the low end and check the vocal?",
                     threadID);
    return threadID;
}

TurnFigures benchTurns(Setup& setup, int turns) {
    auto& store = setup.controller->conversationStore();
    const std::string threadID = threadOf(store, 0);
    std::vector<double> wall;
    std::vector<double> virtualTime;
    bool ok = true;
    for (int i = 0; i < turns; ++i) {
        setup.transport->reset(14);
        ChatRequest request;
        request.message = "Check the balance";
        request.threadID = threadID;
        const double virtualBefore = setup.world().virtualSeconds();
        const auto start = Clock::now();
        auto events = setup.controller->chatOrchestrator().handleChatStreaming(request)->collect();
        wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        virtualTime.push_back(setup.world().virtualSeconds() - virtualBefore);
        const auto* final = std::get_if<AgentEvent::FinalResponse>(&events.back().value);
        ok = ok && final && !final->response.assistantMessage.empty();
    }
    std::sort(wall.begin(), wall.end());
    std::sort(virtualTime.begin(), virtualTime.end());
    return {wall[wall.size() / 2], virtualTime[virtualTime.size() / 2], ok};
}

// From the call that starts a turn to the chat backend receiving its first request, on a thread
// of `entries` entries: the user's entry stored, the context gathered, the request built and
// logged. The median of `turns` turns that answer at once.
double turnStartMs(Setup& setup, int entries, int turns) {
    auto& store = setup.controller->conversationStore();
    const std::string threadID = threadOf(store, entries);
    std::vector<double> samples;
    for (int i = 0; i < turns; ++i) {
        setup.transport->reset(0);
        ChatRequest request;
        request.message = "Make the chorus wider";
        request.threadID = threadID;
        const auto start = Clock::now();
        auto stream = setup.controller->chatOrchestrator().handleChatStreaming(request);
        stream->collect();
        samples.push_back(std::chrono::duration<double, std::milli>(setup.transport->firstRequestAt() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

struct Spread {
    double median = 0, low = 0, high = 0;
};
Spread spreadOf(std::vector<double> rounds) {
    std::sort(rounds.begin(), rounds.end());
    return {rounds[rounds.size() / 2], rounds.front(), rounds.back()};
}

}  // namespace

int main(int argc, char** argv) {
    // CORVANE_BENCH_BRIEF set: a shorter long thread, one round: only that the bench still runs.
    const bool brief = std::getenv("CORVANE_BENCH_BRIEF") != nullptr;
    const int longThread = brief ? 100 : 1000;
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const Data d = makeData();
    const BackendChatRequestBuilder builder;
    HealthResponse health;
    health.logic.logicIsRunning = true;

    std::size_t requestBytes = 0;
    const double request = medianMicroseconds(iterations, [&] {
        // The turn reads the last 40 entries and the builder keeps the last 12 of them.
        const std::vector<ConversationEntry> recent(d.thread.end() - 40, d.thread.end());
        const std::string context = builder.makeRuntimeContext(health, "Bench Song", d.analysis, d.tracks,
                                                               d.descriptions, d.sections, d.memories);
        const auto body = builder.makeAgentRequestBody(ModelTier::standard, recent, "Make the chorus wider",
                                                       "Indie ballad", context, std::nullopt);
        requestBytes = body.dump().size();
    });

    std::size_t plainBytes = 0;
    const double plain = medianMicroseconds(iterations, [&] {
        // The same 40 entries the turn reads, the same tracks: only the request's own shaping differs.
        const std::vector<ConversationEntry> recent(d.thread.end() - 40, d.thread.end());
        nlohmann::json data = {{"entries", recent}, {"tracks", nlohmann::json::array()}};
        for (const auto& t : d.tracks) {
            data["tracks"].push_back({{"name", t.name},
                                      {"trackNumber", t.trackNumber},
                                      {"isFolder", t.isFolder},
                                      {"isMuted", t.isMuted},
                                      {"indentLevel", t.indentLevel}});
        }
        plainBytes = data.dump().size();
    });

    std::printf("agent request (1,000-entry thread, 30 live tracks): median %.1f us, body %zu bytes\n", request,
                requestBytes);
    std::printf("baseline: plain JSON of the same 40 entries and tracks: median %.1f us, %zu bytes\n", plain, plainBytes);

    const int turns = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
    const int kRounds = brief ? 1 : 3;
    std::vector<double> startLong, startShort, turnWall;
    TurnFigures t;
    for (int round = 0; round < kRounds; ++round) {
        Setup setup;
        startShort.push_back(turnStartMs(setup, 40, turns));
        startLong.push_back(turnStartMs(setup, longThread, turns));
        t = benchTurns(setup, turns);
        turnWall.push_back(t.wallMs);
    }
    const Spread longStart = spreadOf(startLong), shortStart = spreadOf(startShort), wall = spreadOf(turnWall);
    std::printf(
        "turn start (call to first backend request), %d-entry thread: median %.2f ms (rounds %.2f-%.2f), goal "
        "10 ms: %.2fx the goal\n",
        longThread, longStart.median, longStart.low, longStart.high, longStart.median / 10.0);
    std::printf("baseline: the same turn start on a 40-entry thread: %.2f ms (rounds %.2f-%.2f); ratio %.2fx\n",
                shortStart.median, shortStart.low, shortStart.high, longStart.median / shortStart.median);
    std::printf(
        "15-round turn, instant backend, simulated Logic Pro: median %.1f ms wall (rounds %.1f-%.1f; prescribed "
        "pauses excluded: they pass in virtual time)%s\n",
        wall.median, wall.low, wall.high, t.ok ? "" : "  [a turn did not end with its reply]");
    std::printf("baseline: the pauses the same turn is prescribed to make in a real Logic Pro: %.1f ms\n",
                t.virtualSeconds * 1000.0);
    return 0;
}
