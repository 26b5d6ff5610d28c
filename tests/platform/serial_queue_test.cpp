#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/serial_queue.h"

namespace corvane::platform {
namespace {

TEST(SerialQueue, RunsWorkInSubmissionOrderOneAtATime) {
    SerialQueue queue("Corvane.Test");
    std::vector<int> order;
    std::atomic<int> running{0};
    bool overlapped = false;
    std::vector<std::jthread> producers;
    for (int t = 0; t < 4; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                queue.sync([&] {
                    if (running.fetch_add(1) != 0) overlapped = true;
                    order.push_back(t * 100 + i);
                    running.fetch_sub(1);
                });
            }
        });
    }
    producers.clear();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(order.size(), 200u);

    std::vector<int> asyncOrder;
    for (int i = 0; i < 20; ++i) queue.async([&, i] { asyncOrder.push_back(i); });
    queue.drain();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(asyncOrder[i], i);
}

TEST(SerialQueue, SyncFromInsideTheQueueDoesNotDeadlockAndReturnsValues) {
    SerialQueue queue("Corvane.Test");
    int value = queue.sync([&] { return queue.sync([] { return 41; }) + 1; });
    EXPECT_EQ(value, 42);
    EXPECT_THROW(queue.sync([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
    EXPECT_EQ(queue.sync([] { return 7; }), 7);  // still alive after an exception
}

}  // namespace
}  // namespace corvane::platform
