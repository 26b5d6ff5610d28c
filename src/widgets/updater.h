#pragma once

// "Check for Updates…": the menu item and the About panel call checkForUpdates(). On Linux the
// feed is read off the UI thread and the answer shown in a message box; nothing is downloaded.

#include <QObject>
#include <functional>
#include <mutex>
#include <thread>

#include "networking/update_check.h"
#include "platform/lifetime.h"
#include "platform/main_queue.h"
#include "platform/main_timers.h"

namespace corvane {

class Updater {
public:
    virtual ~Updater() = default;
    virtual void checkForUpdates() = 0;
};

class FeedUpdater final : public Updater {
public:
    using Presenter = std::function<void(const networking::UpdateCheckMessage& message, bool isError)>;
    static constexpr double kScheduledCheckInterval = 86400;  // seconds

    // Null presenter: a message box.
    FeedUpdater(networking::UpdateChecker checker, platform::MainQueue& mainQueue, Presenter present = nullptr);
    // Stops a check in progress and waits for it.
    ~FeedUpdater() override;

    // Starts the scheduled checks, which speak up only when a newer version exists.
    void start(platform::MainTimers& timers);
    // A check the user asked for: its answer is always shown. A second request while one runs is
    // folded into it.
    void checkForUpdates() override;
    bool isChecking() const;

private:
    void run(bool userInitiated);

    networking::UpdateChecker checker_;
    platform::MainQueue& mainQueue_;
    Presenter present_;
    platform::Lifetime lifetime_;  // the UI thread's view of this object's life
    platform::MainTimers::Handle schedule_;
    mutable std::mutex mutex_;
    bool checking_ = false;
    bool userWaiting_ = false;
    std::jthread worker_;
};

}  // namespace corvane
