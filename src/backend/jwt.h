#pragma once

// HS256 JSON Web Tokens (libsodium's HMAC-SHA-256), base64url without padding.

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace corvane::backend {

std::string base64URLEncode(std::string_view bytes);
std::optional<std::string> base64URLDecode(std::string_view text);

// `key` holds 32 bytes.
std::string signJWT(const nlohmann::json& claims, const std::string& key);
// The claims when the token is three pieces, says HS256 and carries a valid signature; the
// expiry is the caller's to check.
std::optional<nlohmann::json> verifyJWT(const std::string& token, const std::string& key);

}  // namespace corvane::backend
