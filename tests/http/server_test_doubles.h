#pragma once

// Test doubles for the server tests: a clock moved by hand, a gate that holds handlers, and a
// recorder of what the handler saw.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "http/http_message.h"
#include "platform/clock.h"
#include "test_support/hang_guard.h"
#include "test_support/manual_clock.h"

namespace corvane::http::testing {

using namespace std::chrono_literals;

// How long a test waits for something that should happen at once before calling it a hang.
constexpr auto kPatience = corvane::testing::kHangGuard;

// A manual clock that tells the server when it is moved, as a clock moved by hand must.
class SteppedClock final : public platform::Clock {
public:
    TimePoint now() override { return clock_.now(); }
    void sleep(std::chrono::duration<double> duration) override {
        clock_.sleep(duration);
        moves_.notify();
    }
    Subscription onMoved(std::function<void()> moved) override { return moves_.subscribe(std::move(moved)); }
    void advance(std::chrono::milliseconds by) { sleep(by); }

private:
    corvane::testing::ManualClock clock_;
    platform::ClockMoves moves_;
};

// Holds handlers until the test lets them pass, and lets the test wait for them to arrive.
// Every wait is bounded, so a fault fails an expectation instead of hanging the suite.
class Gate {
public:
    void pass() {
        std::unique_lock lock(mutex_);
        ++arrived_;
        changed_.notify_all();
        if (changed_.wait_for(lock, kPatience, [&] { return passes_ > 0; })) --passes_;
    }
    bool awaitArrivals(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return arrived_ >= count; });
    }
    void allow(int count = 1'000'000) {
        std::lock_guard lock(mutex_);
        passes_ += count;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int arrived_ = 0;
    int passes_ = 0;
};

// Records every request the handler receives and how many ran at once.
struct Recorder {
    std::mutex mutex;
    std::vector<HTTPRequest> requests;
    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};

    void enter(const HTTPRequest& request) {
        {
            std::lock_guard lock(mutex);
            requests.push_back(request);
        }
        const int now = ++running;
        int seen = mostAtOnce.load();
        while (now > seen && !mostAtOnce.compare_exchange_weak(seen, now)) {
        }
    }
    void leave() { --running; }
    std::vector<HTTPRequest> all() {
        std::lock_guard lock(mutex);
        return requests;
    }
    std::size_t count() {
        std::lock_guard lock(mutex);
        return requests.size();
    }
};

}  // namespace corvane::http::testing
