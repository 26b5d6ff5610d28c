#pragma once

#include <memory>

#include "platform/main_queue.h"
#include "platform/serial_queue.h"

namespace corvane::platform {

// A main queue on a thread of its own: the stand-in for the UI thread where no window runs
// (tests, the headless flags).
class ThreadMainQueue final : public MainQueue {
public:
    ThreadMainQueue() : queue_("main") {}
    void async(std::function<void()> work) override { queue_.async(std::move(work)); }
    void sync(const std::function<void()>& work) override { queue_.sync(work); }
    bool isMainThread() const override { return queue_.isCurrent(); }
    // Waits until every item posted so far has run.
    void drain() { queue_.drain(); }

private:
    SerialQueue queue_;
};

}  // namespace corvane::platform
