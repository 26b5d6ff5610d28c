#pragma once

// Bounds a costly or serialised kind of work running at once, on either server: password hashes
// (64 MiB each at the interactive cost), stored reports (each waits its turn at the disk), the
// test harness (one turn at a time behind its lock) and large analysis bodies. A few more wait for
// a slot; the rest are turned away at once, so that no wait needs a time-out and the work never
// holds more than its share of the request workers. The places are shared between keys
// (accounts): one key has at most maxRunningPerKey running and maxWaitingPerKey waiting, so a
// client sending as one account over and over (signing in with its right password, which no
// failed-guess throttle counts, or reporting without a token) cannot keep the others out.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace corvane::http {

class WorkSlots {
public:
    // A slot taken; given back when dropped.
    class Lease {
    public:
        Lease(WorkSlots* slots, std::string key) : slots_(slots), key_(std::move(key)) {}
        Lease(Lease&& other) noexcept : slots_(other.slots_), key_(std::move(other.key_)) { other.slots_ = nullptr; }
        Lease& operator=(Lease&&) = delete;
        ~Lease() {
            if (slots_ != nullptr) slots_->release(key_);
        }

    private:
        WorkSlots* slots_;
        std::string key_;
    };

    WorkSlots(std::size_t count, std::size_t maxWaiting, std::size_t maxRunningPerKey = 1,
              std::size_t maxWaitingPerKey = 1)
        : count_(count),
          maxWaiting_(maxWaiting),
          maxRunningPerKey_(maxRunningPerKey),
          maxWaitingPerKey_(maxWaitingPerKey) {}

    // A slot for `key`, at once or once one is given back (and the key's others are done); none
    // when the key already has maxWaitingPerKey waiting, or when it would wait and maxWaiting
    // callers already do.
    std::optional<Lease> acquire(const std::string& key);
    // Whether acquire would turn `key` away now (a moment later it may not).
    bool wouldRefuse(const std::string& key) const;

private:
    struct Account {
        std::size_t running = 0;
        std::size_t waiting = 0;
    };

    bool free(const Account& account) const { return busy_ < count_ && account.running < maxRunningPerKey_; }
    bool refuses(const Account& account) const {
        return account.waiting >= maxWaitingPerKey_ || waiting_ >= maxWaiting_;
    }
    void release(const std::string& key);

    const std::size_t count_;
    const std::size_t maxWaiting_;
    const std::size_t maxRunningPerKey_;
    const std::size_t maxWaitingPerKey_;
    mutable std::mutex mutex_;
    std::condition_variable freed_;
    std::size_t busy_ = 0;
    std::size_t waiting_ = 0;
    std::unordered_map<std::string, Account> accounts_;  // those running or waiting
};

}  // namespace corvane::http
