#pragma once

// The chat backend as the client sees it, scripted by the test: each request gets the next
// scripted answer at once, or waits at a gate the test opens. Header-only: the test executables
// that use it already link networking and the plain data types.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "http/http_client.h"
#include "model/chat_model.h"

namespace corvane::testing {

// A door a backend request or a tool waits at until the test opens it; nothing is timed.
class Gate {
public:
    Gate() = default;
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;
    // A test that failed before opening its gate lets the waiter go and ends, rather than hanging
    // until the runner's time-out with the failure unreported.
    ~Gate() {
        std::unique_lock lock(mutex_);
        open_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return waiting_ == 0; });
    }
    // Waits until the gate opens; a stop that comes first ends the wait and gives false.
    bool arrive(std::stop_token stop = {}) {
        std::unique_lock lock(mutex_);
        arrived_ = true;
        ++waiting_;
        changed_.notify_all();
        const bool opened = changed_.wait(lock, stop, [this] { return open_; });
        --waiting_;
        changed_.notify_all();
        return opened;
    }
    void waitForArrival() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return arrived_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool arrived_ = false;
    bool open_ = false;
    int waiting_ = 0;
};

// A request held at `gate`: a stop that comes first cancels it as the network would; once opened
// the backend answers with an error, so a turn that was not stopped still ends.
inline http::HTTPClientResponse holdAt(Gate& gate, std::stop_token stop) {
    if (!gate.arrive(stop)) throw http::TransportError("cancelled");
    return {500, R"({"error":"released"})"};
}

class ScriptedChatBackend final : public http::HTTPTransport {
public:
    using Step = std::function<http::HTTPClientResponse(const nlohmann::json& body, std::stop_token stop)>;
    struct Sent {
        std::string url;
        nlohmann::json body;  // discarded when the request's body was not JSON
    };

    void push(Step step) {
        std::lock_guard lock(mutex_);
        steps_.push_back(std::move(step));
    }
    void reply(nlohmann::json body) {
        push([text = body.dump()](const nlohmann::json&, std::stop_token) {
            return http::HTTPClientResponse{200, text};
        });
    }
    void status(int code, std::string body = "{}") {
        push([code, body = std::move(body)](const nlohmann::json&, std::stop_token) {
            return http::HTTPClientResponse{code, body};
        });
    }
    // The answer waits for the gate even past a stop, so it arrives after the turn was stopped.
    void replyAfter(Gate& gate, nlohmann::json body) {
        push([&gate, text = body.dump()](const nlohmann::json&, std::stop_token) {
            gate.arrive();
            return http::HTTPClientResponse{200, text};
        });
    }
    void hold(Gate& gate) {
        push([&gate](const nlohmann::json&, std::stop_token stop) { return holdAt(gate, stop); });
    }

    http::HTTPClientResponse send(const http::HTTPClientRequest& request, std::stop_token stop) override {
        Step step;
        nlohmann::json body;
        {
            std::lock_guard lock(mutex_);
            body = nlohmann::json::parse(request.body.value_or("{}"), nullptr, false);
            requests_.push_back({request.url, body});
            if (steps_.empty()) return {500, R"({"error":"script exhausted"})"};
            step = std::move(steps_.front());
            steps_.pop_front();
        }
        return step(body, stop);
    }
    std::vector<Sent> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    mutable std::mutex mutex_;
    std::deque<Step> steps_;
    std::vector<Sent> requests_;
};

inline nlohmann::json callsReply(const std::vector<AgentToolCall>& calls) {
    static std::atomic<int> next = 0;
    nlohmann::json output = nlohmann::json::array();
    for (const auto& c : calls)
        output.push_back(
            {{"type", "function_call"}, {"call_id", c.callID}, {"name", c.name}, {"arguments", c.argumentsJSON}});
    return {{"id", "resp_" + std::to_string(++next)}, {"output", output}};
}
inline nlohmann::json respondReply(const std::string& prose) {
    return callsReply({{"call_respond", "respond", nlohmann::json{{"prose", prose}}.dump()}});
}
inline nlohmann::json textReply(const std::string& text) {
    nlohmann::json content = nlohmann::json::array({{{"type", "output_text"}, {"text", text}}});
    return {{"id", "resp_text"}, {"output", nlohmann::json::array({{{"type", "message"}, {"content", content}}})}};
}
inline nlohmann::json emptyReply() { return {{"id", "resp_empty"}, {"output", nlohmann::json::array()}}; }

}  // namespace corvane::testing
