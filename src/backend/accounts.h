#pragma once

// The backend's local accounts and sessions: "accounts.json" (argon2id password hashes),
// "jwt-secret" (the HS256 key, made on first start) and "refresh-tokens.json" (hashes of the
// live refresh tokens, each good for one use). Every file is 0600. The two JSON files follow the
// stores' policy (StoreFile): an undecodable one is archived beside itself and written over only
// once that backup exists, so a damaged file never costs the accounts it held.

#include <chrono>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

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
    AccountStore(std::filesystem::path dataFolder, PasswordCost cost = PasswordCost::interactive());

    // Adds or replaces the account; false when the e-mail or password is empty or the file
    // cannot be written.
    bool addUser(const std::string& email, const std::string& password);
    // The account's e-mail as stored when the password matches.
    std::optional<std::string> verify(const std::string& email, const std::string& password) const;

private:
    mutable StoreFile file_;  // guarded by mutex_
    PasswordCost cost_;
    mutable std::mutex mutex_;
};

struct Session {
    std::string accessToken;
    std::string refreshToken;
    std::int64_t expiresAt = 0;
    std::string email;
};

class TokenService {
public:
    TokenService(std::filesystem::path dataFolder, std::chrono::seconds accessLifetime = std::chrono::hours(1),
                 platform::Clock& clock = platform::clock());

    Session issue(const std::string& email);
    // Consumes the refresh token and gives a new session; none for an unknown or used token.
    std::optional<Session> refresh(const std::string& refreshToken);
    // The e-mail of a valid, unexpired access token.
    std::optional<std::string> verifyAccessToken(const std::string& token) const;

private:
    Session issueLocked(const std::string& email);

    std::filesystem::path folder_;
    StoreFile refreshTokens_;  // guarded by mutex_
    std::chrono::seconds accessLifetime_;
    platform::Clock& clock_;
    std::string secret_;
    mutable std::mutex mutex_;
};

}  // namespace corvane::backend
