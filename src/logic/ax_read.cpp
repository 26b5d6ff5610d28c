#include "logic/ax_read.h"

#include <cmath>
#include <variant>

#include <fmt/format.h>

#include "support/numbers.h"
#include "support/regex.h"
#include "support/unicode.h"

namespace corvane::ax_read {

namespace ax = platform::ax;

std::optional<platform::AXValue> valueOf(const platform::AXElement& element, const char* attribute) {
    platform::AXValue v;
    if (element.copyAttributeValue(attribute, v) != platform::AXError::success) return std::nullopt;
    return v;
}

bool gone(const platform::AXElement& element, const std::string& attribute) {
    if (element.refusedAsStale()) return true;
    platform::AXValue v;
    return element.copyAttributeValue(attribute, v) == platform::AXError::invalidUIElement;
}

std::string textOf(const platform::AXElement& element, const char* attribute) {
    return element.string(attribute).value_or("");
}

std::string trimmed(const platform::AXElement& element, const char* attribute) {
    return text::trimmingWhitespaceAndNewlines(textOf(element, attribute));
}

std::optional<std::string> trimmedOrAbsent(const platform::AXElement& element, const char* attribute) {
    auto v = element.string(attribute);
    if (!v) return std::nullopt;
    return text::trimmingWhitespaceAndNewlines(*v);
}

std::optional<std::string> valueText(const platform::AXElement& element) {
    const auto v = valueOf(element);
    if (!v) return std::nullopt;
    if (auto* s = std::get_if<std::string>(&*v)) return *s;
    if (auto* i = std::get_if<std::int64_t>(&*v)) return std::to_string(*i);
    if (auto* b = std::get_if<bool>(&*v)) return std::string(*b ? "1" : "0");
    if (auto* d = std::get_if<double>(&*v)) {
        if (auto whole = checkedInteger(*d, INT64_MIN / 2, INT64_MAX / 2); whole && double(*whole) == *d)
            return std::to_string(*whole);
        return fmt::format("{}", *d);
    }
    return std::nullopt;
}

std::optional<std::int64_t> wholeNumber(const platform::AXElement& element, const char* attribute) {
    const auto v = valueOf(element, attribute);
    if (!v) return std::nullopt;
    if (auto* i = std::get_if<std::int64_t>(&*v)) return *i;
    if (auto* d = std::get_if<double>(&*v)) {
        if (!std::isfinite(*d) || std::trunc(*d) != *d) return std::nullopt;
        return checkedInteger(*d, INT64_MIN / 4, INT64_MAX / 4);
    }
    return std::nullopt;
}

std::string blanksForLineSeparators(std::string s) {
    static const std::string separator = "\u2028";
    for (std::size_t pos; (pos = s.find(separator)) != std::string::npos;) s.replace(pos, separator.size(), " ");
    return s;
}

std::string printed(double value) {
    std::string s = fmt::format("{}", value);
    if (s.find_first_of(".en") == std::string::npos) s += ".0";
    return s;
}

std::optional<bool> parseBoolean(std::string_view value) {
    const std::string v = text::lowercased(text::trimSpacesAndTabs(value));
    for (const char* on : {"on", "1", "true", "yes", "enable", "enabled"})
        if (v == on) return true;
    for (const char* off : {"off", "0", "false", "no", "disable", "disabled"})
        if (v == off) return false;
    return std::nullopt;
}

std::optional<bool> toggleState(const platform::AXElement& toggle) {
    const auto v = valueOf(toggle);
    if (!v) return std::nullopt;
    if (auto* i = std::get_if<std::int64_t>(&*v)) return *i == 1;
    if (auto* d = std::get_if<double>(&*v)) return *d == 1.0;
    if (auto* b = std::get_if<bool>(&*v)) return *b;
    if (auto* s = std::get_if<std::string>(&*v)) return *s == "1" || text::lowercased(*s) == "on";
    return false;
}

std::optional<double> decibelsFromText(const std::string& raw) {
    const std::string shown = text::trimmingWhitespace(raw);
    if (text::lowercased(shown).find("inf") != std::string::npos || shown.find("\u221E") != std::string::npos)
        return -INFINITY;
    static const Regex number(R"([-+]?\d+(\.\d+)?)");
    auto match = number.firstMatch(shown);
    if (!match || !match->groups[0]) return std::nullopt;
    // Digits of other scripts match the pattern but are no number here; nor is an overflow.
    const auto value = readNumber(*match->groups[0]);
    if (!value || !std::isfinite(*value)) return std::nullopt;
    return value;
}

}  // namespace corvane::ax_read
