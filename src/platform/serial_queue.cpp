#include "platform/serial_queue.h"

#include <future>

namespace corvane::platform {

namespace {
thread_local const SerialQueue* tCurrentQueue = nullptr;
}

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), thread_([this](std::stop_token stop) { loop(stop); }) {}

SerialQueue::~SerialQueue() {
    drain();
    thread_.request_stop();
    wake_.notify_all();
}

bool SerialQueue::isCurrent() const { return tCurrentQueue == this; }

void SerialQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        items_.push_back(std::move(work));
    }
    wake_.notify_one();
}

void SerialQueue::runSync(const std::function<void()>& work) {
    std::promise<void> done;
    auto finished = done.get_future();
    async([&] {
        try {
            work();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    finished.get();
}

void SerialQueue::drain() {
    if (isCurrent()) return;
    runSync([] {});
}

void SerialQueue::loop(std::stop_token stop) {
    tCurrentQueue = this;
    for (;;) {
        std::function<void()> item;
        {
            std::unique_lock lock(mutex_);
            if (!wake_.wait(lock, stop, [&] { return !items_.empty(); })) return;
            item = std::move(items_.front());
            items_.pop_front();
        }
        item();
    }
}

}  // namespace corvane::platform
