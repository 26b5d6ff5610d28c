// corvane-backend as its own process: its command line, and its resident memory under a burst of
// sign-ins (only a process of its own has a peak to read). The process runs in wall time, so the
// waits here are real; every one is bounded.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <future>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "backend/backend_service.h"
#include "http/http_test_client.h"
#include "test_support/child_process.h"
#include "test_support/temp_home.h"

namespace corvane::backend {
namespace {

using namespace std::chrono_literals;

using testing::ChildProcess;

// corvane-backend with these arguments.
std::vector<std::string> backend(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), CORVANE_BACKEND_BINARY);
    return arguments;
}

TEST(BackendProcess, HelpNamesEverySettingAndExitsZeroWhileAnUnknownOptionStillFails) {
    ChildProcess help(backend({"--help"}));
    const std::string text = help.output();
    EXPECT_EQ(help.exitStatus(), 0);
    for (const char* setting : {"--port", "add-user", "remove-user", "CORVANE_BACKEND_HOME", "CORVANE_BACKEND_APIKEY",
                                "CORVANE_BACKEND_SCRIPT", "CORVANE_PROVIDER_URL", "CORVANE_PROVIDER_KEY",
                                "CORVANE_PROVIDER_MODEL", "CORVANE_PROVIDER_MODEL_PRO", "relay", "script"}) {
        EXPECT_NE(text.find(setting), std::string::npos) << setting;
    }
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--bogus"}, {"--port"}, {"--help", "x"}}) {
        ChildProcess refused(backend(wrong));
        EXPECT_EQ(refused.output(), "");
        EXPECT_EQ(refused.exitStatus(), 2) << wrong.front();
    }
}

// Each password hash takes 64 MiB, and only the throttle bounded how many ran at once: 64 sign-ins
// sent together took the backend past a gigabyte. The hashes at once are bounded now, and whatever
// could not get one in time is told when to try again.
TEST(BackendProcess, SixtyFourSignInsAtOnceKeepThePeakWithinAFixedBound) {
    testing::TempHome home;
    // Freed memory goes back at once, so that the peak is what was live at once.
    const std::vector<std::string> environment = {"CORVANE_BACKEND_HOME=" + (home.root() / "backend").string(),
                                                  "ASAN_OPTIONS=quarantine_size_mb=0:detect_leaks=0"};
    {
        ChildProcess add(backend({"add-user", "mix@example.com"}), "right password\n", environment);
        ASSERT_EQ(add.exitStatus(), 0) << add.output();
    }
    ChildProcess server(backend({"--port", "0"}), "", environment);
    const auto port = testing::announcedPort(server.output(")"));
    ASSERT_TRUE(port) << server.output();

    const std::int64_t before = server.peakResidentKiB();
    std::vector<std::future<std::optional<http::testing::Answer>>> answers;
    for (int i = 0; i < 64; ++i) {
        const std::string email = i % 3 == 0 ? "nobody" + std::to_string(i) + "@example.com" : "mix@example.com";
        const std::string password = i % 3 == 2 ? "right password" : "wrong password";
        const std::string body = nlohmann::json{{"email", email}, {"password", password}}.dump();
        const std::string request = std::string("POST /auth/v1/token?grant_type=password HTTP/1.1\r\napikey: ") +
                                    BackendOptions::kDefaultPublishableKey +
                                    "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        answers.push_back(
            std::async(std::launch::async, [port, request] { return http::testing::exchange(*port, request, 30s); }));
    }
    std::multiset<int> statuses;
    for (auto& answer : answers) {
        const auto received = answer.get();
        ASSERT_TRUE(received);
        statuses.insert(received->status);
        if (received->status == 429) {
            EXPECT_TRUE(received->headers.contains("Retry-After")) << received->body;
        }
    }
    const std::int64_t peak = server.peakResidentKiB();
    std::cout << "peak resident " << peak / 1024 << " MiB (" << before / 1024 << " MiB before the sign-ins); "
              << statuses.count(200) << " signed in, " << statuses.count(400) << " refused, " << statuses.count(429)
              << " told to wait\n";
    EXPECT_EQ(statuses.count(200) + statuses.count(400) + statuses.count(429), 64u);
    EXPECT_GE(statuses.count(200) + statuses.count(400), 2u) << "sign-ins were hashed";
    EXPECT_LT(peak, 400 * 1024);
}

std::string signInRequest(const std::string& email, const std::string& password) {
    const std::string body = nlohmann::json{{"email", email}, {"password", password}}.dump();
    return std::string("POST /auth/v1/token?grant_type=password HTTP/1.1\r\napikey: ") +
           BackendOptions::kDefaultPublishableKey + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

// One account signing in over and over with its right password (which the failed-guess throttle
// never counts) from 40 threads held both hash places and every waiting one, so every other
// user's sign-in was answered 429. One account has at most one hash running and one waiting now:
// another user's sign-in is answered, and at once. At the real hashing cost, for a few seconds.
TEST(BackendProcess, OneAccountSigningInFromFortyThreadsLeavesAnotherUsersSignInAnsweredWithinASecond) {
    testing::TempHome home;
    const std::vector<std::string> environment = {"CORVANE_BACKEND_HOME=" + (home.root() / "backend").string()};
    for (const char* email : {"flood@example.com", "victim@example.com"}) {
        ChildProcess add(backend({"add-user", email}), "right password\n", environment);
        ASSERT_EQ(add.exitStatus(), 0) << add.output();
    }
    ChildProcess server(backend({"--port", "0"}), "", environment);
    const auto port = testing::announcedPort(server.output(")"));
    ASSERT_TRUE(port) << server.output();

    const std::string flood = signInRequest("flood@example.com", "right password");
    std::atomic<bool> stop = false;
    std::atomic<int> turnedAway = 0;
    std::promise<void> placesTaken;
    std::vector<std::thread> flooders;
    for (int i = 0; i < 40; ++i) {
        flooders.emplace_back([&] {
            const auto until = std::chrono::steady_clock::now() + 60s;
            while (!stop && std::chrono::steady_clock::now() < until) {
                const auto answer = http::testing::exchange(*port, flood, 30s);
                if (answer && answer->status == 429 && ++turnedAway == 40) placesTaken.set_value();
            }
        });
    }
    // Every place the flood can take is taken once it is being turned away.
    const bool flooding = placesTaken.get_future().wait_for(30s) == std::future_status::ready;
    std::vector<std::pair<int, std::chrono::milliseconds>> victim;
    for (int i = 0; flooding && i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const auto answer = http::testing::exchange(*port, signInRequest("victim@example.com", "right password"), 30s);
        victim.emplace_back(answer ? answer->status : 0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                               std::chrono::steady_clock::now() - start));
    }
    stop = true;
    for (auto& flooder : flooders) flooder.join();
    ASSERT_TRUE(flooding);
    std::vector<std::chrono::milliseconds> times;
    for (const auto& [status, took] : victim) {
        EXPECT_EQ(status, 200) << "after " << took.count() << " ms";
        times.push_back(took);
    }
    // The median: a hash at the real cost on a loaded machine may take longer now and then.
    std::sort(times.begin(), times.end());
    EXPECT_LT(times[times.size() / 2], 1000ms);
}

}  // namespace
}  // namespace corvane::backend
