#include "http/http_server.h"

#include <fcntl.h>
#include <malloc.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "http/http_server_core.h"
#include "platform/log.h"
#include "support/unicode.h"

namespace corvane::http {

using namespace detail;

namespace {

// Short handlers run on the I/O threads, so a few of them serve one user's plug-ins and scripts.
// Up to one per core: the shards take connections in turn (see passTurn), and the longer each has
// slept, the more often it is run on the connecting peer's CPU rather than woken on its own.
std::size_t ioThreadsFor(const HTTPServerOptions& options) {
    if (options.ioThreads > 0) return options.ioThreads;
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
}

bool isResourceExhaustion(const std::error_code& ec) {
    return ec == std::errc::too_many_files_open || ec == std::errc::no_buffer_space ||
           ec == std::errc::not_enough_memory || ec == std::errc::too_many_files_open_in_system;
}

bool isListenerBroken(const std::error_code& ec) {
    return ec == std::errc::bad_file_descriptor || ec == std::errc::invalid_argument || ec == std::errc::not_a_socket ||
           ec == std::errc::operation_not_supported;
}

std::error_code lastError() { return {errno, std::system_category()}; }

constexpr int kEventsPerWait = 64;

std::size_t openFilesLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
    return std::size_t(limit.rlim_cur);
}

// Connections past the descriptors left for them would fail their accept (EMFILE) before the
// bound ever made room by closing an idle one.
std::size_t connectionsWithinDescriptors(std::size_t wanted) {
    const std::size_t limit = openFilesLimit();
    if (limit == SIZE_MAX) return wanted;
    return std::clamp<std::size_t>(limit - std::min(kDescriptorsBesideConnections, limit / 2), 1, wanted);
}

// A step of a shard's loop that failed is logged, and the loop goes on.
template <class Step>
void guarded(Step&& step) {
    try {
        step();
    } catch (const std::exception& e) {
        corvane::log(std::string("Quillmere HTTP server failed: ") + e.what());
    }
}

}  // namespace

Shard::Shard() : epoll(::epoll_create1(EPOLL_CLOEXEC)), wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = &wake;
    if (epoll < 0 || wakeFd < 0 || ::epoll_ctl(epoll, EPOLL_CTL_ADD, wakeFd, &event) != 0) {
        const std::error_code why = lastError();
        if (epoll >= 0) ::close(epoll);
        if (wakeFd >= 0) ::close(wakeFd);
        throw std::system_error(why, "Quillmere HTTP server");
    }
}

Shard::~Shard() {
    ::close(wakeFd);
    ::close(epoll);
}

void HTTPServer::Core::runShard(Shard& shard) {
    shard.threadID = std::this_thread::get_id();
    epoll_event events[kEventsPerWait];
    for (;;) {
        {
            std::lock_guard lock(shard.postMutex);
            if (shard.stopping) return;
        }
        runPosted(shard);
        int timeout = -1;
        {
            std::lock_guard lock(shard.postMutex);
            if (!shard.posted.empty()) timeout = 0;  // posted by what just ran, which wrote no wake
        }
        if (timeout < 0 && shard.sweepAt != kNever) {
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(shard.sweepAt - clock.now()).count();
            timeout = int(std::clamp<std::int64_t>(wait, 0, INT_MAX));
        }
        const int count = ::epoll_wait(shard.epoll, events, kEventsPerWait, timeout);
        if (count < 0 && errno != EINTR) {
            corvane::log("Quillmere HTTP server failed: " + lastError().message());
            continue;
        }
        // One at a time: an event that fails leaves the others of the wait to run.
        for (int i = 0; i < count; ++i) guarded([&] { ready(shard, events[i]); });
        if (shard.sweepAt != kNever && clock.now() >= shard.sweepAt) guarded([&] { sweep(shard); });
    }
}

void HTTPServer::Core::runPosted(Shard& shard) {
    std::vector<std::function<void()>> work;
    {
        std::lock_guard lock(shard.postMutex);
        work.swap(shard.posted);
    }
    for (auto& step : work) guarded(step);
}

void HTTPServer::Core::ready(Shard& shard, const epoll_event& event) {
    const auto* watched = static_cast<const Watched*>(event.data.ptr);
    switch (watched->kind) {
        case Watched::Kind::wake: {
            std::uint64_t count = 0;
            [[maybe_unused]] const auto n = ::read(shard.wakeFd, &count, sizeof count);
            return;  // the posted work runs before the next wait
        }
        case Watched::Kind::listener:
            // Its copy may have been replaced since the wait began; the current one is asked anew.
            if (shard.listener.get() == watched) acceptNext(shard);
            return;
        case Watched::Kind::connection: {
            // A connection closed since the wait began is no longer listed.
            const auto found = shard.connections.find(static_cast<const Connection*>(watched));
            if (found == shard.connections.end()) return;
            auto conn = found->second;
            connectionReady(conn, event.events);
            return;
        }
    }
}

void HTTPServer::Core::post(Shard& shard, std::function<void()> work) {
    bool first = false;
    {
        std::lock_guard lock(shard.postMutex);
        first = shard.posted.empty();
        shard.posted.push_back(std::move(work));
    }
    // The shard's own thread runs what it posts before it waits again; another wakes it once.
    if (first && !shard.onThread()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto n = ::write(shard.wakeFd, &one, sizeof one);
    }
}

void HTTPServer::Core::postOrRun(Shard& shard, std::function<void()> work) {
    if (shard.onThread()) {
        work();
    } else {
        post(shard, std::move(work));
    }
}

void HTTPServer::Core::stopShard(Shard& shard) {
    {
        std::lock_guard lock(shard.postMutex);
        shard.stopping = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(shard.wakeFd, &one, sizeof one);
}

HTTPServer::Core::Core(std::uint16_t portNumber, Handler requestHandler, HTTPServerOptions serverOptions,
                       platform::Clock& serverClock)
    : port(portNumber),
      handler(std::move(requestHandler)),
      options(std::move(serverOptions)),
      clock(serverClock),
      workers(RequestWorkers::Bounds{
          .maxRunning = std::max<std::size_t>(options.maxConcurrentRequests, 1),
          .maxHere = ioThreadsFor(options),
          .maxSlowRunning = std::clamp<std::size_t>(options.maxSlowRequests, 1,
                                                    std::max<std::size_t>(options.maxConcurrentRequests, 1)),
          .maxSlowWaiting = std::max<std::size_t>(options.maxSlowRequests, 1),
          .maxWaiting = std::max<std::size_t>(options.maxWaitingRequests, 1)},
              options.afterBurst) {
    options.maxConnections = connectionsWithinDescriptors(std::max<std::size_t>(options.maxConnections, 1));
    // A refusal for want of room says when to come back: room frees as bodies finish.
    auto& busyHeaders = options.answers.busy.headers;
    if (std::none_of(busyHeaders.begin(), busyHeaders.end(),
                     [](const auto& header) { return text::equalsIgnoringCase(header.first, "Retry-After"); }))
        busyHeaders.emplace_back("Retry-After", "1");
    shards.resize(ioThreadsFor(options));
    for (auto& shard : shards) shard = std::make_unique<Shard>();
    queue.async([this] { runShard(*shards[0]); });
    for (std::size_t i = 1; i < shards.size(); ++i)
        shards[i]->thread = std::jthread([this, i] { runShard(*shards[i]); });
    clockMoves = clock.onMoved([this] {
        for (auto& shard : shards) post(*shard, [this, s = shard.get()] { sweep(*s); });
    });
}

HTTPServer::Core::~Core() {
    clockMoves.reset();
    stopListening();
    // Not waited for one by one: a shard may be running a handler, which holds the server anyway.
    for (auto& shard : shards) {
        post(*shard, [this, s = shard.get()] {
            // The server is gone: connections still receiving are cancelled.
            std::vector<std::shared_ptr<Connection>> cancelled;
            for (const auto& [_, c] : s->connections) {
                if (c->ticket) continue;  // a worker's, or to be (its handler answers it)
                if (c->state == Connection::State::head || c->state == Connection::State::body ||
                    c->state == Connection::State::draining)
                    cancelled.push_back(c);
            }
            for (auto& c : cancelled) finish(c);
        });
    }
    {
        // Requests being handled hold the server until their answers are sent.
        std::unique_lock lock(mutex);
        allClosed.wait(lock, [this] { return alive.load() == 0; });
    }
    workers.shutdown();
    for (auto& shard : shards) stopShard(*shard);
    queue.drain();  // the first shard's loop has returned
    for (auto& shard : shards) shard->thread = {};
}

// A socket listening on 127.0.0.1:port, or -1 with errno set (and `created` false when not
// even the socket could be made).
int HTTPServer::Core::openListening(std::uint16_t onPort, sockaddr_in& address, bool& created) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    created = fd >= 0;
    if (fd < 0) return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(onPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool HTTPServer::Core::startListening() {
    stopListening();
    sockaddr_in address{};
    bool created = true;
    const int fd = openListening(port, address, created);
    if (!created) throw std::system_error(errno, std::system_category(), "Quillmere HTTP listener");
    if (fd < 0) {
        const std::string why = std::error_code(errno, std::system_category()).message();
        {
            std::lock_guard lock(mutex);
            listenError = why;
        }
        corvane::log("Quillmere HTTP server failed: " + why);
        return false;
    }
    auto closed = std::make_shared<std::atomic<bool>>(false);
    {
        std::lock_guard lock(mutex);
        listening = fd;
        listeningClosed = closed;
    }
    boundPort = ntohs(address.sin_port);
    for (auto& shard : shards) {
        const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) continue;  // the shards that have one accept
        post(*shard, [this, s = shard.get(), copy, closed] { shareListener(*s, copy, closed); });
    }
    return true;
}

// Stops the listening socket for every shard at once (so connecting is refused from now on);
// the shards close their copies when they get to it. Any thread.
void HTTPServer::Core::stopListening() {
    {
        std::lock_guard lock(mutex);
        if (listening >= 0) {
            *listeningClosed = true;
            ::shutdown(listening, SHUT_RD);
            ::close(listening);
            listening = -1;
        }
        listenError.reset();
    }
    boundPort = 0;
    for (auto& shard : shards) post(*shard, [this, s = shard.get()] { closeListener(*s); });
}

// A shard's own copy of the listening socket (on that shard).
void HTTPServer::Core::shareListener(Shard& shard, int descriptor, std::shared_ptr<std::atomic<bool>> closed) {
    closeListener(shard);
    if (*closed) {
        ::close(descriptor);
        return;
    }
    auto copy = std::make_shared<Listener>(descriptor);
    copy->closed = std::move(closed);
    if (!watchListener(shard, *copy, true)) return;  // the other shards accept
    shard.listener = copy;
    acceptNext(shard);
}

void HTTPServer::Core::closeListener(Shard& shard) {
    // Copies of one socket share its place in the set: this one leaves it before it closes.
    if (shard.listener) watchListener(shard, *shard.listener, false);
    shard.listener.reset();
}

// Puts the copy into the shard's set or takes it out; false when the set refuses it.
bool HTTPServer::Core::watchListener(Shard& shard, Listener& l, bool watch) {
    if (l.watched == watch) return true;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLEXCLUSIVE;
    event.data.ptr = &l;
    if (::epoll_ctl(shard.epoll, watch ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, l.fd, &event) != 0) return false;
    l.watched = watch;
    return true;
}

// Not taking connections until resumed, or until `until` (kNever: until a place is free).
void HTTPServer::Core::pauseAccepting(Shard& shard, const std::shared_ptr<Listener>& l, TimePoint until) {
    l->paused = true;
    watchListener(shard, *l, false);  // else the waiting connections would wake the shard again and again
    l->retryAt = until;
    if (until != kNever) wakeBy(shard, until);
}

// A listener that broke is logged and stays failed: not restarted.
void HTTPServer::Core::failListener(Shard& shard, const std::shared_ptr<Listener>& l, const std::error_code& ec) {
    l->failed = true;
    closeListener(shard);
    {
        std::lock_guard lock(mutex);
        listenError = ec.message();
    }
    corvane::log("Quillmere HTTP server failed: " + ec.message());
}

// Takes the connections waiting (a few at a time: the listener, still ready, wakes the shard
// again after its other work), then waits for the next, behind the other shards.
void HTTPServer::Core::acceptNext(Shard& shard) {
    auto l = shard.listener;
    if (!l || l->failed || l->paused) return;
    bool took = false;
    for (int taken = 0; taken < kAcceptBatch; ++taken) {
        TimePoint now = kNever;  // read only at the cap
        std::shared_ptr<Connection> evict;
        int fd = -1, error = 0;
        bool retry = false;
        bool placed = reservePlace();
        if (!placed) {
            now = clock.now();
            std::lock_guard lock(mutex);
            acceptWaits = true;  // whoever frees a place from here on resumes accepting
            placed = reservePlace();
            // Peers cannot keep a new request out: a connection lingering after its answer gives
            // its place to the new one first, else the one that has gone longest without
            // sending anything, unless it made progress this very moment (then it has made no
            // less than the newcomer, which waits). The pick and the accept are one step, so no
            // other shard picks it too.
            // Each connection picked keeps its descriptor until its shard closes it: a few at a time,
            // so that the descriptors in use stay within those left for connections.
            const bool mayPick = evictionsInFlight < shards.size();
            if (!placed && mayPick &&
                (!lingering.empty() || (!receiving.empty() && receiving.begin()->first.first < now))) {
                fd = ::accept4(l->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) {
                    error = errno;
                } else {
                    evict = pickToMakeRoom();
                }
            } else if (!placed) {
                retry = mayPick && !receiving.empty();  // else the close of one picked resumes it
            }
        }
        if (placed) {
            fd = ::accept4(l->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0) {
                error = errno;
                releasePlace();
            }
        }
        if (fd < 0 && !error) {
            // At the cap: a peer still sending may fall behind the newcomer a moment from now;
            // else the next place freed resumes accepting.
            pauseAccepting(shard, l, retry ? after(kEvictionRetry, now) : kNever);
            return;
        }
        if (fd < 0) {
            if (error == EINTR) continue;
            if (*l->closed) {  // stopped: its copy goes when the shard gets to it
                pauseAccepting(shard, l, kNever);
                return;
            }
            if (error == EAGAIN || error == EWOULDBLOCK) break;
            acceptFailed(shard, l, std::error_code(error, std::system_category()));
            return;
        }
        auto conn = std::make_shared<Connection>(fd, RequestLimits{options.maxHeadBytes, options.maxBodyBytes}, shard,
                                                 nextSerial.fetch_add(1));
        ++alive;
        took = true;
        if (evict) post(evict->shard, [this, evict] { finish(evict); });
        open(conn);
        if (l != shard.listener || l->paused || *l->closed) return;
    }
    if (took) passTurn(shard, l);
}

// Copies of the listening socket wait in the order they joined it, and a connection wakes the
// first whose shard is idle. The shard that just took connections goes last, so the next one
// wakes the shard idle longest: on a virtual machine the scheduler then tends to run it on the
// CPU of the peer that connected, instead of waking the shard's own halted CPU; a shard that
// always went first kept its own and paid that wake-up for every connection.
void HTTPServer::Core::passTurn(Shard& shard, const std::shared_ptr<Listener>& l) {
    if (shards.size() < 2 || !l->watched) return;
    // Still ready when it joins again, it is reported to this shard at its next wait: no
    // connection waits for the move.
    if (!watchListener(shard, *l, false) || !watchListener(shard, *l, true)) failListener(shard, l, lastError());
}

// The connection that gives its place to a newcomer at the cap: taken out of its set and marked,
// so that its close does not free the place again. Under `mutex`, with one to pick.
std::shared_ptr<Connection> HTTPServer::Core::pickToMakeRoom() {
    std::shared_ptr<Connection> picked;
    if (!lingering.empty()) {
        picked = lingering.begin()->second;
        lingering.erase(lingering.begin());
        picked->lingering = false;
    } else {
        picked = receiving.begin()->second;
        receiving.erase(receiving.begin());
        picked->receiving = false;
    }
    picked->evicted = true;
    ++evictionsInFlight;
    return picked;
}

// A place under maxConnections for a connection about to be accepted; false at the cap.
bool HTTPServer::Core::reservePlace() {
    std::size_t count = held.load();
    while (count < options.maxConnections) {
        if (held.compare_exchange_weak(count, count + 1)) return true;
    }
    return false;
}

// Frees a place; the one that makes a full count go below the cap resumes the shards waiting.
void HTTPServer::Core::releasePlace() {
    if (held.fetch_sub(1) == options.maxConnections && acceptWaits.exchange(false)) resumeEveryShard();
}

void HTTPServer::Core::resumeEveryShard() {
    for (auto& shard : shards) post(*shard, [this, s = shard.get()] { resumeAccepting(*s); });
}

// A place is free: accepting goes on at once, also where it was to be retried later.
void HTTPServer::Core::resumeAccepting(Shard& shard) {
    auto l = shard.listener;
    if (!l || l->failed || !l->paused || *l->closed) return;
    l->paused = false;
    l->retryAt = kNever;
    if (!watchListener(shard, *l, true)) {
        failListener(shard, l, lastError());
        return;
    }
    acceptNext(shard);
}

void HTTPServer::Core::acceptFailed(Shard& shard, const std::shared_ptr<Listener>& l, const std::error_code& ec) {
    if (isListenerBroken(ec)) {
        failListener(shard, l, ec);
        return;
    }
    corvane::log("Quillmere HTTP connection failed: " + ec.message());
    // Out of descriptors or memory: try again shortly instead of spinning or giving up. Any other
    // failure was the one connection's: the listener, still ready, brings the next.
    if (isResourceExhaustion(ec)) pauseAccepting(shard, l, after(kAcceptBackoff));
}

TimePoint HTTPServer::Core::after(std::chrono::milliseconds delay, TimePoint from) {
    if (from == kNever || delay >= std::chrono::duration_cast<std::chrono::milliseconds>(kNever - from)) return kNever;
    return from + delay;
}

void HTTPServer::Core::setDeadline(const std::shared_ptr<Connection>& conn, TimePoint deadline) {
    conn->deadline = deadline;
    wakeBy(conn->shard, deadline);
}

// On the shard, whose loop waits no longer than its earliest sweep.
void HTTPServer::Core::wakeBy(Shard& shard, TimePoint at) {
    if (at < shard.sweepAt) shard.sweepAt = at;
}

void HTTPServer::Core::sweep(Shard& shard) {
    const TimePoint now = clock.now();
    shard.sweepAt = kNever;
    TimePoint next = kNever;
    std::vector<std::shared_ptr<Connection>> expired;
    for (const auto& [_, c] : shard.connections) {
        if (c->ticket) continue;  // waiting for a worker (no deadline), or a worker's
        if (c->deadline <= now)
            expired.push_back(c);
        else
            next = std::min(next, c->deadline);
    }
    for (auto& c : expired) finish(c);  // closed unanswered
    if (auto l = shard.listener; l && l->paused && l->retryAt != kNever) {
        if (l->retryAt <= now) {
            resumeAccepting(shard);
        } else {
            next = std::min(next, l->retryAt);
        }
    }
    if (next != kNever) wakeBy(shard, next);
}

void releaseFreedMemory() {
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}

std::size_t raiseOpenFilesLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            corvane::log("Quillmere HTTP server: the open-files limit could not be raised: " + lastError().message());
    }
    return openFilesLimit();
}

HTTPServer::HTTPServer(std::uint16_t port, Handler handler, HTTPServerOptions options, platform::Clock& clock)
    : core_(std::make_unique<Core>(port, std::move(handler), std::move(options), clock)) {}

HTTPServer::~HTTPServer() = default;

bool HTTPServer::start() { return core_->startListening(); }

void HTTPServer::stop() { core_->stopListening(); }

std::uint16_t HTTPServer::boundPort() const { return core_->boundPort.load(); }

std::optional<std::string> HTTPServer::listenError() const {
    std::lock_guard lock(core_->mutex);
    return core_->listenError;
}

}  // namespace corvane::http
