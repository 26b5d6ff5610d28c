#include "backend/jwt.h"

#include <sodium.h>

#include "backend/request_checks.h"
#include "support/base64.h"

namespace corvane::backend {
namespace {

std::string mac(std::string_view message, const std::string& key) {
    unsigned char out[crypto_auth_hmacsha256_BYTES];
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, reinterpret_cast<const unsigned char*>(key.data()), key.size());
    crypto_auth_hmacsha256_update(&state, reinterpret_cast<const unsigned char*>(message.data()), message.size());
    crypto_auth_hmacsha256_final(&state, out);
    return std::string(reinterpret_cast<const char*>(out), sizeof out);
}

}  // namespace

std::string base64URLEncode(std::string_view bytes) {
    std::string text = base64Encode(bytes);
    while (!text.empty() && text.back() == '=') text.pop_back();
    for (char& c : text) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    return text;
}

std::optional<std::string> base64URLDecode(std::string_view text) {
    std::string standard(text);
    for (char& c : standard) {
        if (c == '-')
            c = '+';
        else if (c == '_')
            c = '/';
        else if (c == '+' || c == '/' || c == '=')
            return std::nullopt;
    }
    while (standard.size() % 4 != 0) standard.push_back('=');
    return base64Decode(standard);
}

std::string signJWT(const nlohmann::json& claims, const std::string& key) {
    const std::string signingInput =
        base64URLEncode(R"({"alg":"HS256","typ":"JWT"})") + "." + base64URLEncode(claims.dump());
    return signingInput + "." + base64URLEncode(mac(signingInput, key));
}

std::optional<nlohmann::json> verifyJWT(const std::string& token, const std::string& key) {
    const auto firstDot = token.find('.');
    const auto secondDot = firstDot == std::string::npos ? std::string::npos : token.find('.', firstDot + 1);
    if (secondDot == std::string::npos || token.find('.', secondDot + 1) != std::string::npos) return std::nullopt;
    const auto header = base64URLDecode(std::string_view(token).substr(0, firstDot));
    const auto signature = base64URLDecode(std::string_view(token).substr(secondDot + 1));
    if (!header || !signature || signature->size() != crypto_auth_hmacsha256_BYTES) return std::nullopt;
    const auto headerJSON = parseBoundedObject(*header);
    if (!headerJSON || !headerJSON->contains("alg") || (*headerJSON)["alg"] != "HS256") return std::nullopt;
    const std::string expected = mac(std::string_view(token).substr(0, secondDot), key);
    if (sodium_memcmp(expected.data(), signature->data(), expected.size()) != 0) return std::nullopt;
    const auto payload = base64URLDecode(std::string_view(token).substr(firstDot + 1, secondDot - firstDot - 1));
    if (!payload) return std::nullopt;
    return parseBoundedObject(*payload);
}

}  // namespace corvane::backend
