#include "testing/test_runner.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/log.h"
#include "platform/platform.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "support/json_fields.h"
#include "support/unicode.h"

namespace corvane {

namespace {

// How often a wait for a turn looks at the clock when nothing else wakes it: the clock does not
// say when it moves, and a turn may hang on the network without any event.
constexpr std::chrono::milliseconds kClockCheckInterval{20};

// Past this a deadline would overflow the clock's time points; such a turn simply has none.
constexpr std::int64_t kLongestDeadlineSeconds = 1'000'000'000;

std::int64_t wholeMilliseconds(double seconds) {
    const double ms = std::trunc(seconds * 1000.0);
    return std::isfinite(ms) && ms >= 0 && ms < 9.0e18 ? static_cast<std::int64_t>(ms) : 0;
}

// What a turn's events amount to, filled by the thread that reads its stream.
struct TurnWatch {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<ChatResponse> response;
    std::optional<std::string> lastError;
    bool finished = false;
};

// Requested once the client hangs up or the program shuts down, whichever comes first: a run's
// pauses and steps listen to one token.
class Abandonment {
public:
    Abandonment(const std::stop_token& callerGone, const std::stop_token& closing)
        : hungUp_(callerGone, Requester{source_}), shuttingDown_(closing, Requester{source_}) {}
    std::stop_token token() const { return source_.get_token(); }

private:
    struct Requester {
        std::stop_source source;
        void operator()() const { source.request_stop(); }
    };
    std::stop_source source_;
    std::stop_callback<Requester> hungUp_;
    std::stop_callback<Requester> shuttingDown_;
};

}  // namespace

TestRunner::TestRunner(Services services, std::filesystem::path testCasesDir, std::filesystem::path testResultsDir)
    : services_(services), testCasesDir_(std::move(testCasesDir)), testResultsDir_(std::move(testResultsDir)) {
    createPrivateFolders(testCasesDir_);
    createPrivateFolders(testResultsDir_);
    std::error_code ignored;
    // Screenshots half-written when a run was killed, in each test's folder.
    for (std::filesystem::directory_iterator it(testResultsDir_, ignored), end; !ignored && it != end;
         it.increment(ignored)) {
        std::error_code unreadable;
        if (it->is_directory(unreadable) && !it->is_symlink(unreadable))
            removeLeftoverTemporaryFiles(
                it->path(), [](std::string_view name) { return name == "before.png" || name == "after.png"; });
    }
}

TestRunner::TestRunner(Services services)
    : TestRunner(services, AppPaths::appSupportDirectory("test-cases"), AppPaths::appSupportDirectory("test-results")) {
}

std::string TestRunner::timedOutError(std::int64_t timeoutSeconds) {
    return "Agent timed out after " + std::to_string(timeoutSeconds) + "s";
}

std::string TestRunner::notCreatedError(const std::string& reason) {
    return "The test's chat could not be created: " + reason + ".";
}

std::string TestRunner::notFoundError(const std::string& testID) { return "Test case '" + testID + "' not found"; }

std::string TestRunner::unsafeNameError(const std::string& testID) {
    return "Test ID '" + testID + "' must be a plain file name (no '/', '\\', '..' or NUL)";
}

bool TestRunner::endedByShutdown(const std::optional<std::string>& error) {
    return error == kShutdownRefusal || error == kShutdownStop;
}

const char* TestRunner::abandonedDescription(const std::stop_token& callerGone) {
    return callerGone.stop_requested() ? kCallerGoneDescription : kShutdownStop;
}

void TestRunner::runScript(const char* source) const {
    // Fire and forget: the run relies on neither the result nor the error.
    (void)platform::workspace().runAppleScript(source);
}

double TestRunner::secondsSince(platform::Clock::TimePoint start) const {
    return std::chrono::duration<double>(services_.clock.now() - start).count();
}

// --- Files ---------------------------------------------------------------------------------------

std::optional<TestCase> TestRunner::loadTestCase(const std::string& testID) const {
    if (!isSafeTestName(testID)) return std::nullopt;
    const auto file = readFile(testCasesDir_ / (testID + ".json"));
    if (!file.ok()) return std::nullopt;
    try {
        return json_fields::decode<TestCase>(file.bytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<TestSuiteDefinition> TestRunner::loadSuite(const std::string& name) const {
    if (!isSafeTestName(name)) return std::nullopt;
    const auto file = readFile(testCasesDir_ / (name + ".suite.json"));
    if (!file.ok()) return std::nullopt;
    try {
        return json_fields::decode<TestSuiteDefinition>(file.bytes);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// --- Snapshots and screenshots -------------------------------------------------------------------

TestRunner::SnapshotOutcome TestRunner::snapshot(const std::vector<std::string>& names, std::stop_token callerGone) {
    std::lock_guard harness(harnessMutex_);
    if (callerGone.stop_requested()) return {{}, kCallerGoneDescription};
    if (services_.closing.stop_requested()) return {{}, kShutdownRefusal};
    const auto reservation = services_.chatOrchestrator.reserveTurn(TurnOwner::harness);
    if (!reservation) return {{}, ChatOrchestrator::kBusyMessage};
    const Abandonment abandonment(callerGone, services_.closing);
    const auto stop = abandonment.token();
    runScript(kLogicScript);
    SnapshotOutcome outcome;
    if (services_.clock.sleepUnlessStopped(std::chrono::duration<double>(kActivationPause), stop))
        outcome.snapshots = snapshotTracks(names, stop);
    if (!outcome.snapshots) outcome.error = abandonedDescription(callerGone);
    runScript(kTerminalScript);
    return outcome;
}

std::optional<std::string> TestRunner::snapshotListError(const std::vector<std::string>& names) {
    if (names.size() <= kMaxSnapshotTracks) return std::nullopt;
    return "snapshotTracks lists " + std::to_string(names.size()) + " tracks; at most " +
           std::to_string(kMaxSnapshotTracks) + " can be snapshotted in one run.";
}

std::optional<SnapshotMap> TestRunner::snapshotTracks(const std::vector<std::string>& names, std::stop_token stop) {
    const auto& logic = services_.logicInspector;
    SnapshotMap snapshots;
    const std::size_t count = std::min(names.size(), kMaxSnapshotTracks);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string& name = names[i];
        // A repeated name would be selected and paused for again only to give the same entry.
        if (snapshots.count(name)) continue;
        if (stop.stop_requested()) return std::nullopt;
        TrackSnapshot snapshot;
        snapshot.trackName = name;
        const auto selected = logic.selectTrack(name);
        if (!selected) {
            snapshots[name] = std::move(snapshot);
            continue;
        }
        if (!services_.clock.sleepUnlessStopped(std::chrono::duration<double>(kSelectionPause), stop))
            return std::nullopt;
        const auto strip = logic.readChannelStrip(selected->mainWindow);
        snapshot.trackName = selected->header.name;
        snapshot.volume = strip.text("volume");
        snapshot.volumeDisplay = strip.text("volumeDisplay");
        snapshot.pan = strip.text("pan");
        snapshot.solo = strip.text("solo");
        snapshot.mute = strip.text("mute");
        snapshot.output = strip.text("output");
        snapshot.channelMode = strip.text("channelMode");
        std::int64_t index = 0;
        for (const auto& slot : logic.findTrackPluginSlots(selected->mainWindow))
            snapshot.plugins.push_back({index++, slot.name, slot.isBypassed});
        snapshots[name] = std::move(snapshot);
    }
    return snapshots;
}

std::optional<std::string> TestRunner::captureScreenshot(const std::string& label, const std::string& testID) {
    const auto folder = testResultsDir_ / testID;
    const auto file = folder / (label + ".png");
    std::string why;
    try {
        const auto artifact = services_.captureService.captureLogic(false, CaptureMode::display);
        createPrivateFolders(folder);
        keepNewestTestResults(testResultsDir_, folder);
        if (writeFileAtomically(file, artifact.pngData)) return std::filesystem::absolute(file).string();
        why = "The file could not be written.";
    } catch (const std::exception& error) {
        why = error.what();
    }
    log("[TestRunner] Screenshot failed for " + testID + "/" + label + ": " + why);
    return std::nullopt;
}

// --- One agent turn ------------------------------------------------------------------------------

TestRunner::PromptOutcome TestRunner::prompt(const std::string& text, std::int64_t timeoutSeconds,
                                             std::stop_token callerGone) {
    // Refused before Logic Pro is brought forward or a thread is made for it.
    if (auto tooLong = ChatOrchestrator::messageProblem(text)) return {{}, {}, *tooLong, false};
    std::lock_guard harness(harnessMutex_);
    if (callerGone.stop_requested()) return {{}, {}, kCallerGoneDescription, false};
    if (services_.closing.stop_requested()) return {{}, {}, kShutdownRefusal, false};
    const auto reservation = services_.chatOrchestrator.reserveTurn(TurnOwner::harness);
    if (!reservation) return {{}, {}, ChatOrchestrator::kBusyMessage, false};
    runScript(kLogicScript);
    PromptOutcome outcome;
    const Abandonment abandonment(callerGone, services_.closing);
    if (services_.clock.sleepUnlessStopped(std::chrono::duration<double>(kActivationPause), abandonment.token()))
        outcome = sendPromptAndWait(reservation, text, timeoutSeconds, callerGone);
    else
        outcome.error = abandonedDescription(callerGone);
    runScript(kTerminalScript);
    return outcome;
}

TestRunner::PromptOutcome TestRunner::sendPromptAndWait(const TurnReservation& reservation, const std::string& text,
                                                        std::int64_t timeoutSeconds, std::stop_token callerGone) {
    if (auto tooLong = ChatOrchestrator::messageProblem(text)) return {{}, {}, *tooLong, false};
    // Nobody would read the chat's turn: it is not even created.
    if (callerGone.stop_requested()) return {{}, {}, kCallerGoneDescription, false};
    if (services_.closing.stop_requested()) return {{}, {}, kShutdownRefusal, false};
    // A refused create answers the kept state, whose current thread is an older chat with its
    // own earlier turns: the test's turn has no thread of its own, and does not run.
    const auto created = services_.conversationStore.createThread(std::nullopt);
    if (!created.ok || created.currentThreadID.empty()) {
        // The ending cut short the store's wait for another copy's lock; any other refusal says its own reason.
        if (created.error && created.error->find(kLockWaitEnded) != std::string::npos)
            return {{}, {}, kShutdownRefusal, false};
        return {{}, {}, notCreatedError(created.error.value_or("it could not be stored")), false};
    }
    const std::string threadID = created.currentThreadID;
    const auto stream = [&] {
        ChatRequest request;  // the turn keeps its own copy of the prompt; this one goes at once
        request.message = text;
        request.threadID = threadID;
        request.includePendingCaptures = false;
        request.modelTier = ModelTier::pro;
        return services_.chatOrchestrator.handleChatStreaming(reservation, request);
    }();

    auto watch = std::make_shared<TurnWatch>();
    std::jthread reader([watch, stream] {
        while (auto event = stream->next()) {
            std::lock_guard lock(watch->mutex);
            if (auto* final = std::get_if<AgentEvent::FinalResponse>(&event->value)) watch->response = final->response;
            if (auto* error = std::get_if<AgentEvent::Error>(&event->value)) watch->lastError = error->message;
        }
        std::lock_guard lock(watch->mutex);
        watch->finished = true;
        watch->changed.notify_all();
    });

    std::optional<platform::Clock::TimePoint> deadline;
    if (timeoutSeconds < kLongestDeadlineSeconds)
        deadline = services_.clock.now() + std::chrono::duration_cast<platform::Clock::TimePoint::duration>(
                                               std::chrono::seconds(timeoutSeconds));
    const auto wake = [watch] {
        std::lock_guard lock(watch->mutex);
        watch->changed.notify_all();
    };
    const auto moves = services_.clock.onMoved(wake);
    const std::stop_callback hungUp(callerGone, wake);
    const std::stop_callback shuttingDown(services_.closing, wake);
    const auto abandoned = [&] { return callerGone.stop_requested() || services_.closing.stop_requested(); };
    bool timedOut = false;
    for (;;) {
        {
            std::unique_lock lock(watch->mutex);
            if (watch->finished) break;
        }
        if (abandoned()) {
            // The turn and its calls then say that Corvane was ending, not that the user stopped them.
            if (!callerGone.stop_requested()) services_.chatOrchestrator.stopForEnding();
            stream->stop();
            reader.join();
            return {{}, {}, callerGone.stop_requested() ? kCallerGoneDescription : kShutdownStop, false};
        }
        // Read outside the lock: the clock's mover calls back into it.
        if (deadline && services_.clock.now() >= *deadline) {
            timedOut = true;
            break;
        }
        std::unique_lock lock(watch->mutex);
        watch->changed.wait_for(lock, kClockCheckInterval, [&] { return watch->finished || abandoned(); });
    }

    if (timedOut) {
        // Left running, the turn would drive Logic Pro beside the "after" snapshots and the next
        // test; it is stopped and waited for instead.
        stream->stop();
        reader.join();
        return {{}, {}, timedOutError(timeoutSeconds), true};
    }
    reader.join();

    PromptOutcome outcome;
    {
        std::lock_guard lock(watch->mutex);
        outcome.response = watch->response;
        if (!watch->response) {
            outcome.error = kNoFinalResponseDescription;
        } else if (!watch->response->ok) {
            outcome.error = watch->lastError.value_or(
                watch->response->assistantMessage.empty() ? kFailedTurnDescription : watch->response->assistantMessage);
        } else if (text::trimmingWhitespaceAndNewlines(watch->response->assistantMessage).empty()) {
            // Only a stopped turn ends "ok" without a reply.
            outcome.error = ChatOrchestrator::kStoppedTurnDescription;
        } else if (watch->lastError) {
            // An ok turn's error says its tool log could not be written: it has none to check.
            outcome.error = watch->lastError;
        }
    }
    outcome.turnLog = turnLogFor(threadID, text);
    return outcome;
}

// The test's thread was made for this turn alone, so only this turn's log names it (none when the
// log could not be written): never an earlier turn's log, however recent.
std::optional<TurnLog> TestRunner::turnLogFor(const std::string& threadID, const std::string& prompt) {
    services_.toolLogger.drain();
    for (const auto& file : services_.toolLogger.recentLogPaths(ToolLogger::keptLogs)) {
        const auto read = readFile(file.url);
        if (!read.ok()) continue;
        try {
            auto turn = json_fields::decode<TurnLog>(read.bytes);
            if (turn.threadID == threadID && turn.userMessage == prompt) return turn;
        } catch (const std::exception&) {
            continue;
        }
    }
    return std::nullopt;
}

// --- Whole tests ---------------------------------------------------------------------------------

TestResult TestRunner::runTest(const TestCase& test, std::stop_token callerGone) {
    TestResult result;
    result.testID = test.id;
    if (!isSafeTestName(test.id)) {
        result.error = unsafeNameError(test.id);
        return result;
    }
    const auto tooMany = snapshotListError(test.snapshotTracks.value_or(std::vector<std::string>{}));
    if (tooMany) {
        result.error = tooMany;
        return result;
    }
    std::lock_guard harness(harnessMutex_);
    const auto start = services_.clock.now();
    const bool screenshots = test.captureScreenshots.value_or(true);
    const auto tracks = test.snapshotTracks.value_or(std::vector<std::string>{});
    const std::int64_t timeout = test.timeoutSeconds.value_or(TestCase::kDefaultTimeoutSeconds);
    std::optional<std::string> beforePath, afterPath;
    PromptOutcome turn;

    // The window's turn owns Logic Pro until it ends: nothing is touched, the test fails. Held
    // from here to the after snapshots, so no window turn starts in between.
    const auto reservation = services_.chatOrchestrator.reserveTurn(TurnOwner::harness);
    const bool busy = !reservation;
    if (busy) {
        turn.error = ChatOrchestrator::kBusyMessage;
    } else if (callerGone.stop_requested()) {
        turn.error = kCallerGoneDescription;
    } else if (services_.closing.stop_requested()) {
        turn.error = kShutdownRefusal;
    } else {
        // Selecting the tracks to snapshot changes the project: not for a client that left, nor
        // while the program shuts down; each step looks first, and a pause under way ends.
        const Abandonment abandonment(callerGone, services_.closing);
        const auto stop = abandonment.token();
        runScript(kLogicScript);
        bool whole = services_.clock.sleepUnlessStopped(std::chrono::duration<double>(kActivationPause), stop);
        if (whole) {
            if (screenshots) beforePath = captureScreenshot("before", test.id);
            auto before = snapshotTracks(tracks, stop);
            whole = before.has_value();
            if (before) result.before = std::move(*before);
        }
        whole = whole && !stop.stop_requested();
        if (whole) turn = sendPromptAndWait(reservation, test.prompt, timeout, callerGone);
        whole = whole && !stop.stop_requested();
        if (whole) {
            auto after = snapshotTracks(tracks, stop);
            whole = after.has_value();
            if (after) result.after = std::move(*after);
            if (whole && screenshots) afterPath = captureScreenshot("after", test.id);
        }
        // Whatever the turn came to, the run was cut short: that is what its client hears.
        if (!whole) turn.error = abandonedDescription(callerGone);
    }

    // A turn that did not complete leaves nothing to check its reply or calls against.
    const bool completed = !turn.error;
    const std::optional<ChatResponse> response = completed ? turn.response : std::nullopt;
    const std::optional<TurnLog> turnLog = completed ? turn.turnLog : std::nullopt;
    bool allPassed = true;
    for (const auto& assertion : test.assertions) {
        result.assertionResults.push_back(
            AssertionEvaluator::evaluate(assertion, result.before, result.after, response, turnLog));
        allPassed = allPassed && result.assertionResults.back().passed;
    }
    result.error = turn.error;
    result.passed = completed && allPassed;
    result.durationMs = wholeMilliseconds(secondsSince(start));
    if (response) result.agentResponse = response->assistantMessage;
    if (turnLog) {
        result.toolCalls = turnLog->toolCalls;
        result.totalRounds = turnLog->totalRounds;
    }
    if (screenshots) result.screenshots = TestScreenshots{beforePath, afterPath, "display"};
    if (!busy) runScript(kTerminalScript);
    return result;
}

SuiteResult TestRunner::runSuite(const std::vector<std::string>& testIDs, std::stop_token callerGone) {
    const auto start = services_.clock.now();
    SuiteResult suite;
    for (const auto& id : testIDs) {
        auto test = loadTestCase(id);
        if (!test) {
            TestResult missing;
            missing.testID = id;
            missing.error = isSafeTestName(id) ? notFoundError(id) : unsafeNameError(id);
            suite.results.push_back(std::move(missing));
            continue;
        }
        suite.results.push_back(runTest(*test, callerGone));
    }
    for (const auto& id : testIDs) suite.suite += (suite.suite.empty() && &id == &testIDs.front() ? "" : ",") + id;
    for (const auto& result : suite.results) ++(result.passed ? suite.passedCount : suite.failedCount);
    suite.totalDurationMs = wholeMilliseconds(secondsSince(start));
    return suite;
}

}  // namespace corvane
