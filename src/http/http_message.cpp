#include "http/http_message.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "support/unicode.h"

namespace corvane::http {

namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string asciiLowercased(std::string_view s) {
    std::string out(s.size(), '\0');
    std::transform(s.begin(), s.end(), out.begin(), asciiLower);
    return out;
}

bool equalsIgnoringASCIICase(std::string_view a, std::string_view lowerB) {
    if (a.size() != lowerB.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != lowerB[i]) return false;
    }
    return true;
}

// Digits only (the value already trimmed); absent for anything else, a sign or a list included,
// since a body whose length is not plainly stated cannot be read correctly. A value too large for
// 64 bits saturates, so the body limit refuses it rather than reading the body as empty.
std::optional<std::int64_t> readContentLength(std::string_view value) {
    if (value.empty()) return std::nullopt;
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t number = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        const int digit = c - '0';
        number = number > (kMax - digit) / 10 ? kMax : number * 10 + digit;
    }
    return number;
}

struct ParsedHead {
    HTTPRequest request;  // everything but the body
    std::int64_t contentLength = 0;
    bool expectsContinue = false;
    bool takesInterim = false;  // HTTP/1.1 or later
};

// The request line and headers, over the bytes before CR LF CR LF; absent when they make no
// request or one whose body cannot be delimited by Content-Length alone.
std::optional<ParsedHead> parseHead(std::string_view head) {
    if (!text::isValidUTF8(head)) return std::nullopt;

    std::size_t lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const std::size_t firstSpace = requestLine.find(' ');
    if (firstSpace == std::string_view::npos) return std::nullopt;  // fewer than two pieces
    const std::string_view rest = requestLine.substr(firstSpace + 1);

    ParsedHead parsed;
    parsed.request.method = std::string(requestLine.substr(0, firstSpace));
    parsed.request.path = std::string(rest.substr(0, rest.find(' ')));
    if (const auto afterPath = rest.find(' '); afterPath != std::string_view::npos) {
        const std::string_view version = rest.substr(afterPath + 1);
        parsed.takesInterim = version.starts_with("HTTP/") && version != "HTTP/1.0" && version != "HTTP/0.9";
    }

    std::optional<std::int64_t> contentLength;
    while (lineEnd != std::string_view::npos) {
        const std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string_view line =
            head.substr(start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        const std::string_view name = line.substr(0, colon);
        // Chunked or any other coding: we cannot read it, and guessing invites smuggling (also
        // "Transfer-Encoding : chunked", which some read as that header and others as none).
        if (equalsIgnoringASCIICase(text::trimSpacesAndTabs(name), "transfer-encoding")) return std::nullopt;
        const std::string_view rawValue = line.substr(colon + 1);
        if (name.empty() || rawValue.empty()) continue;
        const std::string_view value = text::trimSpacesAndTabs(rawValue);
        parsed.request.headers[asciiLowercased(name)] = std::string(value);
        if (equalsIgnoringASCIICase(name, "content-length")) {
            const auto length = readContentLength(value);
            if (!length || (contentLength && *contentLength != *length)) return std::nullopt;
            contentLength = length;
        } else if (equalsIgnoringASCIICase(name, "expect")) {
            parsed.expectsContinue = equalsIgnoringASCIICase(value, "100-continue");
        } else if (equalsIgnoringASCIICase(name, "host")) {
            parsed.request.host = std::string(value);
        } else if (equalsIgnoringASCIICase(name, "origin")) {
            parsed.request.origin = std::string(value);
        } else if (equalsIgnoringASCIICase(name, "sec-fetch-site")) {
            parsed.request.secFetchSite = std::string(value);
        }
    }
    parsed.contentLength = contentLength.value_or(0);
    return parsed;
}

// A line feed without its carriage return, from `from` to `to` (positions in the whole head).
// Such a head can never be read as its sender meant it: a client ending its lines in LF alone
// would otherwise wait, unanswered, for a blank line that never comes.
bool hasBareLineFeed(std::string_view head, std::size_t from, std::size_t to) {
    for (std::size_t i = head.find('\n', from); i < to; i = head.find('\n', i + 1)) {
        if (i == 0 || head[i - 1] != '\r') return true;
    }
    return false;
}

// How much of the buffer belongs to the head as far as can be told: through its blank line, or
// all of it, never past the head's bound.
std::size_t headScope(std::string_view buffer, std::size_t end, std::size_t maxHeadBytes) {
    return std::min(end == std::string_view::npos ? buffer.size() : end + kHeadEnd.size(), maxHeadBytes);
}

bool bodyLengthRefused(std::int64_t contentLength, const RequestLimits& limits) {
    return contentLength < 0 || contentLength > limits.maxBodyBytes;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Appends `s` without its CR and LF bytes (no answer may carry a header it did not mean to).
void appendWithoutLineBreaks(std::string& out, std::string_view s) {
    for (char c : s) {
        if (c != '\r' && c != '\n') out.push_back(c);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// HTTPRequest

std::optional<std::string> HTTPRequest::header(std::string_view lowerCaseName) const {
    const auto found = headers.find(std::string(lowerCaseName));
    if (found == headers.end()) return std::nullopt;
    return found->second;
}

std::string HTTPRequest::routePath() const { return path.substr(0, path.find('?')); }

std::map<std::string, std::string> HTTPRequest::queryParams() const {
    std::map<std::string, std::string> params;
    const std::size_t mark = path.find('?');
    if (mark == std::string::npos) return params;
    std::string_view query = std::string_view(path).substr(mark + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (piece.empty()) continue;
        const std::size_t eq = piece.find('=');
        if (eq == std::string_view::npos) continue;  // one part only
        const std::string_view key = piece.substr(0, eq);
        const std::string_view value = piece.substr(eq + 1);
        if (key.empty() || value.empty()) continue;  // an empty part is dropped: one part left
        params[percentDecode(key).value_or(std::string(key))] = percentDecode(value).value_or(std::string(value));
    }
    return params;
}

// ---------------------------------------------------------------------------------------------
// HTTPResponse

std::string_view reasonPhrase(int statusCode) {
    switch (statusCode) {
        case 200: return "OK";
        case 201: return "Created";
        case 202: return "Accepted";
        case 204: return "No Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 304: return "Not Modified";
        case 400: return "Bad Request";
        case 401: return "Unauthorized";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 408: return "Request Timeout";
        case 409: return "Conflict";
        case 411: return "Length Required";
        case 413: return "Payload Too Large";
        case 415: return "Unsupported Media Type";
        case 422: return "Unprocessable Content";
        case 429: return "Too Many Requests";
        case 431: return "Request Header Fields Too Large";
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 502: return "Bad Gateway";
        case 503: return "Service Unavailable";
        case 504: return "Gateway Timeout";
        default: break;
    }
    // A status of no name of its own is named by its class, never by another class's phrase.
    switch (statusCode / 100) {
        case 1: return "Informational";
        case 2: return "Success";
        case 3: return "Redirection";
        case 4: return "Client Error";
        case 5: return "Server Error";
        default: return "Status";
    }
}

std::string serializeResponse(const HTTPResponse& response) {
    return serializeResponse(response, reasonPhrase(response.statusCode));
}

std::string serializeResponse(const HTTPResponse& response, std::string_view reason) {
    std::string out;
    out.reserve(96 + reason.size() + response.contentType.size() + response.body.size());
    out += "HTTP/1.1 ";
    out += std::to_string(response.statusCode);
    out += ' ';
    appendWithoutLineBreaks(out, reason);
    // A 204 carries no content and must not announce any, even as a length of 0 (its body, if
    // given, is not sent).
    const bool content = response.statusCode != 204;
    if (content) {
        out += "\r\nContent-Type: ";
        appendWithoutLineBreaks(out, response.contentType);
        out += "\r\nContent-Length: ";
        out += std::to_string(response.body.size());
    }
    out += "\r\nConnection: close\r\n";
    for (const auto& [name, value] : response.headers) {
        const bool token = !name.empty() && std::all_of(name.begin(), name.end(),
                                                        [](unsigned char c) { return std::isalnum(c) || c == '-'; });
        if (!token) continue;
        out += name;
        out += ": ";
        appendWithoutLineBreaks(out, value);
        out += "\r\n";
    }
    out += "\r\n";
    if (content) out += response.body;
    return out;
}

HTTPResponse badRequestResponse() { return {400, "text/plain", "Bad Request"}; }

HTTPResponse payloadTooLargeResponse() { return {413, "text/plain", "Payload Too Large"}; }

HTTPResponse internalErrorResponse() { return {500, "text/plain", "Internal Server Error"}; }

HTTPResponse serviceUnavailableResponse() { return {503, "text/plain", "Service Unavailable"}; }

// ---------------------------------------------------------------------------------------------
// Parsing

ParseResult parseRequest(std::string_view buffer, const RequestLimits& limits) {
    const std::size_t end = buffer.find(kHeadEnd);
    if (hasBareLineFeed(buffer, 0, headScope(buffer, end, limits.maxHeadBytes))) {
        return {ParseStatus::badRequest, std::nullopt};
    }
    if (end == std::string_view::npos) {
        // The head, through its blank line, will be at least one byte longer than the buffer.
        return {buffer.size() >= limits.maxHeadBytes ? ParseStatus::headTooLarge : ParseStatus::incomplete,
                std::nullopt};
    }
    if (end + kHeadEnd.size() > limits.maxHeadBytes) return {ParseStatus::headTooLarge, std::nullopt};
    auto head = parseHead(buffer.substr(0, end));
    if (!head) return {ParseStatus::badRequest, std::nullopt};
    if (bodyLengthRefused(head->contentLength, limits)) return {ParseStatus::bodyTooLarge, std::nullopt};
    const std::string_view available = buffer.substr(end + kHeadEnd.size());
    const auto length = static_cast<std::size_t>(head->contentLength);
    if (available.size() < length) return {};
    head->request.body = std::string(available.substr(0, length));
    return {ParseStatus::complete, std::move(head->request)};
}

RequestParser::RequestParser(RequestLimits limits) : limits_(limits) {}

ParseStatus RequestParser::feed(std::string_view bytes) {
    switch (phase_) {
        case Phase::done: return status_;
        case Phase::body: {
            const std::size_t wanted = contentLength_ - buffer_.size();
            buffer_.append(bytes.substr(0, wanted));  // bytes past Content-Length are ignored
            completeIfWhole();
            return status_;
        }
        case Phase::head: break;
    }

    buffer_.append(bytes);
    const std::string_view view(buffer_);
    const std::size_t end = view.find(kHeadEnd, searchFrom_);
    scanned_ += view.size() - std::min(searchFrom_, view.size());
    const std::size_t scope = headScope(view, end, limits_.maxHeadBytes);
    if (hasBareLineFeed(view, lineFeedsFrom_, scope)) {
        status_ = ParseStatus::badRequest;
        phase_ = Phase::done;
        std::string().swap(buffer_);
        return status_;
    }
    lineFeedsFrom_ = std::max(lineFeedsFrom_, scope);
    if (end == std::string_view::npos) {
        if (buffer_.size() >= limits_.maxHeadBytes) {
            status_ = ParseStatus::headTooLarge;
            phase_ = Phase::done;
            std::string().swap(buffer_);
        } else {
            // A CR LF CR LF may straddle this receive and the next one.
            constexpr std::size_t kOverlap = kHeadEnd.size() - 1;
            searchFrom_ = buffer_.size() > kOverlap ? buffer_.size() - kOverlap : 0;
        }
        return status_;
    }
    if (end + kHeadEnd.size() > limits_.maxHeadBytes) {
        status_ = ParseStatus::headTooLarge;
        phase_ = Phase::done;
        std::string().swap(buffer_);
        return status_;
    }
    finishHead(end);
    return status_;
}

void RequestParser::finishHead(std::size_t headLength) {
    auto head = parseHead(std::string_view(buffer_).substr(0, headLength));
    if (!head) {
        status_ = ParseStatus::badRequest;
        phase_ = Phase::done;
        std::string().swap(buffer_);
        return;
    }
    if (bodyLengthRefused(head->contentLength, limits_)) {
        status_ = ParseStatus::bodyTooLarge;
        phase_ = Phase::done;
        std::string().swap(buffer_);
        return;
    }
    request_ = std::move(head->request);
    expectsContinue_ = head->expectsContinue;
    takesInterim_ = head->takesInterim;
    headComplete_ = true;
    contentLength_ = static_cast<std::size_t>(head->contentLength);
    buffer_.erase(0, headLength + kHeadEnd.size());
    if (buffer_.size() > contentLength_) buffer_.resize(contentLength_);
    phase_ = Phase::body;
    completeIfWhole();
}

void RequestParser::completeIfWhole() {
    if (buffer_.size() < contentLength_) return;
    request_.body = std::move(buffer_);
    buffer_.clear();
    status_ = ParseStatus::complete;
    phase_ = Phase::done;
}

HTTPRequest RequestParser::takeRequest() { return std::move(request_); }

// ---------------------------------------------------------------------------------------------
// Text helpers

std::optional<std::string> percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (text.size() - i < 3) return std::nullopt;  // "%" needs two more characters
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    if (!text::isValidUTF8(out)) return std::nullopt;
    return out;
}

}  // namespace corvane::http
