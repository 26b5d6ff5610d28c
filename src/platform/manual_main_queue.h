#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/main_queue.h"
#include "platform/main_timers.h"

namespace corvane::platform {

// A main queue that runs its work only when its owner asks, on the owner's thread (the thread
// that built it), with timers that fire as the clock is moved on by advance(): the UI thread of
// tests, in virtual time. Without a clock it uses the installed one at each use, so it can be
// built before the services it is part of.
class ManualMainQueue final : public MainQueue, public MainTimers {
public:
    explicit ManualMainQueue(Clock* clock = nullptr);
    ManualMainQueue(const ManualMainQueue&) = delete;
    ManualMainQueue& operator=(const ManualMainQueue&) = delete;

    void async(std::function<void()> work) override;
    // From another thread: waits until the owner has run the work.
    void sync(const std::function<void()>& work) override;
    bool isMainThread() const override;
    Handle schedule(std::chrono::duration<double> interval, bool repeats, std::function<void()> work) override;

    // Runs the work posted so far and whatever it posts in turn; answers how many items ran.
    std::size_t drain();
    // Runs posted work as it arrives until `done` holds; false when `limit` of real time passed
    // first (a wait for other threads, which moves no clock).
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Moves the clock on by `seconds`, stopping at each timer's due moment to fire it, and runs
    // the posted work on the way.
    void advance(double seconds);
    // Timers scheduled and neither cancelled nor spent.
    std::size_t activeTimers();
    // Items of work run so far.
    std::size_t executed() const { return executed_.load(); }

private:
    using Duration = std::chrono::system_clock::duration;
    struct Timer {
        std::function<void()> work;
    };
    struct Scheduled {
        std::weak_ptr<Timer> timer;
        Clock::TimePoint due;
        Duration interval;
        bool repeats = false;
        std::uint64_t order = 0;
    };
    std::optional<std::function<void()>> takeWork();
    // Fires the earliest timer due by `until`; false when none is.
    bool fireDueTimer(Clock::TimePoint until);

    Clock& clock() const;

    Clock* clock_;
    const std::thread::id owner_;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> work_;
    std::vector<Scheduled> timers_;
    std::uint64_t nextOrder_ = 0;
    std::atomic<std::size_t> executed_{0};
};

}  // namespace corvane::platform
