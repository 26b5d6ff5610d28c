#include "widgets/qt_main_queue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <future>
#include <memory>

namespace corvane {

// A timer of the UI thread: a queued call of its start() slot, which Qt builds and frees in its own
// library, wakes the UI thread. Nothing our code makes on the posting thread is read through Qt's
// queue (nor by an event filter of the application): the race detector sees only our mutex.
QtMainQueue::QtMainQueue() : context_(nullptr) {
    auto* wake = new QTimer;
    wake->setObjectName(QStringLiteral("Corvane.MainQueue"));
    wake->setSingleShot(true);
    wake->setInterval(0);
    QObject::connect(wake, &QTimer::timeout, wake, [this] { runPosted(); });
    context_ = wake;
}

QtMainQueue::~QtMainQueue() {
    delete context_;
    std::deque<std::function<void()>> unrun;
    {
        std::lock_guard lock(mutex_);
        unrun.swap(posted_);
    }
    // Dropped outside the lock: a sync caller waiting on one of them returns now.
}

void QtMainQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(work));
    }
    QMetaObject::invokeMethod(context_, "start", Qt::QueuedConnection);
}

// Runs what was posted before the wake-up; what the work posts wakes the timer again, so the rest
// of the event loop gets its turn in between.
void QtMainQueue::runPosted() {
    size_t count = 0;
    {
        std::lock_guard lock(mutex_);
        count = posted_.size();
    }
    for (; count > 0; --count) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (posted_.empty()) return;  // a nested event loop in a work ran the rest
            work = std::move(posted_.front());
            posted_.pop_front();
        }
        work();
    }
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
