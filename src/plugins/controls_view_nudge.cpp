// Slider writes through the Controls view: a nudge that watches the numeric read-out until it shows
// the requested value in the requested unit, or a raw write for sliders without a read-out.

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "logic/ax_read.h"
#include "logic/logic_timing.h"
#include "platform/platform.h"
#include "plugins/control_writes.h"
#include "plugins/controls_view_fallback.h"
#include "support/numbers.h"
#include "support/regex.h"
#include "support/unicode.h"

namespace corvane {

namespace ax = platform::ax;
using ax_read::printed;
using ax_read::textOf;
using ax_read::wholeNumber;
using Result = ControlsViewFallback::Result;

namespace {

std::optional<ControlsViewFallback::ParsedValue> readout(const platform::AXElement& r) {
    auto described = r.string(ax::kValueDescription);
    if (!described) return std::nullopt;
    return ControlsViewFallback::parseValueAndUnit(*described);
}

// The read-out's value converted to the target's canonical unit (its own unit decides the scale).
std::optional<double> canonicalReading(const platform::AXElement& r) {
    auto reading = readout(r);
    if (!reading) return std::nullopt;
    return ControlsViewFallback::toCanonical(reading->value, reading->unit);
}

void writeRaw(const platform::AXElement& slider, std::int64_t raw) { slider.setAttributeValue(ax::kValue, raw); }

// After each pause both the slider's raw value and the read-out's text are read; when the slider
// is its own read-out, both come in one round trip.
void readBoth(const platform::AXElement& main, const platform::AXElement& readoutSlider) {
    if (main == readoutSlider) main.prefetch({ax::kValue, ax::kValueDescription});
}

std::string shownText(const platform::AXElement& r) {
    auto reading = readout(r);
    if (!reading) return "";
    return printed(reading->value) + " " + reading->unit;
}

}  // namespace

Result ControlsViewFallback::writeSlider(const AXElement& main, const std::optional<AXElement>& readoutSlider,
                                         const std::string& label, const std::string& value,
                                         std::optional<std::string>* changedWhenStopped) {
    const auto shownNow = [&]() -> std::optional<std::string> {
        if (readoutSlider)
            if (auto described = readoutSlider->string(ax::kValueDescription)) return described;
        if (auto raw = wholeNumber(main)) return std::to_string(*raw);
        return std::nullopt;
    };
    const std::optional<std::string> before = shownNow();
    try {
        return writeSliderTo(main, readoutSlider, label, value, before);
    } catch (const platform::PauseStopped&) {
        // Stopped between its writes: the slider shows where they left it.
        if (const auto now = shownNow(); changedWhenStopped && now != before)
            *changedWhenStopped = label + ": " + before.value_or("?") + " \u2192 " + now.value_or("?");
        throw;
    }
}

Result ControlsViewFallback::writeSliderTo(const AXElement& main, const std::optional<AXElement>& readoutSlider,
                                           const std::string& label, const std::string& value,
                                           const std::optional<std::string>& before) {
    const auto parsed = parseValueAndUnit(value);
    if (parsed && readoutSlider) return nudgeToTarget(main, *readoutSlider, label, parsed->value, parsed->unit, before);
    std::optional<std::int64_t> target;
    if (parsed)
        target = checkedInteger(parsed->value, INT64_MIN / 4, INT64_MAX / 4);
    else if (const auto whole = readInteger(value); whole && *whole >= INT64_MIN / 4 && *whole <= INT64_MAX / 4)
        target = whole;
    if (!target) return {false, "Invalid value '" + value + "' for " + label, before};
    return writeSliderRaw(main, label, *target, before);
}

Result ControlsViewFallback::nudgeToTarget(const AXElement& main, const AXElement& readoutSlider,
                                           const std::string& label, double t, const std::string& u,
                                           const std::optional<std::string>& B) {
    const std::string was = " (was " + B.value_or("?") + ")";
    const double target = toCanonical(t, u);
    const std::string cu = canonicalUnit(u);
    const double tol = canonicalTolerance(cu);
    const auto first = readout(readoutSlider);
    if (!first) return {false, label + " readout has no AXValueDescription", B};
    if (canonicalUnit(first->unit) != cu)
        return {false, "Unit mismatch: " + label + " reads as " + first->unit + ", target is " + u, B};
    const double cur = toCanonical(first->value, first->unit);
    if (std::fabs(cur - target) <= tol) return {true, label + " already " + formatCanonical(cur, cu), B};

    const auto original = wholeNumber(main);
    const std::int64_t r0 = original.value_or(0);
    // Whatever happens below, a failure leaves the parameter where the user had it.
    auto putBack = [&] {
        if (original) control_writes::restoreValue(main, *original);
    };

    // Which way does the display move when the raw value goes up?
    bool normal = true;
    writeRaw(main, r0 + 5);
    platform::pause(pacing::kNudgeSettles);
    readBoth(main, readoutSlider);
    const auto p = canonicalReading(readoutSlider);
    if (!p) {
        putBack();
        return {false, "Probe failed for " + label, B};
    }
    if (*p > cur + 0.1 * tol)
        normal = true;
    else if (*p < cur - 0.1 * tol)
        normal = false;
    else {
        writeRaw(main, r0 - 5);
        platform::pause(pacing::kNudgeSettles);
        const auto q = canonicalReading(readoutSlider);
        if (q && *q < cur - 0.1 * tol)
            normal = true;
        else if (q && *q > cur + 0.1 * tol)
            normal = false;
        else {
            putBack();
            return {false, label + " doesn't respond to AX writes", B};
        }
    }

    double best = canonicalReading(readoutSlider).value_or(0);
    std::int64_t bestRaw = wholeNumber(main).value_or(0);
    double last = best;
    std::int64_t step = 10;
    bool stepOneCrossed = false;
    int unchanged = 0;
    for (int budget = 300; budget > 0; --budget) {
        const auto v = canonicalReading(readoutSlider);
        if (!v) break;
        const std::int64_t raw = wholeNumber(main).value_or(0);
        if (std::fabs(*v - target) < std::fabs(best - target)) {
            best = *v;
            bestRaw = raw;
        }
        if (std::fabs(*v - target) <= tol) return {true, "Set " + label + " to " + formatCanonical(*v, cu) + was, B};
        if ((last - target) * (*v - target) < 0) {
            if (step >= 2)
                step /= 2;
            else if (!stepOneCrossed)
                stepOneCrossed = true;
            else {
                // Crossed twice at the finest step: the target lies between two positions.
                writeRaw(main, bestRaw);
                platform::pause(pacing::kNudgeSettles);
                std::string shown = shownText(readoutSlider);
                if (shown.empty()) shown = formatCanonical(best, cu);
                return {true, "Set " + label + " to " + shown + " (closest to " + printed(t) + " " + u + ")" + was, B};
            }
        }
        const bool up = normal ? *v < target : *v >= target;
        writeRaw(main, up ? raw + step : raw - step);
        platform::pause(pacing::kNudgeStep);
        readBoth(main, readoutSlider);
        const auto moved = wholeNumber(main);
        if (moved && *moved != raw)
            unchanged = 0;
        else if (++unchanged >= 3) {
            if (step == 1) break;
            step = 1;
            unchanged = 0;
        }
        last = *v;
    }
    writeRaw(main, bestRaw);
    std::string shown = shownText(readoutSlider);
    if (shown.empty()) shown = "?";
    if (std::fabs(best - target) <= 2 * tol) return {true, "Set " + label + " to " + shown + was, B};
    putBack();
    return {false, "Could not reach " + printed(t) + " " + u + " for " + label + ". Closest was " + shown + ".", B};
}

Result ControlsViewFallback::writeSliderRaw(const AXElement& main, const std::string& label, std::int64_t T,
                                            const std::optional<std::string>& B) {
    const std::string was = " (was " + B.value_or("?") + ")";
    const auto original = wholeNumber(main);
    auto putBack = [&] {
        if (original) control_writes::restoreValue(main, *original);
    };
    auto finalCheck = [&]() -> Result {
        const auto v = wholeNumber(main);
        if (v && std::llabs(*v - T) <= 1) return {true, "Set " + label + " to " + std::to_string(*v) + was, B};
        putBack();
        return {false, "Could not reach " + std::to_string(T) + " for " + label, B};
    };
    if (!original) return finalCheck();
    if (*original == T) return {true, "Set " + label + " to " + std::to_string(T) + was, B};
    auto writeOnce = [&]() -> std::optional<Result> {
        const auto code = main.setAttributeValue(ax::kValue, T);
        if (code == platform::AXError::success) return std::nullopt;
        putBack();
        return Result{false, "AX write failed for " + label + " (error " + std::to_string(platform::code(code)) + ")",
                      B};
    };
    if (auto failed = writeOnce()) return *failed;
    platform::pause(pacing::kControlWriteRetry);
    std::optional<std::int64_t> previous = original;
    int same = 0;
    for (int i = 0; i < 499; ++i) {
        const auto v = wholeNumber(main);
        if (!v) return finalCheck();
        if (*v == T) return {true, "Set " + label + " to " + std::to_string(T) + was, B};
        if (previous && *v == *previous) {
            if (same >= 9) {
                putBack();
                return {false,
                        label + " stuck at " + std::to_string(*v) + "; target " + std::to_string(T) +
                            " is likely out of range",
                        B};
            }
            ++same;
        } else {
            same = 0;
        }
        previous = v;
        if (auto failed = writeOnce()) return *failed;
        platform::pause(pacing::kControlWriteRetry);
    }
    return finalCheck();
}

std::optional<ControlsViewFallback::ParsedValue> ControlsViewFallback::parseValueAndUnit(const std::string& input) {
    std::string s = input;
    s.erase(std::remove(s.begin(), s.end(), ','), s.end());
    static const Regex pattern("(-?\\d+\\.?\\d*)\\s*([a-zA-Z%]+|:1)?");
    const auto match = pattern.firstMatch(s);
    if (!match || !match->groups[1]) return std::nullopt;
    const auto number = readNumber(*match->groups[1]);
    if (!number || !std::isfinite(*number)) return std::nullopt;
    return ParsedValue{*number, match->groups[2].value_or("")};
}

double ControlsViewFallback::toCanonical(double value, const std::string& unit) {
    const std::string u = text::lowercased(unit);
    if (u == "s" || u == "sec" || u == "secs" || u == "seconds" || u == "khz") return value * 1000;
    return value;
}

std::string ControlsViewFallback::canonicalUnit(const std::string& unit) {
    const std::string u = text::lowercased(unit);
    if (u == "s" || u == "sec" || u == "secs" || u == "seconds" || u == "ms") return "ms";
    if (u == "khz" || u == "hz") return "Hz";
    if (u == "db") return "dB";
    if (u == "%" || u == ":1") return u;
    return u;
}

double ControlsViewFallback::canonicalTolerance(const std::string& cu) {
    if (cu == "ms") return 1.0;
    if (cu == "Hz") return 5.0;
    if (cu == "dB") return 0.2;
    if (cu == "%") return 0.5;
    if (cu == ":1") return 0.1;
    return 0.5;
}

std::string ControlsViewFallback::formatCanonical(double value, const std::string& cu) {
    if (cu == "ms") return value < 1000.0 ? fmt::format("{:.0f} ms", value) : fmt::format("{:.2f} s", value / 1000);
    if (cu == "Hz") return value < 1000.0 ? fmt::format("{:.0f} Hz", value) : fmt::format("{:.2f} kHz", value / 1000);
    if (cu == "dB") return fmt::format("{:.1f} dB", value);
    if (cu == "%") return fmt::format("{:.0f}%", value);
    if (cu == ":1") return fmt::format("{:.1f}:1", value);
    return printed(value) + " " + cu;
}

}  // namespace corvane
