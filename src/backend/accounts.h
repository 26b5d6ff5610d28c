#pragma once

// The backend's local accounts and sessions: "accounts.json" (argon2id password hashes),
// "jwt-secret" (the HS256 key, made on first start) and "refresh-tokens.json" (the sessions and
// hashes of their refresh tokens, each good for one use). Every file is 0600. The two JSON files follow the
// stores' policy (StoreFile): an undecodable one is archived beside itself and written over only
// once that backup exists, so a damaged file never costs the accounts it held. Both are kept in
// memory and read again only when they changed on disk ("add-user" runs as another process).

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "backend/session_table.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "support/store_file.h"

namespace corvane::backend {

// libsodium's cost parameters for argon2id; tests use the minimum.
struct PasswordCost {
    unsigned long long opsLimit;
    std::size_t memLimit;
    static PasswordCost interactive();
    static PasswordCost minimum();
};

class AccountStore {
public:
    // Throws std::runtime_error when no password hash can be made.
    AccountStore(std::filesystem::path dataFolder, PasswordCost cost = PasswordCost::interactive());

    // Adds or replaces the account; false when the e-mail or password is empty or the file
    // cannot be written.
    bool addUser(const std::string& email, const std::string& password);
    // Whether the account was there and is gone now; its sessions end with it.
    bool removeUser(const std::string& email);
    // The account's e-mail as stored when the password matches. An unknown e-mail costs the same
    // hashing as a wrong password, so the time taken tells nothing about which accounts exist.
    std::optional<std::string> verify(const std::string& email, const std::string& password) const;
    // What a session carries to stay bound to the account: it changes with the password and is
    // absent once the account is removed (also when the file was edited while the service was stopped).
    std::optional<std::string> sessionStamp(const std::string& email) const;

private:
    const nlohmann::json& accountsLocked() const;

    mutable StoreFile file_;  // guarded by mutex_, as are the two below
    mutable std::optional<nlohmann::json> cached_;
    mutable std::optional<FileStamp> cachedStamp_;
    PasswordCost cost_;
    mutable std::mutex mutex_;
    std::string decoyHash_;  // what an unknown e-mail's password is checked against
};

struct Session {
    std::string accessToken;
    std::string refreshToken;
    std::int64_t expiresAt = 0;
    std::string email;
};

// The sessions file refused a change (a full disk, the file-size limit): its reason, for the answer.
class SessionsNotStored : public std::runtime_error {
public:
    explicit SessionsNotStored(const std::string& reason)
        : std::runtime_error("The session could not be stored: " + reason) {}
};

struct TokenLifetimes {
    std::chrono::seconds access = std::chrono::hours(1);
    std::chrono::seconds refresh = std::chrono::hours(24 * 30);
    // How long a just-used refresh token still gets the pair it was exchanged for.
    std::chrono::seconds reuseGrace = std::chrono::seconds(60);
};

// Each sign-in starts a session; each refresh consumes its refresh token and gives the next pair
// of the same session. A client that died before storing that pair comes back with the used
// token: within the grace, while the new pair is unused, it gets the same pair again. A session
// ends when it signs out, when its account is removed or gets a new password, when its last refresh token expires,
// when its account signs in more than kMaxSessionsPerAccount times after it (the oldest ends
// first), and when one of its last kSpentTokensPerSession used refresh tokens comes back otherwise
// (someone holds a copy: every token of the session, access tokens included, stops working); an
// older one is refused like an unknown token.
class TokenService {
public:
    static constexpr std::size_t kMaxSessionsPerAccount = 50;
    // Spent refresh tokens remembered per session, to tell their replay.
    static constexpr std::size_t kSpentTokensPerSession = 8;

    TokenService(std::filesystem::path dataFolder, const AccountStore& accounts, TokenLifetimes lifetimes = {},
                 platform::Clock& clock = platform::clock());

    // Throws SessionsNotStored when the session cannot be stored.
    Session issue(const std::string& email);
    // Consumes the refresh token and gives the session's next pair; none for an unknown, expired
    // or used token, or a session that ended.
    std::optional<Session> refresh(const std::string& refreshToken);
    // The e-mail of a validly signed access token of a live session, unexpired and with no longer
    // a lifetime than this service gives.
    std::optional<std::string> verifyAccessToken(const std::string& token) const;
    // Ends the session of an access token that verifyAccessToken accepts: its access and refresh
    // tokens stop working at once. False for any other token. Throws SessionsNotStored when the
    // change cannot be stored.
    bool signOut(const std::string& accessToken);

private:
    // What a token check needs of a live session.
    struct CheckedSession {
        std::string email;
        std::optional<std::string> stamp;
    };

    struct TokenSession {
        std::string email;
        std::string id;
    };
    std::optional<TokenSession> checkAccessToken(const std::string& token) const;
    Session issueLocked(const std::string& email, const std::string& sessionID, SessionTable& table);
    // The pair `spent` was exchanged for, sealed so that only the holder of `spent` opens it.
    std::string seal(const std::string& spent, const Session& pair) const;
    std::optional<Session> unseal(const std::string& spent, const std::string& sealed) const;
    // The table as the file holds it, its sessions published to the checks.
    SessionTable& table();
    void save(SessionTable& table);
    void publish(SessionTable& table);
    std::int64_t nowSeconds() const;

    std::filesystem::path folder_;
    const AccountStore& accounts_;
    TokenLifetimes lifetimes_;
    platform::Clock& clock_;
    std::string secret_;
    mutable std::mutex mutex_;
    mutable CachedStoreFile<SessionTable> sessions_;  // guarded by mutex_
    // The sessions as last stored, by id, for token checks: a check runs on the server's I/O
    // thread and must not wait behind a refresh writing the file, which holds mutex_.
    mutable std::mutex checkMutex_;
    std::unordered_map<std::string, CheckedSession> checked_;  // guarded by checkMutex_
};

}  // namespace corvane::backend
