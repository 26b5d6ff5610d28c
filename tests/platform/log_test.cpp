#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/log.h"
#include "test_support/manual_clock.h"

namespace corvane::platform {
namespace {

TEST(Log, CaptureRecordsEachLineAndRestoresThePreviousSink) {
    LogCapture outer;
    {
        LogCapture inner;
        corvane::log("[Test] one");
        EXPECT_TRUE(inner.contains("[Test] one"));
    }
    corvane::log("[Test] two");
    EXPECT_EQ(outer.lines(), std::vector<std::string>{"[Test] two"});
}

// A log daemon's socket: a datagram socket bound to a path in a fresh folder.
class FakeLogDaemon {
public:
    explicit FakeLogDaemon(std::string path) : path_(std::move(path)) {
        std::filesystem::remove(path_);
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path_.data(), path_.size());
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~FakeLogDaemon() {
        ::close(fd_);
        std::filesystem::remove(path_);
    }
    bool bound() const { return bound_; }
    // The datagrams waiting, without waiting for more.
    std::vector<std::string> take() {
        std::vector<std::string> got;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0;) got.emplace_back(buffer, n);
        return got;
    }

private:
    std::string path_;
    int fd_ = -1;
    bool bound_ = false;
};

class SyslogWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/corvane-log-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        folder_ = folder;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::string socketPath() const { return folder_ + "/log"; }

    std::string folder_;
    corvane::testing::ManualClock clock_;
};

TEST_F(SyslogWriterTest, LinesKeepSyslogsTextAndOneConnectionOutlivesADaemonRestart) {
    std::optional<FakeLogDaemon> daemon(std::in_place, socketPath());
    ASSERT_TRUE(daemon->bound());
    SyslogWriter writer(socketPath(), "corvane", &clock_);
    writer.write("[API] Local request GET /health");
    writer.write("Quillmere server listening on port 51234");
    const auto lines = daemon->take();
    ASSERT_EQ(lines.size(), 2u);
    const std::string tag = " corvane\\[" + std::to_string(::getpid()) + "\\]: ";
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("<13>[A-Z][a-z]{2} [ 123][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2}" +
                                                      tag + "\\[API\\] Local request GET /health")))
        << lines[0];
    EXPECT_TRUE(lines[1].ends_with("]: Quillmere server listening on port 51234")) << lines[1];

    // The daemon restarts a while later: the next line finds it through a new connection.
    daemon.reset();
    daemon.emplace(socketPath());
    clock_.sleep(std::chrono::seconds(5));
    writer.write("after the restart");
    ASSERT_EQ(daemon->take().size(), 1u);
}

TEST_F(SyslogWriterTest, WithoutADaemonTheSocketIsTriedAgainAtMostOnceASecond) {
    SyslogWriter writer(socketPath(), "corvane", &clock_);
    writer.write("lost: nobody listens");
    FakeLogDaemon daemon(socketPath());
    ASSERT_TRUE(daemon.bound());
    writer.write("lost too: not tried again yet");
    clock_.sleep(std::chrono::milliseconds(999));
    writer.write("still lost");
    EXPECT_TRUE(daemon.take().empty());
    clock_.sleep(std::chrono::milliseconds(1));
    writer.write("delivered");
    const auto lines = daemon.take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with("]: delivered"));
}

}  // namespace
}  // namespace corvane::platform
