#include "http/json_response.h"

#include <algorithm>
#include <utility>

namespace corvane::http {

HTTPResponse jsonDictAnswer(const nlohmann::json& object, int statusCode) {
    std::string body = object.is_object() ? jsonText(object, "{}") : "{}";
    return HTTPResponse{statusCode, "application/json", std::move(body)};
}

HTTPResponse jsonArrayAnswer(const nlohmann::json& array, int statusCode) {
    const bool rows =
        array.is_array() && std::all_of(array.begin(), array.end(), [](const auto& e) { return e.is_object(); });
    std::string body = rows ? jsonText(array, "[]") : "[]";
    return HTTPResponse{statusCode, "application/json", std::move(body)};
}

}  // namespace corvane::http
