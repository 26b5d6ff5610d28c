#include "app/companion_controller.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

#include "app/controller_fixture.h"

namespace corvane::app {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using http::HTTPRequest;
using http::HTTPResponse;
using testing::ControllerTest;

TrackAnalysisState record(const std::string& id, platform::Clock::TimePoint at) {
    TrackAnalysisState state;
    state.id = id;
    state.trackName = id;
    state.lastUpdateTime = at;
    return state;
}

TEST_F(ControllerTest, HealthReportsTheBuildsOneVersionThePortListenedOnAndNoCaptureYet) {
    ASSERT_NE(port(), 51234) << "an ephemeral port, so the default cannot pass for it";
    const HealthResponse health = controller().healthSnapshot();
    EXPECT_EQ(health.appName, "Corvane");
    EXPECT_EQ(health.appVersion, CORVANE_VERSION);
    EXPECT_EQ(health.serverPort, port());
    EXPECT_FALSE(health.lastCapture);

    const auto answer = get("/health");
    ASSERT_TRUE(answer);
    const Json body = Json::parse(answer->body);
    EXPECT_EQ(body["appVersion"], CORVANE_VERSION);
    EXPECT_EQ(body["serverPort"], port());
    EXPECT_FALSE(body.contains("lastCapture"));

    std::ostringstream printed;
    ASSERT_TRUE(controller().printHealth(printed));
    ASSERT_FALSE(printed.str().empty());
    EXPECT_EQ(printed.str().back(), '\n');
    EXPECT_EQ(Json::parse(printed.str())["appName"], "Corvane");
}

TEST_F(ControllerTest, RecordsAgeOutAtExactlyThirtySecondsAndOnlyOnAnUpdate) {
    auto& clock = manualClock_;
    startController(&clock);
    const auto t0 = clock.now();
    controller().updateTrackAnalysis("A", record("A", t0));

    clock.set(t0 + 29'999ms);
    controller().updateTrackAnalysis("B", record("B", clock.now()));
    EXPECT_EQ(controller().trackAnalysis().count("A"), 1u) << "29.999 s old survives";

    clock.set(t0 + 30s);
    EXPECT_EQ(controller().trackAnalysis().count("A"), 1u) << "reading never ages the store";
    controller().updateTrackAnalysis("B", record("B", clock.now()));
    EXPECT_EQ(controller().trackAnalysis().count("A"), 0u) << "exactly 30 s old goes";
    EXPECT_EQ(controller().trackAnalysis().count("B"), 1u);

    // The route stamps records with the injected clock too.
    clock.set(t0 + 100s);
    ASSERT_TRUE(post("/analysis", R"({"instanceID": "C"})"));
    EXPECT_EQ(controller().trackAnalysis().at("C").lastUpdateTime, t0 + 100s);
    EXPECT_EQ(controller().trackAnalysis().count("B"), 0u);
}

// However many instances post, and however much, the store stays bounded: the last bars of each,
// the instances updated longest ago going first, the one just posted never.
TEST_F(ControllerTest, TheLiveAnalysisStoreLetsTheOldestGoPastItsBounds) {
    auto& clock = manualClock_;
    startController(&clock);
    const auto t0 = clock.now();
    const auto postAt = [&](const std::string& id, std::chrono::milliseconds after, TrackAnalysisState state) {
        clock.set(t0 + after);
        state.id = id;
        state.lastUpdateTime = clock.now();
        controller().updateTrackAnalysis(id, std::move(state));
    };
    const std::size_t cap = CompanionController::kMaxAnalysisInstances;
    for (std::size_t i = 0; i <= cap; ++i) postAt("i" + std::to_string(cap - i), std::chrono::milliseconds(i), {});
    auto kept = controller().trackAnalysis();
    EXPECT_EQ(kept.size(), cap);
    EXPECT_EQ(kept.count("i" + std::to_string(cap)), 0u) << "the first posted goes, whatever its name";

    TrackAnalysisState long_;
    for (std::size_t bar = 1; bar <= CompanionController::kMaxBarsPerInstance + 10; ++bar)
        long_.barMap.push_back(BarAnalysisEntry{.bar = static_cast<std::int64_t>(bar)});
    postAt("long", 1s, long_);
    const auto bars = controller().trackAnalysis().at("long").barMap;
    ASSERT_EQ(bars.size(), CompanionController::kMaxBarsPerInstance);
    EXPECT_EQ(bars.front().bar, 11);

    TrackAnalysisState wide;
    wide.trackName = std::string(CompanionController::kMaxAnalysisBytes / 2, 'w');
    postAt("wide-1", 2s, wide);
    postAt("wide-2", 3s, wide);
    kept = controller().trackAnalysis();
    EXPECT_EQ(kept.count("wide-2"), 1u);
    EXPECT_EQ(kept.count("wide-1"), 0u);
    EXPECT_EQ(kept.count("long"), 0u) << "older than wide-1, so gone before it";
}

TEST_F(ControllerTest, LazyServicesAreCreatedOnceWhenThreadsAskFirstTogether) {
    for (int round = 0; round < 20; ++round) {
        startController();
        std::vector<const void*> seen(9);
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < seen.size(); ++i)
            threads.emplace_back([&, i] {
                switch (i % 3) {
                    case 0: seen[i] = &controller().pluginInspector(); break;
                    case 1: seen[i] = &controller().captureService(); break;
                    default: seen[i] = &controller().chatOrchestrator(); break;
                }
            });
        for (auto& t : threads) t.join();
        for (std::size_t i = 3; i < seen.size(); ++i) EXPECT_EQ(seen[i], seen[i % 3]);
    }
}

// The tools keep a description under the analysis instance, the request builder looks it up by
// lower-cased track name: what the agent saves must reach its next turn all the same.
TEST_F(ControllerTest, WhatTheToolsSaveReachesTheAgentLoopAndTheWindow) {
    TrackAnalysisState vocal = record("inst-7", controller().clock().now());
    vocal.trackName = "Lead Vox";
    controller().updateTrackAnalysis(vocal.id, vocal);
    std::vector<std::string> heard;
    controller().setOnTrackDescriptionUpdate(
        [&](const std::string& t, const std::string& d) { heard.push_back(t + "=" + d); });
    controller().setOnSongBriefUpdate([&](const std::string& b) { heard.push_back("brief=" + b); });

    const std::string threadID = controller().conversationStore().createThread().currentThreadID;
    std::optional<InstalledPluginInventory> installed;
    std::vector<ToolExecution> used;
    std::optional<std::string> signature;
    const auto outputs = controller().chatOrchestrator().toolExecutor().executeToolCalls(
        {{"c1", "update_track_description", R"({"trackName": "lead VOX", "description": "breathy"})"},
         {"c2", "update_song_brief", R"({"brief": "dark and slow"})"}},
        ChatRequest{}, threadID, 0, std::nullopt, installed, used, signature);
    ASSERT_EQ(outputs.size(), 2u);
    for (const auto& output : outputs) EXPECT_EQ(output.outputJSON, R"({"ok":true})");

    EXPECT_EQ(controller().trackDescriptionsStore(), (std::map<std::string, std::string>{{"inst-7", "breathy"}}));
    auto providers = controller().orchestratorProviders();
    EXPECT_EQ(providers.trackDescriptions(), (std::map<std::string, std::string>{{"lead vox", "breathy"}}));
    EXPECT_EQ(providers.trackAnalysis().size(), 1u);
    EXPECT_EQ(heard, (std::vector<std::string>{"Lead Vox=breathy", "brief=dark and slow"}));

    std::weak_ptr<ToolHost> host = controller().toolHost();
    controller_.reset();
    EXPECT_TRUE(host.expired()) << "the tools' hold ends with the controller";
    EXPECT_TRUE(providers.trackDescriptions().empty());
    EXPECT_TRUE(providers.trackAnalysis().empty());
    EXPECT_TRUE(providers.songSections().empty());
    EXPECT_EQ(providers.healthSnapshot(), HealthResponse{});
}

TEST_F(ControllerTest, ARequestAfterTheControllerIsGoneGetsUnavailable) {
    std::weak_ptr<CompanionController> gone;
    {
        auto shortLived = CompanionController::create(CompanionController::Options{.port = 0});
        gone = shortLived;
    }
    HTTPRequest request;
    request.method = "GET";
    request.path = "/health";
    const HTTPResponse answer = CompanionController::makeHandler(gone)(request);
    EXPECT_EQ(answer, (HTTPResponse{500, "text/plain", "Companion controller unavailable"}));
}

// Headless, no window installs the brief's callback: the agent must not hear that it was saved.
TEST_F(ControllerTest, ASongBriefThatNoWindowTakesIsReportedAsNotStored) {
    auto& executor = controller().chatOrchestrator().toolExecutor();
    const ChatRequest request{"Remember the song", {}, {}, {}, ModelTier::standard};
    std::string thread = "thread";
    auto brief = [&](const std::string& callID) {
        std::optional<InstalledPluginInventory> installed;
        std::vector<ToolExecution> toolsUsed;
        std::optional<std::string> signature;
        const auto outputs = executor.executeToolCalls({{callID, "update_song_brief", R"({"brief":"Dark, 104 BPM"})"}},
                                                       request, thread, 0, std::nullopt, installed, toolsUsed,
                                                       signature);
        EXPECT_EQ(toolsUsed.size(), 1u);
        return std::make_pair(Json::parse(outputs.at(0).outputJSON), toolsUsed.at(0).succeeded);
    };
    const auto [headless, headlessSucceeded] = brief("c1");
    EXPECT_EQ(headless.value("status", ""), "error") << headless;
    EXPECT_EQ(headless.value("message", "").rfind("The song brief was not stored", 0), 0u) << headless;
    EXPECT_FALSE(headlessSucceeded);

    std::vector<std::string> kept;
    controller().setOnSongBriefUpdate([&](const std::string& b) { kept.push_back(b); });
    thread = controller().conversationStore().createThread().currentThreadID;
    const auto [windowed, windowedSucceeded] = brief("c2");
    EXPECT_EQ(windowed, Json({{"ok", true}}));
    EXPECT_TRUE(windowedSucceeded);
    EXPECT_EQ(kept, std::vector<std::string>{"Dark, 104 BPM"});
    EXPECT_EQ(controller().conversationStore().songBrief(thread), "Dark, 104 BPM");

    // The turn's chat deleted meanwhile (by another copy): the agent hears what the store answered.
    controller().conversationStore().deleteThread(thread);
    const auto [gone, goneSucceeded] = brief("c3");
    EXPECT_EQ(gone.value("message", ""), "The song brief was not stored: the chat no longer exists.") << gone;
    EXPECT_FALSE(goneSucceeded);
    EXPECT_EQ(kept.size(), 1u) << "the window was told of a brief that was not stored";
}

TEST_F(ControllerTest, CallbacksForwardOnlyWhenInstalledAndMirrorsStayWhole) {
    controller().notifyTrackDescriptionUpdate("Kick", "punchy");  // nothing installed: nothing happens
    controller().notifySongBriefUpdate("brief");

    std::vector<std::string> calls;
    controller().setOnTrackDescriptionUpdate(
        [&](const std::string& t, const std::string& d) { calls.push_back(t + "=" + d); });
    controller().setOnSongBriefUpdate([&](const std::string& b) { calls.push_back("brief=" + b); });
    controller().notifyTrackDescriptionUpdate("Kick", "punchy");
    controller().notifySongBriefUpdate("dark");
    EXPECT_EQ(calls, (std::vector<std::string>{"Kick=punchy", "brief=dark"}));

    // Writers on one thread, readers on another: every read sees one whole value.
    std::thread writer([&] {
        for (int i = 0; i < 200; ++i) {
            const std::string v = std::to_string(i);
            controller().setTrackDescriptionsStore({{"a", v}, {"b", v}});
            controller().setSongSectionsStore({SongSection{v, v, i, i, 0}});
        }
    });
    for (int i = 0; i < 200; ++i) {
        const auto descriptions = controller().trackDescriptionsStore();
        if (!descriptions.empty()) {
            EXPECT_EQ(descriptions.at("a"), descriptions.at("b"));
        }
        const auto sections = controller().songSectionsStore();
        if (!sections.empty()) {
            EXPECT_EQ(sections[0].startBar, sections[0].endBar);
        }
    }
    writer.join();
}

TEST_F(ControllerTest, CaptureRecordsTheLastCaptureOnlyWhenItSucceeds) {
    controller().conversationStore().createThread();
    world().setKnob("captureError", "The display is asleep");
    const auto failed = controller().capture(false);
    EXPECT_FALSE(failed.ok);
    EXPECT_FALSE(failed.metadata);
    EXPECT_FALSE(controller().lastCapture());
    EXPECT_EQ(controller().conversationStore().pendingCaptures().size(), 0u);

    world().setKnob("captureError", nullptr);
    const auto captured = controller().capture(false);
    ASSERT_TRUE(captured.ok) << captured.message;
    EXPECT_EQ(captured.message, "Captured Logic successfully.");
    EXPECT_EQ(controller().lastCapture(), captured.metadata);
    EXPECT_EQ(controller().conversationStore().pendingCaptures().size(), 1u);
    EXPECT_TRUE(Json::parse(get("/health")->body).contains("lastCapture"));
}

}  // namespace
}  // namespace corvane::app
