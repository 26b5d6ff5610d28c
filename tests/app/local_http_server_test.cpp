#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/http_test_client.h"
#include "app/local_http_server.h"
#include "app/server_test_doubles.h"
#include "platform/log.h"

namespace corvane::app {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using testing::exchange;
using testing::Gate;
using testing::kPatience;
using testing::Recorder;
using testing::RawClient;
using testing::SteppedClock;

constexpr auto kRequestTimeout = HTTPServerLimits{}.requestTimeout;

const std::string kForbiddenBody = R"({"error":"Forbidden: non-loopback Host header"})";
const std::string kBadRequestAnswer =
    "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 11\r\nConnection: close\r\n\r\n"
    "Bad Request";
const std::string kPayloadTooLargeAnswer =
    "HTTP/1.1 413 Payload Too Large\r\nContent-Type: text/plain\r\nContent-Length: 17\r\nConnection: close\r\n\r\n"
    "Payload Too Large";

std::string get(std::string_view path, std::string_view extraHeaders = "Host: 127.0.0.1:51234\r\n") {
    return "GET " + std::string(path) + " HTTP/1.1\r\n" + std::string(extraHeaders) + "\r\n";
}

class LocalHTTPServerTest : public ::testing::Test {
protected:
    // A server on an ephemeral port, on the test's clock unless given another; the handler
    // answers 200 text/plain "ok" unless replaced.
    void startServer(HTTPServerLimits limits = {}, LocalHTTPServer::Handler respond = {},
                     platform::Clock* clock = nullptr) {
        auto recorder = recorder_;
        if (!respond) respond = [](const HTTPRequest&) { return HTTPResponse{200, "text/plain", "ok"}; };
        server_ = std::make_unique<LocalHTTPServer>(
            0,
            [recorder, respond](HTTPRequest request) {
                recorder->enter(request);
                struct Leave {
                    Recorder& r;
                    ~Leave() { r.leave(); }
                } leave{*recorder};
                return respond(std::move(request));
            },
            limits, clock ? *clock : clock_);
        server_->start();
        ASSERT_NE(server_->boundPort(), 0);
    }

    std::uint16_t port() const { return server_->boundPort(); }

    std::optional<Answer> ask(std::string_view request) { return exchange(port(), request); }

    // A request the server answers by itself (403, no handler). Once its answer is in, the server
    // has dealt with what reached it before: earlier connections accepted, bytes they sent read,
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
    std::unique_ptr<LocalHTTPServer> server_;
};

// ---------------------------------------------------------------------------------------------
// Serving

TEST_F(LocalHTTPServerTest, AnswersWithTheHandlersResponseAndTheFixedHeaders) {
    startServer();
    RawClient client(port());
    ASSERT_TRUE(client.connected());
    client.send("GET /health HTTP/1.1\r\nHost: localhost:51234\r\n\r\n");
    auto received = client.readAll();
    EXPECT_TRUE(received.closed);
    EXPECT_EQ(received.bytes,
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    auto requests = recorder_->all();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], (HTTPRequest{"GET", "/health", "localhost:51234", ""}));
}

TEST_F(LocalHTTPServerTest, LoopbackHostFormsReachTheHandler) {
    startServer();
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"Host: localhost:51234\r\n", "localhost:51234"},
        {"Host: [::1]:51234\r\n", "[::1]:51234"},
        {"Host: LOCALHOST\r\n", "LOCALHOST"},
        {"Host: 127.0.0.1\r\n", "127.0.0.1"},
        {"host:\t127.0.0.1:51234 \r\n", "127.0.0.1:51234"},
        {"", std::nullopt},           // no Host header at all
        {"Host:\r\n", std::nullopt},  // nothing after the colon: as if there were none
    };
    for (const auto& [header, expectedHost] : cases) {
        auto answer = ask(get("/health", header));
        ASSERT_TRUE(answer) << header;
        EXPECT_EQ(answer->statusLine, "HTTP/1.1 200 OK") << header;
        ASSERT_FALSE(recorder_->all().empty());
        EXPECT_EQ(recorder_->all().back().host, expectedHost) << header;
    }
    EXPECT_EQ(recorder_->count(), cases.size());
}

TEST_F(LocalHTTPServerTest, HostileHostsOriginsAndFetchSitesGet403BeforeAnyHandler) {
    startServer();
    const std::vector<std::string> hostile = {
        "Host: evil.com\r\n",
        "Host: evil.com:51234\r\n",
        "Host: ::1\r\n",  // unbracketed: the host name is the empty text before the first ":"
        "Host: localhost.evil.com\r\n",
        "Host: 127.0.0.2:51234\r\n",
        "Host: 0x7f000001\r\n",
        "Host: [::ffff:127.0.0.1]:51234\r\n",
        "Host: localhost\r\nHost: attacker.example\r\n",  // the last Host line counts
        "Host: 127.0.0.1:51234\r\nOrigin: http://evil.com\r\n",
        "Host: 127.0.0.1:51234\r\nOrigin: https://localhost:51234\r\n",
        "Host: 127.0.0.1:51234\r\nOrigin: null\r\n",
        "Host: 127.0.0.1:51234\r\nOrigin: http://localhost.evil.com\r\n",
        "Host: 127.0.0.1:51234\r\nOrigin: http://127.0.0.1.evil.com:51234\r\n",
        "Host: 127.0.0.1:51234\r\nOrigin: http://localhost@evil.com\r\n",
        "Host: 127.0.0.1:51234\r\nOrigin: http://[::1]:51234/page\r\n",
        "Host: 127.0.0.1:51234\r\nOrigin:  \r\n",
        "Origin: http://evil.com\r\n",
        "Host: 127.0.0.1:51234\r\nSec-Fetch-Site: cross-site\r\n",
        "Host: 127.0.0.1:51234\r\nsec-fetch-site: CROSS-SITE\r\n",
        "Host: 127.0.0.1:51234\r\nOrigin: http://localhost:3000\r\nSec-Fetch-Site: cross-site\r\n",
    };
    for (const auto& header : hostile) {
        auto answer = ask("POST /conversations/clear HTTP/1.1\r\n" + header + "Content-Length: 2\r\n\r\n{}");
        ASSERT_TRUE(answer) << header;
        EXPECT_EQ(answer->statusLine, "HTTP/1.1 403 Forbidden") << header;
        EXPECT_EQ(answer->headers["Content-Type"], "application/json") << header;
        EXPECT_EQ(answer->headers["Connection"], "close") << header;
        EXPECT_EQ(answer->body, kForbiddenBody) << header;
    }
    EXPECT_EQ(recorder_->count(), 0u);
}

TEST_F(LocalHTTPServerTest, LoopbackOriginsAndSameSiteFetchesReachTheHandler) {
    startServer();
    const std::vector<std::string> allowed = {
        "Origin: http://127.0.0.1:51234\r\n",
        "Origin: http://localhost\r\n",
        "Origin: http://[::1]:51234\r\n",
        "Origin: HTTP://LOCALHOST:51234\r\n",
        "Origin:\r\n",  // nothing after the colon: no Origin
        "Sec-Fetch-Site: same-origin\r\n",
        "Sec-Fetch-Site: none\r\n",
        "Origin: http://127.0.0.1:8080\r\nSec-Fetch-Site: same-site\r\n",
    };
    for (const auto& header : allowed) {
        auto answer = ask(get("/health", "Host: 127.0.0.1:51234\r\n" + header));
        ASSERT_TRUE(answer) << header;
        EXPECT_EQ(answer->status, 200) << header;
    }
    EXPECT_EQ(recorder_->count(), allowed.size());
}

TEST_F(LocalHTTPServerTest, ContentLengthNameIgnoresCaseButNotASpaceBeforeTheColon) {
    startServer();
    ASSERT_TRUE(ask("POST /a HTTP/1.1\r\ncontent-LENGTH: 3\r\n\r\nabc"));
    ASSERT_TRUE(ask("POST /b HTTP/1.1\r\nContent-Length : 3\r\n\r\nabc"));
    auto requests = recorder_->all();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "abc");
    EXPECT_EQ(requests[1].body, "");
}

TEST_F(LocalHTTPServerTest, AHeadInSeveralReceivesIsAnsweredOnceAfterTheLastByte) {
    startServer();
    RawClient client(port());
    ASSERT_TRUE(client.connected());
    for (std::string piece : {"GET /hea", "lth HTTP/1.1\r\nHo", "st: localhost\r\n\r"}) {
        client.send(piece);
        settle();
        EXPECT_FALSE(client.readableWithin(0ms)) << piece;
    }
    client.send("\n");
    auto received = client.readAll();
    ASSERT_TRUE(received.closed);
    auto answer = testing::parseAnswer(received.bytes);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    ASSERT_EQ(recorder_->count(), 1u);
    EXPECT_EQ(recorder_->all()[0].path, "/health");
}

TEST_F(LocalHTTPServerTest, ABodyArrivingAfterItsHeadIsAwaited) {
    startServer();
    RawClient client(port());
    client.send("POST /analysis HTTP/1.1\r\nHost: localhost\r\nContent-Length: 10\r\n\r\n");
    settle();
    EXPECT_FALSE(client.readableWithin(0ms));
    client.send("01234");
    settle();
    EXPECT_FALSE(client.readableWithin(0ms));
    client.send("56789");
    auto answer = testing::parseAnswer(client.readAll().bytes);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    ASSERT_EQ(recorder_->count(), 1u);
    EXPECT_EQ(recorder_->all()[0].body, "0123456789");
}

TEST_F(LocalHTTPServerTest, BodyIsCutToContentLengthAndIgnoredWithoutIt) {
    startServer();
    ASSERT_TRUE(ask("POST /a HTTP/1.1\r\nContent-Length: 4\r\n\r\n0123456789"));
    ASSERT_TRUE(ask("POST /b HTTP/1.1\r\n\r\n0123456789"));
    auto requests = recorder_->all();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "0123");
    EXPECT_EQ(requests[1].body, "");
}

TEST_F(LocalHTTPServerTest, AHeadEndingInLFLFIsAnswered400OnlyAfterThePeersHalfClose) {
    startServer();
    RawClient client(port());
    client.send("GET /health HTTP/1.1\nHost: localhost\n\n");
    settle();
    EXPECT_FALSE(client.readableWithin(0ms));
    client.shutdownWrite();
    auto received = client.readAll();
    EXPECT_TRUE(received.closed);
    EXPECT_EQ(received.bytes, kBadRequestAnswer);
    EXPECT_EQ(recorder_->count(), 0u);
}

TEST_F(LocalHTTPServerTest, RequestsThePeerEndsBeforeTheyAreWholeGet400) {
    startServer();
    for (std::string partial : {std::string(""), std::string("GET /health HTTP/1.1\r\nHost: local"),
                                std::string("GET /\xff HTTP/1.1\r\n\r\n"), std::string("GETONLY\r\n\r\n"),
                                std::string("POST / HTTP/1.1\r\nContent-Length: 9\r\n\r\nshort")}) {
        RawClient client(port());
        client.send(partial);
        client.shutdownWrite();
        auto received = client.readAll();
        EXPECT_TRUE(received.closed);
        EXPECT_EQ(received.bytes, kBadRequestAnswer) << partial;
    }
    EXPECT_EQ(recorder_->count(), 0u);
}

TEST_F(LocalHTTPServerTest, QueryExamplesReachTheHandlerUndecoded) {
    startServer({}, [](const HTTPRequest& request) {
        nlohmann::json params = request.queryParams();
        return HTTPResponse::jsonDict({{"route", request.routePath()}, {"query", params}});
    });
    auto answer = ask(get("/test/snapshot?tracks=Kick%20In,Snare&a=1&a=2&x=%ZZ&q=a+b"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->headers["Content-Type"], "application/json");
    EXPECT_EQ(answer->body,
              "{\n  \"query\": {\n    \"a\": \"2\",\n    \"q\": \"a+b\",\n    \"tracks\": \"Kick In,Snare\",\n"
              "    \"x\": \"%ZZ\"\n  },\n  \"route\": \"/test/snapshot\"\n}");
    EXPECT_EQ(recorder_->all()[0].path, "/test/snapshot?tracks=Kick%20In,Snare&a=1&a=2&x=%ZZ&q=a+b");
}

TEST_F(LocalHTTPServerTest, ContentLengthCountsBytesOfANonASCIIBody) {
    startServer({}, [](const HTTPRequest&) {
        return HTTPResponse{200, "text/plain; charset=utf-8", "h\xc3\xa9llo \xf0\x9f\x8e\xb5"};
    });
    auto answer = ask(get("/"));
    ASSERT_TRUE(answer);                                 // parseAnswer checks Content-Length against the bytes received
    EXPECT_EQ(answer->headers["Content-Length"], "11");  // 7 characters, 11 bytes
    EXPECT_EQ(answer->body, "h\xc3\xa9llo \xf0\x9f\x8e\xb5");
}

TEST_F(LocalHTTPServerTest, StatusCodesCarryTheirReasonPhrases) {
    std::atomic<int> next{0};
    const std::vector<std::pair<int, std::string>> cases = {
        {200, "HTTP/1.1 200 OK"},          {404, "HTTP/1.1 404 Not Found"}, {500, "HTTP/1.1 500 Internal Server Error"},
        {400, "HTTP/1.1 400 Bad Request"}, {201, "HTTP/1.1 201 OK"},        {503, "HTTP/1.1 503 OK"}};
    startServer({}, [&](const HTTPRequest&) { return HTTPResponse{cases[next++].first, "text/plain", ""}; });
    for (const auto& [status, line] : cases) {
        auto answer = ask(get("/"));
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->statusLine, line) << status;
        EXPECT_EQ(answer->headers.size(), 3u);
    }
}

TEST_F(LocalHTTPServerTest, AThrowingHandlerIsAnswered500) {
    startServer({}, [](const HTTPRequest&) -> HTTPResponse { throw std::runtime_error("boom"); });
    auto answer = ask(get("/"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->statusLine, "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(answer->body, "Internal Server Error");
    EXPECT_TRUE(ask(get("/")));  // and the server goes on
}

TEST_F(LocalHTTPServerTest, ALargeBodyArrivesWhole) {
    startServer({}, [](const HTTPRequest& request) {
        return HTTPResponse{200, "application/octet-stream", request.body};
    });
    std::string body(3 * 1024 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 131) % 251);
    auto answer = ask("POST /echo HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body.size(), body.size());
    EXPECT_TRUE(answer->body == body);
}

TEST_F(LocalHTTPServerTest, ListensOnIPv4LoopbackOnly) {
    startServer();
    EXPECT_TRUE(RawClient(port(), "127.0.0.1").connected());
    EXPECT_FALSE(RawClient(port(), "127.0.0.2").connected());  // bound to 127.0.0.1, not 0.0.0.0
}

TEST_F(LocalHTTPServerTest, APortAlreadyTakenLogsServerFailed) {
    startServer();
    LocalHTTPServer second(port(), [](HTTPRequest) { return HTTPResponse{200, "text/plain", ""}; });
    EXPECT_NO_THROW(second.start());  // the failure is logged before start() returns
    EXPECT_TRUE(logs_.contains("Quillmere HTTP server failed: "));
    EXPECT_EQ(second.boundPort(), 0);
    EXPECT_TRUE(ask(get("/")));  // the first goes on
}

TEST_F(LocalHTTPServerTest, StopCancelsTheListenerButNotRequestsInProgress) {
    startServer({}, [this](const HTTPRequest&) {
        gate_.pass();
        return HTTPResponse{200, "text/plain", "late"};
    });
    const auto boundPort = port();
    RawClient inProgress(boundPort);
    inProgress.send(get("/slow"));
    ASSERT_TRUE(gate_.awaitArrivals(1));
    server_->stop();
    EXPECT_EQ(server_->boundPort(), 0);
    EXPECT_FALSE(RawClient(boundPort).connected());
    gate_.allow();
    auto answer = testing::parseAnswer(inProgress.readAll().bytes);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "late");
}

TEST_F(LocalHTTPServerTest, DestroyingTheServerCancelsReceivingConnectionsAndFinishesHandledOnes) {
    startServer({}, [this](const HTTPRequest&) {
        gate_.pass();
        return HTTPResponse{200, "text/plain", "finished"};
    });
    RawClient receiving(port());
    receiving.send("GET /never-finished HTTP/1.1\r\n");
    RawClient handled(port());
    handled.send(get("/slow"));
    ASSERT_TRUE(gate_.awaitArrivals(1));
    auto destroyed = std::async(std::launch::async, [&] { server_.reset(); });
    auto cancelled = receiving.readAll();
    EXPECT_TRUE(cancelled.closed);
    EXPECT_EQ(cancelled.bytes, "");
    EXPECT_EQ(destroyed.wait_for(0s), std::future_status::timeout);  // waits for the handler
    gate_.allow();
    auto answer = testing::parseAnswer(handled.readAll().bytes);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "finished");
    EXPECT_EQ(destroyed.wait_for(kPatience), std::future_status::ready);
}

TEST_F(LocalHTTPServerTest, ManyRequestsInARow) {
    startServer({.maxConcurrentRequests = 4});
    for (int i = 0; i < 300; ++i) {
        auto answer = ask(get("/health?i=" + std::to_string(i)));
        ASSERT_TRUE(answer) << i;
        ASSERT_EQ(answer->status, 200);
    }
    EXPECT_EQ(recorder_->count(), 300u);
}

// ---------------------------------------------------------------------------------------------
// Limits

TEST_F(LocalHTTPServerTest, AHeadOverTheLimitIsAnswered413AtOnce) {
    startServer({.maxHeadBytes = 1024});
    {
        RawClient client(port());  // no blank line ever: refused without waiting for the peer
        client.send("GET / HTTP/1.1\r\nX-Pad: " + std::string(2000, 'p'));
        auto received = client.readAll();
        EXPECT_TRUE(received.closed);
        EXPECT_EQ(received.bytes, kPayloadTooLargeAnswer);
    }
    const auto withHeadSize = [](std::size_t size) {
        const std::string start = "GET / HTTP/1.1\r\nX-Pad: ";
        return start + std::string(size - start.size() - 4, 'p') + "\r\n\r\n";
    };
    auto exact = ask(withHeadSize(1024));
    ASSERT_TRUE(exact);
    EXPECT_EQ(exact->status, 200);
    auto over = ask(withHeadSize(1025));
    ASSERT_TRUE(over);
    EXPECT_EQ(over->statusLine, "HTTP/1.1 413 Payload Too Large");
    EXPECT_EQ(recorder_->count(), 1u);
}

TEST_F(LocalHTTPServerTest, ABodyOverTheLimitOrNegativeIsAnswered413WithoutReadingIt) {
    startServer({.maxBodyBytes = 1000});
    for (std::string length : {"1001", "-1", "99999999999999999999999999"}) {
        RawClient client(port());  // head only: the answer comes before any body byte
        client.send("POST /analysis HTTP/1.1\r\nHost: localhost\r\nContent-Length: " + length + "\r\n\r\n");
        auto received = client.readAll();
        EXPECT_TRUE(received.closed) << length;
        EXPECT_EQ(received.bytes, kPayloadTooLargeAnswer) << length;
    }
    auto atLimit = ask("POST /analysis HTTP/1.1\r\nContent-Length: 1000\r\n\r\n" + std::string(1000, 'b'));
    ASSERT_TRUE(atLimit);
    EXPECT_EQ(atLimit->status, 200);
    EXPECT_EQ(recorder_->count(), 1u);
}

TEST_F(LocalHTTPServerTest, DefaultLimitsRefuseMoreThan16MiB) {
    startServer();
    auto over = ask("POST / HTTP/1.1\r\nContent-Length: 16777217\r\n\r\n");
    ASSERT_TRUE(over);
    EXPECT_EQ(over->status, 413);
    RawClient longHead(port());
    longHead.send("GET / HTTP/1.1\r\nX: " + std::string(64 * 1024, 'h'));
    EXPECT_EQ(longHead.readAll().bytes, kPayloadTooLargeAnswer);
    EXPECT_EQ(recorder_->count(), 0u);
}

TEST_F(LocalHTTPServerTest, AConnectionThatDoesNotCompleteItsRequestInTimeIsClosed) {
    startServer();  // the default time-out
    for (std::string partial : {std::string(""), std::string("GET /health HTTP/1.1\r\nHost: loc"),
                                std::string("POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nab")}) {
        RawClient client(port());
        client.send(partial);
        settle();
        clock_.advance(kRequestTimeout - 1ms);
        settle();
        EXPECT_FALSE(client.readableWithin(0ms)) << partial;
        clock_.advance(1ms);
        auto received = client.readAll();
        EXPECT_TRUE(received.closed) << partial;
        EXPECT_EQ(received.bytes, "") << partial;  // closed unanswered
    }
    EXPECT_EQ(recorder_->count(), 0u);
    EXPECT_TRUE(ask(get("/")));
}

TEST_F(LocalHTTPServerTest, OnAClockThatMovesByItselfTheTimeOutComesUnaided) {
    startServer({.requestTimeout = 20ms}, {}, &platform::clock());
    RawClient silent(port());
    auto received = silent.readAll();
    EXPECT_TRUE(received.closed);
    EXPECT_EQ(received.bytes, "");
}

TEST_F(LocalHTTPServerTest, TheRequestTimeOutDoesNotCutAHandlerShort) {
    startServer({}, [this](const HTTPRequest&) {
        gate_.pass();
        return HTTPResponse{200, "text/plain", "slow but fine"};
    });
    RawClient client(port());
    client.send(get("/"));
    ASSERT_TRUE(gate_.awaitArrivals(1));
    clock_.advance(2 * kRequestTimeout);
    settle();
    gate_.allow();
    auto answer = testing::parseAnswer(client.readAll().bytes);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body, "slow but fine");
}

TEST_F(LocalHTTPServerTest, APeerThatDoesNotReadItsAnswerIsClosedAtTheTimeOut) {
    // Far more than the loopback socket buffers hold, so the sending stalls.
    constexpr std::size_t kAnswerBytes = 16u * 1024u * 1024u;
    startServer({}, [](const HTTPRequest&) {
        return HTTPResponse{200, "application/octet-stream", std::string(kAnswerBytes, 'x')};
    });
    RawClient client(port());
    client.send(get("/big"));
    ASSERT_TRUE(client.readableWithin(kPatience));  // the answer is on its way
    clock_.advance(kRequestTimeout);
    settle();  // closed before reading lets the sending go on
    auto received = client.readAll();
    EXPECT_TRUE(received.closed);
    EXPECT_LT(received.bytes.size(), kAnswerBytes);
    EXPECT_TRUE(ask(get("/")));
}

TEST_F(LocalHTTPServerTest, TwoSlowHandlersAreAnsweredInParallel) {
    startServer({}, [this](const HTTPRequest&) {
        gate_.pass();
        return HTTPResponse{200, "text/plain", "slow"};
    });
    auto first = std::async(std::launch::async, [&] { return ask(get("/one")); });
    auto second = std::async(std::launch::async, [&] { return ask(get("/two")); });
    EXPECT_TRUE(gate_.awaitArrivals(2));  // one after the other, the second never comes
    gate_.allow();
    auto a = first.get();
    auto b = second.get();
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    EXPECT_EQ(a->body, "slow");
    EXPECT_EQ(b->body, "slow");
    EXPECT_EQ(recorder_->mostAtOnce.load(), 2);
}

TEST_F(LocalHTTPServerTest, AtMostTheLimitOfRequestsIsHandledAtOnceAndTheOthersWait) {
    startServer({.maxConcurrentRequests = 2}, [this](const HTTPRequest&) {
        gate_.pass();
        return HTTPResponse{200, "text/plain", "done"};
    });
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(std::make_unique<RawClient>(port()));
        clients.back()->send(get("/n" + std::to_string(i)));
    }
    // Let one through each time two are in: a third let in early shows in mostAtOnce.
    for (int released = 0; released < 5; ++released) {
        ASSERT_TRUE(gate_.awaitArrivals(std::min(released + 2, 5))) << released;
        EXPECT_LE(recorder_->running.load(), 2);
        gate_.allow(1);
    }
    for (auto& c : clients) {
        auto answer = testing::parseAnswer(c->readAll().bytes);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->body, "done");
    }
    EXPECT_EQ(recorder_->mostAtOnce.load(), 2);
    EXPECT_EQ(recorder_->count(), 5u);
}

TEST_F(LocalHTTPServerTest, SlowOrSilentPeersHoldASlotOnlyUntilTheirTimeOut) {
    startServer({.maxConcurrentRequests = 2});
    RawClient silent(port());
    settle();  // the silent peer holds a slot from now on
    RawClient slow(port());
    slow.send("GET /slow HTTP/1.1\r\nHo");  // holds the other slot
    RawClient waiting(port());
    waiting.send(get("/after"));
    EXPECT_FALSE(waiting.readableWithin(0ms));
    clock_.advance(kRequestTimeout);
    auto closed = silent.readAll();
    EXPECT_TRUE(closed.closed);
    EXPECT_EQ(closed.bytes, "");
    auto answer = testing::parseAnswer(waiting.readAll().bytes);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
}

// ---------------------------------------------------------------------------------------------
// Peers that go away

TEST_F(LocalHTTPServerTest, APeerThatDisconnectsMidRequestIsDroppedAndTheServerGoesOn) {
    startServer({.maxConcurrentRequests = 1});
    {
        RawClient client(port());
        client.send("POST /analysis HTTP/1.1\r\nContent-Length: 100\r\n\r\nonly part");
        client.close();
    }
    {
        RawClient client(port());
        client.send("GET /health HTTP/1.1\r\nHo");
        client.close(/*reset=*/true);
    }
    auto answer = ask(get("/health"));  // the one slot is free again
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 200);
    EXPECT_TRUE(logs_.contains("Quillmere HTTP receive error: "));  // logged before the slot was freed
    EXPECT_EQ(recorder_->count(), 1u);
}

TEST_F(LocalHTTPServerTest, APeerThatDisconnectsWhileItsHandlerRunsFreesItsSlot) {
    std::atomic<int> calls{0};
    startServer({.maxConcurrentRequests = 1}, [&](const HTTPRequest&) {
        if (calls++ == 0) gate_.pass();
        return HTTPResponse{200, "text/plain", std::string(256 * 1024, 'x')};
    });
    {
        RawClient client(port());
        client.send(get("/slow"));
        ASSERT_TRUE(gate_.awaitArrivals(1));
        client.close(/*reset=*/true);
    }
    gate_.allow();
    auto answer = ask(get("/next"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->body.size(), 256u * 1024u);
    EXPECT_EQ(calls.load(), 2);
}

}  // namespace
}  // namespace corvane::app
