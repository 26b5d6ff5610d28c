// Measures the companion controller as a whole, for bench/run-controller-bench:
//
//   controller_bench health-body              the bytes GET /health answers (for nginx to serve)
//   controller_bench health NGINX_PORT [N]    GET /health, Connection: close, 1 and 16 clients,
//                                             against the controller and nginx, side by side
//   controller_bench intake [SECONDS]         30 instances posting twice a second: the
//                                             controller's CPU as a share of one core
//   controller_bench startup CORVANE_BINARY   time from exec to accepting on 51234, resident
//                                             memory then, and a clean exit on SIGTERM
//
// The controller runs in this process in front of the simulated demo song; all traffic is
// 127.0.0.1 only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/companion_controller.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "platform/standin/world.h"

namespace {

using namespace corvane;
using SteadyClock = std::chrono::steady_clock;

std::string exchange(std::uint16_t port, const std::string& request, bool* ok = nullptr) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    std::string answer;
    bool good = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
                ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size());
    char buffer[8192];
    while (good) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) good = false;
        if (n <= 0) break;
        answer.append(buffer, std::size_t(n));
    }
    ::close(fd);
    if (ok) *ok = good && answer.rfind("HTTP/1.1 200 OK\r\n", 0) == 0;
    return answer;
}

const std::string kHealthRequest = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";

// The controller in front of the demo song, logging nowhere.
struct Host {
    Host()
        : world(standin::World::fromFile(std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/demo-song.json")),
          services(world->services()) {
        platform::setLogSink([](std::string_view) {});
        controller = app::CompanionController::create(app::CompanionController::Options{.port = 0});
        controller->start();
    }
    std::unique_ptr<standin::World> world;
    platform::ScopedServices services;
    std::shared_ptr<app::CompanionController> controller;
};

struct Round {
    double perSecond = 0, p99ms = 0;
    std::size_t failed = 0;
};

Round load(std::uint16_t port, int clients, std::size_t requests) {
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    std::atomic<std::size_t> next{0}, failed{0};
    const auto start = SteadyClock::now();
    {
        std::vector<std::jthread> threads;
        for (int c = 0; c < clients; ++c)
            threads.emplace_back([&, c] {
                while (next.fetch_add(1) < requests) {
                    const auto t0 = SteadyClock::now();
                    bool ok = false;
                    exchange(port, kHealthRequest, &ok);
                    if (!ok) ++failed;
                    latencies[std::size_t(c)].push_back(
                        std::chrono::duration<double, std::milli>(SteadyClock::now() - t0).count());
                }
            });
    }
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    std::vector<double> all;
    for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    Round r;
    r.perSecond = double(all.size()) / seconds;
    r.p99ms = all.empty() ? 0 : all[std::min(all.size() - 1, std::size_t(0.99 * double(all.size())))];
    r.failed = failed;
    return r;
}

int healthBody() {
    Host host;
    const std::string answer = exchange(host.controller->boundPort(), kHealthRequest);
    const auto head = answer.find("\r\n\r\n");
    if (head == std::string::npos) return 1;
    std::fwrite(answer.data() + head + 4, 1, answer.size() - head - 4, stdout);
    return 0;
}

int health(std::uint16_t nginxPort, std::size_t requests) {
    Host host;
    const std::uint16_t ours = host.controller->boundPort();
    std::printf("GET /health, Connection: close, %zu requests per round\n", requests);
    std::printf("%-12s %8s %12s %10s %8s\n", "server", "clients", "requests/s", "p99 ms", "failed");
    int status = 0;
    for (int clients : {1, 16}) {
        for (const auto& [name, port] :
             {std::pair<const char*, std::uint16_t>{"corvane", ours}, {"nginx", nginxPort}}) {
            exchange(port, kHealthRequest);  // warm up
            const Round r = load(port, clients, requests);
            std::printf("%-12s %8d %12.0f %10.3f %8zu\n", name, clients, r.perSecond, r.p99ms, r.failed);
            std::fflush(stdout);
            if (r.failed) status = 1;  // either server failing makes the comparison void
        }
    }
    return status;
}

std::string analysisBody(int instance) {
    nlohmann::json summary = nlohmann::json::object();
    for (const char* key : {"analyzedSeconds",
                            "captureDurationSeconds",
                            "peakDbfs",
                            "rmsDbfs",
                            "headroomDb",
                            "crestDb",
                            "bpm",
                            "captureStartSeconds",
                            "captureEndSeconds",
                            "captureStartPpq",
                            "captureEndPpq",
                            "captureStartBeatInBar",
                            "captureEndBeatInBar",
                            "lowBandRatio",
                            "lowMidBandRatio",
                            "highBandRatio",
                            "subBandRatio",
                            "bassBandRatio",
                            "highMidBandRatio",
                            "airBandRatio",
                            "spectralCentroidHz",
                            "spectralTiltDb",
                            "stereoWidth",
                            "lowBandStereoWidth",
                            "highBandStereoWidth",
                            "stereoBalance",
                            "phaseCorrelation",
                            "transientRate",
                            "lowBandStability",
                            "momentaryLufs",
                            "shortTermLufs"})
        summary[key] = -12.345678;
    summary["source"] = "track";
    summary["hasTimelineInfo"] = true;
    summary["transportWasPlaying"] = true;
    for (const char* key : {"timeSigNumerator", "timeSigDenominator", "captureStartBar", "captureEndBar"})
        summary[key] = 4;
    nlohmann::json bars = nlohmann::json::array();
    for (int b = 1; b <= 16; ++b) {
        nlohmann::json bar = {{"bar", b}};
        for (const char* key :
             {"peakDbfs", "rmsDbfs", "crestDb", "lufs", "subBandRatio", "bassBandRatio", "lowMidBandRatio",
              "highMidBandRatio", "airBandRatio", "spectralTiltDb", "stereoWidth", "phaseCorrelation"})
            bar[key] = -9.87654;
        bars.push_back(bar);
    }
    return nlohmann::json{{"instanceID", "AI-" + std::to_string(1000 + instance)},
                          {"trackName", "Track " + std::to_string(instance)},
                          {"audioAnalysis", summary},
                          {"barAnalysisMap", bars}}
        .dump();
}

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int intake(double seconds) {
    constexpr int kInstances = 30;
    Host host;
    const std::uint16_t port = host.controller->boundPort();
    std::vector<std::string> requests;
    for (int i = 0; i < kInstances; ++i) {
        const std::string body = analysisBody(i);
        requests.push_back(
            "POST /analysis HTTP/1.1\r\nHost: 127.0.0.1:51234\r\nContent-Type: application/json\r\n"
            "Content-Length: " +
            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    }
    // The plug-ins live in another process, so this one's CPU time is the controller's alone.
    const double cpu0 = cpuSeconds();
    const auto wall0 = SteadyClock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const auto start = SteadyClock::now();
        for (int tick = 0; tick < int(seconds * 2); ++tick) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(500 * tick));
            for (const auto& r : requests) exchange(port, r);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    const double wall = std::chrono::duration<double>(SteadyClock::now() - wall0).count();
    const double cpu = cpuSeconds() - cpu0;
    std::printf(
        "/analysis intake: %d instances x 2 posts/s (%zu-byte bodies) for %.1f s: %zu records, "
        "controller CPU %.3f s = %.2f %% of one core\n",
        kInstances, requests[0].size(), wall, host.controller->trackAnalysis().size(), cpu, 100 * cpu / wall);
    return host.controller->trackAnalysis().size() == std::size_t(kInstances) ? 0 : 1;
}

int startup(const char* binary) {
    bool busy = false;
    exchange(51234, kHealthRequest, &busy);
    if (busy) {
        std::fprintf(stderr, "port 51234 is taken; stop whatever listens there first\n");
        return 1;
    }
    const auto start = SteadyClock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(binary, binary, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    bool up = false;
    while (!up && SteadyClock::now() - start < std::chrono::seconds(30)) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(51234);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        up = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
        ::close(fd);
        if (!up) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
    std::string rss = "?";
    std::ifstream status("/proc/" + std::to_string(child) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) rss = line.substr(6);
    ::kill(child, SIGTERM);
    int exitStatus = 0;
    ::waitpid(child, &exitStatus, 0);
    const bool clean = WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0;
    std::printf("start to accepting on 51234: %.1f ms; resident memory then:%s; SIGTERM: %s\n", ms, rss.c_str(),
                clean ? "clean exit 0" : "NOT a clean exit");
    return up && clean ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "health-body") return healthBody();
    if (mode == "health" && argc > 2)
        return health(std::uint16_t(std::atoi(argv[2])), argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 5000);
    if (mode == "intake") return intake(argc > 2 ? std::atof(argv[2]) : 10);
    if (mode == "startup" && argc > 2) return startup(argv[2]);
    std::fprintf(stderr, "usage: controller_bench health-body | health NGINX_PORT [N] | intake [S] | startup BINARY\n");
    return 2;
}
