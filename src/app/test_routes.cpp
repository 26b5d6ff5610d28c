#include "app/test_routes.h"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "app/companion_controller.h"
#include "app/route_answers.h"
#include "support/json_fields.h"
#include "support/json_writer.h"
#include "support/unicode.h"
#include "testing/test_records.h"

namespace corvane::app {

namespace {

using nlohmann::json;

constexpr const char* kSnapshotUsage = "Pass ?tracks=Drums,Bass,Keys";
constexpr const char* kPromptUsage = "POST JSON body with 'prompt' field";
constexpr const char* kRunUsage = "POST JSON with 'testID' or inline 'test' object";
constexpr const char* kRunNotFound = "Test case not found. Pass 'testID' or inline 'test'.";
constexpr const char* kSuiteUsage = "POST JSON with 'suite' name or 'tests' array";
constexpr const char* kSuiteNotFound = "Suite not found. Pass 'suite' name or 'tests' array.";
constexpr const char* kEncodeFailure = "Failed to encode response";
// Each test of a suite adds its result to one answer (and runs a turn): a list of IDs must not
// make it unbounded.
constexpr std::size_t kMaxSuiteTests = 256;

std::string suiteTooLongError(std::size_t count) {
    return "A suite runs at most " + std::to_string(kMaxSuiteTests) + " tests; this one lists " +
           std::to_string(count) + ".";
}

// The harness refused or stopped it because the program is shutting down: not to be retried here.
HTTPResponse shutdownAnswer(const std::string& error) { return jsonDictAnswer(json{{"error", error}}, 503); }

template <class T>
HTTPResponse encodableResponse(const T& value, int status = 200) {
    try {
        const std::string body = jsonText(json(value), "");
        if (!body.empty()) return HTTPResponse{status, "application/json", body};
    } catch (const std::exception&) {
    }
    return errorAnswer(kEncodeFailure);
}

template <class T>
std::optional<T> decodeBody(const std::string& body) {
    try {
        return json_fields::decode<T>(body);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string unsafeSuiteError(const std::string& name) {
    return "Suite name '" + name + "' must be a plain file name (no '/', '\\', '..' or NUL)";
}

// Split at every ",", each piece trimmed of spaces and tabs; empty pieces keep their places.
std::vector<std::string> trackNames(const std::string& list) {
    std::vector<std::string> names;
    std::size_t from = 0;
    for (;;) {
        const auto comma = list.find(',', from);
        const std::string_view piece =
            std::string_view(list).substr(from, comma == std::string::npos ? std::string::npos : comma - from);
        names.emplace_back(text::trimSpacesAndTabs(piece));
        if (comma == std::string::npos) return names;
        from = comma + 1;
    }
}

HTTPResponse handleSnapshot(TestRunner& runner, const HTTPRequest& request) {
    const auto query = request.queryParams();
    const auto tracks = query.find("tracks");
    if (tracks == query.end() || tracks->second.empty()) return errorAnswer(kSnapshotUsage);
    const auto names = trackNames(tracks->second);
    // The refusals of our own making (none of the harness's usage errors) carry a client-error status.
    if (auto tooMany = TestRunner::snapshotListError(names)) return badRequestAnswer(*tooMany);
    const auto outcome = runner.snapshot(names, request.clientGone);
    if (outcome.snapshots) return encodableResponse(*outcome.snapshots);
    if (TestRunner::endedByShutdown(outcome.error)) return shutdownAnswer(*outcome.error);
    // Busy, or a client gone that hears nothing.
    return jsonDictAnswer(json{{"error", outcome.error.value_or(ChatOrchestrator::kBusyMessage)}}, 409);
}

HTTPResponse handlePrompt(TestRunner& runner, const HTTPRequest& request) {
    const auto body = decodeBody<TestPromptRequest>(request.body);
    if (!body) return errorAnswer(kPromptUsage);
    const auto outcome = runner.prompt(body->prompt, body->timeoutSeconds.value_or(TestCase::kDefaultTimeoutSeconds),
                                       request.clientGone);
    if (outcome.timedOut) return errorAnswer(TestRunner::kTimeoutDescription);
    if (TestRunner::endedByShutdown(outcome.error)) return shutdownAnswer(*outcome.error);
    if (!outcome.response) return errorAnswer(outcome.error.value_or(TestRunner::kNoFinalResponseDescription));
    json answer = json::object();
    try {
        answer["chatResponse"] = json(*outcome.response);
        if (outcome.turnLog) answer["turnLog"] = json(*outcome.turnLog);
    } catch (const std::exception&) {
        return errorAnswer(kEncodeFailure);
    }
    // A failed turn still shows its response, and says that it failed.
    if (outcome.error) answer["error"] = *outcome.error;
    return jsonDictAnswer(answer);
}

HTTPResponse handleRun(TestRunner& runner, const HTTPRequest& request) {
    const auto body = decodeBody<TestRunRequest>(request.body);
    if (!body) return errorAnswer(kRunUsage);
    std::optional<TestCase> test = body->test;
    if (!test && body->testID) {
        if (!isSafeTestName(*body->testID)) return badRequestAnswer(TestRunner::unsafeNameError(*body->testID));
        test = runner.loadTestCase(*body->testID);
    }
    if (!test) return errorAnswer(kRunNotFound);
    if (!isSafeTestName(test->id)) return badRequestAnswer(TestRunner::unsafeNameError(test->id));
    const auto result = runner.runTest(*test, request.clientGone);
    return encodableResponse(result, TestRunner::endedByShutdown(result.error) ? 503 : 200);
}

HTTPResponse handleSuite(TestRunner& runner, const HTTPRequest& request) {
    const auto body = decodeBody<TestSuiteRequest>(request.body);
    if (!body) return errorAnswer(kSuiteUsage);
    std::optional<std::vector<std::string>> ids;
    if (body->tests && !body->tests->empty()) {
        if (body->tests->size() > kMaxSuiteTests) return payloadTooLargeAnswer(suiteTooLongError(body->tests->size()));
        ids = body->tests;
    } else if (body->suite) {
        if (!isSafeTestName(*body->suite)) return badRequestAnswer(unsafeSuiteError(*body->suite));
        if (auto suite = runner.loadSuite(*body->suite)) ids = std::move(suite->tests);
    }
    if (!ids) return errorAnswer(kSuiteNotFound);
    if (ids->size() > kMaxSuiteTests) return badRequestAnswer(suiteTooLongError(ids->size()));
    const auto suite = runner.runSuite(*ids, request.clientGone);
    const bool cut = std::any_of(suite.results.begin(), suite.results.end(),
                                 [](const TestResult& result) { return TestRunner::endedByShutdown(result.error); });
    return encodableResponse(suite, cut ? 503 : 200);
}

}  // namespace

bool isTestRoute(const HTTPRequest& request) {
    const std::string route = request.routePath();
    if (request.method == "GET") return route == "/test/snapshot";
    return request.method == "POST" && (route == "/test/prompt" || route == "/test/run" || route == "/test/suite");
}

std::optional<HTTPResponse> handleTestRoute(CompanionController& controller, const HTTPRequest& request) {
    // Those that waited for the harness while the program began to shut down start nothing.
    if (isTestRoute(request) && controller.shuttingDown()) return shutdownAnswer(TestRunner::kShutdownRefusal);
    const std::string route = request.routePath();
    if (request.method == "GET" && route == "/test/snapshot") return handleSnapshot(controller.testRunner(), request);
    if (request.method != "POST") return std::nullopt;
    if (route == "/test/prompt") return handlePrompt(controller.testRunner(), request);
    if (route == "/test/run") return handleRun(controller.testRunner(), request);
    if (route == "/test/suite") return handleSuite(controller.testRunner(), request);
    return std::nullopt;
}

}  // namespace corvane::app
