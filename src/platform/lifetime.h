#pragma once

#include <atomic>
#include <memory>

namespace corvane::platform {

// The one lifetime guard for work handed to another thread. Its holder (an owner that is not
// itself held by a shared_ptr, or a worker thread) keeps the Lifetime; the work takes a Guard
// along and asks it before touching the holder. The holder ends the lifetime first thing in its
// destructor. Any thread may ask a guard; its answer stays true only until the holder's own
// thread ends the lifetime, so work that touches the holder asks on that thread (the main queue).
// Objects held by a shared_ptr are guarded by a weak_ptr instead.
class Lifetime {
public:
    class Guard {
    public:
        bool alive() const { return state_ && state_->load(std::memory_order_acquire); }
        explicit operator bool() const { return alive(); }

    private:
        friend class Lifetime;
        explicit Guard(std::shared_ptr<const std::atomic<bool>> state) : state_(std::move(state)) {}
        std::shared_ptr<const std::atomic<bool>> state_;
    };

    Lifetime() = default;
    ~Lifetime() { end(); }
    // A worker thread's Lifetime moves into the thread; the moved-from one ends nothing.
    Lifetime(Lifetime&&) noexcept = default;
    Lifetime& operator=(Lifetime&&) = delete;
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    Guard guard() const { return Guard(state_); }
    void end() {
        if (state_) state_->store(false, std::memory_order_release);
    }

private:
    std::shared_ptr<std::atomic<bool>> state_ = std::make_shared<std::atomic<bool>>(true);
};

}  // namespace corvane::platform
