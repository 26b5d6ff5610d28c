// One real suite end to end: corvane-backend in script mode and the headless app on the simulated
// Logic Pro, each its own process, the app signed in with a local account; POST "/test/suite" runs
// six tests that change the song, five of which pass and one of which asserts something false.
//
// The processes run in wall time, so the waits here are real; every one is bounded.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "http/http_test_client.h"
#include "networking/auth_service.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "support/app_paths.h"
#include "support/files.h"
#include "test_support/temp_home.h"
#include "test_support/free_port.h"

namespace corvane::testing {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char* kEmail = "e2e@example.com";
constexpr const char* kPassword = "a long enough password";

// A child process whose standard input and output are pipes; killed and reaped when dropped.
class Child {
public:
    explicit Child(std::vector<std::string> argv) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::close(in[1]);
            ::close(out[0]);
            std::vector<char*> args;
            for (auto& a : argv) args.push_back(a.data());
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = ::fdopen(in[1], "w");
        stdout_ = ::fdopen(out[0], "r");
    }
    ~Child() {
        if (stdin_) std::fclose(stdin_);
        if (pid_ > 0 && !reaped_) {
            ::kill(pid_, SIGTERM);
            wait();
        }
        if (stdout_) std::fclose(stdout_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void write(const std::string& text) {
        std::fputs(text.c_str(), stdin_);
        std::fclose(stdin_);
        stdin_ = nullptr;
    }
    std::optional<std::string> readLine() {
        char line[1024];
        if (!std::fgets(line, sizeof line, stdout_)) return std::nullopt;
        return std::string(line);
    }
    int wait() {
        int status = -1;
        ::waitpid(pid_, &status, 0);
        reaped_ = true;
        return status;
    }
    bool stop() {
        ::kill(pid_, SIGTERM);
        const int status = wait();
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    FILE* stdin_ = nullptr;
    FILE* stdout_ = nullptr;
};

std::optional<http::testing::Answer> request(std::uint16_t port, const std::string& method, const std::string& path,
                                             const std::string& body, std::chrono::milliseconds timeout) {
    std::string raw = method + " " + path +
                      " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                      body;
    return http::testing::exchange(port, raw, timeout);
}

json step(const std::string& tool, const json& arguments) {
    return {{"calls", json::array({{{"name", tool}, {"arguments", arguments}}})}};
}
json rule(const std::string& match, std::vector<json> steps) { return {{"match", match}, {"steps", steps}}; }
json respond(const std::string& prose) { return {{"respond", prose}}; }

// What the backend's model does for each prompt of the suite.
json backendScript() {
    return {{"rules",
             {rule("^mute the guitar$", {step("set_track_mute", {{"track_names", {"Guitar"}}, {"enabled", true}}),
                                         respond("Guitar is muted.")}),
              rule("^pull the keys down$",
                   {step("set_track_volume", {{"tracks", {{{"track_name", "Keys"}, {"value", "-6 dB"}}}}}),
                    respond("Keys now sit at -6 dB.")}),
              rule("^compress the bass$", {step("add_plugin", {{"track_name", "Bass"}, {"plugin_name", "Compressor"}}),
                                           respond("Added a Compressor to Bass.")}),
              rule("^rename the drums$", {step("rename_track", {{"current_name", "Drums"}, {"new_name", "Kit"}}),
                                          respond("Drums is now called Kit.")}),
              rule("^listen to the bass$",
                   {step("listen_to_playback", {{"duration_seconds", 2}, {"start_bar", 1}, {"tracks", "Bass"}}),
                    respond("The bass sits well under the vocal.")}),
              rule("^which tracks$", {step("list_tracks", json::object()), respond("Those are the tracks.")})}}};
}

json assertion(const std::string& type, const std::string& op, json members = json::object()) {
    members["type"] = type;
    members["op"] = op;
    return members;
}

json testCase(const std::string& id, const std::string& prompt, std::vector<std::string> tracks,
              std::vector<json> assertions) {
    return {{"id", id},
            {"prompt", prompt},
            {"snapshotTracks", tracks},
            {"timeoutSeconds", 60},
            {"captureScreenshots", id == "mute"},
            {"assertions", assertions}};
}

std::vector<json> suiteCases() {
    return {
        testCase("mute", "Mute the guitar", {"Guitar"},
                 {assertion("track", "changed", {{"track", "Guitar"}, {"field", "mute"}}),
                  assertion("track", "is_on", {{"track", "Guitar"}, {"field", "mute"}}),
                  assertion("tool", "was_called", {{"tool", "set_track_mute"}}),
                  assertion("agent", "response_contains", {{"value", "muted"}})}),
        testCase("volume", "Pull the keys down", {"Keys"},
                 {assertion("track", "decreased", {{"track", "Keys"}, {"field", "volume"}}),
                  assertion("track", "lte", {{"track", "Keys"}, {"field", "volumeDisplay"}, {"value", "-5.5 dB"}}),
                  assertion("tool", "all_succeeded")}),
        testCase("plugin", "Compress the bass", {"Bass"},
                 {assertion("plugin", "present", {{"track", "Bass"}, {"plugin", "compressor"}}),
                  assertion("plugin", "active", {{"track", "Bass"}, {"plugin", "compressor"}}),
                  assertion("tool", "was_called", {{"tool", "add_plugin"}})}),
        testCase("rename", "Rename the drums", {"Kit"},
                 {assertion("track", "changed", {{"track", "Kit"}, {"field", "volume"}}),
                  assertion("tool", "all_succeeded"), assertion("agent", "max_rounds", {{"value", "2"}})}),
        testCase("listen", "Listen to the bass", {"Bass"},
                 {assertion("tool", "was_called", {{"tool", "listen_to_playback"}}), assertion("tool", "all_succeeded"),
                  assertion("track", "unchanged", {{"track", "Bass"}, {"field", "solo"}}),
                  assertion("agent", "response_contains", {{"value", "under the vocal"}})}),
        testCase("wrong", "Which tracks", {},
                 {assertion("tool", "was_called", {{"tool", "list_tracks"}}),
                  assertion("agent", "response_contains", {{"value", "banana"}})}),
    };
}

TEST(SuiteEndToEnd, ARealSuiteChangesTheSongAndReportsTheOneFalseAssertion) {
    TempHome home;
    const auto backendHome = home.root() / "backend";
    const auto script = home.root() / "script.json";
    ASSERT_TRUE(writeFileAtomically(script, backendScript().dump()));
    ::setenv("CORVANE_BACKEND_HOME", backendHome.c_str(), 1);
    ::setenv("CORVANE_BACKEND_SCRIPT", script.c_str(), 1);

    {
        Child addUser({CORVANE_BACKEND_BINARY, "add-user", kEmail});
        addUser.write(std::string(kPassword) + "\n");
        const int status = addUser.wait();
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    Child backend({CORVANE_BACKEND_BINARY, "--port", "0"});
    const auto banner = backend.readLine();
    ASSERT_TRUE(banner);
    const auto portAt = banner->find("127.0.0.1:");
    ASSERT_NE(portAt, std::string::npos) << *banner;
    const std::string backendURL = "http://127.0.0.1:" + std::to_string(std::stoi(banner->substr(portAt + 10)));

    // The sign-in the window would make, kept in the application folder the app then reads.
    networking::BackendConfiguration configuration;
    configuration.baseURL = backendURL;
    {
        networking::AuthService auth(configuration);
        auth.signIn(kEmail, kPassword);
        ASSERT_TRUE(auth.isAuthenticated()) << auth.errorMessage().value_or("");
    }

    const auto cases = AppPaths::appSupportDirectory("test-cases");
    std::vector<std::string> ids;
    for (const auto& test : suiteCases()) {
        ids.push_back(test["id"]);
        ASSERT_TRUE(writeFileAtomically(cases / (ids.back() + ".json"), test.dump(2)));
    }
    ASSERT_TRUE(writeFileAtomically(cases / "e2e.suite.json", json{{"name", "End to end"}, {"tests", ids}}.dump()));

    const std::uint16_t port = testing::freePort();
    ::setenv("CORVANE_PORT", std::to_string(port).c_str(), 1);
    ::setenv("CORVANE_BACKEND_URL", backendURL.c_str(), 1);
    Child app({CORVANE_BINARY});
    bool up = false;
    for (int attempt = 0; attempt < 200 && !up; ++attempt) {
        up = request(port, "GET", "/health", "", 1s).has_value();
        if (!up) platform::pause(0.05);
    }
    ASSERT_TRUE(up);

    const auto answer = request(port, "POST", "/test/suite", R"({"suite":"e2e"})", 100s);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    const auto suite = json::parse(answer->body);
    EXPECT_EQ(suite["suite"], "mute,volume,plugin,rename,listen,wrong");
    EXPECT_EQ(suite["passedCount"], 5) << suite.dump(2);
    EXPECT_EQ(suite["failedCount"], 1);
    ASSERT_EQ(suite["results"].size(), 6u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(suite["results"][i]["passed"], true) << suite["results"][i].dump(2);
        EXPECT_FALSE(suite["results"][i].contains("error"));
    }
    const auto& wrong = suite["results"][5];
    EXPECT_EQ(wrong["passed"], false);
    EXPECT_FALSE(wrong.contains("error")) << "the turn itself completed";
    EXPECT_EQ(wrong["assertionResults"][0], (json{{"passed", true}, {"message", "tool list_tracks: called"}}));
    EXPECT_EQ(wrong["assertionResults"][1], (json{{"passed", false}, {"message", "response missing 'banana'"}}));
    EXPECT_EQ(suite["results"][3]["after"]["Kit"]["trackName"], "Kit");
    const auto& shots = suite["results"][0]["screenshots"];
    ASSERT_TRUE(shots.contains("afterPath")) << shots.dump();
    EXPECT_TRUE(std::filesystem::exists(shots["afterPath"].get<std::string>()));

    EXPECT_TRUE(app.stop());
    EXPECT_TRUE(backend.stop());
}

}  // namespace
}  // namespace corvane::testing
