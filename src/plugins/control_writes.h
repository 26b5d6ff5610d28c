#pragma once

// Small writes shared by the plug-in writers.

#include <cstdint>

#include "platform/accessibility.h"

namespace corvane::control_writes {

// Puts a control back to a raw value it held, writing until it reads back (a bounded number of times).
void restoreValue(const platform::AXElement& control, std::int64_t raw);

// Escape (key down and up) to Logic Pro's process, as a user dismissing an open menu; nothing when
// Logic Pro is not running.
void pressEscapeToLogic();

}  // namespace corvane::control_writes
