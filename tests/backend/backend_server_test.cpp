// corvane-backend behind the shared HTTP server: its routes, status lines and refusals as the
// bytes on a real loopback socket show them, hostile clients included.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <iostream>
#include <memory>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "backend/backend_fixture.h"
#include "backend/jwt.h"
#include "http/http_client.h"
#include "http/http_server.h"
#include "http/http_test_client.h"
#include "http/server_test_doubles.h"
#include "support/files.h"
#include "test_support/full_disk.h"
#include "test_support/hang_guard.h"
#include "test_support/temp_home.h"

namespace corvane::backend {
namespace {

// Sends the bytes and gives everything the server answered until it closed, or until a hang.
std::string exchange(std::uint16_t port, const std::string& bytes) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const timeval hang{.tv_sec = testing::kHangGuard.count(), .tv_usec = 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &hang, sizeof hang);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return "connect failed";
    }
    // Not followed by a half-close: a peer that ends its side before its answer has gone, to the server.
    ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
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
        // A chat's large body is allowed only to a token that checks out.
        {"POST /api/ai/chat HTTP/1.1\r\nAuthorization: Bearer t\r\nContent-Length: 20000000\r\n\r\nshort",
         answer("HTTP/1.1 401 Unauthorized", error("Not authenticated"))},
    };
    for (const auto& [request, expected] : cases) {
        EXPECT_EQ(exchange(backend.port(), request), expected) << request.substr(0, 60);
    }
}

// Every route took 64 MiB and checked its own limit only once the body was in: a signed-out peer
// could make the backend hold that much per connection. The head decides now, before the body.
TEST(BackendServer, ABodyOverItsRoutesLimitIsRefusedFromTheHeadBeforeAByteOfItArrives) {
    testing::TempHome home;
    testing::LocalBackend backend(home.root() / "backend");
    const std::string authTooLarge =
        "{\n  \"error\": \"request_too_large\",\n  \"error_description\": "
        "\"The request body is too large\"\n}";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"POST /api/errors/report HTTP/1.1\r\nContent-Length: 65537\r\n",
         answer("HTTP/1.1 413 Payload Too Large", error("The report is larger than 65536 bytes"))},
        {"POST /auth/v1/token?grant_type=password HTTP/1.1\r\nContent-Length: 65537\r\n",
         answer("HTTP/1.1 413 Payload Too Large", authTooLarge)},
        {"POST /api/ai/chat HTTP/1.1\r\nContent-Length: 61865984\r\n",
         answer("HTTP/1.1 401 Unauthorized", error("Not authenticated"))},
        {"POST /api/ai/chat HTTP/1.1\r\nAuthorization: Basic eDp5\r\nContent-Length: 61865984\r\n",
         answer("HTTP/1.1 401 Unauthorized", error("Not authenticated"))},
        {"POST /nowhere HTTP/1.1\r\nContent-Length: 65537\r\n",
         answer("HTTP/1.1 413 Payload Too Large", error("Request body too large"))},
    };
    for (const auto& [head, expected] : cases) {
        http::testing::RawClient client(backend.port());
        client.send(head + "\r\n");  // the head only, and the connection left open
        const auto received = client.readAll(http::testing::kPatience);
        EXPECT_TRUE(received.closed) << head;
        EXPECT_EQ(received.bytes, expected) << head;
    }
    // Within the limits, the routes decide as before.
    EXPECT_EQ(exchange(backend.port(), "POST /api/errors/report HTTP/1.1\r\nContent-Length: 2\r\n\r\n[]"),
              answer("HTTP/1.1 400 Bad Request", error("The report must be a JSON object")));

    // With no place for a report, a signed-out one is refused from its head too: a flood's
    // refusals take neither the reading of its bodies nor a handler from the other routes.
    testing::LocalBackend full(home.root() / "full", testing::demoScript(), std::chrono::hours(1),
                               [](BackendOptions& options) {
                                   options.maxConcurrentReports = 0;
                                   options.maxWaitingReports = 0;
                               });
    http::testing::RawClient client(full.port());
    client.send("POST /api/errors/report HTTP/1.1\r\nContent-Length: 1000\r\n\r\n");
    const auto received = client.readAll(http::testing::kPatience);
    EXPECT_TRUE(received.closed);
    EXPECT_TRUE(received.bytes.starts_with("HTTP/1.1 503 Service Unavailable\r\n")) << received.bytes;
    EXPECT_NE(received.bytes.find("\r\nRetry-After: 1\r\n"), std::string::npos) << received.bytes;
    EXPECT_TRUE(received.bytes.ends_with(error("Too many reports at once; try again shortly"))) << received.bytes;
}

TEST(BackendServer, AThrowingHandlerIsAnsweredWithTheBackendsInternalError) {
    testing::TempHome home;
    testing::LocalBackend backend(home.root() / "backend");
    http::HTTPServer server(
        0, [](const http::HTTPRequest&) -> http::HTTPResponse { throw std::runtime_error("boom"); },
        backend.service().serverOptions());
    ASSERT_TRUE(server.start());
    EXPECT_EQ(exchange(server.boundPort(), "GET / HTTP/1.1\r\n\r\n"),
              answer("HTTP/1.1 500 Internal Server Error", error("Internal error")));
    server.stop();
    EXPECT_EQ(server.boundPort(), 0);
}

std::string request(const std::string& method, const std::string& target, const std::string& headers,
                    const std::string& body = "") {
    return method + " " + target + " HTTP/1.1\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

int statusOf(const std::string& raw) {
    const auto answer = http::testing::parseAnswer(raw);
    return answer ? answer->status : 0;
}

std::string signedToken(const nlohmann::json& header, const nlohmann::json& claims, const std::string& key) {
    const std::string input = base64URLEncode(header.dump()) + "." + base64URLEncode(claims.dump());
    const std::string whole = signJWT(claims, key);
    return input + whole.substr(whole.rfind('.'));  // a signature over other bytes: never valid
}

std::size_t reportsStored(const std::filesystem::path& dataFolder) {
    std::size_t count = 0;
    std::error_code ignored;
    for (auto it = std::filesystem::recursive_directory_iterator(dataFolder / "reports", ignored);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        if (it->is_regular_file()) ++count;
    }
    return count;
}

// Past the file-size limit a sign-in and a refresh were answered 500 "Internal error": the client
// learnt nothing of the reason the backend logged. The answer carries it, as the app's refusals do,
// and whatever the file refused changed nothing.
TEST(BackendServer, ASessionTheDiskRefusesIsAnsweredWithItsReason) {
    testing::TempHome home;
    testing::LocalBackend backend(home.root() / "backend");
    const std::string apikey = std::string("apikey: ") + BackendOptions::kDefaultPublishableKey + "\r\n";
    const std::string signIn =
        request("POST", "/auth/v1/token?grant_type=password", apikey,
                nlohmann::json{{"email", testing::LocalBackend::kEmail}, {"password", testing::LocalBackend::kPassword}}
                    .dump());
    const auto session = http::testing::parseAnswer(exchange(backend.port(), signIn));
    ASSERT_TRUE(session);
    const std::string refreshToken = nlohmann::json::parse(session->body)["refresh_token"];
    const std::string refresh = request("POST", "/auth/v1/token?grant_type=refresh_token", apikey,
                                        nlohmann::json{{"refresh_token", refreshToken}}.dump());
    for (const auto& [name, bytes] : {std::pair{"sign-in", signIn}, {"refresh", refresh}}) {
        SCOPED_TRACE(name);
        std::optional<http::testing::Answer> refused;
        {
            const testing::FullDisk disk;
            refused = http::testing::parseAnswer(exchange(backend.port(), bytes));
        }
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->status, 500);
        const auto body = nlohmann::json::parse(refused->body);
        EXPECT_EQ(body["error"], "unexpected_failure");
        const std::string description = body["error_description"];
        EXPECT_TRUE(description.starts_with("The session could not be stored: ")) << description;
        EXPECT_NE(description.find("File too large"), std::string::npos) << description;
    }
    // The refused refresh spent nothing: the token still gets its pair.
    EXPECT_EQ(statusOf(exchange(backend.port(), refresh)), 200);
}

// What an attacker on this machine or a web page in its browser would try, each with the status
// the backend must answer, over a real loopback socket.
TEST(BackendServer, HostileRequestsGetTheirRefusals) {
    testing::TempHome home;
    testing::LocalBackend backend(home.root() / "backend");
    const std::string key = BackendOptions::kDefaultPublishableKey;
    const std::string apikey = "apikey: " + key + "\r\n";
    const auto signIn = [&](const std::string& email, const std::string& password) {
        return exchange(backend.port(), request("POST", "/auth/v1/token?grant_type=password", apikey,
                                                nlohmann::json{{"email", email}, {"password", password}}.dump()));
    };
    const auto answered =
        http::testing::parseAnswer(signIn(testing::LocalBackend::kEmail, testing::LocalBackend::kPassword));
    ASSERT_TRUE(answered);
    ASSERT_EQ(answered->status, 200);
    const auto session = nlohmann::json::parse(answered->body);
    const std::string access = session["access_token"];
    const std::string bearer = "Authorization: Bearer " + access + "\r\n";
    const auto refreshBody = [](const nlohmann::json& token) {
        return nlohmann::json{{"refresh_token", token}}.dump();
    };
    const auto rotated =
        http::testing::parseAnswer(exchange(backend.port(), request("POST", "/auth/v1/token?grant_type=refresh_token",
                                                                    apikey, refreshBody(session["refresh_token"]))));
    ASSERT_TRUE(rotated);
    ASSERT_EQ(rotated->status, 200);
    const auto current = nlohmann::json::parse(rotated->body);
    backend.clock.sleep(std::chrono::seconds(61));  // past the grace in which the spent token gets its pair again
    const std::string currentBearer = "Authorization: Bearer " + current["access_token"].get<std::string>() + "\r\n";

    const std::string secret = testing::signingKey(backend.service().dataFolder());
    auto claims = nlohmann::json::parse(
        *base64URLDecode(access.substr(access.find('.') + 1, access.rfind('.') - access.find('.') - 1)));
    const auto withClaims = [&](const nlohmann::json& changes) {
        auto changed = claims;
        changed.update(changes);
        return "Authorization: Bearer " + signJWT(changed, secret) + "\r\n";
    };
    const std::string reSigned = withClaims(nlohmann::json::object());
    std::string badSignature = reSigned;  // one signature byte changed (the last character has spare bits)
    badSignature[badSignature.size() - 4] = badSignature[badSignature.size() - 4] == 'A' ? 'B' : 'A';
    const std::string unsignedToken =
        base64URLEncode(R"({"alg":"none","typ":"JWT"})") + "." + base64URLEncode(claims.dump()) + ".";
    const std::string deep = std::string(20'000, '[') + std::string(20'000, ']');
    const std::string chat = R"({"tier":"standard","kind":"agent","input":[]})";
    const std::string textPlain = "Content-Type: text/plain\r\n";
    struct Case {
        const char* name;
        std::string bytes;
        int status;
    };
    const std::vector<Case> cases = {
        // Web pages and DNS rebinding.
        {"foreign host", request("GET", "/health", "Host: attacker.example\r\n"), 403},
        {"loopback-looking host", request("GET", "/health", "Host: 127.0.0.1.attacker.example\r\n"), 403},
        {"simple cross-site report",
         request("POST", "/api/errors/report", "Host: 127.0.0.1:51235\r\nOrigin: http://evil.example\r\n" + textPlain,
                 "{}"),
         403},
        {"opaque origin", request("POST", "/api/errors/report", "Origin: null\r\n" + textPlain, "{}"), 403},
        {"https origin", request("POST", "/api/errors/report", "Origin: https://127.0.0.1\r\n", "{}"), 403},
        {"cross-site fetch", request("POST", "/api/ai/chat", "Sec-Fetch-Site: cross-site\r\n" + bearer, chat), 403},
        {"rebound sign-in",
         request("POST", "/auth/v1/token?grant_type=password", "Host: evil.example\r\n" + apikey, "{}"), 403},
        {"the app's own client", request("GET", "/health", "Host: 127.0.0.1:51235\r\n"), 200},
        {"a loopback page", request("GET", "/health", "Host: localhost\r\nOrigin: http://localhost:3000\r\n"), 200},
        // Forged and outlived tokens.
        {"alg none", request("POST", "/api/ai/chat", "Authorization: Bearer " + unsignedToken + "\r\n", chat), 401},
        {"alg swapped",
         request("POST", "/api/ai/chat",
                 "Authorization: Bearer " + signedToken({{"alg", "HS512"}, {"typ", "JWT"}}, claims, secret) + "\r\n",
                 chat),
         401},
        {"bad signature", request("POST", "/api/ai/chat", badSignature, chat), 401},
        {"expired", request("POST", "/api/ai/chat", withClaims({{"exp", claims["iat"]}}), chat), 401},
        {"exp 1e308", request("POST", "/api/ai/chat", withClaims({{"exp", 1e308}}), chat), 401},
        {"longer than issued",
         request("POST", "/api/ai/chat", withClaims({{"exp", claims["exp"].get<std::int64_t>() + 120}}), chat), 401},
        {"replayed refresh token",
         request("POST", "/auth/v1/token?grant_type=refresh_token", apikey, refreshBody(session["refresh_token"])),
         400},
        {"access token of the replayed session", request("POST", "/api/ai/chat", currentBearer, chat), 401},
        {"refresh token of the replayed session",
         request("POST", "/auth/v1/token?grant_type=refresh_token", apikey, refreshBody(current["refresh_token"])),
         400},
        // Bodies too deep or too large for their route.
        {"deep sign-in", request("POST", "/auth/v1/token?grant_type=password", apikey, R"({"email":)" + deep + "}"),
         413},
        {"large sign-in",
         request("POST", "/auth/v1/token?grant_type=password", apikey,
                 R"({"email":")" + std::string(100'000, 'a') + "\"}"),
         413},
        {"path-like e-mail",
         request("POST", "/auth/v1/token?grant_type=password", apikey,
                 R"({"email":"../../accounts.json","password":"x"})"),
         400},
        {"deep report", request("POST", "/api/errors/report", "", R"({"r":)" + deep + "}"), 413},
        {"large signed-out report", request("POST", "/api/errors/report", "", std::string(1024 * 1024, ' ') + "{}"),
         413},
        {"report past the server's cap", "POST /api/errors/report HTTP/1.1\r\nContent-Length: 67108865\r\n\r\n", 413},
        {"a local script's report", request("POST", "/api/errors/report", textPlain, R"({"message":"x"})"), 200},
    };
    for (const auto& c : cases) EXPECT_EQ(statusOf(exchange(backend.port(), c.bytes)), c.status) << c.name;
    EXPECT_EQ(reportsStored(backend.service().dataFolder()), 1u) << "only the local script's report";
}

std::string signInBody(const std::string& email, const std::string& password) {
    return nlohmann::json{{"email", email}, {"password", password}}.dump();
}

// Any head whose Authorization began "Bearer " was granted a chat's 64 MiB, so four signed-out
// uploads held every byte of the bodies in flight; a made-up token no longer does. Then one
// signed-in account did the same with its own valid token: four uploads of 64 MiB and every other
// account's chat, 200 KiB or 1 MiB, was answered 503. One account holds at most one largest body
// in flight now, and small bodies never wait on large ones.
TEST(BackendServer, NoOneClientHoldsTheUploadBudgetNeitherWithAMadeUpTokenNorWithItsOwn) {
    testing::TempHome home;
    testing::LocalBackend backend(home.root() / "backend");
    ASSERT_TRUE(backend.service().accounts().addUser("other@example.com", "other password"));
    const std::string apikey = std::string("apikey: ") + BackendOptions::kDefaultPublishableKey + "\r\n";
    const auto signIn = [&](const std::string& email, const std::string& password) {
        const auto signedIn = http::testing::parseAnswer(exchange(
            backend.port(), request("POST", "/auth/v1/token?grant_type=password", apikey, signInBody(email, password))));
        EXPECT_TRUE(signedIn && signedIn->status == 200);
        return signedIn ? nlohmann::json::parse(signedIn->body) : nlohmann::json::object();
    };
    const auto session = signIn(testing::LocalBackend::kEmail, testing::LocalBackend::kPassword);
    const std::string bearer = "Authorization: Bearer " + session.value("access_token", "") + "\r\n";
    const std::string otherBearer =
        "Authorization: Bearer " + signIn("other@example.com", "other password").value("access_token", "") + "\r\n";
    const auto upload = [&](const std::string& authorization) {
        auto client = std::make_unique<http::testing::RawClient>(backend.port());
        // Asking to be told to go on: the answer shows the head was taken (and its body charged).
        client->send("POST /api/ai/chat HTTP/1.1\r\n" + authorization +
                     "Expect: 100-continue\r\nContent-Length: 67108864\r\n\r\n");
        return client;
    };
    const std::string goOn = "HTTP/1.1 100 Continue\r\n\r\n";

    for (const char* madeUp : {"Authorization: Bearer x\r\n", "Authorization: Bearer a.b.c\r\n"}) {
        for (int i = 0; i < 4; ++i) {
            const auto received = upload(madeUp)->readAll(http::testing::kPatience);
            EXPECT_TRUE(received.closed);
            EXPECT_EQ(statusOf(received.bytes), 401) << madeUp;
        }
    }

    const auto held = upload(bearer);
    ASSERT_EQ(held->readAtMost(goOn.size(), http::testing::kPatience), goOn);
    held->send("{" + std::string(1024 * 1024, ' '));  // ahead of the least rate for a minute
    std::vector<std::unique_ptr<http::testing::RawClient>> more;
    for (int i = 0; i < 3; ++i) more.push_back(upload(bearer));
    for (auto& refused : more) {
        EXPECT_EQ(statusOf(refused->readAll(http::testing::kPatience).bytes), 503) << "the account holds its share";
    }

    const auto chatOf = [](std::size_t bytes) {
        const std::string head = R"({"tier":"standard","kind":"agent","input":[{"role":"user","content":)"
                                 R"([{"type":"input_text","text":"Check the mix balance )";
        const std::string tail = R"("}]}]})";
        return head + std::string(bytes - head.size() - tail.size(), 'x') + tail;
    };
    for (const std::size_t bytes : {std::size_t(200 * 1024), std::size_t(1024 * 1024)}) {
        EXPECT_EQ(statusOf(exchange(backend.port(), request("POST", "/api/ai/chat", otherBearer, chatOf(bytes)))), 200)
            << "another account's chat of " << bytes << " bytes";
    }
    const auto otherUpload = upload(otherBearer);
    EXPECT_EQ(otherUpload->readAtMost(goOn.size(), http::testing::kPatience), goOn) << "another account's largest";

    const std::vector<std::pair<const char*, std::string>> small = {
        {"sign-in", request("POST", "/auth/v1/token?grant_type=password", apikey,
                            signInBody(testing::LocalBackend::kEmail, testing::LocalBackend::kPassword))},
        {"refresh", request("POST", "/auth/v1/token?grant_type=refresh_token", apikey,
                            nlohmann::json{{"refresh_token", session["refresh_token"]}}.dump())},
        {"chat", request("POST", "/api/ai/chat", bearer, chatOf(1024))},
        {"report", request("POST", "/api/errors/report", "", R"({"message":"x"})")},
    };
    for (const auto& [name, bytes] : small) EXPECT_EQ(statusOf(exchange(backend.port(), bytes)), 200) << name;
    EXPECT_FALSE(held->readableWithin(std::chrono::milliseconds(0))) << "still held";
}

TEST(BackendServer, TheAppsClientSignsInThroughTheGuard) {
    testing::TempHome home;
    testing::LocalBackend backend(home.root() / "backend");
    http::CurlTransport client;
    const auto response = client.send(
        {.url = backend.baseURL() + "/auth/v1/token?grant_type=password",
         .headers = {{"apikey", BackendOptions::kDefaultPublishableKey}, {"Content-Type", "application/json"}},
         .body =
             nlohmann::json{{"email", testing::LocalBackend::kEmail}, {"password", testing::LocalBackend::kPassword}}
                 .dump()});
    EXPECT_EQ(response.statusCode, 200) << response.body;
}

// The backend behind a server whose handlers for the requests `held` picks wait until the test
// ends, as slow hashes or a slow disk would hold them; the rest go through.
class HeldLane {
public:
    HeldLane(testing::LocalBackend& backend, std::function<bool(const http::HTTPRequest&)> held)
        : server_(
              0,
              [this, &backend, held = std::move(held)](const http::HTTPRequest& r) {
                  if (held(r)) {
                      std::unique_lock lock(mutex_);
                      ++holding_;
                      changed_.notify_all();
                      changed_.wait(lock, [&] { return released_; });
                  }
                  return backend.service().handle(r);
              },
              backend.service().serverOptions()) {}
    // However the test ends, the held handlers go before the server stops.
    ~HeldLane() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }
    bool start() { return server_.start(); }
    std::uint16_t port() const { return server_.boundPort(); }
    int holding() {
        std::lock_guard lock(mutex_);
        return holding_;
    }

    // Sends `running` requests that the lane holds, its other places' worth and 20 more; true once
    // the running ones are held and 20 were turned away at once with `status`. Bounds against a
    // hang, not a pace.
    ::testing::AssertionResult fill(const std::string& bytes, std::size_t running, std::size_t places, int status) {
        for (std::size_t i = 0; i < places + 20; ++i) {
            flood_.push_back(std::make_unique<http::testing::RawClient>(port()));
            if (!flood_.back()->connected()) return ::testing::AssertionFailure() << "client " << i << " not connected";
            flood_.back()->send(bytes);
        }
        {
            std::unique_lock lock(mutex_);
            if (!changed_.wait_for(lock, testing::kHangGuard, [&] { return holding_ == static_cast<int>(running); }))
                return ::testing::AssertionFailure() << holding_ << " held of " << running;
        }
        std::size_t turnedAway = 0;
        const auto until = std::chrono::steady_clock::now() + testing::kHangGuard;
        for (std::size_t next = 0; turnedAway < 20 && std::chrono::steady_clock::now() < until;
             next = (next + 1) % flood_.size()) {
            auto& client = flood_[next];
            if (!client || !client->readableWithin(std::chrono::milliseconds(1))) continue;
            const int answered = statusOf(client->readAll().bytes);
            if (answered != status) return ::testing::AssertionFailure() << "turned away with " << answered;
            client.reset();
            ++turnedAway;
        }
        if (turnedAway < 20) return ::testing::AssertionFailure() << "the lane never filled";
        return ::testing::AssertionSuccess();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    int holding_ = 0;
    http::HTTPServer server_;
    std::vector<std::unique_ptr<http::testing::RawClient>> flood_;
};

nlohmann::json signedIn(testing::LocalBackend& backend) {
    const auto session = backend.service().handle(
        {.method = "POST",
         .path = "/auth/v1/token?grant_type=password",
         .body = nlohmann::json{{"email", testing::LocalBackend::kEmail}, {"password", testing::LocalBackend::kPassword}}
                     .dump(),
         .headers = {{"apikey", BackendOptions::kDefaultPublishableKey}}});
    EXPECT_EQ(session.statusCode, 200);
    return nlohmann::json::parse(session.body, nullptr, false);
}

// Refreshes shared the sign-in lane: under a flood of wrong passwords a refresh of a known
// session was refused 429 at once. With every place of the sign-in lane held, a refresh is still
// answered.
TEST(BackendServer, ARefreshIsAnsweredWhileWrongPasswordsHoldEveryPlaceOfTheSignInLane) {
    testing::TempHome home;
    testing::LocalBackend backend(home.root() / "backend");
    HeldLane lane(backend,
                  [](const http::HTTPRequest& r) { return r.path.find("grant_type=password") != std::string::npos; });
    ASSERT_TRUE(lane.start());
    const std::string apikey = std::string("apikey: ") + BackendOptions::kDefaultPublishableKey + "\r\n";
    std::string refreshToken = signedIn(backend).value("refresh_token", "");

    const std::string guess = request("POST", "/auth/v1/token?grant_type=password", apikey,
                                      nlohmann::json{{"email", "stranger@example.com"}, {"password", "guess"}}.dump());
    // The lane's places: the hashes running and waiting for a slot, and 64 more waiting for a worker.
    const BackendOptions defaults;
    const std::size_t running = defaults.maxConcurrentHashes + defaults.maxWaitingHashes;
    ASSERT_TRUE(lane.fill(guess, running, running + 64, 429));

    for (int i = 0; i < 10; ++i) {
        const auto renewed = http::testing::parseAnswer(exchange(
            lane.port(), request("POST", "/auth/v1/token?grant_type=refresh_token", apikey,
                                 nlohmann::json{{"refresh_token", refreshToken}}.dump())));
        ASSERT_TRUE(renewed);
        ASSERT_EQ(renewed->status, 200) << i << ": " << renewed->body;
        refreshToken = nlohmann::json::parse(renewed->body)["refresh_token"];
    }
}

// An anonymous flood of error reports held every handler worker, and every other route waited
// behind it for seconds. Reports take the places of a lane of their own now and the rest are
// refused at once: with every place held by a report that never ends, health, a refresh and a chat
// are still answered, where before they waited without end.
TEST(BackendServer, EveryOtherRouteIsAnsweredWhileReportsHoldEveryPlaceOfTheirLane) {
    testing::TempHome home;
    testing::LocalBackend backend(home.root() / "backend");
    HeldLane lane(backend, [](const http::HTTPRequest& r) { return r.routePath() == "/api/errors/report"; });
    ASSERT_TRUE(lane.start());
    const std::string apikey = std::string("apikey: ") + BackendOptions::kDefaultPublishableKey + "\r\n";
    const auto session = signedIn(backend);

    // The lane's places: the reports running and waiting for a slot, and 64 more waiting for a worker.
    const BackendOptions defaults;
    const std::size_t running = defaults.maxConcurrentReports + defaults.maxWaitingReports;
    ASSERT_TRUE(lane.fill(request("POST", "/api/errors/report", "", R"({"message":"flood"})"), running, running + 64, 503));

    const std::vector<std::pair<const char*, std::string>> others = {
        {"health", "GET /health HTTP/1.1\r\n\r\n"},
        {"refresh", request("POST", "/auth/v1/token?grant_type=refresh_token", apikey,
                            nlohmann::json{{"refresh_token", session["refresh_token"]}}.dump())},
        {"chat", request("POST", "/api/ai/chat", "Authorization: Bearer " + session["access_token"].get<std::string>() + "\r\n",
                         R"({"tier":"standard","kind":"agent","input":[{"role":"user","content":[{"type":"input_text","text":"hi"}]}]})")},
    };
    for (const auto& [name, bytes] : others) EXPECT_EQ(statusOf(exchange(lane.port(), bytes)), 200) << name;
    EXPECT_EQ(lane.holding(), static_cast<int>(running)) << "a report went past its lane";
}

std::size_t threadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

// Real sockets, the server on a clock moved by hand: a server that let idle peers hold up others
// would answer the sign-in only at their time-out, which never comes here. How long the sign-in
// took says how busy the machine is, so it is recorded, not judged.
TEST(BackendServer, AThousandIdleConnectionsNeitherMultiplyThreadsNorHoldUpASignIn) {
    testing::TempHome home;
    testing::LocalBackend backend(home.root() / "backend");
    http::testing::SteppedClock clock;
    http::HTTPServer server(
        0, [&](const http::HTTPRequest& r) { return backend.service().handle(r); }, backend.service().serverOptions(),
        clock);
    ASSERT_TRUE(server.start());
    const std::string signIn =
        request("POST", "/auth/v1/token?grant_type=password",
                std::string("apikey: ") + BackendOptions::kDefaultPublishableKey + "\r\n",
                nlohmann::json{{"email", testing::LocalBackend::kEmail}, {"password", testing::LocalBackend::kPassword}}
                    .dump());
    const auto timedSignIn = [&] {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(statusOf(exchange(server.boundPort(), signIn)), 200);
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    };
    const auto quietLatency = timedSignIn();
    const std::size_t before = threadCount();
    std::vector<std::unique_ptr<http::testing::RawClient>> idle;
    for (int i = 0; i < 1000; ++i) {
        idle.push_back(std::make_unique<http::testing::RawClient>(server.boundPort()));
        ASSERT_TRUE(idle.back()->connected()) << i;
        if (i % 2 == 1) idle.back()->send("POST /auth/v1/token HTTP/1.1\r\nHo");  // half send part of a head
    }
    const auto busyLatency = timedSignIn();
    const std::size_t during = threadCount();
    for (auto& peer : idle) EXPECT_FALSE(peer->readableWithin(std::chrono::milliseconds(0)));
    std::cout << "threads " << before << " before, " << during << " with 1000 idle connections; sign-in "
              << quietLatency.count() << " ms quiet, " << busyLatency.count() << " ms busy\n";
    RecordProperty("threads_before", static_cast<int>(before));
    RecordProperty("threads_with_idle", static_cast<int>(during));
    RecordProperty("sign_in_ms_busy", static_cast<int>(busyLatency.count()));
    EXPECT_LE(during, before + 8);
}

TEST(BackendServer, ARequestFedAByteAtATimeIsCutOffAtTheRequestDeadline) {
    testing::TempHome home;
    testing::LocalBackend backend(home.root() / "backend");
    http::testing::SteppedClock clock;
    auto options = backend.service().serverOptions();
    options.ioThreads = 1;              // events in order, so a forbidden request shows all before it were handled
    options.minBodyBytesPerSecond = 0;  // the request deadline alone
    http::HTTPServer server(
        0, [&](const http::HTTPRequest& r) { return backend.service().handle(r); }, options, clock);
    ASSERT_TRUE(server.start());
    const auto settle = [&] {
        EXPECT_EQ(statusOf(exchange(server.boundPort(), "GET / HTTP/1.1\r\nHost: settle.invalid\r\n\r\n")), 403);
    };
    const std::string body = R"({"message":")" + std::string(100, 'x') + "\"}";
    http::testing::RawClient slow(server.boundPort());
    ASSERT_TRUE(slow.connected());
    slow.send("POST /api/errors/report HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n");
    const auto deadline = std::chrono::duration_cast<std::chrono::seconds>(options.requestTimeout);
    for (std::int64_t second = 1; second < deadline.count(); ++second) {
        slow.send(body.substr(static_cast<std::size_t>(second - 1), 1));
        settle();
        clock.advance(std::chrono::seconds(1));
    }
    settle();
    EXPECT_FALSE(slow.readableWithin(std::chrono::milliseconds(0))) << "still within its deadline";
    slow.send("x");
    clock.advance(std::chrono::seconds(1));
    const auto received = slow.readAll();
    EXPECT_TRUE(received.closed);
    EXPECT_EQ(received.bytes, "");
    EXPECT_EQ(reportsStored(backend.service().dataFolder()), 0u);
}

}  // namespace
}  // namespace corvane::backend
