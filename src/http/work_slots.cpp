#include "http/work_slots.h"

namespace corvane::http {

std::optional<WorkSlots::Lease> WorkSlots::acquire(const std::string& key) {
    std::unique_lock lock(mutex_);
    Account& account = accounts_[key];  // stays put as others come and go
    if (!free(account)) {
        if (refuses(account)) {
            if (account.running == 0 && account.waiting == 0) accounts_.erase(key);
            return std::nullopt;
        }
        ++waiting_;
        ++account.waiting;
        freed_.wait(lock, [&] { return free(account); });
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
    return !free(account) && refuses(account);
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
    // Every waiter: the one whose key this frees need not be the first to wake.
    freed_.notify_all();
}

}  // namespace corvane::http
