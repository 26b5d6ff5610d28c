#include "support/numbers.h"

#include <charconv>

#include <fmt/format.h>

namespace corvane {

namespace {
// from_chars takes a "-" but no "+"; a sign must be followed by the number itself.
std::optional<std::string_view> unsigned_part(std::string_view text, bool& negative) {
    negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
    return text;
}
}  // namespace

std::optional<double> readNumber(std::string_view text) {
    bool negative = false;
    const auto digits = unsigned_part(text, negative);
    if (!digits) return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(digits->data(), digits->data() + digits->size(), value);
    // Out of range: strtod's answer (infinity, or zero for an underflow) keeps the sign's meaning.
    if (error == std::errc::result_out_of_range && end == digits->data() + digits->size()) {
        const bool tiny = digits->find_first_of("eE") != std::string_view::npos &&
                          digits->find('-', digits->find_first_of("eE")) != std::string_view::npos;
        value = tiny ? 0.0 : HUGE_VAL;
    } else if (error != std::errc{} || end != digits->data() + digits->size()) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<std::int64_t> readInteger(std::string_view text) {
    bool negative = false;
    const auto digits = unsigned_part(text, negative);
    if (!digits || digits->find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    // Read with the sign so INT64_MIN fits.
    const std::string whole = (negative ? "-" : "") + std::string(*digits);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(whole.data(), whole.data() + whole.size(), value);
    if (error != std::errc{} || end != whole.data() + whole.size()) return std::nullopt;
    return value;
}

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
