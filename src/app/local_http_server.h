#pragma once

// The application's only server (hardened against hostile local traffic): HTTP/1.1 on
// 127.0.0.1 only, one request per connection, every accepted request handed to one handler.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/http_message.h"
#include "platform/platform.h"

namespace corvane::app {

// The limits against hostile local traffic, each with its default.
struct HTTPServerLimits {
    // A head (through its blank line) longer than this is answered 413 at once.
    std::size_t maxHeadBytes = 64 * 1024;
    // A Content-Length above this, or negative, is answered 413 without reading the body.
    std::int64_t maxBodyBytes = 16 * 1024 * 1024;
    // A connection that has not completed its request within this time is closed unanswered;
    // the same time bounds the sending of an answer to a peer that does not read it. Measured on
    // the server's clock.
    std::chrono::milliseconds requestTimeout{30'000};
    // Connections served at once (from accept to close, so also the handlers running at once);
    // further connections wait in the listen backlog until one ends.
    std::size_t maxConcurrentRequests = 64;
};

class LocalHTTPServer {
public:
    // Called from the request's own worker thread, possibly from several at once. An exception
    // thrown by it is answered 500 "Internal Server Error".
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

    // Creates the listener on 127.0.0.1:port and starts accepting, replacing any earlier one.
    // Throws std::system_error when the listener cannot be created; a listener that cannot bind
    // or listen (the port is taken) logs "Quillmere HTTP server failed: ..." and stays failed.
    void start();
    // Cancels the listener and forgets it; connections in progress are left alone.
    void stop();

    // The port actually listened on; 0 before start(), after stop() and for a failed listener.
    std::uint16_t boundPort() const;

private:
    struct Core;
    std::unique_ptr<Core> core_;
};

}  // namespace corvane::app
