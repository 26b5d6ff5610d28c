#include "backend/sign_in_throttle.h"

#include <algorithm>
#include <tuple>

namespace corvane::backend {

namespace {

std::chrono::seconds roundedUp(SignInThrottle::TimePoint::duration wait) {
    // Waiting the answer's whole seconds must always be enough.
    return std::chrono::ceil<std::chrono::seconds>(wait);
}

}  // namespace

// The last free failure already closes the door: after it every attempt waits.
std::chrono::seconds SignInThrottle::waitAfter(int failures) const {
    const int over = failures - policy_.freeFailuresPerAccount + 1;
    if (over <= 0) return std::chrono::seconds(0);
    const auto longest = policy_.longestWaitPerAccount;
    return over >= 31 ? longest : std::min(longest, std::chrono::seconds(std::int64_t{1} << (over - 1)));
}

// Closed, or to be closed if the attempts in flight fail: a further one would come after the free
// failures beside them. Their outcome is known within a second (a hash or two), and what they
// earn is theirs: a right password among them closes nothing.
std::optional<std::chrono::seconds> SignInThrottle::refusal(Count& count, TimePoint now) const {
    if (count.failures > 0 && now - count.lastFailure >= policy_.forgetAfter) {
        count = Count{.pending = count.pending};
    }
    if (count.closedUntil > now) return roundedUp(count.closedUntil - now);
    if (count.pending > 0 && count.failures + count.pending >= policy_.freeFailuresPerAccount) {
        return std::chrono::seconds(1);
    }
    return std::nullopt;
}

// Past the free failures of all accounts (those in flight counted as failures to come), an
// attempt needs the turn of its line, which is held for those told to wait before it until a moment past the
// time each was told. Places are kept by account and ordered by their first wait (known accounts
// by their failures and the latest failure first), so that a
// client asking under ever new e-mails only ever queues behind those who asked before it, one
// that never comes back holds the turn only for that moment, and one just let through queues
// behind those who ask before the next turn. One that came back late keeps its place before
// those who asked after it, and the turn is kept for it from one let through meanwhile (a client
// signing in over and over would take every turn). The wait told is the time to the next turn:
// a client further back asks again and keeps its place.
std::optional<std::chrono::seconds> SignInThrottle::turnRefusal(const std::string& accountKey, Line& line,
                                                                TimePoint now, bool fewerFailuresFirst) {
    std::erase_if(line.waiting, [&](const auto& place) { return place.second.asked + policy_.placeKept <= now; });
    std::erase_if(line.through, [&](const auto& through) { return through.second + policy_.afterLetThrough <= now; });
    auto mine = line.waiting.find(accountKey);
    const auto through = line.through.find(accountKey);
    // One let through in the last turn queues behind those who ask before the next.
    TimePoint since = mine == line.waiting.end() ? now : mine->second.since;
    if (through != line.through.end()) since = std::max(since, through->second + policy_.turn);
    // Among known accounts fewer failures go first, and of as many the latest to fail: a right
    // password after a typo never waits behind accounts that an attacker keeps failing, however
    // many (each turn they take adds to their count, and their first failures came before). Unknown
    // e-mails are all new: there the first to ask goes first.
    const auto rank = [&](const std::string& key) {
        if (!fewerFailuresFirst) return std::pair<int, TimePoint::rep>{0, 0};
        const auto found = accounts_.find(key);
        if (found == accounts_.end()) return std::pair<int, TimePoint::rep>{0, 0};
        return std::pair{found->second.failures, -found->second.lastFailure.time_since_epoch().count()};
    };
    const auto myRank = rank(accountKey);
    std::size_t before = 0;
    for (const auto& [key, place] : line.waiting) {
        if (key == accountKey) continue;
        const auto theirRank = rank(key);
        if (std::tie(theirRank, place.since, key) >= std::tie(myRank, since, accountKey)) continue;
        // One not back when told goes after those who are, but one that came back before, late,
        // still goes before one let through while it waited.
        const bool back = now < place.due + policy_.placeHeld;
        const bool cameBack = place.asked > place.since;
        if (back || (cameBack && through != line.through.end() && place.since < through->second)) ++before;
    }
    if (now >= line.nextTurn && before == 0) {
        if (mine != line.waiting.end()) line.waiting.erase(mine);
        line.through[accountKey] = now;
        line.nextTurn = now + policy_.turn;
        return std::nullopt;
    }
    const auto untilTurn = std::max(line.nextTurn - now, TimePoint::duration::zero());
    // Those ahead may never come back.
    const auto wait = std::max(roundedUp(untilTurn), std::chrono::seconds(1));
    if (mine == line.waiting.end()) {
        if (line.waiting.size() >= policy_.maxWaiting) return wait;
        mine = line.waiting.emplace(accountKey, Place{since, now, now}).first;
    }
    mine->second.asked = now;
    mine->second.due = now + wait;
    return wait;
}

SignInThrottle::Admission SignInThrottle::attempt(const std::string& accountKey, TimePoint now, bool known) {
    std::lock_guard lock(mutex_);
    auto found = accounts_.find(accountKey);
    if (found != accounts_.end()) {
        if (const auto wait = refusal(found->second, now)) return {std::nullopt, *wait};
    }
    if (overall_.failures > 0 && now - overall_.lastFailure >= policy_.forgetAfter) {
        overall_ = Overall{.pending = overall_.pending, .known = {}, .unknown = {}};
    }
    const bool ownFailures = found != accounts_.end() && found->second.failures > 0;
    if (overall_.failures + overall_.pending >= policy_.freeFailuresOverall && (ownFailures || !known)) {
        if (const auto wait = turnRefusal(accountKey, known ? overall_.known : overall_.unknown, now, known))
            return {std::nullopt, *wait};
    }
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
    if (failedAt) {
        ++overall_.failures;
        overall_.lastFailure = std::max(overall_.lastFailure, *failedAt);
    }
    const auto found = accounts_.find(accountKey);
    if (found == accounts_.end()) return;
    Count& account = found->second;
    --account.pending;
    if (failedAt) {
        ++account.failures;
        account.lastFailure = *failedAt;
        const auto wait = waitAfter(account.failures);
        if (wait > std::chrono::seconds(0)) account.closedUntil = std::max(account.closedUntil, *failedAt + wait);
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
