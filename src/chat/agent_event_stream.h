#pragma once

// The events of one chat turn, from the turn's thread to whoever shows them (the window, the test
// harness). Unbounded: the turn never waits for its consumer, and nothing is dropped.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <vector>

#include "model/chat_model.h"

namespace corvane {

class AgentEventStream {
public:
    // Events after finish() are dropped: a stream ends exactly once.
    void yield(AgentEvent event);
    void finish();

    // Blocks until the next event; absent once the stream has ended and every event was taken.
    std::optional<AgentEvent> next();
    // The next event if one is waiting; never blocks.
    std::optional<AgentEvent> tryNext();
    // Blocks until the stream ends and gives every event not yet taken.
    std::vector<AgentEvent> collect();
    bool finished() const;

    // Stops the turn this stream belongs to, and no other; does nothing once the turn has ended.
    void stop();

private:
    friend class ChatOrchestrator;
    void bindStop(std::stop_source source);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<AgentEvent> events_;
    bool finished_ = false;
    std::optional<std::stop_source> stop_;
};

}  // namespace corvane
