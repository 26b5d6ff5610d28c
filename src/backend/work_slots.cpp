#include "backend/work_slots.h"

namespace corvane::backend {

std::optional<WorkSlots::Lease> WorkSlots::acquire(const std::string& key) {
    std::unique_lock lock(mutex_);
    Account& account = accounts_[key];  // stays put as others come and go
    const auto free = [&] { return busy_ < count_ && account.running == 0; };
    if (!free()) {
        if (account.waiting > 0 || waiting_ >= maxWaiting_) {
            if (account.running == 0 && account.waiting == 0) accounts_.erase(key);
            return std::nullopt;
        }
        ++waiting_;
        ++account.waiting;
        freed_.wait(lock, free);
        --waiting_;
        --account.waiting;
    }
    ++busy_;
    ++account.running;
    return Lease(this, key);
}

bool WorkSlots::wouldRefuse(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto found = accounts_.find(key);
    const Account account = found == accounts_.end() ? Account{} : found->second;
    if (busy_ < count_ && account.running == 0) return false;
    return account.waiting > 0 || waiting_ >= maxWaiting_;
}

void WorkSlots::release(const std::string& key) {
    {
        std::lock_guard lock(mutex_);
        --busy_;
        const auto account = accounts_.find(key);
        if (account != accounts_.end() && --account->second.running == 0 && account->second.waiting == 0) {
            accounts_.erase(account);
        }
    }
    // Every waiter: the one whose account this frees need not be the first to wake.
    freed_.notify_all();
}

}  // namespace corvane::backend
