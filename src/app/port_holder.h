#pragma once

// Which program holds a TCP port on this machine, as far as the system shows it: for telling the
// user why the loopback API could not be served there.

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::app {

// "corvane-headless, process 4321" for the process with a socket listening on `port` (IPv4 or
// IPv6); absent when none is found or its owner cannot be seen.
std::optional<std::string> describePortHolder(std::uint16_t port);

// Why `port` could not be served, with its holder when one is found: "Address already in use
// (corvane-headless, process 4321)".
std::string listenFailure(std::uint16_t port, const std::string& error);

}  // namespace corvane::app
