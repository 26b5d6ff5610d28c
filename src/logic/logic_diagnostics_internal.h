#pragma once

// For the sources of LogicDiagnostics only: how any attribute value is written as text, frames as
// {"x", "y", "w", "h"}, and the lookups several diagnostics start with.

#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "logic/logic_inspector.h"
#include "platform/accessibility.h"
#include "platform/geometry.h"

namespace corvane::detail {

// Texts as they are, numbers in their usual decimal form, anything else described briefly.
std::string axValueText(const platform::AXValue& value);

// Whole numbers, each truncated toward zero or rounded (halves away from zero); a part that is not
// finite is written as 0.
nlohmann::json frameJson(const platform::Rect& frame, bool rounded);

// Logic Pro's application element; absent when it is not running.
std::optional<platform::AXElement> logicAppElement(const LogicInspector& logic);

// The plug-in window open in front of Logic Pro's main window, with the two elements it was found
// from.
struct OpenPlugin {
    platform::AXElement app;
    platform::AXElement mainWindow;
    platform::AXElement window;
};
// Else the answer naming what is missing: "Logic not running", "Main Logic window not found" or,
// with no plug-in window, `noWindow`.
std::variant<OpenPlugin, nlohmann::json> findOpenPlugin(const LogicInspector& logic, const std::string& noWindow);

}  // namespace corvane::detail
