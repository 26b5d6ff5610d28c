#include "app/json_answers.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "support/unicode.h"

namespace corvane::app {

std::string jsonText(const nlohmann::json& value, std::string_view fallback) {
    std::string dumped;
    try {
        dumped = value.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
    } catch (const nlohmann::json::exception&) {
        return std::string(fallback);
    }
    // Outside texts JSON has no "/", so every one in the dump sits inside a text.
    std::string out;
    out.reserve(dumped.size() + static_cast<std::size_t>(std::count(dumped.begin(), dumped.end(), '/')));
    for (char c : dumped) {
        if (c == '/') out += '\\';
        out += c;
    }
    return out;
}

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

HTTPResponse analysisAcceptedAnswer() { return HTTPResponse{200, "application/json", R"({"ok":true})"}; }

HTTPResponse notFoundAnswer() { return HTTPResponse{404, "application/json", R"({"error":"Not found"})"}; }

HTTPResponse badRequestAnswer(const std::string& message) {
    return jsonDictAnswer(nlohmann::json{{"error", message}}, 400);
}

HTTPResponse errorAnswer(const std::string& message) { return jsonDictAnswer(nlohmann::json{{"error", message}}); }

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

std::optional<std::int64_t> parseIntegerQuery(std::string_view text) {
    // from_chars takes a "-" but not a "+"; either sign must be followed by a digit.
    const bool plus = !text.empty() && text.front() == '+';
    const std::size_t firstDigit = !text.empty() && (plus || text.front() == '-') ? 1 : 0;
    if (text.size() <= firstDigit || !std::isdigit(static_cast<unsigned char>(text[firstDigit]))) return std::nullopt;
    if (plus) text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::size_t> slotIndexByName(const std::vector<LogicInspector::InsertSlot>& slots,
                                           std::string_view name) {
    const std::string wanted = text::lowercased(name);
    for (std::size_t i = 0; i < slots.size(); ++i)
        if (text::lowercased(slots[i].name) == wanted) return i;
    return std::nullopt;
}

}  // namespace corvane::app
