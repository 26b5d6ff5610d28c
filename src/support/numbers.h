#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

namespace corvane {

// A double converted to an integer only when it is finite and, truncated toward zero, lies in
// [lo, hi]; otherwise absent (never undefined behaviour).
std::optional<std::int64_t> checkedInteger(double value, std::int64_t lo = INT32_MIN, std::int64_t hi = INT32_MAX);
// Same, rounding halves away from zero.
std::optional<std::int64_t> checkedRounded(double value, std::int64_t lo = INT32_MIN, std::int64_t hi = INT32_MAX);

// Locale-independent fixed formatting: formatFixed(-14.25, 1) == "-14.2" or "-14.3" as IEEE rounding gives.
std::string formatFixed(double value, int decimals);

}  // namespace corvane
