// The simulated plug-in's own loopback client against a port nobody listens on.

#include "platform/loopback_post.h"

#include <gtest/gtest.h>

#include "test_support/free_port.h"

namespace corvane::platform {
namespace {

using namespace std::chrono_literals;

// A post to a closed port from that same port (as the system picks a source port now and then)
// was connected to itself and read its own request back until its time-out.
TEST(LoopbackPost, APostToAClosedPortIsRefusedEvenWhenItWouldConnectToItself) {
    const corvane::testing::ClosedPort closed;
    for (const std::uint16_t from : {std::uint16_t(0), closed.port()}) {
        const auto result = postToLoopback(closed.port(), "/analysis", "application/json", "{}", 2s, from);
        EXPECT_FALSE(result.delivered) << from;
        EXPECT_EQ(result.error, "connection refused") << from;
    }
}

}  // namespace
}  // namespace corvane::platform
