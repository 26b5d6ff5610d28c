#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace corvane {

// The JSON vocabulary of the program's own files and value types (the model, the stores, the maps,
// the test records): strict readers and absent-dropping writers. corvane-backend's session table
// reads its file by hand, keeping the records it can; what others send is read with the lenient
// reads (parseObject, lenientText) or, member by member, where it is used. A missing
// required key, a value of the wrong JSON type (a boolean is no number, 3.5 is no integer), an
// unknown enumeration text or a document that is no JSON at all throws DecodeError and nothing
// else; a missing or null optional key reads as absent; absent optionals are never written,
// not even as null.
namespace json_fields {

using Json = nlohmann::json;

struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const Json& required(const Json& object, const char* key);
const Json* optionalField(const Json& object, const char* key);  // null when missing or null

std::string text(const Json& object, const char* key);
std::optional<std::string> optionalText(const Json& object, const char* key);
// The lenient read of what others wrote (answers, arguments, strips): the member's text when it is
// one; none when it is missing, of another kind, or `object` is no object. Never throws.
std::optional<std::string> lenientText(const Json& object, const char* key);
bool boolean(const Json& object, const char* key);
std::optional<bool> optionalBoolean(const Json& object, const char* key);
double number(const Json& object, const char* key);
std::optional<double> optionalNumber(const Json& object, const char* key);
std::int64_t integer(const Json& object, const char* key, std::int64_t lo = INT64_MIN, std::int64_t hi = INT64_MAX);
std::optional<std::int64_t> optionalInteger(const Json& object, const char* key, std::int64_t lo = INT64_MIN,
                                            std::int64_t hi = INT64_MAX);

// Integers of a narrower type, in that type's range.
template <std::integral Int>
Int integerOf(const Json& object, const char* key) {
    static_assert(sizeof(Int) < sizeof(std::int64_t), "use integer()");
    return static_cast<Int>(integer(object, key, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max()));
}

template <std::integral Int>
std::optional<Int> optionalIntegerOf(const Json& object, const char* key) {
    static_assert(sizeof(Int) < sizeof(std::int64_t), "use optionalInteger()");
    auto found = optionalInteger(object, key, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max());
    if (!found) return std::nullopt;
    return static_cast<Int>(*found);
}

// nlohmann would quietly turn 1.5 or true into an integer element; each one is read strictly.
std::vector<std::int64_t> integerList(const Json& object, const char* key);

// Values of the JSON types themselves (array elements, top-level documents).
std::int64_t asInteger(const Json& value, const char* what, std::int64_t lo = INT64_MIN, std::int64_t hi = INT64_MAX);
double asNumber(const Json& value, const char* what);

// A value type through its own from_json; what, when given, names it in the error.
template <class T>
T as(const Json& value, const char* what = nullptr) {
    try {
        return value.get<T>();
    } catch (const DecodeError& e) {
        if (!what) throw;
        throw DecodeError(std::string(what) + ": " + e.what());
    } catch (const std::exception& e) {  // nlohmann's own, for lists and maps of the wrong JSON type
        throw DecodeError(what ? std::string(what) + ": " + e.what() : std::string(e.what()));
    }
}

// Nested value types and lists of them, through their own from_json.
template <class T>
T value(const Json& object, const char* key) {
    return as<T>(required(object, key), key);
}

template <class T>
std::optional<T> optionalValue(const Json& object, const char* key) {
    const Json* found = optionalField(object, key);
    if (!found) return std::nullopt;
    return as<T>(*found, key);
}

// An enumeration written as its case name; fromString gives the case of an exact text or none.
template <class FromString>
auto enumeration(const Json& value, const char* what, FromString fromString) {
    if (!value.is_string()) throw DecodeError(std::string(what) + ": expected a string");
    auto parsed = fromString(value.get_ref<const std::string&>());
    if (!parsed) {
        const std::string shown = value.dump(-1, ' ', false, Json::error_handler_t::replace);
        throw DecodeError(std::string("unknown ") + what + " " + shown);
    }
    return *parsed;
}

// A whole document: its syntax, then its shape.
Json parse(std::string_view bytes);

// What others send is bounded before it is parsed: each value becomes a node of tens of bytes for
// the one or two it takes in the text (16 MiB of "{}," would take gigabytes), and deep enough
// nesting overflows the stack of whatever walks the value recursively. Far above any body or
// argument list the program exchanges.
constexpr std::size_t kMaxNesting = 64;
constexpr std::size_t kMaxValues = 100'000;

enum class Bounds { within, tooDeep, tooManyValues };

// Whether the arrays and objects of the text nest no deeper than maxDepth and it holds at most
// maxValues values. Looks only at brackets and commas outside strings, so it answers for any
// bytes, JSON or not, without recursion, and counts generously (an empty array counts too).
Bounds bounds(std::string_view text, std::size_t maxDepth = kMaxNesting, std::size_t maxValues = kMaxValues);

// The one lenient reader of request and argument bodies: a JSON object within the bounds, or
// absent for anything else (empty text, bad syntax, another kind of value, past a bound). Never throws.
std::optional<Json> parseObject(std::string_view bytes, std::size_t maxDepth = kMaxNesting,
                                std::size_t maxValues = kMaxValues);

template <class T>
T decode(std::string_view bytes) {
    return as<T>(parse(bytes));
}

// Writes a number, or null for a value JSON cannot hold (NaN, infinities).
Json jsonNumber(double value);

template <class T>
void put(Json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}
void put(Json& object, const char* key, const std::optional<double>& value);  // leaves non-finite out

}  // namespace json_fields

}  // namespace corvane
