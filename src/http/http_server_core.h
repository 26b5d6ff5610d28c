#pragma once

// The inside of the shared server (private to its sources): its connections, its I/O threads
// (shards) and what they share.

#include <netinet/in.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "http/http_server.h"
#include "http/http_server_workers.h"
#include "platform/serial_queue.h"

namespace corvane::http {

namespace detail {

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

struct Connection;

// What a shard's epoll set holds: its wake-up, its copy of the listening socket, connections.
struct Watched {
    enum class Kind { wake, listener, connection };
    explicit Watched(Kind k) : kind(k) {}
    const Kind kind;
};

// A shard's own copy of the listening socket, level-triggered and exclusive in the shard's set:
// a connection arriving wakes one idle shard, not all of them.
struct Listener : Watched {
    explicit Listener(int descriptor) : Watched(Kind::listener), fd(descriptor) {}
    ~Listener() {
        if (fd >= 0) ::close(fd);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    int fd;
    bool watched = false;        // in its shard's set
    bool paused = false;         // not taking connections until resumed (at the cap, or retryAt)
    TimePoint retryAt = kNever;  // accepting again after running out of descriptors or memory
    bool failed = false;
    // Shared by the shards' copies of the listening socket: set when it is stopped, after which the
    // errors their accepts end with are expected.
    std::shared_ptr<std::atomic<bool>> closed = std::make_shared<std::atomic<bool>>(false);
};

// One I/O thread waiting in its own epoll set: every step of its connections runs there, one at
// a time, so a connection's state needs no lock. Other threads reach it through `post`.
struct Shard {
    Shard();
    ~Shard();
    Shard(const Shard&) = delete;
    Shard& operator=(const Shard&) = delete;
    bool onThread() const { return std::this_thread::get_id() == threadID.load(); }

    int epoll = -1;
    int wakeFd = -1;  // an eventfd in the set: written when work is posted to a shard asleep
    Watched wake{Watched::Kind::wake};
    std::atomic<std::thread::id> threadID{};
    std::mutex postMutex;
    std::vector<std::function<void()>> posted;  // under postMutex
    bool stopping = false;                      // under postMutex
    TimePoint sweepAt = kNever;                 // when the loop next runs the sweeper
    // Its connections from their first wait on, by address (an event names it so).
    std::unordered_map<const Connection*, std::shared_ptr<Connection>> connections;
    // Receives go here and are parsed at once (a readiness wait, then a read), so one buffer
    // serves every connection of the thread.
    std::vector<char> receiveBuffer = std::vector<char>(kReceiveCap);
    std::jthread thread;  // absent for the first shard, which the server's queue runs
    std::shared_ptr<Listener> listener;
};

// Read, written and closed through its descriptor: its shard's set learns of it (a system call
// per wait) only when it has to wait, which a request that arrives whole and an answer that the
// socket takes whole never do.
struct Connection : Watched {
    enum class State { head, body, handling, sending, draining, closed };

    Connection(int descriptor, RequestLimits limits, Shard& owner, std::uint64_t number)
        : Watched(Kind::connection), fd(descriptor), shard(owner), serial(number), parser(limits) {}
    ~Connection() {
        if (fd >= 0) ::close(fd);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd;                // non-blocking; -1 once closed (which takes it out of the set)
    bool inEpoll = false;  // in its shard's set (one-shot), from the first wait on
    Shard& shard;
    const std::uint64_t serial;  // order of acceptance
    // Read on the clock (a simulated one's readings cost a lock) when the request first turns out
    // not to have arrived whole, a moment after the accept: a request that arrives whole never
    // reads it.
    TimePoint acceptedAt = kNever;
    TimePoint bodyFrom = kNever;  // the end of the head, when a body follows
    // When bytes last arrived: its place among the connections that may be closed to make room,
    // which it joins (under Core::mutex, as are these fields from then on) only when it has to
    // wait for its peer: a request that arrives whole never queues on the lock the shards share.
    TimePoint progressAt = kNever;
    bool waited = false;         // its shard's own: it joined them once
    bool receiving = false;      // still among them
    bool evicted = false;        // picked to make room
    std::size_t bodyCharge = 0;  // under Core::mutex: its share of the bodies in flight
    bool counted = false;        // its body counts against that bound, as it arrives
    std::string holder;          // whom its announced length counts against, as shareCharge
    std::size_t shareCharge = 0;
    // Closed unanswered once the clock passes this: the head, body-rate or request time-out while
    // receiving, the send time-out while sending, never while the handler runs.
    TimePoint deadline = kNever;
    RequestParser parser;
    State state = State::head;
    bool listed = false;  // in its shard's set, from its first wait on (handled connections are not)
    std::string outgoing;
    std::size_t sent = 0;
    bool unread = false;  // answered before the peer was done sending
    std::size_t drained = 0;
    // Under Core::mutex: among the connections draining after their answer, the first that make
    // room at the cap (a refused peer has its answer; closing it early costs it nothing else).
    bool lingering = false;
    TimePoint lingerUntil = kNever;
    // Its shard's own: the request posted to a worker, from then until the connection is back on
    // its shard (to wait for room to send, or to drain). While it is set and taken, the worker
    // owns the connection and the shard touches nothing of it but this.
    std::shared_ptr<RequestWorkers::Ticket> ticket;
    // Its place under maxConnections is given back while it waits for a worker (its lane bounds
    // those), taken again by the worker that runs it; set by whichever of them, or of its close,
    // comes first, so that a place is given back once.
    std::atomic<bool> placeFreed{false};
    // Stopped when the peer hangs up while its request waits for a worker or its handler runs.
    std::stop_source peerGone;
    bool takesInterim = false;  // its request may be preceded by a 1xx answer (HTTP/1.1 or later)
    // A peer that ends its side while the request waits or runs is asked whether it still listens:
    // for the slow lanes' requests, which may wait long (a prompt one is answered soon anyway).
    bool askWhenEnded = false;
    // While a worker has the request, the shard may write (asking whether the peer still listens)
    // and re-arm the socket's watch only until the worker starts to answer; then the socket is the
    // worker's alone, which may close it.
    std::mutex wire;
    bool answering = false;  // under wire
};

}  // namespace detail

// The queue "Quillmere.LocalHTTPServer" runs the first shard's loop for the server's whole
// life, threads of their own the other shards'. A connection stays on the shard that accepted it:
// the parsing and the 400, 403, 413 and 503 answers run there, its handler there too or on a
// worker. What the shards share (the counts against the limits, the connections still receiving
// in order of their last progress, the listening socket and its error) is under `mutex`.
struct HTTPServer::Core {
    using Connection = detail::Connection;
    using Listener = detail::Listener;
    using Shard = detail::Shard;
    using TimePoint = detail::TimePoint;
    using Watched = detail::Watched;

    Core(std::uint16_t portNumber, Handler requestHandler, HTTPServerOptions serverOptions,
         platform::Clock& serverClock);

    ~Core();

    // ---- shards (http_server.cpp)
    //
    // Each runs its loop until stopped: posted work, then one wait in its epoll set (as long as
    // its sweeper allows), then what became ready, then the sweeper when due.

    void runShard(Shard& shard);
    void runPosted(Shard& shard);
    void ready(Shard& shard, const epoll_event& event);
    static void post(Shard& shard, std::function<void()> work);
    static void postOrRun(Shard& shard, std::function<void()> work);  // at once when on the shard
    static void stopShard(Shard& shard);

    // ---- listener
    //
    // One listening socket, bound and shut down from the owner's thread, of which each shard
    // accepts through a copy of its own.

    static int openListening(std::uint16_t onPort, sockaddr_in& address, bool& created);
    bool startListening();
    void stopListening();
    void shareListener(Shard& shard, int descriptor, std::shared_ptr<std::atomic<bool>> closed);
    void closeListener(Shard& shard);
    void failListener(Shard& shard, const std::shared_ptr<Listener>& l, const std::error_code& ec);
    bool watchListener(Shard& shard, Listener& l, bool watch);
    void pauseAccepting(Shard& shard, const std::shared_ptr<Listener>& l, TimePoint until);
    void acceptNext(Shard& shard);
    void passTurn(Shard& shard, const std::shared_ptr<Listener>& l);
    void resumeAccepting(Shard& shard);
    void acceptFailed(Shard& shard, const std::shared_ptr<Listener>& l, const std::error_code& ec);
    static std::pair<TimePoint, std::uint64_t> progressKey(const Connection& conn) {
        return {conn.progressAt, conn.serial};
    }

    // ---- deadlines (each shard for its own connections and listener)
    //
    // Connections and listeners carry the moment of their next timed step, read on the clock;
    // each shard's wait ends by the earliest of them, and a clock moved by hand wakes every
    // sweeper at once. A sweep that comes early only sets the next one.

    TimePoint after(std::chrono::milliseconds delay, TimePoint from);
    TimePoint after(std::chrono::milliseconds delay) { return after(delay, clock.now()); }

    void setDeadline(const std::shared_ptr<Connection>& conn, TimePoint deadline);
    void wakeBy(Shard& shard, TimePoint at);
    void sweep(Shard& shard);

    // ---- connections (on their shard)

    bool reservePlace();
    void releasePlace();
    void resumeEveryShard();

    void open(const std::shared_ptr<Connection>& conn);
    void list(const std::shared_ptr<Connection>& conn);
    void awaitPeer(const std::shared_ptr<Connection>& conn);
    void joinReceiving(const std::shared_ptr<Connection>& conn);
    void progressed(const std::shared_ptr<Connection>& conn);
    static void accepted(Connection& conn, TimePoint now);
    bool watch(const std::shared_ptr<Connection>& conn, std::uint32_t events);
    void connectionReady(const std::shared_ptr<Connection>& conn, std::uint32_t events);
    void peerEnded(const std::shared_ptr<Connection>& conn, std::uint32_t events);
    static ssize_t readSome(Connection& conn, std::error_code& ec);
    void receive(const std::shared_ptr<Connection>& conn);
    void onReceive(const std::shared_ptr<Connection>& conn, const std::error_code& ec, std::size_t received);
    bool leaveHead(const std::shared_ptr<Connection>& conn, bool peerDone);
    bool chargeArrived(Connection& conn);
    bool claimShare(Connection& conn, const std::string& holder, std::size_t length);
    void releaseBody(Connection& conn);
    void unchargeBody(Connection& conn);
    bool claim(const std::shared_ptr<Connection>& conn);
    void dispatch(const std::shared_ptr<Connection>& conn, HTTPRequest request);
    detail::RequestWorkers::Lane laneOf(const HTTPRequest& request, std::optional<HTTPResponse>& refusal) const;
    void backOnShard(const std::shared_ptr<Connection>& conn);
    void retakePlace(Connection& conn);
    std::string serialize(const HTTPResponse& response) const;
    void send(const std::shared_ptr<Connection>& conn, std::string bytes);
    bool writeSome(const std::shared_ptr<Connection>& conn);
    void awaitRoom(const std::shared_ptr<Connection>& conn);
    void answered(const std::shared_ptr<Connection>& conn);
    std::shared_ptr<Connection> pickToMakeRoom();
    void drain(const std::shared_ptr<Connection>& conn);
    void finish(const std::shared_ptr<Connection>& conn);

    const std::uint16_t port;
    const Handler handler;
    HTTPServerOptions options;
    platform::Clock& clock;

    platform::SerialQueue queue{"Quillmere.LocalHTTPServer"};
    std::vector<std::unique_ptr<Shard>> shards;
    platform::Clock::Subscription clockMoves;
    std::atomic<std::uint16_t> boundPort{0};

    // Counted without the lock, which a connection takes only when it waits, carries a body or
    // makes room. A place is taken before its accept (never past maxConnections), so shards
    // accepting at once cannot pass the cap together; a shard that finds none sets acceptWaits
    // and looks once more, and whoever frees a place from a full count then resumes it.
    std::atomic<std::size_t> alive{0};  // connections accepted and not yet closed
    std::atomic<std::size_t> held{0};   // of those (and of accepts under way), the ones counted against maxConnections
    std::atomic<std::uint64_t> nextSerial{0};
    std::atomic<bool> acceptWaits{false};  // at the cap with nobody to make room

    std::mutex mutex;
    std::condition_variable allClosed;
    // The connections waiting for the rest of their request, the one longest without progress first.
    std::map<std::pair<TimePoint, std::uint64_t>, std::shared_ptr<Connection>> receiving;
    // The connections answered and draining what their peers still send, the one due to close first.
    std::map<std::pair<TimePoint, std::uint64_t>, std::shared_ptr<Connection>> lingering;
    // Connections picked to make room whose shards have not closed them yet (each still holds a
    // descriptor beside the newcomer's); at most one per shard.
    std::size_t evictionsInFlight = 0;
    std::size_t bodiesHeld = 0;                           // the bytes of the counted bodies being received or handled
    std::unordered_map<std::string, std::size_t> heldBy;  // each named holder's announced lengths (none at 0)
    std::optional<std::string> listenError;
    int listening = -1;  // the listening socket; the shards hold copies
    std::shared_ptr<std::atomic<bool>> listeningClosed;

    detail::RequestWorkers workers;
};

}  // namespace corvane::http
