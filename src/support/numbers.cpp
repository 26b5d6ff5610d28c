#include "support/numbers.h"

#include <fmt/format.h>

namespace corvane {

std::optional<std::int64_t> checkedInteger(double value, std::int64_t lo, std::int64_t hi) {
    if (!std::isfinite(value)) return std::nullopt;
    double t = std::trunc(value);
    // The double nearest INT64_MAX is 2^63, one past it: never let that through to the cast.
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (t >= kTwoTo63 || t < -kTwoTo63) return std::nullopt;
    auto whole = static_cast<std::int64_t>(t);
    if (whole < lo || whole > hi) return std::nullopt;
    return whole;
}

std::optional<std::int64_t> checkedRounded(double value, std::int64_t lo, std::int64_t hi) {
    if (!std::isfinite(value)) return std::nullopt;
    return checkedInteger(std::round(value), lo, hi);
}

std::string formatFixed(double value, int decimals) {
    if (!std::isfinite(value)) return std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
    return fmt::format("{:.{}f}", value, decimals);
}

}  // namespace corvane
