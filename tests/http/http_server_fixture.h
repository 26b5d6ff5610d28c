#pragma once

// The fixture of the server tests: a server on an ephemeral port and a clock moved by hand, with
// the raw client and the canned answers the tests compare against.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "http/http_server.h"
#include "http/http_test_client.h"
#include "http/server_test_doubles.h"
#include "platform/log.h"

namespace corvane::http {

using namespace std::chrono_literals;
using testing::Answer;
using testing::exchange;
using testing::Gate;
using testing::kPatience;
using testing::Recorder;
using testing::RawClient;
using testing::SteppedClock;

inline const auto kRequestTimeout = HTTPServerOptions{}.requestTimeout;

inline const std::string kForbiddenBody = R"({"error":"Forbidden: non-loopback Host header"})";
inline const std::string kBadRequestAnswer =
    "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 11\r\nConnection: close\r\n\r\n"
    "Bad Request";
inline const std::string kPayloadTooLargeAnswer =
    "HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain\r\nContent-Length: 17\r\nConnection: close\r\n\r\n"
    "Payload Too Large";

inline std::string get(std::string_view path, std::string_view extraHeaders = "Host: 127.0.0.1:51234\r\n") {
    return "GET " + std::string(path) + " HTTP/1.1\r\n" + std::string(extraHeaders) + "\r\n";
}

class HTTPServerTest : public ::testing::Test {
protected:
    // A server on an ephemeral port, on the test's clock unless given another; the handler
    // answers 200 text/plain "ok" unless replaced.
    void startServer(HTTPServerOptions options = {}, HTTPServer::Handler respond = {},
                     platform::Clock* clock = nullptr) {
        // One I/O thread unless a test asks for more: settle() relies on the order of events,
        // which only one thread keeps.
        if (options.ioThreads == 0) options.ioThreads = 1;
        auto recorder = recorder_;
        if (!respond) respond = [](const HTTPRequest&) { return HTTPResponse{200, "text/plain", "ok"}; };
        server_ = std::make_unique<HTTPServer>(
            0,
            [recorder, respond](HTTPRequest request) {
                recorder->enter(request);
                struct Leave {
                    Recorder& r;
                    ~Leave() { r.leave(); }
                } leave{*recorder};
                return respond(std::move(request));
            },
            options, clock ? *clock : clock_);
        server_->start();
        ASSERT_NE(server_->boundPort(), 0);
    }

    std::uint16_t port() const { return server_->boundPort(); }

    std::optional<Answer> ask(std::string_view request) { return exchange(port(), request); }

    // A request the server answers by itself (403, no handler). Once its answer is in, a server
    // with one I/O thread has dealt with what reached it before: earlier connections accepted, bytes they sent read,
    // a move of the clock swept. Needs a free connection slot.
    void settle() {
        auto answer = ask(get("/settle", "Host: settle.invalid\r\n"));
        ASSERT_TRUE(answer);
        ASSERT_EQ(answer->status, 403);
    }

    platform::LogCapture logs_;
    SteppedClock clock_;
    Gate gate_;
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
    std::unique_ptr<HTTPServer> server_;
};

}  // namespace corvane::http
