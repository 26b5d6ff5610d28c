#include "http/http_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <asio.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "http/http_server_workers.h"
#include "http/loopback_guard.h"
#include "platform/log.h"
#include "platform/serial_queue.h"

namespace corvane::http {

namespace {

using asio::ip::tcp;
using TimePoint = platform::Clock::TimePoint;

constexpr std::size_t kReceiveCap = 65536;  // each receive takes 1 to 65536 bytes
constexpr std::chrono::milliseconds kAcceptBackoff{100};
constexpr std::chrono::milliseconds kEvictionRetry{10};
constexpr int kAcceptBatch = 32;  // connections taken in a row before the shard's other work runs
constexpr TimePoint kNever = TimePoint::max();
constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
// After answering a peer that may still be sending (a head or body refused before its end), the
// server stops sending and reads what comes, up to these bounds, before it closes: closing with
// bytes unread would reset the connection and could throw away the answer before the peer reads it.
constexpr std::chrono::milliseconds kLingerTime{2'000};
constexpr std::size_t kLingerBytes = 1024 * 1024;

// Short handlers run on the I/O threads, so a few of them serve one user's plug-ins and scripts.
std::size_t ioThreadsFor(const HTTPServerOptions& options) {
    if (options.ioThreads > 0) return options.ioThreads;
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
}

struct Connection;

struct Listener {
    explicit Listener(asio::io_context& io) : acceptor(io) {}
    tcp::acceptor acceptor;
    TimePoint retryAt = kNever;  // accepting again after running out of descriptors or memory
    bool acceptPending = false;
    bool failed = false;
    // Shared by the shards' copies of the listening socket: set when it is stopped, after which the
    // errors their pending accepts end with are expected.
    std::shared_ptr<std::atomic<bool>> closed = std::make_shared<std::atomic<bool>>(false);
};

// One I/O thread with its own io_context: every callback of its connections runs there, one at
// a time, so a connection's state needs no lock.
struct Shard {
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(io);
    asio::steady_timer sweepTimer{io};
    TimePoint sweepAt = kNever;  // when the timer is set to wake the sweeper
    std::unordered_set<std::shared_ptr<Connection>> connections;
    // Receives go here and are parsed at once (a readiness wait, then a read), so one buffer
    // serves every connection of the thread.
    std::vector<char> receiveBuffer = std::vector<char>(kReceiveCap);
    std::jthread thread;  // absent for the first shard, which the server's queue runs
    std::shared_ptr<Listener> listener;
};

// Read, written and closed through its descriptor: the reactor learns of it (two more system
// calls) only when it has to wait, which a request that arrives whole and an answer that the
// socket takes whole never do.
struct Connection {
    enum class State { head, body, handling, sending, draining, closed };

    Connection(int descriptor, RequestLimits limits, Shard& owner, std::uint64_t number, TimePoint now)
        : fd(descriptor), shard(owner), serial(number), acceptedAt(now), progressAt(now), parser(limits) {}
    ~Connection() {
        if (fd >= 0 && !watcher) ::close(fd);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd;                              // non-blocking; -1 once closed
    std::optional<tcp::socket> watcher;  // the descriptor in the reactor, from the first wait on
    Shard& shard;
    const std::uint64_t serial;  // order of acceptance
    const TimePoint acceptedAt;
    TimePoint bodyFrom = kNever;  // the end of the head, when a body follows
    // Under Core::mutex: when bytes last arrived (its place among the connections that may be
    // closed to make room), whether it is still among them, and whether it was picked.
    TimePoint progressAt;
    bool receiving = true;
    bool evicted = false;
    std::size_t bodyCharge = 0;  // under Core::mutex: its share of the bodies in flight
    // Closed unanswered once the clock passes this: the head, body-rate or request time-out while
    // receiving, the send time-out while sending, never while the handler runs.
    TimePoint deadline = kNever;
    RequestParser parser;
    State state = State::head;
    bool listed = false;  // in its shard's set (handled connections are not)
    std::string outgoing;
    std::size_t sent = 0;
    bool unread = false;  // answered before the peer was done sending
    std::size_t drained = 0;
};

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

// The queue "Quillmere.LocalHTTPServer" runs the first shard's io_context for the server's whole
// life, threads of their own the other shards'. A connection stays on the shard that accepted it:
// the parsing and the 400, 403, 413 and 503 answers run there, its handler there too or on a
// worker. What the shards share (the counts against the limits, the connections still receiving
// in order of their last progress, the listening socket and its error) is under `mutex`.
struct HTTPServer::Core {
    Core(std::uint16_t portNumber, Handler requestHandler, HTTPServerOptions serverOptions,
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

    ~Core() {
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

    // ---- listener
    //
    // One listening socket, bound and shut down from the owner's thread, of which each shard
    // accepts through a copy of its own.

    // A socket listening on 127.0.0.1:port, or -1 with errno set (and `created` false when not
    // even the socket could be made).
    static int openListening(std::uint16_t onPort, sockaddr_in& address, bool& created) {
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

    bool startListening() {
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
    void stopListening() {
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
    void shareListener(Shard& shard, int descriptor, std::shared_ptr<std::atomic<bool>> closed) {
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

    void closeListener(Shard& shard) {
        asio::error_code ignored;
        if (shard.listener) shard.listener->acceptor.close(ignored);
        shard.listener.reset();
    }

    // A listener that broke is logged and stays failed: not restarted.
    void failListener(Shard& shard, const std::shared_ptr<Listener>& l, const asio::error_code& ec) {
        l->failed = true;
        closeListener(shard);
        {
            std::lock_guard lock(mutex);
            listenError = ec.message();
        }
        corvane::log("Quillmere HTTP server failed: " + ec.message());
    }

    // Takes the connections waiting (a few at a time), then waits for the next.
    void acceptNext(Shard& shard) {
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
                    const int fd =
                        ::accept4(l->acceptor.native_handle(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
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
                        conn = std::make_shared<Connection>(
                            fd, RequestLimits{options.maxHeadBytes, options.maxBodyBytes}, shard, nextSerial++, now);
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
    void resumeAccepting(Shard& shard) {
        if (auto l = shard.listener; l && l->retryAt != kNever) {
            l->retryAt = kNever;
            l->acceptPending = false;
        }
        acceptNext(shard);
    }

    void awaitConnection(Shard& shard, const std::shared_ptr<Listener>& l) {
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

    void acceptFailed(Shard& shard, const std::shared_ptr<Listener>& l, const asio::error_code& ec) {
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

    static std::pair<TimePoint, std::uint64_t> progressKey(const Connection& conn) {
        return {conn.progressAt, conn.serial};
    }

    // ---- deadlines (each shard for its own connections and listener)
    //
    // Connections and listeners carry the moment of their next timed step, read on the clock;
    // one timer per shard wakes its sweeper at the earliest of them, and a clock moved by hand
    // wakes every sweeper at once. A wake that comes early only sets the timer again.

    TimePoint after(std::chrono::milliseconds delay, TimePoint from) {
        if (from == kNever || delay >= std::chrono::duration_cast<std::chrono::milliseconds>(kNever - from))
            return kNever;
        return from + delay;
    }
    TimePoint after(std::chrono::milliseconds delay) { return after(delay, clock.now()); }

    void setDeadline(const std::shared_ptr<Connection>& conn, TimePoint deadline) {
        conn->deadline = deadline;
        wakeBy(conn->shard, deadline);
    }

    void wakeBy(Shard& shard, TimePoint at) {
        if (at >= shard.sweepAt) return;
        shard.sweepAt = at;
        const auto wait = std::max(at - clock.now(), TimePoint::duration::zero());
        shard.sweepTimer.expires_after(std::chrono::duration_cast<asio::steady_timer::duration>(wait));
        shard.sweepTimer.async_wait([this, &shard](const asio::error_code& ec) {
            if (!ec) sweep(shard);
        });
    }

    void sweep(Shard& shard) {
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

    // ---- connections (on their shard)

    void open(const std::shared_ptr<Connection>& conn) {
        conn->shard.connections.insert(conn);
        conn->listed = true;
        receive(conn);  // the request has usually arrived with the connection
    }

    // Before a wait for the peer: the deadline is the head time-out (counted from accept), or the request time-out and the point
    // where the body falls behind its minimum rate, whichever comes first.
    void awaitPeer(const std::shared_ptr<Connection>& conn) {
        if (conn->state == Connection::State::head) {
            setDeadline(conn, after(std::min(options.headTimeout, options.requestTimeout), conn->acceptedAt));
            return;
        }
        TimePoint deadline = after(options.requestTimeout, conn->acceptedAt);
        if (options.minBodyBytesPerSecond > 0) {
            const auto paid = std::chrono::milliseconds(std::int64_t(conn->parser.bodyBytesReceived()) * 1000 /
                                                        options.minBodyBytesPerSecond);
            deadline = std::min(deadline, after(options.bodyGrace + paid, conn->bodyFrom));
        }
        setDeadline(conn, deadline);
    }

    void progressed(const std::shared_ptr<Connection>& conn) {
        const TimePoint now = clock.now();
        std::lock_guard lock(mutex);
        if (!conn->receiving || conn->progressAt == now) return;
        auto node = receiving.extract(progressKey(*conn));
        conn->progressAt = now;
        node.key() = progressKey(*conn);
        receiving.insert(std::move(node));
    }

    // The connection's socket in the shard's reactor, for a wait (on the shard). Absent, with the
    // connection closed, when the reactor cannot take it.
    tcp::socket* watch(const std::shared_ptr<Connection>& conn) {
        if (!conn->watcher) {
            asio::error_code ec;
            conn->watcher.emplace(conn->shard.io);
            conn->watcher->assign(tcp::v4(), conn->fd, ec);
            if (ec) {
                conn->watcher.reset();  // the descriptor is still the connection's
                corvane::log("Quillmere HTTP connection failed: " + ec.message());
                finish(conn);
                return nullptr;
            }
        }
        return &*conn->watcher;
    }

    // One read into the shard's buffer: the bytes (0 at the end of the stream), or -1 with `ec`
    // set (would_block when nothing is there yet).
    static ssize_t readSome(Connection& conn, asio::error_code& ec) {
        auto& buffer = conn.shard.receiveBuffer;
        for (;;) {
            const ssize_t n = ::recv(conn.fd, buffer.data(), buffer.size(), 0);
            if (n >= 0) return n;
            if (errno == EINTR) continue;
            ec = errno == EAGAIN || errno == EWOULDBLOCK ? asio::error_code(asio::error::would_block)
                                                         : asio::error_code(errno, asio::system_category());
            return -1;
        }
    }

    void receive(const std::shared_ptr<Connection>& conn) {
        asio::error_code ec;
        const ssize_t received = readSome(*conn, ec);
        if (ec == asio::error::would_block) {
            awaitPeer(conn);
            auto* socket = watch(conn);
            if (!socket) return;
            socket->async_wait(tcp::socket::wait_read, [this, conn](const asio::error_code& waitError) {
                if (conn->state != Connection::State::head && conn->state != Connection::State::body) return;
                waitError ? onReceive(conn, waitError, 0) : receive(conn);
            });
            return;
        }
        if (received == 0) ec = asio::error::eof;
        onReceive(conn, ec, received > 0 ? std::size_t(received) : 0);
    }

    void onReceive(const std::shared_ptr<Connection>& conn, const asio::error_code& ec, std::size_t received) {
        if (ec && ec != asio::error::eof) {
            corvane::log("Quillmere HTTP receive error: " + ec.message());
            finish(conn);
            return;
        }
        if (received > 0) conn->parser.feed(std::string_view(conn->shard.receiveBuffer.data(), received));
        const ParseStatus status = conn->parser.status();
        // Progress counts when it was read, for a request that is to wait for more (a whole one
        // leaves the connections that may be closed to make room anyway).
        if (received > 0 && status == ParseStatus::incomplete) progressed(conn);
        if (conn->state == Connection::State::head &&
            (status != ParseStatus::incomplete || conn->parser.headComplete() || ec == asio::error::eof)) {
            if (!leaveHead(conn, ec == asio::error::eof)) return;
        }
        switch (status) {
            case ParseStatus::complete: {
                HTTPRequest request = conn->parser.takeRequest();
                if (options.loopbackGuard && isForbiddenRequest(request)) {
                    send(conn, serialize(forbiddenResponse(request)));
                } else {
                    dispatch(conn, std::move(request));
                }
                return;
            }
            case ParseStatus::headTooLarge:
                conn->unread = !ec;
                send(conn, serialize(options.answers.headTooLarge));
                return;
            case ParseStatus::bodyTooLarge:
                conn->unread = !ec;
                send(conn, serialize(options.answers.bodyTooLarge));
                return;
            case ParseStatus::badRequest:
                conn->unread = !ec;
                send(conn, serialize(options.answers.badRequest));
                return;
            case ParseStatus::incomplete: break;
        }
        if (ec == asio::error::eof) {  // the peer finished sending before a whole request arrived
            send(conn, serialize(options.answers.badRequest));
            return;
        }
        receive(conn);
    }

    // The head is in (or the peer gave up on it): the body's route decides from the head alone
    // what it may send, and the bodies in flight must have room for it, before any of it is kept.
    // False when that answered the request.
    bool leaveHead(const std::shared_ptr<Connection>& conn, bool peerDone) {
        conn->state = Connection::State::body;
        auto& parser = conn->parser;
        if (!parser.headComplete()) return true;  // the parser's own refusal follows
        BodyAllowance allowance{options.maxBodyBytes};
        if (options.bodyAllowance) {
            try {
                allowance = options.bodyAllowance(parser.head());
            } catch (...) {
                allowance = BodyAllowance{options.maxBodyBytes};  // undecided: the server's own bound
            }
        }
        const auto length = parser.contentLength();
        const bool more = parser.status() == ParseStatus::incomplete && !peerDone;
        if (std::int64_t(length) > std::min(allowance.maxBytes, options.maxBodyBytes)) {
            conn->unread = more;
            send(conn, serialize(allowance.refusal.value_or(options.answers.bodyTooLarge)));
            return false;
        }
        if (length > 0 && !chargeBody(*conn, length)) {
            conn->unread = more;
            send(conn, serialize(options.answers.busy));
            return false;
        }
        if (parser.status() != ParseStatus::incomplete) return true;
        parser.reserveBody();
        conn->bodyFrom = conn->progressAt;  // the head was just read
        if (parser.expectsContinue()) {
            // Nothing was sent on this connection yet, so its send buffer takes these bytes at once.
            const ssize_t written = ::send(conn->fd, kContinue.data(), kContinue.size(), MSG_NOSIGNAL);
            if (written != ssize_t(kContinue.size())) {
                corvane::log("Quillmere HTTP connection failed: " +
                             (written < 0 ? std::error_code(errno, std::system_category()).message()
                                          : std::string("100 Continue cut short")));
                finish(conn);
                return false;
            }
        }
        return true;
    }

    // A body's announced length against the bound on all bodies in flight; false when over it.
    bool chargeBody(Connection& conn, std::size_t length) {
        std::lock_guard lock(mutex);
        if (length > options.maxBodyBytesInFlight - std::min(bodiesHeld, options.maxBodyBytesInFlight)) return false;
        bodiesHeld += length;
        conn.bodyCharge += length;
        return true;
    }

    void releaseBody(Connection& conn) {
        std::lock_guard lock(mutex);
        bodiesHeld -= conn.bodyCharge;
        conn.bodyCharge = 0;
    }

    // The request is whole or refused: the connection no longer counts as one that may be closed
    // to make room. False when it was picked for that meanwhile (it is closed then).
    bool claim(const std::shared_ptr<Connection>& conn) {
        bool evicted = false;
        {
            std::lock_guard lock(mutex);
            evicted = conn->evicted;
            if (conn->receiving) {
                receiving.erase(progressKey(*conn));
                conn->receiving = false;
            }
        }
        if (evicted) finish(conn);
        return !evicted;
    }

    // The thread that runs the handler also sends the answer when the socket takes it whole (as
    // it does for most): while the handler runs, the connection is out of its shard's set with
    // nothing pending on its socket, so no other thread touches it. A request declared to be
    // answered at once runs here (unless the cap on handlers is reached), every other on a worker,
    // so a handler that waits never holds up the connections of a shard.
    void dispatch(const std::shared_ptr<Connection>& conn, HTTPRequest request) {
        if (!claim(conn)) return;
        conn->state = Connection::State::handling;
        conn->deadline = kNever;
        conn->shard.connections.erase(conn);
        conn->listed = false;
        bool atOnce = false;
        if (options.answersAtOnce) {
            try {
                atOnce = options.answersAtOnce(request);
            } catch (...) {
                atOnce = false;  // not known to be short: a worker is the safe place
            }
        }
        // Made a std::function (an allocation) only when it goes to a worker.
        auto job = [this, conn, request = std::move(request)]() mutable {
            std::string answer;
            try {
                answer = serialize(handler(std::move(request)));
            } catch (...) {
                answer = serialize(options.answers.internalError);
            }
            if (conn->bodyCharge > 0) releaseBody(*conn);  // the handler's copy of the body is gone
            conn->state = Connection::State::sending;
            conn->outgoing = std::move(answer);
            // The send time-out counts from the first byte sent. An answer that a fresh socket's
            // buffer surely takes whole goes out at once, so it reads the clock only if it waits.
            const bool large = conn->outgoing.size() > kReceiveCap;
            if (large) conn->deadline = after(options.requestTimeout);
            if (writeSome(conn)) return;
            if (!large) conn->deadline = after(options.requestTimeout);
            asio::post(conn->shard.io, [this, conn] {
                conn->shard.connections.insert(conn);
                conn->listed = true;
                setDeadline(conn, conn->deadline);
                awaitRoom(conn);
            });
        };
        if (atOnce && workers.tryRunHere(job)) return;
        workers.post(std::function<void()>(std::move(job)));
    }

    std::string serialize(const HTTPResponse& response) const {
        return serializeResponse(response, options.answers.reasonPhrase(response.statusCode));
    }

    // An answer of the server itself, from the shard.
    void send(const std::shared_ptr<Connection>& conn, std::string bytes) {
        if (!claim(conn)) return;
        conn->state = Connection::State::sending;
        conn->outgoing = std::move(bytes);
        if (writeSome(conn)) return;
        setDeadline(conn, after(options.requestTimeout));
        awaitRoom(conn);
    }

    // Writes what the socket takes now; true when that ended the connection (all sent, or an
    // error), false when the rest must wait for room.
    bool writeSome(const std::shared_ptr<Connection>& conn) {
        while (conn->sent < conn->outgoing.size()) {
            const ssize_t n = ::send(conn->fd, conn->outgoing.data() + conn->sent, conn->outgoing.size() - conn->sent,
                                     MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
            if (n < 0) {
                corvane::log("Quillmere HTTP connection failed: " +
                             std::error_code(errno, std::system_category()).message());
                finish(conn);
                return true;
            }
            conn->sent += std::size_t(n);
        }
        answered(conn);
        return true;
    }

    void awaitRoom(const std::shared_ptr<Connection>& conn) {
        auto* socket = watch(conn);
        if (!socket) return;
        socket->async_wait(tcp::socket::wait_write, [this, conn](const asio::error_code& ec) {
            if (conn->state != Connection::State::sending) return;  // timed out
            if (ec) {
                corvane::log("Quillmere HTTP connection failed: " + ec.message());
                finish(conn);
            } else if (!writeSome(conn)) {
                awaitRoom(conn);
            }
        });
    }

    // The whole answer is sent. A peer that may still be sending gets the end of the stream and
    // has what it sends read and dropped, within bounds, before the connection closes.
    void answered(const std::shared_ptr<Connection>& conn) {
        int pending = 0;
        if (!conn->unread && (::ioctl(conn->fd, FIONREAD, &pending) != 0 || pending == 0)) {
            finish(conn);
            return;
        }
        const TimePoint until = after(kLingerTime);  // read before the peer can see the end
        ::shutdown(conn->fd, SHUT_WR);
        conn->state = Connection::State::draining;
        asio::dispatch(conn->shard.io, [this, conn, until] {
            if (conn->state != Connection::State::draining) return;
            if (!conn->listed) {
                conn->shard.connections.insert(conn);
                conn->listed = true;
            }
            setDeadline(conn, until);
            drain(conn);
        });
    }

    void drain(const std::shared_ptr<Connection>& conn) {
        for (;;) {
            asio::error_code ec;
            const ssize_t received = readSome(*conn, ec);
            if (ec == asio::error::would_block) {
                auto* socket = watch(conn);
                if (!socket) return;
                socket->async_wait(tcp::socket::wait_read, [this, conn](const asio::error_code& waitError) {
                    if (conn->state != Connection::State::draining) return;
                    waitError ? finish(conn) : drain(conn);
                });
                return;
            }
            if (received > 0) conn->drained += std::size_t(received);
            if (received <= 0 || conn->drained >= kLingerBytes) {  // the peer is done, or sends too much
                finish(conn);
                return;
            }
        }
    }

    // Cancels the connection and frees its place (which may let a waiting connection in). On the
    // shard, or on the worker that owns the connection while it is out of the shard's set.
    void finish(const std::shared_ptr<Connection>& conn) {
        if (conn->state == Connection::State::closed) return;
        conn->state = Connection::State::closed;
        conn->deadline = kNever;
        // With nothing left unread, closing ends the stream in order.
        if (conn->watcher) {
            asio::error_code ignored;
            conn->watcher->close(ignored);
        } else {
            ::close(conn->fd);
        }
        conn->fd = -1;
        if (conn->listed) {  // only a shard's own connections are listed, so this is the shard
            conn->shard.connections.erase(conn);
            conn->listed = false;
        }
        bool resume = false;
        {
            std::lock_guard lock(mutex);
            if (!conn->evicted) {  // an evicted one gave its place to the connection that evicted it
                if (conn->receiving) receiving.erase(progressKey(*conn));
                --held;
            }
            conn->receiving = false;
            bodiesHeld -= conn->bodyCharge;
            conn->bodyCharge = 0;
            resume = std::exchange(acceptWaits, false);
            --alive;
        }
        // The server outlives this call: its destructor joins the thread making it.
        allClosed.notify_all();
        for (auto& shard : shards) {
            if (resume) asio::post(shard->io, [this, s = shard.get()] { resumeAccepting(*s); });
        }
    }

    const std::uint16_t port;
    const Handler handler;
    HTTPServerOptions options;
    platform::Clock& clock;

    platform::SerialQueue queue{"Quillmere.LocalHTTPServer"};
    std::vector<std::unique_ptr<Shard>> shards;
    platform::Clock::Subscription clockMoves;
    std::atomic<std::uint16_t> boundPort{0};

    std::mutex mutex;
    std::condition_variable allClosed;
    std::size_t alive = 0;  // connections accepted and not yet closed
    std::size_t held = 0;   // of those, the ones counted against maxConnections
    std::uint64_t nextSerial = 0;
    // The connections still receiving their request, the one longest without progress first.
    std::map<std::pair<TimePoint, std::uint64_t>, std::shared_ptr<Connection>> receiving;
    std::size_t bodiesHeld = 0;  // the Content-Lengths of the bodies being received or handled
    bool acceptWaits = false;  // at the cap with nobody to make room: the next finish() resumes
    std::optional<std::string> listenError;
    int listening = -1;  // the listening socket; the shards hold copies
    std::shared_ptr<std::atomic<bool>> listeningClosed;

    detail::RequestWorkers workers;
};

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
