#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>

namespace corvane::platform {

// A named serial queue: work runs one item at a time, in submission order, on the queue's
// own thread. sync() from inside the queue runs the work directly instead of deadlocking.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const std::string& label() const { return label_; }
    bool isCurrent() const;

    void async(std::function<void()> work);

    template <class F>
    auto sync(F&& work) -> std::invoke_result_t<F> {
        using R = std::invoke_result_t<F>;
        if (isCurrent()) return work();
        if constexpr (std::is_void_v<R>) {
            runSync([&] { work(); });
        } else {
            std::optional<R> result;
            runSync([&] { result.emplace(work()); });
            return std::move(*result);
        }
    }

    // Waits until everything submitted so far has run.
    void drain();

private:
    void runSync(const std::function<void()>& work);
    void loop(std::stop_token stop);

    std::string label_;
    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    std::deque<std::function<void()>> items_;
    std::jthread thread_;
};

}  // namespace corvane::platform
