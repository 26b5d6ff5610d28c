#include "http/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "http/http_server.h"
#include "test_support/hang_guard.h"

namespace corvane::http {
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
    std::mutex mutex;
    std::vector<HTTPRequest> received;
    HTTPServer server(0, [&](HTTPRequest request) {
        std::lock_guard lock(mutex);
        received.push_back(request);
        return HTTPResponse{201, "text/plain", request.method + " " + request.path + " " + request.body};
    });
    ASSERT_TRUE(server.start());
    const std::string baseURL = "http://127.0.0.1:" + std::to_string(server.boundPort());
    CurlTransport transport;
    const auto response = transport.send({"POST", baseURL + "/p?q=1", {{"X-A", "b"}}, "body"});
    EXPECT_EQ(response.statusCode, 201);
    EXPECT_EQ(response.body, "POST /p?q=1 body");
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(received.size(), 1u);
        EXPECT_EQ(received[0].header("x-a"), "b");
    }

    auto closed = std::make_unique<HTTPServer>(0, [](HTTPRequest) { return HTTPResponse{}; });
    ASSERT_TRUE(closed->start());
    const std::string closedURL = "http://127.0.0.1:" + std::to_string(closed->boundPort());
    closed.reset();
    try {
        transport.send({"POST", closedURL, {}, "{}"});
        ADD_FAILURE() << "no error";
    } catch (const TransportError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Network error: ", 0), 0u);
    }
    EXPECT_THROW(transport.send({"POST", "http://example.com/", {}, "{}"}), TransportError);
}

TEST(HTTPTransport, ATransportForAnyHostSendsPlainHTTPBeyondTheLoopbackNames) {
    // 127.0.0.2 is no loopback name to isPermittedURL, and nothing listens there: refused at once.
    CurlTransport transport(CurlTransport::PlainHTTP::anyHost);
    try {
        transport.send({"POST", "http://127.0.0.2:1/", {}, "{}"});
        ADD_FAILURE() << "no error";
    } catch (const TransportError& error) {
        EXPECT_EQ(std::string(error.what()).find("without TLS"), std::string::npos) << error.what();
    }
}

// A stop was seen only at libcurl's next progress call, up to a second apart while the server
// said nothing: Stop, and quitting with a request out, waited that long. A stop seen at once ends
// the transfer as soon as its thread is given the processor again, as an answer arriving does:
// each round times both in turn, and the quickest stop is held to the quickest answer, so a busy
// machine weighs on both alike.
TEST(HTTPTransport, AStopEndsATransferToASilentServerAtOnce) {
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    int answers = 0;  // handlers let go so far
    HTTPServer server(0, [&](HTTPRequest) {
        std::unique_lock lock(mutex);
        const int mine = arrived++;
        changed.notify_all();
        changed.wait(lock, [&] { return answers > mine; });
        return HTTPResponse{200, "text/plain", "late"};
    });
    ASSERT_TRUE(server.start());
    const std::string url = "http://127.0.0.1:" + std::to_string(server.boundPort()) + "/";
    CurlTransport transport;
    const auto arrival = [&](int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, corvane::testing::kHangGuard, [&] { return arrived == count; });
    };
    using Seconds = std::chrono::duration<double>;
    Seconds quickestStop = Seconds::max(), quickestAnswer = Seconds::max();
    // Several, so that none is stopped just before a progress call by chance.
    for (int round = 0; round < 5; ++round) {
        std::stop_source stop;
        const auto send = [&] {
            return std::async(std::launch::async, [&] {
                try {
                    transport.send({"POST", url, {}, "{}"}, stop.get_token());
                } catch (const TransportError& error) {
                    return std::string(error.what());
                }
                return std::string("answered");
            });
        };
        auto answered = send();
        ASSERT_TRUE(arrival(2 * round + 1));
        auto started = std::chrono::steady_clock::now();
        {
            std::lock_guard lock(mutex);
            answers = 2 * round + 1;  // the last round's stopped handler goes too, to nobody
            changed.notify_all();
        }
        ASSERT_EQ(answered.wait_for(corvane::testing::kHangGuard), std::future_status::ready);
        quickestAnswer = std::min<Seconds>(quickestAnswer, std::chrono::steady_clock::now() - started);
        EXPECT_EQ(answered.get(), "answered");

        auto stopped = send();
        ASSERT_TRUE(arrival(2 * round + 2));
        started = std::chrono::steady_clock::now();
        stop.request_stop();
        ASSERT_EQ(stopped.wait_for(corvane::testing::kHangGuard), std::future_status::ready);
        quickestStop = std::min<Seconds>(quickestStop, std::chrono::steady_clock::now() - started);
        EXPECT_EQ(stopped.get(), "Network error: the request was cancelled") << round;
    }
    // Seen only at the next progress call, the quickest stop took a good part of a second.
    EXPECT_LT(quickestStop, 20 * quickestAnswer) << quickestStop.count() << " s to stop, "
                                                 << quickestAnswer.count() << " s to answer";
    std::lock_guard lock(mutex);
    answers = 1'000'000;
    changed.notify_all();
}

}  // namespace
}  // namespace corvane::http
