#include "http/http_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "http/http_server_core.h"
#include "platform/log.h"

namespace corvane::http {

using namespace detail;

namespace {

// Short handlers run on the I/O threads, so a few of them serve one user's plug-ins and scripts.
std::size_t ioThreadsFor(const HTTPServerOptions& options) {
    if (options.ioThreads > 0) return options.ioThreads;
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
}

bool isResourceExhaustion(const asio::error_code& ec) {
    return ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space || ec == asio::error::no_memory ||
           ec == std::errc::too_many_files_open_in_system;
}

bool isListenerBroken(const asio::error_code& ec) {
    return ec == asio::error::bad_descriptor || ec == asio::error::invalid_argument || ec == asio::error::not_socket ||
           ec == asio::error::operation_not_supported;
}

void runShard(asio::io_context& io) {
    for (;;) {
        try {
            io.run();
            return;
        } catch (const std::exception& e) {
            corvane::log(std::string("Quillmere HTTP server failed: ") + e.what());
        }
    }
}

}  // namespace

HTTPServer::Core::Core(std::uint16_t portNumber, Handler requestHandler, HTTPServerOptions serverOptions,
                       platform::Clock& serverClock)
    : port(portNumber),
      handler(std::move(requestHandler)),
      options(std::move(serverOptions)),
      clock(serverClock),
      workers(std::max<std::size_t>(options.maxConcurrentRequests, 1), ioThreadsFor(options)) {
    options.maxConnections = std::max<std::size_t>(options.maxConnections, 1);
    shards.resize(ioThreadsFor(options));
    for (auto& shard : shards) shard = std::make_unique<Shard>();
    queue.async([this] { runShard(shards[0]->io); });
    for (std::size_t i = 1; i < shards.size(); ++i)
        shards[i]->thread = std::jthread([this, i] { runShard(shards[i]->io); });
    clockMoves = clock.onMoved([this] {
        for (auto& shard : shards) asio::post(shard->io, [this, s = shard.get()] { sweep(*s); });
    });
}

HTTPServer::Core::~Core() {
    clockMoves.reset();
    stopListening();
    // Not waited for one by one: a shard may be running a handler, which holds the server anyway.
    for (auto& shard : shards) {
        asio::post(shard->io, [this, s = shard.get()] {
            // The server is gone: connections still receiving are cancelled.
            std::vector<std::shared_ptr<Connection>> cancelled;
            for (const auto& c : s->connections) {
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
        allClosed.wait(lock, [this] { return alive == 0; });
    }
    workers.shutdown();
    for (auto& shard : shards) {
        shard->work.reset();
        shard->io.stop();
    }
    queue.drain();  // the first shard's io.run() has returned
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
        asio::post(shard->io, [this, s = shard.get(), copy, closed] { shareListener(*s, copy, closed); });
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
    for (auto& shard : shards) asio::post(shard->io, [this, s = shard.get()] { closeListener(*s); });
}

// A shard's own copy of the listening socket (on that shard).
void HTTPServer::Core::shareListener(Shard& shard, int descriptor, std::shared_ptr<std::atomic<bool>> closed) {
    closeListener(shard);
    if (*closed) {
        ::close(descriptor);
        return;
    }
    auto copy = std::make_shared<Listener>(shard.io);
    copy->closed = std::move(closed);
    asio::error_code ec;
    copy->acceptor.assign(tcp::v4(), descriptor, ec);
    if (ec) {
        ::close(descriptor);
        return;  // the other shards accept
    }
    shard.listener = copy;
    acceptNext(shard);
}

void HTTPServer::Core::closeListener(Shard& shard) {
    asio::error_code ignored;
    if (shard.listener) shard.listener->acceptor.close(ignored);
    shard.listener.reset();
}

// A listener that broke is logged and stays failed: not restarted.
void HTTPServer::Core::failListener(Shard& shard, const std::shared_ptr<Listener>& l, const asio::error_code& ec) {
    l->failed = true;
    closeListener(shard);
    {
        std::lock_guard lock(mutex);
        listenError = ec.message();
    }
    corvane::log("Quillmere HTTP server failed: " + ec.message());
}

// Takes the connections waiting (a few at a time), then waits for the next.
void HTTPServer::Core::acceptNext(Shard& shard) {
    auto l = shard.listener;
    if (!l || l->failed || l->acceptPending || !l->acceptor.is_open()) return;
    for (int taken = 0;; ++taken) {
        if (taken == kAcceptBatch) {
            l->acceptPending = true;
            asio::post(shard.io, [this, l, &shard] {
                l->acceptPending = false;
                if (l == shard.listener && !*l->closed) acceptNext(shard);
            });
            return;
        }
        const TimePoint now = clock.now();
        std::shared_ptr<Connection> conn, evict;
        int error = 0;
        bool retry = false;
        {
            // The check against the cap, the accept and the count are one step: connections
            // arriving on several shards at once cannot pass the cap together.
            std::lock_guard lock(mutex);
            const bool room = held < options.maxConnections;
            // Slow or silent peers cannot keep a new request out: the one that has gone longest
            // without sending anything gives its place to the new one, unless it made progress
            // this very moment (then it has made no less than the newcomer, which waits).
            const bool evictable = !receiving.empty() && receiving.begin()->first.first < now;
            if (!room && !evictable) {
                acceptWaits = true;  // finish() resumes accepting
                retry = !receiving.empty();
            } else {
                const int fd = ::accept4(l->acceptor.native_handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (fd < 0) {
                    error = errno;
                } else {
                    if (room) {
                        ++held;
                    } else {
                        evict = receiving.begin()->second;
                        receiving.erase(receiving.begin());
                        evict->receiving = false;
                        evict->evicted = true;
                    }
                    conn = std::make_shared<Connection>(fd, RequestLimits{options.maxHeadBytes, options.maxBodyBytes},
                                                        shard, nextSerial++, now);
                    ++alive;
                    receiving.emplace(progressKey(*conn), conn);
                }
            }
        }
        if (retry) {  // a peer still sending may fall behind the newcomer a moment from now
            l->acceptPending = true;
            l->retryAt = after(kEvictionRetry, now);
            wakeBy(shard, l->retryAt);
            return;
        }
        if (!conn && !error) return;  // at the cap: finish() resumes accepting
        if (!conn) {
            if (error == EINTR) continue;
            if (*l->closed) return;
            if (error == EAGAIN || error == EWOULDBLOCK) {
                awaitConnection(shard, l);
            } else {
                acceptFailed(shard, l, asio::error_code(error, asio::system_category()));
            }
            return;
        }
        if (evict) asio::post(evict->shard.io, [this, evict] { finish(evict); });
        open(conn);
        if (l != shard.listener || *l->closed) return;
    }
}

// A place is free: accepting goes on at once, also where it was to be retried later.
void HTTPServer::Core::resumeAccepting(Shard& shard) {
    if (auto l = shard.listener; l && l->retryAt != kNever) {
        l->retryAt = kNever;
        l->acceptPending = false;
    }
    acceptNext(shard);
}

void HTTPServer::Core::awaitConnection(Shard& shard, const std::shared_ptr<Listener>& l) {
    l->acceptPending = true;
    l->acceptor.async_wait(tcp::acceptor::wait_read, [this, l, &shard](const asio::error_code& ec) {
        l->acceptPending = false;
        if (ec == asio::error::operation_aborted || l != shard.listener || *l->closed) return;
        if (ec) {
            acceptFailed(shard, l, ec);
            return;
        }
        acceptNext(shard);
    });
}

void HTTPServer::Core::acceptFailed(Shard& shard, const std::shared_ptr<Listener>& l, const asio::error_code& ec) {
    if (isListenerBroken(ec)) {
        failListener(shard, l, ec);
        return;
    }
    corvane::log("Quillmere HTTP connection failed: " + ec.message());
    if (!isResourceExhaustion(ec)) {
        acceptNext(shard);
        return;
    }
    // Out of descriptors or memory: try again shortly instead of spinning or giving up.
    l->acceptPending = true;
    l->retryAt = after(kAcceptBackoff);
    wakeBy(shard, l->retryAt);
}

TimePoint HTTPServer::Core::after(std::chrono::milliseconds delay, TimePoint from) {
    if (from == kNever || delay >= std::chrono::duration_cast<std::chrono::milliseconds>(kNever - from)) return kNever;
    return from + delay;
}

void HTTPServer::Core::setDeadline(const std::shared_ptr<Connection>& conn, TimePoint deadline) {
    conn->deadline = deadline;
    wakeBy(conn->shard, deadline);
}

void HTTPServer::Core::wakeBy(Shard& shard, TimePoint at) {
    if (at >= shard.sweepAt) return;
    shard.sweepAt = at;
    const auto wait = std::max(at - clock.now(), TimePoint::duration::zero());
    shard.sweepTimer.expires_after(std::chrono::duration_cast<asio::steady_timer::duration>(wait));
    shard.sweepTimer.async_wait([this, &shard](const asio::error_code& ec) {
        if (!ec) sweep(shard);
    });
}

void HTTPServer::Core::sweep(Shard& shard) {
    const TimePoint now = clock.now();
    shard.sweepAt = kNever;
    TimePoint next = kNever;
    std::vector<std::shared_ptr<Connection>> expired;
    for (const auto& c : shard.connections) {
        if (c->deadline <= now)
            expired.push_back(c);
        else
            next = std::min(next, c->deadline);
    }
    for (auto& c : expired) finish(c);  // closed unanswered
    if (auto l = shard.listener; l && l->retryAt != kNever) {
        if (l->retryAt <= now) {
            l->retryAt = kNever;
            l->acceptPending = false;
            acceptNext(shard);
        } else {
            next = std::min(next, l->retryAt);
        }
    }
    if (next != kNever) wakeBy(shard, next);
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
