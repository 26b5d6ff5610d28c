// A flood of signed-out error reports against a corvane-backend on 127.0.0.1, with a victim asking
// /health meanwhile: prints how many reports were stored and refused and the victim's answer times.
// Bounded: at most 400 reporting threads for at most 30 s, one request per connection.
//
//   backend_flood_bench PORT [THREADS (default 300)] [SECONDS (default 15)] [REPORT BYTES (default 1000)]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The status of the answer, 0 when there was none.
int exchange(std::uint16_t port, const std::string& request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    int status = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        std::string answer;
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            answer.append(buffer, static_cast<std::size_t>(got));
            if (answer.find("\r\n\r\n") != std::string::npos) break;
        }
        if (answer.rfind("HTTP/1.1 ", 0) == 0 && answer.size() >= 12) status = std::atoi(answer.c_str() + 9);
    }
    ::close(fd);
    return status;
}

std::string post(const std::string& target, const std::string& body) {
    return "POST " + target +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: backend_flood_bench PORT [THREADS] [SECONDS] [REPORT BYTES]\n");
        return 2;
    }
    const auto port = static_cast<std::uint16_t>(std::atoi(argv[1]));
    const int threads = std::clamp(argc > 2 ? std::atoi(argv[2]) : 300, 1, 400);
    const int seconds = std::clamp(argc > 3 ? std::atoi(argv[3]) : 15, 1, 30);
    const int bytes = std::clamp(argc > 4 ? std::atoi(argv[4]) : 1000, 20, 60'000);
    const std::string report = post("/api/errors/report", R"({"message":")" + std::string(bytes - 16, 'x') + "\"}");

    std::atomic<bool> stop = false;
    std::atomic<long> stored = 0, refused = 0, otherwise = 0;
    std::vector<std::thread> flood;
    for (int i = 0; i < threads; ++i) {
        flood.emplace_back([&] {
            while (!stop) {
                const int status = exchange(port, report);
                ++(status == 200 ? stored : status == 503 ? refused : otherwise);
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // every reporter is sending
    std::vector<double> times;
    int failed = 0;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < end) {
        const auto start = Clock::now();
        if (exchange(port, "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n") != 200) ++failed;
        times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    for (auto& thread : flood) thread.join();
    std::sort(times.begin(), times.end());
    const auto at = [&](double q) {
        return times[std::min(times.size() - 1, static_cast<std::size_t>(q * times.size()))];
    };
    std::printf(
        "%d reporters, %d s: %ld stored, %ld refused, %ld otherwise; /health x%zu (%d not 200): "
        "p50 %.4f s, p90 %.4f s, p99 %.4f s, max %.4f s\n",
        threads, seconds, stored.load(), refused.load(), otherwise.load(), times.size(), failed, at(0.5), at(0.9),
        at(0.99), times.back());
    if (failed == static_cast<int>(times.size())) {
        std::fprintf(stderr, "backend_flood_bench: measured nothing, no /health was answered 200\n");
        return 1;
    }
    return 0;
}
