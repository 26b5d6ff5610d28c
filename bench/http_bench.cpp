// Drives the loopback HTTP server with a tiny handler over N parallel clients, one request per
// connection (as the plug-in and the scripts use it), and prints requests per second and the
// p50/p99 latencies of each round. With --port it drives a server already listening on that
// loopback port instead (the baseline in bench/run-http-bench).
//
//   http_bench [--port N] [requests per round (default 20000)] [client counts... (default 1 8 32 64 128)]
//
// Traffic goes to 127.0.0.1 only; every round is bounded by its request count and by 30 s.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http/http_server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRoundCap = std::chrono::seconds(30);

// One whole exchange on a fresh connection; false on any failure or a non-200 answer.
bool oneRequest(std::uint16_t port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
              ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
    std::string answer;
    char buffer[4096];
    while (ok) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) ok = false;
        if (n <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok && answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0;
}

struct Round {
    int clients = 0;
    std::size_t done = 0;
    std::size_t failed = 0;
    double seconds = 0;
    double p50us = 0, p99us = 0, maxus = 0;
};

Round runRound(std::uint16_t port, int clients, std::size_t requests) {
    const std::string request =
        "POST /analysis HTTP/1.1\r\nHost: 127.0.0.1:51234\r\nContent-Type: application/json\r\n"
        "Content-Length: 27\r\n\r\n{\"instanceId\":\"bench\",\"x\":1}";
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    std::atomic<std::size_t> failed{0};
    std::atomic<std::size_t> next{0};
    const auto start = Clock::now();
    const auto deadline = start + kRoundCap;
    {
        std::vector<std::jthread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                auto& mine = latencies[static_cast<std::size_t>(c)];
                while (next.fetch_add(1) < requests && Clock::now() < deadline) {
                    const auto t0 = Clock::now();
                    const bool ok = oneRequest(port, request);
                    const auto t1 = Clock::now();
                    if (!ok) ++failed;
                    mine.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
                }
            });
        }
    }
    Round round;
    round.clients = clients;
    round.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    round.done = all.size();
    round.failed = failed.load();
    if (!all.empty()) {
        const auto at = [&](double q) {
            return all[std::min(all.size() - 1, static_cast<std::size_t>(q * all.size()))];
        };
        round.p50us = at(0.50);
        round.p99us = at(0.99);
        round.maxus = all.back();
    }
    return round;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    std::uint16_t externalPort = 0;
    if (argc > 2 && std::string(argv[1]) == "--port") {
        externalPort = static_cast<std::uint16_t>(std::atoi(argv[2]));
        first = 3;
    }
    std::size_t requests = 20000;
    std::vector<int> clientCounts = {1, 8, 32, 64, 128};
    if (argc > first) requests = std::strtoul(argv[first], nullptr, 10);
    if (argc > first + 1) {
        clientCounts.clear();
        for (int i = first + 1; i < argc; ++i) clientCounts.push_back(std::max(1, std::atoi(argv[i])));
    }

    std::optional<corvane::http::HTTPServer> server;
    std::uint16_t port = externalPort;
    if (port == 0) {
        corvane::http::HTTPServerOptions options;
        options.answersAtOnce = [](const corvane::http::HTTPRequest&) { return true; };  // a constant answer
        server.emplace(
            0,
            [](corvane::http::HTTPRequest) {
                return corvane::http::HTTPResponse{200, "application/json", "{\"ok\":true}"};
            },
            options);
        server->start();
        port = server->boundPort();
        if (port == 0) {
            std::fprintf(stderr, "the server did not start\n");
            return 1;
        }
        std::printf(
            "loopback HTTP server on 127.0.0.1:%u, tiny handler, one request per connection, "
            "default limits\n",
            port);
    } else {
        std::printf("external server on 127.0.0.1:%u, one request per connection\n", port);
    }
    std::printf("%8s %10s %8s %12s %10s %10s %10s\n", "clients", "requests", "failed", "requests/s", "p50 ms", "p99 ms",
                "max ms");
    oneRequest(port, "GET / HTTP/1.1\r\n\r\n");  // warm up
    int status = 0;
    for (int clients : clientCounts) {
        const Round r = runRound(port, clients, requests);
        std::printf("%8d %10zu %8zu %12.0f %10.3f %10.3f %10.3f\n", r.clients, r.done, r.failed,
                    static_cast<double>(r.done) / r.seconds, r.p50us / 1000, r.p99us / 1000, r.maxus / 1000);
        std::fflush(stdout);
        if (r.failed != 0) status = 1;
    }
    return status;
}
