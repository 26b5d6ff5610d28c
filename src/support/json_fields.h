#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace corvane {

// Strict readers and absent-dropping writers shared by the JSON value types of the program:
// a missing required key, a value of the wrong JSON type (a boolean is no number, 3.5 is no
// integer) or an unknown enumeration text throws DecodeError; a missing or null optional key
// reads as absent; absent optionals are never written, not even as null.
namespace json_fields {

using Json = nlohmann::json;

struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const Json& required(const Json& object, const char* key);
const Json* optionalField(const Json& object, const char* key);  // null when missing or null

std::string text(const Json& object, const char* key);
std::optional<std::string> optionalText(const Json& object, const char* key);
bool boolean(const Json& object, const char* key);
std::optional<bool> optionalBoolean(const Json& object, const char* key);
double number(const Json& object, const char* key);
std::optional<double> optionalNumber(const Json& object, const char* key);
std::int64_t integer(const Json& object, const char* key, std::int64_t lo = INT64_MIN, std::int64_t hi = INT64_MAX);
std::optional<std::int64_t> optionalInteger(const Json& object, const char* key, std::int64_t lo = INT64_MIN,
                                            std::int64_t hi = INT64_MAX);

// Values of the JSON types themselves (array elements, top-level documents).
std::int64_t asInteger(const Json& value, const char* what, std::int64_t lo = INT64_MIN,
                       std::int64_t hi = INT64_MAX);
double asNumber(const Json& value, const char* what);

// Nested value types and lists of them, through their own from_json.
template <class T>
T value(const Json& object, const char* key) {
    const Json& found = required(object, key);
    try {
        return found.get<T>();
    } catch (const std::exception& e) {
        throw DecodeError(std::string(key) + ": " + e.what());
    }
}

template <class T>
std::optional<T> optionalValue(const Json& object, const char* key) {
    const Json* found = optionalField(object, key);
    if (!found) return std::nullopt;
    try {
        return found->get<T>();
    } catch (const std::exception& e) {
        throw DecodeError(std::string(key) + ": " + e.what());
    }
}

// Writes a number, or null for a value JSON cannot hold (NaN, infinities).
Json finite(double value);

template <class T>
void put(Json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}
void put(Json& object, const char* key, const std::optional<double>& value);  // leaves non-finite out

}  // namespace json_fields

}  // namespace corvane
