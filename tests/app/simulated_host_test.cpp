#include "app/simulated_host.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/platform.h"
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
    SimulatedHost host({SimulatedHost::scenarioPathFromEnvironment(), freePort(), nullptr});
    ASSERT_TRUE(host.controller()->start());
    const auto now = platform::clock().now();
    const auto real = std::chrono::system_clock::now();
    EXPECT_LT(now > real ? now - real : real - now, 1s);

    host.world().mutateProject([](standin::Project& project) { project.transport.playing = true; });
    for (int step = 0; step < 40 && host.controller()->trackAnalysis().empty(); ++step)
        std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(host.controller()->trackAnalysis().empty());
}

}  // namespace
}  // namespace corvane::app
