#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/capture_models.h"
#include "model/logic_snapshot_models.h"

namespace corvane {

// The companion's health and status answer.
struct HealthResponse {
    std::string appName;
    std::string appVersion;
    std::uint16_t serverPort = 0;
    PermissionSnapshot permissions;
    LogicContextSnapshot logic;
    std::optional<CaptureMetadata> lastCapture;
    friend bool operator==(const HealthResponse&, const HealthResponse&) = default;
};

void to_json(nlohmann::json& j, const HealthResponse& v);
void from_json(const nlohmann::json& j, HealthResponse& v);

}  // namespace corvane
