#include "http/http_test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace corvane::http::testing {

RawClient::RawClient(std::uint16_t port, const char* address) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &to.sin_addr);
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
}

RawClient::~RawClient() { close(); }

bool RawClient::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void RawClient::shutdownWrite() { ::shutdown(fd_, SHUT_WR); }

void RawClient::close(bool reset) {
    if (fd_ < 0) return;
    if (reset) {
        linger hard{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    ::close(fd_);
    fd_ = -1;
}

RawClient::Received RawClient::readAll(std::chrono::milliseconds timeout) {
    Received received;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[65536];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return received;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return received;
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            received.closed = true;
            return received;
        }
        received.bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string RawClient::readAtMost(std::size_t count, std::chrono::milliseconds timeout) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
        if (n <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

bool RawClient::readableWithin(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

bool RawClient::resetWithin(std::chrono::milliseconds timeout) {
    pollfd p{fd_, 0, 0};  // no events asked: only an error or a hang-up wakes it
    return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

std::optional<Answer> parseAnswer(const std::string& raw) {
    const std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) return std::nullopt;
    Answer answer;
    answer.headText = raw.substr(0, end);
    answer.body = raw.substr(end + 4);
    std::size_t lineEnd = answer.headText.find("\r\n");
    answer.statusLine = answer.headText.substr(0, lineEnd);
    if (answer.statusLine.rfind("HTTP/1.1 ", 0) != 0 || answer.statusLine.size() < 12) return std::nullopt;
    answer.status = std::atoi(answer.statusLine.c_str() + 9);
    while (lineEnd != std::string::npos) {
        const std::size_t start = lineEnd + 2;
        lineEnd = answer.headText.find("\r\n", start);
        const std::string line =
            answer.headText.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos) return std::nullopt;
        answer.headers[line.substr(0, colon)] = line.substr(colon + 2);
    }
    const auto length = answer.headers.find("Content-Length");
    if (answer.status == 204 && length == answer.headers.end()) {
        if (!answer.body.empty()) return std::nullopt;
    } else if (length == answer.headers.end() || std::to_string(answer.body.size()) != length->second) {
        return std::nullopt;
    }
    return answer;
}

std::optional<Answer> exchange(std::uint16_t port, std::string_view request, std::chrono::milliseconds timeout) {
    RawClient client(port);
    if (!client.connected() || !client.send(request)) return std::nullopt;
    auto received = client.readAll(timeout);
    if (!received.closed) return std::nullopt;
    return parseAnswer(received.bytes);
}

}  // namespace corvane::http::testing
