// Measures the companion controller as a whole, for bench/run-controller-bench:
//
//   controller_bench health-body              the bytes GET /health answers (for nginx to serve)
//   controller_bench health NGINX_PORT NGINX_PID [N] [ROUNDS]
//                                             GET /health, Connection: close, 1 and 16 clients,
//                                             against the controller and nginx, alternating, for
//                                             several rounds after a warm-up of each; throughput,
//                                             CPU per request and p99 as ratios to nginx
//   controller_bench load PORT CLIENTS N      the client of one run (a process of its own, so the
//                                             controller's CPU time is its alone)
//   controller_bench intake [SECONDS]         30 instances posting twice a second: the
//                                             controller's CPU as a share of one core
//   controller_bench handler [N]              the /health handler alone (no sockets, no log): its time per
//                                             call on 1 and 8 threads
//   controller_bench startup CORVANE_BINARY   time from exec to accepting on a free port, resident
//                                             memory then, and a clean exit on SIGTERM
//
// The controller runs in this process in front of the simulated demo song, logging as the running
// program does; all traffic is 127.0.0.1 only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/companion_controller.h"
#include "app/route_answers.h"
#include "app/simulated_host.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/numbers.h"
#include "test_support/free_port.h"

extern char** environ;

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

// The controller in front of the demo song, on a free port, as the running program hosts it (the
// world on the wall clock, its event log bounded), with the program's own log.
struct Host {
    Host() : host(app::SimulatedHost::Options{.scenarioPath = std::string(CORVANE_SOURCE_DIR) +
                                                              "/resources/Scenarios/demo-song.json",
                                              .port = 0}),
             controller(host.controller()) {
        controller->start();
    }
    app::SimulatedHost host;
    std::shared_ptr<app::CompanionController> controller;
};

struct Run {
    double perSecond = 0, p99ms = 0, cpuMicrosPerRequest = 0;
    std::size_t requests = 0, failed = 0;
};

// The client side of one run, in this (separate) process: prints "requests seconds p99ms failed".
int loadClient(std::uint16_t port, int clients, std::size_t requests) {
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
    const double p99 = all.empty() ? 0 : all[std::min(all.size() - 1, std::size_t(0.99 * double(all.size())))];
    std::printf("%zu %.6f %.6f %zu\n", all.size(), seconds, p99, failed.load());
    return 0;
}

// CPU time, in seconds, of this process (every thread, ended ones too).
double ownCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU time, in seconds, of a process and its children (nginx's master and workers), from the
// scheduler's nanosecond counts.
double processTreeCpuSeconds(pid_t root) {
    double total = 0;
    std::vector<pid_t> pids{root};
    std::ifstream children("/proc/" + std::to_string(root) + "/task/" + std::to_string(root) + "/children");
    for (std::string child; children >> child;) pids.push_back(pid_t(readInteger(child).value_or(root)));
    for (const pid_t pid : pids) {
        std::error_code ec;
        for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
            std::ifstream stat(task.path() / "schedstat");
            std::string nanoseconds;
            if (stat >> nanoseconds) total += double(readInteger(nanoseconds).value_or(0)) / 1e9;
        }
    }
    return total;
}

// One run against a port: the client in a child process, the server's CPU time read around it.
Run measure(std::uint16_t port, int clients, std::size_t requests, pid_t serverPid) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const std::string portText = std::to_string(port), clientsText = std::to_string(clients),
                      requestsText = std::to_string(requests);
    char self[] = "/proc/self/exe";
    char mode[] = "load";
    char* argv[] = {self, mode, const_cast<char*>(portText.c_str()), const_cast<char*>(clientsText.c_str()),
                    const_cast<char*>(requestsText.c_str()), nullptr};
    const auto cpu = [&] { return serverPid == 0 ? ownCpuSeconds() : processTreeCpuSeconds(serverPid); };
    const double cpu0 = cpu();
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, self, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string output;
    char buffer[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, std::size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    if (spawned == 0) ::waitpid(child, &status, 0);
    const double cpuUsed = cpu() - cpu0;
    Run run;
    std::istringstream fields(output);
    std::string done, seconds, p99, failed;
    fields >> done >> seconds >> p99 >> failed;
    run.requests = std::size_t(readInteger(done).value_or(0));
    run.p99ms = readNumber(p99).value_or(0);
    run.failed = std::size_t(readInteger(failed).value_or(std::int64_t(requests)));
    if (spawned != 0 || run.requests == 0 || readNumber(seconds).value_or(0) <= 0) {
        run.failed = requests;
        return run;
    }
    run.perSecond = double(run.requests) / *readNumber(seconds);
    run.cpuMicrosPerRequest = 1e6 * cpuUsed / double(run.requests);
    return run;
}

int healthBody() {
    Host host;
    const std::string answer = exchange(host.controller->boundPort(), kHealthRequest);
    const auto head = answer.find("\r\n\r\n");
    if (head == std::string::npos) return 1;
    std::fwrite(answer.data() + head + 4, 1, answer.size() - head - 4, stdout);
    return 0;
}

struct Spread {
    std::vector<double> values;
    double median() const {
        auto v = values;
        std::sort(v.begin(), v.end());
        return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    }
    double min() const { return values.empty() ? 0 : *std::min_element(values.begin(), values.end()); }
    double max() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
};

int health(std::uint16_t nginxPort, pid_t nginxPid, std::size_t requests, int rounds) {
    Host host;
    const std::uint16_t ours = host.controller->boundPort();
    std::printf("GET /health, Connection: close, %zu requests per run, %d rounds after a warm-up; nginx "
                "worker_processes auto, %u cores; CPU = the server process(es) only\n",
                requests, rounds, std::thread::hardware_concurrency());
    // Warm-up: threads, caches, the listen queues and the first log connection attempt, both sides.
    for (const std::uint16_t port : {ours, nginxPort})
        for (int clients : {1, 16}) measure(port, clients, std::max<std::size_t>(requests / 5, 200), 0);

    std::printf("%6s %8s %-8s %12s %9s %12s  | %10s %10s\n", "round", "clients", "server", "requests/s", "p99 ms",
                "CPU us/req", "thr ratio", "CPU ratio");
    int status = 0;
    Spread throughput[2], cpuRatio[2];
    double worstP99[2] = {0, 0}, worstNginxP99[2] = {0, 0};
    int p99Over2ms[2] = {0, 0};
    for (int round = 1; round <= rounds; ++round) {
        for (int which = 0; which < 2; ++which) {
            const int clients = which == 0 ? 1 : 16;
            // Alternate who goes first, so a drift in the machine's load falls on both.
            Run our, theirs;
            if (round % 2) {
                our = measure(ours, clients, requests, 0);
                theirs = measure(nginxPort, clients, requests, nginxPid);
            } else {
                theirs = measure(nginxPort, clients, requests, nginxPid);
                our = measure(ours, clients, requests, 0);
            }
            if (our.failed || theirs.failed) status = 1;  // either server failing makes the comparison void
            const double thr = our.perSecond / theirs.perSecond;
            const double cpu = our.cpuMicrosPerRequest / theirs.cpuMicrosPerRequest;
            throughput[which].values.push_back(thr);
            cpuRatio[which].values.push_back(cpu);
            worstP99[which] = std::max(worstP99[which], our.p99ms);
            worstNginxP99[which] = std::max(worstNginxP99[which], theirs.p99ms);
            if (our.p99ms >= 2.0) ++p99Over2ms[which];
            std::printf("%6d %8d %-8s %12.0f %9.3f %12.1f  | %10.2f %10.2f%s\n", round, clients, "corvane",
                        our.perSecond, our.p99ms, our.cpuMicrosPerRequest, thr, cpu,
                        our.failed ? "  FAILED requests" : "");
            std::printf("%6d %8d %-8s %12.0f %9.3f %12.1f%s\n", round, clients, "nginx", theirs.perSecond,
                        theirs.p99ms, theirs.cpuMicrosPerRequest, theirs.failed ? "  FAILED requests" : "");
            std::fflush(stdout);
        }
    }
    std::printf("\nGoals, over %d rounds (median, min..max):\n", rounds);
    for (int which = 0; which < 2; ++which) {
        const int clients = which == 0 ? 1 : 16;
        std::printf("  throughput / nginx at %2d client%s: %.2f (%.2f..%.2f)   goal >= 0.7: %s\n", clients,
                    clients == 1 ? " " : "s", throughput[which].median(), throughput[which].min(),
                    throughput[which].max(), throughput[which].min() >= 0.7 ? "met in every round" :
                                             throughput[which].median() >= 0.7 ? "met by the median" : "NOT met");
    }
    for (int which = 0; which < 2; ++which) {
        const int clients = which == 0 ? 1 : 16;
        std::printf("  CPU per request / nginx at %2d client%s: %.2f (%.2f..%.2f)\n", clients, clients == 1 ? " " : "s",
                    cpuRatio[which].median(), cpuRatio[which].min(), cpuRatio[which].max());
    }
    for (int which = 0; which < 2; ++which) {
        const int clients = which == 0 ? 1 : 16;
        std::printf("  p99 at %2d client%s: worst run %.3f ms (nginx %.3f ms), runs at 2 ms or more: %d of %d   "
                    "goal < 2 ms in every run: %s\n",
                    clients, clients == 1 ? " " : "s", worstP99[which], worstNginxP99[which], p99Over2ms[which],
                    rounds, p99Over2ms[which] == 0 ? "met" : "NOT met");
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
    const double cpu0 = ownCpuSeconds();
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
    const double cpu = ownCpuSeconds() - cpu0;
    std::printf(
        "/analysis intake: %d instances x 2 posts/s (%zu-byte bodies) for %.1f s: %zu records, "
        "controller CPU %.3f s = %.2f %% of one core\n",
        kInstances, requests[0].size(), wall, host.controller->trackAnalysis().size(), cpu, 100 * cpu / wall);
    return host.controller->trackAnalysis().size() == std::size_t(kInstances) ? 0 : 1;
}

int handlerOnly(std::size_t calls) {
    Host host;
    http::HTTPRequest request;
    request.method = "GET";
    request.path = "/health";
    request.host = "127.0.0.1";
    const platform::LogSink quiet = platform::setLogSink([](std::string_view) {});
    {
        const auto time = [&](const char* what, auto&& call) {
            const auto start = SteadyClock::now();
            for (std::size_t i = 0; i < calls; ++i) call();
            std::printf("  %s: %.2f us per call\n", what,
                        1e6 * std::chrono::duration<double>(SteadyClock::now() - start).count() / double(calls));
        };
        const HealthResponse health = host.controller->healthSnapshot();
        time("health snapshot", [&] { return host.controller->healthSnapshot(); });
        time("Logic Pro snapshot", [&] { return host.controller->logicInspector().snapshot(true); });
        time("permissions", [&] { return host.controller->permissionService().currentSnapshot(); });
        time("answer text", [&] { return app::healthAnswer(health); });
    }
    for (const int threads : {1, 8}) {
        const auto start = SteadyClock::now();
        const double cpu0 = ownCpuSeconds();
        {
            std::vector<std::jthread> workers;
            for (int t = 0; t < threads; ++t)
                workers.emplace_back([&] {
                    for (std::size_t i = 0; i < calls; ++i) host.controller->handle(request);
                });
        }
        const double wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
        const double total = double(calls) * threads;
        std::printf("/health handler on %d thread%s: %.2f us wall per call, %.2f us CPU per call\n", threads,
                    threads == 1 ? "" : "s", 1e6 * wall / total, 1e6 * (ownCpuSeconds() - cpu0) / total);
    }
    platform::setLogSink(quiet);
    return 0;
}

int startup(const char* binary) {
    const std::uint16_t port = testing::freePort();
    const std::string portSetting = std::to_string(port);
    const auto start = SteadyClock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setenv("CORVANE_PORT", portSetting.c_str(), 1);
        ::execl(binary, binary, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    bool up = false;
    while (!up && SteadyClock::now() - start < std::chrono::seconds(30)) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
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
    std::printf("start to accepting on port %u: %.1f ms; resident memory then:%s; SIGTERM: %s\n", port, ms,
                rss.c_str(), clean ? "clean exit 0" : "NOT a clean exit");
    return up && clean ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const auto number = [&](int at, std::int64_t fallback) {
        return argc > at ? readInteger(argv[at]).value_or(fallback) : fallback;
    };
    if (mode == "health-body") return healthBody();
    if (mode == "health" && argc > 3)
        return health(std::uint16_t(number(2, 0)), pid_t(number(3, 0)), std::size_t(number(4, 5000)),
                      int(number(5, 5)));
    if (mode == "load" && argc > 4)
        return loadClient(std::uint16_t(number(2, 0)), int(number(3, 1)), std::size_t(number(4, 1)));
    if (mode == "intake") return intake(argc > 2 ? readNumber(argv[2]).value_or(10) : 10);
    if (mode == "startup" && argc > 2) return startup(argv[2]);
    if (mode == "handler") return handlerOnly(std::size_t(number(2, 20000)));
    std::fprintf(stderr,
                 "usage: controller_bench health-body | health NGINX_PORT NGINX_PID [N] [ROUNDS] | "
                 "load PORT CLIENTS N | intake [S] | startup BINARY | handler [N]\n");
    return 2;
}
