#pragma once

// A minimal blocking HTTP/1.1 client for 127.0.0.1: one POST per connection, the answer read until
// the server closes. What the simulated analysis plug-in posts through, as the real one would: a
// program of its own, outside the app's HTTP client (http/), which everything else goes through.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane::platform {

struct LoopbackPostResult {
    bool delivered = false;  // an answer with a status line came back
    int statusCode = 0;
    std::string body;
    std::string error;  // why nothing came back: "connection refused", ...
};

// `ioTimeout` bounds each blocking send and receive in wall time, so a server that never answers
// cannot hold the caller for ever. A connection to a port nobody listens on that the system
// happened to give the very same port as its source (TCP then connects it to itself) counts as
// refused. `fromPort` pins the source port (0: the system's pick), for tests of that case.
LoopbackPostResult postToLoopback(std::uint16_t port, std::string_view path, std::string_view contentType,
                                  std::string_view body,
                                  std::chrono::milliseconds ioTimeout = std::chrono::milliseconds(10'000),
                                  std::uint16_t fromPort = 0);

}  // namespace corvane::platform
