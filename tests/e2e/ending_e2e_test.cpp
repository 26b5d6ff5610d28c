// corvane-headless ended by a signal while its harness works: each kind of work under way, each
// signal. The processes run in wall time; the waits are bounded by ceilings that only catch a
// program that does not end, far below what the work left would take (64 tracks of 0.3 s each,
// twice for a run).

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e/e2e_fixture.h"
#include "support/app_paths.h"
#include "support/files.h"

namespace corvane::testing {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr int kExtraTracks = 60;
constexpr const char* kStopped = "Corvane is shutting down, so the test was stopped.";
constexpr const char* kNotStarted = "Corvane is shutting down, so the test was not started.";

std::string extraTrack(int i) { return (i < 10 ? "T0" : "T") + std::to_string(i); }

// The demo song with 60 more tracks, so that snapshotting them takes 18 s.
std::filesystem::path longSong(const std::filesystem::path& folder) {
    std::ifstream demo(std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/demo-song.json");
    json scenario = json::parse(demo);
    for (int i = 1; i <= kExtraTracks; ++i) scenario["project"]["tracks"].push_back({{"name", extraTrack(i)}, {"kind", "audio"}});
    const auto file = folder / "long-song.json";
    EXPECT_TRUE(writeFileAtomically(file, scenario.dump()));
    return file;
}

std::vector<std::string> extraTracks() {
    std::vector<std::string> names;
    for (int i = 1; i <= kExtraTracks; ++i) names.push_back(extraTrack(i));
    return names;
}

json backendScript() {
    const auto step = [](const std::string& tool, const json& arguments) {
        return json{{"calls", json::array({{{"name", tool}, {"arguments", arguments}}})}};
    };
    return {{"rules",
             {{{"match", "^which tracks$"}, {"steps", {step("list_tracks", json::object()), {{"respond", "Those."}}}}},
              {{"match", "^listen$"},
               {"steps",
                {step("listen_to_playback", {{"duration_seconds", 60}, {"start_bar", 1}, {"tracks", "Bass"}}),
                 {{"respond", "Heard it."}}}}}}}};
}

enum class Work { snapshot, runBeforeItsTurn, runAfterItsTurn, listen, suite };
struct Ending {
    const char* label;
    std::vector<int> signals;
};

class EndingEndToEnd : public EndToEndTest, public ::testing::WithParamInterface<std::tuple<Work, Ending>> {
protected:
    std::optional<http::testing::Answer> get(const std::string& path) {
        return http::testing::exchange(port_, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 10s);
    }
    std::unique_ptr<http::testing::RawClient> send(const std::string& method, const std::string& path,
                                                   const std::string& body = {}) {
        auto client = std::make_unique<http::testing::RawClient>(port_);
        client->send(method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                     std::to_string(body.size()) + "\r\n\r\n" + body);
        return client;
    }
    // Polls (each poll bounded) until `done`, for at most the ceiling.
    static bool within(std::chrono::seconds ceiling, const std::function<bool()>& done) {
        const auto until = std::chrono::steady_clock::now() + ceiling;
        while (std::chrono::steady_clock::now() < until) {
            if (done()) return true;
            platform::pause(0.1);  // each look reads the whole track list: not too often
        }
        return done();
    }
    bool selected(const std::string& track) {
        const auto answer = get("/tracks");
        if (!answer || answer->status != 200) return false;
        const auto names = json::parse(answer->body, nullptr, false).value("selectedTrackNames", json::array());
        return names == json::array({track});
    }
    bool toolLogWritten() {
        std::error_code ignored;
        const auto folder = AppPaths::appSupportDirectory() / "tool-logs";
        for (const auto& entry : std::filesystem::directory_iterator(folder, ignored))
            if (entry.path().extension() == ".json") return true;
        return false;
    }
    bool playing() {
        const auto answer = get("/debug/transport");
        return answer && json::parse(answer->body, nullptr, false).value("isPlaying", false);
    }
    // Its exit status (128 + the signal that ended it), once it has ended within the ceiling.
    std::optional<int> endedWithin(pid_t pid, std::chrono::seconds ceiling) {
        int status = 0;
        if (!within(ceiling, [&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) return std::nullopt;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

// A test's snapshots held the ending for seconds (until the last of them), and so did a suite's,
// while the clients waiting behind them had no answer; SIGHUP ended the program with none at all;
// a second signal did not hurry the first.
TEST_P(EndingEndToEnd, EndsAtOnceAnswersEveryClientAndKeepsWhatWasAcknowledged) {
    const auto [work, ending] = GetParam();
    const auto song = longSong(home_.root());
    const auto cases = AppPaths::appSupportDirectory("test-cases");
    const json longTest = {{"id", "long"}, {"prompt", "Which tracks"}, {"snapshotTracks", extraTracks()},
                           {"captureScreenshots", false}, {"assertions", json::array()}};
    ASSERT_TRUE(writeFileAtomically(cases / "long.json", longTest.dump()));
    ASSERT_TRUE(writeFileAtomically(
        cases / "quick.json",
        json{{"id", "quick"}, {"prompt", "Which tracks"}, {"captureScreenshots", false}, {"assertions", json::array()}}
            .dump()));
    ASSERT_NO_FATAL_FAILURE(start(backendScript(), {"CORVANE_SCENARIO=" + song.string()}));
    const pid_t pid = app_->pid();

    const auto created = post("/conversations/create", "");
    ASSERT_TRUE(created);
    ASSERT_EQ(created->status, 200);
    const std::string acknowledged = json::parse(created->body)["currentThreadID"];

    std::unique_ptr<http::testing::RawClient> running;
    std::function<bool()> underWay;
    std::string names;
    for (const auto& name : extraTracks()) names += (names.empty() ? "" : ",") + name;
    switch (work) {
    case Work::snapshot:
        running = send("GET", "/test/snapshot?tracks=" + names);
        underWay = [&] { return selected("T03"); };
        break;
    case Work::runBeforeItsTurn:
        running = send("POST", "/test/run", R"({"testID":"long"})");
        underWay = [&] { return selected("T03"); };
        break;
    case Work::runAfterItsTurn:
        running = send("POST", "/test/run", R"({"testID":"long"})");
        underWay = [&] { return toolLogWritten() && selected("T03"); };
        break;
    case Work::listen:
        running = send("POST", "/test/prompt", R"({"prompt":"Listen"})");
        underWay = [&] { return playing(); };
        break;
    case Work::suite:
        running = send("POST", "/test/suite", R"({"tests":["quick","long","quick"]})");
        underWay = [&] { return toolLogWritten() && selected("T03"); };
        break;
    }
    ASSERT_TRUE(within(180s, underWay));
    std::vector<std::unique_ptr<http::testing::RawClient>> waiting;
    for (int i = 0; i < 2; ++i) waiting.push_back(send("POST", "/test/prompt", R"({"prompt":"Which tracks"})"));

    for (const int signal : ending.signals) ASSERT_EQ(::kill(pid, signal), 0);
    const auto status = endedWithin(pid, 8s);
    ASSERT_TRUE(status) << "still running 8 s after the signal";
    app_.reset();  // reaped above: nothing left to stop
    const bool twice = ending.signals.size() > 1;
    // A second signal may come while the first ending is under way, and then ends it at once (the
    // two are taken lowest first).
    if (twice)
        EXPECT_TRUE(*status == 0 || *status == 128 + SIGTERM || *status == 128 + SIGINT) << *status;
    else
        EXPECT_EQ(*status, 0);

    // Each client heard why, unless a second signal cut the ending short.
    const auto answered = [&](http::testing::RawClient& client, const char* error, Work kind) {
        const auto received = client.readAll(5s);
        EXPECT_TRUE(received.closed);
        const auto answer = http::testing::parseAnswer(received.bytes);
        if (!answer && twice) return;
        ASSERT_TRUE(answer) << received.bytes;
        EXPECT_EQ(answer->status, 503) << answer->body;
        const auto body = json::parse(answer->body, nullptr, false);
        if (kind == Work::runBeforeItsTurn || kind == Work::runAfterItsTurn)
            EXPECT_EQ(body.value("error", ""), error) << answer->body;
        else if (kind == Work::suite)
            EXPECT_EQ(body["results"][1].value("error", ""), error) << answer->body;
        else
            EXPECT_EQ(body, (json{{"error", error}})) << answer->body;
    };
    answered(*running, kStopped, work);
    for (auto& client : waiting) answered(*client, kNotStarted, Work::listen);

    // The chat acknowledged before the signal is there for the next start.
    app_.emplace(std::vector<std::string>{CORVANE_BINARY}, "", std::vector<std::string>{"CORVANE_SCENARIO=" + song.string()});
    ASSERT_TRUE(within(30s, [&] { return get("/health").has_value(); }));
    const auto chats = get("/conversations");
    ASSERT_TRUE(chats);
    EXPECT_NE(chats->body.find(acknowledged), std::string::npos);
    EXPECT_TRUE(app_->stop());
}

const Ending kEndings[] = {{"SIGTERM", {SIGTERM}}, {"SIGINT", {SIGINT}}, {"SIGHUP", {SIGHUP}}, {"Twice", {SIGTERM, SIGINT}}};

std::string caseName(const ::testing::TestParamInfo<std::tuple<Work, Ending>>& tested) {
    static const char* const kinds[] = {"Snapshot", "RunBeforeItsTurn", "RunAfterItsTurn", "Listen", "Suite"};
    return std::string(kinds[int(std::get<0>(tested.param))]) + "_" + std::get<1>(tested.param).label;
}

INSTANTIATE_TEST_SUITE_P(WorkAndSignal, EndingEndToEnd,
                         ::testing::Combine(::testing::Values(Work::snapshot, Work::runBeforeItsTurn, Work::listen,
                                                              Work::suite),
                                            ::testing::ValuesIn(kEndings)),
                         caseName);
// Its before snapshots take a minute under the sanitizers: one signal stands for all here.
INSTANTIATE_TEST_SUITE_P(AfterItsTurn, EndingEndToEnd,
                         ::testing::Combine(::testing::Values(Work::runAfterItsTurn), ::testing::Values(kEndings[0])),
                         caseName);

}  // namespace
}  // namespace corvane::testing
