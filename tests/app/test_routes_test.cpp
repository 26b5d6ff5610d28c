// The "/test/" routes over a real loopback socket, in front of the stand-in's demo song and the
// local backend's script mode, in-process, signed in with its test account.

#include "app/test_routes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <thread>
#include <stop_token>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/controller_fixture.h"
#include "http/server_test_doubles.h"
#include "platform/log.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "test_support/full_disk.h"
#include "testing/test_records.h"

namespace corvane::app::testing {
namespace {

using nlohmann::json;

class TestRoutesTest : public SignedInControllerTest {
protected:
    json postJSON(const std::string& path, const std::string& body) {
        const auto answer = post(path, body);
        EXPECT_TRUE(answer);
        if (!answer) return {};
        EXPECT_EQ(answer->status, 200);
        EXPECT_EQ(answer->headers.at("Content-Type"), "application/json");
        return json::parse(answer->body);
    }
    void writeCase(const std::string& name, const json& content) {
        ASSERT_TRUE(writeFileAtomically(AppPaths::appSupportDirectory("test-cases") / name, content.dump()));
    }
};

// The harness's own usage errors answer 200 with "error"; refusals of our own making (unsafe
// names, lists past their bounds) a client-error status.
TEST_F(TestRoutesTest, BadRequestsAnswerTheirUsageOrAClientErrorAndTouchNothing) {
    const std::string unsafeID = "Test ID '../x' must be a plain file name (no '/', '\\\\', '..' or NUL)";
    struct Case {
        std::string method, path, body, error;
        int status = 200;
    };
    std::string manyNames = "Guitar";
    for (int i = 0; i < 1000; ++i) manyNames += ",Guitar";
    json manyTests = json::array();
    for (int i = 0; i < 257; ++i) manyTests.push_back("t" + std::to_string(i));
    std::string manyValues = R"({"test":{"id":"x","prompt":"p","assertions":[)";
    for (int i = 0; i < 10'000; ++i) manyValues += i ? ",{}" : "{}";
    manyValues += "]}}";
    writeCase("long.suite.json", json{{"name", "long"}, {"tests", manyTests}});
    const std::vector<Case> cases{
        {"GET", "/test/snapshot?tracks=" + manyNames, "",
         "snapshotTracks lists 1001 tracks; at most 64 can be snapshotted in one run.", 400},
        {"GET", "/test/snapshot", "", "Pass ?tracks=Drums,Bass,Keys"},
        {"GET", "/test/snapshot?tracks=", "", "Pass ?tracks=Drums,Bass,Keys"},
        {"POST", "/test/prompt", R"({"prompt":"Hi","timeoutSeconds":2.5})", "POST JSON body with 'prompt' field"},
        {"POST", "/test/prompt", R"({"timeoutSeconds":2})", "POST JSON body with 'prompt' field"},
        {"POST", "/test/run", "", "POST JSON with 'testID' or inline 'test' object"},
        {"POST", "/test/run", R"({"testID":"ok","test":{"id":"x"}})",
         "POST JSON with 'testID' or inline 'test' object"},
        {"POST", "/test/run", "{}", "Test case not found. Pass 'testID' or inline 'test'."},
        {"POST", "/test/run", R"({"testID":"nowhere"})", "Test case not found. Pass 'testID' or inline 'test'."},
        {"POST", "/test/run", R"({"testID":"../x"})", unsafeID, 400},
        {"POST", "/test/run", R"({"test":{"id":"../x","prompt":"p","assertions":[]}})", unsafeID, 400},
        {"POST", "/test/run", manyValues, "Body too large: more than 10000 values", 413},
        {"POST", "/test/suite", "[]", "POST JSON with 'suite' name or 'tests' array"},
        {"POST", "/test/suite", R"({"tests":[]})", "Suite not found. Pass 'suite' name or 'tests' array."},
        {"POST", "/test/suite", R"({"suite":"nowhere"})", "Suite not found. Pass 'suite' name or 'tests' array."},
        {"POST", "/test/suite", R"({"suite":"/etc/x"})",
         "Suite name '/etc/x' must be a plain file name (no '/', '\\\\', '..' or NUL)", 400},
        {"POST", "/test/suite", json{{"tests", manyTests}}.dump(), "A suite runs at most 256 tests; this one lists 257.",
         413},
        {"POST", "/test/suite", R"({"suite":"long"})", "A suite runs at most 256 tests; this one lists 257.", 400},
    };
    for (const auto& c : cases) {
        const auto answer = request(c.method, c.path, c.body);
        ASSERT_TRUE(answer) << c.path << " " << c.body.substr(0, 80);
        EXPECT_EQ(answer->status, c.status) << c.path << " " << c.body.substr(0, 80);
        EXPECT_EQ(answer->headers.at("Content-Type"), "application/json");
        EXPECT_EQ(json::parse(answer->body), (json{{"error", json::parse("\"" + c.error + "\"")}}))
            << c.path << " " << c.body.substr(0, 80);
    }
    EXPECT_FALSE(controller().chatOrchestrator().isTurnRunning());
    EXPECT_TRUE(std::filesystem::is_empty(AppPaths::appSupportDirectory("test-results")));
}

TEST_F(TestRoutesTest, SnapshotKeysEachRequestedNameAsTrimmed) {
    const auto answer = get("/test/snapshot?tracks=Guitar,%20bass,,Nowhere");
    ASSERT_TRUE(answer);
    const auto body = json::parse(answer->body);
    EXPECT_EQ(body.size(), 4u) << body.dump(2);
    EXPECT_EQ(body["bass"]["trackName"], "Bass");
    EXPECT_TRUE(body["Guitar"].contains("volume"));
    EXPECT_EQ(body["Nowhere"], (json{{"trackName", "Nowhere"}, {"plugins", json::array()}}));
    EXPECT_EQ(body[""], (json{{"trackName", ""}, {"plugins", json::array()}}));
}

TEST_F(TestRoutesTest, PromptAnswersTheResponseAndItsTurnLog) {
    const auto body = postJSON("/test/prompt", R"({"prompt":"Mute the guitar"})");
    EXPECT_EQ(body["chatResponse"]["assistantMessage"], "Guitar is muted.") << body.dump(2);
    EXPECT_EQ(body["chatResponse"]["ok"], true);
    EXPECT_EQ(body["turnLog"]["toolCalls"][0]["tool"], "set_track_mute");
    EXPECT_EQ(body["turnLog"]["threadID"], body["chatResponse"]["threadID"]);
    EXPECT_FALSE(body.contains("error"));

    EXPECT_EQ(postJSON("/test/prompt", R"({"prompt":"Unmute the guitar","timeoutSeconds":0})"),
              (json{{"error", "Test timed out waiting for agent response"}}));
    EXPECT_FALSE(controller().chatOrchestrator().isTurnRunning());
}

// A full disk: the prompt's own chat cannot be made, so there is no turn and no tool log to
// report, least of all the previous turn's; a chat made whose turn then does not fit says so.
TEST_F(TestRoutesTest, APromptWhoseChatTheDiskRefusesSaysSoAndNeverReportsAnotherTurnsLog) {
    auto& store = controller().conversationStore();
    const auto first = postJSON("/test/prompt", R"({"prompt":"Mute the guitar"})");
    ASSERT_EQ(first["turnLog"]["toolCalls"][0]["tool"], "set_track_mute");
    const std::string firstThread = first["chatResponse"]["threadID"];
    const auto firstEntries = store.conversationState(firstThread).entries.size();
    const std::string refusal = store.fileURL().string() + " could not be written: File too large";

    json refused;
    {
        corvane::testing::FullDisk full;
        refused = postJSON("/test/prompt", R"({"prompt":"Unmute the guitar"})");
    }
    EXPECT_EQ(refused, (json{{"error", "The test's chat could not be created: " + refusal + "."}}));
    EXPECT_EQ(store.conversationState(firstThread).entries.size(), firstEntries);
    EXPECT_EQ(store.conversationState().threads.size(), 1u);

    // Room for a new chat, not for the long prompt the turn then stores in it.
    const std::string prompt = "Mute the guitar" + std::string(16384, '!');
    {
        corvane::testing::FullDisk full(std::filesystem::file_size(store.fileURL()) + 4096);
        refused = postJSON("/test/prompt", json{{"prompt", prompt}}.dump());
    }
    EXPECT_EQ(refused["error"], "The chat could not be saved: " + refusal + ".") << refused.dump(2);
    EXPECT_EQ(refused["chatResponse"]["ok"], false);
    EXPECT_EQ(refused["chatResponse"]["assistantMessage"], "Guitar is muted.");
    EXPECT_NE(refused["chatResponse"]["threadID"], firstThread);
    EXPECT_FALSE(refused.contains("turnLog")) << "its log could not be written either";
}

TEST_F(TestRoutesTest, RunAndSuiteAnswerTheirResults) {
    // Each run under a new ID kept a folder of screenshots, without end: the newest are kept.
    const auto results = AppPaths::appSupportDirectory("test-results");
    for (int i = 0; i < 120; ++i) std::filesystem::create_directories(results / ("old" + std::to_string(i)));

    const json mute{{"id", "mute"},
                    {"snapshotTracks", {"Guitar"}},
                    {"prompt", "Mute the guitar"},
                    {"assertions",
                     {{{"type", "track"}, {"track", "Guitar"}, {"field", "mute"}, {"op", "changed"}},
                      {{"type", "tool"}, {"op", "was_called"}, {"tool", "set_track_mute"}}}}};
    writeCase("mute.json", mute);
    writeCase("both.suite.json", json{{"name", "Both"}, {"tests", {"mute", "missing"}}});

    const auto answer = post("/test/run", json{{"testID", "missing"}, {"test", mute}}.dump());
    ASSERT_TRUE(answer);
    // Paths are written with escaped slashes, as the route's encoder does.
    EXPECT_NE(answer->body.find("\\/mute\\/before.png"), std::string::npos) << answer->body;
    const auto run = json::parse(answer->body);
    EXPECT_EQ(run["testID"], "mute");
    EXPECT_EQ(run["passed"], true) << run.dump(2);
    EXPECT_EQ(run["screenshots"]["mode"], "display");

    // Guitar is muted now, so the second run's mute does not change it.
    const auto suite = postJSON("/test/suite", R"({"suite":"both","tests":[]})");
    EXPECT_EQ(suite["suite"], "mute,missing");
    EXPECT_EQ(suite["passedCount"], 0) << suite.dump(2);
    EXPECT_EQ(suite["failedCount"], 2);
    EXPECT_EQ(suite["results"][0]["assertionResults"][0]["message"], "Guitar mute: 1 -> 1 (unchanged)");
    EXPECT_EQ(suite["results"][1]["error"], "Test case 'missing' not found");
    std::size_t kept = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(results)) ++kept;
    EXPECT_EQ(kept, kKeptTestResults);
    EXPECT_TRUE(std::filesystem::exists(results / "mute" / "after.png"));
}

// A turn that waits on the chat backend until the test lets it go, holding the harness meanwhile.
class HeldChat final : public http::HTTPTransport {
public:
    http::HTTPClientResponse send(const http::HTTPClientRequest&, std::stop_token) override {
        gate.pass();
        throw http::TransportError("let go");
    }
    http::testing::Gate gate;
};

// More clients on the test routes than there are request workers, each waiting on the harness,
// took them all: health, the plug-ins' small posts and new chats waited for the harness too.
// The routes' waiting is bounded now, the rest refused at once, and the others never wait on them.
TEST_F(ControllerTest, AFloodOnTheTestRoutesLeavesTheOtherRoutesAnsweredAtOnce) {
    auto held = std::make_shared<HeldChat>();
    chatTransport_ = held;
    startController();
    controller().backendChatService().setAuthTokenProvider(
        networking::BackendChatService::TokenProvider([] { return std::optional<std::string>("token"); }));
    http::testing::RawClient turn(port());
    const std::string prompt = R"({"prompt":"Mute the guitar","timeoutSeconds":600})";
    turn.send("POST /test/prompt HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(prompt.size()) +
              "\r\n\r\n" + prompt);
    ASSERT_TRUE(held->gate.awaitArrivals(1));
    std::vector<std::unique_ptr<http::testing::RawClient>> flood;
    for (int i = 0; i < 100; ++i) {
        flood.push_back(std::make_unique<http::testing::RawClient>(port()));
        flood.back()->send("GET /test/snapshot?tracks=Kick HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    }
    for (const auto& [method, path, body] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"GET", "/health", ""}, {"POST", "/analysis", "{}"}, {"POST", "/conversations/create", ""}}) {
        const auto answer = request(method, path, body);
        ASSERT_TRUE(answer) << path;
        EXPECT_EQ(answer->status, 200) << path;
    }
    held->gate.allow();
    int refused = 0;
    for (auto& client : flood) {
        const auto answer = http::testing::parseAnswer(client->readAll().bytes);
        ASSERT_TRUE(answer);
        if (answer->status != 503) continue;
        ++refused;
        EXPECT_EQ(answer->headers.at("Retry-After"), "1");
    }
    EXPECT_GE(refused, 100 - int(CompanionController::kMaxHarnessWaiting));
    EXPECT_TRUE(turn.readAll().closed);
}

// Holds the turn's first request to the chat backend until the turn is stopped (at most the
// test's patience), then sends it on to the local backend, which answers with a mute.
class ChatHeldUntilStopped final : public http::HTTPTransport {
public:
    http::HTTPClientResponse send(const http::HTTPClientRequest& request, std::stop_token stop) override {
        if (!held_.exchange(true)) {
            std::unique_lock lock(mutex_);
            arrived_ = true;
            changed_.notify_all();
            std::stop_callback wake(stop, [this] {
                std::lock_guard inner(mutex_);
                changed_.notify_all();
            });
            changed_.wait_for(lock, http::testing::kPatience, [&] { return stop.stop_requested(); });
            if (stop.stop_requested()) {
                stopped_ = true;
                throw http::TransportError("stopped");
            }
        }
        return http::defaultTransport()->send(request, stop);
    }
    bool awaitArrival() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, http::testing::kPatience, [&] { return arrived_; });
    }
    bool stopped() {
        std::lock_guard lock(mutex_);
        return stopped_;
    }

private:
    std::atomic<bool> held_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool arrived_ = false;
    bool stopped_ = false;
};

class HarnessClientTest : public SignedInControllerTest {
protected:
    void SetUp() override {
        chatTransport_ = held_;
        SignedInControllerTest::SetUp();
    }
    std::shared_ptr<ChatHeldUntilStopped> held_ = std::make_shared<ChatHeldUntilStopped>();
};

// A "/test/" request whose client hung up while its turn ran still ran the whole turn on Logic
// Pro. Its turn is stopped now, as the stop button stops one, and nothing is done after it.
TEST_F(HarnessClientTest, ATurnWhoseClientHungUpIsStoppedAndChangesNothingAfter) {
    const auto before = get("/test/snapshot?tracks=Guitar");
    ASSERT_TRUE(before);
    const std::string body =
        json{{"test", {{"id", "mute"}, {"snapshotTracks", {"Guitar"}}, {"prompt", "Mute the guitar"}, {"assertions", json::array()}}}}
            .dump();
    {
        http::testing::RawClient client(port());
        client.send("POST /test/run HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
                    "\r\n\r\n" + body);
        ASSERT_TRUE(held_->awaitArrival()) << client.readAll().bytes;
        client.close();  // as a client that gives up does: the end of its stream, no reset
    }
    // Behind the run on the harness: answered once the run has let go of Logic Pro.
    const auto after = get("/test/snapshot?tracks=Guitar");
    ASSERT_TRUE(after);
    EXPECT_TRUE(held_->stopped());
    EXPECT_EQ(json::parse(after->body), json::parse(before->body));  // the guitar was never muted
    EXPECT_FALSE(world().project().track("Guitar")->muted);
    EXPECT_FALSE(controller().chatOrchestrator().isTurnRunning());
}

// SIGTERM let the harness's running turn go on to its end, then started each turn waiting behind
// it, all driving Logic Pro, before the program ended. Shutting down stops the running turn as
// Stop does and starts none of the waiting ones, each told why.
TEST_F(HarnessClientTest, ShuttingDownStopsTheRunningTurnAndStartsNoneOfTheWaitingOnes) {
    // A request has reached its route (and waits for the harness) once it is logged.
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    const auto previousSink = platform::setLogSink([&](std::string_view line) {
        if (line != "[API] Local request POST /test/prompt") return;
        std::lock_guard lock(mutex);
        ++arrived;
        changed.notify_all();
    });
    struct RestoreSink {
        platform::LogSink sink;
        ~RestoreSink() { platform::setLogSink(std::move(sink)); }
    } restore{previousSink};
    const std::string prompt = R"({"prompt":"Mute the guitar","timeoutSeconds":600})";
    std::vector<std::unique_ptr<http::testing::RawClient>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<http::testing::RawClient>(port()));
        clients.back()->send("POST /test/prompt HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                             std::to_string(prompt.size()) + "\r\n\r\n" + prompt);
        if (i == 0) {
            ASSERT_TRUE(held_->awaitArrival());
        }
    }
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, http::testing::kPatience, [&] { return arrived == 3; }));
    }
    const auto chats = controller().conversationStore().conversationState().threads.size();

    std::jthread closing([this] { controller().shutdown(); });
    for (std::size_t i = 0; i < clients.size(); ++i) {
        const auto answer = http::testing::parseAnswer(clients[i]->readAll().bytes);
        ASSERT_TRUE(answer) << i;
        EXPECT_EQ(answer->status, 503) << i;
        EXPECT_EQ(json::parse(answer->body),
                  (json{{"error", i == 0 ? TestRunner::kShutdownStop : TestRunner::kShutdownRefusal}}))
            << i;
    }
    closing.join();
    EXPECT_TRUE(held_->stopped());
    EXPECT_FALSE(world().project().track("Guitar")->muted);
    EXPECT_EQ(controller().conversationStore().conversationState().threads.size(), chats);
}

}  // namespace
}  // namespace corvane::app::testing
