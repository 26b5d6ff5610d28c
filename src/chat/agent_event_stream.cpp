#include "chat/agent_event_stream.h"

#include <utility>

namespace corvane {

void AgentEventStream::yield(AgentEvent event) {
    {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        events_.push_back(std::move(event));
    }
    changed_.notify_all();
}

void AgentEventStream::finish() {
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        stop_.reset();  // a stop after the end must not reach a later turn's source
    }
    changed_.notify_all();
}

std::optional<AgentEvent> AgentEventStream::next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !events_.empty() || finished_; });
    if (events_.empty()) return std::nullopt;
    AgentEvent event = std::move(events_.front());
    events_.pop_front();
    return event;
}

std::optional<AgentEvent> AgentEventStream::tryNext() {
    std::lock_guard lock(mutex_);
    if (events_.empty()) return std::nullopt;
    AgentEvent event = std::move(events_.front());
    events_.pop_front();
    return event;
}

std::vector<AgentEvent> AgentEventStream::collect() {
    std::vector<AgentEvent> all;
    while (auto event = next()) all.push_back(std::move(*event));
    return all;
}

bool AgentEventStream::finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

void AgentEventStream::stop() {
    std::lock_guard lock(mutex_);
    if (stop_) stop_->request_stop();
}

void AgentEventStream::bindStop(std::stop_source source) {
    std::lock_guard lock(mutex_);
    if (!finished_) stop_ = std::move(source);
}

}  // namespace corvane
