#include "logic/logic_inspector.h"
#include "platform/platform.h"
#include "support/unicode.h"

namespace corvane {

namespace ax = platform::ax;

LogicContextSnapshot LogicInspector::snapshot(bool includeAccessibilityData) const {
    LogicContextSnapshot s;
    auto logic = logicApplication();
    if (!logic) return s;
    s.logicIsRunning = true;
    s.logicIsFrontmost = isFrontmost(logic->processIdentifier);
    if (includeAccessibilityData) s.windows = loadAccessibilityWindows(*logic);
    for (const auto& w : s.windows)
        if (w.isFocused) {
            s.focusedWindowTitle = w.title;
            break;
        }
    s.bundleIdentifier = logic->bundleIdentifier;
    s.appName = logic->localizedName;
    s.processIdentifier = logic->processIdentifier;
    return s;
}

std::vector<WindowSummary> LogicInspector::loadAccessibilityWindows(const platform::RunningApplication& app) const {
    auto element = platform::accessibility().applicationElement(app.processIdentifier);
    auto windows = element.elements(ax::kWindows);
    if (!windows || windows->empty()) return {};
    std::optional<std::string> focusedTitle;
    if (auto focused = element.element(ax::kFocusedWindow)) focusedTitle = focused->string(ax::kTitle);

    std::vector<WindowSummary> out;
    for (const auto& w : *windows) {
        std::optional<std::string> candidate;
        if (auto title = w.string(ax::kTitle)) candidate = text::trimmingWhitespaceAndNewlines(*title);
        auto frame = frameForElement(w);
        WindowSummary summary;
        summary.frame = RectDTO{frame.x, frame.y, frame.width, frame.height};
        summary.title = candidate && !candidate->empty() ? *candidate : "Untitled Window";
        summary.isFocused = candidate ? (focusedTitle && *focusedTitle == *candidate) : !focusedTitle.has_value();
        out.push_back(std::move(summary));
    }
    return out;
}

PermissionSnapshot PermissionService::currentSnapshot() const {
    PermissionSnapshot p;
    p.accessibilityTrusted = platform::accessibility().isProcessTrusted(false);
    p.screenRecordingGranted = platform::screenCapture().preflightScreenRecording();
    return p;
}

}  // namespace corvane
