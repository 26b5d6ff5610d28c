#include "backend/request_checks.h"

#include <array>
#include <limits>

#include "support/json_fields.h"

namespace corvane::backend {

using nlohmann::json;

namespace {

bool isKeyCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '*' || c == '~' || c == '+' || c == '/' || c == '=';
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

// Provider secret keys, session keys and JWTs, masked or not, and anything that begins like the
// configured key (providers echo its first characters and mask the rest).
bool looksLikeSecret(std::string_view word, std::string_view key) {
    static constexpr std::array<std::string_view, 5> prefixes{"sk-", "sk_", "rk-", "rk_", "sess-"};
    for (std::string_view prefix : prefixes) {
        if (startsWith(word, prefix) && word.size() >= prefix.size() + 6) return true;
    }
    if (startsWith(word, "eyJ") && word.size() >= 20) return true;
    return key.size() >= 12 && word.size() >= 8 && startsWith(word, key.substr(0, 8));
}

}  // namespace

JSONBounds jsonBounds(std::string_view text, std::size_t maxDepth, std::size_t maxValues) {
    return json_fields::bounds(text, maxDepth, maxValues);
}

bool nestsWithin(std::string_view text, std::size_t maxDepth) {
    return jsonBounds(text, maxDepth, std::numeric_limits<std::size_t>::max()) != JSONBounds::tooDeep;
}

std::optional<json> parseBoundedObject(std::string_view bytes, std::size_t maxDepth, std::size_t maxValues) {
    return json_fields::parseObject(bytes, maxDepth, maxValues);
}

std::optional<std::string> chatBodyProblem(const json& body) {
    const auto tier = json_fields::lenientText(body, "tier");
    if (tier != "standard" && tier != "pro") return "\"tier\" must be \"standard\" or \"pro\"";
    if (!body.contains("input") || !body["input"].is_array()) return "\"input\" must be an array";
    const bool continuation = body.contains("previous_response_id");
    if (continuation) {
        const auto previous = json_fields::lenientText(body, "previous_response_id");
        if (!previous || previous->empty()) return "\"previous_response_id\" must be a non-empty text";
        if (body.contains("kind")) return "a continuation names no \"kind\"";
        return std::nullopt;
    }
    const auto kind = json_fields::lenientText(body, "kind");
    if (kind != "agent" && kind != "title") return "\"kind\" must be \"agent\" or \"title\"";
    return std::nullopt;
}

std::string redactSecrets(std::string_view text, std::string_view key) {
    constexpr std::string_view kRedacted = "[redacted]";
    std::string withoutKey;
    if (key.empty()) {
        withoutKey = text;
    } else {
        for (std::size_t from = 0;;) {
            const auto found = text.find(key, from);
            withoutKey.append(text.substr(from, found == std::string_view::npos ? found : found - from));
            if (found == std::string_view::npos) break;
            withoutKey.append(kRedacted);
            from = found + key.size();
        }
    }
    std::string out;
    out.reserve(withoutKey.size());
    bool afterBearer = false;
    for (std::size_t i = 0; i < withoutKey.size();) {
        if (!isKeyCharacter(withoutKey[i])) {
            out.push_back(withoutKey[i++]);
            continue;
        }
        std::size_t end = i;
        while (end < withoutKey.size() && isKeyCharacter(withoutKey[end])) ++end;
        const std::string_view word = std::string_view(withoutKey).substr(i, end - i);
        const bool secret = (afterBearer && word.size() >= 8) || looksLikeSecret(word, key);
        out.append(secret ? kRedacted : word);
        afterBearer = equalsIgnoringCase(word, "bearer");
        i = end;
    }
    return out;
}

json redactSecretsIn(const json& value, std::string_view key) {
    if (value.is_string()) return redactSecrets(value.get_ref<const std::string&>(), key);
    if (value.is_array()) {
        json out = json::array();
        for (const auto& element : value) out.push_back(redactSecretsIn(element, key));
        return out;
    }
    if (value.is_object()) {
        json out = json::object();
        for (const auto& [name, member] : value.items()) out[redactSecrets(name, key)] = redactSecretsIn(member, key);
        return out;
    }
    return value;
}

}  // namespace corvane::backend
