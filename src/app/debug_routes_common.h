#pragma once

// What the diagnostic route groups share: the request's parameters with their checked readings,
// the track selection and the slot selection.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/route_answers.h"
#include "logic/logic_inspector.h"

namespace corvane {
class LogicDiagnostics;
}

namespace corvane::app {

class CompanionController;

namespace debug {

class DebugRequest {
public:
    DebugRequest(CompanionController& controller, const HTTPRequest& request);

    CompanionController& controller() const { return controller_; }
    const LogicInspector& logic() const { return logic_; }
    LogicDiagnostics diagnostics() const;

    // Present only with a non-empty text (the query reading drops empty pairs).
    std::optional<std::string> param(const std::string& name) const;
    // The text, or "" when absent.
    std::string text(const std::string& name) const;
    // A whole-text decimal integer within 64 bits; absent when absent or no number.
    std::optional<std::int64_t> integer(const std::string& name) const;
    // The same, also absent when outside the range of int (the Logic Pro operations take int).
    std::optional<int> smallInteger(const std::string& name) const;
    // A finite decimal real number of the whole text; absent otherwise.
    std::optional<double> real(const std::string& name) const;

private:
    CompanionController& controller_;
    const LogicInspector& logic_;
    std::map<std::string, std::string> query_;
};

using Handler = HTTPResponse (*)(const DebugRequest&);
struct Route {
    const char* path;
    Handler handler;
};

// Select the track and answer "Track not found: <name>" when that fails.
using Selection = std::variant<LogicInspector::SelectedTrack, HTTPResponse>;
Selection selectTrack(const DebugRequest& request, const std::string& name);

// The slot by "index" when in range, else by "plugin" ignoring case; else the answer
// "Plugin not found. Available: " with the numbered slot list.
using SlotChoice = std::variant<LogicInspector::InsertSlot, HTTPResponse>;
SlotChoice chooseSlot(const DebugRequest& request, const platform::AXElement& mainWindow);

// Each group's routes.
const std::vector<Route>& trackRoutes();
const std::vector<Route>& transportRoutes();
const std::vector<Route>& probeRoutes();
const std::vector<Route>& stripRoutes();
const std::vector<Route>& pluginRoutes();
const std::vector<Route>& logRoutes();

}  // namespace debug
}  // namespace corvane::app
