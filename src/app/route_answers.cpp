#include "app/route_answers.h"

#include <type_traits>

#include "support/json_writer.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane::app {

HTTPResponse analysisAcceptedAnswer() { return HTTPResponse{200, "application/json", R"({"ok":true})"}; }

HTTPResponse notFoundAnswer() { return HTTPResponse{404, "application/json", R"({"error":"Not found"})"}; }

HTTPResponse badRequestAnswer(const std::string& message) {
    return jsonDictAnswer(nlohmann::json{{"error", message}}, 400);
}

HTTPResponse payloadTooLargeAnswer(const std::string& message) {
    return jsonDictAnswer(nlohmann::json{{"error", message}}, 413);
}

HTTPResponse errorAnswer(const std::string& message) { return jsonDictAnswer(nlohmann::json{{"error", message}}); }

namespace {

// Keys in sorted order, as the nlohmann objects of to_json hold them.
void writeHealth(PrettyJSONWriter& w, const HealthResponse& v) {
    w.beginObject();
    w.key("appName");
    w.string(v.appName);
    w.key("appVersion");
    w.string(v.appVersion);
    if (v.lastCapture) {
        w.key("lastCapture");
        writeJSON(w, *v.lastCapture);
    }
    w.key("logic");
    writeJSON(w, v.logic);
    w.key("permissions");
    w.beginObject();
    w.key("accessibilityTrusted");
    w.boolean(v.permissions.accessibilityTrusted);
    w.key("screenRecordingGranted");
    w.boolean(v.permissions.screenRecordingGranted);
    w.endObject();
    w.key("serverPort");
    w.integer(v.serverPort);
    w.endObject();
}

template <class T>
HTTPResponse writtenAnswer(const T& value) {
    std::string body;
    body.reserve(1024);
    PrettyJSONWriter w(body, PrettyJSONWriter::Slashes::escaped);
    if constexpr (std::is_same_v<T, HealthResponse>)
        writeHealth(w, value);
    else
        writeJSON(w, value);
    if (!w.valid()) body = "{}";
    return HTTPResponse{200, "application/json", std::move(body)};
}

}  // namespace

HTTPResponse healthAnswer(const HealthResponse& health) { return writtenAnswer(health); }

HTTPResponse contextAnswer(const LogicContextSnapshot& logic) { return writtenAnswer(logic); }

nlohmann::json trackRow(const LogicInspector::TrackHeader& header) {
    return {{"number", header.trackNumber}, {"name", header.name}, {"muted", header.isMuted}};
}

nlohmann::json slotRow(const LogicInspector::InsertSlot& slot) {
    return {{"name", slot.name}, {"bypassed", slot.isBypassed}};
}

nlohmann::json slotNameList(const std::vector<LogicInspector::InsertSlot>& slots) {
    nlohmann::json names = nlohmann::json::array();
    for (const auto& slot : slots) names.push_back(slot.name);
    return names;
}

nlohmann::json parameterRow(const ParameterEntry& entry) {
    return {{"label", entry.def.label},
            {"type", toString(entry.def.type)},
            {"rawValue", entry.currentRaw.value_or("")},
            {"display", entry.currentDisplay.value_or("")}};
}

std::string numberedSlotList(const std::vector<LogicInspector::InsertSlot>& slots) {
    std::string out;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (i > 0) out += ", ";
        out += "[" + std::to_string(i) + "] " + slots[i].name;
    }
    return out;
}

std::optional<std::int64_t> parseIntegerQuery(std::string_view text) { return readInteger(text); }

std::optional<std::size_t> slotIndexByName(const std::vector<LogicInspector::InsertSlot>& slots,
                                           std::string_view name) {
    const std::string wanted = text::lowercased(name);
    for (std::size_t i = 0; i < slots.size(); ++i)
        if (text::lowercased(slots[i].name) == wanted) return i;
    return std::nullopt;
}

}  // namespace corvane::app
