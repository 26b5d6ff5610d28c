#include "backend/accounts.h"

#include <sodium.h>

#include <stdexcept>

#include "backend/jwt.h"
#include "support/files.h"
#include "support/json_fields.h"
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
    // Made now, not at the first unknown e-mail: that one would take a hash longer than a known one.
    const std::string decoy = randomBytes(16);
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(hash, decoy.data(), decoy.size(), cost_.opsLimit, cost_.memLimit,
                              crypto_pwhash_ALG_ARGON2ID13) != 0) {
        throw std::runtime_error("no password hash could be made");
    }
    decoyHash_ = hash;
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
    cached_.reset();
    return file_.save(accounts, accounts.value);
}

bool AccountStore::removeUser(const std::string& email) {
    std::lock_guard lock(mutex_);
    auto accounts = readObject(file_);
    if (accounts.value.erase(normalisedEmail(email)) == 0) return false;
    cached_.reset();
    return file_.save(accounts, accounts.value);
}

const nlohmann::json& AccountStore::accountsLocked() const {
    const auto stamp = fileStamp(file_.path());  // before the read: a change after it shows next time
    if (cached_ && stamp && stamp == cachedStamp_) return *cached_;
    auto contents = readObject(file_);
    cached_ = std::move(contents.value);
    cachedStamp_ = contents.found == StoreFile::Found::decoded ? stamp : std::nullopt;
    return *cached_;
}

std::optional<std::string> AccountStore::verify(const std::string& email, const std::string& password) const {
    nlohmann::json account;
    {
        std::lock_guard lock(mutex_);
        const auto& accounts = accountsLocked();
        const auto found = accounts.find(normalisedEmail(email));
        if (found != accounts.end() && found->is_object()) account = *found;
    }
    const auto hash = account.find("password_hash");
    const auto stored = account.find("email");
    const bool usable = account.is_object() && hash != account.end() && hash->is_string() && stored != account.end() &&
                        stored->is_string();
    // The decoy is checked and the answer thrown away: the same work as a real account's.
    const std::string hashText = usable ? hash->get<std::string>() : decoyHash_;
    const bool matches = crypto_pwhash_str_verify(hashText.c_str(), password.data(), password.size()) == 0;
    if (!usable || !matches) return std::nullopt;
    return stored->get<std::string>();
}

std::optional<std::string> AccountStore::sessionStamp(const std::string& email) const {
    std::lock_guard lock(mutex_);
    const auto& accounts = accountsLocked();
    const auto found = accounts.find(normalisedEmail(email));
    if (found == accounts.end()) return std::nullopt;
    const auto hash = json_fields::lenientText(*found, "password_hash");
    if (!hash) return std::nullopt;
    return sha256Hex(*hash).substr(0, 32);
}

TokenService::TokenService(fs::path dataFolder, const AccountStore& accounts, TokenLifetimes lifetimes,
                           platform::Clock& clock)
    : folder_(std::move(dataFolder)),
      accounts_(accounts),
      lifetimes_(lifetimes),
      clock_(clock),
      sessions_(StoreFile(folder_ / "refresh-tokens.json", "TokenService", {.mode = 0600}), &SessionTable::decode, {},
                &SessionTable::encode) {
    initialiseSodium();
    const fs::path secretFile = folder_ / "jwt-secret";
    removeLeftoverTemporaryFiles(secretFile);
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
    std::lock_guard lock(mutex_);
    table();
}

std::int64_t TokenService::nowSeconds() const {
    return std::chrono::duration_cast<std::chrono::seconds>(clock_.now().time_since_epoch()).count();
}

namespace {

std::optional<std::int64_t> integerMember(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer()) return std::nullopt;
    return found->get<std::int64_t>();
}

}  // namespace

Session TokenService::issueLocked(const std::string& email, const std::string& sessionID, SessionTable& table) {
    const auto now = nowSeconds();
    Session session;
    session.email = email;
    session.expiresAt = now + lifetimes_.access.count();
    session.accessToken = signJWT({{"sub", sha256Hex(text::lowercased(email)).substr(0, 32)},
                                   {"email", email},
                                   {"user_metadata", {{"email", email}}},
                                   {"session_id", sessionID},
                                   {"iat", now},
                                   {"exp", session.expiresAt},
                                   {"jti", hex(randomBytes(8))}},
                                  secret_);
    session.refreshToken = hex(randomBytes(32));
    table.addToken(sha256Hex(session.refreshToken), sessionID, now + lifetimes_.refresh.count());
    return session;
}

SessionTable& TokenService::table() {
    SessionTable& current = sessions_.current().value;
    publish(current);  // read again since the last write, if at all
    return current;
}

// One write per change; a write that fails drops the change (the file is read again) and throws.
// The checks learn of a change once it is stored.
void TokenService::save(SessionTable& table) {
    table.prune(nowSeconds());
    table.dropPairsSpentBy(nowSeconds() - lifetimes_.reuseGrace.count());
    if (!sessions_.save()) throw SessionsNotStored(sessions_.lastFailure().value_or("the sessions file was not written"));
    publish(table);
}

void TokenService::publish(SessionTable& table) {
    const auto changes = table.takeChanges();
    if (!changes.all && changes.sessions.empty()) return;
    std::lock_guard lock(checkMutex_);
    if (changes.all) {
        checked_.clear();
        for (const auto& [id, session] : table.sessions()) checked_[id] = {session.email, session.stamp};
        return;
    }
    for (const auto& id : changes.sessions) {
        if (const StoredSession* session = table.session(id)) {
            checked_[id] = {session->email, session->stamp};
        } else {
            checked_.erase(id);
        }
    }
}

Session TokenService::issue(const std::string& email) {
    const auto stamp = accounts_.sessionStamp(email);
    if (!stamp) throw std::runtime_error("no account " + email);
    std::lock_guard lock(mutex_);
    SessionTable& table = this->table();
    table.prune(nowSeconds());  // expired sessions do not count against the account's limit
    const std::string sessionID = hex(randomBytes(16));
    table.addSession(sessionID, email, *stamp);
    table.limitSessions(email, kMaxSessionsPerAccount);
    Session session = issueLocked(email, sessionID, table);
    save(table);
    return session;
}

namespace {
// Made from the spent token and the service's secret: the file alone, which holds only the
// token's SHA-256, opens no pair.
void graceKey(unsigned char (&key)[crypto_secretbox_KEYBYTES], const std::string& spent, const std::string& secret) {
    crypto_generichash(key, sizeof key, reinterpret_cast<const unsigned char*>(spent.data()), spent.size(),
                       reinterpret_cast<const unsigned char*>(secret.data()), secret.size());
}
}  // namespace

std::string TokenService::seal(const std::string& spent, const Session& pair) const {
    unsigned char key[crypto_secretbox_KEYBYTES];
    graceKey(key, spent, secret_);
    const std::string plain = nlohmann::json{{"access_token", pair.accessToken},
                                             {"refresh_token", pair.refreshToken},
                                             {"expires_at", pair.expiresAt},
                                             {"email", pair.email}}
                                  .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string box(crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES + plain.size(), '\0');
    auto* bytes = reinterpret_cast<unsigned char*>(box.data());
    randombytes_buf(bytes, crypto_secretbox_NONCEBYTES);
    crypto_secretbox_easy(bytes + crypto_secretbox_NONCEBYTES, reinterpret_cast<const unsigned char*>(plain.data()),
                          plain.size(), bytes, key);
    sodium_memzero(key, sizeof key);
    return hex(box);
}

std::optional<Session> TokenService::unseal(const std::string& spent, const std::string& sealed) const {
    std::string box(sealed.size() / 2, '\0');
    std::size_t length = 0;
    if (sodium_hex2bin(reinterpret_cast<unsigned char*>(box.data()), box.size(), sealed.data(), sealed.size(), nullptr,
                       &length, nullptr) != 0 ||
        length != box.size() || length < crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES) {
        return std::nullopt;
    }
    unsigned char key[crypto_secretbox_KEYBYTES];
    graceKey(key, spent, secret_);
    const auto* bytes = reinterpret_cast<const unsigned char*>(box.data());
    std::string plain(length - crypto_secretbox_NONCEBYTES - crypto_secretbox_MACBYTES, '\0');
    const bool opened =
        crypto_secretbox_open_easy(reinterpret_cast<unsigned char*>(plain.data()), bytes + crypto_secretbox_NONCEBYTES,
                                   length - crypto_secretbox_NONCEBYTES, bytes, key) == 0;
    sodium_memzero(key, sizeof key);
    if (!opened) return std::nullopt;
    try {
        const auto document = decodeJSONObject(plain);
        Session pair;
        pair.accessToken = json_fields::text(document, "access_token");
        pair.refreshToken = json_fields::text(document, "refresh_token");
        pair.email = json_fields::text(document, "email");
        pair.expiresAt = integerMember(document, "expires_at").value_or(0);
        return pair;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<Session> TokenService::refresh(const std::string& refreshToken) {
    std::lock_guard lock(mutex_);
    const auto now = nowSeconds();
    SessionTable& table = this->table();
    const std::string hash = sha256Hex(refreshToken);
    StoredToken* token = table.liveToken(hash, now);
    if (token == nullptr) return std::nullopt;
    const std::string sessionID = token->session;
    const StoredSession* record = table.session(sessionID);
    const bool bound = record != nullptr && record->stamp && accounts_.sessionStamp(record->email) == record->stamp;
    if (bound && !token->used) {
        table.spend(*token);
        table.keepRecentSpent(sessionID, hash, kSpentTokensPerSession);
        const std::string email = record->email;
        Session next = issueLocked(email, sessionID, table);
        // Stored with the token, not kept in memory: the grace outlasts a restart.
        token = table.liveToken(hash, now);
        token->spentAt = now;
        token->next = sha256Hex(next.refreshToken);
        token->nextPair = seal(refreshToken, next);
        save(table);
        return next;
    }
    if (bound && token->spentAt > 0 && now < token->spentAt + lifetimes_.reuseGrace.count()) {
        // The same pair again, as long as nobody has used it yet: a client that lost it, not a copy.
        const StoredToken* next = token->next.empty() ? nullptr : table.liveToken(token->next, now);
        if (next != nullptr && !next->used && next->session == sessionID) {
            if (auto pair = unseal(refreshToken, token->nextPair); pair && sha256Hex(pair->refreshToken) == token->next) {
                return pair;
            }
            // Its pair cannot be given again (the grace's record of it lost, another secret):
            // a pair of its own keeps the session, and replaces the one it cannot give.
            const std::string email = record->email;
            const std::string replaced = token->next;
            Session fresh = issueLocked(email, sessionID, table);
            table.dropToken(replaced);
            token = table.liveToken(hash, now);
            token->next = sha256Hex(fresh.refreshToken);
            token->nextPair = seal(refreshToken, fresh);
            save(table);
            return fresh;
        }
    }
    table.endSession(sessionID);
    save(table);
    return std::nullopt;
}

std::optional<TokenService::TokenSession> TokenService::checkAccessToken(const std::string& token) const {
    const auto claims = verifyJWT(token, secret_);
    if (!claims) return std::nullopt;
    const auto expires = integerMember(*claims, "exp");
    const auto issued = integerMember(*claims, "iat");
    const auto email = json_fields::lenientText(*claims, "email");
    const auto sessionID = json_fields::lenientText(*claims, "session_id");
    if (!expires || !issued || !email || !sessionID) return std::nullopt;
    const auto now = nowSeconds();
    const auto lifetime = lifetimes_.access.count();
    // A token that claims to live longer than this service grants was not made by it as it is now.
    // (Compared without subtracting the token's numbers, which may be anything.)
    if (*expires <= now || *expires > now + lifetime || *issued < *expires - lifetime) return std::nullopt;
    std::optional<std::string> stamp;
    {
        std::lock_guard lock(checkMutex_);
        const auto record = checked_.find(*sessionID);
        if (record == checked_.end() || record->second.email != *email) return std::nullopt;
        stamp = record->second.stamp;
    }
    if (!stamp || accounts_.sessionStamp(*email) != stamp) return std::nullopt;
    return TokenSession{*email, *sessionID};
}

std::optional<std::string> TokenService::verifyAccessToken(const std::string& token) const {
    auto session = checkAccessToken(token);
    if (!session) return std::nullopt;
    return std::move(session->email);
}

bool TokenService::signOut(const std::string& accessToken) {
    const auto session = checkAccessToken(accessToken);
    if (!session) return false;
    std::lock_guard lock(mutex_);
    SessionTable& table = this->table();
    // Another sign-out (or a replay) may have ended it since the check.
    if (table.session(session->id) == nullptr) return false;
    table.endSession(session->id);
    save(table);
    return true;
}

}  // namespace corvane::backend
