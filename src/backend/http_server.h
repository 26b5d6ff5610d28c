#pragma once

// The backend's HTTP/1.1 server: 127.0.0.1 only, one request per connection, a thread per
// connection. Small on purpose: it serves one user's app on the same machine.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace corvane::backend {

struct Request {
    std::string method;
    std::string target;                          // as sent, query included
    std::map<std::string, std::string> headers;  // names lower-cased; the last one wins
    std::string body;

    std::string path() const;   // target up to the first "?"
    std::string query() const;  // the text after the first "?"
    std::string header(const std::string& lowerCaseName) const;
};

struct Response {
    int statusCode = 200;
    std::string contentType = "application/json";
    std::string body;
};

struct ServerLimits {
    std::size_t maxHeadBytes = 64 * 1024;
    std::size_t maxBodyBytes = 64 * 1024 * 1024;  // screenshots travel inline
    int idleTimeoutSeconds = 30;                  // a peer silent this long is dropped
};

class HTTPServer {
public:
    // An exception thrown by the handler is answered 500 {"error":"Internal error"}.
    using Handler = std::function<Response(const Request&)>;

    HTTPServer(std::uint16_t port, Handler handler, ServerLimits limits = {});
    ~HTTPServer();  // stop()
    HTTPServer(const HTTPServer&) = delete;
    HTTPServer& operator=(const HTTPServer&) = delete;

    // Binds 127.0.0.1:port (0 picks a free port) and starts accepting; throws std::system_error.
    void start();
    // Closes the listener, drops open connections and waits for their threads.
    void stop();
    std::uint16_t port() const;

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

}  // namespace corvane::backend
