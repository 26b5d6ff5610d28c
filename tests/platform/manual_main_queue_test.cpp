#include "platform/manual_main_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "test_support/manual_clock.h"

namespace corvane::platform {
namespace {

TEST(ManualMainQueueTest, TimersFireInClockOrderAsTheClockIsMoved) {
    testing::ManualClock clock;
    ManualMainQueue queue(&clock);
    const auto start = clock.now();
    std::vector<std::string> fired;
    auto seconds = [&] { return std::chrono::duration<double>(clock.now() - start).count(); };
    auto repeating = queue.schedule(std::chrono::duration<double>(0.5), true,
                                    [&] { fired.push_back("tick@" + std::to_string(seconds()).substr(0, 3)); });
    auto once = queue.schedule(std::chrono::duration<double>(1.2), false, [&] {
        fired.push_back("once@" + std::to_string(seconds()).substr(0, 3));
        queue.async([&] { fired.push_back("posted"); });
    });
    auto cancelled = queue.schedule(std::chrono::duration<double>(0.1), false, [&] { fired.push_back("cancelled"); });
    cancelled.reset();

    queue.advance(1.6);
    EXPECT_EQ(fired, (std::vector<std::string>{"tick@0.5", "tick@1.0", "once@1.2", "posted", "tick@1.5"}));
    EXPECT_DOUBLE_EQ(seconds(), 1.6);
    EXPECT_EQ(queue.activeTimers(), 1u);
    repeating.reset();
    queue.advance(5);
    EXPECT_EQ(fired.size(), 5u);
    EXPECT_EQ(queue.activeTimers(), 0u);
}

TEST(ManualMainQueueTest, WorkFromOtherThreadsRunsOnTheOwnersThread) {
    testing::ManualClock clock;
    ManualMainQueue queue(&clock);
    const auto owner = std::this_thread::get_id();
    bool ranOnOwner = false;
    bool synced = false;
    std::thread other([&] {
        EXPECT_FALSE(queue.isMainThread());
        queue.sync([&] { ranOnOwner = std::this_thread::get_id() == owner; });
        synced = true;
    });
    EXPECT_TRUE(queue.runUntil([&] { return ranOnOwner; }));
    other.join();
    EXPECT_TRUE(synced);
    EXPECT_TRUE(queue.isMainThread());
}

}  // namespace
}  // namespace corvane::platform
