#pragma once

// The test harness's JSON records: test cases and suites as a developer writes them, the three
// request bodies of the "/test/" routes, and the snapshots and results the harness answers with.
//
// Reading is strict and all-or-nothing: a missing or null required member, or any member of the
// wrong JSON type, throws json_fields::DecodeError for the whole document (a whole-valued float
// such as 3.0 counts as an integer); members a record does not define are ignored. Defaults are
// applied by the runner, never while reading. Absent optionals are left out when writing.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "chat/tool_logger.h"

namespace corvane {

struct TestAssertion {
    std::string type;  // "track", "plugin", "tool" or "agent"
    std::optional<std::string> track;
    std::optional<std::string> field;
    std::string op;
    std::optional<std::string> tool;
    std::optional<std::string> plugin;
    std::optional<std::string> value;  // always text, also where it is read as a number

    bool operator==(const TestAssertion&) const = default;
};

struct TestCase {
    // The largest limit whose count of nanoseconds fits an unsigned 64-bit integer; a case asking
    // for more (or for a negative limit) does not load.
    static constexpr std::int64_t kMaxTimeoutSeconds = 18'446'744'073;
    static constexpr std::int64_t kDefaultTimeoutSeconds = 90;

    std::string id;
    std::optional<std::string> description;
    std::optional<std::vector<std::string>> snapshotTracks;
    std::string prompt;
    std::optional<std::int64_t> timeoutSeconds;
    std::optional<bool> captureScreenshots;
    std::vector<TestAssertion> assertions;

    bool operator==(const TestCase&) const = default;
};

struct TestSuiteDefinition {
    std::string name;
    std::vector<std::string> tests;

    bool operator==(const TestSuiteDefinition&) const = default;
};

struct TestRunRequest {
    std::optional<std::string> testID;
    std::optional<TestCase> test;  // wins over testID

    bool operator==(const TestRunRequest&) const = default;
};

struct TestSuiteRequest {
    std::optional<std::string> suite;
    std::optional<std::vector<std::string>> tests;  // a non-empty list wins over suite

    bool operator==(const TestSuiteRequest&) const = default;
};

struct TestPromptRequest {
    std::string prompt;
    std::optional<std::int64_t> timeoutSeconds;

    bool operator==(const TestPromptRequest&) const = default;
};

// One track's channel strip as the harness saw it.
struct TrackSnapshot {
    struct PluginEntry {
        std::int64_t index = 0;  // from 0 at the top of the strip
        std::string name;
        bool isBypassed = false;

        bool operator==(const PluginEntry&) const = default;
    };

    std::string trackName;
    std::optional<std::string> volume;
    std::optional<std::string> volumeDisplay;
    std::optional<std::string> pan;
    std::optional<std::string> solo;
    std::optional<std::string> mute;
    std::optional<std::string> output;
    std::optional<std::string> channelMode;
    std::vector<PluginEntry> plugins;

    bool operator==(const TrackSnapshot&) const = default;
};

// Snapshots keyed by the track name as requested.
using SnapshotMap = std::map<std::string, TrackSnapshot>;

struct TestScreenshots {
    std::optional<std::string> beforePath;
    std::optional<std::string> afterPath;
    std::string mode = "display";

    bool operator==(const TestScreenshots&) const = default;
};

struct AssertionResult {
    bool passed = false;
    std::string message;

    bool operator==(const AssertionResult&) const = default;
};

struct TestResult {
    std::string testID;
    bool passed = false;
    std::int64_t durationMs = 0;
    SnapshotMap before;
    SnapshotMap after;
    std::vector<AssertionResult> assertionResults;
    std::optional<std::string> agentResponse;
    std::optional<std::vector<ToolCallLog>> toolCalls;
    std::optional<std::int64_t> totalRounds;
    std::optional<TestScreenshots> screenshots;
    std::optional<std::string> error;

    bool operator==(const TestResult&) const = default;
};

struct SuiteResult {
    std::string suite;  // the IDs run, joined by ","
    std::vector<TestResult> results;
    std::int64_t passedCount = 0;
    std::int64_t failedCount = 0;
    std::int64_t totalDurationMs = 0;

    bool operator==(const SuiteResult&) const = default;
};

void to_json(nlohmann::json& j, const TestAssertion& v);
void from_json(const nlohmann::json& j, TestAssertion& v);
void to_json(nlohmann::json& j, const TestCase& v);
void from_json(const nlohmann::json& j, TestCase& v);
void to_json(nlohmann::json& j, const TestSuiteDefinition& v);
void from_json(const nlohmann::json& j, TestSuiteDefinition& v);
void to_json(nlohmann::json& j, const TestRunRequest& v);
void from_json(const nlohmann::json& j, TestRunRequest& v);
void to_json(nlohmann::json& j, const TestSuiteRequest& v);
void from_json(const nlohmann::json& j, TestSuiteRequest& v);
void to_json(nlohmann::json& j, const TestPromptRequest& v);
void from_json(const nlohmann::json& j, TestPromptRequest& v);
void to_json(nlohmann::json& j, const TrackSnapshot::PluginEntry& v);
void from_json(const nlohmann::json& j, TrackSnapshot::PluginEntry& v);
void to_json(nlohmann::json& j, const TrackSnapshot& v);
void from_json(const nlohmann::json& j, TrackSnapshot& v);
void to_json(nlohmann::json& j, const TestScreenshots& v);
void from_json(const nlohmann::json& j, TestScreenshots& v);
void to_json(nlohmann::json& j, const AssertionResult& v);
void from_json(const nlohmann::json& j, AssertionResult& v);
void to_json(nlohmann::json& j, const TestResult& v);
void from_json(const nlohmann::json& j, TestResult& v);
void to_json(nlohmann::json& j, const SuiteResult& v);
void from_json(const nlohmann::json& j, SuiteResult& v);

// A test ID or suite name from a request or a file, about to name a file or folder inside the
// test folders: false for "", ".", and any name holding "/", "\\", ".." or NUL (which also rules
// out absolute paths), since such a name would reach outside them.
bool isSafeTestName(const std::string& name);

// The test-results folder keeps the screenshots of this many tests, the newest; each run under a
// new ID adds a folder of its own.
constexpr std::size_t kKeptTestResults = 100;
// Removes the test folders in `resultsFolder` past the `keep` written last, never `current` (the
// one being written). Files and links beside them are left alone.
void keepNewestTestResults(const std::filesystem::path& resultsFolder, const std::filesystem::path& current,
                           std::size_t keep = kKeptTestResults);

}  // namespace corvane
