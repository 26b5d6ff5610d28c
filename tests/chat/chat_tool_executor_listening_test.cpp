// "listen_to_playback" on the simulated Logic Pro, whose analysis plug-ins post to a real
// controller over loopback HTTP while virtual time runs.

#include <algorithm>
#include <chrono>
#include <mutex>

#include "app/companion_controller.h"
#include "support/numbers.h"
#include "tool_executor_fixture.h"

namespace corvane::testing {
namespace {

using json = nlohmann::json;
using standin::Project;

// The controller as the executor reaches it in the application.
class ControllerHost final : public ToolHost {
public:
    explicit ControllerHost(std::shared_ptr<app::CompanionController> controller)
        : controller_(std::move(controller)) {}
    std::vector<TrackAnalysisState> trackAnalysis() override { return controller_->trackAnalysisValues(); }
    bool storeTrackDescription(const std::string&, const std::string&) override { return false; }
    std::optional<std::string> updateSongBrief(const std::string&, const std::string&) override { return std::nullopt; }

private:
    std::shared_ptr<app::CompanionController> controller_;
};

class ListenToPlayback : public ToolExecutorTest {
protected:
    void SetUp() override {
        ToolExecutorTest::SetUp();
        app::CompanionController::Options options;
        options.port = 0;
        controller_ = app::CompanionController::create(options);
        controller_->start();
        ASSERT_NE(controller_->boundPort(), 0);
        world().setKnob("analysisPort", controller_->boundPort());
        controllerHost_ = std::make_shared<ControllerHost>(controller_);
        executor = std::make_unique<ChatToolExecutor>(
            ChatToolExecutor::Services{inventory, conversations, memories, logic, plugins, logger, controllerHost_});
    }
    void TearDown() override {
        executor.reset();
        controllerHost_.reset();
        controller_.reset();
    }

    std::vector<std::string> inserts(const std::string& track) {
        const Project project = world().project();
        std::vector<std::string> names;
        for (const auto& slot : project.track(track)->strip.inserts) names.push_back(slot.plugin);
        return names;
    }
    static std::optional<double> lufs(const json& result, const std::string& track) {
        for (const auto& t : result["tracks"])
            if (t["trackName"] == track) return t["shortTermLufs"].get<double>();
        return std::nullopt;
    }

    std::shared_ptr<app::CompanionController> controller_;
    std::shared_ptr<ControllerHost> controllerHost_;
};

TEST_F(ListenToPlayback, InsertsTheMissingPluginListensAndRestoresTheTransport) {
    ASSERT_EQ(inserts("Bass").size(), 1u);
    const auto before = world().project().transport;
    ASSERT_EQ(before.playhead().bar, 1);
    const double start = world().virtualSeconds();

    const json result =
        oneJSON("listen_to_playback", R"({"duration_seconds":4,"start_bar":9,"tracks":"Lead Vox, Bass"})");

    ASSERT_EQ(result["status"], "ok") << result;
    EXPECT_EQ(result["durationSeconds"], 4.0);
    EXPECT_EQ(inserts("Bass"), (std::vector<std::string>{"Compressor", "Corvane"}));
    EXPECT_EQ(inserts("Lead Vox").size(), 3u) << "no second instance";
    EXPECT_TRUE(lufs(result, "Lead Vox").has_value()) << result;
    EXPECT_TRUE(lufs(result, "Bass").has_value()) << result;
    EXPECT_TRUE(lufs(result, "Stereo Out").has_value()) << result;
    // Preparing, playing and restoring together take a few seconds beyond the asked time, no more.
    EXPECT_GE(world().virtualSeconds() - start, 4.0);
    EXPECT_LT(world().virtualSeconds() - start, 12.0);

    const auto after = world().project().transport;
    EXPECT_FALSE(after.playing);
    EXPECT_EQ(after.playhead().bar, 9);
    EXPECT_EQ(after.cycleOn, before.cycleOn);
    // The plug-in it inserted stays in the project, and the playhead where the listen began: the
    // card says both.
    EXPECT_EQ(lastRecord(),
              (ToolExecution{"listen_to_playback",
                             "Listened to Lead Vox, Bass for 4s. " + std::to_string(result["tracks"].size()) +
                                 " tracks monitored. The playhead moved from bar 1 to bar 9. The analysis plug-in "
                                 "was inserted on Bass, where it stays.",
                             true}));
    EXPECT_EQ(result["summary"].get<std::string>().rfind("Listened for 4s across ", 0), 0u);
}

// The card said "1 tracks monitored".
TEST_F(ListenToPlayback, OneTrackMonitoredIsSaidInTheSingular) {
    world().mutateProject([](Project& project) {
        for (auto& track : project.tracks)
            if (track.name != "Lead Vox")
                std::erase_if(track.strip.inserts, [](const auto& slot) { return slot.plugin == "Corvane"; });
    });
    const json result = oneJSON("listen_to_playback", R"({"duration_seconds":2,"start_bar":9,"tracks":"Lead Vox"})");
    ASSERT_EQ(result["status"], "ok") << result;
    ASSERT_EQ(result["tracks"].size(), 1u) << result;
    EXPECT_EQ(lastRecord().summary,
              "Listened to Lead Vox for 2s. 1 track monitored. The playhead moved from bar 1 to bar 9.");
}

TEST_F(ListenToPlayback, MutedTrackAndTrackWithoutAudioThereReadSilent) {
    // Keys is muted in the song and Guitar has nothing before bar 17: their new plug-ins hear nothing.
    const json result = oneJSON("listen_to_playback", R"({"duration_seconds":3,"start_bar":9,"tracks":"Keys,Guitar"})");
    ASSERT_EQ(result["status"], "ok") << result;
    EXPECT_EQ(inserts("Keys"), (std::vector<std::string>{"Corvane"}));
    EXPECT_EQ(inserts("Guitar"), (std::vector<std::string>{"Corvane"}));
    EXPECT_FALSE(lufs(result, "Keys").has_value()) << result;
    EXPECT_FALSE(lufs(result, "Guitar").has_value()) << result;
    EXPECT_EQ(executor->corvanePresence("Guitar"), std::nullopt);
    EXPECT_TRUE(lufs(result, "Lead Vox").has_value()) << result;
    // Not measured, so it is looked for again next time.
    EXPECT_EQ(executor->corvanePresence("Keys"), std::nullopt);
}

TEST_F(ListenToPlayback, DurationIsClampedAndArgumentsChecked) {
    struct Case {
        const char* args;
        double duration;
        const char* staleAfter = "onRebuild";
    };
    // Handles read a few times go stale: the playhead is still put back where the listen began.
    for (const Case& c : {Case{R"({"duration_seconds":0.2,"start_bar":9})", 1.0},
                          Case{R"({"duration_seconds":120,"start_bar":9.9})", 30.0},
                          Case{R"({"duration_seconds":2,"start_bar":9})", 2.0, "afterReads 3"}}) {
        SCOPED_TRACE(c.args);
        world().setKnob("staleAfter", c.staleAfter);
        const double start = world().virtualSeconds();
        const json result = oneJSON("listen_to_playback", c.args);
        EXPECT_EQ(result["durationSeconds"], c.duration);
        EXPECT_GE(world().virtualSeconds() - start, c.duration);
        EXPECT_LT(world().virtualSeconds() - start, c.duration + 2.0);
        EXPECT_EQ(world().project().transport.playhead().bar, 9);
        EXPECT_NE(lastRecord().summary.find("full mix for " + formatFixed(c.duration, 0) + "s."), std::string::npos);
    }
    EXPECT_EQ(oneJSON("listen_to_playback", R"({"start_bar":9})")["message"], "Missing duration_seconds parameter.");
    EXPECT_EQ(oneJSON("listen_to_playback", R"({"duration_seconds":"5","start_bar":9})")["message"],
              "Missing duration_seconds parameter.");
    EXPECT_EQ(oneJSON("listen_to_playback", R"({"duration_seconds":5,"start_bar":"9"})")["message"],
              "Missing start_bar parameter. Call get_arrangement first to find where content exists, then pass that "
              "bar number.");
    EXPECT_FALSE(lastRecord().succeeded);
}

TEST_F(ListenToPlayback, VolumeChangeShowsInTheBeforeAfterComparison) {
    const std::string args = R"({"duration_seconds":3,"start_bar":9,"tracks":"Lead Vox"})";
    const auto before = json::parse(one("listen_to_playback", args).outputJSON).get<ListenResult>();
    world().mutateProject([](Project& p) { p.track("Lead Vox")->strip.volume -= 40; });
    signature.reset();  // the same call again is a new listen, not a repeat
    const auto after = json::parse(one("listen_to_playback", args).outputJSON).get<ListenResult>();

    const auto vox = [](const ListenResult& r) -> std::optional<double> {
        for (const auto& t : r.tracks)
            if (t.trackName == "Lead Vox") return t.shortTermLufs;
        return std::nullopt;
    };
    ASSERT_TRUE(vox(before) && vox(after));
    const double drop = *vox(before) - *vox(after);
    EXPECT_GT(drop, 0.7) << "quieter after";
    const auto delta = ChatToolExecutor::beforeAfterMaxDelta(before.tracks, after.tracks, "levels");
    EXPECT_GE(delta.maxDelta, drop);
    EXPECT_GE(delta.maxDelta, delta.threshold);
}

// The transport as it stood when the listen read the analysis, at the end of the played stretch.
class TransportAtRead final : public ToolHost {
public:
    explicit TransportAtRead(standin::World& world) : world_(world) {}
    std::vector<TrackAnalysisState> trackAnalysis() override {
        std::lock_guard lock(mutex_);
        transport_ = world_.project().transport;
        return {};
    }
    bool storeTrackDescription(const std::string&, const std::string&) override { return false; }
    std::optional<std::string> updateSongBrief(const std::string&, const std::string&) override { return std::nullopt; }
    std::optional<standin::Transport> transport() {
        std::lock_guard lock(mutex_);
        return transport_;
    }

private:
    standin::World& world_;
    std::mutex mutex_;
    std::optional<standin::Transport> transport_;
};

// In the running programs a listen plays the song for as long as it was asked, in real time.
TEST_F(ToolExecutorTest, OnTheWallClockATwoSecondListenPlaysTwoSecondsOfTheSong) {
    standin::World::Options options;
    options.clock = standin::ClockMode::wall;
    load(standin::testing::demoSong(), options);
    world().mutateProject([](Project& p) { p.transport.cycleOn = false; });
    auto transportHost = std::make_shared<TransportAtRead>(world());
    executor = std::make_unique<ChatToolExecutor>(
        ChatToolExecutor::Services{inventory, conversations, memories, logic, plugins, logger, transportHost});

    const auto started = std::chrono::steady_clock::now();
    const json result = oneJSON("listen_to_playback", R"({"duration_seconds":2,"start_bar":9})");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;

    ASSERT_EQ(result["status"], "ok") << result;
    EXPECT_GE(took.count(), 2.0);
    const auto atRead = transportHost->transport();
    ASSERT_TRUE(atRead);
    const double played = (atRead->positionTicks - 8 * atRead->ticksPerBar()) / atRead->ticksPerSecond();
    // At least the 2 s asked for, and no more than the time that passed: how long a listen runs
    // past its 2 s says how busy the machine is, which the virtual clock's listens leave out.
    // The world catches up with the wall clock by frames, so the song may seem ahead by one.
    constexpr double kFrame = 0.05;
    EXPECT_GE(played, 1.9);
    EXPECT_LE(played, took.count() + kFrame);
    EXPECT_FALSE(world().project().transport.playing);
    EXPECT_EQ(world().project().transport.playhead().bar, 9);
}

}  // namespace
}  // namespace corvane::testing
