#include "plugins/control_writes.h"

#include "logic/ax_read.h"
#include "logic/key_codes.h"
#include "logic/logic_inspector.h"
#include "logic/logic_timing.h"
#include "platform/platform.h"

namespace corvane::control_writes {

void restoreValue(const platform::AXElement& control, std::int64_t raw) {
    // A control that takes writes only after several identical ones still ends where it was.
    for (int i = 0; i < 20; ++i) {
        if (ax_read::wholeNumber(control) == std::optional<std::int64_t>(raw)) return;
        if (control.setAttributeValue(platform::ax::kValue, raw) != platform::AXError::success) return;
        platform::pause(pacing::kControlWriteRetry);
    }
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
