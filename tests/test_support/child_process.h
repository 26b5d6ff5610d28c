#pragma once

// A program of ours run as its own process, for tests of what only a process shows: its command
// line, exit status, output and resident memory. It runs in wall time, so its waits are real; every
// one is bounded.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::testing {

// Standard input given (then closed) and standard output on a pipe; the environment is ours with
// `environment` ("NAME=value") taking precedence. Stopped and reaped when dropped.
class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> argv, const std::string& input = "",
                          const std::vector<std::string>& environment = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // The peak of its resident size (VmHWM) in KiB, -1 when unreadable.
    std::int64_t peakResidentKiB() const;
    // Its resident size now (VmRSS) in KiB, -1 when unreadable.
    std::int64_t residentKiB() const;
    // What it wrote until `until` appears in it or it closes its output, or until a hang.
    std::string output(const std::string& until = "");
    // Its exit code, or 128 + the signal that ended it; waits for it to end.
    int exitStatus();
    // Asks it to end (SIGTERM): true when it then exits cleanly.
    bool stop();

private:
    std::int64_t statusKiB(std::string_view field) const;
    pid_t pid_ = -1;
    int out_ = -1;
    std::string output_;
    std::optional<int> status_;
};

// The port of a "listening on http://127.0.0.1:N" line, as corvane-backend announces it.
std::optional<std::uint16_t> announcedPort(const std::string& output);

}  // namespace corvane::testing
