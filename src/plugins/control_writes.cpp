#include "plugins/control_writes.h"

#include "logic/ax_read.h"
#include "logic/key_codes.h"
#include "logic/logic_inspector.h"
#include "logic/logic_timing.h"
#include "platform/platform.h"

namespace corvane::control_writes {

bool restoreValue(const platform::AXElement& held, std::int64_t raw, const ControlAgain& again) {
    platform::AXElement control = held;
    auto foundAgain = [&] {
        auto found = again ? again() : std::nullopt;
        if (found) control = *found;
        return found.has_value();
    };
    // A control that takes writes only after several identical ones still ends where it was.
    for (int i = 0; i < 20; ++i) {
        auto now = ax_read::wholeNumber(control);
        if (!now && ax_read::gone(control) && foundAgain()) now = ax_read::wholeNumber(control);
        if (now == std::optional<std::int64_t>(raw)) return true;
        auto code = control.setAttributeValue(platform::ax::kValue, raw);
        if (code == platform::AXError::invalidUIElement && foundAgain())
            code = control.setAttributeValue(platform::ax::kValue, raw);
        if (code != platform::AXError::success) return false;
        platform::pause(pacing::kControlWriteRetry);
    }
    return ax_read::wholeNumber(control) == std::optional<std::int64_t>(raw);
}

void pressEscapeToLogic() {
    for (const auto& app : platform::workspace().runningApplications()) {
        if (app.bundleIdentifier != std::optional<std::string>(LogicInspector::kLogicBundleIdentifier)) continue;
        platform::input().postKeyToProcess(app.processIdentifier, platform::KeyEvent{key_code::kEscape, true, 0, {}});
        platform::input().postKeyToProcess(app.processIdentifier, platform::KeyEvent{key_code::kEscape, false, 0, {}});
        return;
    }
}

}  // namespace corvane::control_writes
