#include "platform/loopback_post.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace corvane::platform {

namespace {

struct Socket {
    int fd = -1;
    ~Socket() {
        if (fd >= 0) ::close(fd);
    }
};

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Both ends one address and port: a connection the system made to a port nobody listened on,
// from that same port (the simultaneous open of a socket with itself).
bool connectedToItself(int fd) {
    sockaddr_in local{}, remote{};
    socklen_t localLength = sizeof local, remoteLength = sizeof remote;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        ::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remoteLength) != 0)
        return false;
    return local.sin_port == remote.sin_port && local.sin_addr.s_addr == remote.sin_addr.s_addr;
}

}  // namespace

LoopbackPostResult postToLoopback(std::uint16_t port, std::string_view path, std::string_view contentType,
                                  std::string_view body, std::chrono::milliseconds ioTimeout, std::uint16_t fromPort) {
    LoopbackPostResult result;
    Socket s;
    s.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s.fd < 0) {
        result.error = std::string("socket: ") + std::strerror(errno);
        return result;
    }
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ioTimeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ioTimeout.count() % 1000) * 1000);
    ::setsockopt(s.fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(s.fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fromPort != 0) {
        const int one = 1;
        ::setsockopt(s.fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        address.sin_port = htons(fromPort);
        if (::bind(s.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            result.error = std::string("bind: ") + std::strerror(errno);
            return result;
        }
    }
    address.sin_port = htons(port);
    int rc;
    do {
        rc = ::connect(s.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        result.error = errno == ECONNREFUSED ? "connection refused" : std::string("connect: ") + std::strerror(errno);
        return result;
    }
    // Connected to itself, it would read its own request back until the time-out.
    if (connectedToItself(s.fd)) {
        result.error = "connection refused";
        return result;
    }

    std::string request;
    request.reserve(160 + body.size());
    request += "POST ";
    request += path;
    request += " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nContent-Type: ";
    request += contentType;
    request += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    request += body;
    if (!sendAll(s.fd, request)) {
        result.error = std::string("send: ") + std::strerror(errno);
        return result;
    }

    std::string answer;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(s.fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            result.error = std::string("receive: ") + std::strerror(errno);
            return result;
        }
        if (n == 0) break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    // "HTTP/1.1 200 OK\r\n..."
    if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12) {
        result.error = "no answer";
        return result;
    }
    result.delivered = true;
    // The digits after "HTTP/1.x "; without any the status stays 0.
    std::from_chars(answer.data() + 9, answer.data() + 12, result.statusCode);
    if (const auto head = answer.find("\r\n\r\n"); head != std::string::npos) result.body = answer.substr(head + 4);
    return result;
}

}  // namespace corvane::platform
