#pragma once

// A raw loopback TCP client for the server tests: sends exactly the bytes given, when asked,
// and never waits forever: a read waits for what it needs up to a hang guard unless told less.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "test_support/hang_guard.h"

namespace corvane::http::testing {

using namespace std::chrono_literals;

class RawClient {
public:
    // Connects to address:port; connected() tells whether that worked.
    explicit RawClient(std::uint16_t port, const char* address = "127.0.0.1");
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return fd_ >= 0 && connected_; }
    bool send(std::string_view bytes);
    void shutdownWrite();
    // Closes at once; with reset, by an RST (SO_LINGER 0) rather than a FIN.
    void close(bool reset = false);

    struct Received {
        std::string bytes;
        bool closed = false;  // the server closed (EOF or reset) before the deadline
    };
    // Reads until the server closes or the time runs out.
    Received readAll(std::chrono::milliseconds timeout = corvane::testing::kHangGuard);
    // Reads until `count` bytes are in, the server closes or the time runs out.
    std::string readAtMost(std::size_t count, std::chrono::milliseconds timeout = corvane::testing::kHangGuard);
    // True when something (bytes or the end) arrives within the time.
    bool readableWithin(std::chrono::milliseconds timeout);
    // True when the connection is reset (or shut both ways) within the time, whatever is unread.
    bool resetWithin(std::chrono::milliseconds timeout);

private:
    int fd_ = -1;
    bool connected_ = false;
};

struct Answer {
    int status = 0;
    std::string statusLine;
    std::map<std::string, std::string> headers;  // in the order and spelling sent
    std::string headText;                        // everything before the blank line
    std::string body;
};
// Absent when the bytes are not one whole answer whose Content-Length matches its body (a 204: with
// none and no body).
std::optional<Answer> parseAnswer(const std::string& raw);

// Connects, sends the request, reads the answer until the server closes.
std::optional<Answer> exchange(std::uint16_t port, std::string_view request, std::chrono::milliseconds timeout = corvane::testing::kHangGuard);

}  // namespace corvane::http::testing
