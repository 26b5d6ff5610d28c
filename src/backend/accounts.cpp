#include "backend/accounts.h"

#include <sodium.h>

#include <stdexcept>

#include "backend/jwt.h"
#include "support/files.h"
#include "support/unicode.h"

namespace fs = std::filesystem;

namespace corvane::backend {
namespace {

void initialiseSodium() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium could not be initialised");
}

std::string normalisedEmail(const std::string& email) {
    return text::lowercased(text::trimmingWhitespaceAndNewlines(email));
}

std::string hex(const std::string& bytes) {
    std::string out(bytes.size() * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    out.pop_back();
    return out;
}

std::string randomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    randombytes_buf(bytes.data(), bytes.size());
    return bytes;
}

std::string sha256Hex(const std::string& text) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    return hex(std::string(reinterpret_cast<const char*>(digest), sizeof digest));
}

// The file as an object, empty when it is missing or could not be decoded.
StoreFile::Contents<nlohmann::json> readObject(StoreFile& file) {
    auto contents = file.load<nlohmann::json>(decodeJSONObject);
    if (!contents.value.is_object()) contents.value = nlohmann::json::object();
    return contents;
}

}  // namespace

PasswordCost PasswordCost::interactive() {
    return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
}
PasswordCost PasswordCost::minimum() { return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN}; }

AccountStore::AccountStore(fs::path dataFolder, PasswordCost cost)
    : file_(std::move(dataFolder) / "accounts.json", "AccountStore", {.mode = 0600}), cost_(cost) {
    initialiseSodium();
}

bool AccountStore::addUser(const std::string& email, const std::string& password) {
    const std::string key = normalisedEmail(email);
    if (key.empty() || password.empty()) return false;
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(hash, password.data(), password.size(), cost_.opsLimit, cost_.memLimit,
                              crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return false;
    }
    std::lock_guard lock(mutex_);
    auto accounts = readObject(file_);
    accounts.value[key] = {{"email", text::trimmingWhitespaceAndNewlines(email)}, {"password_hash", std::string(hash)}};
    return file_.save(accounts, accounts.value);
}

std::optional<std::string> AccountStore::verify(const std::string& email, const std::string& password) const {
    nlohmann::json account;
    {
        std::lock_guard lock(mutex_);
        const auto accounts = readObject(file_).value;
        const auto found = accounts.find(normalisedEmail(email));
        if (found == accounts.end() || !found->is_object()) return std::nullopt;
        account = *found;
    }
    const auto hash = account.find("password_hash");
    const auto stored = account.find("email");
    if (hash == account.end() || !hash->is_string() || stored == account.end() || !stored->is_string()) {
        return std::nullopt;
    }
    const std::string hashText = hash->get<std::string>();
    if (crypto_pwhash_str_verify(hashText.c_str(), password.data(), password.size()) != 0) return std::nullopt;
    return stored->get<std::string>();
}

TokenService::TokenService(fs::path dataFolder, std::chrono::seconds accessLifetime, platform::Clock& clock)
    : folder_(std::move(dataFolder)),
      refreshTokens_(folder_ / "refresh-tokens.json", "TokenService", {.mode = 0600}),
      accessLifetime_(accessLifetime),
      clock_(clock) {
    initialiseSodium();
    const fs::path secretFile = folder_ / "jwt-secret";
    const FileRead stored = readFile(secretFile);
    if (stored.ok()) {
        std::string bytes(crypto_auth_hmacsha256_KEYBYTES, '\0');
        std::size_t length = 0;
        if (sodium_hex2bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(), stored.bytes.data(),
                           stored.bytes.size(), "\n", &length, nullptr) == 0 &&
            length == bytes.size()) {
            secret_ = bytes;
        }
    }
    if (secret_.empty()) {
        secret_ = randomBytes(crypto_auth_hmacsha256_KEYBYTES);
        if (!writePrivateFile(secretFile, hex(secret_) + "\n")) {
            throw std::runtime_error("cannot write " + secretFile.string());
        }
    }
}

Session TokenService::issueLocked(const std::string& email) {
    const auto now = std::chrono::duration_cast<std::chrono::seconds>(clock_.now().time_since_epoch()).count();
    Session session;
    session.email = email;
    session.expiresAt = now + accessLifetime_.count();
    session.accessToken = signJWT({{"sub", sha256Hex(text::lowercased(email)).substr(0, 32)},
                                   {"email", email},
                                   {"user_metadata", {{"email", email}}},
                                   {"iat", now},
                                   {"exp", session.expiresAt},
                                   {"jti", hex(randomBytes(8))}},
                                  secret_);
    session.refreshToken = hex(randomBytes(32));
    auto tokens = readObject(refreshTokens_);
    tokens.value[sha256Hex(session.refreshToken)] = {{"email", email}, {"issued_at", now}};
    if (!refreshTokens_.save(tokens, tokens.value)) throw std::runtime_error("cannot store the refresh token");
    return session;
}

Session TokenService::issue(const std::string& email) {
    std::lock_guard lock(mutex_);
    return issueLocked(email);
}

std::optional<Session> TokenService::refresh(const std::string& refreshToken) {
    std::lock_guard lock(mutex_);
    auto tokens = readObject(refreshTokens_);
    const auto found = tokens.value.find(sha256Hex(refreshToken));
    if (found == tokens.value.end() || !found->is_object() || !found->contains("email") ||
        !(*found)["email"].is_string()) {
        return std::nullopt;
    }
    const std::string email = (*found)["email"].get<std::string>();
    tokens.value.erase(found);
    if (!refreshTokens_.save(tokens, tokens.value)) throw std::runtime_error("cannot store the refresh tokens");
    return issueLocked(email);
}

std::optional<std::string> TokenService::verifyAccessToken(const std::string& token) const {
    const auto claims = verifyJWT(token, secret_);
    if (!claims || !claims->contains("exp") || !(*claims)["exp"].is_number() || !claims->contains("email") ||
        !(*claims)["email"].is_string()) {
        return std::nullopt;
    }
    const double now = std::chrono::duration<double>(clock_.now().time_since_epoch()).count();
    if ((*claims)["exp"].get<double>() <= now) return std::nullopt;
    return (*claims)["email"].get<std::string>();
}

}  // namespace corvane::backend
