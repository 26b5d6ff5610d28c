#pragma once

// The answers of the loopback API's routes: the fixed bodies, and the row shapes and lookups the
// diagnostic routes share. Every route answers through the http library's JSON responses
// (two-space indentation, sorted keys, every "/" inside a text escaped as "\/").

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "http/http_message.h"
#include "http/json_response.h"
#include "logic/logic_inspector.h"
#include "model/health_response.h"
#include "plugins/plugin_map.h"

namespace corvane::app {

// The routes speak the server's values.
using http::HTTPRequest;
using http::HTTPResponse;
using http::jsonAnswer;
using http::jsonArrayAnswer;
using http::jsonDictAnswer;

// The fixed bodies, written without blanks.
HTTPResponse analysisAcceptedAnswer();  // 200 {"ok":true}
HTTPResponse notFoundAnswer();          // 404 {"error":"Not found"}
// A body refused by a route that would delete or overwrite data: 400 {"error": message}.
HTTPResponse badRequestAnswer(const std::string& message);
// A body past its route's bounds: 413 {"error": message}.
HTTPResponse payloadTooLargeAnswer(const std::string& message);
// A diagnostic route's failure: 200 {"error": message}.
HTTPResponse errorAnswer(const std::string& message);

// "/health" and "/context": the text jsonAnswer gives for the same value, written straight from
// the value (these are the routes polled most).
HTTPResponse healthAnswer(const HealthResponse& health);
HTTPResponse contextAnswer(const LogicContextSnapshot& logic);

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
