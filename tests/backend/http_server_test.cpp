#include "backend/http_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace corvane::backend {
namespace {

// Sends the bytes, half-closes, and gives everything the server answered.
std::string exchange(std::uint16_t port, const std::string& bytes) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return "connect failed";
    }
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    std::string answer;
    char chunk[4096];
    for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) answer.append(chunk, static_cast<std::size_t>(n));
    ::close(fd);
    return answer;
}

TEST(HTTPServer, MalformedOversizedAndFailingRequestsGetAnAnswerNotACrash) {
    ServerLimits limits;
    limits.maxHeadBytes = 1024;
    limits.maxBodyBytes = 100;
    HTTPServer server(
        0,
        [](const Request& request) {
            if (request.path() == "/throw") throw std::runtime_error("boom");
            return Response{200, "text/plain",
                            request.method + " " + request.path() + "?" + request.query() + " " +
                                request.header("x-name") + " " + request.body};
        },
        limits);
    server.start();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"POST /a?b=1 HTTP/1.1\r\nX-Name:  v \r\nContent-Length: 3\r\n\r\nxyzEXTRA",
         "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 17\r\nConnection: close\r\n\r\nPOST /a?b=1 v "
         "xyz"},
        {"NONSENSE\r\n\r\n", "HTTP/1.1 400"},
        {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", "HTTP/1.1 400"},
        {"POST / HTTP/1.1\r\nContent-Length: 101\r\n\r\n", "HTTP/1.1 413"},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", "HTTP/1.1 411"},
        {"POST / HTTP/1.1\r\nX: " + std::string(2000, 'a'), "HTTP/1.1 413"},
        {"GET /throw HTTP/1.1\r\n\r\n", "HTTP/1.1 500"},
        {"POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\nshort", ""},
    };
    for (const auto& [request, answer] : cases) {
        const std::string received = exchange(server.port(), request);
        EXPECT_EQ(answer.empty() ? received : received.substr(0, answer.size()), answer) << request.substr(0, 40);
    }
    server.stop();
    EXPECT_EQ(server.port(), 0);
}

}  // namespace
}  // namespace corvane::backend
