#include "backend/sign_in_throttle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace corvane::backend {
namespace {

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

}  // namespace
}  // namespace corvane::backend
