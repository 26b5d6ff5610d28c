// The headless entry, run as its own process.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "app/simulated_host.h"
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

// The settings the programs read: every "CORVANE_…" or "XDG_…" text in their sources (not
// corvane-backend's, which tells its own).
std::set<std::string> settingsReadInTheSources() {
    std::set<std::string> names;
    const std::filesystem::path sources = std::filesystem::path(CORVANE_SOURCE_DIR) / "src";
    for (const auto& entry : std::filesystem::recursive_directory_iterator(sources)) {
        const auto& path = entry.path();
        if (path.extension() != ".cpp" && path.extension() != ".h") continue;
        if (path.lexically_relative(sources).begin()->string() == "backend") continue;
        std::ifstream file(path);
        const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        for (const std::string prefix : {"\"CORVANE_", "\"XDG_"}) {
            for (auto at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
                const auto end = text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ_", at + 1);
                if (end != std::string::npos && text[end] == '"') names.insert(text.substr(at + 1, end - at - 1));
            }
        }
    }
    return names;
}

// `--help` ran the program (here: refused a bad port) instead of telling its options and settings.
TEST(Main, HelpNamesEverySettingTheProgramsReadAndExits) {
    corvane::testing::TempHome home;
    int status = -1;
    const std::string out = run("--help", status, "CORVANE_PORT=99999", true);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << out;
    EXPECT_EQ(out, SimulatedHost::helpText());
    const auto settings = settingsReadInTheSources();
    EXPECT_GE(settings.size(), 9u);
    for (const auto& name : settings) EXPECT_NE(out.find("  " + name + " "), std::string::npos) << name;
    for (const std::string option : {"--print-health", "--capture-test", "--version", "--help"})
        EXPECT_NE(out.find("  " + option + " "), std::string::npos) << option;
}

// An unknown option was ignored: the program served on the default port with the default folder.
// Anything but its own options is refused with the usage, before anything starts.
TEST(Main, AnUnknownArgumentIsRefusedWithTheUsage) {
    corvane::testing::TempHome home;
    for (const std::string argument : {"--bogus", "-h", "--help=1", "stray", "--capture-test", "--version --x"}) {
        int status = -1;
        const std::string told = run(argument, status, "CORVANE_PORT=99999", true);
        ASSERT_TRUE(WIFEXITED(status)) << argument;
        EXPECT_EQ(WEXITSTATUS(status), 2) << argument;
        const std::string refused = argument.substr(argument.rfind(' ') + 1);
        EXPECT_EQ(told, "corvane-headless: " +
                            std::string(refused.starts_with('-') ? "unknown option '" : "unexpected argument '") +
                            refused + "'\n" + SimulatedHost::usageText())
            << argument;
    }
    int status = -1;
    EXPECT_EQ(run("--version", status), "Corvane " CORVANE_VERSION "\n");
    EXPECT_EQ(WEXITSTATUS(status), 0);
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

// The holder was named from the kernel's short name, cut at 15 characters ("corvane-headles"): a
// program with a longer name is named in full.
TEST(Main, ATakenPortNamesItsHolderInFull) {
    corvane::testing::TempHome home;
    const std::filesystem::path holder = home.root() / "corvane-port-holder-with-a-long-name";
    std::filesystem::create_symlink(std::filesystem::exists("/usr/bin/sleep") ? "/usr/bin/sleep" : "/bin/sleep",
                                    holder);
    // A listening socket that the holder inherits and keeps; this process lets go of it.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const unsigned port = ntohs(address.sin_port);
    // The pipe closes when the holder's program has replaced the child.
    int started[2];
    ASSERT_EQ(::pipe2(started, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(holder.c_str(), holder.c_str(), "600", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(listener);
    ::close(started[1]);
    char byte;
    while (::read(started[0], &byte, 1) > 0) {
    }
    ::close(started[0]);

    int status = -1;
    const std::string told = run("", status, "CORVANE_PORT=" + std::to_string(port), true);
    ::kill(child, SIGTERM);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(told.find("Address already in use (corvane-port-holder-with-a-long-name, process " +
                        std::to_string(child) + ")"),
              std::string::npos)
        << told;
}

}  // namespace
}  // namespace corvane::app
