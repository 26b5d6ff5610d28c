// The route table and the analysis intake, over a real loopback socket against the running
// controller and the simulated Logic Pro.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/controller_fixture.h"
#include "app/route_answers.h"
#include "platform/accessibility.h"
#include "platform/log.h"
#include "support/unicode.h"
#include "test_support/full_disk.h"
#include "test_support/no_descriptors.h"

namespace corvane::app {
namespace {

using Json = nlohmann::json;
using testing::ControllerTest;

const std::string kNotFound = R"({"error":"Not found"})";

TEST_F(ControllerTest, RoutesMatchExactMethodAndPathIgnoringOnlyTheQuery) {
    const struct {
        std::string method;
        std::string path;
        std::string body;
        int status;
    } cases[] = {
        {"GET", "/health", "", 200},
        {"GET", "/health?verbose=1&x", "", 200},
        {"GET", "/health/", "", 404},
        {"GET", "/Health", "", 404},
        {"get", "/health", "", 404},
        {"HEAD", "/health", "", 404},
        {"POST", "/health", "", 404},
        {"GET", "/context", "", 200},
        {"GET", "/conversations", "", 200},
        {"POST", "/conversations", "", 404},
        {"POST", "/conversations/create", "ignored", 200},
        {"POST", "/conversations/load", "garbage", 200},
        {"POST", "/conversations/clear", "", 200},
        {"POST", "/song-brief", R"({"songBrief": "Dark"})", 200},
        {"POST", "/analysis", "", 200},
        {"GET", "/analysis", "", 404},
        {"PUT", "/analysis", "{}", 404},
        {"GET", "/tracks", "", 200},
        {"GET", "/debug/tracks", "", 404},
        {"GET", "/test/snapshot", "", 200},
        {"POST", "/test/snapshot", "", 404},
        {"GET", "/test/run", "", 404},
        {"POST", "/test/runs", "{}", 404},
        {"GET", "/nowhere", "", 404},
    };
    for (const auto& c : cases) {
        platform::LogCapture logs;
        const auto answer = request(c.method, c.path, c.body);
        ASSERT_TRUE(answer) << c.method << " " << c.path;
        EXPECT_EQ(answer->status, c.status) << c.method << " " << c.path;
        EXPECT_EQ(answer->headers.at("Content-Type"), "application/json") << c.path;
        if (c.status == 404) {
            EXPECT_EQ(answer->body, kNotFound) << c.method << " " << c.path;
        }
        const auto lines = logs.lines();
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& l) { return l.rfind("[API] Local request ", 0) == 0; }),
                  1)
            << c.method << " " << c.path;
        EXPECT_TRUE(logs.contains("[API] Local request " + c.method + " " + c.path));
    }
}

TEST_F(ControllerTest, AnswersCarryTheStoresState) {
    const Json created = Json::parse(post("/conversations/create")->body);
    const std::string thread = created["currentThreadID"];
    EXPECT_EQ(Json::parse(post("/song-brief", R"({"songBrief": "  Dark and wide  "})")->body)["songBrief"],
              "Dark and wide");
    EXPECT_EQ(Json::parse(post("/conversations/load", R"({"threadID": 5})")->body)["currentThreadID"], thread);
    EXPECT_EQ(Json::parse(get("/conversations")->body)["songBrief"], "Dark and wide");
    const Json tracks = Json::parse(get("/tracks")->body);
    EXPECT_TRUE(tracks.is_object());
    EXPECT_EQ(Json::parse(get("/context")->body)["logicIsRunning"], true);
}

// Header toggles that show "On"/"Off": the track list reads a solo the same way the solo tool did.
TEST_F(ControllerTest, TrackListSeesASoloShownAsText) {
    world().setKnob("toggleValueText", true);
    std::optional<InstalledPluginInventory> plugins;
    std::vector<ToolExecution> used;
    std::optional<std::string> signature;
    const auto outputs = controller().chatOrchestrator().toolExecutor().executeToolCalls(
        {{"call_1", "set_track_solo", R"({"enabled":true,"track_names":["Bass"]})"}},
        ChatRequest{"Solo the bass", {}, {}, {}, ModelTier::standard}, "", 0, std::nullopt, plugins, used, signature);
    EXPECT_TRUE(world().project().track("Bass")->soloed);
    ASSERT_EQ(outputs.size(), 1u);
    EXPECT_EQ(Json::parse(outputs[0].outputJSON)["status"], "ok") << outputs[0].outputJSON;

    const Json tracks = Json::parse(get("/tracks")->body);
    EXPECT_EQ(tracks["soloedTrackNames"], Json::array({"Bass"})) << tracks.dump(2);
    EXPECT_EQ(tracks["hasSoloedTracks"], true);
}

// A thread change the disk refuses is answered as not made, with the reason, and the state shown is
// the one kept.
TEST_F(ControllerTest, RouteWritesTheDiskRefusesSaySoAndShowWhatIsKept) {
    const Json created = Json::parse(post("/conversations/create")->body);
    const std::string thread = created["currentThreadID"];
    ASSERT_TRUE(controller().conversationStore().append(ConversationRole::user, "Hello", thread));
    ASSERT_EQ(Json::parse(post("/song-brief", R"({"songBrief": "Dark"})")->body)["songBrief"], "Dark");
    const std::string reason =
        controller().conversationStore().fileURL().string() + " could not be written: File too large";
    const struct {
        const char* path;
        std::string body;
    } cases[] = {
        {"/conversations/create", ""},
        {"/conversations/clear", Json{{"threadID", thread}}.dump()},
        {"/song-brief", Json{{"songBrief", "Bright"}, {"threadID", thread}}.dump()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::optional<http::testing::Answer> answer;
        {
            corvane::testing::FullDisk full;
            answer = post(c.path, c.body);
        }
        const auto kept = controller().conversationStore().conversationState(thread);
        EXPECT_EQ(kept.threads.size(), 1u);
        EXPECT_EQ(kept.entries.size(), 1u);
        EXPECT_EQ(kept.songBrief, "Dark");
        ASSERT_TRUE(answer);
        Json body = Json::parse(answer->body);
        EXPECT_EQ(body["ok"], false);
        EXPECT_EQ(body["error"], reason);
        EXPECT_EQ(body["currentThreadID"], thread);
        EXPECT_EQ(body["threads"].size(), 1u);
        EXPECT_EQ(body["entries"].size(), 1u);
        EXPECT_EQ(body["songBrief"], "Dark");
    }
}

// Logic Pro's windows as reading each attribute alone gives them (the answer reads them in batches).
LogicContextSnapshot windowsReadOneByOne(const LogicContextSnapshot& running) {
    namespace ax = platform::ax;
    LogicContextSnapshot s = running;
    s.windows.clear();
    s.focusedWindowTitle.reset();
    const auto app = platform::accessibility().applicationElement(*running.processIdentifier);
    const auto windows = app.elements(ax::kWindows).value_or(std::vector<platform::AXElement>{});
    std::optional<std::string> focusedTitle;
    if (auto focused = app.element(ax::kFocusedWindow)) focusedTitle = focused->string(ax::kTitle);
    for (const auto& w : windows) {
        std::optional<std::string> title = w.string(ax::kTitle);
        if (title) title = text::trimmingWhitespaceAndNewlines(*title);
        const auto at = w.point(ax::kPosition).value_or(platform::Point{});
        const auto size = w.size(ax::kSize).value_or(platform::Size{});
        s.windows.push_back({title && !title->empty() ? *title : "Untitled Window",
                             {at.x, at.y, size.width, size.height},
                             title ? focusedTitle == *title : !focusedTitle});
        if (s.windows.back().isFocused && !s.focusedWindowTitle) s.focusedWindowTitle = s.windows.back().title;
    }
    return s;
}

TEST_F(ControllerTest, HealthAndContextAnswerTheSnapshotAsTheGenericWriterWritesIt) {
    const auto knobs = [&](std::vector<standin::AXErrorKnob> errors) {
        world().updateFaults([&](standin::Faults& f) {
            f.extraWindows = {{"  Mix 1/2 \"Alt\" \\ caf\xC3\xA9  ", {10, 20, 300, 200}, true},
                              {"\t", {5, 5, 100, 100}, false}};
            f.mixerWindow = true;
            f.axErrors = std::move(errors);
        });
    };
    const std::vector<std::vector<standin::AXErrorKnob>> states{
        {},
        {{"window", "AXPosition", -25204, 1}},
        {{"window", "AXTitle", -25212, 2}},
        {{"application", "AXFocusedWindow", -25212, -1}},
    };
    for (const auto& errors : states) {
        // Each read below starts with the knobs fresh, so the same reads fail in each.
        knobs(errors);
        const auto health = get("/health");
        knobs(errors);
        const auto context = get("/context");
        ASSERT_TRUE(health && context);
        knobs(errors);
        const LogicContextSnapshot logic = controller().healthSnapshot().logic;
        knobs(errors);
        EXPECT_EQ(logic, windowsReadOneByOne(logic));
        EXPECT_EQ(logic.windows.size(), 4u);
        knobs(errors);
        EXPECT_EQ(health->body, jsonAnswer(controller().healthSnapshot()).body);
        knobs(errors);
        EXPECT_EQ(context->body, jsonAnswer(controller().healthSnapshot().logic).body);
    }
    world().quitLogic();
    EXPECT_EQ(get("/health")->body, jsonAnswer(controller().healthSnapshot()).body);
    EXPECT_EQ(get("/context")->body,
              "{\n  \"logicIsFrontmost\": false,\n  \"logicIsRunning\": false,\n  \"windows\": []\n}");
}

TEST_F(ControllerTest, MalformedBodiesOnDestructiveRoutesChangeNothing) {
    const std::string thread = Json::parse(post("/conversations/create")->body)["currentThreadID"];
    controller().conversationStore().append(ConversationRole::user, "keep me", thread);
    controller().conversationStore().updateSongBrief("Keep", thread);

    const struct {
        std::string path;
        std::string body;
    } cases[] = {
        {"/song-brief", R"({"threadID": ")" + thread + R"("})"},
        {"/song-brief", ""},
        {"/song-brief", "not json"},
        {"/song-brief", R"({"songBrief": 7})"},
        {"/song-brief", R"({"songBrief": "x", "threadID": 7})"},
        {"/conversations/clear", R"({"threadID": 7})"},
        {"/conversations/clear", "[]"},
        {"/conversations/clear", "{broken"},
    };
    for (const auto& c : cases) {
        const auto answer = post(c.path, c.body);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 400) << c.path << " " << c.body;
        EXPECT_TRUE(Json::parse(answer->body)["error"].is_string()) << answer->body;
        const auto state = controller().conversationStore().conversationState(thread);
        EXPECT_EQ(state.songBrief, "Keep") << c.path << " " << c.body;
        EXPECT_EQ(state.entries.size(), 1u) << c.path << " " << c.body;
    }
    // An empty body still clears the current thread, as documented.
    EXPECT_EQ(post("/conversations/clear", "")->status, 200);
    EXPECT_TRUE(controller().conversationStore().conversationState(thread).entries.empty());
}

// A hostile body is refused 413 before any route parses or keeps it: past its route's bytes
// (told from the head alone), past the values or nesting any caller sends, or a brief past its cap.
TEST_F(ControllerTest, BodiesPastTheirBoundsAreRefusedBeforeAnyRouteReadsThem) {
    const std::string thread = Json::parse(post("/conversations/create")->body)["currentThreadID"];
    controller().conversationStore().updateSongBrief("Keep", thread);
    std::string manyBars = R"({"instanceID":"flood","barAnalysisMap":[)";
    for (int i = 0; i < 100'000; ++i) manyBars += i ? R"(,{"bar":1})" : R"({"bar":1})";
    manyBars += "]}";
    const std::string deep = R"({"instanceID":"deep","barAnalysisMap":)" + std::string(64, '[') + std::string(64, ']') + "}";
    const std::string longBrief = Json{{"songBrief", std::string(CompanionController::kMaxSongBriefBytes + 1, 'a')},
                                       {"threadID", thread}}
                                      .dump();
    const struct {
        std::string path, body, error;
    } cases[] = {
        {"/analysis", manyBars, "Body too large: more than 100000 values"},
        {"/analysis", deep, "Body too large: nested deeper than 64 levels"},
        {"/conversations/load", deep, "Body too large: nested deeper than 64 levels"},
        {"/conversations/clear", std::string(64 * 1024 + 1, ' '), "Body too large: at most 65536 bytes"},
        {"/song-brief", longBrief, "Song brief too long: at most 65536 bytes"},
        {"/song-brief", R"({"songBrief":")" + std::string(512 * 1024, 'a') + "\"}",
         "Body too large: at most 524288 bytes"},
    };
    for (const auto& c : cases) {
        const auto answer = post(c.path, c.body);
        ASSERT_TRUE(answer) << c.path;
        EXPECT_EQ(answer->status, 413) << c.path;
        EXPECT_EQ(Json::parse(answer->body), (Json{{"error", c.error}})) << c.path;
    }
    EXPECT_TRUE(controller().trackAnalysis().empty());
    EXPECT_EQ(controller().conversationStore().conversationState(thread).songBrief, "Keep");

    // Past its route's bytes, the head alone is answered: the body is never sent.
    http::testing::RawClient client(port());
    ASSERT_TRUE(client.send("POST /analysis HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " +
                            std::to_string(CompanionController::kMaxAnalysisBodyBytes + 1) + "\r\n\r\n"));
    client.shutdownWrite();
    const auto refused = http::testing::parseAnswer(client.readAll().bytes);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 413);
    EXPECT_EQ(Json::parse(refused->body), (Json{{"error", "Body too large: at most 4194304 bytes"}}));
}

// Only short analysis posts are parsed on the I/O thread that read them: a long parse there would
// hold every connection that thread answers.
TEST(CompanionRoutes, OnlyShortAnalysisPostsAreHandledOnTheIOThread) {
    http::HTTPRequest post{"POST", "/analysis"};
    post.body = std::string(CompanionController::kInlineAnalysisBytes, ' ');
    EXPECT_TRUE(CompanionController::answersAtOnce(post));
    post.body.push_back(' ');
    EXPECT_FALSE(CompanionController::answersAtOnce(post));
}

TEST_F(ControllerTest, UnknownThreadIdIsAnsweredAsMissingAndChangesNothing) {
    const std::string thread = Json::parse(post("/conversations/create")->body)["currentThreadID"];
    controller().conversationStore().append(ConversationRole::user, "keep me", thread);
    controller().conversationStore().updateSongBrief("Keep", thread);
    const auto before = readFile(controller().conversationStore().fileURL()).bytes;

    for (const std::string path : {"/conversations/load", "/conversations/clear", "/song-brief"}) {
        const auto answer = post(path, R"({"threadID": "no-such-thread", "songBrief": "Other"})");
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, 404) << path;
        EXPECT_EQ(Json::parse(answer->body), (Json{{"error", "Thread not found: no-such-thread"}})) << path;
        EXPECT_EQ(readFile(controller().conversationStore().fileURL()).bytes, before) << path;
    }
    const auto state = controller().conversationStore().conversationState(thread);
    EXPECT_EQ(state.songBrief, "Keep");
    EXPECT_EQ(state.entries.size(), 1u);
    // The thread by its own ID is still found.
    EXPECT_EQ(
        Json::parse(post("/song-brief", R"({"songBrief": "New", "threadID": ")" + thread + R"("})")->body)["songBrief"],
        "New");
}

// Out of descriptors (idle connections up to the hard limit), a chat that is in the file was
// answered "Thread not found" once the file had to be read again; every answer gives the store's
// reason now, and nothing changes.
TEST_F(ControllerTest, AThreadTheStoreCouldNotLookForIsNotSaidToBeMissing) {
    const std::string thread = Json::parse(post("/conversations/create")->body)["currentThreadID"];
    controller().conversationStore().updateSongBrief("Keep", thread);
    const auto file = controller().conversationStore().fileURL();
    const auto before = readFile(file).bytes;
    for (const std::string path : {"/conversations/load", "/conversations/clear", "/song-brief"}) {
        http::HTTPRequest request;
        request.method = "POST";
        request.path = path;
        request.body = Json{{"threadID", thread}, {"songBrief", "Other"}}.dump();
        // Each time the file is new to the store (as when another copy writes it) and must be read
        // again. The first requests still read it, with the descriptors of the versions the store
        // lets go of; the third finds none to read with.
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(writeFileAtomically(file, before));
            std::optional<http::HTTPResponse> answer;
            {
                const corvane::testing::NoDescriptors none;
                answer = controller().handle(request);
            }
            const std::string error = Json::parse(answer->body).value("error", "");
            EXPECT_NE(answer->statusCode, 404) << path << ": " << error;
            EXPECT_NE(error.find(std::generic_category().message(EMFILE)), std::string::npos) << path << ": " << error;
        }
        EXPECT_EQ(readFile(file).bytes, before) << path;
    }
    EXPECT_EQ(controller().conversationStore().conversationState(thread).songBrief, "Keep");
}

TEST_F(ControllerTest, AnalysisIntakeStoresWhateverArrivesUnderItsDefaults) {
    std::vector<std::string> notified;
    controller().setAnalysisUpdateHandler([&](const std::string& id) { notified.push_back(id); });

    const auto answer = post("/analysis", "{}");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->body, R"({"ok":true})");
    auto stored = controller().trackAnalysis();
    ASSERT_EQ(stored.count("default"), 1u);
    EXPECT_EQ(stored.at("default").trackName, "Unknown");
    EXPECT_FALSE(stored.at("default").analysis);
    EXPECT_TRUE(stored.at("default").barMap.empty());
    EXPECT_FALSE(stored.at("default").isMaster);

    ASSERT_TRUE(post("/analysis", R"({"instanceID": 12, "trackName": "stereo OUT", "audioAnalysis": {}})"));
    ASSERT_TRUE(post("/analysis", R"({"instanceID": "AI-1", "trackName": "Kick", "barAnalysisMap": [{"bar": 2}]})"));
    ASSERT_TRUE(post("/analysis", "[1]"));
    stored = controller().trackAnalysis();
    EXPECT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored.at("default").trackName, "Unknown") << "posts without an ID overwrite each other";
    EXPECT_FALSE(stored.at("default").isMaster);
    EXPECT_FALSE(stored.at("AI-1").isMaster);
    ASSERT_EQ(stored.at("AI-1").barMap.size(), 1u);
    EXPECT_EQ(notified, (std::vector<std::string>{"default", "default", "AI-1", "default"}));

    ASSERT_TRUE(post("/analysis", R"({"trackName": "Stereo Out", "audioAnalysis": {}})"));
    stored = controller().trackAnalysis();
    EXPECT_TRUE(stored.at("default").isMaster);
    ASSERT_TRUE(stored.at("default").analysis);
    EXPECT_EQ(stored.at("default").analysis->headroomDb, 100);
}

// The simulated plug-ins post over their own connections; the store shows them while the
// transport plays and silence once it stops.
TEST_F(ControllerTest, PlayingStandinShowsLiveAnalysisWithinASecondAndSilenceAfterStop) {
    world().setKnob("analysisPort", port());
    world().mutateProject([](standin::Project& p) {
        p.transport.setPlayhead({9, 1, 1, 1});
        p.transport.playing = true;
    });
    world().advance(1.0);

    auto live = controller().trackAnalysis();
    std::map<std::string, TrackAnalysisState> byTrack;
    for (const auto& [id, state] : live) byTrack[state.trackName] = state;
    ASSERT_EQ(byTrack.count("Lead Vox"), 1u);
    ASSERT_EQ(byTrack.count("Stereo Out"), 1u);
    EXPECT_EQ(live.size(), 2u) << "only the tracks carrying the plug-in post";
    const auto& vox = *byTrack.at("Lead Vox").analysis;
    EXPECT_TRUE(vox.transportWasPlaying);
    EXPECT_NEAR(vox.momentaryLufs, -16, 0.01);  // the profile's loudness at a 0 dB fader
    EXPECT_TRUE(byTrack.at("Stereo Out").isMaster);
    EXPECT_GT(byTrack.at("Stereo Out").analysis->momentaryLufs, vox.momentaryLufs) << "the output sums the tracks";
    EXPECT_EQ(byTrack.at("Lead Vox").barMap.front().bar, 9);

    // The fader and the mute reach the measurements.
    world().mutateProject([](standin::Project& p) { p.track("Lead Vox")->strip.volume = standin::World::rawFor(-6); });
    world().advance(0.5);
    for (const auto& [id, state] : controller().trackAnalysis())
        if (state.trackName == "Lead Vox") {
            EXPECT_NEAR(state.analysis->momentaryLufs, -22, 0.01);
        }
    world().mutateProject([](standin::Project& p) { p.track("Lead Vox")->muted = true; });
    world().advance(0.5);
    for (const auto& [id, state] : controller().trackAnalysis())
        if (state.trackName == "Lead Vox") {
            EXPECT_LE(state.analysis->momentaryLufs, -90);
        }

    // Plug-ins that go quiet once stopped age out.
    world().setKnob("postWhileStopped", false);
    world().mutateProject([](standin::Project& p) { p.transport.playing = false; });
    world().advance(0.5);
    const auto afterStop = world().events(standin::EventKind::analysisPost).size();
    for (const auto& [id, state] : controller().trackAnalysis()) {
        EXPECT_FALSE(state.analysis->transportWasPlaying) << state.trackName;
        EXPECT_LE(state.analysis->momentaryLufs, -90) << state.trackName;
    }
    world().advance(10);
    EXPECT_EQ(world().events(standin::EventKind::analysisPost).size(), afterStop);

    // 30 s after their last post, the next update of any instance drops them.
    world().advance(25);
    ASSERT_TRUE(post("/analysis", R"({"instanceID": "other"})"));
    EXPECT_EQ(controller().trackAnalysis().size(), 1u);
}

}  // namespace
}  // namespace corvane::app
