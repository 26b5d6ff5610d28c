#include "platform/log.h"

#include <syslog.h>

#include <algorithm>
#include <utility>

namespace corvane {

namespace {
std::mutex gSinkMutex;

void syslogSink(std::string_view line) {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("corvane", LOG_PID, LOG_USER); });
    syslog(LOG_NOTICE, "%.*s", static_cast<int>(line.size()), line.data());
}

platform::LogSink& sink() {
    static platform::LogSink s = syslogSink;
    return s;
}
}  // namespace

void log(std::string_view line) {
    platform::LogSink current;
    {
        std::lock_guard lock(gSinkMutex);
        current = sink();
    }
    if (current) current(line);
}

namespace platform {

LogSink setLogSink(LogSink newSink) {
    std::lock_guard lock(gSinkMutex);
    return std::exchange(sink(), std::move(newSink));
}

LogCapture::LogCapture() {
    previous_ = setLogSink([state = state_](std::string_view line) {
        std::lock_guard lock(state->mutex);
        state->lines.emplace_back(line);
    });
}

LogCapture::~LogCapture() { setLogSink(std::move(previous_)); }

std::vector<std::string> LogCapture::lines() const {
    std::lock_guard lock(state_->mutex);
    return state_->lines;
}

bool LogCapture::contains(std::string_view fragment) const {
    std::lock_guard lock(state_->mutex);
    return std::any_of(state_->lines.begin(), state_->lines.end(),
                       [&](const std::string& l) { return l.find(fragment) != std::string::npos; });
}

}  // namespace platform
}  // namespace corvane
