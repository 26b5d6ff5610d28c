#pragma once

#include <exception>
#include <utility>

#include <nlohmann/json.hpp>

namespace corvane::testing {

// Whether a value of type T decodes from the JSON (strict decoders throw).
template <class T>
bool decodes(const nlohmann::json& j) {
    try {
        (void)j.get<T>();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

inline nlohmann::json without(nlohmann::json j, const char* key) {
    j.erase(key);
    return j;
}

inline nlohmann::json with(nlohmann::json j, const char* key, nlohmann::json value) {
    j[key] = std::move(value);
    return j;
}

}  // namespace corvane::testing
