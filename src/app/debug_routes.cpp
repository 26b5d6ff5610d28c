#include "app/debug_routes.h"

#include <climits>
#include <cmath>
#include <string_view>
#include <unordered_map>

#include "app/companion_controller.h"
#include "app/debug_routes_common.h"
#include "app/route_answers.h"
#include "logic/logic_diagnostics.h"
#include "logic/logic_messages.h"
#include "support/numbers.h"

namespace corvane::app {
namespace debug {

DebugRequest::DebugRequest(CompanionController& controller, const HTTPRequest& request)
    : controller_(controller), logic_(controller.logicInspector()), query_(request.queryParams()) {}

LogicDiagnostics DebugRequest::diagnostics() const { return LogicDiagnostics(logic_); }

std::optional<std::string> DebugRequest::param(const std::string& name) const {
    const auto found = query_.find(name);
    if (found == query_.end() || found->second.empty()) return std::nullopt;
    return found->second;
}

std::string DebugRequest::text(const std::string& name) const { return param(name).value_or(""); }

std::optional<std::int64_t> DebugRequest::integer(const std::string& name) const {
    const auto value = param(name);
    return value ? parseIntegerQuery(*value) : std::nullopt;
}

std::optional<int> DebugRequest::smallInteger(const std::string& name) const {
    const auto value = integer(name);
    if (!value || *value < INT_MIN || *value > INT_MAX) return std::nullopt;
    return static_cast<int>(*value);
}

std::optional<double> DebugRequest::real(const std::string& name) const {
    const auto value = param(name);
    const auto number = value ? readNumber(*value) : std::nullopt;
    // Infinity and not-a-number read but could never be written back as JSON.
    if (!number || !std::isfinite(*number)) return std::nullopt;
    return number;
}

Selection selectTrack(const DebugRequest& request, const std::string& name) {
    auto selected = request.logic().selectTrack(name);
    if (!selected) return errorAnswer(logic_messages::trackNotFound(name));
    return std::move(*selected);
}

SlotChoice chooseSlot(const DebugRequest& request, const platform::AXElement& mainWindow) {
    auto slots = request.logic().findTrackPluginSlots(mainWindow);
    if (const auto index = request.integer("index"); index && *index >= 0 && *index < std::ssize(slots))
        return slots[static_cast<std::size_t>(*index)];
    if (const auto byName = slotIndexByName(slots, request.text("plugin"))) {
        if (request.param("plugin")) return slots[*byName];
    }
    return errorAnswer("Plugin not found. Available: " + numberedSlotList(slots));
}

}  // namespace debug

std::optional<HTTPResponse> handleDebugRoute(CompanionController& controller, const HTTPRequest& request) {
    static const auto table = [] {
        std::unordered_map<std::string_view, debug::Handler> routes;
        for (const auto* group : {&debug::trackRoutes(), &debug::transportRoutes(), &debug::probeRoutes(),
                                  &debug::stripRoutes(), &debug::pluginRoutes(), &debug::logRoutes()})
            for (const auto& route : *group) routes.emplace(route.path, route.handler);
        return routes;
    }();
    const auto found = table.find(request.routePath());
    if (found == table.end()) return std::nullopt;
    return found->second(debug::DebugRequest(controller, request));
}

}  // namespace corvane::app
