#include "model/capture_models.h"

#include "support/json_fields.h"
#include "support/json_writer.h"

namespace corvane {

using namespace json_fields;

std::string toString(CaptureMode mode) {
    switch (mode) {
        case CaptureMode::logicWindow: return "logicWindow";
        case CaptureMode::display: return "display";
        case CaptureMode::unavailable: return "unavailable";
    }
    return "unavailable";
}

std::optional<CaptureMode> captureModeFromString(const std::string& text) {
    for (auto mode : {CaptureMode::logicWindow, CaptureMode::display, CaptureMode::unavailable})
        if (toString(mode) == text) return mode;
    return std::nullopt;
}

void to_json(nlohmann::json& j, CaptureMode v) { j = toString(v); }

void from_json(const nlohmann::json& j, CaptureMode& v) { v = enumeration(j, "capture mode", captureModeFromString); }

void to_json(nlohmann::json& j, const CaptureMetadata& v) {
    j = {{"timestamp", v.timestamp}, {"mode", v.mode}, {"logicContext", v.logicContext}};
    put(j, "filePath", v.filePath);
}

void from_json(const nlohmann::json& j, CaptureMetadata& v) {
    v.timestamp = text(j, "timestamp");
    v.mode = value<CaptureMode>(j, "mode");
    v.filePath = optionalText(j, "filePath");
    v.logicContext = value<LogicContextSnapshot>(j, "logicContext");
}

void writeJSON(PrettyJSONWriter& w, const CaptureMetadata& v) {
    w.beginObject();
    if (v.filePath) {
        w.key("filePath");
        w.string(*v.filePath);
    }
    w.key("logicContext");
    writeJSON(w, v.logicContext);
    w.key("mode");
    w.string(toString(v.mode));
    w.key("timestamp");
    w.string(v.timestamp);
    w.endObject();
}

}  // namespace corvane
