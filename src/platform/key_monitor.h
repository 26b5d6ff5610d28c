#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/input.h"

namespace corvane::platform {

// Key-down events pressed anywhere, also in other applications: the host's global key monitor.
class KeyMonitor {
public:
    using Handler = std::function<void(const KeyEvent&)>;
    using Token = std::uint64_t;

    virtual ~KeyMonitor() = default;
    // The handler is called on the thread that saw the key; it should only post its work on.
    virtual Token addGlobalMonitor(Handler handler) = 0;
    virtual void removeMonitor(Token token) = 0;
};

// A monitor fed by hand: whatever sees key presses (the simulated host's input, the window's own
// key handling) delivers them here.
class KeyEventHub final : public KeyMonitor {
public:
    Token addGlobalMonitor(Handler handler) override {
        std::lock_guard lock(mutex_);
        handlers_.emplace(next_, std::move(handler));
        return next_++;
    }
    void removeMonitor(Token token) override {
        std::lock_guard lock(mutex_);
        handlers_.erase(token);
    }
    // Key-ups are not passed on: the monitor is for key-down events only.
    void deliver(const KeyEvent& event) {
        if (!event.keyDown) return;
        std::vector<Handler> handlers;
        {
            std::lock_guard lock(mutex_);
            for (const auto& [token, handler] : handlers_) handlers.push_back(handler);
        }
        for (const auto& handler : handlers) handler(event);
    }

private:
    std::mutex mutex_;
    std::map<Token, Handler> handlers_;
    Token next_ = 1;
};

}  // namespace corvane::platform
