#pragma once

// How Logic Pro's Accessibility attributes are read everywhere in LogicInspector: an attribute
// that cannot be read, or holds another type, counts as absent (or the empty text).

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "platform/accessibility.h"
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

inline bool startsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace corvane::ax_read
