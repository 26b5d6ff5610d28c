#pragma once

// Slows password guessing: failed sign-ins are counted per account and for all clients together
// (every client of a loopback service comes from the same address). Past an account's few free
// failures each further one closes its door for twice as long as the last, up to a ceiling; a
// successful sign-in clears its account's count. Past the free failures of all accounts together
// no door closes for everyone (one client guessing each time it opened kept everyone out for
// good): one sign-in is let through per turn instead, to the account that has waited longest as
// told, so that a client asking under ever new e-mails never gets ahead of those who asked before
// it, while guessing across accounts stays at one a turn; among known accounts the one with fewer
// failures goes first (of as many, the latest to fail), so that a user who mistyped never waits
// behind accounts that an attacker keeps failing, however many. Known accounts and unknown e-mails
// take their turns apart, so that a flood under ever new e-mails never stands before an account;
// and a known account with no failures of its own takes no turn at all: the turns bound guessing,
// not right passwords (its first failure puts it in line). Only failures keep a count alive: a
// right password, which anyone may send at any time, must not shut everyone else out. Time is
// the caller's clock.

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
    // Past the free failures of all accounts, one sign-in is let through per turn, for known
    // accounts and for unknown e-mails each.
    std::chrono::seconds turn{1};
    // An account told to wait holds the turn for those behind it until placeHeld past the time it
    // was told to come back, and keeps its place in the queue while it asks again within
    // placeKept. At most maxWaiting accounts wait at once in each line.
    std::chrono::milliseconds placeHeld{250};
    std::chrono::seconds placeKept{30};
    // An account let through goes after those who were waiting then, for this long.
    std::chrono::seconds afterLetThrough{5};
    std::size_t maxWaiting = 1024;
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
    // are held as well as guesses sent one after another. `known`: the key is an existing account.
    struct Admission {
        std::optional<Ticket> ticket;
        std::chrono::seconds wait{0};
    };
    Admission attempt(const std::string& accountKey, TimePoint now, bool known = false);

private:
    struct Count {
        int failures = 0;
        int pending = 0;  // attempts let through whose outcome is not known yet
        TimePoint lastFailure{};
        TimePoint closedUntil{};
    };
    struct Place {
        TimePoint since;  // first told to wait
        TimePoint asked;  // last told to wait
        TimePoint due;    // told to come back then
    };
    // The turns of known accounts, or of unknown e-mails.
    struct Line {
        TimePoint nextTurn{};
        std::map<std::string, Place> waiting;      // by account
        std::map<std::string, TimePoint> through;  // let through within afterLetThrough, by account
    };
    struct Overall {
        int failures = 0;
        int pending = 0;
        TimePoint lastFailure{};
        Line known;
        Line unknown;
    };
    std::chrono::seconds waitAfter(int failures) const;
    std::optional<std::chrono::seconds> refusal(Count& count, TimePoint now) const;
    std::optional<std::chrono::seconds> turnRefusal(const std::string& accountKey, Line& line, TimePoint now,
                                                    bool fewerFailuresFirst);
    void settle(const std::string& accountKey, std::optional<TimePoint> failedAt, bool succeeded);

    ThrottlePolicy policy_;
    std::mutex mutex_;
    std::map<std::string, Count> accounts_;
    Overall overall_;
};

}  // namespace corvane::backend
