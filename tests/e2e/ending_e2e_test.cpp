// corvane-headless ended by a signal while its harness works: each kind of work under way (a wait
// for a store's lock that another copy holds among them), each signal. The processes run in wall
// time; the waits are bounded by ceilings that only catch a program that does not end, far below
// what the work left would take (the two snapshots waiting, 64 tracks of 0.3 s each, take 39 s).
// That a pass under way stops is told by what it reports.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e/e2e_fixture.h"
#include "support/app_paths.h"
#include "support/files.h"

namespace corvane::testing {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// As many as one run may snapshot: each costs a pause of 0.3 s at the least.
constexpr int kExtraTracks = 64;
// The test cut after its turn snapshots fewer: its whole "before" pass runs first.
constexpr int kShortTestTracks = 32;
constexpr const char* kStopped = "Corvane is shutting down, so the test was stopped.";
constexpr const char* kNotStarted = "Corvane is shutting down, so the test was not started.";
const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

std::string extraTrack(int i) { return (i < 10 ? "T0" : "T") + std::to_string(i); }

// The demo song with 64 more tracks, so that snapshotting them takes 19 s at the least.
std::filesystem::path longSong(const std::filesystem::path& folder) {
    std::ifstream demo(std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/demo-song.json");
    json scenario = json::parse(demo);
    for (int i = 1; i <= kExtraTracks; ++i) scenario["project"]["tracks"].push_back({{"name", extraTrack(i)}, {"kind", "audio"}});
    const auto file = folder / "long-song.json";
    EXPECT_TRUE(writeFileAtomically(file, scenario.dump()));
    return file;
}

std::vector<std::string> extraTracks(int count = kExtraTracks) {
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i) names.push_back(extraTrack(i));
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

// Another copy of Corvane, as far as the lock of one store file goes: it holds the lock and keeps
// making progress (a new holder token every 0.1 s), so that a copy waiting for it would wait out
// the whole overall bound (kLockWaitRounds times kLockWait).
class OtherCopy {
public:
    explicit OtherCopy(std::filesystem::path lockPath) : lockPath_(std::move(lockPath)) {
        fd_ = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        locked_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
        progress_ = std::jthread([this](std::stop_token stop) {
            for (int round = 0; platform::clock().sleepUnlessStopped(100ms, stop); ++round) {
                char token[16];
                const int length = std::snprintf(token, sizeof token, "other-%06d", round % 1000000);
                (void)!::pwrite(fd_, token, static_cast<std::size_t>(length), 0);
            }
        });
    }
    ~OtherCopy() {
        progress_ = {};  // stopped and joined before the lock goes
        if (fd_ >= 0) ::close(fd_);
    }
    OtherCopy(const OtherCopy&) = delete;
    OtherCopy& operator=(const OtherCopy&) = delete;

    bool locked() const { return locked_; }
    // Whether the lock is still held: a lock taken anew on the file is refused.
    bool stillHeld() const {
        const int probe = ::open(lockPath_.c_str(), O_RDONLY | O_CLOEXEC);
        const bool held = probe >= 0 && ::flock(probe, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        if (probe >= 0) ::close(probe);
        return held;
    }
    // Whether the process has the lock file open, which it has only while it waits for the lock.
    bool waitedForBy(pid_t pid) const {
        std::error_code ignored;
        const auto locked = std::filesystem::canonical(lockPath_, ignored);
        const auto descriptors = std::filesystem::path("/proc") / std::to_string(pid) / "fd";
        for (const auto& entry : std::filesystem::directory_iterator(descriptors, ignored)) {
            std::error_code unreadable;
            if (std::filesystem::read_symlink(entry.path(), unreadable) == locked) return true;
        }
        return false;
    }

private:
    std::filesystem::path lockPath_;
    int fd_ = -1;
    bool locked_ = false;
    std::jthread progress_;
};

enum class Work { snapshot, runBeforeItsTurn, runAfterItsTurn, listen, suite, lockHeldByAnotherCopy };
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
    // A request that waits for the harness: its client ends its side of the stream, and so is asked
    // whether it still listens ("100 Continue") once the server has taken the request in for a
    // worker. Only then is it known to be waiting; one still unread when the program ends is cut
    // off unanswered. Absent when that interim answer does not come.
    std::unique_ptr<http::testing::RawClient> queue(const std::string& method, const std::string& path,
                                                    const std::string& body = {}) {
        auto client = send(method, path, body);
        client->shutdownWrite();
        if (client->readAtMost(kContinue.size(), 30s) != kContinue) return nullptr;
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
    // Whether the one track selected is an added one from the `first` to the `last`: a pass is under
    // way with many pauses left (a range, as a look may miss any one track's turn).
    bool selectedAmong(int first, int last) {
        const auto answer = get("/tracks");
        if (!answer || answer->status != 200) return false;
        const auto names = json::parse(answer->body, nullptr, false).value("selectedTrackNames", json::array());
        for (int i = first; i <= last; ++i)
            if (names == json::array({extraTrack(i)})) return true;
        return false;
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
// a second signal did not hurry the first. A wait for a store's lock held by another copy that
// keeps making progress held the ending until its overall bound, and then answered that another
// copy held the folder.
TEST_P(EndingEndToEnd, EndsAtOnceAnswersEveryClientAndKeepsWhatWasAcknowledged) {
    const auto [work, ending] = GetParam();
    const auto song = longSong(home_.root());
    const auto cases = AppPaths::appSupportDirectory("test-cases");
    for (const auto& [id, count] : {std::pair{"long", kExtraTracks}, std::pair{"short", kShortTestTracks}}) {
        const json test = {{"id", id}, {"prompt", "Which tracks"}, {"snapshotTracks", extraTracks(count)},
                           {"captureScreenshots", false}, {"assertions", json::array()}};
        ASSERT_TRUE(writeFileAtomically(cases / (std::string(id) + ".json"), test.dump()));
    }
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
    const auto chatsFile = AppPaths::appSupportDirectory() / "conversation.json";
    std::optional<OtherCopy> otherCopy;
    std::string storedBeforeTheSignal;
    std::string names;
    for (const auto& name : extraTracks()) names += (names.empty() ? "" : ",") + name;
    switch (work) {
    case Work::snapshot:
        running = send("GET", "/test/snapshot?tracks=" + names);
        underWay = [&] { return selectedAmong(3, 40); };
        break;
    case Work::runBeforeItsTurn:
        running = send("POST", "/test/run", R"({"testID":"long"})");
        underWay = [&] { return selectedAmong(3, 40); };
        break;
    case Work::runAfterItsTurn:
        running = send("POST", "/test/run", R"({"testID":"short"})");
        underWay = [&] { return toolLogWritten() && selectedAmong(3, 12); };
        break;
    case Work::listen:
        running = send("POST", "/test/prompt", R"({"prompt":"Listen"})");
        underWay = [&] { return playing(); };
        break;
    case Work::suite:
        running = send("POST", "/test/suite", R"({"tests":["quick","long","quick"]})");
        underWay = [&] { return toolLogWritten() && selectedAmong(3, 40); };
        break;
    case Work::lockHeldByAnotherCopy:
        // The prompt's first write is its test's chat, into the chats' file.
        otherCopy.emplace(chatsFile.parent_path() / ("." + chatsFile.filename().string() + ".lock"));
        ASSERT_TRUE(otherCopy->locked());
        storedBeforeTheSignal = readFile(chatsFile).bytes;
        running = queue("POST", "/test/prompt", R"({"prompt":"Which tracks"})");
        ASSERT_TRUE(running) << "the prompt was not taken in";
        underWay = [&] { return otherCopy->waitedForBy(pid); };
        break;
    }
    ASSERT_TRUE(within(180s, underWay));
    // Clients waiting behind it: a prompt, and snapshots that would each hold the ending for 19 s.
    std::vector<std::unique_ptr<http::testing::RawClient>> waiting;
    waiting.push_back(queue("POST", "/test/prompt", R"({"prompt":"Which tracks"})"));
    for (int i = 0; i < 2; ++i) waiting.push_back(queue("GET", "/test/snapshot?tracks=" + names));
    for (const auto& client : waiting) ASSERT_TRUE(client) << "a waiting request was not taken in";

    for (const int signal : ending.signals) ASSERT_EQ(::kill(pid, signal), 0);
    // Quiet, it ends within a second; the pauses it used to finish first took 39 s at the least.
    const auto status = endedWithin(pid, 20s);
    ASSERT_TRUE(status) << "still running 20 s after the signal";
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
        if (kind == Work::runBeforeItsTurn || kind == Work::runAfterItsTurn) {
            EXPECT_EQ(body.value("error", ""), error) << answer->body;
            // The pass under way stopped: had it run on to its end, it would be reported whole.
            EXPECT_EQ(body.value("before", json()).size(), kind == Work::runBeforeItsTurn ? 0u : std::size_t(kShortTestTracks));
            EXPECT_EQ(body.value("after", json()), json::object());
        }
        else if (kind == Work::suite)
            EXPECT_EQ(body["results"][1].value("error", ""), error) << answer->body;
        else
            EXPECT_EQ(body, (json{{"error", error}})) << answer->body;
    };
    {
        SCOPED_TRACE("the running client");
        // Its wait for the lock came before its test's turn.
        answered(*running, work == Work::lockHeldByAnotherCopy ? kNotStarted : kStopped, work);
    }
    for (std::size_t i = 0; i < waiting.size(); ++i) {
        SCOPED_TRACE("waiting client " + std::to_string(i));
        answered(*waiting[i], kNotStarted, Work::snapshot);
    }

    if (otherCopy) {
        // It ended neither by waiting the lock out nor by its bound (whose refusal says that
        // another copy holds the folder), and wrote nothing without the lock.
        EXPECT_TRUE(otherCopy->stillHeld()) << "the other copy let go before the program ended";
        EXPECT_EQ(readFile(chatsFile).bytes, storedBeforeTheSignal);
        otherCopy.reset();
    }

    // The chat acknowledged before the signal is there for the next start.
    app_.emplace(std::vector<std::string>{CORVANE_BINARY}, "", std::vector<std::string>{"CORVANE_SCENARIO=" + song.string()});
    ASSERT_TRUE(within(kHangGuard, [&] { return get("/health").has_value(); }));
    const auto chats = get("/conversations");
    ASSERT_TRUE(chats);
    EXPECT_NE(chats->body.find(acknowledged), std::string::npos);
    EXPECT_TRUE(app_->stop());
}

const Ending kEndings[] = {{"SIGTERM", {SIGTERM}}, {"SIGINT", {SIGINT}}, {"SIGHUP", {SIGHUP}}, {"Twice", {SIGTERM, SIGINT}}};

std::string caseName(const ::testing::TestParamInfo<std::tuple<Work, Ending>>& tested) {
    static const char* const kinds[] = {"Snapshot", "RunBeforeItsTurn",     "RunAfterItsTurn", "Listen",
                                        "Suite",    "LockHeldByAnotherCopy"};
    return std::string(kinds[int(std::get<0>(tested.param))]) + "_" + std::get<1>(tested.param).label;
}

INSTANTIATE_TEST_SUITE_P(WorkAndSignal, EndingEndToEnd,
                         ::testing::Combine(::testing::Values(Work::snapshot, Work::runBeforeItsTurn, Work::listen,
                                                              Work::suite, Work::lockHeldByAnotherCopy),
                                            ::testing::ValuesIn(kEndings)),
                         caseName);
// Its before snapshots take a minute under the sanitizers: one signal stands for all here.
INSTANTIATE_TEST_SUITE_P(AfterItsTurn, EndingEndToEnd,
                         ::testing::Combine(::testing::Values(Work::runAfterItsTurn), ::testing::Values(kEndings[0])),
                         caseName);

}  // namespace
}  // namespace corvane::testing
