#pragma once

// The sessions and refresh-token hashes of "refresh-tokens.json", held in memory with the indexes
// a request needs, so that checking one session costs the same with ten stored as with 50,000.
// The file: {"sessions": {id: {"email", "stamp", "seq"}}, "tokens": {sha-256 of a refresh token:
// {"session", "expires_at", "used", "spent_order", "spent_at", "next", "next_pair"}}}. Used tokens
// stay until they expire, so that a copy coming back is recognised. "spent_order" counts up across
// the table as tokens are spent; files without it load, their spent tokens counting as spent
// before any that carry one. "spent_at" (seconds) and "next" (the hash of the refresh token it was
// exchanged for) let a client that lost that pair have it again within the grace, across a
// restart; "next_pair" holds the pair sealed with a key only the spent token's holder can make,
// and goes once the grace is over. Anything else in the file (an older layout) is dropped.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace corvane::backend {

struct StoredSession {
    std::string email;
    std::optional<std::string> stamp;
    std::int64_t seq = 0;  // order of sign-in; files without it count as oldest
    std::set<std::string> tokens;
};

struct StoredToken {
    std::string session;
    std::int64_t expiresAt = 0;
    bool used = true;
    // When it was spent, in the table's order of spending; 0 when unknown (older files).
    std::int64_t spentOrder = 0;
    std::int64_t spentAt = 0;  // seconds; 0 when unknown
    std::string next{};        // hash of the refresh token it was exchanged for; empty when unknown
    std::string nextPair{};    // that pair, sealed; empty once the grace is over
};

class SessionTable {
public:
    // Throws on anything but a JSON object; malformed members are dropped.
    static SessionTable decode(const std::string& bytes);

    const StoredSession* session(const std::string& id) const;
    // A token that has not expired, else none.
    StoredToken* liveToken(const std::string& hash, std::int64_t now);

    void addSession(const std::string& id, const std::string& email, const std::string& stamp);
    void addToken(const std::string& hash, const std::string& sessionID, std::int64_t expiresAt);
    // Marks the token used, as the one spent last.
    void spend(StoredToken& token);
    // Forgets an unused token that was never handed out, or was handed out and replaced.
    void dropToken(const std::string& hash);
    // Forgets the sealed pairs of tokens spent at `when` or earlier.
    void dropPairsSpentBy(std::int64_t when);
    void endSession(const std::string& id);
    // Forgets the session's spent tokens but `spent` and the `keep` - 1 spent last before it, so
    // that the table grows with its sessions, not with their refreshes; gives the hashes forgotten.
    // A replay of a recent token is still told from an unknown one.
    std::vector<std::string> keepRecentSpent(const std::string& sessionID, const std::string& spent, std::size_t keep);
    // Ends the account's oldest sessions until it has at most `keep`.
    void limitSessions(const std::string& email, std::size_t keep);
    // Drops expired tokens, then the sessions no token is left of.
    void prune(std::int64_t now);

    std::size_t sessionCount() const { return sessions_.size(); }
    const std::unordered_map<std::string, StoredSession>& sessions() const { return sessions_; }

    // The sessions added or ended since the last call (`all`: the table was read whole since).
    struct Changes {
        bool all = false;
        std::vector<std::string> sessions;
    };
    Changes takeChanges();
    // The file's text (as encodeJSONDocument would write it) straight from the table, without
    // building a document of 100,000 objects first; false when a text is not valid UTF-8.
    static bool encode(const SessionTable& table, std::string& out);
    friend void to_json(nlohmann::json& out, const SessionTable& table);
    friend void from_json(const nlohmann::json& document, SessionTable& table);

private:
    static std::string accountKey(const std::string& email);

    std::unordered_map<std::string, StoredSession> sessions_;
    std::unordered_map<std::string, StoredToken> tokens_;
    // Account (e-mail lower-cased) → its sessions by sign-in order.
    std::unordered_map<std::string, std::set<std::pair<std::int64_t, std::string>>> byAccount_;
    std::int64_t nextSeq_ = 1;
    std::int64_t nextSpent_ = 1;
    Changes changes_{.all = true, .sessions = {}};  // a table made afresh is all new to whoever follows it
};

}  // namespace corvane::backend
