#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

#include "platform/main_queue.h"
#include "platform/main_timers.h"

namespace corvane {

// The main queue and its timers on Qt's event loop: work posted from any thread runs on the
// thread of the application object, in the order posted. Build it on that thread.
class QtMainQueue final : public platform::MainQueue, public platform::MainTimers {
public:
    QtMainQueue();
    ~QtMainQueue() override;
    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void async(std::function<void()> work) override;
    // From another thread: blocks until the event loop has run the work (so never call it from
    // a thread the UI thread waits for).
    void sync(const std::function<void()>& work) override;
    bool isMainThread() const override;
    Handle schedule(std::chrono::duration<double> interval, bool repeats, std::function<void()> work) override;

private:
    void runPosted();

    // A timer of the UI thread, named "Corvane.MainQueue", whose time-out runs the posted work;
    // its undelivered wake-ups die with it.
    QObject* context_;
    // The work itself crosses threads here rather than inside Qt's event, whose locks the race
    // detector cannot see (Qt is not built with it); Qt's event only says when to run it.
    std::mutex mutex_;
    std::deque<std::function<void()>> posted_;  // guarded by mutex_
};

}  // namespace corvane
