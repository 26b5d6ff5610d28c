#include "backend/sign_in_throttle.h"

#include <algorithm>

namespace corvane::backend {

std::optional<std::chrono::seconds> SignInThrottle::remaining(const Count& count, TimePoint now) const {
    if (count.closedUntil <= now) return std::nullopt;
    // Rounded up, so that waiting the answer's whole seconds is always enough.
    return std::chrono::ceil<std::chrono::seconds>(count.closedUntil - now);
}

void SignInThrottle::count(Count& count, int freeFailures, std::chrono::seconds longest, TimePoint now) const {
    if (count.failures > 0 && now - count.lastFailure >= policy_.forgetAfter) count = Count{};
    ++count.failures;
    count.lastFailure = now;
    const int over = count.failures - freeFailures;
    if (over <= 0) return;
    const auto wait = over >= 31 ? longest : std::min(longest, std::chrono::seconds(std::int64_t{1} << (over - 1)));
    count.closedUntil = now + wait;
}

std::optional<std::chrono::seconds> SignInThrottle::attempt(const std::string& accountKey, TimePoint now) {
    std::lock_guard lock(mutex_);
    std::optional<std::chrono::seconds> wait = remaining(overall_, now);
    const auto found = accounts_.find(accountKey);
    if (found != accounts_.end()) {
        if (const auto account = remaining(found->second, now); account && (!wait || *account > *wait)) wait = account;
    }
    if (wait) return wait;
    if (accounts_.size() >= policy_.maxAccounts && found == accounts_.end()) {
        const auto stalest = std::min_element(accounts_.begin(), accounts_.end(), [](const auto& a, const auto& b) {
            return a.second.lastFailure < b.second.lastFailure;
        });
        accounts_.erase(stalest);
    }
    count(accounts_[accountKey], policy_.freeFailuresPerAccount, policy_.longestWaitPerAccount, now);
    count(overall_, policy_.freeFailuresOverall, policy_.longestWaitOverall, now);
    return std::nullopt;
}

void SignInThrottle::succeeded(const std::string& accountKey) {
    std::lock_guard lock(mutex_);
    accounts_.erase(accountKey);
    if (overall_.failures > 0) --overall_.failures;
}

}  // namespace corvane::backend
