#include "widgets/qt_main_queue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <memory>

namespace corvane {

QtMainQueue::QtMainQueue() : context_(new QObject) {}

QtMainQueue::~QtMainQueue() { delete context_; }

void QtMainQueue::async(std::function<void()> work) {
    QMetaObject::invokeMethod(
        context_, [work = std::move(work)] { work(); }, Qt::QueuedConnection);
}

void QtMainQueue::sync(const std::function<void()>& work) {
    if (isMainThread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(
        context_, [&work] { work(); }, Qt::BlockingQueuedConnection);
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
