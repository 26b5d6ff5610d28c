#include <gtest/gtest.h>

#include "chat/chat_tool_executor.h"
#include "chat/tool_executor_fixture.h"
#include "support/unicode.h"
#include "test_support/full_disk.h"
#include "test_support/temp_home.h"

namespace corvane::testing {
namespace {

using nlohmann::json;

class ChatToolExecutorMemory : public ToolExecutorTest {};

TEST_F(ChatToolExecutorMemory, RememberBuildsTheScopeOrSaysWhatIsMissing) {
    struct Case {
        const char* args;
        std::optional<std::string> project;
        const char* scopeOrError;
        bool stored;
    };
    const Case cases[] = {
        {R"({"scope":"MASTER","note":"Likes it loud"})", "Demo Song", "master", true},
        {R"({"scope":"song","note":"Chorus at bar 33"})", "Demo Song", "song:Demo Song", true},
        {R"({"scope":"plugin","key":"  Compressor \n","note":"Slow attack"})", std::nullopt, "plugin:Compressor", true},
        {R"({"scope":"track","key":"Kick","note":"Tuned low"})", "Demo Song", "track:Kick@Demo Song", true},
        {R"({"scope":" master","note":"x"})", "Demo Song",
         "Unknown scope ' master'. Valid: master, song, plugin, track.", false},
        {R"({"scope":"master","note":" \n "})", "Demo Song", "Missing scope or note.", false},
        {R"({"scope":"master"})", "Demo Song", "Missing scope or note.", false},
        {"[1]", "Demo Song", "Missing scope or note.", false},
        {R"({"scope":"song","note":"x"})", "",
         "Can't save a song-scope memory: no Logic project detected. Open the project and retry, or use master scope "
         "instead.",
         false},
        {R"({"scope":"plugin","key":" ","note":"x"})", "Demo Song",
         "plugin scope requires a plugin name in `key` (e.g. \"Compressor\").", false},
        {R"({"scope":"track","note":"x"})", std::nullopt, "Can't save a track-scope memory: no Logic project detected.",
         false},
        {R"({"scope":"track","key":7,"note":"x"})", "Demo Song", "track scope requires a track name in `key`.", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        projectName = c.project;
        const auto before = memories.all().size();
        const json output = oneJSON("remember", c.args);
        if (!c.stored) {
            EXPECT_EQ(output, json({{"status", "error"}, {"message", c.scopeOrError}}));
            EXPECT_EQ(lastRecord(), (ToolExecution{"remember", c.scopeOrError, false}));
            EXPECT_EQ(memories.all().size(), before);
            continue;
        }
        const Memory saved = memories.all().back();
        EXPECT_EQ(saved.scope, c.scopeOrError);
        EXPECT_EQ(output, json({{"status", "ok"},
                                {"memory", {{"id", saved.id}, {"scope", saved.scope}, {"note", saved.note}}}}));
        EXPECT_FALSE(output.contains("memories"));
    }
    EXPECT_EQ(toolsUsed.front().summary, "Remembered [" + memories.all().front().id + "] (master): Likes it loud");
}

// A note asked for again is kept once, and the model hears that it was already there; copies an
// earlier run stored go at that point too.
TEST_F(ChatToolExecutorMemory, RememberingAKeptNoteAgainKeepsOneAndSaysSo) {
    projectName = "Demo Song";
    const Memory earlier{"aaaaaa", "plugin:compressor", "Slow attack", "2026-12-06T15:24:00.000Z"};
    const Memory copy{"bbbbbb", "plugin:Compressor", "Slow attack", "2026-12-06T15:25:00.000Z"};
    const Memory other{"cccccc", "master", "Slow attack", "2026-12-06T15:26:00.000Z"};
    writeAll(memories.fileURL(), json(std::vector<Memory>{earlier, other, copy}).dump());

    for (const char* args : {R"({"scope":"plugin","key":"Compressor","note":"Slow attack"})",
                             R"({"scope":"PLUGIN","key":" COMPRESSOR ","note":" Slow attack\n"})"}) {
        SCOPED_TRACE(args);
        const std::string message = "Already remembered [aaaaaa] (plugin): Slow attack";
        EXPECT_EQ(oneJSON("remember", args),
                  json({{"status", "ok"},
                        {"alreadyRemembered", true},
                        {"message", message},
                        {"memory", {{"id", "aaaaaa"}, {"scope", "plugin:compressor"}, {"note", "Slow attack"}}}}));
        EXPECT_EQ(lastRecord(), (ToolExecution{"remember", message, true}));
        EXPECT_EQ(MemoryStore().all(), (std::vector<Memory>{earlier, other}));
    }

    // Another scope or another note is a memory of its own.
    oneJSON("remember", R"({"scope":"track","key":"Compressor","note":"Slow attack"})");
    oneJSON("remember", R"({"scope":"plugin","key":"Compressor","note":"Slow attack, fast release"})");
    EXPECT_EQ(memories.all().size(), 4u);
    EXPECT_EQ(memories.pluginMemories("Compressor").size(), 2u);
}

TEST_F(ChatToolExecutorMemory, ForgetMatchesTheTrimmedIdExactly) {
    const Memory kept = memories.add("master", "Keep").memory.value();
    const Memory gone = memories.add("plugin:EQ", "Gone").memory.value();

    if (text::uppercased(gone.id) != gone.id) {  // ids are hexadecimal: some hold no letter
        EXPECT_EQ(oneJSON("forget", R"({"memory_id":")" + text::uppercased(gone.id) + R"("})")["message"],
                  "No memory with id '" + text::uppercased(gone.id) + "'. It may have already been forgotten.");
    }
    EXPECT_EQ(oneJSON("forget", R"({"memory_id":"  )" + gone.id + R"( "})"),
              json({{"status", "ok"}, {"removed", {{"id", gone.id}, {"scope", "plugin:EQ"}, {"note", "Gone"}}}}));
    EXPECT_EQ(lastRecord(), (ToolExecution{"forget", "Forgot [" + gone.id + "]: Gone", true}));
    EXPECT_EQ(oneJSON("forget", R"({"memory_id":")" + gone.id + R"("})")["message"],
              "No memory with id '" + gone.id + "'. It may have already been forgotten.");
    EXPECT_EQ(oneJSON("forget", R"({"memory_id":" "})")["message"], "Missing memory_id.");
    EXPECT_EQ(memories.all(), std::vector<Memory>{kept});
}

// A note the file could not take is neither claimed nor kept; one that could not be forgotten stays.
TEST_F(ChatToolExecutorMemory, AWriteTheDiskRefusesIsAnErrorAndChangesNothing) {
    const Memory kept = memories.add("master", "Keep").memory.value();
    const std::string reason = memories.fileURL().string() + " could not be written: File too large.";
    const struct {
        const char* tool;
        std::string args;
        std::string message;
    } cases[] = {
        {"remember", R"({"scope":"master","note":"Likes it loud"})", "The memory was not stored: " + reason},
        {"forget", R"({"memory_id":")" + kept.id + R"("})", "Memory '" + kept.id + "' was not forgotten: " + reason},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        json answer;
        {
            FullDisk full;
            answer = oneJSON(c.tool, c.args);
        }
        EXPECT_EQ(memories.all(), std::vector<Memory>{kept});
        EXPECT_EQ(MemoryStore().all(), std::vector<Memory>{kept});
        EXPECT_EQ(answer, json({{"status", "error"}, {"message", c.message}}));
        EXPECT_EQ(lastRecord(), (ToolExecution{c.tool, c.message, false}));
    }
}

TEST_F(ChatToolExecutorMemory, KeysComeFromTheArgumentsEachToolNamesTracksAndPluginsIn) {
    struct Case {
        const char* tool;
        const char* args;
        std::vector<std::string> plugins;
        std::vector<std::string> tracks;
    };
    const Case cases[] = {
        {"add_plugin", R"({"plugin_name":" Compressor\t","track_name":"Kick"})", {"Compressor"}, {"Kick"}},
        {"reorder_plugin", R"({"plugin_name":"EQ","track_name":"Kick"})", {}, {"Kick"}},
        {"rename_track", R"({"current_name":"Bass","track_name":"x"})", {}, {"Bass"}},
        {"ensure_bus_track", R"({"source_track":"Kick"})", {}, {"Kick"}},
        {"update_track_description", R"({"trackName":"Vox"})", {}, {"Vox"}},
        {"get_track_details", R"({"track_names":["Kick"," Snare ",""]})", {}, {"Kick", "Snare"}},
        {"set_track_solo", R"({"track_names":["Kick",3]})", {}, {}},
        {"set_track_volume",
         R"({"tracks":[{"track_name":"Kick","value":1},{"track_name":" "},{"value":2}]})",
         {},
         {"Kick"}},
        {"set_track_pan", R"({"tracks":[{"track_name":"Kick"},"Bass"]})", {}, {}},
        {"listen_to_playback", R"({"tracks":"Kick, Snare,,Bass ","track_name":"Vox"})", {}, {"Kick", "Snare", "Bass"}},
        {"respond", R"({"visual":{"tracks":"Kick,Vox"}})", {}, {"Kick", "Vox"}},
        {"expand_folder", R"({"track_name":"Drums"})", {}, {}},
        {"set_folder_expanded", R"({"track_name":"Drums\n"})", {}, {"Drums\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tool);
        auto keys = ChatToolExecutor::memoryKeysFromArgs(c.tool, json::parse(c.args));
        EXPECT_EQ(keys.pluginKeys, c.plugins);
        EXPECT_EQ(keys.trackKeys, c.tracks);
    }
}

TEST_F(ChatToolExecutorMemory, MatchingMemoriesRideAlongOnceEachAndTheOutputIsResortedAtEveryLevel) {
    const Memory comp = memories.add("plugin:compressor", "Slow attack").memory.value();
    const Memory kick = memories.add("track:KICK@Demo Song", "Tuned low").memory.value();
    memories.add("track:Kick@Other Song", "Elsewhere");
    const Memory both = memories.add("plugin:Compressor", "Second compressor note").memory.value();
    executor->registerTool("set_plugin_bypass", [](ToolCall& call) {
        call.record("Bypassed.", true);
        return AgentToolOutputPayload{call.callID(), R"({"zeta":{"b":1,"a":2},"status":"ok"})", {}, {}};
    });
    auto memoryJSON = [](const Memory& m) { return json{{"id", m.id}, {"scope", m.scope}, {"note", m.note}}; };

    const auto output = one("set_plugin_bypass", R"({"plugin_name":"COMPRESSOR","track_name":"kick"})").outputJSON;
    EXPECT_EQ(output, R"({"memories":[)" + memoryJSON(comp).dump() + "," + memoryJSON(both).dump() + "," +
                          memoryJSON(kick).dump() + R"(],"status":"ok","zeta":{"a":2,"b":1}})");

    // Without a project only plug-in memories; error outputs get them too.
    projectName.reset();
    const json error =
        oneJSON("get_plugin_parameters", R"({"plugin_name":"Compressor","plugin_index":9,"track_name":"Kick"})");
    EXPECT_EQ(error["status"], "error");
    EXPECT_EQ(error["memories"], json::array({memoryJSON(comp), memoryJSON(both)}));

    // A successful description update answers "memories" then "ok".
    projectName = "Demo Song";
    host->stream("I1", "Kick");
    EXPECT_EQ(one("update_track_description", R"({"trackName":"Kick","description":"Punchy"})").outputJSON,
              R"({"memories":[)" + memoryJSON(kick).dump() + R"(],"ok":true})");
}

TEST_F(ChatToolExecutorMemory, OutputsThatAreNoObjectAreLeftAsTheyAre) {
    const std::vector<Memory> one{{"abc123", "plugin:EQ", "n", "t"}};
    for (const char* text : {"[1,2]", "not json", "\"text\""}) {
        AgentToolOutputPayload output{"c", text, std::string("extra"), {}};
        auto augmented = ChatToolExecutor::augmentOutputWithMemories(output, one);
        EXPECT_EQ(augmented.outputJSON, text);
    }
    AgentToolOutputPayload object{"c", R"({"memories":"mine","status":"ok"})", std::string("extra"), {}};
    auto augmented = ChatToolExecutor::augmentOutputWithMemories(object, one);
    EXPECT_EQ(augmented.outputJSON, R"({"memories":[{"id":"abc123","note":"n","scope":"plugin:EQ"}],"status":"ok"})");
    EXPECT_EQ(augmented.additionalInputText, "extra");
}

}  // namespace
}  // namespace corvane::testing
