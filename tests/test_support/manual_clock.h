#pragma once

#include <chrono>
#include <mutex>

#include "platform/clock.h"

namespace corvane::testing {

// A clock that moves only when slept on or set: sleeps cost no wall time.
class ManualClock final : public platform::Clock {
public:
    explicit ManualClock(TimePoint start = TimePoint{std::chrono::seconds{1796225040}})  // 2026-12-02T15:24:00Z
        : now_(start) {}
    TimePoint now() override {
        std::lock_guard lock(mutex_);
        return now_;
    }
    void sleep(std::chrono::duration<double> d) override {
        std::lock_guard lock(mutex_);
        if (d.count() > 0) now_ += std::chrono::duration_cast<std::chrono::system_clock::duration>(d);
    }
    void set(TimePoint t) {
        std::lock_guard lock(mutex_);
        now_ = t;
    }

private:
    std::mutex mutex_;
    TimePoint now_;
};

}  // namespace corvane::testing
