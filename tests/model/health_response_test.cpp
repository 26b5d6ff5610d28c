#include <gtest/gtest.h>

#include "model/health_response.h"

namespace corvane {
namespace {

TEST(HealthResponse, OptionalCaptureIsLeftOutAndRequiredFieldsAreRequired) {
    HealthResponse health;
    health.appName = "Corvane";
    health.appVersion = "1.0";
    health.serverPort = 51234;
    auto json = nlohmann::json(health);
    EXPECT_FALSE(json.contains("lastCapture"));
    EXPECT_EQ(json.get<HealthResponse>(), health);
    json.erase("permissions");
    EXPECT_THROW(json.get<HealthResponse>(), std::exception);
}

}  // namespace
}  // namespace corvane
