#include "support/numbers.h"

#include <fmt/format.h>

namespace corvane {

std::optional<std::int64_t> checkedInteger(double value, std::int64_t lo, std::int64_t hi) {
    if (!std::isfinite(value)) return std::nullopt;
    double t = std::trunc(value);
    if (t < static_cast<double>(lo) || t > static_cast<double>(hi)) return std::nullopt;
    return static_cast<std::int64_t>(t);
}

std::optional<std::int64_t> checkedRounded(double value, std::int64_t lo, std::int64_t hi) {
    if (!std::isfinite(value)) return std::nullopt;
    return checkedInteger(std::round(value), lo, hi);
}

std::string formatFixed(double value, int decimals) {
    if (!std::isfinite(value)) return std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
    return fmt::format("{:.{}f}", value, decimals);
}

nlohmann::json jsonNumber(double value) {
    if (!std::isfinite(value)) return nullptr;
    return value;
}

void setFinite(nlohmann::json& object, const std::string& key, double value) {
    if (std::isfinite(value)) object[key] = value;
}

}  // namespace corvane
