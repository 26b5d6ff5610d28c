#include <gtest/gtest.h>

#include "chat/chat_tool_executor.h"
#include "chat/tool_executor_fixture.h"
#include "chat/track_descriptions.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

class ChatToolExecutorInline : public ToolExecutorTest {};

TEST_F(ChatToolExecutorInline, UpdateUserTrimsAndReachesTheTurnsStreamButNeverEmptyText) {
    std::vector<std::string> interim;
    executor->setInterimUpdateHandler([&](const std::string& m) { interim.push_back(m); });

    EXPECT_EQ(one("update_user", R"({"message":"  Soloing the kick now\n"})").outputJSON, R"({"ok":true})");
    EXPECT_EQ(lastRecord(), (ToolExecution{"update_user", "Soloing the kick now", true}));

    for (const char* args : {R"({"message":" \n\t "})", R"({"message":7})", "not json"}) {
        SCOPED_TRACE(args);
        EXPECT_EQ(one("update_user", args).outputJSON,
                  R"({"message":"Missing or empty 'message' argument","status":"error"})");
        EXPECT_EQ(lastRecord(), (ToolExecution{"update_user", "Missing message", false}));
    }
    EXPECT_EQ(interim, std::vector<std::string>{"Soloing the kick now"});
}

TEST_F(ChatToolExecutorInline, SongBriefIsHandedOnUnchanged) {
    EXPECT_EQ(one("update_song_brief", R"({"brief":" Dark synth-pop, 104 BPM "})").outputJSON, R"({"ok":true})");
    EXPECT_EQ(host->briefs(), std::vector<std::string>{" Dark synth-pop, 104 BPM "});
    EXPECT_EQ(lastRecord().summary, "Saved song brief:  Dark synth-pop, 104 BPM ");

    EXPECT_EQ(json::parse(one("update_song_brief", R"({"brief":false})").outputJSON)["message"], "Invalid arguments");
    EXPECT_EQ(lastRecord(), (ToolExecution{"update_song_brief", "Invalid arguments", false}));
    EXPECT_EQ(host->briefs().size(), 1u);
}

// A description is kept under the analysis instance that streams from the track; it answers
// {"ok":true} only when it was kept there, and it reaches the next request under the track's name.
TEST_F(ChatToolExecutorInline, TrackDescriptionSucceedsOnlyWhenStoredAndReachesTheNextRequest) {
    EXPECT_EQ(
        json::parse(
            one("update_track_description", R"({"trackName":"Lead Vox","description":"Airy"})").outputJSON)["status"],
        "error");
    EXPECT_FALSE(lastRecord().succeeded);
    EXPECT_NE(lastRecord().summary.find("no Corvane instance is streaming from a track of that name"),
              std::string::npos);
    EXPECT_TRUE(host->descriptions().empty());

    host->stream("INST-7", "lead vox");
    EXPECT_EQ(one("update_track_description", R"({"trackName":"Lead Vox","description":"Airy, breathy"})").outputJSON,
              R"({"ok":true})");
    EXPECT_EQ(lastRecord(),
              (ToolExecution{"update_track_description", "Saved description for Lead Vox: Airy, breathy", true}));
    EXPECT_EQ(host->descriptions(), (std::map<std::string, std::string>{{"INST-7", "Airy, breathy"}}));

    // The request builder looks descriptions up by lower-cased track name.
    auto forRequest = trackDescriptionsByTrackName(host->descriptions(), host->trackAnalysis());
    EXPECT_EQ(forRequest["lead vox"], "Airy, breathy");

    // Empty descriptions pass; a controller that does not keep it makes it an error.
    EXPECT_EQ(one("update_track_description", R"({"trackName":"LEAD VOX","description":""})").outputJSON,
              R"({"ok":true})");
    host->refuseDescriptions();
    EXPECT_EQ(
        json::parse(
            one("update_track_description", R"({"trackName":"Lead Vox","description":"Dry"})").outputJSON)["status"],
        "error");
    EXPECT_EQ(host->descriptions().at("INST-7"), "");

    EXPECT_EQ(one("update_track_description", "{\"trackName\":\"Lead Vox\"").outputJSON,
              R"({"message":"Invalid arguments","status":"error"})");
    EXPECT_EQ(lastRecord(), (ToolExecution{"update_track_description", "Invalid arguments", false}));
}

TEST_F(ChatToolExecutorInline, TrackDescriptionWithoutAControllerIsAnError) {
    host.reset();  // the controller is gone
    EXPECT_EQ(
        json::parse(
            one("update_track_description", R"({"trackName":"Bass","description":"Round"})").outputJSON)["status"],
        "error");
    EXPECT_FALSE(lastRecord().succeeded);
}

}  // namespace
}  // namespace corvane::testing
