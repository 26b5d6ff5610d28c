#pragma once

// Bounds the password hashes running at once. Each takes the hashing cost's memory (64 MiB at the
// interactive cost) for as long as it runs, so without a bound concurrent sign-ins take the
// backend past a gigabyte; with it, its peak stays fixed whatever a client sends. A few more wait
// for a slot (a hash ends within a fraction of a second); the rest are turned away at once, so
// that no wait needs a time-out.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>

namespace corvane::backend {

class HashSlots {
public:
    // A slot taken; given back when dropped.
    class Lease {
    public:
        explicit Lease(HashSlots* slots) : slots_(slots) {}
        Lease(Lease&& other) noexcept : slots_(other.slots_) { other.slots_ = nullptr; }
        Lease& operator=(Lease&&) = delete;
        ~Lease() {
            if (slots_ != nullptr) slots_->release();
        }

    private:
        HashSlots* slots_;
    };

    HashSlots(std::size_t count, std::size_t maxWaiting) : count_(count), maxWaiting_(maxWaiting) {}

    // A slot, at once or once one is given back; none when all are taken and maxWaiting callers
    // already wait.
    std::optional<Lease> acquire();

private:
    void release();

    const std::size_t count_;
    const std::size_t maxWaiting_;
    std::mutex mutex_;
    std::condition_variable freed_;
    std::size_t busy_ = 0;
    std::size_t waiting_ = 0;
};

}  // namespace corvane::backend
