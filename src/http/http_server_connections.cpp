// The shared server's connections, on their shard: reading and parsing a request, the limits
// decided from its head, handing it to the handler, sending the answer and closing.

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "http/http_server_core.h"
#include "http/loopback_guard.h"
#include "platform/log.h"

namespace corvane::http {

using namespace detail;

void HTTPServer::Core::open(const std::shared_ptr<Connection>& conn) {
    receive(conn);  // the request has usually arrived with the connection
}

// Among its shard's connections, which its deadlines and the server's end go through: from the
// first time it waits (one handled while it is read is never seen by anything else of the shard).
void HTTPServer::Core::list(const std::shared_ptr<Connection>& conn) {
    if (conn->listed) return;
    conn->shard.connections.emplace(conn.get(), conn);
    conn->listed = true;
}

// Before a wait for the peer: the deadline is the head time-out (counted from accept), or the
// request time-out and the point where the body falls behind its minimum rate, whichever comes
// first.
void HTTPServer::Core::awaitPeer(const std::shared_ptr<Connection>& conn) {
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

// The connection waits for the rest of its request: from now on it may be closed to make room.
void HTTPServer::Core::joinReceiving(const std::shared_ptr<Connection>& conn) {
    if (conn->waited) return;
    conn->waited = true;
    {
        std::lock_guard lock(mutex);
        conn->receiving = true;
        receiving.emplace(progressKey(*conn), conn);
    }
    if (acceptWaits.exchange(false)) resumeEveryShard();  // one at the cap may make room now
}

// The moment of the accept, on the clock, for a connection that is to wait for its peer.
void HTTPServer::Core::accepted(Connection& conn, TimePoint now) {
    if (conn.acceptedAt != kNever) return;
    conn.acceptedAt = now;
    conn.progressAt = now;
}

// Bytes arrived: the connection goes behind every other that has gone longer without any.
void HTTPServer::Core::progressed(const std::shared_ptr<Connection>& conn) {
    const TimePoint now = clock.now();
    accepted(*conn, now);
    if (!conn->waited) {  // not among them yet: nobody else reads the moment
        conn->progressAt = now;
        return;
    }
    std::lock_guard lock(mutex);
    if (!conn->receiving || conn->progressAt == now) return;
    auto node = receiving.extract(progressKey(*conn));
    conn->progressAt = now;
    node.key() = progressKey(*conn);
    receiving.insert(std::move(node));
}

// Waits (on the shard, once) for the connection's socket to be readable or writable: false,
// with the connection closed, when the shard's set cannot take it.
bool HTTPServer::Core::watch(const std::shared_ptr<Connection>& conn, std::uint32_t events) {
    list(conn);
    epoll_event event{};
    event.events = events | EPOLLONESHOT;
    event.data.ptr = static_cast<Watched*>(conn.get());
    if (::epoll_ctl(conn->shard.epoll, conn->inEpoll ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, conn->fd, &event) != 0) {
        corvane::log("Quillmere HTTP connection failed: " + std::error_code(errno, std::system_category()).message());
        finish(conn);
        return false;
    }
    conn->inEpoll = true;
    return true;
}

// The socket the connection waited for is ready (or failed, which its next read or write tells).
void HTTPServer::Core::connectionReady(const std::shared_ptr<Connection>& conn, std::uint32_t events) {
    if (conn->ticket) {
        peerEnded(conn, events);
        return;
    }
    switch (conn->state) {
        case Connection::State::head:
        case Connection::State::body: receive(conn); return;
        case Connection::State::sending:
            if (!writeSome(conn)) awaitRoom(conn);
            return;
        case Connection::State::draining: drain(conn); return;
        case Connection::State::handling:
        case Connection::State::closed: return;
    }
}

// A request with a worker (waiting for one, or its handler running) watches only its peer's end.
// A reset (or a socket shut both ways) is a hang-up: a request still waiting is dropped before its
// handler runs, a running handler is told. A peer that only ended its side may still read its
// answer (a half-close after a whole request is legal); one of a slow lane is asked whether it
// listens with an interim "100 Continue", which an HTTP/1.1 client skips and a peer that closed
// answers with a reset. Either way its socket is watched for a reset alone from then on.
void HTTPServer::Core::peerEnded(const std::shared_ptr<Connection>& conn, std::uint32_t events) {
    if ((events & (EPOLLHUP | EPOLLERR)) == 0) {
        std::lock_guard lock(conn->wire);
        if (conn->answering) return;  // the worker's now, and it learns the rest by writing
        bool gone = false;
        if (conn->askWhenEnded) {
            ssize_t n = -1;
            do {
                n = ::send(conn->fd, kContinue.data(), kContinue.size(), MSG_NOSIGNAL);
            } while (n < 0 && errno == EINTR);
            gone = n < 0 && errno != EAGAIN && errno != EWOULDBLOCK;
        }
        if (!gone) {
            // Not watch(): a failure must not close a socket that a worker may hold; unwatched, the
            // request is answered as any other.
            epoll_event event{};
            event.events = EPOLLONESHOT;  // resets and hang-ups are reported whatever is asked
            event.data.ptr = static_cast<Watched*>(conn.get());
            ::epoll_ctl(conn->shard.epoll, EPOLL_CTL_MOD, conn->fd, &event);
            return;
        }
    }
    if (workers.drop(conn->ticket)) {
        corvane::log("Quillmere HTTP request dropped: its client hung up before a worker took it");
        conn->ticket.reset();
        finish(conn);
        return;
    }
    conn->peerGone.request_stop();
}

// One read into the shard's buffer: the bytes (0 at the end of the stream), or -1 with `ec`
// set (operation_would_block when nothing is there yet).
ssize_t HTTPServer::Core::readSome(Connection& conn, std::error_code& ec) {
    auto& buffer = conn.shard.receiveBuffer;
    for (;;) {
        const ssize_t n = ::recv(conn.fd, buffer.data(), buffer.size(), 0);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        ec = errno == EAGAIN || errno == EWOULDBLOCK ? std::make_error_code(std::errc::operation_would_block)
                                                     : std::error_code(errno, std::system_category());
        return -1;
    }
}

void HTTPServer::Core::receive(const std::shared_ptr<Connection>& conn) {
    std::error_code ec;
    const ssize_t received = readSome(*conn, ec);
    if (ec == std::errc::operation_would_block) {
        if (conn->acceptedAt == kNever) accepted(*conn, clock.now());
        joinReceiving(conn);
        awaitPeer(conn);
        watch(conn, EPOLLIN);
        return;
    }
    onReceive(conn, ec, received > 0 ? std::size_t(received) : 0);
}

// Nothing received and no error: the peer ended its stream.
void HTTPServer::Core::onReceive(const std::shared_ptr<Connection>& conn, const std::error_code& ec,
                                 std::size_t received) {
    const bool peerDone = !ec && received == 0;
    if (ec) {
        corvane::log("Quillmere HTTP receive error: " + ec.message());
        finish(conn);
        return;
    }
    if (received > 0) conn->parser.feed(std::string_view(conn->shard.receiveBuffer.data(), received));
    // A body counts as its bytes arrive: a head alone holds none of the budget.
    if (conn->state == Connection::State::body && conn->counted && !chargeArrived(*conn)) {
        conn->unread = !peerDone && conn->parser.status() == ParseStatus::incomplete;
        send(conn, serialize(options.answers.busy));
        return;
    }
    const ParseStatus status = conn->parser.status();
    // Progress counts when it was read, for a request that is to wait for more (a whole one
    // leaves the connections that may be closed to make room anyway).
    if (received > 0 && status == ParseStatus::incomplete) progressed(conn);
    if (conn->state == Connection::State::head &&
        (status != ParseStatus::incomplete || conn->parser.headComplete() || peerDone)) {
        if (!leaveHead(conn, peerDone)) return;
    }
    switch (status) {
        case ParseStatus::complete: {
            conn->takesInterim = conn->parser.takesInterimAnswers();
            HTTPRequest request = conn->parser.takeRequest();
            if (options.loopbackGuard && isForbiddenRequest(request)) {
                send(conn, serialize(forbiddenResponse(request)));
            } else {
                dispatch(conn, std::move(request));
            }
            return;
        }
        case ParseStatus::headTooLarge:
            conn->unread = !peerDone;
            send(conn, serialize(options.answers.headTooLarge));
            return;
        case ParseStatus::bodyTooLarge:
            conn->unread = !peerDone;
            send(conn, serialize(options.answers.bodyTooLarge));
            return;
        case ParseStatus::badRequest:
            conn->unread = !peerDone;
            send(conn, serialize(options.answers.badRequest));
            return;
        case ParseStatus::incomplete: break;
    }
    if (peerDone) {  // the peer finished sending before a whole request arrived
        send(conn, serialize(options.answers.badRequest));
        return;
    }
    receive(conn);
}

// The head is in (or the peer gave up on it): the body's route decides from the head alone
// what it may send, and the bodies in flight must have room for it, before any of it is kept.
// False when that answered the request.
bool HTTPServer::Core::leaveHead(const std::shared_ptr<Connection>& conn, bool peerDone) {
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
    if (length > options.unbudgetedBodyBytes) {
        conn->counted = true;
        if (!claimShare(*conn, allowance.holder, length) || !chargeArrived(*conn)) {
            conn->unread = more;
            send(conn, serialize(options.answers.busy));
            return false;
        }
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

// The bytes of a counted body received since its last charge, against the bound on all bodies in
// flight; false when over it.
bool HTTPServer::Core::chargeArrived(Connection& conn) {
    const std::size_t arrived = std::min(conn.parser.bodyBytesReceived(), conn.parser.contentLength());
    if (arrived <= conn.bodyCharge) return true;
    const std::size_t length = arrived - conn.bodyCharge;
    std::lock_guard lock(mutex);
    if (length > options.maxBodyBytesInFlight - std::min(bodiesHeld, options.maxBodyBytesInFlight)) return false;
    bodiesHeld += length;
    conn.bodyCharge += length;
    return true;
}

// A named holder's bodies count whole, as announced, against its own share: a client that can be
// told apart holds only what it was given, whatever it announces. False when over it.
bool HTTPServer::Core::claimShare(Connection& conn, const std::string& holder, std::size_t length) {
    if (holder.empty()) return true;
    std::lock_guard lock(mutex);
    auto& taken = heldBy[holder];
    if (length > options.maxBodyBytesInFlightPerHolder - std::min(taken, options.maxBodyBytesInFlightPerHolder)) {
        if (taken == 0) heldBy.erase(holder);
        return false;
    }
    taken += length;
    conn.holder = holder;
    conn.shareCharge = length;
    return true;
}

// Under mutex.
void HTTPServer::Core::unchargeBody(Connection& conn) {
    bodiesHeld -= conn.bodyCharge;
    if (!conn.holder.empty()) {
        const auto found = heldBy.find(conn.holder);
        if (found != heldBy.end() && (found->second -= conn.shareCharge) == 0) heldBy.erase(found);
        conn.holder.clear();
    }
    conn.bodyCharge = 0;
    conn.shareCharge = 0;
    conn.counted = false;
}

void HTTPServer::Core::releaseBody(Connection& conn) {
    std::lock_guard lock(mutex);
    unchargeBody(conn);
}

// The request is whole or refused: the connection no longer counts as one that may be closed
// to make room. False when it was picked for that meanwhile (it is closed then).
bool HTTPServer::Core::claim(const std::shared_ptr<Connection>& conn) {
    if (!conn->waited) return true;  // never among them
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
void HTTPServer::Core::dispatch(const std::shared_ptr<Connection>& conn, HTTPRequest request) {
    if (!claim(conn)) return;
    conn->state = Connection::State::handling;
    conn->deadline = kNever;
    if (conn->listed) {
        conn->shard.connections.erase(conn.get());
        conn->listed = false;
    }
    bool atOnce = false;
    if (options.answersAtOnce) {
        try {
            atOnce = options.answersAtOnce(request);
        } catch (...) {
            atOnce = false;  // not known to be short: a worker is the safe place
        }
    }
    std::optional<HTTPResponse> refusal;
    // One declared to answer at once is prompt when it has to go to a worker after all.
    detail::RequestWorkers::Lane lane;
    lane.prompt = true;
    if (!atOnce) lane = laneOf(request, refusal);
    conn->askWhenEnded = conn->takesInterim && !lane.prompt;
    request.clientGone = conn->peerGone.get_token();
    // Made a std::function (an allocation) only when it goes to a worker.
    auto job = [this, conn, request = std::move(request)]() mutable {
        retakePlace(*conn);  // running, it counts against the cap as it did before it waited
        std::string answer;
        try {
            answer = serialize(handler(std::move(request)));
        } catch (...) {
            answer = serialize(options.answers.internalError);
        }
        {
            std::lock_guard lock(conn->wire);
            conn->answering = true;
        }
        if (conn->counted) releaseBody(*conn);  // the handler's copy of the body is gone
        conn->state = Connection::State::sending;
        conn->outgoing = std::move(answer);
        // The send time-out counts from the first byte sent. An answer that a fresh socket's
        // buffer surely takes whole goes out at once, so it reads the clock only if it waits.
        const bool large = conn->outgoing.size() > kReceiveCap;
        if (large) conn->deadline = after(options.requestTimeout);
        if (writeSome(conn)) return;
        if (!large) conn->deadline = after(options.requestTimeout);
        post(conn->shard, [this, conn] {
            backOnShard(conn);
            list(conn);
            setDeadline(conn, conn->deadline);
            awaitRoom(conn);
        });
    };
    if (atOnce && workers.tryRunHere(job)) return;
    // Its socket is watched for the peer hanging up while it waits for a worker or its handler
    // runs; watched before it is posted, since from then on a worker may own it.
    list(conn);
    if (!watch(conn, EPOLLRDHUP)) return;
    bool waits = false;
    auto ticket = workers.post(std::move(lane), std::function<void()>(std::move(job)), waits);
    if (!ticket) {
        send(conn, serialize(refusal.value_or(options.answers.busy)));
        return;
    }
    conn->ticket = std::move(ticket);
    // Waiting, it holds no place that new connections need (its lane bounds how many wait).
    if (waits && !conn->placeFreed.exchange(true)) releasePlace();
}

detail::RequestWorkers::Lane HTTPServer::Core::laneOf(const HTTPRequest& request,
                                                      std::optional<HTTPResponse>& refusal) const {
    WorkLane lane;
    if (options.workLane) {
        try {
            lane = options.workLane(request);
        } catch (...) {
            lane = WorkLane{};  // undecided: a slow lane of its own
        }
    }
    refusal = std::move(lane.refusal);
    if (!lane.prompt && lane.key.empty()) lane.key = request.method + " " + request.routePath();
    return {lane.prompt, std::move(lane.key), std::max<std::size_t>(lane.maxRunning, 1), lane.maxWaiting};
}

// On the shard: a connection a worker had is its shard's again.
void HTTPServer::Core::backOnShard(const std::shared_ptr<Connection>& conn) { conn->ticket.reset(); }

// On the worker that took it: it counts against maxConnections again (past the cap if need be: new
// connections then wait until enough have closed).
void HTTPServer::Core::retakePlace(Connection& conn) {
    if (conn.placeFreed.exchange(false)) held.fetch_add(1);
}

std::string HTTPServer::Core::serialize(const HTTPResponse& response) const {
    return serializeResponse(response, options.answers.reasonPhrase(response.statusCode));
}

// An answer of the server itself, from the shard.
void HTTPServer::Core::send(const std::shared_ptr<Connection>& conn, std::string bytes) {
    if (!claim(conn)) return;
    if (conn->counted) releaseBody(*conn);  // what it sent is dropped, not kept
    conn->state = Connection::State::sending;
    conn->outgoing = std::move(bytes);
    conn->deadline = kNever;  // the receiving time-out is over; the send time-out starts if it waits
    if (writeSome(conn)) return;
    setDeadline(conn, after(options.requestTimeout));
    awaitRoom(conn);
}

// Writes what the socket takes now; true when that ended the connection (all sent, or an
// error), false when the rest must wait for room.
bool HTTPServer::Core::writeSome(const std::shared_ptr<Connection>& conn) {
    while (conn->sent < conn->outgoing.size()) {
        // Past the send time-out nothing more goes out, even when the peer makes room before the
        // sweep comes (or before the connection has joined its shard's set to be swept).
        if (conn->deadline != kNever && clock.now() >= conn->deadline) {
            finish(conn);
            return true;
        }
        const ssize_t n =
            ::send(conn->fd, conn->outgoing.data() + conn->sent, conn->outgoing.size() - conn->sent, MSG_NOSIGNAL);
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

void HTTPServer::Core::awaitRoom(const std::shared_ptr<Connection>& conn) { watch(conn, EPOLLOUT); }

// The whole answer is sent. A peer that may still be sending gets the end of the stream and
// has what it sends read and dropped, within bounds, before the connection closes.
void HTTPServer::Core::answered(const std::shared_ptr<Connection>& conn) {
    int pending = 0;
    if (!conn->unread && (::ioctl(conn->fd, FIONREAD, &pending) != 0 || pending == 0)) {
        finish(conn);
        return;
    }
    const TimePoint until = after(kLingerTime);  // read before the peer can see the end
    ::shutdown(conn->fd, SHUT_WR);
    conn->state = Connection::State::draining;
    {
        std::lock_guard lock(mutex);
        conn->lingering = true;
        conn->lingerUntil = until;
        lingering.emplace(std::pair{until, conn->serial}, conn);
    }
    if (acceptWaits.exchange(false)) resumeEveryShard();  // one at the cap may make room now
    postOrRun(conn->shard, [this, conn, until] {
        backOnShard(conn);
        if (conn->state != Connection::State::draining) return;
        list(conn);
        setDeadline(conn, until);
        drain(conn);
    });
}

void HTTPServer::Core::drain(const std::shared_ptr<Connection>& conn) {
    for (;;) {
        std::error_code ec;
        const ssize_t received = readSome(*conn, ec);
        if (ec == std::errc::operation_would_block) {
            watch(conn, EPOLLIN);
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
void HTTPServer::Core::finish(const std::shared_ptr<Connection>& conn) {
    if (conn->state == Connection::State::closed) return;
    const bool lingered = conn->state == Connection::State::draining;
    conn->state = Connection::State::closed;
    conn->deadline = kNever;
    // With nothing left unread, closing ends the stream in order (and takes it out of the set).
    ::close(conn->fd);
    conn->fd = -1;
    if (conn->listed && conn->shard.onThread()) {
        conn->shard.connections.erase(conn.get());
        conn->listed = false;
    } else if (conn->listed) {  // a worker's, listed while it waited: its shard forgets it
        post(conn->shard, [conn] {
            if (!conn->listed) return;
            conn->shard.connections.erase(conn.get());
            conn->listed = false;
        });
    }
    bool evicted = false;  // then it gave its place to the connection that evicted it
    if (conn->waited || conn->counted || lingered) {
        std::lock_guard lock(mutex);
        evicted = conn->evicted;
        if (evicted) --evictionsInFlight;
        if (conn->receiving) receiving.erase(progressKey(*conn));
        conn->receiving = false;
        if (conn->lingering) lingering.erase(std::pair{conn->lingerUntil, conn->serial});
        conn->lingering = false;
        unchargeBody(*conn);
    }
    if (!evicted && !conn->placeFreed.exchange(true)) releasePlace();
    if (evicted && acceptWaits.exchange(false)) resumeEveryShard();  // another may be picked now
    if (--alive == 0) {
        // The server outlives this call (its destructor joins the thread making it); the lock
        // keeps the wake from passing between the destructor's check and its wait.
        std::lock_guard lock(mutex);
        allClosed.notify_all();
    }
}

}  // namespace corvane::http
