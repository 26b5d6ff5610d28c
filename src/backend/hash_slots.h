#pragma once

// Bounds the password hashes running at once. Each takes the hashing cost's memory (64 MiB at the
// interactive cost) for as long as it runs, so without a bound concurrent sign-ins take the
// backend past a gigabyte; with it, its peak stays fixed whatever a client sends. A few more wait
// for a slot (a hash ends within a fraction of a second); the rest are turned away at once, so
// that no wait needs a time-out. The places are shared between accounts: one account has at most
// one hash running and one waiting, so a client signing one account in over and over (with its
// right password, which no failed-guess throttle counts) cannot keep the others out.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

namespace corvane::backend {

class HashSlots {
public:
    // A slot taken; given back when dropped.
    class Lease {
    public:
        Lease(HashSlots* slots, std::string key) : slots_(slots), key_(std::move(key)) {}
        Lease(Lease&& other) noexcept : slots_(other.slots_), key_(std::move(other.key_)) { other.slots_ = nullptr; }
        Lease& operator=(Lease&&) = delete;
        ~Lease() {
            if (slots_ != nullptr) slots_->release(key_);
        }

    private:
        HashSlots* slots_;
        std::string key_;
    };

    HashSlots(std::size_t count, std::size_t maxWaiting) : count_(count), maxWaiting_(maxWaiting) {}

    // A slot for the account `key`, at once or once one is given back (and the account's other
    // hash is done); none when the account already has one waiting, or when it would wait and
    // maxWaiting callers already do.
    std::optional<Lease> acquire(const std::string& key);

private:
    struct Account {
        std::size_t running = 0;
        std::size_t waiting = 0;
    };

    void release(const std::string& key);

    const std::size_t count_;
    const std::size_t maxWaiting_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::size_t busy_ = 0;
    std::size_t waiting_ = 0;
    std::unordered_map<std::string, Account> accounts_;  // those running or waiting
};

}  // namespace corvane::backend
