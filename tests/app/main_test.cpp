// The headless entry, run as its own process.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "test_support/temp_home.h"

namespace corvane::app {
namespace {

std::string run(const std::string& arguments, int& status) {
    std::string out;
    FILE* pipe = ::popen((std::string(CORVANE_BINARY) + " " + arguments + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    status = ::pclose(pipe);
    return out;
}

// Whether or not the port is free (the server's failure to bind is only logged), the flag prints
// the health answer once and ends the process.
TEST(Main, PrintHealthPrintsTheAnswerAndExits) {
    corvane::testing::TempHome home;
    int status = -1;
    const std::string out = run("--print-health", status);
    EXPECT_EQ(status, 0);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n');
    const auto health = nlohmann::json::parse(out);
    EXPECT_EQ(health["appName"], "Corvane");
    EXPECT_EQ(health["appVersion"], CORVANE_VERSION);
    EXPECT_EQ(health["serverPort"], 51234);
    EXPECT_EQ(health["logic"]["logicIsRunning"], true);
    EXPECT_NE(out.find("\n  \"appName\""), std::string::npos) << "pretty-printed";
}

}  // namespace
}  // namespace corvane::app
