// The headless entry, run as its own process.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "test_support/free_port.h"
#include "test_support/temp_home.h"

namespace corvane::app {
namespace {

// Its standard output, and its errors too when asked.
std::string run(const std::string& arguments, int& status, const std::string& environment = "", bool errors = false) {
    std::string out;
    const std::string command =
        environment + " " + CORVANE_BINARY + " " + arguments + (errors ? " 2>&1" : " 2>/dev/null");
    FILE* pipe = ::popen(command.c_str(), "r");
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

// A program that cannot bind its port has no API at all: it must say so and stop, not run on.
TEST(Main, ATakenPortEndsHeadlessStartWithAnError) {
    corvane::testing::TempHome home;
    const corvane::testing::TakenPort taken;
    ASSERT_NE(taken.port(), 0);
    int status = -1;
    const std::string told = run("", status, "CORVANE_PORT=" + std::to_string(taken.port()), true);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    // What holds the port, as the window names it: here this very test.
    EXPECT_NE(told.find("127.0.0.1:" + std::to_string(taken.port()) + ": Address already in use (app_tests, process " +
                        std::to_string(::getpid()) + ")"),
              std::string::npos)
        << told;
    run("", status, "CORVANE_PORT=99999");
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
}  // namespace corvane::app
