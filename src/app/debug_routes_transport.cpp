// Diagnostic routes on the transport: reading it, pressing its buttons, moving the playhead and
// reading the arrangement.

#include "app/debug_routes_common.h"
#include "app/route_answers.h"
#include "logic/logic_messages.h"

namespace corvane::app::debug {
namespace {

using Json = nlohmann::json;

HTTPResponse transport(const DebugRequest& request) {
    const auto window = request.logic().findMainWindow();
    if (!window) return errorAnswer(logic_messages::kLogicNotRunning);
    return jsonDictAnswer(request.logic().readTransport(*window));
}

// Only the exact lower-case words pick Stop or Go to Beginning; anything else plays.
HTTPResponse transportControl(const DebugRequest& request) {
    const auto action = request.param("action");
    if (!action) return errorAnswer("Pass ?action=play|stop|go_to_beginning");
    const auto window = request.logic().findMainWindow();
    if (!window) return errorAnswer(logic_messages::kLogicNotRunning);
    const std::string button = *action == "stop" ? "Stop" : *action == "go_to_beginning" ? "Go to Beginning" : "Play";
    const auto outcome = request.logic().clickTransportButton(button, *window);
    return jsonDictAnswer({{"action", *action}, {"success", outcome.success}});
}

HTTPResponse movePlayhead(const DebugRequest& request) {
    const auto bar = request.integer("bar");
    if (!bar) return errorAnswer("Pass ?bar=20");
    const auto window = request.logic().findMainWindow();
    if (!window) return errorAnswer(logic_messages::kLogicNotRunning);
    const auto outcome = request.logic().movePlayhead(*bar, *window);
    return jsonDictAnswer({{"bar", *bar}, {"success", outcome.success}});
}

HTTPResponse arrangement(const DebugRequest& request) {
    const auto window = request.logic().findMainWindow();
    if (!window) return errorAnswer(logic_messages::kLogicNotRunning);
    return jsonArrayAnswer(request.logic().readArrangement(*window, request.param("track")));
}

}  // namespace

const std::vector<Route>& transportRoutes() {
    static const std::vector<Route> routes{
        {"/debug/transport", transport},
        {"/debug/transport-control", transportControl},
        {"/debug/move-playhead", movePlayhead},
        {"/debug/arrangement", arrangement},
    };
    return routes;
}

}  // namespace corvane::app::debug
