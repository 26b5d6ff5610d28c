#pragma once

// Shared by the tree dumps and the insert-bar probes: how any attribute value is written as text,
// and frames as {"x", "y", "w", "h"}.

#include <string>

#include <nlohmann/json.hpp>

#include "platform/accessibility.h"
#include "platform/geometry.h"

namespace corvane::detail {

// Texts as they are, numbers in their usual decimal form, anything else described briefly.
std::string axValueText(const platform::AXValue& value);

// Whole numbers, each truncated toward zero or rounded (halves away from zero); a part that is not
// finite is written as 0.
nlohmann::json frameJson(const platform::Rect& frame, bool rounded);

}  // namespace corvane::detail
