#pragma once

// The JSON responses every route of both servers is written through: two-space indentation,
// sorted keys and every "/" inside a text escaped as "\/" (corvane::jsonText).

#include <exception>
#include <string>

#include <nlohmann/json.hpp>

#include "http/http_message.h"
#include "support/json_writer.h"

namespace corvane::http {

// Any value with an nlohmann `to_json`, as "application/json"; body "{}" when it cannot be
// encoded (a throwing to_json, invalid UTF-8 in a text). NaN and infinities are written as null.
template <class T>
HTTPResponse jsonAnswer(const T& value, int statusCode = 200) {
    std::string body;
    try {
        body = jsonText(nlohmann::json(value), "{}");
    } catch (const std::exception&) {
        body = "{}";
    }
    return HTTPResponse{statusCode, "application/json", std::move(body)};
}
// A JSON object; "{}" when it is not one or cannot be written.
HTTPResponse jsonDictAnswer(const nlohmann::json& object, int statusCode = 200);
// A list of JSON objects; "[]" when it is not one or cannot be written.
HTTPResponse jsonArrayAnswer(const nlohmann::json& array, int statusCode = 200);

}  // namespace corvane::http
