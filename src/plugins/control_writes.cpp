#include "plugins/control_writes.h"

#include "logic/ax_read.h"
#include "logic/logic_inspector.h"
#include "platform/platform.h"

namespace corvane::control_writes {

void restoreValue(const platform::AXElement& control, std::int64_t raw) {
    // A control that takes writes only after several identical ones still ends where it was.
    for (int i = 0; i < 20; ++i) {
        if (ax_read::wholeNumber(control) == std::optional<std::int64_t>(raw)) return;
        if (control.setAttributeValue(platform::ax::kValue, raw) != platform::AXError::success) return;
        platform::pause(0.002);
    }
}

void pressEscapeToLogic() {
    for (const auto& app : platform::workspace().runningApplications()) {
        if (app.bundleIdentifier != std::optional<std::string>(LogicInspector::kLogicBundleIdentifier)) continue;
        platform::input().postKeyToProcess(app.processIdentifier, platform::KeyEvent{53, true, 0, {}});
        platform::input().postKeyToProcess(app.processIdentifier, platform::KeyEvent{53, false, 0, {}});
        return;
    }
}

}  // namespace corvane::control_writes
