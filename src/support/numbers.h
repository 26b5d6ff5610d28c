#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The one reader of numbers in text above platform/, which sits below this folder and reads its
// own with std::from_chars (scripts/check-includes refuses any other reader). It ignores the
// process locale (the window sets it from the user's environment, where strtod would want a
// decimal comma). The whole text is the number:
// an optional "+" or "-", then digits with an optional fraction and exponent, or "inf",
// "infinity" or "nan" in any case; no blanks, no hexadecimal. Callers refuse non-finite values
// where they mean nothing.
std::optional<double> readNumber(std::string_view text);
// An optional "+" or "-", then decimal digits only, within int64.
std::optional<std::int64_t> readInteger(std::string_view text);

// A double converted to an integer only when it is finite and, truncated toward zero, lies in
// [lo, hi]; otherwise absent (never undefined behaviour).
std::optional<std::int64_t> checkedInteger(double value, std::int64_t lo = INT32_MIN, std::int64_t hi = INT32_MAX);
// Same, rounding halves away from zero.
std::optional<std::int64_t> checkedRounded(double value, std::int64_t lo = INT32_MIN, std::int64_t hi = INT32_MAX);

// Locale-independent fixed formatting: formatFixed(-14.25, 1) == "-14.2" or "-14.3" as IEEE rounding gives.
std::string formatFixed(double value, int decimals);

}  // namespace corvane
