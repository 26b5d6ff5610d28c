#include "model/health_response.h"

namespace corvane {

void to_json(nlohmann::json& j, const HealthResponse& v) {
    j = nlohmann::json{{"appName", v.appName},     {"appVersion", v.appVersion}, {"serverPort", v.serverPort},
                       {"permissions", v.permissions}, {"logic", v.logic}};
    if (v.lastCapture) j["lastCapture"] = *v.lastCapture;
}

void from_json(const nlohmann::json& j, HealthResponse& v) {
    v.appName = json_fields::text(j, "appName");
    v.appVersion = json_fields::text(j, "appVersion");
    v.serverPort = static_cast<std::uint16_t>(json_fields::integer(j, "serverPort", 0, 65535));
    v.permissions = json_fields::value<PermissionSnapshot>(j, "permissions");
    v.logic = json_fields::value<LogicContextSnapshot>(j, "logic");
    v.lastCapture = json_fields::optionalValue<CaptureMetadata>(j, "lastCapture");
}

}  // namespace corvane
