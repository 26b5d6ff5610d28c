#include "test_support/child_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "support/numbers.h"
#include "test_support/hang_guard.h"

extern char** environ;

namespace corvane::testing {

using namespace std::chrono_literals;

ChildProcess::ChildProcess(std::vector<std::string> argv, const std::string& input,
                           const std::vector<std::string>& environment) {
    // glibc's getenv takes the first of several entries of one name.
    std::vector<std::string> variables = environment;
    for (char** entry = environ; *entry != nullptr; ++entry) variables.emplace_back(*entry);
    std::vector<char*> args, envp;
    for (auto& argument : argv) args.push_back(argument.data());
    for (auto& variable : variables) envp.push_back(variable.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::close(in[1]);
        ::close(out[0]);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    if (!input.empty()) (void)!::write(in[1], input.data(), input.size());
    ::close(in[1]);
    out_ = out[0];
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGTERM);
        exitStatus();
    }
    if (out_ >= 0) ::close(out_);
}

std::string ChildProcess::output(const std::string& until) {
    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
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

std::int64_t ChildProcess::peakResidentKiB() const { return statusKiB("VmHWM:"); }

std::int64_t ChildProcess::residentKiB() const { return statusKiB("VmRSS:"); }

std::int64_t ChildProcess::statusKiB(std::string_view field) const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (!line.starts_with(field)) continue;
        const auto digits = line.find_first_of("0123456789");
        return readInteger(line.substr(digits, line.find(' ', digits) - digits)).value_or(-1);
    }
    return -1;
}

int ChildProcess::exitStatus() {
    if (pid_ <= 0) return -1;  // never started: waitpid(-1) would reap another child
    if (!status_) {
        int status = -1;
        ::waitpid(pid_, &status, 0);
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return *status_;
}

bool ChildProcess::stop() {
    if (pid_ > 0 && !status_) ::kill(pid_, SIGTERM);
    return exitStatus() == 0;
}

std::optional<std::uint16_t> announcedPort(const std::string& output) {
    const auto at = output.find("127.0.0.1:");
    if (at == std::string::npos) return std::nullopt;
    const auto digits = output.substr(at + 10, output.find_first_not_of("0123456789", at + 10) - at - 10);
    const auto port = readInteger(digits);
    if (!port || *port < 1 || *port > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(*port);
}

}  // namespace corvane::testing
