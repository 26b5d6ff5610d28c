#include "app/simulated_host.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/platform.h"
#include "platform/standin/world.h"
#include "test_support/temp_home.h"
#include "test_support/free_port.h"
#include "test_support/hang_guard.h"

namespace corvane::app {
namespace {

// Moved off the default port, the host must still hear its own analysis plug-ins: their posts
// follow it, or the window waits for analysis that went to a port nobody serves.
TEST(SimulatedHost, AnalysisPostsReachTheHostOnItsOwnPort) {
    corvane::testing::TempHome home;
    const std::uint16_t port = testing::freePort();
    SimulatedHost host({SimulatedHost::scenarioPathFromEnvironment(), port, nullptr, standin::ClockMode::virtualTime});
    ASSERT_TRUE(host.controller()->start());
    EXPECT_EQ(host.world().faults().analysisPort, port);

    host.world().mutateProject([](standin::Project& project) { project.transport.playing = true; });
    for (int step = 0; step < 40 && host.controller()->trackAnalysis().empty(); ++step) host.world().advance(0.25);
    EXPECT_FALSE(host.controller()->trackAnalysis().empty());
}

// The programs' host runs its world on the wall clock: chats are dated today, and the plug-ins
// post while the song plays though nothing sleeps on the clock.
TEST(SimulatedHost, RunsTheWorldOnTheWallClock) {
    using namespace std::chrono_literals;
    corvane::testing::TempHome home;
    SimulatedHost host({SimulatedHost::scenarioPathFromEnvironment(), testing::freePort(), nullptr});
    ASSERT_TRUE(host.controller()->start());
    const auto before = std::chrono::system_clock::now();
    const auto now = platform::clock().now();
    const auto after = std::chrono::system_clock::now();
    EXPECT_GE(now, before - 1s);
    EXPECT_LE(now, after + 1s);

    // Asked again until the plug-ins have posted: a bound against a hang, not a pace.
    host.world().mutateProject([](standin::Project& project) { project.transport.playing = true; });
    for (const auto until = std::chrono::steady_clock::now() + testing::kHangGuard;
         host.controller()->trackAnalysis().empty() && std::chrono::steady_clock::now() < until;)
        std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(host.controller()->trackAnalysis().empty());
}

// A song that is loaded but not playing still has its plug-ins: they post silence, so the window
// and the agent see them (no "not detected" banner, tracks marked monitored) before playback.
TEST(SimulatedHost, AnalysisPlugInsPostSilenceWhileStoppedAndSoundWhilePlaying) {
    corvane::testing::TempHome home;
    SimulatedHost host(
        {SimulatedHost::scenarioPathFromEnvironment(), testing::freePort(), nullptr, standin::ClockMode::virtualTime});
    ASSERT_TRUE(host.controller()->start());
    ASSERT_FALSE(host.world().project().transport.playing);

    host.world().advance(1);
    auto live = host.controller()->trackAnalysisValues();
    ASSERT_EQ(live.size(), 2u);
    for (const auto& state : live) {
        SCOPED_TRACE(state.trackName);
        ASSERT_TRUE(state.analysis);
        EXPECT_FALSE(state.analysis->transportWasPlaying);
        EXPECT_EQ(state.analysis->peakDbfs, -100);
        EXPECT_EQ(state.analysis->momentaryLufs, -100);
    }

    host.world().mutateProject([](standin::Project& project) {
        project.transport.setPlayhead({9, 1, 1, 1});
        project.transport.playing = true;
    });
    host.world().advance(1);
    live = host.controller()->trackAnalysisValues();
    ASSERT_EQ(live.size(), 2u);
    for (const auto& state : live) {
        SCOPED_TRACE(state.trackName);
        ASSERT_TRUE(state.analysis);
        EXPECT_TRUE(state.analysis->transportWasPlaying);
        EXPECT_GT(state.analysis->momentaryLufs, -100);
    }
}

// Every "/health" logs a Screen Recording check: a program left running must keep only the
// recent past of the simulated Logic Pro's log, or it grows with each request.
TEST(SimulatedHost, TheEventLogKeepsOnlyTheMostRecentEvents) {
    corvane::testing::TempHome home;
    SimulatedHost host(
        {SimulatedHost::scenarioPathFromEnvironment(), testing::freePort(), nullptr, standin::ClockMode::virtualTime});
    ASSERT_TRUE(host.controller()->start());
    standin::World& world = host.world();
    world.workspace().openURL("first");
    ASSERT_EQ(host.controller()->handle({"GET", "/health", {}, {}}).statusCode, 200);
    ASSERT_FALSE(world.events(standin::EventKind::permissionCheck).empty());
    // The checks the health answers make, without the rest of each answer's work.
    for (std::size_t i = 0; i < SimulatedHost::kEventLogLimit; ++i) world.screenCapture().preflightScreenRecording();
    world.workspace().openURL("last");

    const auto log = world.eventLog();
    EXPECT_EQ(log.size(), SimulatedHost::kEventLogLimit);
    EXPECT_EQ(log.back().name, "last");
    EXPECT_TRUE(std::none_of(log.begin(), log.end(), [](const standin::Event& e) { return e.name == "first"; }));

    // Tests read the whole log: a world made without a limit keeps everything.
    const auto whole = standin::World::fromFile(SimulatedHost::scenarioPathFromEnvironment());
    for (std::size_t i = 0; i < SimulatedHost::kEventLogLimit + 1; ++i) whole->workspace().openURL("x");
    EXPECT_EQ(whole->eventLog().size(), SimulatedHost::kEventLogLimit + 1);
}

}  // namespace
}  // namespace corvane::app
