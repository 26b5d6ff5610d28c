#pragma once

// Who may talk to a loopback server: the Host check that stops DNS-rebinding pages and the
// browser markers that tell a web page's request from a local script's.

#include <optional>
#include <string_view>

#include "http/http_message.h"

namespace corvane::http {

// A Host value (present and not empty) passes when the name it carries, once its port, IPv6
// brackets and case are set aside, is "127.0.0.1", "localhost" or "::1".
bool isLoopbackHost(std::string_view hostValue);

// An Origin value passes only when it is an http origin on 127.0.0.1, localhost or [::1], with an
// optional port: "http://" host [":" digits], nothing else ("null", https, a path, user info and
// every other host fail). Scheme and host are compared ignoring ASCII case.
bool isLoopbackOrigin(std::string_view originValue);

// Why a request must be answered 403 before any handler runs, checked in this order: a present,
// non-empty Host that fails isLoopbackHost, a present Origin that fails isLoopbackOrigin, or a
// Sec-Fetch-Site of "cross-site". None when it may pass.
enum class ForbiddenReason { host, origin, secFetchSite };
std::optional<ForbiddenReason> forbiddenReason(const HTTPRequest& request);
bool isForbiddenRequest(const HTTPRequest& request);

// 403 with a JSON "error" naming the reason, e.g. {"error":"Forbidden: non-loopback Host header"}.
HTTPResponse forbiddenResponse(ForbiddenReason reason);
// The 403 for a request that isForbiddenRequest refuses.
HTTPResponse forbiddenResponse(const HTTPRequest& request);

}  // namespace corvane::http
