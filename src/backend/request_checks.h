#pragma once

// The checks every body the backend reads passes before it is used: nesting, shape, secrets.
// Pure functions of their input, so the fuzzer drives them directly.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace corvane::backend {

// Deeper than any request the app sends; deep enough nesting would overflow the stack of
// whatever walks the value recursively (writing, copying, comparing).
constexpr std::size_t kMaxJSONNesting = 64;

// Values (members, elements and what holds them) in one body. Each becomes a node of the parsed
// document, tens of bytes for the one or two it takes in the text: a 64 MiB body of "{}," would
// take gigabytes. Far above what the app sends; its screenshots are single texts.
constexpr std::size_t kMaxJSONValues = 100'000;

enum class JSONBounds { within, tooDeep, tooManyValues };

// Whether the arrays and objects of the text nest no deeper than maxDepth and it holds at most
// maxValues values. Looks only at brackets and commas outside strings, so it answers for any
// bytes, JSON or not, without recursion, and counts generously (an empty array counts too).
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
