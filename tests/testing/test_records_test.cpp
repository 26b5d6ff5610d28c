#include "testing/test_records.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/json_fields.h"

namespace corvane {
namespace {

using nlohmann::json;

template <class T>
std::optional<T> read(const std::string& text) {
    try {
        return json_fields::decode<T>(text);
    } catch (const json_fields::DecodeError&) {
        return std::nullopt;
    }
}

TEST(TestRecordsTest, TestCasesReadStrictlyAndWholly) {
    struct Case {
        const char* label;
        const char* text;
        bool loads;
    };
    const std::vector<Case> cases{
        {"minimal", R"({"id":"a","prompt":"p","assertions":[]})", true},
        {"no assertions member", R"({"id":"a","prompt":"p"})", false},
        {"null prompt", R"({"id":"a","prompt":null,"assertions":[]})", false},
        {"numeric assertion value",
         R"({"id":"a","prompt":"p","assertions":[{"type":"agent","op":"max_rounds","value":3}]})", false},
        {"string assertion value",
         R"({"id":"a","prompt":"p","assertions":[{"type":"agent","op":"max_rounds","value":"3"}]})", true},
        {"assertion without op", R"({"id":"a","prompt":"p","assertions":[{"type":"tool"}]})", false},
        {"null timeout", R"({"id":"a","prompt":"p","timeoutSeconds":null,"assertions":[]})", true},
        {"whole-valued float timeout", R"({"id":"a","prompt":"p","timeoutSeconds":30.0,"assertions":[]})", true},
        {"fractional timeout", R"({"id":"a","prompt":"p","timeoutSeconds":1.5,"assertions":[]})", false},
        {"negative timeout", R"({"id":"a","prompt":"p","timeoutSeconds":-1,"assertions":[]})", false},
        {"largest timeout", R"({"id":"a","prompt":"p","timeoutSeconds":18446744073,"assertions":[]})", true},
        {"timeout past the nanosecond range", R"({"id":"a","prompt":"p","timeoutSeconds":18446744074,"assertions":[]})",
         false},
        {"screenshots flag as text", R"({"id":"a","prompt":"p","captureScreenshots":"false","assertions":[]})", false},
        {"a number among track names", R"({"id":"a","prompt":"p","snapshotTracks":["Bass",1],"assertions":[]})", false},
        {"unknown members",
         R"({"id":"a","prompt":"p","notes":"x","assertions":[{"type":"tool","op":"all_succeeded","extra":1}]})", true},
        {"not an object", R"(["id"])", false},
        {"trailing comma", R"({"id":"a","prompt":"p","assertions":[],})", false},
    };
    for (const auto& c : cases) EXPECT_EQ(read<TestCase>(c.text).has_value(), c.loads) << c.label;

    const auto full = read<TestCase>(
        R"({"id":"mute","description":"d","snapshotTracks":["Guitar"],"prompt":"Mute it","timeoutSeconds":30.0,
            "captureScreenshots":false,"assertions":[{"type":"track","track":"Guitar","field":"mute","op":"is_on"}]})");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->timeoutSeconds, 30);
    EXPECT_EQ(full->captureScreenshots, false);
    EXPECT_EQ(full->snapshotTracks, std::vector<std::string>{"Guitar"});
    ASSERT_EQ(full->assertions.size(), 1u);
    EXPECT_EQ(full->assertions[0].field, "mute");
    EXPECT_FALSE(full->assertions[0].value);
}

TEST(TestRecordsTest, ABadInlineTestFailsTheWholeRunRequest) {
    EXPECT_FALSE(read<TestRunRequest>(R"({"testID":"good","test":{"id":"x"}})"));
    const auto both = read<TestRunRequest>(R"({"testID":"good","test":{"id":"x","prompt":"p","assertions":[]}})");
    ASSERT_TRUE(both);
    EXPECT_EQ(both->test->id, "x");
    // A key in another case is no member of the record.
    const auto recased = read<TestRunRequest>(R"({"testId":"good"})");
    ASSERT_TRUE(recased);
    EXPECT_FALSE(recased->testID);

    EXPECT_FALSE(read<TestSuiteRequest>(R"({"tests":"a"})"));
    EXPECT_FALSE(read<TestSuiteDefinition>(R"({"tests":["a"]})"));
    EXPECT_FALSE(read<TestPromptRequest>(R"({"prompt":"Hi","timeoutSeconds":2.5})"));
    EXPECT_TRUE(read<TestPromptRequest>(R"({"prompt":"Hi","timeoutSeconds":2.0})"));
}

TEST(TestRecordsTest, ResultsLeaveAbsentMembersOutAndReadBack) {
    TestResult result;
    result.testID = "t";
    result.before["bass"] = TrackSnapshot{"Bass",       "-6.0 dB",    std::nullopt,
                                          std::nullopt, std::nullopt, std::nullopt,
                                          std::nullopt, std::nullopt, {{0, "Compressor", true}}};
    result.screenshots = TestScreenshots{std::nullopt, "/tmp/after.png", "display"};
    const json written = result;
    EXPECT_EQ(written, json::parse(R"({"testID":"t","passed":false,"durationMs":0,"after":{},"assertionResults":[],
        "before":{"bass":{"trackName":"Bass","volume":"-6.0 dB","plugins":[{"index":0,"name":"Compressor","isBypassed":true}]}},
        "screenshots":{"afterPath":"/tmp/after.png","mode":"display"}})"));
    EXPECT_EQ(written.get<TestResult>(), result);

    SuiteResult suite{"a,b", {result, result}, 0, 2, 12};
    EXPECT_EQ(json(suite).get<SuiteResult>(), suite);
}

TEST(TestRecordsTest, OnlyPlainNamesAreSafe) {
    for (const char* good : {"mute-guitar", "a.b", "test case", "x.json"}) EXPECT_TRUE(isSafeTestName(good)) << good;
    const std::vector<std::string> bad{
        "", ".", "..", "../x", "a/b", "/etc/passwd", "a\\b", "x..y", std::string("a\0b", 3)};
    for (const auto& name : bad) EXPECT_FALSE(isSafeTestName(name)) << name;
}

}  // namespace
}  // namespace corvane
