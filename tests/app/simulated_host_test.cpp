#include "app/simulated_host.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/standin/world.h"
#include "test_support/temp_home.h"

namespace corvane::app {
namespace {

std::uint16_t freePort() {
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
}

// Moved off the default port, the host must still hear its own analysis plug-ins: their posts
// follow it, or the window waits for analysis that went to a port nobody serves.
TEST(SimulatedHost, AnalysisPostsReachTheHostOnItsOwnPort) {
    corvane::testing::TempHome home;
    const std::uint16_t port = freePort();
    SimulatedHost host({SimulatedHost::scenarioPathFromEnvironment(), port, nullptr});
    ASSERT_TRUE(host.controller()->start());
    EXPECT_EQ(host.world().faults().analysisPort, port);

    host.world().mutateProject([](standin::Project& project) { project.transport.playing = true; });
    for (int step = 0; step < 40 && host.controller()->trackAnalysis().empty(); ++step) host.world().advance(0.25);
    EXPECT_FALSE(host.controller()->trackAnalysis().empty());
}

// A song that is loaded but not playing still has its plug-ins: they post silence, so the window
// and the agent see them (no "not detected" banner, tracks marked monitored) before playback.
TEST(SimulatedHost, AnalysisPlugInsPostSilenceWhileStoppedAndSoundWhilePlaying) {
    corvane::testing::TempHome home;
    SimulatedHost host({SimulatedHost::scenarioPathFromEnvironment(), freePort(), nullptr});
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

}  // namespace
}  // namespace corvane::app
