#pragma once

// The one HTTP/1.1 server of the app's loopback API and of corvane-backend (hardened against
// hostile local traffic): 127.0.0.1 only, one request per connection, every accepted request
// handed to one handler.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/http_message.h"
#include "platform/platform.h"

namespace corvane::http {

// What the server answers by itself, and the reason phrases of every status line it sends.
struct HTTPServerAnswers {
    HTTPResponse badRequest = badRequestResponse();  // unreadable, or ended by the peer before it is whole
    HTTPResponse headTooLarge = payloadTooLargeResponse();
    HTTPResponse bodyTooLarge = payloadTooLargeResponse();
    // The bodies in flight would pass their bound; sent with "Retry-After: 1" unless it names its own.
    HTTPResponse busy = serviceUnavailableResponse();
    HTTPResponse internalError = internalErrorResponse();  // the handler threw
    std::string_view (*reasonPhrase)(int statusCode) = &http::reasonPhrase;
};

// The small-body lane of both servers: bodies up to this size never wait on large ones.
constexpr std::size_t kSmallBodyBytes = 64 * 1024;

// What one request may send as its body, decided from its head alone: a Content-Length over
// maxBytes is answered `refusal` (else answers.bodyTooLarge) at once, before any of the body is read
// (a negative maxBytes refuses every request of the route from its head, a lane that is full, say).
struct BodyAllowance {
    std::int64_t maxBytes = 0;
    std::optional<HTTPResponse> refusal{};
    // Whom the body counts against (an account, say) for maxBodyBytesInFlightPerHolder; empty: nobody.
    std::string holder{};
};

// Where a request handled on a worker waits for one, decided by its route when it is whole. Its
// lane (`key`) runs at most maxRunning handlers at once with at most maxWaiting more waiting; a
// request past them is answered `refusal` (else answers.busy) at once. A prompt request's handler
// never waits long on another program, a turn, the network or a lock (or waits within bounds of
// its own): without a key it is bounded only by the workers and the requests waiting in all.
// Every other is slow: an empty key is its method and route, and the slow lanes together take at
// most maxSlowRequests workers, so that they never hold those that the prompt ones need.
struct WorkLane {
    bool prompt = false;
    std::string key{};
    std::size_t maxRunning = 4;
    std::size_t maxWaiting = 8;
    std::optional<HTTPResponse> refusal{};
};

// Gives the memory that threads freed, and their allocator arenas keep, back to the system.
void releaseFreedMemory();

// The limits against hostile local traffic, each with its default, the I/O threads and the guard.
struct HTTPServerOptions {
    // A head (through its blank line) longer than this is answered answers.headTooLarge at once.
    std::size_t maxHeadBytes = 64 * 1024;
    // A Content-Length above this is answered answers.bodyTooLarge without reading the body.
    std::int64_t maxBodyBytes = 16 * 1024 * 1024;
    // Given the head (method, path, headers; its body not to be read), what its route accepts,
    // within maxBodyBytes. Absent: maxBodyBytes for every request.
    std::function<BodyAllowance(const HTTPRequest& head)> bodyAllowance{};
    // The bodies being received or handled at once stay within this, each counted as its bytes
    // arrive (a head that announces a body holds nothing until the body comes); a body whose next
    // bytes would pass it is answered answers.busy at once.
    std::size_t maxBodyBytesInFlight = 256 * 1024 * 1024;
    // The counted bodies of one holder (as bodyAllowance names it), each by its announced length,
    // stay within this, so that one client cannot take the whole bound above; a head that would
    // pass it is answered answers.busy at once.
    std::size_t maxBodyBytesInFlightPerHolder = std::numeric_limits<std::size_t>::max();
    // Bodies of at most this many bytes are not counted against those bounds, so that small
    // requests never wait on large ones; with one request per connection they hold at most
    // maxConnections times this.
    std::size_t unbudgetedBodyBytes = kSmallBodyBytes;
    // Counted from accept and measured on the server's clock, a connection that has not completed
    // its head within headTimeout, or its whole request within requestTimeout, is closed
    // unanswered; requestTimeout also bounds the sending of an answer to a peer that does not read.
    std::chrono::milliseconds headTimeout{10'000};
    std::chrono::milliseconds requestTimeout{30'000};
    // Once its head is in, a body that falls behind this rate (counted after the grace, from the
    // end of the head) is closed unanswered, however far its request time-out is.
    std::int64_t minBodyBytesPerSecond = 16 * 1024;
    std::chrono::milliseconds bodyGrace{2'000};
    // Handlers running at once on workers; further whole requests wait for one of them to return.
    // Those that answer at once (answersAtOnce) run on the I/O threads beside them, never waiting.
    std::size_t maxConcurrentRequests = 64;
    // Of those, the handlers of slow lanes (see WorkLane) at once, so that the prompt ones always
    // find workers; as many slow requests again may wait, and at most maxWaitingRequests in all.
    std::size_t maxSlowRequests = 32;
    std::size_t maxWaitingRequests = 512;
    // The lane of a whole request that goes to a worker. Absent (or throwing): the slow lane of its
    // method and route, with WorkLane's bounds, so that no route an owner forgot is unbounded.
    std::function<WorkLane(const HTTPRequest&)> workLane{};
    // Connections open at once, within the descriptors the process may open (its open-files
    // limit as the server is made, less what its stores, logs, clients and the server itself need
    // beside them: see kDescriptorsBesideConnections). A new one beyond this closes a connection reading what its peer
    // still sends after the answer (the one due to close first), else, of the connections still
    // sending their request (head or body), the one that has gone longest without sending
    // anything; when there is none (or it sent something this very moment), new connections wait
    // in the listen backlog until one ends. A request handed to a worker (waiting or handled) holds
    // no place: it is bounded by its lane, and new connections are never kept out by it. While it
    // waits its socket is watched, and once its peer has hung up (or ended its side) it is
    // dropped before its handler runs.
    std::size_t maxConnections = 1024;
    // Threads taking, reading and answering connections; 0: one per core, at most 8.
    std::size_t ioThreads = 0;
    // A request that fails the loopback guard (isForbiddenRequest) is answered 403 before any handler.
    bool loopbackGuard = true;
    // Tells, on the I/O thread that read a request, whether its handler returns at once (no
    // waiting on another program, a turn, the network or a long lock). Such a request is handled
    // on that thread, where a hand-over to a worker would cost more than the handler, even when
    // every worker is taken; while it runs, the thread takes no new connection. Absent, or false:
    // handled on a worker.
    std::function<bool(const HTTPRequest&)> answersAtOnce{};
    // Called on a worker once a burst of requests handled on workers (16 or more since the last
    // call) has ended: none running or waiting. The memory a burst freed stays in the arenas of
    // the workers that freed it, where later requests may never reuse it; by default it goes
    // back to the system.
    std::function<void()> afterBurst = &releaseFreedMemory;
    HTTPServerAnswers answers{};
};

// Of the process's open-files limit, what a server leaves to everything but its connections.
constexpr std::size_t kDescriptorsBesideConnections = 128;

// Raises this process's open-files limit to its hard limit, where it may: the default soft limit
// (1024 on Debian) would leave the connection bound less than it says. Called before a server is
// made. The soft limit in force after (or SIZE_MAX when unlimited).
std::size_t raiseOpenFilesLimit();

class HTTPServer {
public:
    // Called on a worker thread, or on the I/O thread that read the request when
    // options.answersAtOnce says so, possibly from several at once. An exception thrown by it is
    // answered answers.internalError.
    using Handler = std::function<HTTPResponse(HTTPRequest)>;

    // Stores the port (0 picks an ephemeral one, for tests) and the handler and creates the queue
    // "Quillmere.LocalHTTPServer"; nothing listens yet. Deadlines are read on `clock`, which must
    // outlive the server.
    HTTPServer(std::uint16_t port, Handler handler, HTTPServerOptions options = {},
               platform::Clock& clock = platform::clock());
    // Closes the listener and the connections still receiving (the server is gone), then waits
    // for the handlers running to return and their answers to be sent. Not to be destroyed from
    // within its own handler.
    ~HTTPServer();
    HTTPServer(const HTTPServer&) = delete;
    HTTPServer& operator=(const HTTPServer&) = delete;

    // Creates the listener on 127.0.0.1:port (with address reuse, so a connection of an earlier
    // run in TIME-WAIT does not block it, but not port reuse: no other socket can bind the port
    // while it listens) and starts accepting, replacing any earlier one. True
    // when listening. A listener that cannot bind or listen (the port is taken) logs
    // "Quillmere HTTP server failed: ...", returns false and stays so until start() is called
    // again; listenError() tells why. Throws std::system_error when no listener can be created at all.
    bool start();
    // Cancels the listener and forgets it (connecting is refused once this returns); connections
    // in progress are left alone. Neither this nor start() waits for a running handler.
    void stop();

    // The port actually listened on; 0 before start(), after stop() and for a failed listener.
    std::uint16_t boundPort() const;
    // Why the listener failed (at start, or later when it broke), for the owner to show; absent
    // before start(), while listening and after stop().
    std::optional<std::string> listenError() const;

private:
    struct Core;
    std::unique_ptr<Core> core_;
};

}  // namespace corvane::http
