// "respond" and the listening helpers: the round's latest listen, the before/after comparison and
// the track summary line.

#include <cmath>

#include "tool_executor_fixture.h"

namespace corvane::testing {
namespace {

using json = nlohmann::json;
using Info = ChatToolExecutor::TrackAnalysisInfo;

Info track(const std::string& name, std::optional<double> lufs = std::nullopt) {
    Info info;
    info.trackName = name;
    info.shortTermLufs = lufs;
    return info;
}

TEST(ListeningHelpers, FindRecentListenWalksBackOverTheCallsThatAnswered) {
    const AgentToolCall listen{"l", "listen_to_playback", "{}"};
    const AgentToolCall volume{"v", "set_track_volume", "{}"};
    const AgentToolCall respond{"r", "respond", "{}"};
    const AgentToolOutputPayload first{"l", "first", {}, {}};
    const AgentToolOutputPayload second{"v", "second", {}, {}};
    EXPECT_EQ(ChatToolExecutor::findRecentListenJSON({listen, volume, respond}, {first, second}), "first");
    EXPECT_EQ(ChatToolExecutor::findRecentListenJSON({volume, listen, listen}, {first, second}), "second");
    // A listen with no output yet (the current call) is not looked at.
    EXPECT_EQ(ChatToolExecutor::findRecentListenJSON({volume, listen}, {first}), std::nullopt);
    EXPECT_EQ(ChatToolExecutor::findRecentListenJSON({volume, respond}, {first, second}), std::nullopt);
    EXPECT_EQ(ChatToolExecutor::findRecentListenJSON({}, {}), std::nullopt);
}

TEST(ListeningHelpers, BeforeAfterMaxDelta) {
    const double inf = INFINITY;
    Info wideVox = track("Vox");
    wideVox.stereoWidth = 0.5;
    Info airyVox = track("vox");
    airyVox.airBandRatio = 0.012;
    airyVox.phaseCorrelation = 0.9;
    struct Case {
        const char* name;
        std::vector<Info> before, after;
        std::string metric;
        double maxDelta, threshold;
    };
    const Case cases[] = {
        {"no after rows", {track("Vox", -10)}, {}, "levels", 0.0, 0.7},
        {"no after rows, no before rows", {}, {}, "stereo", 0.0, 0.03},
        {"unmatched after row", {track("Vox", -10)}, {track("Vox", -10), track("Bass")}, "levels", inf, 0.7},
        {"no before rows", {}, {track("Vox")}, "freq", inf, 0.015},
        {"loudness absent on both sides", {track("Vox")}, {track("VOX")}, "levels", 0.0, 0.7},
        {"loudness absent on one side", {track("Vox")}, {track("vox", -20)}, "levels", 80.0, 0.7},
        {"quieter after", {track("Vox", -10), track("Bass", -12)}, {track("Bass", -15)}, "levels", 3.0, 0.7},
        {"unmatched before rows are not looked at",
         {track("Kick", -50), track("Vox", -9)},
         {track("vox", -9)},
         "levels",
         0.0,
         0.7},
        {"band share against an absent one", {track("Vox")}, {airyVox}, "freq", 0.012, 0.015},
        {"stereo absent everywhere", {track("Vox")}, {track("Vox")}, "stereo", 0.0, 0.03},
        {"stereo: the larger of width and correlation", {wideVox}, {airyVox}, "stereo", 0.5, 0.03},
        {"metric names are case-sensitive", {track("Vox", -10)}, {airyVox}, "FREQ", 0.0, 0.01},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto result = ChatToolExecutor::beforeAfterMaxDelta(c.before, c.after, c.metric);
        if (std::isinf(c.maxDelta))
            EXPECT_TRUE(std::isinf(result.maxDelta) && result.maxDelta > 0);
        else
            EXPECT_NEAR(result.maxDelta, c.maxDelta, 1e-12);
        EXPECT_EQ(result.threshold, c.threshold);
    }
}

TEST(ListeningHelpers, SummaryLineShowsTiltAndWidthOnlyWhenMeasured) {
    Info full = track("Vocals", -14.24);
    full.spectralTiltDb = -3.06;
    full.stereoWidth = 0.454;
    EXPECT_EQ(ChatToolExecutor::trackSummaryLine(full), "Vocals: -14.2 LUFS, tilt -3.1dB, width 0.45");
    EXPECT_EQ(ChatToolExecutor::trackSummaryLine(track("Vocals")), "Vocals: -100.0 LUFS");
    Info wide = track("Pad", -20);
    wide.stereoWidth = 1;
    EXPECT_EQ(ChatToolExecutor::trackSummaryLine(wide), "Pad: -20.0 LUFS, width 1.00");
}

class Respond : public ToolExecutorTest {
protected:
    // A listen stored in the thread as the agent loop stores one.
    void storeListen(const std::vector<Info>& tracks) {
        ToolCallInfo call;
        call.id = "stored_" + std::to_string(stored_++);
        call.toolName = "listen_to_playback";
        call.status = ToolCallStatus::completed;
        call.resultJSON = json(ListenResult{"ok", 5, std::nullopt, tracks, "x"}).dump();
        ASSERT_TRUE(conversations.appendToolCall(call, 0, threadID));
    }
    // One round: an optional listen whose output is `listenOutput`, then "respond".
    json respond(const json& args, const std::optional<std::string>& listenOutput = std::nullopt) {
        std::vector<AgentToolCall> calls;
        std::vector<AgentToolOutputPayload> outputs;
        if (listenOutput) {
            calls.push_back({"l", "listen_to_playback", "{}"});
            outputs.push_back({"l", *listenOutput, {}, {}});
        }
        calls.push_back({"r", "respond", args.dump()});
        ToolCall toolCall{*executor, calls.back(), request,          threadID, projectName, installedPlugins,
                          toolsUsed, calls,        calls.size() - 1, outputs,  {}};
        const auto table = ChatToolExecutor::defaultToolTable();
        return json::parse(table.at("respond")(toolCall).outputJSON);
    }
    static std::string listened(const std::vector<Info>& tracks) {
        return json(ListenResult{"ok", 5, std::nullopt, tracks, "x"}).dump();
    }
    int stored_ = 0;
};

TEST_F(Respond, ProseIsRequiredAndTrimmed) {
    for (const json& args : {json::object(), json{{"prose", " \n\t "}}, json{{"prose", 3}}}) {
        const json output = respond(args);
        EXPECT_EQ(output, json({{"status", "error"}, {"message", "`prose` is required and cannot be empty."}}));
        EXPECT_EQ(lastRecord(), (ToolExecution{"respond", "`prose` is required and cannot be empty.", false}));
    }
    EXPECT_EQ(respond(json::array())["message"], "Malformed arguments.");

    // A visual that is not well formed is ignored without a word.
    for (const json& visual :
         {json("freq_curve"), json{{"type", "freq_curve"}}, json{{"type", "freq_curve"}, {"tracks", json::array()}}}) {
        EXPECT_EQ(respond({{"prose", "  Done.\n"}, {"visual", visual}}), json({{"status", "ok"}, {"prose", "Done."}}));
        EXPECT_EQ(lastRecord(), (ToolExecution{"respond", "Done.", true}));
    }
}

TEST_F(Respond, DiagramKeptOnlyWhenItsListeningResultsExist) {
    const json curve = {{"type", "freq_curve"}, {"tracks", " Vox , ,Bass"}};
    EXPECT_EQ(respond({{"prose", "Done."}, {"visual", curve}})["droppedVisual"],
              "no recent listen_to_playback data for Vox, Bass");
    // A failed listen in the round is no data either.
    EXPECT_EQ(respond({{"prose", "Done."}, {"visual", curve}}, R"({"status":"error","message":"x"})")["droppedVisual"],
              "no recent listen_to_playback data for Vox, Bass");

    storeListen({track("Vox", -30)});
    json kept = respond({{"prose", "Done."}, {"visual", curve}});
    EXPECT_FALSE(kept.contains("droppedVisual"));
    EXPECT_EQ(kept["diagramType"], "freq_curve");
    EXPECT_EQ(kept["diagramSummary"], "Frequency curve \u2014 Vox, Bass");
    EXPECT_EQ(kept["metric"], "freq");
    EXPECT_EQ(kept["tracks"], json::parse(R"([{"trackName":"Vox","shortTermLufs":-30.0,"subBandRatio":0.0,
        "bassBandRatio":0.0,"lowMidBandRatio":0.0,"highMidBandRatio":0.0,"airBandRatio":0.0,"stereoWidth":0.0,
        "phaseCorrelation":1.0}])"));

    // The round's own listen wins over stored ones, first row per name.
    kept = respond({{"prose", "Done."}, {"visual", {{"type", "wet_dry_mix"}, {"tracks", "bass"}}}},
                   listened({track("Kick", -5), track("BASS", -12), track("Bass", -99)}));
    EXPECT_EQ(kept["diagramSummary"], "Wet Dry Mix \u2014 bass");
    ASSERT_EQ(kept["tracks"].size(), 1u);
    EXPECT_EQ(kept["tracks"][0]["shortTermLufs"], -12.0);
}

TEST_F(Respond, BeforeAfterComparesTwoListens) {
    const json levels = {{"type", "before_after"}, {"tracks", "Vox"}, {"metric", "levels"}};
    storeListen({track("Vox", -20)});
    EXPECT_EQ(respond({{"prose", "Done."}, {"visual", levels}})["droppedVisual"],
              "no prior-listen data for a before/after comparison");

    // The round's listen is the after, the newest stored one the before.
    json kept = respond({{"prose", "Done."}, {"visual", levels}}, listened({track("Vox", -17)}));
    EXPECT_EQ(kept["beforeTracks"][0]["shortTermLufs"], -20.0);
    EXPECT_EQ(kept["tracks"][0]["shortTermLufs"], -17.0);

    // Without one in the round, the two newest stored listens; too small a change drops it.
    storeListen({track("Vox", -19.5)});
    EXPECT_EQ(respond({{"prose", "Done."}, {"visual", levels}})["droppedVisual"],
              "before/after deltas below threshold (0.500 < 0.700) \u2014 panels would look identical");
    storeListen({track("Vox", -18.5)});
    kept = respond({{"prose", "Done."}, {"visual", levels}});
    EXPECT_EQ(kept["diagramSummary"], "Before / after \u2014 Vox");
    EXPECT_EQ(kept["beforeTracks"][0]["shortTermLufs"], -19.5);
    EXPECT_EQ(kept["tracks"][0]["shortTermLufs"], -18.5);
}

}  // namespace
}  // namespace corvane::testing
