// corvane-backend behind the shared HTTP server: its routes, status lines and refusals as the
// bytes on a real loopback socket show them.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "backend/backend_fixture.h"
#include "http/http_server.h"
#include "test_support/temp_home.h"

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

std::string answer(const std::string& statusLine, const std::string& body) {
    return statusLine + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

std::string error(const std::string& message) { return "{\n  \"error\": \"" + message + "\"\n}"; }

TEST(BackendServer, RoutesMalformedOversizedAndFailingRequestsGetTheBackendsOwnAnswers) {
    testing::TempHome home;
    testing::LocalBackend backend(home.root() / "backend");
    std::string longHead = "POST / HTTP/1.1\r\nX: ";
    longHead.resize(64 * 1024, 'a');  // all of it read, none of it a blank line
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"GET /health HTTP/1.1\r\n\r\n", answer("HTTP/1.1 200 OK", "{\n  \"ok\": true\n}")},
        {"POST /api/ai/chat HTTP/1.1\r\nContent-Length: 2\r\n\r\n{}",
         answer("HTTP/1.1 401 Unauthorized", error("Not authenticated"))},
        {"GET /api/ai/chat HTTP/1.1\r\n\r\n", answer("HTTP/1.1 405 Method Not Allowed", error("Method not allowed"))},
        {"GET /nowhere HTTP/1.1\r\n\r\n", answer("HTTP/1.1 404 Not Found", error("Not found"))},
        {"NONSENSE\r\n\r\n", answer("HTTP/1.1 400 Bad Request", error("Bad request"))},
        {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", answer("HTTP/1.1 400 Bad Request", error("Bad request"))},
        {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n",
         answer("HTTP/1.1 400 Bad Request", error("Bad request"))},
        {longHead, answer("HTTP/1.1 413 Payload Too Large", error("Request head too large"))},
        {"POST / HTTP/1.1\r\nContent-Length: 67108865\r\n\r\n",
         answer("HTTP/1.1 413 Payload Too Large", error("Request body too large"))},
        // Over the app's 16 MiB but within the backend's 64 MiB: awaited, then cut short by the peer.
        {"POST / HTTP/1.1\r\nContent-Length: 20000000\r\n\r\nshort",
         answer("HTTP/1.1 400 Bad Request", error("Bad request"))},
    };
    for (const auto& [request, expected] : cases) {
        EXPECT_EQ(exchange(backend.port(), request), expected) << request.substr(0, 60);
    }
}

TEST(BackendServer, AThrowingHandlerIsAnsweredWithTheBackendsInternalError) {
    http::HTTPServer server(
        0, [](const http::HTTPRequest&) -> http::HTTPResponse { throw std::runtime_error("boom"); },
        BackendService::serverOptions());
    ASSERT_TRUE(server.start());
    EXPECT_EQ(exchange(server.boundPort(), "GET / HTTP/1.1\r\n\r\n"),
              answer("HTTP/1.1 500 Internal Server Error", error("Internal error")));
    server.stop();
    EXPECT_EQ(server.boundPort(), 0);
}

}  // namespace
}  // namespace corvane::backend
