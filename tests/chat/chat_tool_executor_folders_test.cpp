#include <gtest/gtest.h>

#include <memory>
#include <stop_token>

#include <fmt/format.h>

#include "chat/chat_tool_executor.h"
#include "chat/tool_executor_fixture.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

class ChatToolExecutorFolders : public ToolExecutorTest {
protected:
    bool drumsExpanded() { return world().project().track("Drums")->expanded; }
    static json ok(const std::string& message) { return {{"status", "ok"}, {"message", message}}; }
    static json error(const std::string& message) { return {{"status", "error"}, {"message", message}}; }
};

TEST_F(ChatToolExecutorFolders, ClosesAndOpensAFolderUnderEveryNameAndHidesItsTracksMeanwhile) {
    ASSERT_TRUE(drumsExpanded());
    EXPECT_EQ(oneJSON("expand_folder", R"({"track_name":"drums"})"), ok("Folder 'Drums' is already expanded."));

    EXPECT_EQ(oneJSON("set_folder_expanded", R"({"name":"Drums","expanded":false})"), ok("Collapsed folder 'Drums'."));
    EXPECT_FALSE(drumsExpanded());
    EXPECT_EQ(lastRecord(), (ToolExecution{"set_folder_expanded", "Collapsed folder 'Drums'.", true}));

    // Kick is hidden now; the analysis plug-in still streams from it, so the hint names the folders.
    host->stream("a1", "KICK");
    auto details = oneJSON("get_track_details", R"({"track_names":["Kick"]})");
    EXPECT_NE(details.dump().find("inside a collapsed folder"), std::string::npos) << details.dump();
    EXPECT_NE(details.dump().find("(candidates: Drums)"), std::string::npos) << details.dump();

    // "collapse_folder" closes unless "expanded" says otherwise; "expanded" as text counts as absent.
    EXPECT_EQ(oneJSON("expand_folder", R"({"folder":"Drums","expanded":"false"})"), ok("Expanded folder 'Drums'."));
    EXPECT_TRUE(drumsExpanded());
    EXPECT_EQ(lastRecord().tool, "set_folder_expanded");
    EXPECT_EQ(oneJSON("collapse_folder", R"({"folder":"Drums"})"), ok("Collapsed folder 'Drums'."));
    EXPECT_FALSE(drumsExpanded());
    EXPECT_EQ(oneJSON("collapse_folder", R"({"folder":"Drums","expanded":true})"), ok("Expanded folder 'Drums'."));
    EXPECT_TRUE(drumsExpanded());
}

TEST_F(ChatToolExecutorFolders, RefusesBadArgumentsUnknownTracksAndPlainTracks) {
    const std::pair<const char*, const char*> cases[] = {
        {"[]", "Missing track_name or expanded parameter."},
        {R"({"expanded":true})", "Missing track_name parameter (the folder's exact name)."},
        {R"({"track_name":"","name":"Drums"})", "Missing track_name parameter (the folder's exact name)."},
        {R"({"folder_name":"Nope"})",
         "Track 'Nope' not found. Available: Drums, Kick, Snare, Bass, Lead Vox, Keys, Guitar"},
        {R"({"track_name":"bass"})",
         "'Bass' is not a folder track \u2014 only folder tracks can be expanded or collapsed."},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args);
        EXPECT_EQ(oneJSON("set_folder_expanded", args), error(message));
        EXPECT_FALSE(lastRecord().succeeded);
    }
    EXPECT_TRUE(drumsExpanded());
}

TEST_F(ChatToolExecutorFolders, AFolderInsideACollapsedOneIsRefusedAsUnlistedNotAsMissing) {
    load(standin::testing::demoSongWith(
        {{"project",
          {{"selected", "Bass"},
           {"tracks",
            {{{"name", "Drums"},
              {"kind", "folder"},
              {"expanded", false},
              {"children",
               {{{"name", "Kick"}, {"kind", "audio"}},
                {{"name", "Toms"},
                 {"kind", "folder"},
                 {"expanded", false},
                 {"children", {{{"name", "Tom"}, {"kind", "audio"}}}}}}}},
             {{"name", "Bass"}, {"kind", "audio"}}}}}}}));
    const json answer = oneJSON("set_folder_expanded", R"({"name":"Toms","expanded":true})");
    EXPECT_FALSE(drumsExpanded());
    EXPECT_FALSE(world().project().track("Toms")->expanded);
    EXPECT_EQ(answer["status"], "error");
    const std::string message = answer.value("message", "");
    EXPECT_NE(message.find("'Toms' is not among the tracks Logic Pro's track list shows; a collapsed folder may hold it"),
              std::string::npos)
        << message;
    EXPECT_EQ(message.find("not found"), std::string::npos) << message;
}

TEST_F(ChatToolExecutorFolders, AKeyPressThatDidNotCloseTheFolderIsNoSuccess) {
    load(standin::testing::demoSongWith({{"project", {{"selected", "Drums"}}}}));
    world().updateFaults([](standin::Faults& f) { f.arrowKeysIgnored = true; });  // the chord is lost too
    EXPECT_EQ(oneJSON("set_folder_expanded", R"({"track_name":"Drums","expanded":false})"),
              error("Folder 'Drums' did not close \u2014 it still shows expanded."));
    EXPECT_TRUE(drumsExpanded());
}

// Stopped at every moment, a folder either keeps its state or the answer says it opened or closed;
// also while the other collapsed folders are looked into for a folder of the same name (which
// refuses the call when nothing stops it).
TEST_F(ChatToolExecutorFolders, AStoppedFolderCallNamesTheFolderItOpenedOrClosed) {
    auto folder = [](const char* name, json child) {
        return json{{"name", name}, {"kind", "folder"}, {"expanded", false}, {"children", {std::move(child)}}};
    };
    const json others{folder("Strings", {{"name", "Violin"}, {"kind", "audio"}}),
                      folder("Band", folder("Drums", {{"name", "Tom"}, {"kind", "audio"}}))};
    for (const int setup : {0, 1, 2}) {
        const bool collapse = setup == 0;
        auto run = [&](std::optional<double> stopAfter) {
            auto scenario = standin::testing::demoSong();
            if (setup == 2)
                for (const auto& f : others) scenario["project"]["tracks"].push_back(f);
            load(scenario);
            if (!collapse) world().mutateProject([](standin::Project& p) { p.track("Drums")->expanded = false; });
            signature.reset();
            auto stop = std::make_shared<std::stop_source>();
            const double start = world().virtualSeconds();
            if (stopAfter) world().at(start + *stopAfter, [stop] { stop->request_stop(); });
            executor->executeToolCalls(
                {toolCall("c", collapse ? "collapse_folder" : "expand_folder", R"({"track_name":"Drums"})")}, request,
                threadID, roundIndex++, projectName, installedPlugins, toolsUsed, signature, stop->get_token());
            return world().virtualSeconds() - start;
        };
        const double whole = run(std::nullopt);
        ASSERT_EQ(drumsExpanded(), setup == 1);
        int changedWhenStopped = 0;
        for (double at = 0; at < whole; at += 0.05) {
            SCOPED_TRACE(fmt::format("setup {} stopped at {}", setup, at));
            run(at);
            const std::string& said = lastRecord().summary;
            if (drumsExpanded() == !collapse) {
                ++changedWhenStopped;
                EXPECT_NE(said.find(collapse ? "Collapsed folder 'Drums'" : "Expanded folder 'Drums'"),
                          std::string::npos)
                    << said;
            }
        }
        EXPECT_GT(changedWhenStopped, 0);
    }
}

}  // namespace
}  // namespace corvane::testing
