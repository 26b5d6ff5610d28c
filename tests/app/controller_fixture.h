#pragma once

// A running companion controller on an ephemeral loopback port, in front of the simulated Logic
// Pro (the demo song) and a fresh application folder, signed in or not; requests go over a real
// socket.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "app/companion_controller.h"
#include "backend/backend_fixture.h"
#include "http/http_test_client.h"
#include "networking/auth_service.h"
#include "platform/platform.h"
#include "platform/standin/standin_fixture.h"
#include "platform/standin/world.h"
#include "test_support/free_port.h"
#include "test_support/manual_clock.h"
#include "test_support/temp_home.h"

namespace corvane::app::testing {

using http::testing::Answer;
using http::testing::exchange;

class ControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        world_->updateFaults([this](standin::Faults& faults) { faults.analysisPort = analysisPort_.port(); });
        startController();
    }
    // A request still in progress (its client timed out) must not outlive the world it reads.
    void TearDown() override {
        if (controller_) controller_->shutdown();
    }

    // The stand-in's own clock unless the test injects another.
    void startController(platform::Clock* clock = nullptr) {
        controller_.reset();
        CompanionController::Options options;
        options.port = 0;
        options.clock = clock;
        options.chatTransport = chatTransport_;
        controller_ = CompanionController::create(options);
        controller_->start();
        ASSERT_NE(controller_->boundPort(), 0);
    }

    CompanionController& controller() { return *controller_; }
    standin::World& world() { return *world_; }
    std::uint16_t port() { return controller_->boundPort(); }

    std::optional<Answer> request(const std::string& method, const std::string& path, const std::string& body = {}) {
        std::string raw = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        if (!body.empty() || method == "POST") raw += "Content-Length: " + std::to_string(body.size()) + "\r\n";
        raw += "\r\n" + body;
        return exchange(port(), raw);
    }
    std::optional<Answer> get(const std::string& path) { return request("GET", path); }
    std::optional<Answer> post(const std::string& path, const std::string& body = {}) {
        return request("POST", path, body);
    }

    corvane::testing::TempHome home_;
    corvane::testing::ManualClock manualClock_;  // for tests that inject their own clock
    corvane::testing::ClosedPort analysisPort_;  // where the plug-ins post unless a test serves them
    std::unique_ptr<standin::World> world_ = std::make_unique<standin::World>(standin::testing::demoSong());
    platform::ScopedServices services_{world_->services()};
    std::shared_ptr<CompanionController> controller_;
    std::shared_ptr<http::HTTPTransport> chatTransport_;  // null: over HTTP
};

// The controller in front of the local backend (script mode) and signed in with its test account,
// as the window signs in.
class SignedInControllerTest : public ControllerTest {
protected:
    void SetUp() override { startSignedIn(); }
    void TearDown() override {
        ControllerTest::TearDown();
        controller_.reset();
        world().drainMainQueue();
    }

    void startSignedIn() {
        local_ = std::make_unique<corvane::testing::LocalBackend>(home_.root() / "backend");
        ::setenv("CORVANE_BACKEND_URL", local_->baseURL().c_str(), 1);
        ControllerTest::SetUp();
        ::unsetenv("CORVANE_BACKEND_URL");
        networking::BackendConfiguration configuration;
        configuration.baseURL = local_->baseURL();
        auth_ = std::make_unique<networking::AuthService>(configuration, http::defaultTransport(), local_->clock);
        auth_->signIn(corvane::testing::LocalBackend::kEmail, corvane::testing::LocalBackend::kPassword);
        ASSERT_TRUE(auth_->isAuthenticated());
        controller().backendChatService().setAuthTokenProvider([this] { return auth_->getValidToken(); });
    }

    std::unique_ptr<corvane::testing::LocalBackend> local_;
    std::unique_ptr<networking::AuthService> auth_;
};

}  // namespace corvane::app::testing
