#pragma once

// The one HTTP client of the app and of corvane-backend: a request goes out, an HTTP answer or a
// transport failure comes back. Only the simulated analysis plug-in posts otherwise, through its
// own socket (platform/loopback_post.h), as a plug-in outside the app would; scripts/check-includes
// refuses any other. libcurl stands behind it; tests put a scripted server or a fake
// behind it.

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>

namespace corvane::http {

struct HTTPClientRequest {
    std::string method = "POST";
    std::string url;
    std::map<std::string, std::string> headers;
    std::optional<std::string> body;  // absent: sent without a body
    std::chrono::seconds timeout{60};
};

struct HTTPClientResponse {
    int statusCode = 0;
    std::string body;  // bytes as received
};

// No HTTP answer: no connection, a time-out, a refused address, a cancellation. The text always
// says "network" so that the fallback reply names the cause the user can act on.
class TransportError : public std::runtime_error {
public:
    explicit TransportError(const std::string& detail) : std::runtime_error("Network error: " + detail) {}
};

class HTTPTransport {
public:
    virtual ~HTTPTransport() = default;
    // Throws TransportError when no answer arrived; `stop` cancels a transfer in progress.
    virtual HTTPClientResponse send(const HTTPClientRequest& request, std::stop_token stop = {}) = 0;
};

// libcurl: no redirects, only http and https, the request's time-out for the whole transfer.
// Refuses plain HTTP to any host but the loopback one (isPermittedURL), so tokens never cross a
// network in clear, unless made with PlainHTTP::anyHost.
class CurlTransport final : public HTTPTransport {
public:
    enum class PlainHTTP { loopbackOnly, anyHost };

    explicit CurlTransport(PlainHTTP plainHTTP = PlainHTTP::loopbackOnly) : plainHTTP_(plainHTTP) {}
    HTTPClientResponse send(const HTTPClientRequest& request, std::stop_token stop = {}) override;

private:
    PlainHTTP plainHTTP_;
};

// The transport the app's services share.
std::shared_ptr<HTTPTransport> defaultTransport();

// "https://" to any host, or "http://" to 127.0.0.1, [::1] or localhost.
bool isPermittedURL(std::string_view url);

}  // namespace corvane::http
