#pragma once

// Small writes shared by the plug-in writers.

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/accessibility.h"

namespace corvane::control_writes {

// The control found anew, where Logic Pro rebuilt it and the handle held no longer answers.
using ControlAgain = std::function<std::optional<platform::AXElement>()>;

// Puts a control back to a raw value it held, writing until it reads back (a bounded number of
// times), through the control found again when its handle stops answering. True when it reads back.
bool restoreValue(const platform::AXElement& control, std::int64_t raw, const ControlAgain& again = {});

// Escape (key down and up) to Logic Pro's process, as a user dismissing an open menu; nothing when
// Logic Pro is not running.
void pressEscapeToLogic();

}  // namespace corvane::control_writes
