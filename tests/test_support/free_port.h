#pragma once

// Loopback ports for tests: one nobody listens on now, for a server a test or benchmark starts
// itself (another program may run on the well-known one), one held closed for the test's life, and
// one held taken.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace corvane::testing {

// A loopback port bound and never listened on while this lives: a connection to it is refused,
// no other program can serve on it, and the system never gives it to an outgoing socket as its
// source port (which, for a port merely free, now and then connects a socket to itself). Where
// the simulated plug-ins of a test with no server of its own post.
class ClosedPort {
public:
    ClosedPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        // A test may bind a socket of its own to the port too (itself with address reuse).
        const int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~ClosedPort() { release(); }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;

    std::uint16_t port() const { return port_; }
    // Frees the port before this is dropped.
    void release() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

protected:
    int fd_;
    std::uint16_t port_ = 0;
};

inline std::uint16_t freePort() { return ClosedPort().port(); }

// A loopback port another program listens on and never answers while this lives: a server asking
// for it is refused it (address reuse notwithstanding) and can name this process as its holder.
class TakenPort : public ClosedPort {
public:
    TakenPort() {
        if (::listen(fd_, 1) != 0) port_ = 0;
    }
};

}  // namespace corvane::testing
