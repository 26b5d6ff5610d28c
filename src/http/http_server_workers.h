#pragma once

// The server's handlers (private to the server's sources): at most a fixed number run at once on
// a pool of threads that grows on demand and keeps them; short ones run on the caller's own
// thread beside them (handing a short handler to another thread costs more than running it), also
// when every worker is taken, so that they never queue behind handlers that wait. Jobs wait in
// lanes, each within its own bounds (the one prompt lane without a key: the workers' alone); slow
// lanes together also within a share of the workers, so that no flood of slow routes holds the
// workers that the others need. A job still waiting can be dropped (its client went).

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvane::http::detail {

class RequestWorkers {
public:
    struct Bounds {
        std::size_t maxRunning = 64;      // handlers on workers at once
        std::size_t maxHere = 1;          // handlers on callers' threads at once
        std::size_t maxSlowRunning = 32;  // of maxRunning, the slow lanes' together
        std::size_t maxSlowWaiting = 32;  // the slow lanes' waiting together
        std::size_t maxWaiting = 512;     // every lane's waiting together
    };
    struct Lane {
        bool prompt = false;
        std::string key;
        std::size_t maxRunning = 1;
        std::size_t maxWaiting = 0;
    };
    // A job posted; `taken` once a worker runs it (read by the poster without the lock).
    class Ticket {
    public:
        bool taken() const { return taken_.load(std::memory_order_acquire); }

    private:
        friend class RequestWorkers;
        Ticket(Lane lane, std::function<void()> job) : lane_(std::move(lane)), job_(std::move(job)) {}
        Lane lane_;
        std::function<void()> job_;
        std::atomic<bool> taken_{false};
        bool dropped_ = false;  // under the workers' lock
    };

    // Handlers on workers since the last burst ended, for a burst to count as one.
    static constexpr std::size_t kBurstJobs = 16;

    // `afterBurst` runs on the worker whose job ends a burst: kBurstJobs or more since the last,
    // and none running or waiting now.
    RequestWorkers(Bounds bounds, std::function<void()> afterBurst)
        : bounds_(bounds), afterBurst_(std::move(afterBurst)) {}
    ~RequestWorkers() { shutdown(); }
    RequestWorkers(const RequestWorkers&) = delete;
    RequestWorkers& operator=(const RequestWorkers&) = delete;

    // Runs the job on this thread when it may; false (and nothing done) otherwise.
    template <class Job>
    bool tryRunHere(Job& job) {
        {
            std::lock_guard lock(mutex_);
            if (here_ >= bounds_.maxHere) return false;
            ++here_;
        }
        job();
        std::lock_guard lock(mutex_);
        --here_;
        return true;
    }

    // The job, waiting in its lane for a worker; none (and the job dropped) when the lane or the
    // waiting in all are full. `waits`: no worker was free for it as it came.
    std::shared_ptr<Ticket> post(Lane lane, std::function<void()> job, bool& waits) {
        // A prompt lane with no key of its own is every prompt job's: bounded by the workers alone.
        if (lane.prompt && lane.key.empty()) {
            lane.maxRunning = bounds_.maxRunning;
            lane.maxWaiting = bounds_.maxWaiting;
        }
        lane.key.insert(0, lane.prompt ? "prompt " : "slow ");
        std::unique_lock lock(mutex_);
        auto& counts = lanes_[lane.key];
        const bool full = counts.running + counts.waiting >= lane.maxRunning + lane.maxWaiting;
        if (full || waiting_ >= bounds_.maxWaiting || (!lane.prompt && slowWaiting_ >= bounds_.maxSlowWaiting)) {
            if (counts.running == 0 && counts.waiting == 0) lanes_.erase(lane.key);
            lock.unlock();
            return nullptr;
        }
        ++counts.waiting;
        ++waiting_;
        if (!lane.prompt) ++slowWaiting_;
        auto ticket = std::shared_ptr<Ticket>(new Ticket(std::move(lane), std::move(job)));
        jobs_.push_back(ticket);
        // It waits when its lane (or the slow lanes' share, or every worker) is taken, counting the
        // jobs ahead that will run first; a job merely behind others that start now does not.
        const auto ahead = std::count_if(jobs_.begin(), std::prev(jobs_.end()),
                                         [&](const auto& other) { return runnable(*other); });
        waits = !runnable(*ticket) || running_ + std::size_t(ahead) >= bounds_.maxRunning;
        // A worker woken for an earlier job still counts as idle until it takes it: a thread is
        // started whenever the jobs that could start now outnumber the workers free to take them.
        if (threads_.size() < bounds_.maxRunning && startable() > idle_) {
            try {
                threads_.emplace_back([this] { run(); });
                return ticket;
            } catch (const std::system_error&) {
                if (threads_.empty()) {  // no thread at all could run it: run it here
                    jobs_.pop_back();
                    start(*ticket);
                    lock.unlock();
                    runTaken(ticket);
                    return ticket;
                }
            }
        }
        const bool wake = idle_ > 0 && nextRunnable() != jobs_.end();
        lock.unlock();
        if (wake) wake_.notify_one();
        return ticket;
    }

    // True when the job was still waiting: it never runs (and is destroyed here). False when a
    // worker has taken it.
    bool drop(const std::shared_ptr<Ticket>& ticket) {
        std::function<void()> job;
        {
            std::lock_guard lock(mutex_);
            if (ticket->taken() || ticket->dropped_) return false;
            ticket->dropped_ = true;
            std::erase(jobs_, ticket);
            leaveWaiting(*ticket);
            job = std::move(ticket->job_);
        }
        return true;
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
    struct Counts {
        std::size_t running = 0;
        std::size_t waiting = 0;
    };

    bool runnable(const Ticket& ticket) const {
        if (running_ >= bounds_.maxRunning) return false;
        if (!ticket.lane_.prompt && slowRunning_ >= bounds_.maxSlowRunning) return false;
        return lanes_.find(ticket.lane_.key)->second.running < ticket.lane_.maxRunning;
    }

    // How many of the waiting jobs could start now, in the order posted, within every bound.
    std::size_t startable() const {
        std::unordered_map<std::string_view, std::size_t> lanes;
        std::size_t all = 0, slow = 0;
        for (const auto& ticket : jobs_) {
            if (running_ + all >= bounds_.maxRunning) break;
            const auto& lane = ticket->lane_;
            if (!lane.prompt && slowRunning_ + slow >= bounds_.maxSlowRunning) continue;
            auto& more = lanes[lane.key];
            if (lanes_.find(lane.key)->second.running + more >= lane.maxRunning) continue;
            ++more;
            ++all;
            if (!lane.prompt) ++slow;
        }
        return all;
    }

    // The first job in the order posted whose lane has a worker for it.
    std::deque<std::shared_ptr<Ticket>>::iterator nextRunnable() {
        if (running_ >= bounds_.maxRunning) return jobs_.end();
        return std::find_if(jobs_.begin(), jobs_.end(), [&](const auto& ticket) { return runnable(*ticket); });
    }

    void leaveWaiting(const Ticket& ticket) {
        --waiting_;
        if (!ticket.lane_.prompt) --slowWaiting_;
        const auto counts = lanes_.find(ticket.lane_.key);
        --counts->second.waiting;
        if (counts->second.running == 0 && counts->second.waiting == 0) lanes_.erase(counts);
    }

    // Under the lock: the job leaves its lane's waiting for its running.
    void start(Ticket& ticket) {
        leaveWaiting(ticket);
        ++lanes_[ticket.lane_.key].running;
        ++running_;
        if (!ticket.lane_.prompt) ++slowRunning_;
        ticket.taken_.store(true, std::memory_order_release);
    }

    // Without the lock: runs the job taken, then gives its place back.
    void runTaken(const std::shared_ptr<Ticket>& ticket) {
        auto job = std::move(ticket->job_);
        job();
        job = nullptr;
        bool burstEnded = false;
        {
            std::lock_guard lock(mutex_);
            --running_;
            if (!ticket->lane_.prompt) --slowRunning_;
            const auto counts = lanes_.find(ticket->lane_.key);
            --counts->second.running;
            if (counts->second.running == 0 && counts->second.waiting == 0) lanes_.erase(counts);
            burstEnded = ++sinceBurst_ >= kBurstJobs && running_ == 0 && jobs_.empty();
            if (burstEnded) sinceBurst_ = 0;
        }
        if (burstEnded && afterBurst_) {
            try {
                afterBurst_();
            } catch (...) {
            }
        }
    }

    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ++idle_;
            auto next = jobs_.end();
            wake_.wait(lock, [&] {
                next = nextRunnable();
                return next != jobs_.end() || (stopping_ && jobs_.empty());
            });
            --idle_;
            if (next == jobs_.end()) return;
            auto ticket = std::move(*next);
            jobs_.erase(next);
            start(*ticket);
            // What this job frees may let another run; one finishing wakes the next itself.
            const bool more = idle_ > 0 && nextRunnable() != jobs_.end();
            lock.unlock();
            if (more) wake_.notify_one();
            runTaken(ticket);
            lock.lock();
        }
    }

    const Bounds bounds_;
    const std::function<void()> afterBurst_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Ticket>> jobs_;
    std::unordered_map<std::string, Counts> lanes_;  // those running or waiting
    std::size_t idle_ = 0;
    std::size_t running_ = 0;
    std::size_t slowRunning_ = 0;
    std::size_t waiting_ = 0;
    std::size_t slowWaiting_ = 0;
    std::size_t here_ = 0;
    std::size_t sinceBurst_ = 0;
    bool stopping_ = false;
    std::vector<std::jthread> threads_;
};

}  // namespace corvane::http::detail
