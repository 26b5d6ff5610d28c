#include "widgets/qt_main_queue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <future>
#include <memory>

namespace corvane {

QtMainQueue::QtMainQueue() : context_(new QObject) {}

QtMainQueue::~QtMainQueue() { delete context_; }

void QtMainQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(work));
    }
    QMetaObject::invokeMethod(
        context_, [this] { runNext(); }, Qt::QueuedConnection);
}

// Each event follows its own push, so the queue is never empty here.
void QtMainQueue::runNext() {
    std::function<void()> work;
    {
        std::lock_guard lock(mutex_);
        work = std::move(posted_.front());
        posted_.pop_front();
    }
    work();
}

void QtMainQueue::sync(const std::function<void()>& work) {
    if (isMainThread()) {
        work();
        return;
    }
    // Ready once the work has run, or once the queue is gone with it unrun (a broken promise).
    auto ran = std::make_shared<std::promise<void>>();
    std::future<void> done = ran->get_future();
    async([&work, ran = std::move(ran)] {
        work();
        ran->set_value();
    });
    done.wait();
}

bool QtMainQueue::isMainThread() const { return QThread::currentThread() == context_->thread(); }

platform::MainTimers::Handle QtMainQueue::schedule(std::chrono::duration<double> interval, bool repeats,
                                                   std::function<void()> work) {
    // The timer is owned by the handle alone; deleting it later keeps a callback in progress safe.
    auto* timer = new QTimer;
    timer->setSingleShot(!repeats);
    const double ms = std::max(0.0, interval.count() * 1000.0);
    timer->setInterval(ms > 2.0e9 ? 2000000000 : static_cast<int>(std::lround(ms)));
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, timer, [work = std::move(work)] { work(); });
    timer->start();
    return Handle(static_cast<void*>(timer), [](void* p) {
        auto* t = static_cast<QTimer*>(p);
        t->stop();
        t->deleteLater();
    });
}

}  // namespace corvane
