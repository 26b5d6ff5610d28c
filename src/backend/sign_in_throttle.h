#pragma once

// Slows password guessing: failed sign-ins are counted per account and for all clients together
// (every client of a loopback service comes from the same address). Past a few free failures each
// further one closes that door for twice as long as the last, up to a ceiling; a successful
// sign-in clears its account's count. Time is the caller's clock.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace corvane::backend {

struct ThrottlePolicy {
    int freeFailuresPerAccount = 5;
    int freeFailuresOverall = 20;
    std::chrono::seconds longestWaitPerAccount{15 * 60};
    std::chrono::seconds longestWaitOverall{60};
    // A count with no failure for this long starts again from nothing.
    std::chrono::seconds forgetAfter{60 * 60};
    // Accounts remembered at once (unknown e-mails count too); the stalest go first.
    std::size_t maxAccounts = 10'000;
};

class SignInThrottle {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    explicit SignInThrottle(ThrottlePolicy policy = {}) : policy_(policy) {}

    // How long the caller must wait before a sign-in to this account is tried; none when it may
    // be tried now, and then the attempt already counts as failed, so that guesses sent at once
    // are held as well as guesses sent one after another.
    std::optional<std::chrono::seconds> attempt(const std::string& accountKey, TimePoint now);
    // The attempt was right after all: the account's count starts again, and the attempt no
    // longer counts against all clients.
    void succeeded(const std::string& accountKey);

private:
    struct Count {
        int failures = 0;
        TimePoint lastFailure{};
        TimePoint closedUntil{};
    };
    void count(Count& count, int freeFailures, std::chrono::seconds longest, TimePoint now) const;
    std::optional<std::chrono::seconds> remaining(const Count& count, TimePoint now) const;

    ThrottlePolicy policy_;
    std::mutex mutex_;
    std::map<std::string, Count> accounts_;
    Count overall_;
};

}  // namespace corvane::backend
