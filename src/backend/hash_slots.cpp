#include "backend/hash_slots.h"

namespace corvane::backend {

std::optional<HashSlots::Lease> HashSlots::acquire() {
    std::unique_lock lock(mutex_);
    if (busy_ >= count_) {
        if (waiting_ >= maxWaiting_) return std::nullopt;
        ++waiting_;
        freed_.wait(lock, [this] { return busy_ < count_; });
        --waiting_;
    }
    ++busy_;
    return Lease(this);
}

void HashSlots::release() {
    {
        std::lock_guard lock(mutex_);
        --busy_;
    }
    freed_.notify_one();
}

}  // namespace corvane::backend
