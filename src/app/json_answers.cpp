#include "app/json_answers.h"

#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane::app {

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

std::optional<std::int64_t> parseIntegerQuery(std::string_view text) { return readInteger(text); }

std::optional<std::size_t> slotIndexByName(const std::vector<LogicInspector::InsertSlot>& slots,
                                           std::string_view name) {
    const std::string wanted = text::lowercased(name);
    for (std::size_t i = 0; i < slots.size(); ++i)
        if (text::lowercased(slots[i].name) == wanted) return i;
    return std::nullopt;
}

}  // namespace corvane::app
