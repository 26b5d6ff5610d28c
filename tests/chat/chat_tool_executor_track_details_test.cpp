#include <gtest/gtest.h>

#include "chat/chat_tool_executor.h"
#include "chat/tool_executor_fixture.h"
#include "model/tool_result_payloads.h"
#include "platform/log.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

class ChatToolExecutorTrackDetails : public ToolExecutorTest {
protected:
    std::vector<TrackDetailsResult::PluginSlotInfo> chainOf(const std::string& track) {
        std::vector<TrackDetailsResult::PluginSlotInfo> chain;
        const auto project = world().project();
        const auto& inserts = project.track(track)->strip.inserts;
        for (std::size_t i = 0; i < inserts.size(); ++i)
            chain.push_back({static_cast<std::int64_t>(i), inserts[i].plugin, inserts[i].bypassed});
        return chain;
    }
};

TEST_F(ChatToolExecutorTrackDetails, ReadsStripsAndChainsAndNamesTheTrackOfABusItHadToSurface) {
    const auto before = world().project();
    ASSERT_FALSE(before.track("Reverb")->inArrange);
    ASSERT_EQ(before.track("Reverb")->strip.input, "Bus 1");
    ASSERT_EQ(before.track("Kick")->strip.sends.at(0).bus, 1);
    ASSERT_TRUE(before.track("Guitar")->strip.sends.empty());

    ASSERT_EQ(before.visibleTrackIds().size(), 7u);

    const auto output = one("get_track_details", R"({"track_names":["Kick","  ","Lead Vox ","Guitar"],
                                                     "track_name":"Bass"})");
    EXPECT_TRUE(world().project().track("Reverb")->inArrange);  // surfaced for the send
    EXPECT_EQ(world().project().visibleTrackIds().size(), 8u);
    const json answer = json::parse(output.outputJSON);
    EXPECT_FALSE(answer.contains("status"));
    EXPECT_FALSE(answer.contains("failures"));
    ASSERT_EQ(answer["tracks"].size(), 3u);
    EXPECT_EQ(output.outputJSON, answer.dump());  // sorted keys at every level

    const auto kick = answer["tracks"][0].get<TrackDetailsResult>();
    EXPECT_EQ(kick.status, "ok");
    EXPECT_EQ(kick.trackName, "Kick");
    EXPECT_EQ(kick.input, "Input 1");
    EXPECT_EQ(kick.output, before.track("Kick")->strip.output);
    EXPECT_EQ(kick.sends, std::vector<std::string>{"Bus 1"});
    EXPECT_EQ(kick.sendTargets, (std::map<std::string, std::string>{{"Bus 1", "Reverb"}}));
    EXPECT_EQ(kick.plugins, chainOf("Kick"));
    EXPECT_TRUE(kick.volume && kick.pan && kick.channelMode);

    const auto vox = answer["tracks"][1].get<TrackDetailsResult>();
    EXPECT_EQ(vox.trackName, "Lead Vox");
    EXPECT_EQ(vox.sendTargets, kick.sendTargets);
    EXPECT_EQ(vox.plugins, chainOf("Lead Vox"));

    const auto guitar = answer["tracks"][2].get<TrackDetailsResult>();
    EXPECT_FALSE(guitar.sendTargets);
    EXPECT_TRUE(guitar.plugins.empty());
    EXPECT_TRUE(answer["tracks"][2]["plugins"].is_array());

    // The track list changed: the card says how.
    EXPECT_EQ(lastRecord(), (ToolExecution{"get_track_details",
                                           "Read details for Kick, Lead Vox, Guitar. Reverb (the track of Bus 1) is "
                                           "now shown in the track list.",
                                           true}));

    // Listed now: a second read leaves the list as it is and says nothing of it.
    const json again = oneJSON("get_track_details", R"({"track_names":["Kick","Nope"]})");
    EXPECT_EQ(again["tracks"][0]["sendTargets"], json({{"Bus 1", "Reverb"}}));
    EXPECT_EQ(world().project().visibleTrackIds().size(), 8u);
    EXPECT_EQ(lastRecord(), (ToolExecution{"get_track_details", "Read details for Kick. Failed: Nope", true}));
}

// The read touches each send with a step and a step back: at either end of the knob's travel, and
// anywhere between, the send is left where it was found, in every project shape of that send.
// Also where each step rebuilds the strip, leaving the knob's handle stale for the step back.
TEST_F(ChatToolExecutorTrackDetails, AReadLeavesASendAsFoundAtEitherEndOfItsTravel) {
    struct Case {
        const char* label;
        int detent;  // 0 is -inf, 57 is +6 dB
        const char* stale = "onRebuild";
    };
    const std::vector<Case> cases{{"top", 57},
                                  {"one below the top", 56},
                                  {"bottom", 0},
                                  {"one above the bottom", 1},
                                  {"between", 9},
                                  {"between, stale", 45, "always"},
                                  {"bottom, stale", 0, "always"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        load(standin::testing::demoSong());
        world().setKnob("staleAfter", c.stale);
        world().mutateProject([&](standin::Project& p) { p.track("Kick")->strip.sends.at(0).detent = c.detent; });
        const auto before = world().project();
        signature.reset();  // a read of a new project, not a repeat

        const json answer = oneJSON("get_track_details", R"({"track_names":["Kick"]})");

        const auto after = world().project();
        EXPECT_EQ(after.track("Kick")->strip.sends.at(0).detent, c.detent);
        EXPECT_EQ(after.track("Reverb")->strip.automation.power, before.track("Reverb")->strip.automation.power);
        EXPECT_EQ(after.track("Reverb")->strip.automation.mode, before.track("Reverb")->strip.automation.mode);
        EXPECT_EQ(answer["tracks"][0]["sendTargets"], json({{"Bus 1", "Reverb"}})) << answer.dump();
    }
}

TEST_F(ChatToolExecutorTrackDetails, AHiddenTrackIsExplainedByTheFolderHintOrTheTrackList) {
    ASSERT_TRUE(logic.selectTrack("Guitar"));  // a selection that stays visible
    world().mutateProject([](standin::Project& p) { p.track("Drums")->expanded = false; });
    const auto project = world().project();
    ASSERT_FALSE(project.isVisible(project.track("Kick")->id));
    host->stream("I1", "KICK");

    const json answer = oneJSON("get_track_details", R"({"track_names":["Kick","Nope","Bass"]})");
    ASSERT_EQ(answer["tracks"].size(), 1u) << answer.dump(2);
    EXPECT_EQ(answer["tracks"][0]["trackName"], "Bass");
    ASSERT_EQ(answer["failures"].size(), 2u);
    EXPECT_EQ(answer["failures"][0]["track"], "Kick");
    EXPECT_EQ(answer["failures"][0]["error"],
              "track exists (Corvane is streaming data from it) but isn't in the visible Arrange list \u2014 it's "
              "inside a collapsed folder. Call `set_folder_expanded(name: \"<folder>\", expanded: true)` for the "
              "folder that contains it (candidates: Drums), then retry. Do NOT edit the parent folder's channel "
              "strip as a substitute \u2014 the user asked about this child track specifically.");
    EXPECT_EQ(answer["failures"][1],
              json({{"track", "Nope"}, {"error", "not found. Available: Drums, Bass, Lead Vox, Keys, Guitar"}}));
    EXPECT_EQ(lastRecord(), (ToolExecution{"get_track_details", "Read details for Bass. Failed: Kick, Nope", true}));

    one("get_track_details", R"({"track_name":"Kick"})");
    EXPECT_EQ(lastRecord(), (ToolExecution{"get_track_details", "Read details for . Failed: Kick", false}));
}

TEST_F(ChatToolExecutorTrackDetails, FolderHintListsAtMostTenNamesAndEveryFolderAsACandidate) {
    std::vector<std::string> names;
    for (int i = 1; i <= 12; ++i) names.push_back("T" + std::to_string(i));
    EXPECT_EQ(executor->collapsedFolderHint("Kick", names),
              "not found. Available: T1, T2, T3, T4, T5, T6, T7, T8, T9, T10");
    EXPECT_EQ(executor->collapsedFolderHint("Kick", {}), "not found. Available: ");
    host->stream("I1", "kick");
    world().mutateProject([](standin::Project& p) { p.track("Drums")->kind = standin::TrackKind::audio; });
    EXPECT_NE(executor->collapsedFolderHint("Kick", names).find("(candidates: any folder in the project)"),
              std::string::npos);
}

TEST_F(ChatToolExecutorTrackDetails, ASelectionThatDoesNotLandIsReportedAndLogged) {
    platform::LogCapture captured;
    world().setKnob("arrowKeysIgnored", true);
    const json answer = oneJSON("get_track_details", R"({"track_names":["Guitar"]})");
    EXPECT_TRUE(answer["tracks"].empty());
    EXPECT_EQ(answer["failures"][0]["error"],
              "track exists but selection didn't land \u2014 try again. This can happen if a plugin window grabbed "
              "Logic's keyboard focus.");
    EXPECT_TRUE(captured.contains("SelectTrack: keyboard navigation failed for 'Guitar'"));
}

TEST_F(ChatToolExecutorTrackDetails, ArgumentsAreCheckedBeforeLogicIsTouched) {
    const std::pair<const char*, const char*> cases[] = {
        {"[\"Kick\"]", "Invalid arguments."},
        {R"({"track_names":"Kick"})", "Missing track_names parameter (array of track name strings)."},
        {R"({"track_names":["Kick",3]})", "Missing track_names parameter (array of track name strings)."},
        {R"({"track_names":[],"track_name":"Kick"})", "No valid track names."},
        {R"({"track_name":" \t"})", "No valid track names."},
    };
    world().clearEventLog();
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args);
        EXPECT_EQ(oneJSON("get_track_details", args), json({{"status", "error"}, {"message", message}}));
        EXPECT_EQ(lastRecord(), (ToolExecution{"get_track_details", message, false}));
    }
    EXPECT_TRUE(world().eventLog().empty());
}

}  // namespace
}  // namespace corvane::testing
