#pragma once

// Runs scripted agent turns for the "/test/" routes: snapshots of named tracks' channel strips
// before and after, one prompt through the same agent loop as the chat window on a fresh thread,
// screenshots of Logic Pro, and the test's assertions, into one TestResult; or a list of stored
// test cases into one SuiteResult.
//
// One harness run drives Logic Pro at a time: runs are serialised against each other, and each
// holds the agent loop from before its first snapshot to after its last, so a run asked for while
// the chat window's turn is working is refused (the agent loop's busy message) before it touches
// Logic Pro, and no window turn starts in the middle of a run. A turn that outlives its time-out is stopped and waited for before
// the "after" snapshots, so it never drives Logic Pro beside them or beside the next test.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "capture/capture_service.h"
#include "chat/chat_orchestrator.h"
#include "chat/tool_logger.h"
#include "conversation/conversation_store.h"
#include "logic/logic_inspector.h"
#include "platform/clock.h"
#include "testing/assertion_evaluator.h"
#include "testing/test_records.h"

namespace corvane {

class TestRunner final {
public:
    struct Services {
        const LogicInspector& logicInspector;
        ChatOrchestrator& chatOrchestrator;
        ConversationStore& conversationStore;
        CaptureService& captureService;
        // The logger the orchestrator writes to; each turn's log is found by its own new thread.
        ToolLogger& toolLogger;
        platform::Clock& clock;
        // Stopped when the program shuts down: a turn running is stopped, and nothing starts after.
        std::stop_token closing{};
    };

    static constexpr const char* kTimeoutDescription = "Test timed out waiting for agent response";
    static constexpr const char* kNoFinalResponseDescription = "The agent turn ended without a final response";
    static constexpr const char* kFailedTurnDescription = "The agent turn failed";
    static constexpr const char* kCallerGoneDescription = "The test's client hung up: its turn was stopped";
    static constexpr const char* kShutdownRefusal = "Corvane is shutting down, so the test was not started.";
    static constexpr const char* kShutdownStop = "Corvane is shutting down, so the test was stopped.";
    static constexpr const char* kLogicScript = "tell application \"Logic Pro\" to activate";
    static constexpr const char* kTerminalScript = "tell application \"Ghostty\" to activate";
    static constexpr double kActivationPause = 0.5;
    static constexpr double kSelectionPause = 0.3;
    // Each snapshotted track costs a selection pause while the run holds Logic Pro.
    static constexpr std::size_t kMaxSnapshotTracks = 64;

    // The outcome of one agent turn. `error` is set whenever the turn did not complete: time-out,
    // a stream without a final response, a failed or stopped turn, or a refused one. A failed
    // turn still carries its response.
    struct PromptOutcome {
        std::optional<ChatResponse> response;
        std::optional<TurnLog> turnLog;
        std::optional<std::string> error;
        bool timedOut = false;
    };

    // Creates both folders, with their parents, when missing.
    TestRunner(Services services, std::filesystem::path testCasesDir, std::filesystem::path testResultsDir);
    // The "test-cases" and "test-results" folders of the application folder.
    explicit TestRunner(Services services);

    const std::filesystem::path& testCasesDir() const { return testCasesDir_; }
    const std::filesystem::path& testResultsDir() const { return testResultsDir_; }

    // Why a list of tracks to snapshot is refused (more than kMaxSnapshotTracks names); absent
    // when it is fine.
    static std::optional<std::string> snapshotListError(const std::vector<std::string>& names);
    // The snapshots, or why there are none: the agent loop's busy message (Logic Pro untouched
    // while the chat window's turn is working), kCallerGoneDescription, or the shutdown's.
    struct SnapshotOutcome {
        std::optional<SnapshotMap> snapshots;
        std::optional<std::string> error;
    };
    // GET "/test/snapshot": Logic Pro to the front, the snapshots, the terminal to the front.
    // Names past kMaxSnapshotTracks are not snapshotted (the route refuses such lists first).
    // Once the client hangs up or the program shuts down, no further track is selected and the
    // pause under way ends.
    SnapshotOutcome snapshot(const std::vector<std::string>& names, std::stop_token callerGone = {});
    // POST "/test/prompt": one turn on a new thread, bounded by the time-out. Once `callerGone`
    // stops (the client hung up), a turn running is stopped as the stop button stops it, a pause
    // under way (the snapshots' included) ends, and no chat, turn, snapshot or screenshot is taken
    // after it: nobody waits for them. So it is once the program shuts down (`closing`), the
    // outcome then saying so (kShutdownStop, kShutdownRefusal).
    PromptOutcome prompt(const std::string& text, std::int64_t timeoutSeconds, std::stop_token callerGone = {});
    TestResult runTest(const TestCase& test, std::stop_token callerGone = {});
    SuiteResult runSuite(const std::vector<std::string>& testIDs, std::stop_token callerGone = {});

    // The stored files; absent when the name is unsafe, or the file is missing, unreadable or
    // does not read strictly.
    std::optional<TestCase> loadTestCase(const std::string& testID) const;
    std::optional<TestSuiteDefinition> loadSuite(const std::string& name) const;

    static std::string timedOutError(std::int64_t timeoutSeconds);
    static std::string notFoundError(const std::string& testID);
    static std::string notCreatedError(const std::string& reason);
    static std::string unsafeNameError(const std::string& testID);
    // Whether the error says the run was refused or stopped because the program is shutting down.
    static bool endedByShutdown(const std::optional<std::string>& error);

private:
    // The callers below hold harnessMutex_.
    // Absent when cut short by `stop`: a part would pass for the whole list.
    std::optional<SnapshotMap> snapshotTracks(const std::vector<std::string>& names, std::stop_token stop);
    // Why a run was cut short: the client's hang-up, else the shutdown.
    static const char* abandonedDescription(const std::stop_token& callerGone);
    PromptOutcome sendPromptAndWait(const TurnReservation& reservation, const std::string& text,
                                    std::int64_t timeoutSeconds, std::stop_token callerGone);
    std::optional<std::string> captureScreenshot(const std::string& label, const std::string& testID);
    std::optional<TurnLog> turnLogFor(const std::string& threadID, const std::string& prompt);
    void runScript(const char* source) const;
    double secondsSince(platform::Clock::TimePoint start) const;

    Services services_;
    std::filesystem::path testCasesDir_;
    std::filesystem::path testResultsDir_;
    std::mutex harnessMutex_;
};

}  // namespace corvane
