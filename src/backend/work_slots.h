#pragma once

// Bounds a costly kind of work running at once: password hashes (64 MiB each at the interactive
// cost, so without a bound concurrent sign-ins take the backend past a gigabyte) and stored
// reports (each waits its turn at the disk, holding a request's worker meanwhile). A few more wait
// for a slot (the work ends within a fraction of a second); the rest are turned away at once, so
// that no wait needs a time-out and the work never holds more than its share of the workers. The
// places are shared between keys (accounts): one key has at most one running and one waiting, so
// a client sending as one account over and over (signing in with its right password, which no
// failed-guess throttle counts, or reporting without a token) cannot keep the others out.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace corvane::backend {

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

    WorkSlots(std::size_t count, std::size_t maxWaiting) : count_(count), maxWaiting_(maxWaiting) {}

    // A slot for `key`, at once or once one is given back (and the account's other
    // hash is done); none when the account already has one waiting, or when it would wait and
    // maxWaiting callers already do.
    std::optional<Lease> acquire(const std::string& key);
    // Whether acquire would turn `key` away now (a moment later it may not).
    bool wouldRefuse(const std::string& key) const;

private:
    struct Account {
        std::size_t running = 0;
        std::size_t waiting = 0;
    };

    void release(const std::string& key);

    const std::size_t count_;
    const std::size_t maxWaiting_;
    mutable std::mutex mutex_;
    std::condition_variable freed_;
    std::size_t busy_ = 0;
    std::size_t waiting_ = 0;
    std::unordered_map<std::string, Account> accounts_;  // those running or waiting
};

}  // namespace corvane::backend
