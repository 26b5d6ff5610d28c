// corvane-backend as its own process: its command line, and its resident memory under a burst of
// sign-ins (only a process of its own has a peak to read). The process runs in wall time, so the
// waits here are real; every one is bounded.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <future>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "backend/backend_service.h"
#include "http/http_test_client.h"
#include "support/numbers.h"
#include "test_support/temp_home.h"

extern char** environ;

namespace corvane::backend {
namespace {

using namespace std::chrono_literals;

// corvane-backend with its standard output on a pipe and the environment given added to ours;
// stopped and reaped when dropped.
class Backend {
public:
    Backend(std::vector<std::string> arguments, const std::vector<std::string>& environment,
            const std::string& input = "") {
        arguments.insert(arguments.begin(), CORVANE_BACKEND_BINARY);
        std::vector<std::string> variables = environment;
        for (char** entry = environ; *entry != nullptr; ++entry) variables.emplace_back(*entry);
        std::vector<char*> argv, envp;
        for (auto& argument : arguments) argv.push_back(argument.data());
        for (auto& variable : variables) envp.push_back(variable.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::close(in[1]);
            ::close(out[0]);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        if (!input.empty()) (void)!::write(in[1], input.data(), input.size());
        ::close(in[1]);
        out_ = out[0];
    }
    ~Backend() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGTERM);
            exitStatus();
        }
        if (out_ >= 0) ::close(out_);
    }
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    pid_t pid() const { return pid_; }

    // What it wrote until `until` appears in it or it closes its output, within 10 s.
    std::string output(const std::string& until = "") {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (until.empty() || output_.find(until) == std::string::npos) {
            pollfd ready{out_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left <= 0ms || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
            char chunk[4096];
            const ssize_t n = ::read(out_, chunk, sizeof chunk);
            if (n <= 0) break;
            output_.append(chunk, static_cast<std::size_t>(n));
        }
        return output_;
    }

    int exitStatus() {
        if (!status_) {
            int status = -1;
            ::waitpid(pid_, &status, 0);
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        return *status_;
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
    std::optional<int> status_;
};

TEST(BackendProcess, HelpNamesEverySettingAndExitsZeroWhileAnUnknownOptionStillFails) {
    Backend help({"--help"}, {});
    const std::string text = help.output();
    EXPECT_EQ(help.exitStatus(), 0);
    for (const char* setting : {"--port", "add-user", "remove-user", "CORVANE_BACKEND_HOME", "CORVANE_BACKEND_APIKEY",
                                "CORVANE_BACKEND_SCRIPT", "CORVANE_PROVIDER_URL", "CORVANE_PROVIDER_KEY",
                                "CORVANE_PROVIDER_MODEL", "CORVANE_PROVIDER_MODEL_PRO", "relay", "script"}) {
        EXPECT_NE(text.find(setting), std::string::npos) << setting;
    }
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{"--bogus"}, {"--port"}, {"--help", "x"}}) {
        Backend refused(wrong, {});
        EXPECT_EQ(refused.output(), "");
        EXPECT_EQ(refused.exitStatus(), 2) << wrong.front();
    }
}

std::int64_t peakResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) != 0) continue;
        const auto digits = line.find_first_of("0123456789");
        const auto end = line.find(' ', digits);
        return readInteger(line.substr(digits, end - digits)).value_or(-1);
    }
    return -1;
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
        Backend add({"add-user", "mix@example.com"}, environment, "right password\n");
        ASSERT_EQ(add.exitStatus(), 0) << add.output();
    }
    Backend backend({"--port", "0"}, environment);
    const std::string banner = backend.output(")");
    const auto at = banner.find("127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << banner;
    const auto port = readInteger(banner.substr(at + 10, banner.find(' ', at) - at - 10));
    ASSERT_TRUE(port) << banner;

    const std::int64_t before = peakResidentKiB(backend.pid());
    std::vector<std::future<std::optional<http::testing::Answer>>> answers;
    for (int i = 0; i < 64; ++i) {
        const std::string email = i % 3 == 0 ? "nobody" + std::to_string(i) + "@example.com" : "mix@example.com";
        const std::string password = i % 3 == 2 ? "right password" : "wrong password";
        const std::string body = nlohmann::json{{"email", email}, {"password", password}}.dump();
        const std::string request = std::string("POST /auth/v1/token?grant_type=password HTTP/1.1\r\napikey: ") +
                                    BackendOptions::kDefaultPublishableKey +
                                    "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        answers.push_back(std::async(std::launch::async, [port, request] {
            return http::testing::exchange(static_cast<std::uint16_t>(*port), request, 30s);
        }));
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
    const std::int64_t peak = peakResidentKiB(backend.pid());
    std::cout << "peak resident " << peak / 1024 << " MiB (" << before / 1024 << " MiB before the sign-ins); "
              << statuses.count(200) << " signed in, " << statuses.count(400) << " refused, " << statuses.count(429)
              << " told to wait\n";
    EXPECT_EQ(statuses.count(200) + statuses.count(400) + statuses.count(429), 64u);
    EXPECT_GE(statuses.count(200), 1u);
    EXPECT_LT(peak, 400 * 1024);
}

}  // namespace
}  // namespace corvane::backend
