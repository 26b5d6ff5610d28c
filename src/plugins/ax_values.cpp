#include "plugins/ax_values.h"

#include <charconv>
#include <cmath>
#include <variant>

#include <fmt/format.h>

#include "platform/platform.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane::plugin_values {

std::string textOf(const platform::AXElement& element, const char* attribute) { return element.string(attribute).value_or(""); }

std::optional<std::int64_t> wholeNumber(const platform::AXElement& element, const char* attribute) {
    platform::AXValue v;
    if (element.copyAttributeValue(attribute, v) != platform::AXError::success) return std::nullopt;
    if (auto* i = std::get_if<std::int64_t>(&v)) return *i;
    if (auto* d = std::get_if<double>(&v)) {
        if (!std::isfinite(*d) || std::trunc(*d) != *d) return std::nullopt;
        // Kept well inside the range so that a neighbour (value + 1) cannot overflow.
        return checkedInteger(*d, INT64_MIN / 4, INT64_MAX / 4);
    }
    return std::nullopt;
}

std::string trimmedBlanks(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return "";
    return std::string(s.substr(first, s.find_last_not_of(" \t") - first + 1));
}

std::string printed(double value) {
    std::string s = fmt::format("{}", value);
    if (s.find_first_of(".en") == std::string::npos) s += ".0";
    return s;
}

std::optional<double> parseDecimal(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<bool> parseBoolean(std::string_view value) {
    const std::string v = text::lowercased(trimmedBlanks(value));
    for (const char* on : {"on", "1", "true", "yes", "enable", "enabled"})
        if (v == on) return true;
    for (const char* off : {"off", "0", "false", "no", "disable", "disabled"})
        if (v == off) return false;
    return std::nullopt;
}

void restoreValue(const platform::AXElement& control, std::int64_t raw) {
    // A control that takes writes only after several identical ones still ends where it was.
    for (int i = 0; i < 20; ++i) {
        if (wholeNumber(control) == std::optional<std::int64_t>(raw)) return;
        if (control.setAttributeValue(platform::ax::kValue, raw) != platform::AXError::success) return;
        platform::pause(0.002);
    }
}

void pressEscapeToLogic() {
    for (const auto& app : platform::workspace().runningApplications()) {
        if (app.bundleIdentifier != std::optional<std::string>("com.apple.logic10")) continue;
        platform::input().postKeyToProcess(app.processIdentifier, platform::KeyEvent{53, true, 0, {}});
        platform::input().postKeyToProcess(app.processIdentifier, platform::KeyEvent{53, false, 0, {}});
        return;
    }
}

}  // namespace corvane::plugin_values
