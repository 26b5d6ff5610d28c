#include <algorithm>
#include <optional>
#include <string>
#include <variant>
#include <vector>

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

namespace {

// One attribute of a batched read, typed as AXElement's own reads type it.
template <class T>
std::optional<T> typedRead(const std::vector<platform::AXRead>& reads, std::size_t at) {
    if (at >= reads.size() || reads[at].error != platform::AXError::success) return std::nullopt;
    if (const auto* value = std::get_if<T>(&reads[at].value)) return *value;
    return std::nullopt;
}

// The attributes in one round trip to Logic Pro (the health check reads every window).
std::vector<platform::AXRead> readBatch(const platform::AXElement& element, const std::vector<std::string>& names) {
    std::vector<platform::AXRead> reads;
    if (!element || element.impl()->copyMultipleAttributeValues(names, reads) != platform::AXError::success)
        reads.clear();
    return reads;
}

// A title trimmed of Unicode white space and line breaks. A printable ASCII title with no blank at
// either end (most of them) is its own trimmed form; only others go the full Unicode way.
std::string trimmedTitle(const std::string& title) {
    const bool plain = !title.empty() && title.front() != ' ' && title.back() != ' ' &&
                       std::all_of(title.begin(), title.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    return plain ? title : text::trimmingWhitespaceAndNewlines(title);
}

}  // namespace

std::vector<WindowSummary> LogicInspector::loadAccessibilityWindows(const platform::RunningApplication& app) const {
    static const std::vector<std::string> kAppAttributes{ax::kWindows, ax::kFocusedWindow};
    static const std::vector<std::string> kTitleOnly{ax::kTitle};
    static const std::vector<std::string> kWindowAttributes{ax::kTitle, ax::kPosition, ax::kSize};

    auto element = platform::accessibility().applicationElement(app.processIdentifier);
    const auto appReads = readBatch(element, kAppAttributes);
    auto windows = typedRead<std::vector<platform::AXElement>>(appReads, 0);
    if (!windows || windows->empty()) return {};
    std::optional<std::string> focusedTitle;
    if (auto focused = typedRead<platform::AXElement>(appReads, 1); focused && *focused)
        focusedTitle = typedRead<std::string>(readBatch(*focused, kTitleOnly), 0);

    std::vector<WindowSummary> out;
    out.reserve(windows->size());
    for (const auto& w : *windows) {
        const auto reads = readBatch(w, kWindowAttributes);
        std::optional<std::string> candidate;
        if (auto title = typedRead<std::string>(reads, 0)) candidate = trimmedTitle(*title);
        const auto position = typedRead<platform::Point>(reads, 1).value_or(platform::Point{});
        const auto size = typedRead<platform::Size>(reads, 2).value_or(platform::Size{});
        WindowSummary summary;
        summary.frame = RectDTO{position.x, position.y, size.width, size.height};
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
