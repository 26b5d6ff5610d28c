#include "backend/sign_in_throttle.h"

#include <algorithm>
#include <tuple>

namespace corvane::backend {

std::chrono::seconds SignInThrottle::waitAfter(int failures, int freeFailures, std::chrono::seconds longest) const {
    const int over = failures - freeFailures;
    if (over <= 0) return std::chrono::seconds(0);
    return over >= 31 ? longest : std::min(longest, std::chrono::seconds(std::int64_t{1} << (over - 1)));
}

// Closed (rounded up, so that waiting the answer's whole seconds is always enough), or to be
// closed if the attempts in flight fail: a further one would go past the free failures beside
// them. Their outcome is known within a second (a hash or two), and what they earn is theirs: a
// right password among them closes nothing.
std::optional<std::chrono::seconds> SignInThrottle::refusal(Count& count, int freeFailures, TimePoint now) const {
    if (count.failures > 0 && now - count.lastFailure >= policy_.forgetAfter) {
        count = Count{.pending = count.pending};
    }
    if (count.closedUntil > now) return std::chrono::ceil<std::chrono::seconds>(count.closedUntil - now);
    if (count.pending > 0 && count.failures + count.pending > freeFailures) return std::chrono::seconds(1);
    return std::nullopt;
}

void SignInThrottle::fail(Count& count, int freeFailures, std::chrono::seconds longest, TimePoint now) const {
    ++count.failures;
    count.lastFailure = now;
    const auto wait = waitAfter(count.failures, freeFailures, longest);
    if (wait > std::chrono::seconds(0)) count.closedUntil = std::max(count.closedUntil, now + wait);
}

SignInThrottle::Admission SignInThrottle::attempt(const std::string& accountKey, TimePoint now) {
    std::lock_guard lock(mutex_);
    std::optional<std::chrono::seconds> wait = refusal(overall_, policy_.freeFailuresOverall, now);
    auto found = accounts_.find(accountKey);
    if (found != accounts_.end()) {
        const auto account = refusal(found->second, policy_.freeFailuresPerAccount, now);
        if (account && (!wait || *account > *wait)) wait = account;
    }
    if (wait) return {std::nullopt, *wait};
    if (found == accounts_.end()) {
        if (accounts_.size() >= policy_.maxAccounts) {
            // Never one with an attempt in flight, whose outcome would find its count gone.
            const auto stalest = std::min_element(accounts_.begin(), accounts_.end(), [](const auto& a, const auto& b) {
                return std::tuple(a.second.pending > 0, a.second.lastFailure) <
                       std::tuple(b.second.pending > 0, b.second.lastFailure);
            });
            accounts_.erase(stalest);
        }
        found = accounts_.emplace(accountKey, Count{}).first;
    }
    ++found->second.pending;
    ++overall_.pending;
    return {Ticket(this, accountKey), std::chrono::seconds(0)};
}

void SignInThrottle::settle(const std::string& accountKey, std::optional<TimePoint> failedAt, bool succeeded) {
    std::lock_guard lock(mutex_);
    --overall_.pending;
    if (failedAt) fail(overall_, policy_.freeFailuresOverall, policy_.longestWaitOverall, *failedAt);
    const auto found = accounts_.find(accountKey);
    if (found == accounts_.end()) return;
    Count& account = found->second;
    --account.pending;
    if (failedAt) {
        fail(account, policy_.freeFailuresPerAccount, policy_.longestWaitPerAccount, *failedAt);
    } else if (succeeded) {
        account = Count{.pending = account.pending};
    }
    if (account.failures == 0 && account.pending == 0) accounts_.erase(found);
}

void SignInThrottle::Ticket::settle(std::optional<TimePoint> failedAt, bool succeeded) {
    if (throttle_ == nullptr) return;
    std::exchange(throttle_, nullptr)->settle(key_, failedAt, succeeded);
}

}  // namespace corvane::backend
