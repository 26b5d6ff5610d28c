#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// One call per line, to the system log; tests install a sink to read the lines.
void log(std::string_view line);

namespace platform {

using LogSink = std::function<void(std::string_view)>;
// Replaces the sink (the default writes to syslog); returns the previous one.
LogSink setLogSink(LogSink sink);

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
