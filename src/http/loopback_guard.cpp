#include "http/loopback_guard.h"

#include <array>
#include <string>

#include "support/unicode.h"

namespace corvane::http {

namespace {

std::string asciiLowercased(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The allowed host names, built once.
const std::array<std::string_view, 3>& allowedHostNames() {
    static const std::array<std::string_view, 3> names{"127.0.0.1", "localhost", "::1"};
    return names;
}

bool isAllowedHostName(std::string_view lowercasedName) {
    for (std::string_view allowed : allowedHostNames()) {
        if (lowercasedName == allowed) return true;
    }
    return false;
}

bool isPort(std::string_view digits) {
    if (digits.empty() || digits.size() > 5) return false;
    unsigned value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value <= 65535;
}

}  // namespace

bool isLoopbackHost(std::string_view hostValue) {
    const std::string_view value = text::trimSpacesAndTabs(hostValue);
    std::string_view name = value;
    const std::size_t close = value.find(']');
    if (!value.empty() && value.front() == '[' && close != std::string_view::npos) {
        name = value.substr(1, close - 1);
    } else if (const std::size_t colon = value.find(':'); colon != std::string_view::npos) {
        name = value.substr(0, colon);
    }
    return isAllowedHostName(asciiLowercased(name));
}

bool isLoopbackOrigin(std::string_view originValue) {
    const std::string origin = asciiLowercased(text::trimSpacesAndTabs(originValue));
    constexpr std::string_view kScheme = "http://";
    if (origin.compare(0, kScheme.size(), kScheme) != 0) return false;
    std::string_view authority = std::string_view(origin).substr(kScheme.size());
    std::string_view hostPart;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return false;
        if (authority.substr(1, close - 1) != "::1") return false;
        hostPart = "::1";
        authority.remove_prefix(close + 1);
    } else {
        const std::size_t colon = authority.find(':');
        hostPart = authority.substr(0, colon);
        if (hostPart != "127.0.0.1" && hostPart != "localhost") return false;
        authority.remove_prefix(hostPart.size());
    }
    if (authority.empty()) return true;
    return authority.front() == ':' && isPort(authority.substr(1));
}

std::optional<ForbiddenReason> forbiddenReason(const HTTPRequest& request) {
    if (request.host && !request.host->empty() && !isLoopbackHost(*request.host)) return ForbiddenReason::host;
    if (request.origin && !isLoopbackOrigin(*request.origin)) return ForbiddenReason::origin;
    if (request.secFetchSite && asciiLowercased(text::trimSpacesAndTabs(*request.secFetchSite)) == "cross-site") {
        return ForbiddenReason::secFetchSite;
    }
    return std::nullopt;
}

bool isForbiddenRequest(const HTTPRequest& request) { return forbiddenReason(request).has_value(); }

HTTPResponse forbiddenResponse(ForbiddenReason reason) {
    switch (reason) {
        case ForbiddenReason::origin:
            return {403, "application/json", R"({"error":"Forbidden: non-loopback Origin header"})"};
        case ForbiddenReason::secFetchSite:
            return {403, "application/json", R"({"error":"Forbidden: cross-site Sec-Fetch-Site header"})"};
        case ForbiddenReason::host: break;
    }
    return {403, "application/json", R"({"error":"Forbidden: non-loopback Host header"})"};
}

HTTPResponse forbiddenResponse(const HTTPRequest& request) {
    return forbiddenResponse(forbiddenReason(request).value_or(ForbiddenReason::host));
}

}  // namespace corvane::http
