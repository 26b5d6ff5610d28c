#pragma once

// The checks every body the backend reads passes before it is used: nesting, shape, secrets.
// Pure functions of their input, so the fuzzer drives them directly.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "support/json_fields.h"

namespace corvane::backend {

// The bounds the app's loopback API counts too (support/json_fields.h): deeper than any request
// the app sends, and far more values than it sends (its screenshots are single texts).
constexpr std::size_t kMaxJSONNesting = json_fields::kMaxNesting;
constexpr std::size_t kMaxJSONValues = json_fields::kMaxValues;

using JSONBounds = json_fields::Bounds;

// json_fields::bounds, under the backend's name.
JSONBounds jsonBounds(std::string_view text, std::size_t maxDepth = kMaxJSONNesting,
                      std::size_t maxValues = kMaxJSONValues);
bool nestsWithin(std::string_view text, std::size_t maxDepth = kMaxJSONNesting);

// A JSON object within both bounds, else absent. Never throws.
std::optional<nlohmann::json> parseBoundedObject(std::string_view bytes, std::size_t maxDepth = kMaxJSONNesting,
                                                 std::size_t maxValues = kMaxJSONValues);

// Why a chat body cannot be answered, or none.
std::optional<std::string> chatBodyProblem(const nlohmann::json& body);

// The text with the key, and anything shaped like an API key or bearer token, replaced by
// "[redacted]".
std::string redactSecrets(std::string_view text, std::string_view key);
// The same for every text (and member name) of a JSON value.
nlohmann::json redactSecretsIn(const nlohmann::json& value, std::string_view key);

}  // namespace corvane::backend
