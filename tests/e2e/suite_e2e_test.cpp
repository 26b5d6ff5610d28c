// One real suite end to end: corvane-backend in script mode and the headless app on the simulated
// Logic Pro, each its own process, the app signed in with a local account; POST "/test/suite" runs
// six tests that change the song, five of which pass and one of which asserts something false.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e/e2e_fixture.h"
#include "support/app_paths.h"
#include "support/files.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

using SuiteEndToEnd = EndToEndTest;

json step(const std::string& tool, const json& arguments) {
    return {{"calls", json::array({{{"name", tool}, {"arguments", arguments}}})}};
}
json rule(const std::string& match, std::vector<json> steps) { return {{"match", match}, {"steps", steps}}; }
json respond(const std::string& prose) { return {{"respond", prose}}; }

// What the backend's model does for each prompt of the suite.
json backendScript() {
    return {{"rules",
             {rule("^mute the guitar$", {step("set_track_mute", {{"track_names", {"Guitar"}}, {"enabled", true}}),
                                         respond("Guitar is muted.")}),
              rule("^pull the keys down$",
                   {step("set_track_volume", {{"tracks", {{{"track_name", "Keys"}, {"value", "-6 dB"}}}}}),
                    respond("Keys now sit at -6 dB.")}),
              rule("^compress the bass$", {step("add_plugin", {{"track_name", "Bass"}, {"plugin_name", "Compressor"}}),
                                           respond("Added a Compressor to Bass.")}),
              rule("^rename the drums$", {step("rename_track", {{"current_name", "Drums"}, {"new_name", "Kit"}}),
                                          respond("Drums is now called Kit.")}),
              rule("^listen to the bass$",
                   {step("listen_to_playback", {{"duration_seconds", 2}, {"start_bar", 1}, {"tracks", "Bass"}}),
                    respond("The bass sits well under the vocal.")}),
              rule("^which tracks$", {step("list_tracks", json::object()), respond("Those are the tracks.")})}}};
}

json assertion(const std::string& type, const std::string& op, json members = json::object()) {
    members["type"] = type;
    members["op"] = op;
    return members;
}

json testCase(const std::string& id, const std::string& prompt, std::vector<std::string> tracks,
              std::vector<json> assertions) {
    return {{"id", id},
            {"prompt", prompt},
            {"snapshotTracks", tracks},
            {"timeoutSeconds", 60},
            {"captureScreenshots", id == "mute"},
            {"assertions", assertions}};
}

std::vector<json> suiteCases() {
    return {
        testCase("mute", "Mute the guitar", {"Guitar"},
                 {assertion("track", "changed", {{"track", "Guitar"}, {"field", "mute"}}),
                  assertion("track", "is_on", {{"track", "Guitar"}, {"field", "mute"}}),
                  assertion("tool", "was_called", {{"tool", "set_track_mute"}}),
                  assertion("agent", "response_contains", {{"value", "muted"}})}),
        testCase("volume", "Pull the keys down", {"Keys"},
                 {assertion("track", "decreased", {{"track", "Keys"}, {"field", "volume"}}),
                  assertion("track", "lte", {{"track", "Keys"}, {"field", "volumeDisplay"}, {"value", "-5.5 dB"}}),
                  assertion("tool", "all_succeeded")}),
        testCase("plugin", "Compress the bass", {"Bass"},
                 {assertion("plugin", "present", {{"track", "Bass"}, {"plugin", "compressor"}}),
                  assertion("plugin", "active", {{"track", "Bass"}, {"plugin", "compressor"}}),
                  assertion("tool", "was_called", {{"tool", "add_plugin"}})}),
        testCase("rename", "Rename the drums", {"Kit"},
                 {assertion("track", "changed", {{"track", "Kit"}, {"field", "volume"}}),
                  assertion("tool", "all_succeeded"), assertion("agent", "max_rounds", {{"value", "2"}})}),
        testCase("listen", "Listen to the bass", {"Bass"},
                 {assertion("tool", "was_called", {{"tool", "listen_to_playback"}}), assertion("tool", "all_succeeded"),
                  assertion("track", "unchanged", {{"track", "Bass"}, {"field", "solo"}}),
                  assertion("agent", "response_contains", {{"value", "under the vocal"}})}),
        testCase("wrong", "Which tracks", {},
                 {assertion("tool", "was_called", {{"tool", "list_tracks"}}),
                  assertion("agent", "response_contains", {{"value", "banana"}})}),
    };
}

TEST_F(SuiteEndToEnd, ARealSuiteChangesTheSongAndReportsTheOneFalseAssertion) {
    const auto cases = AppPaths::appSupportDirectory("test-cases");
    std::vector<std::string> ids;
    for (const auto& test : suiteCases()) {
        ids.push_back(test["id"]);
        ASSERT_TRUE(writeFileAtomically(cases / (ids.back() + ".json"), test.dump(2)));
    }
    ASSERT_TRUE(writeFileAtomically(cases / "e2e.suite.json", json{{"name", "End to end"}, {"tests", ids}}.dump()));
    ASSERT_NO_FATAL_FAILURE(start(backendScript()));

    const auto answer = post("/test/suite", R"({"suite":"e2e"})");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    const auto suite = json::parse(answer->body);
    EXPECT_EQ(suite["suite"], "mute,volume,plugin,rename,listen,wrong");
    EXPECT_EQ(suite["passedCount"], 5) << suite.dump(2);
    EXPECT_EQ(suite["failedCount"], 1);
    ASSERT_EQ(suite["results"].size(), 6u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(suite["results"][i]["passed"], true) << suite["results"][i].dump(2);
        EXPECT_FALSE(suite["results"][i].contains("error"));
    }
    const auto& wrong = suite["results"][5];
    EXPECT_EQ(wrong["passed"], false);
    EXPECT_FALSE(wrong.contains("error")) << "the turn itself completed";
    EXPECT_EQ(wrong["assertionResults"][0], (json{{"passed", true}, {"message", "tool list_tracks: called"}}));
    EXPECT_EQ(wrong["assertionResults"][1], (json{{"passed", false}, {"message", "response missing 'banana'"}}));
    EXPECT_EQ(suite["results"][3]["after"]["Kit"]["trackName"], "Kit");
    const auto& shots = suite["results"][0]["screenshots"];
    ASSERT_TRUE(shots.contains("afterPath")) << shots.dump();
    EXPECT_TRUE(std::filesystem::exists(shots["afterPath"].get<std::string>()));

    EXPECT_TRUE(app_->stop());
    EXPECT_TRUE(backend_->stop());
}

}  // namespace
}  // namespace corvane::testing
