// Signing out: the session ends in the window at once, while the credential file and the service
// are brought to agree in the background, so that no copy on the folder keeps a session the user left.
#include "networking/auth_service.h"

#include <string_view>

#include "networking/keychain_store.h"
#include "platform/log.h"

namespace corvane::networking {

void AuthService::markSignedOut() {
    update([](Fields& f) {
        f.isAuthenticated = false;
        f.userEmail.reset();
    });
}

void AuthService::markSessionGone() {
    update([](Fields& f) {
        if (f.isAuthenticated) f.notice = kSessionEnded;
        f.isAuthenticated = false;
        f.userEmail.reset();
    });
}

void AuthService::signOut() {
    // Each session signed out of here, and whether the file is cleared of it already.
    std::vector<std::pair<EndedSession, bool>> leaving;
    {
        std::lock_guard lock(sessionMutex_);
        // The session the window shows, whatever the file holds by now: a sign-in another copy
        // made since is not the user's to end here.
        std::optional<EndedSession> shown = std::exchange(shown_, std::nullopt);
        std::optional<EndedSession> replaced;
        if (const std::optional<PendingSession> kept = std::exchange(pending_, std::nullopt)) {
            // The live pair, not the spent one the file kept.
            shown = EndedSession{sessionIDFromJWT(kept->accessToken), kept->accessToken, kept->refreshToken};
            replaced = kept->replacing;
        }
        if (replaced) {
            // The user signed in over it and now out: it ends too, where the file still holds it (a
            // renewal of it included). A sign-in made since, here or in another copy, stays.
            const auto filed = KeychainStore::readMembers();
            const auto access = filed.find(kAccessTokenKey);
            const auto refresh = filed.find(kRefreshTokenKey);
            const std::string filedAccess = access == filed.end() ? "" : access->second;
            const auto filedRefresh =
                refresh == filed.end() ? std::nullopt : std::optional<std::string>(refresh->second);
            if (replaced->holds(filedAccess, filedRefresh) && !signedOutOf(filedAccess, filedRefresh))
                replaced = EndedSession{replaced->id, filedAccess, filedRefresh};
            else
                replaced.reset();
        }
        for (auto& session : {shown, replaced}) {
            if (!session || (session->accessToken.empty() && !session->refreshToken)) continue;
            EndedSession ended = *session;
            ended_.push_back(ended);
            std::string why;
            // Without waiting: another copy renewing the session holds the file for seconds, and
            // the window is signed out at once all the same.
            const bool cleared = clearEnded(ended, std::chrono::milliseconds(0), why);
            leaving.emplace_back(ended, cleared);
        }
        letGoOfFileLockWhenDone();
        markSignedOut();
        // The session the strip said was not saved is the one signed out of: the sign-out speaks now.
        update([](Fields& f) {
            if (f.notice == kSessionNotSaved) f.notice.reset();
        });
        if (leaving.empty()) return;
    }
    std::lock_guard lock(revocationsMutex_);
    // A finished one is only joined here.
    std::erase_if(revocations_, [](const Revocation& revocation) { return revocation.done->load(); });
    for (const auto& [ended, cleared] : leaving) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        revocations_.push_back({done, std::jthread([this, done, ended, cleared](std::stop_token stop) {
                                    finishSignOut(ended, cleared, stop);
                                    *done = true;
                                })});
    }
}

bool AuthService::signOutsPending() {
    std::lock_guard lock(revocationsMutex_);
    return std::any_of(revocations_.begin(), revocations_.end(),
                       [](const Revocation& revocation) { return !revocation.done->load(); });
}

bool AuthService::clearEnded(EndedSession& ended, std::chrono::milliseconds wait, std::string& why) {
    std::shared_ptr<FileLock> held;
    {
        std::lock_guard lock(fileLockMutex_);
        held = fileLock_;
    }
    const FileLock own = held ? FileLock() : KeychainStore::lock(wait);
    const FileLock& lock = held ? *held : own;
    const bool written = KeychainStore::update(lock, [&](std::map<std::string, std::string>& values) {
        const auto access = values.find(kAccessTokenKey);
        const auto refresh = values.find(kRefreshTokenKey);
        const std::string storedAccess = access == values.end() ? "" : access->second;
        const auto storedRefresh =
            refresh == values.end() ? std::nullopt : std::optional<std::string>(refresh->second);
        // Another sign-in since is not this session's to clear.
        if (!ended.holds(storedAccess, storedRefresh)) return false;
        // Another copy renewed it meanwhile: its pair is the one the service is to revoke.
        if (!storedAccess.empty() && storedAccess != ended.accessToken && !isTokenExpired(storedAccess)) {
            ended.accessToken = storedAccess;
            ended.refreshToken = storedRefresh;
        }
        values.erase(kAccessTokenKey);
        values.erase(kRefreshTokenKey);
        values.erase(kSignInOrderKey);
        return true;
    });
    if (!written) why = lock.refusal().value_or("it could not be written");
    return written;
}

namespace {

// What a sign-in service's answer said, for the user: its status and its own words when it has them.
std::string describeAnswer(const http::HTTPClientResponse& response) {
    std::string text = "it answered HTTP " + std::to_string(response.statusCode);
    const auto reply = json_fields::parseObject(response.body);
    const auto said = reply ? json_fields::lenientText(*reply, "error_description") : std::nullopt;
    if (said && !said->empty()) text += ": " + *said;
    return text;
}

}  // namespace

AuthService::Told AuthService::revoke(EndedSession& ended, std::stop_token stop, std::string& why) {
    const auto keyRefused = [&](const http::HTTPClientResponse& response) {
        const auto reply = json_fields::parseObject(response.body);
        return response.statusCode == 401 && reply && json_fields::lenientText(*reply, "error") == "invalid_api_key";
    };
    try {
        // The service takes a sign-out only with a live access token: an expired one is renewed
        // first, and the pair it gives is never stored, only revoked with the session.
        if (ended.accessToken.empty() || expiresWithin(ended.accessToken, 10)) {
            if (!ended.refreshToken) return Told::done;  // nothing left that renews it
            auto request = tokenRequest("refresh_token", {{"refresh_token", *ended.refreshToken}});
            request.timeout = kRequestTimeout;
            if (!http::isPermittedURL(request.url)) {
                why = "its address is not permitted";
                return Told::never;
            }
            const auto response = transport_->send(request, stop);
            const auto reply = json_fields::parseObject(response.body);
            const auto access = reply ? json_fields::lenientText(*reply, "access_token") : std::nullopt;
            const auto refresh = reply ? json_fields::lenientText(*reply, "refresh_token") : std::nullopt;
            if (keyRefused(response)) {
                why = "it refused the app's key";
                return Told::never;
            }
            const auto error = reply ? json_fields::lenientText(*reply, "error") : std::nullopt;
            // The service renews the session no more: nobody holding its tokens can use it.
            if (response.statusCode == 401 || response.statusCode == 403 ||
                (response.statusCode == 400 && error == "invalid_grant"))
                return Told::done;
            if (response.statusCode != 200 || !access || !refresh || !usablePair(*access, *refresh)) {
                why = describeAnswer(response);
                return Told::again;
            }
            ended.accessToken = *access;
            ended.refreshToken = *refresh;
        }
        http::HTTPClientRequest request;
        request.url = configuration_.baseURL + "/auth/v1/logout";
        request.headers = {{"apikey", configuration_.publishableKey}, {"Authorization", "Bearer " + ended.accessToken}};
        request.timeout = kRequestTimeout;
        if (!http::isPermittedURL(request.url)) {
            why = "its address is not permitted";
            return Told::never;
        }
        const auto response = transport_->send(request, stop);
        if (response.statusCode >= 200 && response.statusCode <= 299) return Told::done;
        if (keyRefused(response)) {
            why = "it refused the app's key";
            return Told::never;
        }
        // The token is unknown to the service: its session has ended already.
        if (response.statusCode == 401 || response.statusCode == 403) return Told::done;
        why = describeAnswer(response);
        log("[AuthService] The sign-in service did not take the sign-out: " + why);
        return Told::again;
    } catch (const http::TransportError& error) {
        log(std::string("[AuthService] The sign-out did not reach the sign-in service: ") + error.what());
        why = "it could not be reached";
        return Told::again;
    }
}

void AuthService::finishSignOut(EndedSession ended, bool cleared, std::stop_token stop) {
    std::optional<std::string> shown;  // the notice this sign-out put up
    const auto me = nextSignOut_.fetch_add(1);
    // Of two sign-outs under way the strip says the one that spoke last; once that one is done,
    // what is left of the other, which may keep a session in the file as long.
    const auto say = [&](const std::optional<std::string>& text) {
        update([&](Fields& f) {
            const bool ours = !f.notice || f.notice == shown ||
                              std::any_of(signOutNotices_.begin(), signOutNotices_.end(),
                                          [&](const auto& other) { return other.second == f.notice; });
            signOutNotices_.erase(me);
            if (text) signOutNotices_.emplace(me, *text);
            if (!ours) return;
            if (text || signOutNotices_.empty())
                f.notice = text;
            else
                f.notice = signOutNotices_.rbegin()->second;
        });
        shown = text;
    };
    std::string clearWhy;
    std::string tellWhy;
    std::optional<Told> told;
    auto tellDue = clock_.now();
    for (;;) {
        // Without waiting for the lock: the next round comes soon, and quitting waits for none.
        if (!cleared) cleared = clearEnded(ended, std::chrono::milliseconds(0), clearWhy);
        if (stop.stop_requested()) return;
        if (!told && clock_.now() >= tellDue) {
            if (const Told answer = revoke(ended, stop, tellWhy); answer != Told::again) told = answer;
            tellDue = clock_.now() + kRevocationRetry;
        }
        if (stop.stop_requested()) return;
        if (!cleared) {
            say("Signed out here, but auth.json could not be cleared of the session yet (" + clearWhy +
                "): a copy of Corvane sharing the folder may go on using it. Corvane keeps trying.");
        } else if (!told) {
            say("Signed out here, but the sign-in service has not ended the session yet (" + tellWhy +
                "). Corvane keeps asking.");
        } else if (*told == Told::never) {
            say("Signed out here, but the sign-in service was not told (" + tellWhy +
                "): the session stays valid there until it expires.");
            return;
        } else {
            say(std::nullopt);
            return;
        }
        // Once told, only the file is left: the next try comes with the file's, not at once.
        const auto next = cleared ? tellDue
                          : told  ? clock_.now() + kPendingRetry
                                  : std::min(tellDue, clock_.now() + kPendingRetry);
        ++signOutRounds_;
        if (!waitUntil(next, stop)) return;
    }
}

std::optional<std::string> AuthService::tokenRefused(const std::string& accessToken, std::stop_token stop) {
    const auto stored = sessionToken(kAccessTokenKey);
    if (!stored) {  // cleared meanwhile, by a sign-out in another copy say
        markSessionGone();
        return std::nullopt;
    }
    // Renewed meanwhile (by another copy, say): that token is the one to send.
    if (*stored != accessToken && !isTokenExpired(*stored)) return handOut(stored);
    // Whether the session lives on is the sign-in service's to say: a refresh asks it.
    const auto refreshed = refresh(std::move(stop), accessToken);
    if (refreshed.putOff != Refreshed::PutOff::no) throwPutOff(refreshed);
    // The same token back: the session lives on, and the chat backend refused it for its own reasons.
    if (refreshed.token) return handOut(refreshed.token);
    markSessionGone();
    return std::nullopt;
}

}  // namespace corvane::networking
