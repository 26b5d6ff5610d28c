#pragma once

// The diagnostic "/debug/" routes of the loopback API: a developer's window into Logic Pro, each
// route a thin adapter over one or a few Logic Pro, plug-in or tool-log operations. They run on
// the request's own thread, without lock or input shield, and leave Logic Pro as they changed it.

#include <optional>

#include "app/route_answers.h"

namespace corvane::app {

class CompanionController;

// The answer of the diagnostic route at the request's path; absent when no such route exists
// (the caller answers 404). Every answer has status 200, failures included.
std::optional<HTTPResponse> handleDebugRoute(CompanionController& controller, const HTTPRequest& request);

}  // namespace corvane::app
