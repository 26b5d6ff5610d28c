#pragma once

// The values of the HTTP server: one parsed request, one answer, and the request parser, a pure
// function of the received bytes (plus an incremental form of it that the server feeds receive by
// receive).

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::http {

// One parsed request. Bodies are bytes held in a std::string (not necessarily UTF-8).
struct HTTPRequest {
    std::string method{};               // first word of the request line, case kept
    std::string path{};                 // request target with its query, not decoded
    std::optional<std::string> host{};  // last usable Host header, trimmed of spaces and tabs
    std::string body{};                 // exactly Content-Length bytes after the head
    // The browser markers the loopback guard reads; the last header line wins.
    std::optional<std::string> origin{};
    std::optional<std::string> secFetchSite{};
    // Every header line with a name and something after its colon: names lower-cased (ASCII),
    // values trimmed of spaces and tabs, the last line of a name winning (so host, origin and
    // secFetchSite are here too).
    std::map<std::string, std::string> headers{};
    // Set by the server for a request handled on a worker: stopped once its client has hung up
    // while the handler runs, so that a handler that waits long can give up.
    std::stop_token clientGone{};

    // The value of a header by its lower-cased name.
    std::optional<std::string> header(std::string_view lowerCaseName) const;
    // `path` up to, not including, the first "?".
    std::string routePath() const;
    // Pairs of the text after the first "?".
    std::map<std::string, std::string> queryParams() const;

    // Equal in what was sent (the server's notice of the client leaving is no part of it).
    bool operator==(const HTTPRequest& other) const {
        return method == other.method && path == other.path && host == other.host && body == other.body &&
               origin == other.origin && secFetchSite == other.secFetchSite && headers == other.headers;
    }
};

// One answer; sent with Content-Type, Content-Length and "Connection: close" (a 204 with the last
// alone).
struct HTTPResponse {
    int statusCode = 200;
    std::string contentType{};
    std::string body{};  // bytes, sent as is
    // Further header lines (e.g. "Retry-After"); a name that is not a plain token is left out and
    // line breaks in a value are removed, so no answer can carry a header it did not mean to.
    std::vector<std::pair<std::string, std::string>> headers{};

    bool operator==(const HTTPResponse&) const = default;
};

// The status's own name ("Service Unavailable" for 503), else its class's ("Client Error" for 418).
std::string_view reasonPhrase(int statusCode);
// The whole answer as sent: status line, the three headers and any further ones, blank line, body.
std::string serializeResponse(const HTTPResponse& response);
// The same with another reason phrase in the status line.
std::string serializeResponse(const HTTPResponse& response, std::string_view reason);

// The canned answers of the server itself (the 403 of a refused request, which names its reason,
// is in loopback_guard.h).
HTTPResponse badRequestResponse();          // 400 text/plain "Bad Request"
HTTPResponse payloadTooLargeResponse();     // 413 text/plain "Payload Too Large"
HTTPResponse internalErrorResponse();       // 500 text/plain "Internal Server Error"
HTTPResponse serviceUnavailableResponse();  // 503 text/plain "Service Unavailable"

// Limits against hostile local traffic: a head (through its blank line) over maxHeadBytes, or a Content-Length
// over maxBodyBytes, is refused.
struct RequestLimits {
    std::size_t maxHeadBytes = 64 * 1024;
    std::int64_t maxBodyBytes = 16 * 1024 * 1024;
};

enum class ParseStatus {
    incomplete,    // no request yet
    complete,      // a whole request
    headTooLarge,  // no CR LF CR LF within maxHeadBytes
    bodyTooLarge,  // Content-Length over maxBodyBytes (decided as soon as the head is)
    // A whole head that makes no request (not UTF-8, no space after the method) or whose body
    // cannot be read correctly: a Content-Length other than plain digits, two that differ, or any
    // Transfer-Encoding. Also, as soon as it arrives, a line feed in the head without its
    // carriage return.
    badRequest,
};

struct ParseResult {
    ParseStatus status = ParseStatus::incomplete;
    std::optional<HTTPRequest> request;  // present exactly when status is complete
};

// Parses a whole buffer, with the limits. Pure; never throws for any bytes.
ParseResult parseRequest(std::string_view buffer, const RequestLimits& limits = {});

// The same parse fed receive by receive: the search for CR LF CR LF resumes where it stopped, the
// head is parsed once, body bytes are only appended (and bytes past Content-Length dropped), so
// the accumulated buffer is never rescanned. After any feed its status equals that of
// parseRequest() over everything fed so far, until it reaches a final status, which then stays.
class RequestParser {
public:
    explicit RequestParser(RequestLimits limits = {});

    ParseStatus feed(std::string_view bytes);
    ParseStatus status() const { return status_; }
    // The request once status() is complete (moved out: call once).
    HTTPRequest takeRequest();
    // Bytes examined while looking for the end of the head, over all feeds (for tests).
    std::size_t scannedBytes() const { return scanned_; }
    // A usable head has arrived (the body may still be awaited).
    bool headComplete() const { return headComplete_; }
    // That head carried "Expect: 100-continue" (the last Expect line counts).
    bool expectsContinue() const { return expectsContinue_; }
    // Its request line named HTTP/1.1 or later, whose clients skip an interim (1xx) answer they
    // did not ask for.
    bool takesInterimAnswers() const { return takesInterim_; }
    // Once the head is complete: the request so far (its body may still be partial) and the body's
    // announced length and the bytes of it received.
    const HTTPRequest& head() const { return request_; }
    std::size_t contentLength() const { return contentLength_; }
    std::size_t bodyBytesReceived() const { return phase_ == Phase::body ? buffer_.size() : request_.body.size(); }
    // Makes room for the whole announced body at once, so it never holds more than that.
    void reserveBody() {
        if (phase_ == Phase::body) buffer_.reserve(contentLength_);
    }

private:
    enum class Phase { head, body, done };

    void finishHead(std::size_t headLength);
    void completeIfWhole();

    RequestLimits limits_;
    Phase phase_ = Phase::head;
    ParseStatus status_ = ParseStatus::incomplete;
    std::string buffer_;  // the head while it is sought, then only the body
    std::size_t searchFrom_ = 0;
    std::size_t lineFeedsFrom_ = 0;  // the head before it has no bare LF
    std::size_t scanned_ = 0;
    std::size_t contentLength_ = 0;
    bool headComplete_ = false;
    bool expectsContinue_ = false;
    bool takesInterim_ = false;
    HTTPRequest request_;
};

// Percent-decoding as used by queryParams: absent when a "%" is not followed by two hex digits or
// the decoded bytes are not UTF-8. "+" stays "+".
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace corvane::http
