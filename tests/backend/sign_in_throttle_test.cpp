#include "backend/sign_in_throttle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace corvane::backend {
namespace {

// After 5 failed sign-ins the 6th was still checked; only the 7th waited. Every attempt after the
// free failures waits 1, 2, 4 … s, whether they came one after another or at once.
TEST(SignInThrottle, EveryAttemptAfterTheFreeFailuresWaitsTwiceAsLongAsTheLast) {
    using namespace std::chrono_literals;
    const ThrottlePolicy policy;
    for (const bool atOnce : {false, true}) {
        SignInThrottle throttle(policy);
        SignInThrottle::TimePoint now{std::chrono::hours(1000)};
        std::vector<SignInThrottle::Ticket> inFlight;
        for (int i = 0; i < policy.freeFailuresPerAccount; ++i) {
            auto attempt = throttle.attempt("victim", now, true);
            ASSERT_TRUE(attempt.ticket) << atOnce << " " << i;
            if (atOnce)
                inFlight.push_back(std::move(*attempt.ticket));
            else
                attempt.ticket->failed(now);
        }
        EXPECT_FALSE(throttle.attempt("victim", now, true).ticket) << atOnce << ": one past the free ones in flight";
        for (auto& ticket : inFlight) ticket.failed(now);
        for (const auto wait : {1s, 2s, 4s, 8s}) {
            const auto refused = throttle.attempt("victim", now, true);
            EXPECT_FALSE(refused.ticket) << atOnce;
            EXPECT_EQ(refused.wait, wait) << atOnce;
            now += refused.wait;
            auto again = throttle.attempt("victim", now, true);
            ASSERT_TRUE(again.ticket) << atOnce << " after " << wait.count() << " s";
            again.ticket->failed(now);
        }
    }
}

// Past the free failures of all accounts, the door for everyone stayed shut while a right password
// was in flight (which an attacker signing in to its own account kept so without end), and each
// failure past them shut it for up to a minute (which one guess at each opening renewed for ever).
// Sign-ins are let through in turn now: whoever waits as told gets in within two turns, while the
// attacker still gets no more than one attempt a turn.
TEST(SignInThrottle, NoAttackerKeepsARightPasswordOutPastItsTurn) {
    using namespace std::chrono_literals;
    using TimePoint = SignInThrottle::TimePoint;
    const ThrottlePolicy policy;
    struct Attack {
        const char* name;
        bool guesses;                     // a wrong guess under a new e-mail each time it is told; else right passwords
        std::chrono::seconds victimLate;  // how long after the time told the victim comes back
    };
    const std::vector<Attack> attacks = {
        {"right passwords in flight at every moment", false, 0s},
        {"a wrong guess under a new e-mail each time the door opens", true, 0s},
        {"right passwords, the victim back late", false, 3s},
        {"guesses, the victim back late", true, 3s},
    };
    for (const Attack& attack : attacks) {
        SignInThrottle throttle(policy);
        TimePoint now{std::chrono::hours(1000)};
        for (int i = 0; i < policy.freeFailuresOverall; ++i) {
            auto guess = throttle.attempt("flood" + std::to_string(i), now);
            ASSERT_TRUE(guess.ticket) << attack.name;
            guess.ticket->failed(now);
        }
        int attackerThrough = 0;
        std::optional<SignInThrottle::Ticket> held;
        TimePoint attackerAsks = now;
        TimePoint victimAsks = now + 50ms;
        TimePoint firstRefusal{};
        std::chrono::milliseconds longestDenial{0};
        int victimIn = 0;
        for (int step = 0; step < 1200; ++step, now += 50ms) {  // a minute, the attacker first each time
            if (held) held->succeeded();
            held.reset();
            if (!attack.guesses || now >= attackerAsks) {
                auto attempt = throttle.attempt(attack.guesses ? "guess" + std::to_string(step) : "own", now);
                attackerAsks = now + attempt.wait;
                if (attempt.ticket) ++attackerThrough;
                if (attempt.ticket && attack.guesses) attempt.ticket->failed(now);
                if (attempt.ticket && !attack.guesses) held.emplace(std::move(*attempt.ticket));
            }
            if (now < victimAsks) continue;
            auto victim = throttle.attempt("victim", now);
            if (!victim.ticket) {
                if (firstRefusal == TimePoint{}) firstRefusal = now;
                victimAsks = now + victim.wait + attack.victimLate;
                continue;
            }
            victim.ticket->succeeded();
            ++victimIn;
            if (firstRefusal != TimePoint{}) {
                longestDenial =
                    std::max(longestDenial, std::chrono::duration_cast<std::chrono::milliseconds>(now - firstRefusal));
            }
            firstRefusal = {};
            victimAsks = now + 1s;  // and again
        }
        EXPECT_GE(victimIn, 5) << attack.name;
        // On time: within two turns. Late: in when back, or, when a client signing in over and over
        // took the turn meanwhile, when back once more.
        EXPECT_LE(longestDenial, attack.victimLate == 0s ? 2s : 2 * (2s + attack.victimLate)) << attack.name;
        EXPECT_LE(attackerThrough, 61) << attack.name << ": more than one attempt a turn";
    }
}

// Past the free failures of all accounts, a user who mistyped once queued behind every known account
// an attacker kept asking about: about a turn and a half for each (37 accounts: 51 s). Among known
// accounts fewer failures go first now, and of as many the latest to fail: those the attacker keeps
// asking about failed before and fail again at every turn they get, so the right password is in
// within two turns however many there are, while guessing across accounts stays at one a turn.
TEST(SignInThrottle, AUserWhoMistypedOnceWaitsForNoAccountThatKeepsFailing) {
    using namespace std::chrono_literals;
    using TimePoint = SignInThrottle::TimePoint;
    const ThrottlePolicy policy;
    for (const int accounts : {7, 37, 150}) {
        SignInThrottle throttle(policy);
        TimePoint now{std::chrono::hours(1000)};
        const TimePoint start = now;
        for (int i = 0; i < policy.freeFailuresOverall; ++i) {
            auto guess = throttle.attempt("flood" + std::to_string(i), now);
            ASSERT_TRUE(guess.ticket);
            guess.ticket->failed(now);
        }
        // The attacker asks each of its known accounts again about every 0.7 s while refused, with a
        // wrong password whenever let through (the first of each takes no turn); 5 s on, the user
        // mistypes once.
        std::vector<TimePoint> asksAt(static_cast<std::size_t>(accounts), now);
        const TimePoint typo = now + 5s;
        std::optional<TimePoint> victimAsks;
        std::optional<std::chrono::milliseconds> victimWaited;
        int attackerThrough = 0;
        for (; now < typo + 30s && !victimWaited; now += 50ms) {
            for (int i = 0; i < accounts; ++i) {
                auto& at = asksAt[static_cast<std::size_t>(i)];
                if (now < at) continue;
                auto attempt = throttle.attempt("known" + std::to_string(i), now, true);
                at = now + 700ms;
                if (!attempt.ticket) continue;
                ++attackerThrough;
                attempt.ticket->failed(now);
            }
            if (now >= typo && !victimAsks) {
                auto mistyped = throttle.attempt("victim", now, true);
                ASSERT_TRUE(mistyped.ticket) << accounts;  // no failure of its own yet: no turn to take
                mistyped.ticket->failed(now);
                victimAsks = now;
            } else if (victimAsks && now >= *victimAsks) {
                auto right = throttle.attempt("victim", now, true);
                if (right.ticket) {
                    right.ticket->succeeded();
                    victimWaited = std::chrono::duration_cast<std::chrono::milliseconds>(now - typo);
                } else {
                    victimAsks = now + right.wait;
                }
            }
        }
        ASSERT_TRUE(victimWaited) << accounts << " accounts: the right password not in within 30 s";
        EXPECT_LE(*victimWaited, 2 * policy.turn + policy.placeHeld) << accounts << " accounts";
        // Each account's first guess takes no turn; every other one does.
        const auto turns = std::chrono::duration_cast<std::chrono::seconds>(now - start) / policy.turn;
        EXPECT_LE(attackerThrough, accounts + turns + 1) << accounts << " accounts: more than one guess a turn";
    }
}

}  // namespace
}  // namespace corvane::backend
