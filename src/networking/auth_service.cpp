#include "networking/auth_service.h"

#include <cmath>
#include <cstdlib>

#include "networking/keychain_store.h"
#include "support/base64.h"
#include "support/files.h"
#include "support/json_fields.h"

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
    // Refreshed only when near expiry: each refresh spends the refresh token, and a kill before
    // the new pair is stored loses it. Nobody waits for it.
    if (isTokenExpired(*accessToken)) startupRefresh_ = std::jthread([this] { refreshTokenIfNeeded(); });
}

AuthService::~AuthService() { waitForStartupRefresh(); }

void AuthService::waitForStartupRefresh() {
    if (startupRefresh_.joinable()) startupRefresh_.join();
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

void AuthService::saveSession(const std::string& accessToken, const std::string& refreshToken) {
    // One write: written apart, a crash between them would keep a refresh token already spent.
    KeychainStore::save({{kAccessTokenKey, accessToken}, {kRefreshTokenKey, refreshToken}});
}

void AuthService::signIn(const std::string& email, const std::string& password) {
    update([](Fields& f) {
        f.isLoading = true;
        f.errorMessage.reset();
    });
    std::optional<std::string> failure;
    std::optional<std::string> signedInEmail;
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
            } else {
                {
                    std::lock_guard lock(sessionMutex_);
                    saveSession(*access, *refresh);
                }
                signedInEmail =
                    json_fields::lenientText(reply->value("user", nlohmann::json::object()), "email").value_or(email);
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
        }
    });
}

void AuthService::signOutLocked() {
    KeychainStore::remove(kAccessTokenKey);
    KeychainStore::remove(kRefreshTokenKey);
    update([](Fields& f) {
        f.isAuthenticated = false;
        f.userEmail.reset();
    });
}

void AuthService::signOut() {
    std::lock_guard lock(sessionMutex_);
    signOutLocked();
}

std::optional<std::string> AuthService::refreshTokenIfNeeded() { return refresh().token; }

AuthService::Refreshed AuthService::refresh() {
    std::promise<Refreshed> promise;
    std::shared_future<Refreshed> pending;
    {
        std::lock_guard lock(refreshMutex_);
        if (refreshInFlight_) {
            pending = *refreshInFlight_;
            ++refreshWaiters_;
        } else {
            refreshInFlight_ = promise.get_future().share();
        }
    }
    if (pending.valid()) {
        const auto result = pending.get();
        std::lock_guard lock(refreshMutex_);
        --refreshWaiters_;
        return result;
    }
    Refreshed result;
    try {
        result = performRefresh();
    } catch (const std::exception&) {
        result = {};
    }
    {
        std::lock_guard lock(refreshMutex_);
        refreshInFlight_.reset();
    }
    promise.set_value(result);
    return result;
}

AuthService::Refreshed AuthService::performRefresh() {
    const auto refreshToken = KeychainStore::read(kRefreshTokenKey);
    if (!refreshToken) {
        update([](Fields& f) { f.isAuthenticated = false; });
        return {};
    }
    http::HTTPClientResponse response;
    try {
        const auto request = tokenRequest("refresh_token", {{"refresh_token", *refreshToken}});
        if (!http::isPermittedURL(request.url)) throw http::TransportError("plain HTTP is for the loopback host only");
        response = transport_->send(request);
    } catch (const http::TransportError&) {
        return {KeychainStore::read(kAccessTokenKey)};  // offline: the session stays as it is
    }
    // Too busy or failing (a full disk, say): the grant was not refused and the refresh token
    // not spent, so the session stays as it is, as when offline.
    if (response.statusCode == 429 || (response.statusCode >= 500 && response.statusCode <= 599)) {
        return {KeychainStore::read(kAccessTokenKey), Refreshed::PutOff::busy};
    }
    const auto reply = json_fields::parseObject(response.body);
    const auto access = reply ? json_fields::lenientText(*reply, "access_token") : std::nullopt;
    const auto refresh = reply ? json_fields::lenientText(*reply, "refresh_token") : std::nullopt;
    const bool granted = response.statusCode == 200 && access && refresh;
    // Only the service turning the token down ends the session: whatever else answered (a proxy
    // timing out, a captive portal's page, a wrong address) may never have seen it.
    const bool refused =
        response.statusCode == 401 || response.statusCode == 403 ||
        (response.statusCode == 400 && reply && json_fields::lenientText(*reply, "error") == "invalid_grant");
    if (!granted && !refused) return {KeychainStore::read(kAccessTokenKey), Refreshed::PutOff::unreachable};
    std::lock_guard lock(sessionMutex_);
    // A sign-out or sign-in while the request was out wins over its answer, whatever the answer.
    if (KeychainStore::read(kRefreshTokenKey) != refreshToken) return {};
    if (granted) {
        saveSession(*access, *refresh);
        const auto email = emailFromJWT(*access);
        update([&](Fields& f) {
            f.isAuthenticated = true;
            if (email) f.userEmail = email;
        });
        return {access};
    }
    signOutLocked();
    return {};
}

std::optional<std::string> AuthService::getValidToken() {
    const auto stored = KeychainStore::read(kAccessTokenKey);
    if (!stored) {
        update([](Fields& f) { f.isAuthenticated = false; });
        return std::nullopt;
    }
    if (!isTokenExpired(*stored)) return stored;
    const auto refreshed = refresh();
    if (refreshed.putOff != Refreshed::PutOff::no) {
        // In its last minute the backend still takes it (with a few seconds to spare for the
        // request's way); past that it would be answered 401, which tells the user to sign in
        // again when only the service is busy or out of reach.
        if (refreshed.token && !expiresWithin(*refreshed.token, 10)) return refreshed.token;
        if (refreshed.putOff == Refreshed::PutOff::unreachable) throw ServiceUnreachable();
        throw ServiceBusy();
    }
    if (refreshed.token) return refreshed.token;
    return stored;  // the backend answers 401 and the user is told to sign in again
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
