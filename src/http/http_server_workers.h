#pragma once

// The server's handlers (private to http_server.cpp): at most a fixed number run at once on a
// pool of threads that grows on demand and keeps them; short ones run on the caller's own thread
// beside them (handing a short handler to another thread costs more than running it), also when
// every worker is taken, so that they never queue behind handlers that wait.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace corvane::http::detail {

class RequestWorkers {
public:
    // At most `maxRunning` handlers at once on workers, and at most `maxHere` on callers' threads.
    RequestWorkers(std::size_t maxRunning, std::size_t maxHere) : maxRunning_(maxRunning), maxHere_(maxHere) {}
    ~RequestWorkers() { shutdown(); }
    RequestWorkers(const RequestWorkers&) = delete;
    RequestWorkers& operator=(const RequestWorkers&) = delete;

    // Runs the job on this thread when it may; false (and nothing done) otherwise.
    template <class Job>
    bool tryRunHere(Job& job) {
        {
            std::lock_guard lock(mutex_);
            if (here_ >= maxHere_) return false;
            ++here_;
        }
        job();
        std::lock_guard lock(mutex_);
        --here_;
        return true;
    }

    void post(std::function<void()> job) {
        std::unique_lock lock(mutex_);
        jobs_.push_back(std::move(job));
        if (jobs_.size() > idle_ && threads_.size() < maxRunning_) {
            try {
                threads_.emplace_back([this] { run(); });
                return;
            } catch (const std::system_error&) {
                if (threads_.empty()) {  // no thread at all could run it: run it here
                    auto inlineJob = std::move(jobs_.back());
                    jobs_.pop_back();
                    lock.unlock();
                    inlineJob();
                    return;
                }
            }
        }
        wakeOneIfRunnable(lock);
    }

    // Lets the jobs already posted finish, then joins every thread.
    void shutdown() {
        std::vector<std::jthread> threads;
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            threads.swap(threads_);
        }
        wake_.notify_all();
        threads.clear();  // joins
    }

private:
    bool runnable() const { return !jobs_.empty() && running_ < maxRunning_; }

    void wakeOneIfRunnable(std::unique_lock<std::mutex>& lock) {
        const bool wake = runnable() && idle_ > 0;
        lock.unlock();
        if (wake) wake_.notify_one();
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            wake_.wait(lock, [&] { return runnable() || (stopping_ && jobs_.empty()); });
            --idle_;
            if (!runnable()) return;
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            ++running_;
            lock.unlock();
            job();
            lock.lock();
            --running_;
        }
    }

    const std::size_t maxRunning_;
    const std::size_t maxHere_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::size_t idle_ = 0;
    std::size_t running_ = 0;
    std::size_t here_ = 0;
    bool stopping_ = false;
    std::vector<std::jthread> threads_;
};

}  // namespace corvane::http::detail
