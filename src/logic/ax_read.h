#pragma once

// How Logic Pro's Accessibility attributes are read everywhere in LogicInspector: an attribute
// that cannot be read, or holds another type, counts as absent (or the empty text).

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "platform/accessibility.h"
#include "support/regex.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane::ax_read {

inline std::string textOf(const platform::AXElement& e, const char* attribute) {
    return e.string(attribute).value_or("");
}

// Trimmed of white space and line breaks.
inline std::string trimmed(const platform::AXElement& e, const char* attribute) {
    return text::trimmingWhitespaceAndNewlines(textOf(e, attribute));
}

inline std::optional<std::string> trimmedOrAbsent(const platform::AXElement& e, const char* attribute) {
    auto v = e.string(attribute);
    if (!v) return std::nullopt;
    return text::trimmingWhitespaceAndNewlines(*v);
}

// AXValue in its plain textual form: text as it is, whole numbers without a point, check
// boxes as "1"/"0"; absent when unreadable or of another kind.
inline std::optional<std::string> valueText(const platform::AXElement& e) {
    platform::AXValue v;
    if (e.copyAttributeValue(platform::ax::kValue, v) != platform::AXError::success) return std::nullopt;
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    if (auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (auto* b = std::get_if<bool>(&v)) return std::string(*b ? "1" : "0");
    if (auto* d = std::get_if<double>(&v)) {
        if (auto whole = checkedInteger(*d, INT64_MIN / 2, INT64_MAX / 2); whole && double(*whole) == *d)
            return std::to_string(*whole);
        return fmt::format("{}", *d);
    }
    return std::nullopt;
}

// AXValue as a whole number; fractions, text and unreadable values are absent.
inline std::optional<std::int64_t> wholeValue(const platform::AXElement& e) {
    platform::AXValue v;
    if (e.copyAttributeValue(platform::ax::kValue, v) != platform::AXError::success) return std::nullopt;
    if (auto* i = std::get_if<std::int64_t>(&v)) return *i;
    if (auto* d = std::get_if<double>(&v)) {
        auto whole = checkedInteger(*d, INT64_MIN / 2, INT64_MAX / 2);
        if (whole && double(*whole) == *d) return whole;
    }
    return std::nullopt;
}

// A level as Logic Pro shows it ("-6.0 dB", "+2.5", "-∞"): the first number in the text, or
// minus infinity for an infinite level; absent when there is no number.
inline std::optional<double> decibelsFromText(const std::string& raw) {
    const std::string shown = text::trimmingWhitespace(raw);
    if (text::lowercased(shown).find("inf") != std::string::npos || shown.find("\u221E") != std::string::npos)
        return -INFINITY;
    static const Regex number(R"([-+]?\d+(\.\d+)?)");
    auto match = number.firstMatch(shown);
    if (!match || !match->groups[0]) return std::nullopt;
    std::string digits = *match->groups[0];
    if (digits.front() == '+') digits.erase(0, 1);
    double value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    // Digits of other scripts match the pattern but are no number here; nor is an overflow.
    if (error != std::errc() || end != digits.data() + digits.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

inline bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace corvane::ax_read
