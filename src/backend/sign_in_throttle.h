#pragma once

// Slows password guessing: failed sign-ins are counted per account and for all clients together
// (every client of a loopback service comes from the same address). Past a few free failures each
// further one closes that door for twice as long as the last, up to a ceiling; a successful
// sign-in clears its account's count. Only failures close a door or keep a count alive: a right
// password, which anyone may send at any time, must not shut everyone else out. Time is the
// caller's clock.

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

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

    // One attempt let through, until its outcome is told; dropped untold, it counts as neither.
    class Ticket {
    public:
        Ticket(Ticket&& other) noexcept
            : throttle_(std::exchange(other.throttle_, nullptr)), key_(std::move(other.key_)) {}
        Ticket& operator=(Ticket&&) = delete;
        ~Ticket() { settle(std::nullopt); }

        void failed(TimePoint now) { settle(now); }
        void succeeded() { settle(std::nullopt, true); }

    private:
        friend class SignInThrottle;
        Ticket(SignInThrottle* throttle, std::string key) : throttle_(throttle), key_(std::move(key)) {}
        void settle(std::optional<TimePoint> failedAt, bool succeeded = false);

        SignInThrottle* throttle_;
        std::string key_;
    };

    explicit SignInThrottle(ThrottlePolicy policy = {}) : policy_(policy) {}

    // How long the caller must wait before a sign-in to this account is tried, or the ticket to
    // try it now. Attempts in flight count as failures that may come, so that guesses sent at once
    // are held as well as guesses sent one after another.
    struct Admission {
        std::optional<Ticket> ticket;
        std::chrono::seconds wait{0};
    };
    Admission attempt(const std::string& accountKey, TimePoint now);

private:
    struct Count {
        int failures = 0;
        int pending = 0;  // attempts let through whose outcome is not known yet
        TimePoint lastFailure{};
        TimePoint closedUntil{};
    };
    std::chrono::seconds waitAfter(int failures, int freeFailures, std::chrono::seconds longest) const;
    std::optional<std::chrono::seconds> refusal(Count& count, int freeFailures, TimePoint now) const;
    void fail(Count& count, int freeFailures, std::chrono::seconds longest, TimePoint now) const;
    void settle(const std::string& accountKey, std::optional<TimePoint> failedAt, bool succeeded);

    ThrottlePolicy policy_;
    std::mutex mutex_;
    std::map<std::string, Count> accounts_;
    Count overall_;
};

}  // namespace corvane::backend
