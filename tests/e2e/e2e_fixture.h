#pragma once

// corvane-backend in script mode with one local account, and the headless app in front of it on the
// simulated Logic Pro, signed in with that account: each its own process, in a fresh home.
//
// The processes run in wall time, so the waits here are real; every one is bounded.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "http/http_test_client.h"
#include "networking/auth_service.h"
#include "platform/platform.h"
#include "support/files.h"
#include "test_support/child_process.h"
#include "test_support/free_port.h"
#include "test_support/hang_guard.h"
#include "test_support/temp_home.h"

namespace corvane::testing {

class EndToEndTest : public ::testing::Test {
protected:
    static constexpr const char* kEmail = "e2e@example.com";
    static constexpr const char* kPassword = "a long enough password";

    // Both processes, the backend's model following `script`; `appEnvironment` ("NAME=value") is
    // added to the app's.
    void start(const nlohmann::json& script, const std::vector<std::string>& appEnvironment = {}) {
        const auto scriptFile = home_.root() / "script.json";
        ASSERT_TRUE(writeFileAtomically(scriptFile, script.dump()));
        ::setenv("CORVANE_BACKEND_HOME", (home_.root() / "backend").c_str(), 1);
        ::setenv("CORVANE_BACKEND_SCRIPT", scriptFile.c_str(), 1);
        {
            ChildProcess addUser({CORVANE_BACKEND_BINARY, "add-user", kEmail}, std::string(kPassword) + "\n");
            ASSERT_EQ(addUser.exitStatus(), 0);
        }
        backend_.emplace(std::vector<std::string>{CORVANE_BACKEND_BINARY, "--port", "0"});
        const auto backendPort = announcedPort(backend_->output(")"));
        ASSERT_TRUE(backendPort) << backend_->output();
        const std::string backendURL = "http://127.0.0.1:" + std::to_string(*backendPort);
        {
            // The sign-in the window would make, kept in the application folder the app then reads.
            networking::BackendConfiguration configuration;
            configuration.baseURL = backendURL;
            networking::AuthService auth(configuration);
            auth.signIn(kEmail, kPassword);
            ASSERT_TRUE(auth.isAuthenticated()) << auth.errorMessage().value_or("");
        }

        port_ = appPort_.port();
        ::setenv("CORVANE_PORT", std::to_string(port_).c_str(), 1);
        ::setenv("CORVANE_BACKEND_URL", backendURL.c_str(), 1);
        app_.emplace(std::vector<std::string>{CORVANE_BINARY}, "", appEnvironment);
        // Asked again until it answers: a bound against a hang, not a pace.
        bool up = false;
        for (const auto until = std::chrono::steady_clock::now() + kHangGuard;
             !up && std::chrono::steady_clock::now() < until;) {
            up = http::testing::exchange(port_, "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
                                         std::chrono::seconds(1))
                     .has_value();
            if (!up) platform::pause(0.05);
        }
        ASSERT_TRUE(up);
    }

    std::optional<http::testing::Answer> post(const std::string& path, const std::string& body) {
        const std::string raw = "POST " + path +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) +
                                "\r\n\r\n" + body;
        return http::testing::exchange(port_, raw);
    }

    TempHome home_;
    // Held for the test's life, so that no other program's server is given the app's port while the
    // app starts (one was, on a busy machine, and answered its requests); the app binds it beside.
    ClosedPort appPort_;
    std::optional<ChildProcess> backend_;
    std::optional<ChildProcess> app_;
    std::uint16_t port_ = 0;
};

}  // namespace corvane::testing
