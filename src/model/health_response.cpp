#include "model/health_response.h"

#include "support/json_fields.h"

namespace corvane {

using namespace json_fields;

void to_json(nlohmann::json& j, const HealthResponse& v) {
    j = {{"appName", v.appName},
         {"appVersion", v.appVersion},
         {"serverPort", v.serverPort},
         {"permissions", v.permissions},
         {"logic", v.logic}};
    put(j, "lastCapture", v.lastCapture);
}

void from_json(const nlohmann::json& j, HealthResponse& v) {
    v.appName = text(j, "appName");
    v.appVersion = text(j, "appVersion");
    v.serverPort = integerOf<std::uint16_t>(j, "serverPort");
    v.permissions = value<PermissionSnapshot>(j, "permissions");
    v.logic = value<LogicContextSnapshot>(j, "logic");
    v.lastCapture = optionalValue<CaptureMetadata>(j, "lastCapture");
}

}  // namespace corvane
