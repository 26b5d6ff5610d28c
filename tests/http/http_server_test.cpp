#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <stop_token>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "http/http_server_fixture.h"
#include "http/json_response.h"

namespace corvane::http {
namespace {

// ---------------------------------------------------------------------------------------------
// Serving

TEST_F(HTTPServerTest, AnswersWithTheHandlersResponseAndTheFixedHeaders) {
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
    EXPECT_EQ(
        requests[0],
        (HTTPRequest{
            .method = "GET", .path = "/health", .host = "localhost:51234", .headers = {{"host", "localhost:51234"}}}));
}

TEST_F(HTTPServerTest, LoopbackHostFormsReachTheHandler) {
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

TEST_F(HTTPServerTest, HostileHostsOriginsAndFetchSitesGet403NamingTheirReasonBeforeAnyHandler) {
    startServer();
    const std::string host = kForbiddenBody;
    const std::string origin = R"({"error":"Forbidden: non-loopback Origin header"})";
    const std::string site = R"({"error":"Forbidden: cross-site Sec-Fetch-Site header"})";
    const std::vector<std::pair<std::string, std::string>> hostile = {
        {"Host: evil.com\r\n", host},
        {"Host: evil.com:51234\r\n", host},
        {"Host: ::1\r\n", host},  // unbracketed: the host name is the empty text before the first ":"
        {"Host: localhost.evil.com\r\n", host},
        {"Host: 127.0.0.2:51234\r\n", host},
        {"Host: 0x7f000001\r\n", host},
        {"Host: [::ffff:127.0.0.1]:51234\r\n", host},
        {"Host: localhost\r\nHost: attacker.example\r\n", host},  // the last Host line counts
        {"Host: evil.com\r\nOrigin: http://evil.com\r\nSec-Fetch-Site: cross-site\r\n", host},
        {"Host: 127.0.0.1:51234\r\nOrigin: http://evil.com\r\n", origin},
        {"Host: 127.0.0.1:51234\r\nOrigin: https://localhost:51234\r\n", origin},
        {"Host: 127.0.0.1:51234\r\nOrigin: null\r\n", origin},
        {"Host: 127.0.0.1:51234\r\nOrigin: http://localhost.evil.com\r\n", origin},
        {"Host: 127.0.0.1:51234\r\nOrigin: http://127.0.0.1.evil.com:51234\r\n", origin},
        {"Host: 127.0.0.1:51234\r\nOrigin: http://localhost@evil.com\r\n", origin},
        {"Host: 127.0.0.1:51234\r\nOrigin: http://[::1]:51234/page\r\n", origin},
        {"Host: 127.0.0.1:51234\r\nOrigin:  \r\n", origin},
        {"Origin: http://evil.com\r\n", origin},
        {"Host: 127.0.0.1:51234\r\nOrigin: http://localhost:3000\r\nSec-Fetch-Site: cross-site\r\n", site},
        {"Host: 127.0.0.1:51234\r\nSec-Fetch-Site: cross-site\r\n", site},
        {"Host: 127.0.0.1:51234\r\nsec-fetch-site: CROSS-SITE\r\n", site},
        {"Origin: http://localhost:51234\r\nSec-Fetch-Site: cross-site\r\n", site},
    };
    for (const auto& [header, body] : hostile) {
        auto answer = ask("POST /conversations/clear HTTP/1.1\r\n" + header + "Content-Length: 2\r\n\r\n{}");
        ASSERT_TRUE(answer) << header;
        EXPECT_EQ(answer->statusLine, "HTTP/1.1 403 Forbidden") << header;
        EXPECT_EQ(answer->headers["Content-Type"], "application/json") << header;
        EXPECT_EQ(answer->headers["Connection"], "close") << header;
        EXPECT_EQ(answer->body, body) << header;
    }
    EXPECT_EQ(recorder_->count(), 0u);
}

TEST_F(HTTPServerTest, WithTheGuardOffForeignHostsAndOriginsReachTheHandler) {
    HTTPServerOptions options;
    options.loopbackGuard = false;
    startServer(options);
    for (const std::string header : {"Host: evil.com\r\n", "Host: 127.0.0.1\r\nOrigin: http://evil.com\r\n",
                                     "Host: 127.0.0.1\r\nSec-Fetch-Site: cross-site\r\n"}) {
        auto answer = ask(get("/health", header));
        ASSERT_TRUE(answer) << header;
        EXPECT_EQ(answer->status, 200) << header;
    }
    EXPECT_EQ(recorder_->count(), 3u);
}

TEST_F(HTTPServerTest, LoopbackOriginsAndSameSiteFetchesReachTheHandler) {
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

TEST_F(HTTPServerTest, ContentLengthNameIgnoresCaseButNotASpaceBeforeTheColon) {
    startServer();
    ASSERT_TRUE(ask("POST /a HTTP/1.1\r\ncontent-LENGTH: 3\r\n\r\nabc"));
    ASSERT_TRUE(ask("POST /b HTTP/1.1\r\nContent-Length : 3\r\n\r\nabc"));
    auto requests = recorder_->all();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "abc");
    EXPECT_EQ(requests[1].body, "");
}

TEST_F(HTTPServerTest, AHeadInSeveralReceivesIsAnsweredOnceAfterTheLastByte) {
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

TEST_F(HTTPServerTest, ABodyArrivingAfterItsHeadIsAwaited) {
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

TEST_F(HTTPServerTest, BodyIsCutToContentLengthAndIgnoredWithoutIt) {
    startServer();
    ASSERT_TRUE(ask("POST /a HTTP/1.1\r\nContent-Length: 4\r\n\r\n0123456789"));
    ASSERT_TRUE(ask("POST /b HTTP/1.1\r\n\r\n0123456789"));
    auto requests = recorder_->all();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].body, "0123");
    EXPECT_EQ(requests[1].body, "");
}

// Its sender waits for an answer, with the connection open: it gets one at once, not at the head's
// time-out.
TEST_F(HTTPServerTest, AHeadWithLinesEndingInLFIsAnswered400AtOnce) {
    startServer();
    RawClient client(port());
    client.send("GET /health HTTP/1.1\nHost: localhost\n\n");
    auto received = client.readAll();
    EXPECT_TRUE(received.closed);
    EXPECT_EQ(received.bytes, kBadRequestAnswer);
    EXPECT_EQ(recorder_->count(), 0u);
}

TEST_F(HTTPServerTest, RequestsThePeerEndsBeforeTheyAreWholeGet400) {
    startServer();
    for (std::string partial : {std::string(""), std::string("GET /health HTTP/1.1\r\nHost: local"),
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

TEST_F(HTTPServerTest, QueryExamplesReachTheHandlerUndecoded) {
    startServer({}, [](const HTTPRequest& request) {
        nlohmann::json params = request.queryParams();
        return jsonDictAnswer({{"route", request.routePath()}, {"query", params}});
    });
    auto answer = ask(get("/test/snapshot?tracks=Kick%20In,Snare&a=1&a=2&x=%ZZ&q=a+b"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->headers["Content-Type"], "application/json");
    EXPECT_EQ(answer->body,
              "{\n  \"query\": {\n    \"a\": \"2\",\n    \"q\": \"a+b\",\n    \"tracks\": \"Kick In,Snare\",\n"
              "    \"x\": \"%ZZ\"\n  },\n  \"route\": \"\\/test\\/snapshot\"\n}");
    EXPECT_EQ(recorder_->all()[0].path, "/test/snapshot?tracks=Kick%20In,Snare&a=1&a=2&x=%ZZ&q=a+b");
}

TEST_F(HTTPServerTest, ContentLengthCountsBytesOfANonASCIIBody) {
    startServer({}, [](const HTTPRequest&) {
        return HTTPResponse{200, "text/plain; charset=utf-8", "h\xc3\xa9llo \xf0\x9f\x8e\xb5"};
    });
    auto answer = ask(get("/"));
    ASSERT_TRUE(answer);                                 // parseAnswer checks Content-Length against the bytes received
    EXPECT_EQ(answer->headers["Content-Length"], "11");  // 7 characters, 11 bytes
    EXPECT_EQ(answer->body, "h\xc3\xa9llo \xf0\x9f\x8e\xb5");
}

TEST_F(HTTPServerTest, StatusCodesCarryTheirReasonPhrases) {
    std::atomic<int> next{0};
    const std::vector<std::pair<int, std::string>> cases = {
        {200, "HTTP/1.1 200 OK"},          {404, "HTTP/1.1 404 Not Found"}, {500, "HTTP/1.1 500 Internal Server Error"},
        {400, "HTTP/1.1 400 Bad Request"}, {201, "HTTP/1.1 201 Created"},   {503, "HTTP/1.1 503 Service Unavailable"}};
    startServer({}, [&](const HTTPRequest&) { return HTTPResponse{cases[next++].first, "text/plain", ""}; });
    for (const auto& [status, line] : cases) {
        auto answer = ask(get("/"));
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->statusLine, line) << status;
        EXPECT_EQ(answer->headers.size(), 3u);
    }
}

TEST_F(HTTPServerTest, AThrowingHandlerIsAnswered500) {
    startServer({}, [](const HTTPRequest&) -> HTTPResponse { throw std::runtime_error("boom"); });
    auto answer = ask(get("/"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->statusLine, "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(answer->body, "Internal Server Error");
    EXPECT_TRUE(ask(get("/")));  // and the server goes on
}

// A request declared short is handled on the I/O thread that read it (a hand-over would cost more
// than the handler); any other goes to a worker, so a handler that waits never holds up a thread
// that the kernel hands new connections to.
TEST_F(HTTPServerTest, OnlyRequestsDeclaredShortAreHandledWhereTheyArrive) {
    std::mutex mutex;
    std::map<std::string, std::thread::id> readOn, handledOn;
    HTTPServerOptions options{.ioThreads = 2};
    options.answersAtOnce = [&](const HTTPRequest& request) {
        std::lock_guard lock(mutex);
        readOn[request.path] = std::this_thread::get_id();
        if (request.path == "/throws") throw std::runtime_error("undecided");
        return request.path.starts_with("/health");
    };
    startServer(options, [&](const HTTPRequest& request) {
        if (request.path == "/slow") gate_.pass();
        std::lock_guard lock(mutex);
        handledOn[request.path] = std::this_thread::get_id();
        return HTTPResponse{200, "text/plain", "ok"};
    });
    auto slow = std::async(std::launch::async, [&] { return ask(get("/slow")); });
    auto slowToo = std::async(std::launch::async, [&] { return ask(get("/slow")); });
    ASSERT_TRUE(gate_.awaitArrivals(2));  // both I/O threads would be held, were they run there
    for (int i = 0; i < 20; ++i) {
        const std::string path = "/health?n=" + std::to_string(i);
        auto answer = testing::exchange(port(), get(path), kPatience);
        ASSERT_TRUE(answer) << path;
        std::lock_guard lock(mutex);
        EXPECT_EQ(handledOn[path], readOn[path]) << path;
    }
    auto undecided = ask(get("/throws"));  // a failing declaration counts as "not short"
    ASSERT_TRUE(undecided);
    EXPECT_EQ(undecided->status, 200);
    gate_.allow();
    ASSERT_TRUE(slow.get());
    ASSERT_TRUE(slowToo.get());
    std::lock_guard lock(mutex);
    EXPECT_NE(handledOn["/slow"], readOn["/slow"]);
    EXPECT_NE(handledOn["/throws"], readOn["/throws"]);
}

TEST_F(HTTPServerTest, ALargeBodyArrivesWhole) {
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

TEST_F(HTTPServerTest, ListensOnIPv4LoopbackOnly) {
    startServer();
    EXPECT_TRUE(RawClient(port(), "127.0.0.1").connected());
    EXPECT_FALSE(RawClient(port(), "127.0.0.2").connected());  // bound to 127.0.0.1, not 0.0.0.0
}

TEST_F(HTTPServerTest, APortAlreadyTakenByAnotherServerLogsServerFailed) {
    startServer();
    HTTPServer second(port(), [](HTTPRequest) { return HTTPResponse{200, "text/plain", ""}; });
    EXPECT_FALSE(second.start());  // the failure is logged before start() returns
    EXPECT_TRUE(logs_.contains("Quillmere HTTP server failed: "));
    EXPECT_EQ(second.boundPort(), 0);
    EXPECT_TRUE(ask(get("/")));  // the first goes on
}

TEST_F(HTTPServerTest, StopCancelsTheListenerButNotRequestsInProgress) {
    startServer({.ioThreads = 3}, [this](const HTTPRequest&) {
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

TEST_F(HTTPServerTest, DestroyingTheServerCancelsReceivingConnectionsAndFinishesHandledOnes) {
    startServer({.ioThreads = 3}, [this](const HTTPRequest&) {
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

TEST_F(HTTPServerTest, ManyRequestsInARow) {
    startServer({.maxConcurrentRequests = 4, .ioThreads = 3});
    for (int i = 0; i < 300; ++i) {
        auto answer = ask(get("/health?i=" + std::to_string(i)));
        ASSERT_TRUE(answer) << i;
        ASSERT_EQ(answer->status, 200);
    }
    EXPECT_EQ(recorder_->count(), 300u);
}

// ---------------------------------------------------------------------------------------------
// Peers that go away

TEST_F(HTTPServerTest, APeerThatDisconnectsMidRequestIsDroppedAndTheServerGoesOn) {
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

TEST_F(HTTPServerTest, APeerThatDisconnectsWhileItsHandlerRunsFreesItsSlot) {
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

// A peer that ended its side after a whole request was dropped at random on an idle server too:
// the end of its stream reached the watch for hang-ups before a worker took the request. A
// half-close is legal: such a request is answered (an HTTP/1.1 peer may first be asked, with an
// interim 100 Continue, whether it still listens). A peer that closed or reset is gone: its
// request is dropped while it waits, and a handler running for it is told.
TEST_F(HTTPServerTest, APeerThatEndsItsSideIsAnsweredAndOneThatHangsUpIsDroppedOrItsHandlerTold) {
    enum class Ending { halfClose, close, reset };
    struct Row {
        Ending ending;
        bool waits;  // behind a handler that holds the one worker, else running when the peer ends
        const char* version;
        bool answered;  // else dropped unanswered (waiting) or its handler told (running)
    };
    const Row rows[] = {
        {Ending::halfClose, false, "HTTP/1.1", true}, {Ending::halfClose, true, "HTTP/1.1", true},
        {Ending::halfClose, false, "HTTP/1.0", true}, {Ending::halfClose, true, "HTTP/1.0", true},
        {Ending::close, false, "HTTP/1.1", false},    {Ending::close, true, "HTTP/1.1", false},
        {Ending::reset, false, "HTTP/1.1", false},    {Ending::reset, true, "HTTP/1.1", false},
        {Ending::reset, true, "HTTP/1.0", false},
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, bool> told;  // by path: whether the handler learnt that its client left
    bool release = false;
    HTTPServerOptions options{.maxConcurrentRequests = 1};
    // "/idle" is prompt: its peer is never asked (its answer comes soon anyway); the rows are slow.
    options.workLane = [](const HTTPRequest& request) { return WorkLane{.prompt = request.path == "/idle"}; };
    startServer(options, [&](const HTTPRequest& request) {
        if (request.path == "/idle") return HTTPResponse{200, "text/plain", "idle"};
        std::unique_lock lock(mutex);
        std::stop_callback wake(request.clientGone, [&] {
            std::lock_guard inner(mutex);
            changed.notify_all();
        });
        told[request.path] = false;
        changed.notify_all();
        changed.wait_for(lock, kPatience, [&] { return release || request.clientGone.stop_requested(); });
        told[request.path] = request.clientGone.stop_requested();
        changed.notify_all();
        return HTTPResponse{200, "text/plain", "held"};
    });
    const auto arrived = [&](const std::string& path) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return told.count(path) > 0; });
    };
    // A hang-up reaches the server a moment after the client's close (the kernel's own time):
    // told by the server's log line when it drops a waiting request.
    int dropped = 0;
    const auto previousSink = platform::setLogSink([&](std::string_view line) {
        if (!line.starts_with("Quillmere HTTP request dropped")) return;
        std::lock_guard lock(mutex);
        ++dropped;
        changed.notify_all();
    });
    struct RestoreSink {
        platform::LogSink sink;
        ~RestoreSink() { platform::setLogSink(std::move(sink)); }
    } restore{previousSink};
    const auto allow = [&](bool value) {
        std::lock_guard lock(mutex);
        release = value;
        changed.notify_all();
    };
    // An idle server, again and again: the peer's end and the worker taking its request race.
    for (int i = 0; i < 40; ++i) {
        RawClient client(port());
        client.send("GET /idle HTTP/1.1\r\n\r\n");
        client.shutdownWrite();
        const auto answer = testing::parseAnswer(client.readAll().bytes);
        ASSERT_TRUE(answer) << i;
        EXPECT_EQ(answer->body, "idle") << i;
    }
    for (std::size_t r = 0; r < std::size(rows); ++r) {
        const auto& row = rows[r];
        const std::string path = "/row" + std::to_string(r);
        SCOPED_TRACE(path);
        allow(false);
        std::unique_ptr<RawClient> holder;
        if (row.waits) {
            holder = std::make_unique<RawClient>(port());
            holder->send(get(path + "/holder"));
            ASSERT_TRUE(arrived(path + "/holder"));
        }
        RawClient client(port());
        client.send("GET " + path + " " + row.version + "\r\n\r\n");
        if (!row.waits) {
            ASSERT_TRUE(arrived(path));
        }
        const int droppedBefore = [&] {
            std::lock_guard lock(mutex);
            return dropped;
        }();
        switch (row.ending) {
            case Ending::halfClose: client.shutdownWrite(); break;
            case Ending::close: client.close(); break;
            case Ending::reset: client.close(/*reset=*/true); break;
        }
        if (row.waits && row.answered) settle();  // its end seen while it waits
        if (row.waits && !row.answered) {
            std::unique_lock lock(mutex);
            EXPECT_TRUE(changed.wait_for(lock, kPatience, [&] { return dropped > droppedBefore; }));
        }
        if (!row.waits && !row.answered) {
            std::unique_lock lock(mutex);
            EXPECT_TRUE(changed.wait_for(lock, kPatience, [&] { return told[path]; }));
        }
        allow(true);
        if (holder) {
            EXPECT_TRUE(testing::parseAnswer(holder->readAll().bytes));
        }
        if (row.answered) {
            std::string bytes = client.readAll().bytes;
            if (std::string_view(row.version) == "HTTP/1.0") {
                EXPECT_FALSE(bytes.starts_with("HTTP/1.1 100"));
            }
            while (bytes.starts_with("HTTP/1.1 100 Continue\r\n\r\n")) bytes.erase(0, 25);
            const auto answer = testing::parseAnswer(bytes);
            ASSERT_TRUE(answer);
            EXPECT_EQ(answer->body, "held");
            std::lock_guard lock(mutex);
            EXPECT_FALSE(told[path]);
        } else if (row.waits) {
            EXPECT_TRUE(ask(get("/idle")));  // the one worker is free: a request still waiting ran before
            std::lock_guard lock(mutex);
            EXPECT_EQ(told.count(path), 0u);  // never ran
        }
    }
}

}  // namespace
}  // namespace corvane::http
