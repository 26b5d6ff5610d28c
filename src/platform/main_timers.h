#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace corvane::platform {

// Timers on the UI thread: the window's event loop in the application, a queue moved by hand in
// tests (ManualMainQueue), so that what they time runs in the platform clock's virtual time.
class MainTimers {
public:
    // Dropping the handle cancels the timer; a callback already running finishes.
    using Handle = std::shared_ptr<void>;

    virtual ~MainTimers() = default;
    // Runs `work` on the main queue once `interval` has passed, and again after each further
    // interval when `repeats`. Call from the main thread.
    virtual Handle schedule(std::chrono::duration<double> interval, bool repeats, std::function<void()> work) = 0;
};

}  // namespace corvane::platform
