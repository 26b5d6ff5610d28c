#include "chat/backend_chat_request_builder.h"

#include <gtest/gtest.h>

namespace corvane {
namespace {

using nlohmann::json;
using Track = BackendChatRequestBuilder::TrackListEntry;

ConversationEntry entry(ConversationRole role, std::string content) {
    ConversationEntry e;
    e.role = role;
    e.content = std::move(content);
    return e;
}

ConversationEntry toolEntry(std::optional<bool> succeeded, std::string arguments, std::string summary) {
    ConversationEntry e = entry(ConversationRole::toolCall, "Set volume");
    e.toolName = "set_track_volume";
    e.succeeded = succeeded;
    e.arguments = std::move(arguments);
    e.summary = std::move(summary);
    e.resultJSON = R"({"status":"ok"})";
    return e;
}

json assistant(const std::string& text) {
    return {{"role", "assistant"}, {"content", json::array({{{"type", "output_text"}, {"text", text}}})}};
}

TEST(BackendChatRequestBuilder, ConversationEntriesBecomeItemsOrNothing) {
    const BackendChatRequestBuilder builder;
    ConversationEntry nameless = toolEntry(true, "{}", "");
    nameless.toolName.reset();
    ConversationEntry blankTool = toolEntry(true, "{\"a\":1}", "done");
    blankTool.content = " \n ";
    const std::vector<std::pair<ConversationEntry, std::optional<json>>> cases = {
        {entry(ConversationRole::user, "  hi \n"),
         json{{"role", "user"}, {"content", json::array({{{"type", "input_text"}, {"text", "hi"}}})}}},
        {entry(ConversationRole::assistant, " ok "), assistant("ok")},
        {entry(ConversationRole::update, "working"), assistant("working")},
        {entry(ConversationRole::tool, "x"), std::nullopt},
        {entry(ConversationRole::system, "x"), std::nullopt},
        {entry(ConversationRole::user, " \t\n"), std::nullopt},
        {blankTool, std::nullopt},
        {nameless, std::nullopt},
        {toolEntry(std::nullopt, " {\"v\":1} ", " Keys -6 dB \n"),
         assistant("[tool ok] set_track_volume | args: {\"v\":1} | result: Keys -6 dB")},
        {toolEntry(false, "", " "), assistant("[tool failed] set_track_volume")},
    };
    for (const auto& [e, item] : cases) EXPECT_EQ(builder.makeConversationItem(e), item) << e.content;
}

TEST(BackendChatRequestBuilder, AgentBodyTakesItemsFromTheLastTwelveEntriesThenTheNewUserItem) {
    const BackendChatRequestBuilder builder;
    std::vector<ConversationEntry> history;
    for (int i = 0; i < 15; ++i) {
        history.push_back(entry(i % 4 == 3 ? ConversationRole::tool : ConversationRole::user, "m" + std::to_string(i)));
    }
    CaptureMetadata titled;
    titled.logicContext.focusedWindowTitle = "Song - Tracks";
    const BackendChatRequestBuilder::AttachedCaptureInput captures = {
        {titled, "data:image/png;base64,AAA", "user-queued Logic screenshot"},
        {CaptureMetadata{}, "data:image/jpeg;base64,BBB", "user-queued Logic screenshot"}};
    const json body =
        builder.makeAgentRequestBody(ModelTier::pro, history, "Louder vocals", "  Indie ballad \n", "CTX", captures);
    EXPECT_EQ(body["tier"], "pro");
    EXPECT_EQ(body["kind"], "agent");
    EXPECT_EQ(body["parallel_tool_calls"], true);
    EXPECT_FALSE(body.contains("store"));
    const json& input = body["input"];
    ASSERT_EQ(input.size(), 10u) << "entries 3 to 14, less the tool entries 3, 7 and 11, then the new item";
    EXPECT_EQ(input[0]["content"][0]["text"], "m4");
    const json& parts = input.back()["content"];
    const std::vector<std::string> texts = {
        "Louder vocals",
        "Saved song brief for this chat:\nIndie ballad\n\nTreat this as durable user-provided context about the song "
        "and keep it in mind unless the user overrides it.",
        "CTX",
        "The following 2 Logic screenshot(s) are attached for this message. Use only these attached screenshots as "
        "screen context for this reply.",
        "Attached screenshot 1 of 2: user-queued Logic screenshot. Focused window: Song - Tracks."};
    for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(parts[i]["text"], texts[i]) << i;
    EXPECT_EQ(parts[5], json({{"type", "input_image"}, {"image_url", "data:image/png;base64,AAA"}}));
    EXPECT_EQ(parts[6]["text"], "Attached screenshot 2 of 2: user-queued Logic screenshot.");
    EXPECT_EQ(parts[7]["image_url"], "data:image/jpeg;base64,BBB");
    EXPECT_EQ(parts.size(), 8u);

    const json plain = builder.makeAgentRequestBody(ModelTier::standard, {}, "hi", " ", "CTX", std::nullopt);
    EXPECT_EQ(plain["tier"], "standard");
    EXPECT_EQ(plain["input"][0]["content"].size(), 2u);
}

TEST(BackendChatRequestBuilder, RuntimeContextDescribesTheProjectInBlocks) {
    const BackendChatRequestBuilder builder;
    HealthResponse health;
    health.logic.logicIsRunning = true;
    const std::vector<Track> tracks = {{"Drums", 1, true, false, 0},  {"Kick", 2, false, false, 1},
                                       {"Toms", 3, true, true, 1},    {"Floor", 4, false, false, 2},
                                       {"Snare", 5, false, false, 1}, {"Bass", 6, false, true, 0},
                                       {"Empty", 7, true, false, 0},  {"Vox", 8, false, false, 0}};
    TrackAnalysisState bass;
    bass.trackName = "Bass";
    TrackAnalysisState vox;
    vox.trackName = "vox";
    const std::string context = builder.makeRuntimeContext(
        health, "Song A", {bass, vox}, tracks, {{"DRUMS", " Live kit "}, {"Bass", "  "}},
        {SongSection{"s1", "Verse", 1, 8, 2}},
        {Memory{"a1b2c3", "song:Song A", "Warm", "t"}, Memory{"d4e5f6", "plugin:Comp", "Slow", "t"}});
    EXPECT_EQ(
        context,
        "Logic Pro context:\n- Running: true\n- Project: \"Song A\"\n\n"
        "All tracks in project (exact names \u2014 pass these to tools verbatim):\n"
        "- Drums [folder] \u2014 \"Live kit\"\n"
        "    children: Kick, Toms, Snare\n"
        "  - Kick\n"
        "  - Toms [folder, muted]\n"
        "      children: Floor\n"
        "    - Floor\n"
        "  - Snare\n"
        "- Bass [muted, monitored]\n"
        "- Empty [folder]\n"
        "- Vox\n"
        "(Tracks marked `folder` are Logic folder tracks / track stacks. A folder's audio output is the SUM of "
        "its children's audio \u2014 so listen_to_playback on a folder returns the combined mix of everything "
        "inside it. Soloing a folder solos all its children. When the user says \"inside the Foo folder\", they "
        "mean the tracks listed below Foo as children. Tracks marked `monitored` have the Corvane plugin "
        "installed and can be read with listen_to_playback. Only currently visible tracks are listed \u2014 "
        "collapsed folders hide their children, use set_folder_expanded to reveal them.)\n\n"
        "Song sections:\n- Verse: bars 1-8\n\n"
        "Memories (reference by ID; use `forget` to remove):\n- [a1b2c3] (song) Warm\n- [d4e5f6] (plugin:Comp) Slow");
    EXPECT_EQ(context.find("get_audio_analysis"), std::string::npos) << "a tool without a handler";

    EXPECT_EQ(builder.makeRuntimeContext({}, "", {}, {}, {}, {}, {}), "Logic Pro context:\n- Running: false");
    EXPECT_EQ(builder.makeRuntimeContext({}, std::nullopt, {bass, vox}, {}, {}, {}, {}),
              "Logic Pro context:\n- Running: false\n\n"
              "Tracks with Corvane plugin (can be read with listen_to_playback): Bass, vox");
}

TEST(BackendChatRequestBuilder, ContinuationAndTitleBodies) {
    const BackendChatRequestBuilder builder;
    const std::vector<AgentToolOutputPayload> outputs = {
        {"c1", R"({"status":"ok"})", "look", "data:image/png;base64,Q"}, {"c2", "{}", "text only", std::nullopt}};
    const json body = builder.makeContinuationBody(ModelTier::standard, "resp_9", outputs, "  go on ");
    EXPECT_EQ(body, json({{"tier", "standard"},
                          {"previous_response_id", "resp_9"},
                          {"parallel_tool_calls", true},
                          {"input",
                           {{{"type", "function_call_output"}, {"call_id", "c1"}, {"output", R"({"status":"ok"})"}},
                            {{"role", "user"},
                             {"content",
                              {{{"type", "input_text"}, {"text", "look"}},
                               {{"type", "input_image"}, {"image_url", "data:image/png;base64,Q"}}}}},
                            {{"type", "function_call_output"}, {"call_id", "c2"}, {"output", "{}"}},
                            {{"role", "user"}, {"content", {{{"type", "input_text"}, {"text", "  go on "}}}}}}}}));
    EXPECT_TRUE(builder.buildContinuationInput({}, " \n").empty());
    EXPECT_EQ(
        builder.makeTitleBody(" Hi ", "Yo"),
        json({{"tier", "standard"},
              {"kind", "title"},
              {"store", false},
              {"parallel_tool_calls", false},
              {"input",
               {{{"role", "user"}, {"content", {{{"type", "input_text"}, {"text", "User:  Hi \nAssistant: Yo"}}}}}}}}));
}

}  // namespace
}  // namespace corvane
