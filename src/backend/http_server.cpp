#include "backend/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

namespace corvane::backend {
namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string trimmedSpaces(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 411: return "Length Required";
        case 413: return "Payload Too Large";
        case 500: return "Internal Server Error";
        case 502: return "Bad Gateway";
        default: return "Status";
    }
}

Response errorResponse(int status, const std::string& message) {
    return Response{status, "application/json", "{\"error\":\"" + message + "\"}"};
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string Request::path() const { return target.substr(0, target.find('?')); }
std::string Request::query() const {
    const auto mark = target.find('?');
    return mark == std::string::npos ? "" : target.substr(mark + 1);
}
std::string Request::header(const std::string& lowerCaseName) const {
    const auto found = headers.find(lowerCaseName);
    return found == headers.end() ? "" : found->second;
}

struct HTTPServer::Core {
    std::uint16_t requestedPort;
    Handler handler;
    ServerLimits limits;

    std::mutex mutex;
    std::condition_variable idle;
    int listenFd = -1;
    int wakeFd = -1;
    std::uint16_t boundPort = 0;
    std::thread acceptor;
    std::set<int> connections;
    bool stopping = false;

    void acceptLoop(const std::shared_ptr<Core>& self);
    void serve(int fd);
    Response readAndHandle(int fd);
};

HTTPServer::HTTPServer(std::uint16_t port, Handler handler, ServerLimits limits) : core_(std::make_shared<Core>()) {
    core_->requestedPort = port;
    core_->handler = std::move(handler);
    core_->limits = limits;
}

HTTPServer::~HTTPServer() { stop(); }

std::uint16_t HTTPServer::port() const {
    std::lock_guard lock(core_->mutex);
    return core_->boundPort;
}

void HTTPServer::start() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(core_->requestedPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 64) != 0) {
        const int error = errno;
        ::close(fd);
        throw std::system_error(error, std::generic_category(),
                                "bind 127.0.0.1:" + std::to_string(core_->requestedPort));
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    std::lock_guard lock(core_->mutex);
    core_->listenFd = fd;
    core_->wakeFd = ::eventfd(0, EFD_CLOEXEC);
    core_->boundPort = ntohs(address.sin_port);
    core_->stopping = false;
    core_->acceptor = std::thread([core = core_] { core->acceptLoop(core); });
}

void HTTPServer::stop() {
    std::thread acceptor;
    {
        std::lock_guard lock(core_->mutex);
        if (core_->listenFd < 0) return;
        core_->stopping = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(core_->wakeFd, &one, sizeof one);
        acceptor = std::move(core_->acceptor);
    }
    if (acceptor.joinable()) acceptor.join();
    std::unique_lock lock(core_->mutex);
    for (int fd : core_->connections) ::shutdown(fd, SHUT_RDWR);
    core_->idle.wait(lock, [&] { return core_->connections.empty(); });
    ::close(core_->listenFd);
    ::close(core_->wakeFd);
    core_->listenFd = -1;
    core_->wakeFd = -1;
    core_->boundPort = 0;
}

void HTTPServer::Core::acceptLoop(const std::shared_ptr<Core>& self) {
    for (;;) {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        {
            std::lock_guard lock(mutex);
            if (stopping) {
                ::close(fd);
                return;
            }
            connections.insert(fd);
        }
        timeval timeout{limits.idleTimeoutSeconds, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        // The thread holds the core alive; stop() waits for every connection to end.
        std::thread([self, fd] { self->serve(fd); }).detach();
    }
}

void HTTPServer::Core::serve(int fd) {
    Response response;
    try {
        response = readAndHandle(fd);
    } catch (const std::exception&) {
        response = errorResponse(500, "Internal error");
    }
    if (response.statusCode != 0) {
        const std::string head = "HTTP/1.1 " + std::to_string(response.statusCode) + " " + reason(response.statusCode) +
                                 "\r\nContent-Type: " + response.contentType +
                                 "\r\nContent-Length: " + std::to_string(response.body.size()) +
                                 "\r\nConnection: close\r\n\r\n";
        sendAll(fd, head + response.body);
    }
    ::shutdown(fd, SHUT_WR);
    std::lock_guard lock(mutex);
    ::close(fd);
    connections.erase(fd);
    idle.notify_all();
}

// Status 0: the peer went away or stayed silent; nothing is answered.
Response HTTPServer::Core::readAndHandle(int fd) {
    std::string buffer;
    char chunk[16384];
    std::size_t headEnd = std::string::npos;
    while (headEnd == std::string::npos) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Response{0, "", ""};
        buffer.append(chunk, static_cast<std::size_t>(n));
        headEnd = buffer.find("\r\n\r\n");
        if (headEnd == std::string::npos && buffer.size() > limits.maxHeadBytes) {
            return errorResponse(413, "Request head too large");
        }
    }
    Request request;
    const std::string head = buffer.substr(0, headEnd);
    std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto secondSpace = requestLine.find(' ', firstSpace == std::string::npos ? 0 : firstSpace + 1);
    if (firstSpace == std::string::npos || secondSpace == std::string::npos) return errorResponse(400, "Bad request");
    request.method = requestLine.substr(0, firstSpace);
    request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    while (lineEnd != std::string::npos && lineEnd < head.size()) {
        const auto start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        request.headers[lowered(trimmedSpaces(line.substr(0, colon)))] = trimmedSpaces(line.substr(colon + 1));
    }
    if (!request.header("transfer-encoding").empty()) return errorResponse(411, "Content-Length required");
    std::size_t contentLength = 0;
    if (const std::string text = request.header("content-length"); !text.empty()) {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), contentLength);
        if (error != std::errc() || end != text.data() + text.size()) return errorResponse(400, "Bad Content-Length");
    }
    if (contentLength > limits.maxBodyBytes) return errorResponse(413, "Request body too large");
    request.body = buffer.substr(headEnd + 4);
    while (request.body.size() < contentLength) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Response{0, "", ""};
        request.body.append(chunk, static_cast<std::size_t>(n));
    }
    request.body.resize(contentLength);
    return handler(request);
}

}  // namespace corvane::backend
