#include "support/json_fields.h"

#include <cmath>
#include <limits>

namespace corvane {

namespace json_fields {

namespace {
[[noreturn]] void fail(const char* key, const char* expected) {
    throw DecodeError(std::string(key) + ": expected " + expected);
}

// 2^63 is exactly representable, INT64_MAX is not: compare against the power of two.
constexpr double kTwoTo63 = 9223372036854775808.0;
}  // namespace

const Json& required(const Json& object, const char* key) {
    if (!object.is_object()) throw DecodeError(std::string("expected an object holding ") + key);
    auto it = object.find(key);
    if (it == object.end()) throw DecodeError(std::string("missing key ") + key);
    return *it;
}

const Json* optionalField(const Json& object, const char* key) {
    if (!object.is_object()) throw DecodeError(std::string("expected an object holding ") + key);
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

std::string text(const Json& object, const char* key) {
    const Json& v = required(object, key);
    if (!v.is_string()) fail(key, "a string");
    return v.get<std::string>();
}

std::optional<std::string> optionalText(const Json& object, const char* key) {
    const Json* v = optionalField(object, key);
    if (!v) return std::nullopt;
    if (!v->is_string()) fail(key, "a string");
    return v->get<std::string>();
}

std::optional<std::string> lenientText(const Json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    const auto found = object.find(key);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

bool boolean(const Json& object, const char* key) {
    const Json& v = required(object, key);
    if (!v.is_boolean()) fail(key, "a boolean");
    return v.get<bool>();
}

std::optional<bool> optionalBoolean(const Json& object, const char* key) {
    const Json* v = optionalField(object, key);
    if (!v) return std::nullopt;
    if (!v->is_boolean()) fail(key, "a boolean");
    return v->get<bool>();
}

double asNumber(const Json& value, const char* what) {
    if (!value.is_number()) fail(what, "a number");
    return value.get<double>();
}

std::int64_t asInteger(const Json& value, const char* what, std::int64_t lo, std::int64_t hi) {
    std::int64_t result = 0;
    if (value.is_number_unsigned()) {
        auto u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(INT64_MAX)) fail(what, "an integer in range");
        result = static_cast<std::int64_t>(u);
    } else if (value.is_number_integer()) {
        result = value.get<std::int64_t>();
    } else if (value.is_number_float()) {
        // 3.0 is the integer 3 (as written by encoders that keep every number a double); 3.5 is not.
        double d = value.get<double>();
        if (!std::isfinite(d) || std::trunc(d) != d || d < -kTwoTo63 || d >= kTwoTo63) fail(what, "an integer");
        result = static_cast<std::int64_t>(d);
    } else {
        fail(what, "an integer");
    }
    if (result < lo || result > hi) fail(what, "an integer in range");
    return result;
}

double number(const Json& object, const char* key) { return asNumber(required(object, key), key); }

std::optional<double> optionalNumber(const Json& object, const char* key) {
    const Json* v = optionalField(object, key);
    if (!v) return std::nullopt;
    return asNumber(*v, key);
}

std::int64_t integer(const Json& object, const char* key, std::int64_t lo, std::int64_t hi) {
    return asInteger(required(object, key), key, lo, hi);
}

std::optional<std::int64_t> optionalInteger(const Json& object, const char* key, std::int64_t lo, std::int64_t hi) {
    const Json* v = optionalField(object, key);
    if (!v) return std::nullopt;
    return asInteger(*v, key, lo, hi);
}

std::vector<std::int64_t> integerList(const Json& object, const char* key) {
    const Json& list = required(object, key);
    if (!list.is_array()) fail(key, "an array");
    std::vector<std::int64_t> out;
    out.reserve(list.size());
    for (const auto& element : list) out.push_back(asInteger(element, key));
    return out;
}

Json parse(std::string_view bytes) {
    try {
        return Json::parse(bytes);
    } catch (const Json::exception& e) {  // syntax, and numbers beyond a double
        throw DecodeError(e.what());
    }
}

Bounds bounds(std::string_view text, std::size_t maxDepth, std::size_t maxValues) {
    std::size_t depth = 0;
    std::size_t values = 1;  // every comma and opening bracket starts one more
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth) return Bounds::tooDeep;
            if (++values > maxValues) return Bounds::tooManyValues;
        } else if (c == ',') {
            if (++values > maxValues) return Bounds::tooManyValues;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return Bounds::within;
}

std::optional<Json> parseObject(std::string_view bytes, std::size_t maxDepth, std::size_t maxValues) {
    if (bytes.empty() || bounds(bytes, maxDepth, maxValues) != Bounds::within) return std::nullopt;
    Json parsed = Json::parse(bytes, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded() || !parsed.is_object()) return std::nullopt;
    return parsed;
}

Json jsonNumber(double value) {
    if (!std::isfinite(value)) return nullptr;
    return value;
}

void put(Json& object, const char* key, const std::optional<double>& value) {
    if (value && std::isfinite(*value)) object[key] = *value;
}

}  // namespace json_fields

}  // namespace corvane
