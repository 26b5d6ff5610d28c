#include <gtest/gtest.h>

#include "test_support/json_helpers.h"

#include <limits>

#include "model/chat_model.h"
#include "model/chat_model_analysis.h"
#include "model/chat_model_tool_results.h"

namespace corvane {
namespace {

using nlohmann::json;

using testing::decodes;

std::optional<std::string> preview(const std::string& tool, const std::string& arguments) {
    ToolCallInfo call;
    call.toolName = tool;
    call.arguments = arguments;
    return call.argumentPreview();
}

TEST(ChatModel, ToolCardTitlesAndIconsFallBackForUnknownTools) {
    EXPECT_EQ(ToolCallInfo::displayNameFor("ensure_master_track"), "Surface Master");
    EXPECT_EQ(ToolCallInfo::displayNameFor("listen_to_playback"), "Listen to Playback");
    EXPECT_EQ(ToolCallInfo::displayNameFor("update_user"), "Note");
    EXPECT_EQ(ToolCallInfo::displayNameFor("get_audio_analysis"), "get_audio_analysis");
    EXPECT_EQ(ToolCallInfo::displayNameFor("List_Tracks"), "List_Tracks");  // compared exactly
    EXPECT_EQ(ToolCallInfo::icon("get_track_details"), "list.bullet");
    EXPECT_EQ(ToolCallInfo::icon("set_track_mute"), "speaker.slash");
    EXPECT_EQ(ToolCallInfo::icon("rename_track"), "gearshape");
}

TEST(ChatModel, ArgumentPreviewShowsOnlyValuesOfTheExpectedType) {
    const std::optional<std::string> none;
    struct Case {
        const char* tool;
        const char* arguments;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"listen_to_playback", "{}", "full mix"},
        {"listen_to_playback", R"({"track_name":"Vocals","duration_seconds":12.9})", "Vocals \u00B7 12s"},
        {"listen_to_playback", R"({"track_name":"","duration_seconds":8})", "full mix \u00B7 8s"},
        {"listen_to_playback", R"({"duration_seconds":"8"})", "full mix"},
        {"listen_to_playback", R"({"duration_seconds":1e300})", "full mix"},
        {"set_track_volume", R"({"track_name":"Bass","value":-6})", "Bass"},
        {"set_track_volume", R"({"track_name":"Bass","value":"-6 dB"})", "Bass \u2192 -6 dB"},
        {"set_track_pan", R"({"value":"L20"})", none},
        {"set_plugin_parameter", R"({"parameter_name":"Threshold","value":"-20"})", " > Threshold \u2192 -20"},
        {"set_plugin_parameter", R"({"track_name":"Vox","plugin_name":"EQ","parameter_name":"Gain"})", "Vox > EQ"},
        {"set_plugin_bypass", R"({"plugin_name":"EQ"})", "EQ"},
        {"set_plugin_bypass", "{}", ""},
        {"set_track_solo", R"({"track_name":"Kick"})", "Kick"},
        {"set_track_mute", "{}", none},
        {"add_plugin", R"({"plugin_name":"Compressor"})", "Compressor"},
        {"add_plugin", R"({"plugin_name":"Compressor","track_name":"Bass"})", "Compressor on Bass"},
        {"remove_plugin", "{}", ""},
        {"control_transport", R"({"action":"play"})", "play"},
        {"rename_track", R"({"plugin_name":"EQ","action":"x"})", "EQ"},
        {"get_transport", "{}", none},
        {"list_tracks", "[1,2]", none},
        {"list_tracks", "not json", none},
    };
    for (const auto& c : cases) EXPECT_EQ(preview(c.tool, c.arguments), c.expected) << c.tool << " " << c.arguments;
}

TEST(ChatModel, ModelTierAcceptsOnlyItsExactTexts) {
    EXPECT_EQ(modelTierFromString("pro"), ModelTier::pro);
    EXPECT_EQ(modelTierFromString("standard"), ModelTier::standard);
    EXPECT_FALSE(modelTierFromString("Pro"));
    EXPECT_FALSE(decodes<ModelTier>(json("Pro")));
    EXPECT_EQ(json(ModelTier::pro), json("pro"));
    EXPECT_EQ(json("standard").get<ModelTier>(), ModelTier::standard);
}

TEST(ChatModel, ChatResponseNeedsEveryMemberButTheActivitySummary) {
    ChatResponse response;
    response.ok = true;
    response.assistantMessage = "Done";
    response.toolsUsed = {{"list_tracks", "12 tracks", true}};
    response.threadID = "T";
    response.threadTitle = "Chat 1";
    response.availableThreads = {{"T", "Chat 1", "2026-12-06T15:24:00.000Z", 2, std::nullopt, "hi"}};
    json written = response;
    EXPECT_FALSE(written.contains("activitySummary"));
    EXPECT_EQ(written.get<ChatResponse>(), response);

    response.activitySummary = "Listed tracks";
    EXPECT_EQ(json(response).get<ChatResponse>(), response);
    json withoutTitle = written;
    withoutTitle.erase("threadTitle");
    EXPECT_FALSE(decodes<ChatResponse>(withoutTitle));
    json badTool = written;
    badTool["toolsUsed"][0].erase("succeeded");
    EXPECT_FALSE(decodes<ChatResponse>(badTool));
}

TEST(ChatModel, TranscriptRowsOfOneTimestampAreToldApartByRole) {
    ConversationEntry user{.timestamp = "2026-12-06T15:24:00.000Z", .role = ConversationRole::user,
                           .content = "a", .toolCallID = {}, .toolName = {}, .arguments = {}, .roundIndex = {},
                           .succeeded = {}, .summary = {}, .resultJSON = {}, .userEntryIndex = {}};
    ConversationEntry call = user;
    call.role = ConversationRole::toolCall;
    ConversationEntry otherUser = user;
    otherUser.content = "b";
    EXPECT_EQ(TranscriptItem::message(user).id(), "2026-12-06T15:24:00.000Z_user");
    EXPECT_EQ(TranscriptItem::message(call).id(), "2026-12-06T15:24:00.000Z_toolCall");
    EXPECT_EQ(TranscriptItem::message(otherUser).id(), TranscriptItem::message(user).id());
    EXPECT_EQ(TranscriptItem::toolCallGroup({"group-3", 3, {}}).id(), "group-3");
    EXPECT_EQ(TranscriptItem::thinking("thinking").id(), "thinking");
}

TEST(LiveAnalysisRecords, EveryMeasurementIsRequiredAndIntegersStayIntegers) {
    AudioAnalysisSummary summary;
    summary.source = "Vocals";
    summary.timeSigNumerator = 4;
    summary.shortTermLufs = -14.2;
    const json full = summary;
    ASSERT_EQ(full.size(), 38u);
    EXPECT_EQ(full.get<AudioAnalysisSummary>(), summary);
    for (const auto& [key, value] : full.items()) {
        json missing = full;
        missing.erase(key);
        EXPECT_FALSE(decodes<AudioAnalysisSummary>(missing)) << key;
    }
    json fractionalBar = full;
    fractionalBar["captureStartBar"] = 3.5;
    EXPECT_FALSE(decodes<AudioAnalysisSummary>(fractionalBar));
    json flagAsNumber = full;
    flagAsNumber["hasTimelineInfo"] = 1;
    EXPECT_FALSE(decodes<AudioAnalysisSummary>(flagAsNumber));

    const json bar = BarAnalysisEntry{.bar = 3, .peakDbfs = -1, .rmsDbfs = -12, .crestDb = 11, .lufs = -14,
                                      .subBandRatio = 0.1, .bassBandRatio = 0.2, .lowMidBandRatio = 0.3,
                                      .highMidBandRatio = 0.2, .airBandRatio = 0.1, .spectralTiltDb = -3,
                                      .stereoWidth = 0.4, .phaseCorrelation = 0.9};
    EXPECT_EQ(bar.size(), 13u);
    json halfBar = bar;
    halfBar["bar"] = 3.5;
    EXPECT_FALSE(decodes<BarAnalysisEntry>(halfBar));
    json wholeBar = bar;
    wholeBar["bar"] = 3.0;
    EXPECT_EQ(wholeBar.get<BarAnalysisEntry>().bar, 3);
}

TEST(ToolResults, AbsentOrUnrepresentableMeasurementsAreLeftOut) {
    AudioAnalysisToolResult::TrackAnalysisInfo info;
    info.trackName = "Bass";
    info.peakDbfs = -3.5;
    info.shortTermLufs = -std::numeric_limits<double>::infinity();  // silence
    info.stereoWidth = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(json(info).dump(), R"({"isMaster":false,"peakDbfs":-3.5,"trackName":"Bass"})");
}

TEST(ToolResults, ListeningResultNeedsDurationAndSummaryButNotTheSoloedTrack) {
    json listen = json::parse(R"({"status":"ok","durationSeconds":8,"tracks":[{"trackName":"Bass","isMaster":false}],)"
                              R"("summary":"ok"})");
    EXPECT_TRUE(decodes<ListenResult>(listen));
    EXPECT_TRUE(decodes<AudioAnalysisToolResult>(listen));
    listen.erase("durationSeconds");
    EXPECT_FALSE(decodes<ListenResult>(listen));
    EXPECT_TRUE(decodes<AudioAnalysisToolResult>(listen));
    listen["tracks"][0].erase("isMaster");
    EXPECT_FALSE(decodes<AudioAnalysisToolResult>(listen));
}

}  // namespace
}  // namespace corvane
