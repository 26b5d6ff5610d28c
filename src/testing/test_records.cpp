#include "testing/test_records.h"

#include <algorithm>
#include <system_error>
#include <tuple>
#include <utility>

#include "support/json_fields.h"

namespace corvane {

namespace jf = json_fields;
using nlohmann::json;

namespace {

// nlohmann would read a list of numbers into strings' place only by throwing its own error; each
// element is checked here so the message names the member.
std::vector<std::string> stringList(const json& value, const char* key) {
    if (!value.is_array()) throw jf::DecodeError(std::string(key) + ": expected an array");
    std::vector<std::string> out;
    out.reserve(value.size());
    for (const auto& element : value) {
        if (!element.is_string()) throw jf::DecodeError(std::string(key) + ": expected strings");
        out.push_back(element.get<std::string>());
    }
    return out;
}

std::optional<std::vector<std::string>> optionalStringList(const json& object, const char* key) {
    const json* found = jf::optionalField(object, key);
    if (!found) return std::nullopt;
    return stringList(*found, key);
}

template <class T>
std::vector<T> recordList(const json& value, const char* key) {
    if (!value.is_array()) throw jf::DecodeError(std::string(key) + ": expected an array");
    std::vector<T> out;
    out.reserve(value.size());
    for (const auto& element : value) out.push_back(jf::as<T>(element, key));
    return out;
}

SnapshotMap snapshotMap(const json& value, const char* key) {
    if (!value.is_object()) throw jf::DecodeError(std::string(key) + ": expected an object");
    SnapshotMap out;
    for (const auto& [name, snapshot] : value.items()) out.emplace(name, jf::as<TrackSnapshot>(snapshot, key));
    return out;
}

}  // namespace

bool isSafeTestName(const std::string& name) {
    if (name.empty() || name == ".") return false;
    return name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
           name.find("..") == std::string::npos && name.find('\0') == std::string::npos;
}

void to_json(json& j, const TestAssertion& v) {
    j = json::object();
    j["type"] = v.type;
    jf::put(j, "track", v.track);
    jf::put(j, "field", v.field);
    j["op"] = v.op;
    jf::put(j, "tool", v.tool);
    jf::put(j, "plugin", v.plugin);
    jf::put(j, "value", v.value);
}

void from_json(const json& j, TestAssertion& v) {
    v.type = jf::text(j, "type");
    v.track = jf::optionalText(j, "track");
    v.field = jf::optionalText(j, "field");
    v.op = jf::text(j, "op");
    v.tool = jf::optionalText(j, "tool");
    v.plugin = jf::optionalText(j, "plugin");
    v.value = jf::optionalText(j, "value");
}

void to_json(json& j, const TestCase& v) {
    j = json::object();
    j["id"] = v.id;
    jf::put(j, "description", v.description);
    jf::put(j, "snapshotTracks", v.snapshotTracks);
    j["prompt"] = v.prompt;
    jf::put(j, "timeoutSeconds", v.timeoutSeconds);
    jf::put(j, "captureScreenshots", v.captureScreenshots);
    j["assertions"] = v.assertions;
}

void from_json(const json& j, TestCase& v) {
    v.id = jf::text(j, "id");
    v.description = jf::optionalText(j, "description");
    v.snapshotTracks = optionalStringList(j, "snapshotTracks");
    v.prompt = jf::text(j, "prompt");
    v.timeoutSeconds = jf::optionalInteger(j, "timeoutSeconds", 0, TestCase::kMaxTimeoutSeconds);
    v.captureScreenshots = jf::optionalBoolean(j, "captureScreenshots");
    v.assertions = recordList<TestAssertion>(jf::required(j, "assertions"), "assertions");
}

void to_json(json& j, const TestSuiteDefinition& v) { j = json{{"name", v.name}, {"tests", v.tests}}; }

void from_json(const json& j, TestSuiteDefinition& v) {
    v.name = jf::text(j, "name");
    v.tests = stringList(jf::required(j, "tests"), "tests");
}

void to_json(json& j, const TestRunRequest& v) {
    j = json::object();
    jf::put(j, "testID", v.testID);
    jf::put(j, "test", v.test);
}

void from_json(const json& j, TestRunRequest& v) {
    v.testID = jf::optionalText(j, "testID");
    v.test = jf::optionalValue<TestCase>(j, "test");
}

void to_json(json& j, const TestSuiteRequest& v) {
    j = json::object();
    jf::put(j, "suite", v.suite);
    jf::put(j, "tests", v.tests);
}

void from_json(const json& j, TestSuiteRequest& v) {
    v.suite = jf::optionalText(j, "suite");
    v.tests = optionalStringList(j, "tests");
}

void to_json(json& j, const TestPromptRequest& v) {
    j = json{{"prompt", v.prompt}};
    jf::put(j, "timeoutSeconds", v.timeoutSeconds);
}

void from_json(const json& j, TestPromptRequest& v) {
    v.prompt = jf::text(j, "prompt");
    v.timeoutSeconds = jf::optionalInteger(j, "timeoutSeconds", 0, TestCase::kMaxTimeoutSeconds);
}

void to_json(json& j, const TrackSnapshot::PluginEntry& v) {
    j = json{{"index", v.index}, {"name", v.name}, {"isBypassed", v.isBypassed}};
}

void from_json(const json& j, TrackSnapshot::PluginEntry& v) {
    v.index = jf::integer(j, "index");
    v.name = jf::text(j, "name");
    v.isBypassed = jf::boolean(j, "isBypassed");
}

void to_json(json& j, const TrackSnapshot& v) {
    j = json{{"trackName", v.trackName}};
    jf::put(j, "volume", v.volume);
    jf::put(j, "volumeDisplay", v.volumeDisplay);
    jf::put(j, "pan", v.pan);
    jf::put(j, "solo", v.solo);
    jf::put(j, "mute", v.mute);
    jf::put(j, "output", v.output);
    jf::put(j, "channelMode", v.channelMode);
    j["plugins"] = v.plugins;
}

void from_json(const json& j, TrackSnapshot& v) {
    v.trackName = jf::text(j, "trackName");
    v.volume = jf::optionalText(j, "volume");
    v.volumeDisplay = jf::optionalText(j, "volumeDisplay");
    v.pan = jf::optionalText(j, "pan");
    v.solo = jf::optionalText(j, "solo");
    v.mute = jf::optionalText(j, "mute");
    v.output = jf::optionalText(j, "output");
    v.channelMode = jf::optionalText(j, "channelMode");
    v.plugins = recordList<TrackSnapshot::PluginEntry>(jf::required(j, "plugins"), "plugins");
}

void to_json(json& j, const TestScreenshots& v) {
    j = json::object();
    jf::put(j, "beforePath", v.beforePath);
    jf::put(j, "afterPath", v.afterPath);
    j["mode"] = v.mode;
}

void from_json(const json& j, TestScreenshots& v) {
    v.beforePath = jf::optionalText(j, "beforePath");
    v.afterPath = jf::optionalText(j, "afterPath");
    v.mode = jf::text(j, "mode");
}

void to_json(json& j, const AssertionResult& v) { j = json{{"passed", v.passed}, {"message", v.message}}; }

void from_json(const json& j, AssertionResult& v) {
    v.passed = jf::boolean(j, "passed");
    v.message = jf::text(j, "message");
}

void to_json(json& j, const TestResult& v) {
    j = json{{"testID", v.testID},
             {"passed", v.passed},
             {"durationMs", v.durationMs},
             {"before", json::object()},
             {"after", json::object()}};
    for (const auto& [name, snapshot] : v.before) j["before"][name] = snapshot;
    for (const auto& [name, snapshot] : v.after) j["after"][name] = snapshot;
    j["assertionResults"] = v.assertionResults;
    jf::put(j, "agentResponse", v.agentResponse);
    jf::put(j, "toolCalls", v.toolCalls);
    jf::put(j, "totalRounds", v.totalRounds);
    jf::put(j, "screenshots", v.screenshots);
    jf::put(j, "error", v.error);
}

void from_json(const json& j, TestResult& v) {
    v.testID = jf::text(j, "testID");
    v.passed = jf::boolean(j, "passed");
    v.durationMs = jf::integer(j, "durationMs");
    v.before = snapshotMap(jf::required(j, "before"), "before");
    v.after = snapshotMap(jf::required(j, "after"), "after");
    v.assertionResults = recordList<AssertionResult>(jf::required(j, "assertionResults"), "assertionResults");
    v.agentResponse = jf::optionalText(j, "agentResponse");
    if (const json* calls = jf::optionalField(j, "toolCalls"))
        v.toolCalls = recordList<ToolCallLog>(*calls, "toolCalls");
    else
        v.toolCalls.reset();
    v.totalRounds = jf::optionalInteger(j, "totalRounds");
    v.screenshots = jf::optionalValue<TestScreenshots>(j, "screenshots");
    v.error = jf::optionalText(j, "error");
}

void to_json(json& j, const SuiteResult& v) {
    j = json{{"suite", v.suite},
             {"results", v.results},
             {"passedCount", v.passedCount},
             {"failedCount", v.failedCount},
             {"totalDurationMs", v.totalDurationMs}};
}

void from_json(const json& j, SuiteResult& v) {
    v.suite = jf::text(j, "suite");
    v.results = recordList<TestResult>(jf::required(j, "results"), "results");
    v.passedCount = jf::integer(j, "passedCount");
    v.failedCount = jf::integer(j, "failedCount");
    v.totalDurationMs = jf::integer(j, "totalDurationMs");
}

void keepNewestTestResults(const std::filesystem::path& resultsFolder, const std::filesystem::path& current,
                           std::size_t keep) {
    namespace fs = std::filesystem;
    std::vector<std::pair<fs::file_time_type, fs::path>> folders;
    std::error_code ignored;
    for (fs::directory_iterator it(resultsFolder, ignored), end; !ignored && it != end; it.increment(ignored)) {
        std::error_code unreadable;
        if (!it->is_directory(unreadable) || it->is_symlink(unreadable) || it->path() == current) continue;
        const auto written = fs::last_write_time(it->path(), unreadable);
        if (!unreadable) folders.emplace_back(written, it->path());
    }
    const std::size_t others = keep > 0 ? keep - 1 : 0;  // the current one is kept besides
    if (folders.size() <= others) return;
    std::sort(folders.begin(), folders.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (std::size_t i = others; i < folders.size(); ++i) fs::remove_all(folders[i].second, ignored);
}

}  // namespace corvane
