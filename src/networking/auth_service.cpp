#include "networking/auth_service.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "networking/keychain_store.h"
#include "platform/log.h"
#include "support/base64.h"
#include "support/files.h"
#include "support/json_fields.h"
#include "support/numbers.h"

namespace corvane::networking {
namespace {

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

}  // namespace

BackendConfiguration BackendConfiguration::fromEnvironment() {
    BackendConfiguration configuration;
    if (auto url = environment("CORVANE_BACKEND_URL")) {
        while (!url->empty() && url->back() == '/') url->pop_back();
        configuration.baseURL = *url;
    }
    if (auto key = environment("CORVANE_BACKEND_APIKEY")) configuration.publishableKey = *key;
    return configuration;
}

AuthService::AuthService(BackendConfiguration configuration, std::shared_ptr<http::HTTPTransport> transport,
                         platform::Clock& clock)
    : configuration_(std::move(configuration)), transport_(std::move(transport)), clock_(clock) {
    // The credential file's one user, made at start: what a crash left mid-write goes now.
    removeLeftoverTemporaryFiles(KeychainStore::storeURL());
    const auto accessToken = KeychainStore::read(kAccessTokenKey);
    if (!accessToken) return;
    fields_.isAuthenticated = true;
    fields_.userEmail = emailFromJWT(*accessToken);
    shown_ = EndedSession{sessionIDFromJWT(*accessToken), *accessToken, KeychainStore::read(kRefreshTokenKey)};
    // Refreshed only when near expiry: each refresh spends the refresh token, and a kill before
    // the new pair is stored loses it. Nobody waits for it.
    if (isTokenExpired(*accessToken)) {
        bool joined = false;
        startupRefresh_ = startRefresh(joined, accessToken);
    }
}

AuthService::~AuthService() {
    // Quitting waits for no answer: what is still out is cancelled (the requests end at once).
    // The re-asking first: it would start refreshes.
    std::jthread reask;
    {
        std::lock_guard lock(sessionMutex_);
        quitting_ = true;
        reask = std::move(reask_);
    }
    reask.request_stop();
    if (reask.joinable()) reask.join();
    refreshThread_.request_stop();
    if (refreshThread_.joinable()) refreshThread_.join();
    std::jthread retry;
    {
        std::lock_guard lock(sessionMutex_);
        retry = std::move(pendingRetry_);
    }
    retry.request_stop();
    if (retry.joinable()) retry.join();
    std::lock_guard lock(revocationsMutex_);
    for (auto& revocation : revocations_) revocation.thread.request_stop();
    revocations_.clear();
}

void AuthService::waitForStartupRefresh() {
    if (startupRefresh_.valid()) startupRefresh_.wait();
}

int AuthService::refreshWaiters() const {
    std::lock_guard lock(refreshMutex_);
    return refreshWaiters_;
}

bool AuthService::isAuthenticated() const {
    std::lock_guard lock(fieldsMutex_);
    return fields_.isAuthenticated;
}
bool AuthService::isLoading() const {
    std::lock_guard lock(fieldsMutex_);
    return fields_.isLoading;
}
std::optional<std::string> AuthService::userEmail() const {
    std::lock_guard lock(fieldsMutex_);
    return fields_.userEmail;
}
std::optional<std::string> AuthService::errorMessage() const {
    std::lock_guard lock(fieldsMutex_);
    return fields_.errorMessage;
}
std::optional<std::string> AuthService::notice() const {
    std::lock_guard lock(fieldsMutex_);
    return fields_.notice;
}

void AuthService::setObserver(std::function<void()> observer) {
    std::lock_guard lock(fieldsMutex_);
    observer_ = std::move(observer);
}

void AuthService::update(const std::function<void(Fields&)>& change) {
    std::function<void()> observer;
    {
        std::lock_guard lock(fieldsMutex_);
        Fields next = fields_;
        change(next);
        if (next == fields_) return;
        fields_ = std::move(next);
        observer = observer_;
    }
    if (observer) observer();
}

http::HTTPClientRequest AuthService::tokenRequest(const std::string& grantType, const nlohmann::json& body) const {
    http::HTTPClientRequest request;
    request.url = configuration_.baseURL + "/auth/v1/token?grant_type=" + grantType;
    request.headers = {{"Content-Type", "application/json"}, {"apikey", configuration_.publishableKey}};
    try {
        request.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception&) {
        // Left without a body.
    }
    return request;
}

AuthService::SignInOrder AuthService::signInOrderNow() const {
    using std::chrono::duration_cast;
    using std::chrono::nanoseconds;
    return {duration_cast<nanoseconds>(clock_.now().time_since_epoch()).count(),
            duration_cast<nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count()};
}

std::string AuthService::orderText(const std::string& accessToken, const SignInOrder& order) {
    return sessionIDFromJWT(accessToken).value_or("-") + " " + std::to_string(order.at) + " " +
           std::to_string(order.tie);
}

AuthService::SignInOrder AuthService::storedOrder(const std::map<std::string, std::string>& values) {
    const auto member = values.find(kSignInOrderKey);
    const auto access = values.find(kAccessTokenKey);
    if (member == values.end() || access == values.end()) return {};
    const std::string& text = member->second;
    const auto first = text.find(' ');
    const auto second = first == std::string::npos ? std::string::npos : text.find(' ', first + 1);
    if (second == std::string::npos) return {};
    // Written over by a version that knows no order, it belongs to an earlier sign-in than the pair's.
    if (text.substr(0, first) != sessionIDFromJWT(access->second).value_or("-")) return {};
    const auto at = readInteger(std::string_view(text).substr(first + 1, second - first - 1));
    const auto tie = readInteger(std::string_view(text).substr(second + 1));
    if (!at || !tie) return {};
    return {*at, *tie};
}

std::optional<std::string> AuthService::handOut(std::optional<std::string> token) {
    if (!token) return token;
    const auto id = sessionIDFromJWT(*token);
    {
        std::lock_guard lock(sessionMutex_);
        if (!shown_ || shown_->accessToken != *token) {
            std::optional<std::string> refresh;
            if (pending_ && pending_->accessToken == *token)
                refresh = pending_->refreshToken;
            else if (KeychainStore::read(kAccessTokenKey) == *token)
                refresh = KeychainStore::read(kRefreshTokenKey);
            else if (shown_ && id && shown_->id == id)
                refresh = shown_->refreshToken;
            shown_ = EndedSession{id, *token, refresh};
        }
    }
    const auto email = emailFromJWT(*token);
    update([&](Fields& f) {
        f.isAuthenticated = true;
        if (email) f.userEmail = email;
        if (f.notice == kSessionEnded) f.notice.reset();  // said of a session this one follows
    });
    return token;
}

bool AuthService::updateStored(const std::function<bool(std::map<std::string, std::string>&)>& change) {
    std::shared_ptr<FileLock> held;
    {
        std::lock_guard lock(fileLockMutex_);
        held = fileLock_;
    }
    return held ? KeychainStore::update(*held, change) : KeychainStore::update(change);
}

void AuthService::letGoOfFileLockWhenDone() {
    if (pending_ || refreshing_) return;
    std::lock_guard lock(fileLockMutex_);
    fileLock_.reset();
}

void AuthService::retryPendingSession() {
    if (retrying_ || !pending_) return;
    retrying_ = true;
    if (pendingRetry_.joinable()) pendingRetry_.join();  // it ended when it last cleared retrying_
    // Due times count from the refusal, not from when the thread gets to run: one slow to start
    // must not put the next offer off by a turn.
    pendingRetry_ = std::jthread([this, due = clock_.now()](std::stop_token stop) mutable {
        for (;;) {
            due += kPendingRetry;
            if (!waitUntil(due, stop)) return;
            std::lock_guard lock(sessionMutex_);
            storePendingSession();
            if (!pending_) {
                retrying_ = false;
                return;
            }
        }
    });
}

bool AuthService::waitUntil(platform::Clock::TimePoint due, std::stop_token stop) {
    return clock_.waitUntil(due, std::move(stop));
}

int AuthService::clockWaiters() {
    int waiters = 0;
    {
        // Both at once: a refresh in flight starts the re-asking before it answers.
        std::scoped_lock lock(sessionMutex_, refreshMutex_);
        // A re-asking that waits for its refresh is counted in the refresh's stead, until it answers.
        waiters += (retrying_ ? 1 : 0) + (reasking_ ? 1 : 0) + (refreshInFlight_ && !reaskWaits_ ? 1 : 0);
    }
    std::lock_guard lock(revocationsMutex_);
    waiters += static_cast<int>(std::count_if(revocations_.begin(), revocations_.end(),
                                              [](const Revocation& revocation) { return !revocation.done->load(); }));
    return waiters;
}

void AuthService::noteUnanswered(const std::optional<std::string>& askedWith) {
    std::lock_guard lock(sessionMutex_);
    if (!unansweredSince_) unansweredSince_ = clock_.now();
    unansweredFor_ = askedWith;
    if (reasking_ || quitting_) return;
    reasking_ = true;
    if (reask_.joinable()) reask_.join();  // it ended when it last cleared reasking_
    // Due times count from the unanswered request, not from when this thread gets to run: a
    // thread slow to start must not put the next ask past the service's grace.
    reask_ = std::jthread([this, due = clock_.now()](std::stop_token stop) mutable {
        for (;;) {
            due += kUnansweredRetry;
            if (!waitUntil(due, stop)) return;
            {
                std::lock_guard held(sessionMutex_);
                // Past the window the service no longer gives the pair again: asked now, the
                // spent token would end the session. The next refresh a turn needs asks.
                if (unansweredSince_ && clock_.now() - *unansweredSince_ > kUnansweredWindow) {
                    log("[AuthService] The sign-in service answered none of the refreshes in time");
                    unansweredSince_.reset();
                }
                if (!unansweredSince_) {
                    reasking_ = false;
                    return;
                }
            }
            // Collected meanwhile, by another copy or a turn here, or the session gone: nothing
            // left to ask for. A token not expired yet tells nothing: a refresh is also asked
            // for a token the chat backend refused.
            const auto stored = sessionToken(kAccessTokenKey);
            bool collected = !stored;
            {
                std::lock_guard held(sessionMutex_);
                collected = collected || stored != unansweredFor_;
            }
            if (collected) {
                std::lock_guard held(sessionMutex_);
                unansweredSince_.reset();
                reasking_ = false;
                return;
            }
            bool joined = false;
            const auto asked = startRefresh(joined, stored, true);
            if (!awaitAnswer(asked, stop)) return;
        }
    });
}

void AuthService::answered() {
    std::lock_guard lock(sessionMutex_);
    unansweredSince_.reset();
}

void AuthService::storePendingSession() {
    if (!pending_) return;
    bool dropped = false;
    std::optional<std::string> instead;  // the access token of the session the file keeps instead
    std::optional<std::string> insteadRefresh;
    const bool stored = updateStored([&](std::map<std::string, std::string>& values) {
        const auto member = [&](const char* key) {
            const auto found = values.find(key);
            return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
        };
        const auto access = member(kAccessTokenKey);
        const auto holds = member(kRefreshTokenKey);
        // The sign-in the user just made is the session the folder is to hold: only another
        // sign-in, made later, wins over it, whichever copy offered its pair to the file first.
        const bool takes = holds == pending_->replaces ||
                           (pending_->signedIn && ((!access && !holds) || signedOutOf(access.value_or(""), holds) ||
                                                   storedOrder(values) < pending_->order));
        if (!takes) {
            dropped = true;
            if (access && !signedOutOf(*access, holds)) {
                instead = access;
                insteadRefresh = holds;
            }
            return false;
        }
        values[kAccessTokenKey] = pending_->accessToken;
        values[kRefreshTokenKey] = pending_->refreshToken;
        // A renewal keeps its sign-in's place.
        if (pending_->signedIn) values[kSignInOrderKey] = orderText(pending_->accessToken, pending_->order);
        return true;
    });
    if (!stored) return;
    pending_.reset();
    letGoOfFileLockWhenDone();
    if (!dropped) {
        update([](Fields& f) {
            if (f.notice == kSessionNotSaved) f.notice.reset();
        });
        return;
    }
    log("[AuthService] A session stored meanwhile replaces the one kept in memory");
    if (!instead) {
        shown_.reset();
        return markSessionGone();
    }
    // Another copy's renewal of the same session: its pair is the session's latest.
    if (const auto id = sessionIDFromJWT(*instead); shown_ && id && shown_->id == id)
        shown_ = EndedSession{id, *instead, insteadRefresh};
    // A later sign-in elsewhere is what the folder keeps now, and what the next turn sends.
    update([](Fields& f) {
        if (f.notice == kSessionNotSaved) f.notice.reset();
    });
}

std::optional<std::string> AuthService::sessionToken(const char* key) {
    std::lock_guard lock(sessionMutex_);
    storePendingSession();
    if (pending_)
        return std::string_view(key) == kAccessTokenKey ? pending_->accessToken : pending_->refreshToken;
    const auto access = KeychainStore::read(kAccessTokenKey);
    const auto refresh = KeychainStore::read(kRefreshTokenKey);
    // A session signed out of that the file still holds (its lock was not to be had yet) is no session.
    if (signedOutOf(access.value_or(""), refresh)) return std::nullopt;
    return std::string_view(key) == kAccessTokenKey ? access : refresh;
}

bool AuthService::EndedSession::holds(const std::string& access, const std::optional<std::string>& refresh) const {
    if (id && sessionIDFromJWT(access) == id) return true;
    return (!access.empty() && access == accessToken) || (refresh && refresh == refreshToken);
}

bool AuthService::signedOutOf(const std::string& access, const std::optional<std::string>& refresh) const {
    return std::any_of(ended_.begin(), ended_.end(), [&](const EndedSession& e) { return e.holds(access, refresh); });
}

void AuthService::signIn(const std::string& email, const std::string& password) {
    update([](Fields& f) {
        f.isLoading = true;
        f.errorMessage.reset();
    });
    std::optional<std::string> failure;
    std::optional<std::string> signedInEmail;
    bool notSaved = false;  // signed in for this run only
    try {
        const auto request = tokenRequest("password", {{"email", email}, {"password", password}});
        if (!http::isPermittedURL(request.url)) throw http::TransportError("plain HTTP is for the loopback host only");
        const auto response = transport_->send(request);
        const auto reply = json_fields::parseObject(response.body);
        if (!reply) {
            failure = "Invalid response.";
        } else if (response.statusCode != 200) {
            failure = json_fields::lenientText(*reply, "error_description")
                          .value_or(json_fields::lenientText(*reply, "msg").value_or("Sign in failed."));
        } else {
            const auto access = json_fields::lenientText(*reply, "access_token");
            const auto refresh = json_fields::lenientText(*reply, "refresh_token");
            if (!access || !refresh) {
                failure = "Missing tokens in response.";
            } else if (!usablePair(*access, *refresh)) {
                // Stored, they would sign in a session that every request and refresh turns down.
                failure = "The sign-in service answered with tokens that cannot be used.";
            } else {
                signedInEmail =
                    json_fields::lenientText(reply->value("user", nlohmann::json::object()), "email").value_or(email);
                std::lock_guard lock(sessionMutex_);
                // Offered to the file as a pair it refused would be: one write, and a later
                // sign-in another copy stored meanwhile wins over it.
                const auto filed = KeychainStore::readMembers();
                const auto member = [&](const char* key) {
                    const auto found = filed.find(key);
                    return found == filed.end() ? std::nullopt : std::optional<std::string>(found->second);
                };
                const auto filedAccess = member(kAccessTokenKey);
                const auto filedRefresh = member(kRefreshTokenKey);
                std::optional<EndedSession> replacing;
                if (filedAccess || filedRefresh)
                    replacing = EndedSession{filedAccess ? sessionIDFromJWT(*filedAccess) : std::nullopt,
                                             filedAccess.value_or(""), filedRefresh};
                pending_ = PendingSession{*access, *refresh, filedRefresh, true, signInOrderNow(), replacing};
                shown_ = EndedSession{sessionIDFromJWT(*access), *access, *refresh};
                storePendingSession();
                if (pending_) {
                    notSaved = true;
                    log("[AuthService] The session could not be stored; it is kept until it can be");
                    retryPendingSession();
                }
            }
        }
    } catch (const http::TransportError&) {
        failure = "Network error. Check your connection.";
    }
    update([&](Fields& f) {
        f.isLoading = false;
        if (failure) {
            f.errorMessage = failure;
        } else {
            f.userEmail = signedInEmail;
            f.isAuthenticated = true;
            f.errorMessage.reset();
            // Said wherever the user is now, until the file takes the session.
            if (notSaved)
                f.notice = kSessionNotSaved;
            else if (f.notice == kSessionNotSaved || f.notice == kSessionEnded)
                f.notice.reset();
        }
    });
}

std::optional<std::string> AuthService::refreshTokenIfNeeded() { return refresh({}).token; }

std::shared_future<AuthService::Refreshed> AuthService::startRefresh(bool& joined,
                                                                  std::optional<std::string> foundExpired,
                                                                  bool reasking) {
    std::lock_guard lock(refreshMutex_);
    if (reasking) reaskWaits_ = true;
    if (refreshInFlight_) {
        joined = true;
        return *refreshInFlight_;
    }
    // The previous refresh has answered under this lock and has nothing left to do but end.
    if (refreshThread_.joinable()) refreshThread_.join();
    auto promise = std::make_shared<std::promise<Refreshed>>();
    refreshInFlight_ = promise->get_future().share();
    // On a thread of its own, so that whoever waits for it may give up without cancelling it for
    // the others.
    refreshThread_ = std::jthread([this, promise, foundExpired = std::move(foundExpired)](std::stop_token stop) {
        Refreshed result;
        try {
            result = performRefresh(stop, foundExpired);
        } catch (const std::exception&) {
            result = {};
        }
        {
            std::lock_guard answered(refreshMutex_);
            refreshInFlight_.reset();
            reaskWaits_ = false;
            promise->set_value(result);
            for (auto& waiter : answerWaiters_) waiter.request_stop();
            answerWaiters_.clear();
        }
    });
    return *refreshInFlight_;
}

AuthService::Refreshed AuthService::refresh(std::stop_token stop, const std::optional<std::string>& foundExpired) {
    bool joined = false;
    const auto pending = startRefresh(joined, foundExpired);
    const auto started = clock_.now();
    const auto deadline = started + waitLeft(stop);
    const auto ready = [&] { return pending.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
    // On the clock, so that one moved by hand reaches the deadline as it would pass; the answer
    // and the turn's stop end the wait early.
    std::stop_source woken;
    std::stop_callback onStop(stop, [&] { woken.request_stop(); });
    {
        std::lock_guard lock(refreshMutex_);
        if (!ready()) answerWaiters_.push_back(woken);
    }
    // A turn that waited its share already does not wait again: the refresh goes on without it.
    const bool waits = !ready() && started < deadline;
    if (waits) {
        if (joined) {
            std::lock_guard lock(refreshMutex_);
            ++refreshWaiters_;
        }
        waitUntil(deadline, woken.get_token());
        if (joined) {
            std::lock_guard lock(refreshMutex_);
            --refreshWaiters_;
        }
    }
    forgetWaiter(woken);
    enum class Ended { answered, stopped, late } ended = Ended::answered;
    if (!ready()) ended = stop.stop_requested() ? Ended::stopped : Ended::late;
    noteWaited(stop, clock_.now() - started);
    if (ended == Ended::stopped) throw http::TransportError("the request was cancelled");
    if (ended == Ended::late) return {sessionToken(kAccessTokenKey), Refreshed::PutOff::noAnswer};
    return pending.get();
}

bool AuthService::awaitAnswer(const std::shared_future<Refreshed>& asked, std::stop_token stop) {
    std::stop_source woken;
    std::stop_callback onStop(stop, [&] { woken.request_stop(); });
    const auto ready = [&] { return asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
    {
        std::lock_guard lock(refreshMutex_);
        if (!ready()) answerWaiters_.push_back(woken);
    }
    std::mutex mutex;
    std::condition_variable_any answered;
    std::unique_lock lock(mutex);
    answered.wait(lock, woken.get_token(), ready);
    lock.unlock();
    forgetWaiter(woken);
    return ready();
}

void AuthService::forgetWaiter(const std::stop_source& waiter) {
    std::lock_guard lock(refreshMutex_);
    std::erase_if(answerWaiters_, [&](const std::stop_source& known) { return known == waiter; });
}

platform::Clock::TimePoint::duration AuthService::waitLeft(const std::stop_token& turn) {
    const platform::Clock::TimePoint::duration whole = kServiceWait;
    if (!turn.stop_possible()) return whole;
    std::lock_guard lock(turnWaitsMutex_);
    // A turn is forgotten once it has ended (its stop source gone, or stopped), however many
    // others waited meanwhile.
    std::erase_if(turnWaits_, [](const TurnWait& wait) {
        return !wait.turn.stop_possible() || wait.turn.stop_requested();
    });
    const auto known =
        std::find_if(turnWaits_.begin(), turnWaits_.end(), [&](const TurnWait& wait) { return wait.turn == turn; });
    return known == turnWaits_.end() ? whole
                                     : std::max(whole - known->waited, platform::Clock::TimePoint::duration::zero());
}

void AuthService::noteWaited(const std::stop_token& turn, platform::Clock::TimePoint::duration waited) {
    if (!turn.stop_possible() || waited <= platform::Clock::TimePoint::duration::zero()) return;
    std::lock_guard lock(turnWaitsMutex_);
    const auto known =
        std::find_if(turnWaits_.begin(), turnWaits_.end(), [&](const TurnWait& wait) { return wait.turn == turn; });
    if (known != turnWaits_.end()) {
        known->waited += waited;
        return;
    }
    turnWaits_.push_back({turn, waited});
}

AuthService::Refreshed AuthService::performRefresh(std::stop_token stop,
                                                   const std::optional<std::string>& foundExpired) {
    // The refresh token is read, spent and replaced under the credential file's lock, held
    // throughout: no other copy spends it too, nor reads it once spent and before the pair
    // replacing it is stored. A file that cannot be locked is no place for a new pair: the token
    // is not spent.
    bool heldAlready = false;
    {
        std::lock_guard fileLock(fileLockMutex_);
        heldAlready = fileLock_ != nullptr;  // a pair the file refused keeps it
    }
    if (!heldAlready) {
        // Taken with no mutex held: the wait for another copy may last kLockWait.
        auto held = std::make_shared<FileLock>(KeychainStore::lock());
        if (const auto& refusal = held->refusal()) {
            log("[AuthService] The session is not renewed: " + *refusal);
            return {sessionToken(kAccessTokenKey), Refreshed::PutOff::locked, *refusal};
        }
        std::lock_guard fileLock(fileLockMutex_);
        fileLock_ = std::move(held);
    }
    {
        std::lock_guard lock(sessionMutex_);
        refreshing_ = true;
    }
    struct LetGo {
        AuthService& self;
        ~LetGo() {
            std::lock_guard lock(self.sessionMutex_);
            self.refreshing_ = false;
            self.letGoOfFileLockWhenDone();
        }
    } letGo{*this};
    // Another copy may have renewed the session since this one found it expired: its pair is
    // used, and the refresh token it stored is kept for the next expiry.
    if (const auto stored = sessionToken(kAccessTokenKey);
        foundExpired && stored && stored != foundExpired && !isTokenExpired(*stored)) {
        answered();
        return {stored};
    }
    const auto askedWith = sessionToken(kAccessTokenKey);
    const auto refreshToken = sessionToken(kRefreshTokenKey);
    if (!refreshToken) {
        markSessionGone();
        return {};
    }
    auto request = tokenRequest("refresh_token", {{"refresh_token", *refreshToken}});
    request.timeout = kRequestTimeout;
    if (!http::isPermittedURL(request.url)) return {sessionToken(kAccessTokenKey), Refreshed::PutOff::unreachable};
    http::HTTPClientResponse response;
    for (int attempt = 1;; ++attempt) {
        const auto sent = clock_.now();
        try {
            response = transport_->send(request, stop);
            break;
        } catch (const http::TransportError&) {
            // The service may have spent the token and issued a pair this copy never heard of.
            // A copy stopped while the request was out asks again at once; otherwise it asks
            // again by itself, while the service still gives that pair.
            if (stop.stop_requested())
                return {sessionToken(kAccessTokenKey), Refreshed::PutOff::unreachable};
            if (attempt == 1 && clock_.now() - sent > kStoppedMeanwhile) continue;
            noteUnanswered(askedWith);
            // Offline: the session stays as it is, and an expired token is not sent to be refused.
            return {sessionToken(kAccessTokenKey), Refreshed::PutOff::unreachable};
        }
    }
    // Too busy or failing (a full disk, say): the grant was not refused and the refresh token
    // not spent, so the session stays as it is, as when offline. An unanswered refresh before it
    // is asked again still.
    if (response.statusCode == 429 || (response.statusCode >= 500 && response.statusCode <= 599)) {
        return {sessionToken(kAccessTokenKey), Refreshed::PutOff::busy};
    }
    const auto reply = json_fields::parseObject(response.body);
    const auto errorCode = reply ? json_fields::lenientText(*reply, "error") : std::nullopt;
    // A refusal of the app's key says nothing of the session.
    if (response.statusCode == 401 && errorCode == "invalid_api_key") {
        return {sessionToken(kAccessTokenKey), Refreshed::PutOff::keyRefused};
    }
    const auto access = reply ? json_fields::lenientText(*reply, "access_token") : std::nullopt;
    const auto refresh = reply ? json_fields::lenientText(*reply, "refresh_token") : std::nullopt;
    // Stored, unusable tokens would outlive the working session they replaced.
    const bool granted = response.statusCode == 200 && access && refresh && usablePair(*access, *refresh);
    // Only the service turning the token down ends the session: whatever else answered (a proxy
    // timing out, a captive portal's page, a wrong address) may never have seen it.
    const bool refused = response.statusCode == 401 || response.statusCode == 403 ||
                         (response.statusCode == 400 && errorCode == "invalid_grant");
    if (!granted && !refused) return {sessionToken(kAccessTokenKey), Refreshed::PutOff::unreachable};
    answered();
    std::lock_guard lock(sessionMutex_);
    storePendingSession();
    // The refresh token the file holds for this session: the spent one while a pair is pending.
    const std::optional<std::string> filed =
        pending_ && pending_->refreshToken == *refreshToken ? pending_->replaces : refreshToken;
    if (pending_ && pending_->refreshToken != *refreshToken) return {pending_->accessToken};  // replaced meanwhile
    const std::optional<EndedSession> replacing = pending_ ? pending_->replacing : std::nullopt;
    // A pair stored while the request was out (by a sign-out or sign-in here, or by a writer
    // that took no lock) wins over this answer, whatever it is, and is the one to use.
    bool stale = false;
    std::optional<std::string> storedAccess;
    const bool saved = updateStored([&](std::map<std::string, std::string>& values) {
        const auto stored = values.find(kRefreshTokenKey);
        if (stored == values.end() || stored->second != filed) {
            stale = true;
            if (const auto other = values.find(kAccessTokenKey); stored != values.end() && other != values.end())
                storedAccess = other->second;
            return false;
        }
        if (granted) {
            // One write: written apart, a crash between them would keep a refresh token already spent.
            values[kAccessTokenKey] = *access;
            values[kRefreshTokenKey] = *refresh;
        } else {
            values.erase(kAccessTokenKey);
            values.erase(kRefreshTokenKey);
            values.erase(kSignInOrderKey);
        }
        return true;
    });
    if (stale) return {storedAccess};
    if (!granted) {
        pending_.reset();
        shown_.reset();
        update([](Fields& f) {
            f.isAuthenticated = false;
            f.userEmail.reset();
            f.notice = kSessionEnded;  // the sign-in form comes back: it says why
        });
        return {};
    }
    // The service spent the old refresh token: a pair the file refused lives on in memory.
    if (saved) {
        pending_.reset();
    } else {
        log("[AuthService] The renewed session could not be stored; it is kept until it can be");
        pending_ = PendingSession{*access, *refresh, filed, false, {}, replacing};
        retryPendingSession();
    }
    shown_ = EndedSession{sessionIDFromJWT(*access), *access, *refresh};
    const auto email = emailFromJWT(*access);
    update([&](Fields& f) {
        f.isAuthenticated = true;
        if (email) f.userEmail = email;
        if (!saved) f.notice = kSessionNotSaved;
    });
    return {access};
}

std::optional<std::string> AuthService::getValidToken(std::stop_token stop) {
    const auto stored = sessionToken(kAccessTokenKey);
    if (!stored) {
        markSessionGone();
        return std::nullopt;
    }
    // Another copy may have signed someone else in since: the copy goes on as them.
    if (!isTokenExpired(*stored)) return handOut(stored);
    const auto refreshed = refresh(std::move(stop), stored);
    if (refreshed.putOff != Refreshed::PutOff::no) {
        // In its last minute the backend still takes it (with a few seconds to spare for the
        // request's way); past that it would be answered 401, which tells the user to sign in
        // again when only the service is busy or out of reach.
        if (refreshed.token && !expiresWithin(*refreshed.token, 10)) return handOut(refreshed.token);
        throwPutOff(refreshed);
    }
    if (refreshed.token) return handOut(refreshed.token);
    return stored;  // the backend answers 401 and the user is told to sign in again
}

void AuthService::throwPutOff(const Refreshed& refreshed) {
    switch (refreshed.putOff) {
        case Refreshed::PutOff::unreachable: throw ServiceUnreachable();
        case Refreshed::PutOff::noAnswer: throw NoAnswer();
        case Refreshed::PutOff::keyRefused: throw KeyRefused();
        case Refreshed::PutOff::locked: throw SessionFileLocked(refreshed.lockRefusal);
        default: throw ServiceBusy();
    }
}

std::optional<std::string> AuthService::sessionIDFromJWT(const std::string& token) {
    const auto payload = decodeJWTPayload(token);
    if (!payload) return std::nullopt;
    auto id = json_fields::lenientText(*payload, "session_id");
    if (id && id->empty()) return std::nullopt;
    return id;
}

std::optional<nlohmann::json> AuthService::decodeJWTPayload(const std::string& token) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= token.size()) {
        const auto dot = token.find('.', start);
        const auto piece = token.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!piece.empty()) pieces.push_back(piece);
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (pieces.size() != 3) return std::nullopt;
    std::string payload = pieces[1];
    for (char& c : payload) {
        if (c == '-') c = '+';
        if (c == '_') c = '/';
    }
    while (payload.size() % 4 != 0) payload.push_back('=');
    const auto decoded = base64Decode(payload);
    if (!decoded) return std::nullopt;
    return json_fields::parseObject(*decoded);
}

std::optional<std::string> AuthService::emailFromJWT(const std::string& token) {
    const auto payload = decodeJWTPayload(token);
    if (!payload) return std::nullopt;
    if (auto email = json_fields::lenientText(*payload, "email"); email && !email->empty()) return email;
    if (auto nested = json_fields::lenientText(payload->value("user_metadata", nlohmann::json::object()), "email");
        nested && !nested->empty()) {
        return nested;
    }
    return std::nullopt;
}

bool AuthService::isTokenExpired(const std::string& token) const { return expiresWithin(token, 60); }

bool AuthService::usablePair(const std::string& accessToken, const std::string& refreshToken) {
    return hasExpiry(accessToken) && !refreshToken.empty();
}

bool AuthService::hasExpiry(const std::string& token) {
    const auto payload = decodeJWTPayload(token);
    if (!payload) return false;
    const auto exp = payload->find("exp");
    return exp != payload->end() && exp->is_number() && std::isfinite(exp->get<double>());
}

bool AuthService::expiresWithin(const std::string& token, double seconds) const {
    const auto payload = decodeJWTPayload(token);
    if (!payload) return true;
    const auto exp = payload->find("exp");
    if (exp == payload->end() || !exp->is_number()) return true;
    const double now = std::chrono::duration<double>(clock_.now().time_since_epoch()).count();
    const double expiry = exp->get<double>();
    return !std::isfinite(expiry) || expiry - seconds < now;
}

}  // namespace corvane::networking
