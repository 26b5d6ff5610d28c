#pragma once

// The application's only server (hardened against hostile local traffic): HTTP/1.1 on
// 127.0.0.1 only, one request per connection, every accepted request handed to one handler.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/http_message.h"
#include "platform/platform.h"

namespace corvane::app {

// The limits against hostile local traffic, each with its default, and the I/O threads.
struct HTTPServerLimits {
    // A head (through its blank line) longer than this is answered 413 at once.
    std::size_t maxHeadBytes = 64 * 1024;
    // A Content-Length above this is answered 413 without reading the body.
    std::int64_t maxBodyBytes = 16 * 1024 * 1024;
    // Counted from accept and measured on the server's clock, a connection that has not completed
    // its head within headTimeout, or its whole request within requestTimeout, is closed
    // unanswered; requestTimeout also bounds the sending of an answer to a peer that does not read.
    std::chrono::milliseconds headTimeout{10'000};
    std::chrono::milliseconds requestTimeout{30'000};
    // Handlers running at once; further whole requests wait for one of them to return.
    std::size_t maxConcurrentRequests = 64;
    // Connections open at once. A new one beyond this closes the oldest connection still sending
    // its head; when there is none, new connections wait in the listen backlog until one ends.
    std::size_t maxConnections = 1024;
    // Threads taking, reading and answering connections; 0 picks a few from the cores.
    std::size_t ioThreads = 0;
};

class LocalHTTPServer {
public:
    // Called on a worker thread or on the I/O thread that read the request (never on one that other
    // connections wait for), possibly from several at once. An exception thrown by it is answered
    // 500 "Internal Server Error".
    using Handler = std::function<HTTPResponse(HTTPRequest)>;

    // Stores the port (0 picks an ephemeral one, for tests) and the handler and creates the queue
    // "Quillmere.LocalHTTPServer"; nothing listens yet. Deadlines are read on `clock`, which must
    // outlive the server.
    LocalHTTPServer(std::uint16_t port, Handler handler, HTTPServerLimits limits = {},
                    platform::Clock& clock = platform::clock());
    // Closes the listener and the connections still receiving (the server is gone), then waits
    // for the handlers running to return and their answers to be sent. Not to be destroyed from
    // within its own handler.
    ~LocalHTTPServer();
    LocalHTTPServer(const LocalHTTPServer&) = delete;
    LocalHTTPServer& operator=(const LocalHTTPServer&) = delete;

    // Creates the listener on 127.0.0.1:port (with address reuse, so a connection of an earlier
    // run in TIME-WAIT does not block it) and starts accepting, replacing any earlier one. True
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

}  // namespace corvane::app
