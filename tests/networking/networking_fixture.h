#pragma once

// A transport that forwards to libcurl and lets a test step in before each request.

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http/http_client.h"

namespace corvane::testing {

class HookedTransport final : public http::HTTPTransport {
public:
    std::function<void(const http::HTTPClientRequest&)> before;
    // When it gives an answer, that answer comes back instead of the real one (nothing is sent).
    std::function<std::optional<http::HTTPClientResponse>(const http::HTTPClientRequest&)> instead;
    std::atomic<int> calls{0};
    std::atomic<int> refreshCalls{0};
    bool forwards = true;  // false: answer 200 "{}" without sending
    // Every request is held, unanswered, until its caller stops it (then it fails as cancelled)
    // or the test lets go: a service that never answers, with no time-out to end the wait.
    std::atomic<bool> holds{false};
    // Holds, as above, only the requests it answers true for (set while no request is out).
    std::function<bool(const http::HTTPClientRequest&)> holdsIf;
    void letGo() {
        {
            std::lock_guard lock(mutex_);
            lettingGo_ = true;
        }
        heldChanged_.notify_all();
    }

    http::HTTPClientResponse send(const http::HTTPClientRequest& request, std::stop_token stop) override {
        ++calls;
        if (request.url.find("grant_type=refresh_token") != std::string::npos) ++refreshCalls;
        {
            std::lock_guard lock(mutex_);
            sent_.push_back(request);
        }
        if (before) before(request);
        if (holds || (holdsIf && holdsIf(request))) {
            std::unique_lock lock(mutex_);
            heldChanged_.wait(lock, stop, [&] { return lettingGo_; });
            throw http::TransportError("the request was cancelled");
        }
        if (instead) {
            if (auto answer = instead(request)) return *answer;
        }
        if (!forwards) return {200, "{}"};
        return real_.send(request, stop);
    }
    std::vector<http::HTTPClientRequest> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }

private:
    http::CurlTransport real_;
    mutable std::mutex mutex_;
    std::condition_variable_any heldChanged_;
    bool lettingGo_ = false;
    std::vector<http::HTTPClientRequest> sent_;
};

// The text of what `action` throws, or "no error".
inline std::string describe(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

}  // namespace corvane::testing
