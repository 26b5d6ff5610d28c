#pragma once

// The "/test/" routes of the loopback API: GET "/test/snapshot", POST "/test/prompt",
// "/test/run" and "/test/suite", answered by the controller's test runner. Every answer, errors
// included, has status 200 and a JSON body; errors are told by an "error" member. (The
// controller turns one away 503 before it gets here while the harness has all the waiting it takes.)
// Once the controller shuts down, a request stopped or not started for it answers 503, with the
// "error" saying so (a run or suite with its result so far).

#include <optional>

#include "http/http_message.h"

namespace corvane::app {

class CompanionController;

// Whether the request is for one of the "/test/" routes (which wait on the harness).
bool isTestRoute(const http::HTTPRequest& request);

// The answer of a "/test/" route, or absent when the request is for none of them (the runner is
// then not created).
std::optional<http::HTTPResponse> handleTestRoute(CompanionController& controller, const http::HTTPRequest& request);

}  // namespace corvane::app
