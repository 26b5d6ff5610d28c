#include "platform/manual_main_queue.h"

#include <algorithm>
#include <optional>

#include "platform/platform.h"

namespace corvane::platform {

ManualMainQueue::ManualMainQueue(Clock* clock) : clock_(clock), owner_(std::this_thread::get_id()) {}

Clock& ManualMainQueue::clock() const { return clock_ ? *clock_ : platform::clock(); }

void ManualMainQueue::async(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    work_.push_back(std::move(work));
    posted_.notify_all();
}

void ManualMainQueue::sync(const std::function<void()>& work) {
    if (isMainThread()) {
        work();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    async([&] {
        work();
        std::lock_guard lock(doneMutex);
        done = true;
        doneChanged.notify_all();
    });
    std::unique_lock lock(doneMutex);
    doneChanged.wait(lock, [&] { return done; });
}

bool ManualMainQueue::isMainThread() const { return std::this_thread::get_id() == owner_; }

MainTimers::Handle ManualMainQueue::schedule(std::chrono::duration<double> interval, bool repeats,
                                             std::function<void()> work) {
    auto timer = std::make_shared<Timer>(Timer{std::move(work)});
    const auto step = std::max(std::chrono::duration_cast<Duration>(interval), Duration{1});
    const auto due = clock().now() + step;  // read outside the lock: a stand-in clock takes its own
    std::lock_guard lock(mutex_);
    timers_.push_back(Scheduled{timer, due, step, repeats, nextOrder_++});
    return timer;
}

std::optional<std::function<void()>> ManualMainQueue::takeWork() {
    std::lock_guard lock(mutex_);
    if (work_.empty()) return std::nullopt;
    auto work = std::move(work_.front());
    work_.pop_front();
    return work;
}

std::size_t ManualMainQueue::drain() {
    std::size_t ran = 0;
    while (auto work = takeWork()) {
        (*work)();
        ++ran;
        ++executed_;
    }
    return ran;
}

bool ManualMainQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        drain();
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        // Short waits: `done` may turn on another thread's state, which posts nothing.
        std::unique_lock lock(mutex_);
        posted_.wait_for(lock, std::chrono::milliseconds(2), [this] { return !work_.empty(); });
    }
}

bool ManualMainQueue::fireDueTimer(Clock::TimePoint until) {
    std::unique_lock lock(mutex_);
    std::erase_if(timers_, [](const Scheduled& s) { return s.timer.expired(); });
    auto earliest = std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
        return a.due != b.due ? a.due < b.due : a.order < b.order;
    });
    if (earliest == timers_.end() || earliest->due > until) return false;
    auto timer = earliest->timer.lock();
    const auto due = earliest->due;
    if (earliest->repeats) {
        earliest->due += earliest->interval;
    } else {
        timers_.erase(earliest);
    }
    lock.unlock();
    // Moved outside the lock: a stand-in clock runs its own events on the way.
    const auto now = clock().now();
    if (due > now) clock().sleep(due - now);
    if (timer) timer->work();
    return true;
}

void ManualMainQueue::advance(double seconds) {
    const auto until = clock().now() + std::chrono::duration_cast<Duration>(std::chrono::duration<double>(seconds));
    drain();
    while (fireDueTimer(until)) drain();
    const auto now = clock().now();
    if (until > now) clock().sleep(until - now);
    drain();
}

std::size_t ManualMainQueue::activeTimers() {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(
        std::count_if(timers_.begin(), timers_.end(), [](const Scheduled& s) { return !s.timer.expired(); }));
}

}  // namespace corvane::platform
