#include "networking/http_transport.h"

#include <gtest/gtest.h>

#include "backend/backend_fixture.h"

namespace corvane::networking {
namespace {

TEST(HTTPTransport, PlainHTTPIsPermittedOnlyForTheLoopbackHost) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {"https://chat.example.com/api", true},
        {"HTTPS://x.io", true},
        {"http://127.0.0.1:51235/api", true},
        {"http://localhost/api", true},
        {"http://[::1]:8080/", true},
        {"http://example.com/api", false},
        {"http://127.0.0.1.nip.io/", false},
        {"http://127.0.0.1@example.com/", false},
        {"http://localhost.example.com/", false},
        {"ftp://127.0.0.1/", false},
        {"127.0.0.1:80", false},
    };
    for (const auto& [url, permitted] : cases) EXPECT_EQ(isPermittedURL(url), permitted) << url;
}

TEST(HTTPTransport, SendsTheRequestAndReportsARefusedConnectionAsANetworkError) {
    testing::ScriptedServer server([](const backend::Request& request) {
        return backend::Response{201, "text/plain", request.method + " " + request.target + " " + request.body};
    });
    CurlTransport transport;
    const auto response = transport.send({"POST", server.baseURL() + "/p?q=1", {{"X-A", "b"}}, "body"});
    EXPECT_EQ(response.statusCode, 201);
    EXPECT_EQ(response.body, "POST /p?q=1 body");
    EXPECT_EQ(server.received().at(0).header("x-a"), "b");

    auto closed =
        std::make_unique<testing::ScriptedServer>([](const backend::Request&) { return backend::Response{}; });
    const std::string closedURL = closed->baseURL();
    closed.reset();
    try {
        transport.send({"POST", closedURL, {}, "{}"});
        ADD_FAILURE() << "no error";
    } catch (const TransportError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Network error: ", 0), 0u);
    }
    EXPECT_THROW(transport.send({"POST", "http://example.com/", {}, "{}"}), TransportError);
}

}  // namespace
}  // namespace corvane::networking
