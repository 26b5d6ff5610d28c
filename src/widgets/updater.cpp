#include "widgets/updater.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include "widgets/widget_parts.h"

namespace corvane {

namespace {

void showMessageBox(const networking::UpdateCheckMessage& message, bool isError) {
    // On the heap: the active window (a sheet, say) may close and take its children while the
    // box waits.
    QPointer<QMessageBox> box(new QMessageBox(isError ? QMessageBox::Warning : QMessageBox::Information,
                                              QString::fromStdString(message.title),
                                              QString::fromStdString(message.title), QMessageBox::Ok,
                                              QApplication::activeWindow()));
    box->setInformativeText(QString::fromStdString(message.text));
    useWindowPalette(box);
    box->exec();
    delete box.data();
}

}  // namespace

FeedUpdater::FeedUpdater(networking::UpdateChecker checker, platform::MainQueue& mainQueue, Presenter present)
    : checker_(std::move(checker)),
      mainQueue_(mainQueue),
      present_(present ? std::move(present) : Presenter(showMessageBox)) {}

FeedUpdater::~FeedUpdater() {
    lifetime_.end();
    schedule_.reset();
    if (worker_.joinable()) {
        worker_.request_stop();
        worker_.join();
    }
}

void FeedUpdater::start(platform::MainTimers& timers) {
    schedule_ = timers.schedule(std::chrono::duration<double>(kScheduledCheckInterval), true, [this] { run(false); });
}

void FeedUpdater::checkForUpdates() { run(true); }

bool FeedUpdater::isChecking() const {
    std::lock_guard lock(mutex_);
    return checking_;
}

void FeedUpdater::run(bool userInitiated) {
    {
        std::lock_guard lock(mutex_);
        userWaiting_ = userWaiting_ || userInitiated;
        if (checking_) return;
        checking_ = true;
    }
    if (worker_.joinable()) worker_.join();  // the previous check has ended
    worker_ = std::jthread([this, alive = lifetime_.guard()](std::stop_token stop) {
        const auto result = checker_.check(stop);
        const auto message = checker_.describe(result);
        if (stop.stop_requested()) return;
        mainQueue_.async([this, alive, result, message] {
            if (!alive) return;
            bool tell = false;
            {
                std::lock_guard lock(mutex_);
                checking_ = false;
                tell = userWaiting_ || result.kind == networking::UpdateCheckResult::Kind::updateAvailable;
                userWaiting_ = false;
            }
            if (tell) present_(message, result.kind == networking::UpdateCheckResult::Kind::failed);
        });
    });
}

}  // namespace corvane
