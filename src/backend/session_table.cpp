#include "backend/session_table.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <tuple>
#include <vector>

#include "support/json_fields.h"
#include "support/store_file.h"
#include "support/unicode.h"

namespace corvane::backend {
namespace {

using nlohmann::json;

std::optional<std::int64_t> integerMember(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number_integer()) return std::nullopt;
    return found->get<std::int64_t>();
}

}  // namespace

std::string SessionTable::accountKey(const std::string& email) {
    return text::lowercased(text::trimmingWhitespaceAndNewlines(email));
}

SessionTable SessionTable::decode(const std::string& bytes) { return decodeJSONObject(bytes).get<SessionTable>(); }

void from_json(const json& document, SessionTable& table) {
    if (!document.is_object()) throw json_fields::DecodeError("expected an object");
    table = SessionTable();
    const auto sessions = document.find("sessions");
    if (sessions != document.end() && sessions->is_object()) {
        for (const auto& [id, record] : sessions->items()) {
            const auto email = json_fields::lenientText(record, "email");
            if (!email) continue;
            StoredSession session{
                *email, json_fields::lenientText(record, "stamp"), integerMember(record, "seq").value_or(0), {}};
            table.nextSeq_ = std::max(table.nextSeq_, session.seq + 1);
            table.byAccount_[SessionTable::accountKey(*email)].emplace(session.seq, id);
            table.sessions_.emplace(id, std::move(session));
        }
    }
    const auto tokens = document.find("tokens");
    if (tokens != document.end() && tokens->is_object()) {
        for (const auto& [hash, record] : tokens->items()) {
            if (!record.is_object()) continue;
            const auto sessionID = json_fields::lenientText(record, "session");
            const auto expires = integerMember(record, "expires_at");
            const auto session = sessionID ? table.sessions_.find(*sessionID) : table.sessions_.end();
            if (!expires || session == table.sessions_.end()) continue;
            const auto used = record.find("used");
            const auto spentOrder = std::clamp<std::int64_t>(integerMember(record, "spent_order").value_or(0), 0,
                                                             std::numeric_limits<std::int64_t>::max() - 1);
            table.nextSpent_ = std::max(table.nextSpent_, spentOrder + 1);
            table.tokens_[hash] = {*sessionID,
                                   *expires,
                                   used == record.end() || !used->is_boolean() || used->get<bool>(),
                                   spentOrder,
                                   integerMember(record, "spent_at").value_or(0),
                                   json_fields::lenientText(record, "next").value_or(""),
                                   json_fields::lenientText(record, "next_pair").value_or("")};
            session->second.tokens.insert(hash);
        }
    }
}

void to_json(json& out, const SessionTable& table) {
    json sessions = json::object();
    for (const auto& [id, session] : table.sessions_) {
        json record = {{"email", session.email}, {"seq", session.seq}};
        if (session.stamp) record["stamp"] = *session.stamp;
        sessions[id] = std::move(record);
    }
    json tokens = json::object();
    for (const auto& [hash, token] : table.tokens_) {
        tokens[hash] = {{"session", token.session}, {"expires_at", token.expiresAt}, {"used", token.used}};
        if (token.spentOrder > 0) tokens[hash]["spent_order"] = token.spentOrder;
        if (token.spentAt > 0) tokens[hash]["spent_at"] = token.spentAt;
        if (!token.next.empty()) tokens[hash]["next"] = token.next;
        if (!token.nextPair.empty()) tokens[hash]["next_pair"] = token.nextPair;
    }
    out = {{"sessions", std::move(sessions)}, {"tokens", std::move(tokens)}};
}

namespace {

void appendString(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    static constexpr char kHex[] = "0123456789abcdef";
                    out += "\\u00";
                    out += kHex[(c >> 4) & 0xf];
                    out += kHex[c & 0xf];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

// Writes `"name": {` … `}` with the members in key order, each written by `member`.
template <class Map, class Member>
bool appendObject(std::string& out, const char* name, const Map& map, Member&& member) {
    out += "  \"";
    out += name;
    out += "\": ";
    if (map.empty()) {
        out += "{}";
        return true;
    }
    std::vector<const typename Map::value_type*> entries;
    entries.reserve(map.size());
    for (const auto& entry : map) entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(), [](const auto* a, const auto* b) { return a->first < b->first; });
    out += "{\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!text::isValidUTF8(entries[i]->first)) return false;
        out += "    ";
        appendString(out, entries[i]->first);
        out += ": {\n";
        if (!member(entries[i]->second)) return false;
        out += i + 1 < entries.size() ? "    },\n" : "    }\n";
    }
    out += "  }";
    return true;
}

}  // namespace

bool SessionTable::encode(const SessionTable& table, std::string& out) {
    out += "{\n";
    const bool sessionsWritten = appendObject(out, "sessions", table.sessions_, [&](const StoredSession& session) {
        if (!text::isValidUTF8(session.email) || (session.stamp && !text::isValidUTF8(*session.stamp))) return false;
        out += "      \"email\": ";
        appendString(out, session.email);
        out += ",\n      \"seq\": " + std::to_string(session.seq);
        if (session.stamp) {
            out += ",\n      \"stamp\": ";
            appendString(out, *session.stamp);
        }
        out += '\n';
        return true;
    });
    if (!sessionsWritten) return false;
    out += ",\n";
    const bool tokensWritten = appendObject(out, "tokens", table.tokens_, [&](const StoredToken& token) {
        if (!text::isValidUTF8(token.session) || !text::isValidUTF8(token.next) || !text::isValidUTF8(token.nextPair))
            return false;
        out += "      \"expires_at\": " + std::to_string(token.expiresAt);
        if (!token.next.empty()) {
            out += ",\n      \"next\": ";
            appendString(out, token.next);
        }
        if (!token.nextPair.empty()) {
            out += ",\n      \"next_pair\": ";
            appendString(out, token.nextPair);
        }
        out += ",\n      \"session\": ";
        appendString(out, token.session);
        if (token.spentAt > 0) out += ",\n      \"spent_at\": " + std::to_string(token.spentAt);
        if (token.spentOrder > 0) out += ",\n      \"spent_order\": " + std::to_string(token.spentOrder);
        out += token.used ? ",\n      \"used\": true\n" : ",\n      \"used\": false\n";
        return true;
    });
    if (!tokensWritten) return false;
    out += "\n}";
    return true;
}

const StoredSession* SessionTable::session(const std::string& id) const {
    const auto found = sessions_.find(id);
    return found == sessions_.end() ? nullptr : &found->second;
}

StoredToken* SessionTable::liveToken(const std::string& hash, std::int64_t now) {
    const auto found = tokens_.find(hash);
    if (found == tokens_.end() || found->second.expiresAt <= now) return nullptr;
    return &found->second;
}

void SessionTable::addSession(const std::string& id, const std::string& email, const std::string& stamp) {
    const std::int64_t seq = nextSeq_++;
    sessions_[id] = {email, stamp, seq, {}};
    byAccount_[accountKey(email)].emplace(seq, id);
    if (!changes_.all) changes_.sessions.push_back(id);
}

void SessionTable::addToken(const std::string& hash, const std::string& sessionID, std::int64_t expiresAt) {
    const auto session = sessions_.find(sessionID);
    if (session == sessions_.end()) return;
    tokens_[hash] = {sessionID, expiresAt, false};
    session->second.tokens.insert(hash);
}

void SessionTable::spend(StoredToken& token) {
    token.used = true;
    token.spentOrder = nextSpent_++;
}

void SessionTable::dropToken(const std::string& hash) {
    const auto token = tokens_.find(hash);
    if (token == tokens_.end()) return;
    if (const auto session = sessions_.find(token->second.session); session != sessions_.end()) {
        session->second.tokens.erase(hash);
    }
    tokens_.erase(token);
}

void SessionTable::dropPairsSpentBy(std::int64_t when) {
    for (auto& [hash, token] : tokens_) {
        if (!token.nextPair.empty() && token.spentAt <= when) token.nextPair.clear();
    }
}

void SessionTable::endSession(const std::string& id) {
    const auto session = sessions_.find(id);
    if (session == sessions_.end()) return;
    for (const auto& hash : session->second.tokens) tokens_.erase(hash);
    const auto account = byAccount_.find(accountKey(session->second.email));
    if (account != byAccount_.end()) {
        account->second.erase({session->second.seq, id});
        if (account->second.empty()) byAccount_.erase(account);
    }
    if (!changes_.all) changes_.sessions.push_back(id);
    sessions_.erase(session);
}

SessionTable::Changes SessionTable::takeChanges() { return std::exchange(changes_, {}); }

std::vector<std::string> SessionTable::keepRecentSpent(const std::string& sessionID, const std::string& spent,
                                                       std::size_t keep) {
    std::vector<std::string> forgotten;
    const auto session = sessions_.find(sessionID);
    if (session == sessions_.end() || keep == 0) return forgotten;
    // By the order of spending; tokens from a file without it count as spent first, by expiry.
    // (Expiries are whole seconds: several refreshes in one second tie on them.)
    std::vector<std::tuple<std::int64_t, std::int64_t, std::string>> older;
    for (const auto& hash : session->second.tokens) {
        const auto token = tokens_.find(hash);
        if (hash != spent && token != tokens_.end() && token->second.used) {
            older.emplace_back(token->second.spentOrder, token->second.expiresAt, hash);
        }
    }
    if (older.size() < keep) return forgotten;
    std::sort(older.begin(), older.end(), std::greater<>());
    for (std::size_t i = keep - 1; i < older.size(); ++i) {
        const std::string& hash = std::get<2>(older[i]);
        session->second.tokens.erase(hash);
        forgotten.push_back(hash);
        tokens_.erase(hash);
    }
    return forgotten;
}

void SessionTable::limitSessions(const std::string& email, std::size_t keep) {
    const auto account = byAccount_.find(accountKey(email));
    if (account == byAccount_.end()) return;
    std::vector<std::string> oldest;
    for (auto it = account->second.begin(); account->second.size() - oldest.size() > keep; ++it) {
        oldest.push_back(it->second);
    }
    for (const auto& id : oldest) endSession(id);
}

void SessionTable::prune(std::int64_t now) {
    for (auto token = tokens_.begin(); token != tokens_.end();) {
        if (token->second.expiresAt > now) {
            ++token;
            continue;
        }
        if (const auto session = sessions_.find(token->second.session); session != sessions_.end()) {
            session->second.tokens.erase(token->first);
        }
        token = tokens_.erase(token);
    }
    std::vector<std::string> ended;
    for (const auto& [id, session] : sessions_) {
        if (session.tokens.empty()) ended.push_back(id);
    }
    for (const auto& id : ended) endSession(id);
}

}  // namespace corvane::backend
