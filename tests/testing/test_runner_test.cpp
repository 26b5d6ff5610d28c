// Whole test runs on the stand-in's demo song: the real agent loop, tools, stores and tool logger,
// with a chat backend that answers each request with the next scripted reply.

#include "testing/test_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/standin/standin_fixture.h"
#include "plugins/plugin_map_store.h"
#include "support/files.h"
#include "chat/turn_services.h"
#include "test_support/scripted_chat_backend.h"
#include "test_support/temp_home.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

class TestRunnerTest : public standin::testing::StandinTest, protected ScriptedTurns {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        // After the world is installed, so that the runner keeps its virtual clock.
        runnerPtr = std::make_unique<TestRunner>(
            TestRunner::Services{logic, *orchestrator, conversations, capture, logger, platform::clock()},
            home.root() / "cases", home.root() / "results");
        backend.setAuthTokenProvider([] { return std::optional<std::string>("token"); });
    }
    void TearDown() override {
        orchestrator.reset();
        world().drainMainQueue();
        StandinTest::TearDown();
    }

    TestCase testCase(const std::string& id, std::vector<TestAssertion> assertions = {}) {
        TestCase test;
        test.id = id;
        test.prompt = "Mute the guitar";
        test.captureScreenshots = false;
        test.assertions = std::move(assertions);
        return test;
    }
    void writeCase(const std::string& name, const std::string& text) {
        ASSERT_TRUE(writeFileAtomically(runner().testCasesDir() / name, text));
    }
    std::string strip(const std::string& track, const std::string& key) {
        const auto selected = logic.selectTrack(track);
        return selected ? logic.readChannelStrip(selected->mainWindow).text(key.c_str()).value_or("") : "";
    }

    PermissionService permissions;
    CaptureService capture{logic, permissions};
    std::unique_ptr<TestRunner> runnerPtr;
    TestRunner& runner() { return *runnerPtr; }
};

TEST_F(TestRunnerTest, ScreenshotsAKilledRunLeftHalfWrittenGoAtStartAndNothingElseDoes) {
    const auto folder = home.root() / "results" / "mute-guitar";
    std::filesystem::create_directories(folder);
    const std::vector<std::string> leftovers = {".before.png.tmp-0123456789ab", ".after.png.tmp-abcdef012345"};
    const std::vector<std::string> kept = {"before.png", ".before.png.tmp-0123", ".notes.png.tmp-0123456789ab"};
    for (const auto& name : leftovers) writeAll(folder / name, "half");
    for (const auto& name : kept) writeAll(folder / name, "keep");
    TestRunner started(TestRunner::Services{logic, *orchestrator, conversations, capture, logger, platform::clock()},
                       home.root() / "cases", home.root() / "results");
    for (const auto& name : leftovers) EXPECT_FALSE(std::filesystem::exists(folder / name)) << name;
    for (const auto& name : kept) EXPECT_EQ(readAll(folder / name), "keep") << name;
}

TEST_F(TestRunnerTest, ARunChecksTheSnapshotsTheReplyAndItsOwnTurnsLog) {
    // A newer log of another thread, as a window turn ending meanwhile would leave.
    TurnLog other;
    other.turnTimestamp = "9999-01-01T00:00:00Z";
    other.threadID = "someone-else";
    other.userMessage = "x";
    other.totalRounds = 9;
    ASSERT_TRUE(writeFileAtomically(logger.logsDir() / "9999-01-01T00-00-00Z.json", json(other).dump()));

    transport->reply(callsReply({{"c1", "set_track_mute", R"({"track_names":["Guitar"],"enabled":true})"}}));
    transport->reply(respondReply("Guitar is muted."));
    auto test = testCase("mute-guitar", {{"track", "Guitar", "mute", "changed", {}, {}, {}},
                                         {"track", "guitar", "mute", "is_on", {}, {}, {}},
                                         {"tool", {}, {}, "was_called", "set_track_mute", {}, {}},
                                         {"tool", {}, {}, "all_succeeded", {}, {}, {}},
                                         {"agent", {}, {}, "response_contains", {}, {}, "MUTED"},
                                         {"agent", {}, {}, "max_rounds", {}, {}, "1"}});
    test.snapshotTracks = std::vector<std::string>{"Guitar", "guitar", "Nowhere"};
    test.captureScreenshots.reset();
    const auto start = platform::clock().now();
    const auto result = runner().runTest(test);

    EXPECT_TRUE(result.passed) << json(result).dump(2);
    EXPECT_FALSE(result.error);
    EXPECT_EQ(result.agentResponse, "Guitar is muted.");
    ASSERT_TRUE(result.toolCalls);
    ASSERT_EQ(result.toolCalls->size(), 2u);
    EXPECT_EQ((*result.toolCalls)[0].tool, "set_track_mute");
    EXPECT_EQ(result.totalRounds, 1);
    EXPECT_EQ(result.before.at("guitar").trackName, "Guitar");
    EXPECT_NE(result.before.at("Guitar").mute, result.after.at("Guitar").mute);
    EXPECT_EQ(result.after.at("Nowhere"), (TrackSnapshot{"Nowhere", {}, {}, {}, {}, {}, {}, {}, {}}));
    // The activation pause and six selections, in virtual time.
    const auto elapsed = std::chrono::duration<double>(platform::clock().now() - start).count();
    EXPECT_GE(result.durationMs, 500 + 4 * 300);
    EXPECT_LE(result.durationMs, static_cast<std::int64_t>(elapsed * 1000) + 1);
    ASSERT_TRUE(result.screenshots);
    for (const auto& path : {result.screenshots->beforePath, result.screenshots->afterPath}) {
        ASSERT_TRUE(path);
        EXPECT_TRUE(std::filesystem::exists(*path));
        EXPECT_EQ(std::filesystem::path(*path).parent_path(),
                  std::filesystem::absolute(runner().testResultsDir() / "mute-guitar"));
    }
    EXPECT_FALSE(orchestrator->isTurnRunning());
}

TEST_F(TestRunnerTest, ATurnThatFailsFailsTheTestWhateverItsAssertions) {
    struct Case {
        const char* label;
        std::function<void()> arrange;
        std::string error;
    };
    const std::vector<Case> cases{
        {"backend error", [this] { transport->status(500); }, ""},
        {"tool log not written",
         [this] {
             std::filesystem::remove_all(logger.logsDir());
             writeAll(logger.logsDir(), "a file where the folder was");
             transport->reply(respondReply("Guitar is muted."));
         },
         ""},
        {"no sign-in token", [this] { backend.setAuthTokenProvider([] { return std::optional<std::string>(); }); }, ""},
    };
    for (const auto& c : cases) {
        c.arrange();
        const auto result =
            runner().runTest(testCase("failing", {{"tool", {}, {}, "was_not_called", "add_plugin", {}, {}}}));
        EXPECT_FALSE(result.passed) << c.label;
        ASSERT_TRUE(result.error) << c.label;
        EXPECT_FALSE(result.error->empty()) << c.label;
        EXPECT_FALSE(result.agentResponse) << c.label;
        EXPECT_FALSE(result.toolCalls) << c.label;
        EXPECT_FALSE(result.totalRounds) << c.label;
        ASSERT_EQ(result.assertionResults.size(), 1u);
        EXPECT_EQ(result.assertionResults[0], (AssertionResult{false, "tool add_plugin: no tool log for this turn"}));
    }
}

TEST_F(TestRunnerTest, ATurnPastItsTimeOutIsStoppedBeforeTheAfterSnapshots) {
    transport->reply(callsReply({{"c1", "set_track_mute", R"({"track_names":["Guitar"],"enabled":true})"}}));
    Gate gate;
    transport->push([&](const json&, std::stop_token stop) {
        world().advance(31);
        return holdAt(gate, stop);
    });
    auto test = testCase("slow", {{"agent", {}, {}, "response_contains", {}, {}, "muted"}});
    test.timeoutSeconds = 30;
    test.snapshotTracks = std::vector<std::string>{"Guitar"};
    const auto result = runner().runTest(test);

    EXPECT_EQ(result.error, "Agent timed out after 30s");
    EXPECT_FALSE(result.passed);
    EXPECT_FALSE(result.agentResponse);
    EXPECT_FALSE(result.toolCalls);
    EXPECT_FALSE(orchestrator->isTurnRunning());
    // The mute landed before the time-out, and the after snapshot saw it.
    EXPECT_NE(result.before.at("Guitar").mute, result.after.at("Guitar").mute);
    EXPECT_EQ(result.assertionResults[0].message, "response_contains: no agent response for this turn");
}

TEST_F(TestRunnerTest, TheWindowsTurnKeepsLogicProUntilItEnds) {
    Gate gate;
    transport->hold(gate);
    ChatRequest window;
    window.message = "Check the mix";
    auto windowStream = orchestrator->handleChatStreaming(window);
    ASSERT_TRUE(orchestrator->isTurnRunning());

    auto test = testCase("refused");
    test.snapshotTracks = std::vector<std::string>{"Guitar"};
    test.captureScreenshots.reset();
    const auto result = runner().runTest(test);
    EXPECT_EQ(result.error, ChatOrchestrator::kBusyMessage);
    EXPECT_FALSE(result.passed);
    EXPECT_TRUE(result.before.empty());
    EXPECT_TRUE(result.after.empty());
    EXPECT_EQ(result.screenshots, (TestScreenshots{{}, {}, "display"}));
    EXPECT_FALSE(runner().snapshot({"Guitar"}).snapshots);
    EXPECT_EQ(runner().prompt("Hi", 5).error, ChatOrchestrator::kBusyMessage);

    gate.open();
    windowStream->collect();
}

// The stand-in's clock, running a hook once before the first sleep.
class HookedClock final : public platform::Clock {
public:
    explicit HookedClock(std::function<void()> hook) : hook_(std::move(hook)) {}
    TimePoint now() override { return platform::clock().now(); }
    void sleep(std::chrono::duration<double> duration) override {
        if (auto hook = std::exchange(hook_, nullptr)) hook();
        platform::clock().sleep(duration);
    }

private:
    std::function<void()> hook_;
};

TEST_F(TestRunnerTest, AWindowTurnCannotSlipInBetweenTheBusyCheckAndTheRunsOwnTurn) {
    std::shared_ptr<AgentEventStream> windowStream;
    // The window's message arrives while the run waits for Logic Pro to come to the front.
    HookedClock clock([&] {
        ChatRequest window;
        window.message = "Check the mix";
        windowStream = orchestrator->handleChatStreaming(window);
    });
    TestRunner hooked(TestRunner::Services{logic, *orchestrator, conversations, capture, logger, clock},
                      home.root() / "cases", home.root() / "results");
    transport->reply(respondReply("Done."));
    auto test = testCase("raced");
    test.snapshotTracks = std::vector<std::string>{"Guitar"};
    const auto result = hooked.runTest(test);

    EXPECT_FALSE(result.error) << *result.error;
    EXPECT_EQ(result.agentResponse, "Done.");
    ASSERT_TRUE(windowStream);
    std::vector<std::string> windowErrors;
    for (const auto& event : windowStream->collect())
        if (auto* error = std::get_if<AgentEvent::Error>(&event.value)) windowErrors.push_back(error->message);
    EXPECT_EQ(windowErrors, std::vector<std::string>{ChatOrchestrator::kBusyMessage});
}

TEST_F(TestRunnerTest, ALongTrackListIsRefusedAndARepeatedNameIsSnapshottedOnce) {
    auto test = testCase("many");
    test.snapshotTracks = std::vector<std::string>(TestRunner::kMaxSnapshotTracks + 1, "Guitar");
    const auto start = platform::clock().now();
    auto result = runner().runTest(test);
    EXPECT_EQ(result.error, "snapshotTracks lists 65 tracks; at most 64 can be snapshotted in one run.");
    EXPECT_FALSE(result.passed);
    EXPECT_TRUE(result.before.empty());
    EXPECT_EQ(platform::clock().now(), start);  // Logic Pro was not touched
    EXPECT_TRUE(transport->requests().empty());

    transport->reply(respondReply("Done."));
    test.snapshotTracks = std::vector<std::string>(TestRunner::kMaxSnapshotTracks, "Guitar");
    result = runner().runTest(test);
    EXPECT_FALSE(result.error) << *result.error;
    EXPECT_EQ(result.before.size(), 1u);
    EXPECT_EQ(result.before.at("Guitar").trackName, "Guitar");
    // The activation pause and one selection before and after (each a little over its 300 ms
    // pause), not 128 selections.
    EXPECT_LT(result.durationMs, 500 + 10 * 300);
}

// The runner's clock, which requests a stop at its moment number `tripAt` (none for 0): the
// beginning of pause k is moment 2k - 1, its end moment 2k. It counts the pauses, and the pauses
// begun and the time paced after the stop.
class TrippingClock final : public platform::Clock {
public:
    TrippingClock(platform::Clock& inner, std::size_t tripAt, std::function<void()> trip)
        : inner_(inner), tripAt_(tripAt), trip_(std::move(trip)) {}
    TimePoint now() override { return inner_.now(); }
    void sleep(std::chrono::duration<double> duration) override {
        const auto start = begin();
        inner_.sleep(duration);
        end(start);
    }
    bool sleepUnlessStopped(std::chrono::duration<double> duration, std::stop_token stop) override {
        const auto start = begin();
        const bool whole = inner_.sleepUnlessStopped(duration, std::move(stop));
        end(start);
        return whole;
    }
    Subscription onMoved(std::function<void()> moved) override { return inner_.onMoved(std::move(moved)); }

    std::size_t pauses = 0;
    std::size_t pausesAfterTrip = 0;
    TimePoint::duration pacedAfterTrip{};

private:
    TimePoint begin() {
        if (tripped_) ++pausesAfterTrip;
        ++pauses;
        moment();
        return inner_.now();
    }
    void end(TimePoint start) {
        if (tripped_) pacedAfterTrip += inner_.now() - start;
        moment();
    }
    void moment() {
        if (++moments_ != tripAt_) return;
        tripped_ = true;
        trip_();
    }
    platform::Clock& inner_;
    std::size_t tripAt_;
    std::size_t moments_ = 0;
    std::function<void()> trip_;
    bool tripped_ = false;
};

// The snapshots' pauses heard neither the program's ending nor the client's hang-up: a run of 7
// tracks held the ending for seconds, and a client gone during the "before" snapshots still got a
// chat and a turn. Whichever of its pauses a run, a suite or a snapshot is in or has just ended
// when either comes, the pause ends there, no other begins, no chat is created, and the answer
// says why.
TEST_F(TestRunnerTest, AStopAtAnyPauseOfTheHarnessEndsItThere) {
    const std::vector<std::string> tracks{"Guitar", "Bass"};
    writeCase("first.json", json{{"id", "first"}, {"prompt", "Which tracks?"}, {"captureScreenshots", false},
                                 {"snapshotTracks", tracks}, {"assertions", json::array()}}
                                .dump());
    writeCase("second.json", R"({"id":"second","prompt":"Which tracks?","captureScreenshots":false,"assertions":[]})");
    enum class Work { run, suite, snapshot };
    enum class Ending { shutdown, hangUp };
    struct Outcome {
        std::vector<std::optional<std::string>> errors;  // of each test, or of the snapshot
        bool snapshots = false;
    };
    const auto perform = [&](Work work, TestRunner& runner, std::stop_token callerGone) {
        Outcome outcome;
        if (work == Work::run) {
            outcome.errors.push_back(runner.runTest(*runner.loadTestCase("first"), callerGone).error);
        } else if (work == Work::suite) {
            for (const auto& result : runner.runSuite({"first", "second"}, callerGone).results)
                outcome.errors.push_back(result.error);
        } else {
            const auto taken = runner.snapshot(tracks, callerGone);
            outcome.errors.push_back(taken.error);
            outcome.snapshots = taken.snapshots.has_value();
        }
        return outcome;
    };
    const auto chats = [&] { return conversations.conversationState().threads.size(); };

    int cases = 0;
    for (const Work work : {Work::run, Work::suite, Work::snapshot}) {
        std::size_t total = 0;
        {
            TrippingClock counting(platform::clock(), 0, [] {});
            TestRunner whole(TestRunner::Services{logic, *orchestrator, conversations, capture, logger, counting},
                             home.root() / "cases", home.root() / "results");
            const auto outcome = perform(work, whole, {});
            total = counting.pauses;
            EXPECT_EQ(outcome.snapshots, work == Work::snapshot);
        }
        ASSERT_EQ(total, work == Work::suite ? 6u : work == Work::run ? 5u : 3u);
        for (std::size_t tripAt = 1; tripAt <= 2 * total; ++tripAt) {
            for (const Ending ending : {Ending::shutdown, Ending::hangUp}) {
                ++cases;
                SCOPED_TRACE(::testing::Message() << "case " << cases << ", work " << int(work) << ", stopped at moment " << tripAt
                                                << (ending == Ending::shutdown ? " by the shutdown" : " by a hang-up"));
                std::stop_source closing, hungUp;
                std::size_t chatsAtTrip = 0;
                TrippingClock clock(platform::clock(), tripAt, [&] {
                    chatsAtTrip = chats();
                    (ending == Ending::shutdown ? closing : hungUp).request_stop();
                });
                TestRunner runner(
                    TestRunner::Services{logic, *orchestrator, conversations, capture, logger, clock, closing.get_token()},
                    home.root() / "cases", home.root() / "results");
                const auto outcome = perform(work, runner, hungUp.get_token());

                EXPECT_EQ(clock.pausesAfterTrip, 0u);
                EXPECT_EQ(clock.pacedAfterTrip, platform::Clock::TimePoint::duration::zero());
                EXPECT_EQ(chats(), chatsAtTrip);
                EXPECT_FALSE(orchestrator->isTurnRunning());
                // Past a test's last pause only its reading of the last strip is left: the stop
                // cuts nothing there, and in a suite the next test is not started.
                const std::size_t runMoments = 10;
                std::size_t affected = tripAt < runMoments ? 0 : 1;
                bool cut = tripAt != runMoments;
                if (work == Work::snapshot) affected = tripAt < 2 * total ? 0 : 1;
                EXPECT_EQ(outcome.snapshots, work == Work::snapshot && affected == 1);
                ASSERT_EQ(outcome.errors.size(), work == Work::suite ? 2u : 1u);
                for (std::size_t i = affected; i < outcome.errors.size(); ++i) {
                    if (ending == Ending::hangUp)
                        EXPECT_EQ(outcome.errors[i], TestRunner::kCallerGoneDescription) << i;
                    else
                        EXPECT_EQ(outcome.errors[i], cut && i == affected ? TestRunner::kShutdownStop
                                                                          : TestRunner::kShutdownRefusal)
                            << i;
                    cut = false;
                }
            }
        }
    }
}

TEST_F(TestRunnerTest, ASuiteRunsEveryIDInOrderAndReportsWhatDidNotLoad) {
    writeCase("quick.json", R"({"id":"quick","prompt":"Which tracks?","captureScreenshots":false,"assertions":[]})");
    writeCase("broken.json", R"({"id":"broken","prompt":"x","assertions":[],})");
    writeCase("renamed.json", R"({"id":"inner-id","prompt":"x","captureScreenshots":false,"assertions":[]})");
    writeCase("escape.json", R"({"id":"../escape","prompt":"x","assertions":[]})");
    for (int i = 0; i < 3; ++i) transport->reply(respondReply("Done."));

    const auto suite = runner().runSuite({"quick", "missing", "broken", "quick", "renamed", "../quick", "escape"});
    EXPECT_EQ(suite.suite, "quick,missing,broken,quick,renamed,../quick,escape");
    ASSERT_EQ(suite.results.size(), 7u);
    EXPECT_EQ(suite.passedCount, 3);
    EXPECT_EQ(suite.failedCount, 4);
    const std::vector<std::pair<std::string, std::optional<std::string>>> expected{
        {"quick", std::nullopt},
        {"missing", "Test case 'missing' not found"},
        {"broken", "Test case 'broken' not found"},
        {"quick", std::nullopt},
        {"inner-id", std::nullopt},
        {"../quick", "Test ID '../quick' must be a plain file name (no '/', '\\', '..' or NUL)"},
        {"../escape", "Test ID '../escape' must be a plain file name (no '/', '\\', '..' or NUL)"},
    };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(suite.results[i].testID, expected[i].first) << i;
        EXPECT_EQ(suite.results[i].error, expected[i].second) << i;
    }
    EXPECT_EQ(json(suite.results[1]), json::parse(R"({"testID":"missing","passed":false,"durationMs":0,"before":{},
        "after":{},"assertionResults":[],"error":"Test case 'missing' not found"})"));
    EXPECT_FALSE(std::filesystem::exists(home.root() / "escape"));
    EXPECT_GE(suite.totalDurationMs, 3 * 500);

    const auto empty = runner().runSuite({});
    EXPECT_EQ(empty, (SuiteResult{"", {}, 0, 0, 0}));
}

}  // namespace
}  // namespace corvane::testing
