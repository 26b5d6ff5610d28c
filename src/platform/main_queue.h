#pragma once

#include <functional>

namespace corvane::platform {

// The UI thread's queue: the window's event loop in the application, a plain run loop in tests.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual void async(std::function<void()> work) = 0;
    // Runs the work on the main thread and returns when it is done; runs it directly when
    // already on the main thread.
    virtual void sync(const std::function<void()>& work) = 0;
    virtual bool isMainThread() const = 0;
};

}  // namespace corvane::platform
