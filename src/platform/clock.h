#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <utility>

namespace corvane::platform {

// Every fixed sleep and poll of the program goes through this, so that tests on the
// simulated Logic Pro run in virtual time while keeping the order of events.
class Clock {
public:
    using TimePoint = std::chrono::system_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
    virtual void sleep(std::chrono::duration<double> duration) = 0;
    // The same sleep, ended early once `stop` is requested; false when it was. A clock that knows
    // no better sleeps in short slices.
    virtual bool sleepUnlessStopped(std::chrono::duration<double> duration, std::stop_token stop);
    // Until the clock reaches `due`; false when `stop` ended the wait first. A clock that knows no
    // better is looked at in short slices, so that one moved by hand is heard too; one that keeps
    // its waiters wakes them itself.
    virtual bool waitUntil(TimePoint due, std::stop_token stop);

    // Whoever keeps deadlines on this clock (the loopback server's connections) learns here when
    // a clock moved by hand jumps: such a clock reaches a moment without that time passing, so a
    // keeper waiting in real time would be late. `moved` runs on the mover's thread after each
    // move and must neither move the clock nor drop a subscription; dropping the returned handle
    // ends the calls and waits for one in progress. A clock that moves by itself (the default)
    // never calls it, and its keepers simply wait.
    using Subscription = std::shared_ptr<void>;
    virtual Subscription onMoved(std::function<void()> moved) {
        (void)moved;
        return nullptr;
    }
};

// Convenience: sleep for a number of seconds on the installed clock. Within a StoppablePauses
// scope whose stop was requested it ends early and throws PauseStopped.
void pause(double seconds);

// What pause() throws to end the work it paces. Deliberately no std::exception, so that code
// catching failures of its own lets it pass.
struct PauseStopped {};

// Makes the pauses of this thread end the work they pace once `stop` is requested: the work ends
// at its next pause (or in the middle of the one it is in) instead of running on to its end.
// Never while this thread holds a key or mouse button down in another application, nor while an
// exception already unwinds: such a pause runs its length, and the next one stops.
class StoppablePauses {
public:
    explicit StoppablePauses(std::stop_token stop);
    ~StoppablePauses();
    StoppablePauses(const StoppablePauses&) = delete;
    StoppablePauses& operator=(const StoppablePauses&) = delete;

    // Synthetic input events, Accessibility writes and actions sent from this thread since the
    // scope opened: whether the stopped work may have changed anything.
    std::size_t changesSent() const;

private:
    friend void pause(double seconds);
    friend bool stopRequested();
    std::stop_token stop_;
    const StoppablePauses* outer_;
    std::size_t changesAtStart_;
};

// Whether the work this thread's pauses pace was asked to stop (never outside a StoppablePauses
// scope): for a step that a Stop makes needless, such as the wait before a cursor goes home.
bool stopRequested();

// Keeps this thread's pauses running their length while it lives, within a StoppablePauses scope
// too: for steps that must not be split, such as a value stepped away and back again. The next
// pause after it ends the work.
class HeldPauses {
public:
    HeldPauses();
    // The same, except that once the stop is requested each pause (the one under way included)
    // lasts at most `atMostOnceStopped` seconds: the steps are still all taken, only quicker.
    explicit HeldPauses(double atMostOnceStopped);
    ~HeldPauses();
    HeldPauses(const HeldPauses&) = delete;
    HeldPauses& operator=(const HeldPauses&) = delete;

private:
    double outerHurry_;
};

// The subscribers of a clock moved by hand: its onMoved() subscribes here, each move notifies.
class ClockMoves {
public:
    Clock::Subscription subscribe(std::function<void()> moved) {
        std::lock_guard lock(state_->mutex);
        const auto id = state_->nextId++;
        state_->subscribers.emplace(id, std::move(moved));
        return Clock::Subscription(nullptr, [state = state_, id](void*) {
            std::lock_guard dropLock(state->mutex);
            state->subscribers.erase(id);
        });
    }

    void notify() {
        std::lock_guard lock(state_->mutex);  // held while calling: a drop waits for the call
        for (auto& subscriber : state_->subscribers) subscriber.second();
    }

private:
    struct State {
        std::mutex mutex;
        std::uint64_t nextId = 0;
        std::map<std::uint64_t, std::function<void()>> subscribers;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace corvane::platform
