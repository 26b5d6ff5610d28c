#pragma once

// Shared by the tree dumps and the insert-bar probes: how any attribute value is written as text.

#include <string>

#include "platform/accessibility.h"

namespace corvane::detail {

// Texts as they are, numbers in their usual decimal form, anything else described briefly.
std::string axValueText(const platform::AXValue& value);

}  // namespace corvane::detail
