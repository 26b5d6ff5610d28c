#include "platform/log.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>


namespace corvane {

namespace {
std::mutex gSinkMutex;

constexpr std::string_view kUserNotice = "<13>";  // LOG_USER | LOG_NOTICE
constexpr auto kRetryInterval = std::chrono::seconds(1);

void systemLogSink(std::string_view line) {
    // Never destroyed: threads may still log while the program's statics go.
    static auto* writer = new platform::SyslogWriter("/dev/log", "corvane");
    writer->write(line);
}

platform::LogSink& sink() {
    static platform::LogSink s = systemLogSink;
    return s;
}

// The installed sink is the system log's (as always outside tests): every request thread logs,
// and reaches it without the sink lock or a copy of the sink.
std::atomic<bool> gSystemSink{true};

bool isSystemSink(const platform::LogSink& s) {
    const auto* target = s.target<void (*)(std::string_view)>();
    return target && *target == &systemLogSink;
}
}  // namespace

void log(std::string_view line) {
    if (gSystemSink.load(std::memory_order_acquire)) {
        systemLogSink(line);
        return;
    }
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
    gSystemSink.store(isSystemSink(newSink), std::memory_order_release);
    return std::exchange(sink(), std::move(newSink));
}

SyslogWriter::SyslogWriter(std::string socketPath, std::string tag, Clock* clock)
    : path_(std::move(socketPath)), tag_(std::move(tag) + "[" + std::to_string(::getpid()) + "]: "), clock_(clock) {}

SyslogWriter::~SyslogWriter() {
    if (socket_ >= 0) ::close(socket_);
}

std::chrono::nanoseconds SyslogWriter::now() const {
    return clock_ ? std::chrono::duration_cast<std::chrono::nanoseconds>(clock_->now().time_since_epoch())
                  : std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch());
}

namespace {
// syslog(3)'s stamp of this second, formatted once a second per thread: localtime_r takes the C
// library's time zone lock, which every request thread would otherwise queue on.
std::string_view stampOfNow() {
    struct Stamp {
        std::time_t second = -1;
        char text[32];
        std::size_t length = 0;
    };
    thread_local Stamp stamp;  // trivially destructible: usable until the thread's very end
    const std::time_t now = std::time(nullptr);
    if (now != stamp.second) {
        std::tm local{};
        ::localtime_r(&now, &local);
        stamp.length = std::strftime(stamp.text, sizeof stamp.text, "%h %e %T ", &local);
        stamp.second = now;
    }
    return {stamp.text, stamp.length};
}
}  // namespace

void SyslogWriter::write(std::string_view line) {
    // While no log listens, the line is lost without touching the lock the senders share.
    if (!connected_.load(std::memory_order_relaxed) && now().count() < retryAtNs_.load(std::memory_order_relaxed))
        return;
    int fd = -1;
    {
        std::shared_lock lock(mutex_);
        fd = socket_;
    }
    if (fd < 0) {
        if (now().count() < retryAtNs_.load(std::memory_order_relaxed)) return;
        std::unique_lock lock(mutex_);
        if (!reconnect(-1)) return;
        fd = socket_;
    }
    // The wall time of the line, as syslog(3) stamps it, whatever clock paces the retries.
    const std::string_view stamp = stampOfNow();
    // Most lines fit on the stack; a longer one is put together on the heap.
    char small[1024];
    std::string large;
    std::string_view text;
    const std::size_t length = kUserNotice.size() + stamp.size() + tag_.size() + line.size();
    if (length <= sizeof small) {
        char* at = small;
        for (const std::string_view part : {kUserNotice, stamp, std::string_view(tag_), line}) {
            std::memcpy(at, part.data(), part.size());
            at += part.size();
        }
        text = std::string_view(small, length);
    } else {
        large.reserve(length);
        large.append(kUserNotice).append(stamp).append(tag_).append(line);
        text = large;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        {
            std::shared_lock lock(mutex_);
            // A daemon that falls behind loses the line rather than stalling the caller.
            if (socket_ == fd && (::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0 ||
                                  errno == EAGAIN || errno == EWOULDBLOCK))
                return;
        }
        // The daemon went away or restarted: one new connection, as syslog(3) tries.
        std::unique_lock lock(mutex_);
        if (socket_ == fd && !reconnect(fd)) return;
        if (socket_ < 0) return;
        fd = socket_;
    }
}

bool SyslogWriter::reconnect(int failedSocket) {
    if (socket_ >= 0 && socket_ != failedSocket) return true;  // another thread reconnected
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
        connected_.store(false, std::memory_order_relaxed);
    }
    const auto at = now();
    if (at.count() < retryAtNs_.load(std::memory_order_relaxed)) return false;
    retryAtNs_.store((at + kRetryInterval).count(), std::memory_order_relaxed);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path_.data(), path_.size());
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    socket_ = fd;
    connected_.store(true, std::memory_order_relaxed);
    return true;
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
