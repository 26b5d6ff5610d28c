#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/logic_snapshot_models.h"

namespace corvane {

// How a screenshot was taken; written as its case name.
enum class CaptureMode { logicWindow, display, unavailable };

std::string toString(CaptureMode mode);
std::optional<CaptureMode> captureModeFromString(const std::string& text);

// The description of one screenshot of Logic Pro.
struct CaptureMetadata {
    std::string timestamp;
    CaptureMode mode = CaptureMode::unavailable;
    std::optional<std::string> filePath;  // absent when the picture was not stored
    LogicContextSnapshot logicContext;
    friend bool operator==(const CaptureMetadata&, const CaptureMetadata&) = default;
};

void to_json(nlohmann::json& j, CaptureMode v);
void from_json(const nlohmann::json& j, CaptureMode& v);
void to_json(nlohmann::json& j, const CaptureMetadata& v);
void from_json(const nlohmann::json& j, CaptureMetadata& v);
void writeJSON(PrettyJSONWriter& w, const CaptureMetadata& v);  // the text of dump(2)

}  // namespace corvane
