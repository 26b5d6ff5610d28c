#include "app/companion_request_decoding.h"

#include <gtest/gtest.h>

#include <string>

namespace corvane::app {
namespace {

using namespace CompanionRequestDecoding;
using Json = nlohmann::json;

TEST(CompanionRequestDecoding, SummaryTakesEachFieldOnlyFromAValueOfItsKind) {
    const AudioAnalysisSummary defaults = decodeAudioAnalysisSummary(Json::object());
    EXPECT_EQ(defaults.source, "master_output");
    EXPECT_EQ(defaults.peakDbfs, -100);
    EXPECT_EQ(defaults.rmsDbfs, -100);
    EXPECT_EQ(defaults.headroomDb, 100);
    EXPECT_EQ(defaults.timeSigNumerator, 4);
    EXPECT_EQ(defaults.timeSigDenominator, 4);
    EXPECT_EQ(defaults.phaseCorrelation, 1);
    EXPECT_EQ(defaults.lowBandStability, 1);
    EXPECT_EQ(defaults.momentaryLufs, -100);
    EXPECT_EQ(defaults.shortTermLufs, -100);
    EXPECT_EQ(defaults.bpm, 0);
    EXPECT_FALSE(defaults.hasTimelineInfo);

    // Wrong kinds keep the default of that field only.
    const auto wrong = decodeAudioAnalysisSummary(Json{{"source", 3},
                                                       {"peakDbfs", "-3"},
                                                       {"hasTimelineInfo", 1},
                                                       {"timeSigNumerator", 3.5},
                                                       {"timeSigDenominator", 1e30},
                                                       {"captureEndBar", -1e300},
                                                       {"bpm", true},
                                                       {"rmsDbfs", -12.5},
                                                       {"unknownKey", 7}});
    EXPECT_EQ(wrong.source, "master_output");
    EXPECT_EQ(wrong.peakDbfs, -100);
    EXPECT_FALSE(wrong.hasTimelineInfo);
    EXPECT_EQ(wrong.timeSigNumerator, 4);
    EXPECT_EQ(wrong.timeSigDenominator, 4);
    EXPECT_EQ(wrong.captureEndBar, 0);
    EXPECT_EQ(wrong.bpm, 0);
    EXPECT_EQ(wrong.rmsDbfs, -12.5);

    // Whole numbers may be written as integral reals; values are not range-limited.
    const auto taken = decodeAudioAnalysisSummary(
        Json{{"timeSigNumerator", 7.0}, {"captureStartBar", -2}, {"peakDbfs", 1e30}, {"transportWasPlaying", true}});
    EXPECT_EQ(taken.timeSigNumerator, 7);
    EXPECT_EQ(taken.captureStartBar, -2);
    EXPECT_EQ(taken.peakDbfs, 1e30);
    EXPECT_TRUE(taken.transportWasPlaying);
}

TEST(CompanionRequestDecoding, BarEntryNeedsAWholeBarNumberThatFits) {
    const struct {
        Json bar;
        std::optional<std::int64_t> expected;
    } cases[] = {
        {Json(3), 3},
        {Json(4.0), 4},
        {Json(-1), -1},
        {Json(3.5), std::nullopt},
        {Json("3"), std::nullopt},
        {Json(1e30), std::nullopt},
        {Json(9223372036854775808.0), std::nullopt},
        {Json(18446744073709551615ULL), std::nullopt},
        {Json(nullptr), std::nullopt},
    };
    for (const auto& c : cases) {
        const auto entry = decodeBarAnalysisEntry(Json{{"bar", c.bar}});
        ASSERT_EQ(entry.has_value(), c.expected.has_value()) << c.bar.dump();
        if (entry) {
            EXPECT_EQ(entry->bar, *c.expected);
        }
    }
    EXPECT_FALSE(decodeBarAnalysisEntry(Json{{"lufs", -10}}));

    const auto defaults = decodeBarAnalysisEntry(Json{{"bar", 1}, {"crestDb", "x"}});
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->peakDbfs, -100);
    EXPECT_EQ(defaults->rmsDbfs, -100);
    EXPECT_EQ(defaults->lufs, -100);
    EXPECT_EQ(defaults->crestDb, 0);
    EXPECT_EQ(defaults->phaseCorrelation, 1);
}

TEST(CompanionRequestDecoding, AnalysisUpdateFallsBackFieldByField) {
    for (const std::string body : {"", "not json", "[1,2]", "\"text\"", "{\"instanceID\":", "null"}) {
        EXPECT_EQ(decodeAnalysisUpdate(body), AnalysisUpdate{}) << body;
    }

    const auto numbers = decodeAnalysisUpdate(R"({"instanceID": 7, "trackName": false, "audioAnalysis": []})");
    EXPECT_FALSE(numbers.instanceID);
    EXPECT_FALSE(numbers.trackName);
    EXPECT_FALSE(numbers.audioAnalysis);
    EXPECT_FALSE(numbers.barAnalysisMap);

    const auto bars =
        decodeAnalysisUpdate(R"({"barAnalysisMap": [{"bar": 1}, {"lufs": -3}, {"bar": 3.5}, {"bar": 2, "lufs": -9}]})");
    ASSERT_TRUE(bars.barAnalysisMap);
    ASSERT_EQ(bars.barAnalysisMap->size(), 2u);
    EXPECT_EQ((*bars.barAnalysisMap)[0].bar, 1);
    EXPECT_EQ((*bars.barAnalysisMap)[1].bar, 2);
    EXPECT_EQ((*bars.barAnalysisMap)[1].lufs, -9);

    // A list holding anything but objects counts as no list at all.
    EXPECT_FALSE(decodeAnalysisUpdate(R"({"barAnalysisMap": [{"bar": 1}, "x"]})").barAnalysisMap);
    EXPECT_FALSE(decodeAnalysisUpdate(R"({"barAnalysisMap": {"bar": 1}})").barAnalysisMap);
    const auto empty = decodeAnalysisUpdate(R"({"barAnalysisMap": [{"no": 1}]})");
    ASSERT_TRUE(empty.barAnalysisMap);
    EXPECT_TRUE(empty.barAnalysisMap->empty());
}

TEST(CompanionRequestDecoding, LenientConversationBodiesFallBackToTheCurrentThread) {
    EXPECT_EQ(decodeConversationThreadRequest(R"({"threadID": "t1"})").threadID, "t1");
    for (const std::string body : {"", "x", "[]", R"({"threadID": 5})"})
        EXPECT_FALSE(decodeConversationThreadRequest(body).threadID) << body;

    const auto brief = decodeSongBriefRequest(R"({"threadID": "t1", "songBrief": "Dark"})");
    EXPECT_EQ(brief.threadID, "t1");
    EXPECT_EQ(brief.songBrief, "Dark");
    const auto missing = decodeSongBriefRequest(R"({"threadID": "t1"})");
    EXPECT_FALSE(missing.threadID);
    EXPECT_EQ(missing.songBrief, "");
}

TEST(CompanionRequestDecoding, StrictFormsRefuseWhatWouldChangeTheWrongData) {
    const struct {
        std::string body;
        bool accepted;
        std::optional<std::string> threadID;
    } threadCases[] = {
        {"", true, std::nullopt},
        {"{}", true, std::nullopt},
        {R"({"threadID": null})", true, std::nullopt},
        {R"({"threadID": "t1", "other": 1})", true, "t1"},
        {R"({"threadID": 5})", false, std::nullopt},
        {R"({"threadID": ["t1"]})", false, std::nullopt},
        {"[]", false, std::nullopt},
        {"not json", false, std::nullopt},
    };
    for (const auto& c : threadCases) {
        const auto decoded = decodeConversationThreadRequestStrictly(c.body);
        EXPECT_EQ(decoded.request.has_value(), c.accepted) << c.body;
        EXPECT_EQ(decoded.error.empty(), c.accepted) << c.body;
        if (decoded.request) {
            EXPECT_EQ(decoded.request->threadID, c.threadID);
        }
    }

    const struct {
        std::string body;
        bool accepted;
    } briefCases[] = {
        {R"({"songBrief": "Dark"})", true},
        {R"({"songBrief": "", "threadID": "t"})", true},
        {"", false},
        {"{}", false},
        {R"({"threadID": "t"})", false},
        {R"({"songBrief": 3})", false},
        {R"({"songBrief": "x", "threadID": 3})", false},
        {"nope", false},
    };
    for (const auto& c : briefCases) {
        const auto decoded = decodeSongBriefRequestStrictly(c.body);
        EXPECT_EQ(decoded.request.has_value(), c.accepted) << c.body;
        EXPECT_EQ(decoded.error.empty(), c.accepted) << c.body;
    }
}

}  // namespace
}  // namespace corvane::app
