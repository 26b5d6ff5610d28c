#pragma once

// The JSON answers of the loopback API: the constructors every route answers through, the fixed
// bodies, and the row shapes and lookups the diagnostic routes share.
//
// Texts are written the way the original writer wrote them: two-space indentation, sorted keys,
// and every "/" inside a text escaped as "\/".

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/http_message.h"
#include "logic/logic_inspector.h"
#include "plugins/plugin_map.h"

namespace corvane::app {

// The serialised text, or `fallback` when the value cannot be written (invalid UTF-8).
std::string jsonText(const nlohmann::json& value, std::string_view fallback);

// Any value with an nlohmann `to_json`; "{}" when it cannot be encoded.
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

// The fixed bodies, written without blanks.
HTTPResponse analysisAcceptedAnswer();  // 200 {"ok":true}
HTTPResponse notFoundAnswer();          // 404 {"error":"Not found"}
// A body refused by a route that would delete or overwrite data: 400 {"error": message}.
HTTPResponse badRequestAnswer(const std::string& message);
// A diagnostic route's failure: 200 {"error": message}.
HTTPResponse errorAnswer(const std::string& message);

// Row shapes.
nlohmann::json trackRow(const LogicInspector::TrackHeader& header);
nlohmann::json slotRow(const LogicInspector::InsertSlot& slot);
nlohmann::json slotNameList(const std::vector<LogicInspector::InsertSlot>& slots);
nlohmann::json parameterRow(const ParameterEntry& entry);
// "[0] Channel EQ, [1] Compressor"; empty for no slots.
std::string numberedSlotList(const std::vector<LogicInspector::InsertSlot>& slots);

// The whole text as a decimal integer: optional "+" or "-", then digits, within int64.
std::optional<std::int64_t> parseIntegerQuery(std::string_view text);
// The first slot, top to bottom, whose name equals `name` without regard to case.
std::optional<std::size_t> slotIndexByName(const std::vector<LogicInspector::InsertSlot>& slots, std::string_view name);

}  // namespace corvane::app
