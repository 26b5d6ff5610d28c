#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"

namespace corvane {

// One call per line, to the system log; tests install a sink to read the lines.
void log(std::string_view line);

namespace platform {

using LogSink = std::function<void(std::string_view)>;
// Replaces the sink (the default writes to the system log, as a SyslogWriter on /dev/log);
// returns the previous one.
LogSink setLogSink(LogSink sink);

// Sends lines to a system log socket in syslog(3)'s own text ("<13>Dec  7 19:42:15 tag[pid]: line",
// user facility, notice level) over one connection kept open: syslog(3) connects anew for every
// line while no log daemon listens, which cost more than a whole loopback request. A socket that
// is missing or refuses is tried again at most once a second, on `clock` when given (tests), else
// on the monotonic system time (the installed clock may be a simulated one whose readings cost a
// lock); the lines in between are lost, as syslog(3) loses them. Any thread.
class SyslogWriter {
public:
    SyslogWriter(std::string socketPath, std::string tag, Clock* clock = nullptr);
    ~SyslogWriter();
    SyslogWriter(const SyslogWriter&) = delete;
    SyslogWriter& operator=(const SyslogWriter&) = delete;
    void write(std::string_view line);

private:
    bool reconnect(int failedSocket);  // under the unique lock
    std::chrono::nanoseconds now() const;

    const std::string path_;
    const std::string tag_;
    Clock* const clock_;
    std::shared_mutex mutex_;  // shared while sending, unique while (re)connecting
    int socket_ = -1;
    std::atomic<bool> connected_{false};  // socket_ >= 0, for the lock-free check of write()
    // Read without the lock too, so that lines while disconnected cost no lock.
    std::atomic<std::int64_t> retryAtNs_{std::numeric_limits<std::int64_t>::min()};
};

// Records every line logged while it lives (and still forwards nothing to syslog).
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::vector<std::string> lines() const;
    bool contains(std::string_view fragment) const;

private:
    struct State {
        std::mutex mutex;
        std::vector<std::string> lines;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
    LogSink previous_;
};

}  // namespace platform
}  // namespace corvane
