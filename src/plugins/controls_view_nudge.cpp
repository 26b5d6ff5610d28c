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

using HeldSlider = ControlsViewFallback::HeldSlider;

namespace {

std::optional<ControlsViewFallback::ParsedValue> readout(HeldSlider& slider) {
    auto described = slider.described();
    if (!described) return std::nullopt;
    return ControlsViewFallback::parseValueAndUnit(*described);
}

// The read-out's value converted to the target's canonical unit (its own unit decides the scale).
std::optional<double> canonicalReading(HeldSlider& slider) {
    auto reading = readout(slider);
    if (!reading) return std::nullopt;
    return ControlsViewFallback::toCanonical(reading->value, reading->unit);
}

// After each pause both the slider's raw value and the read-out's text are read; when the slider
// is its own read-out, both come in one round trip.
void readBoth(const HeldSlider& slider) {
    if (slider.main == slider.readout) slider.main.prefetch({ax::kValue, ax::kValueDescription});
}

std::string shownText(HeldSlider& slider) {
    auto reading = readout(slider);
    if (!reading) return "";
    return printed(reading->value) + " " + reading->unit;
}

// What the slider shows: its read-out's text, else its raw value.
std::optional<std::string> shownNow(HeldSlider& slider) {
    if (slider.readout)
        if (auto described = slider.described()) return described;
    if (auto raw = slider.raw()) return std::to_string(*raw);
    return std::nullopt;
}

// A failed write leaves the parameter where the user had it; one that cannot be put back (or
// whose raw value was never read) says where it was left.
Result failed(HeldSlider& slider, std::optional<std::int64_t> original, std::string message, const std::string& label,
              const std::optional<std::string>& before) {
    if (original ? !slider.restore(*original) : shownNow(slider) != before) {
        const bool sentence = !message.empty() && message.back() == '.';
        if (sentence) message.pop_back();
        message += "; " + label + " could not be put back and shows " + shownNow(slider).value_or("?") + " (was " +
                   before.value_or("?") + ")" + (sentence ? "." : "");
    }
    return {false, std::move(message), before};
}

}  // namespace

bool HeldSlider::findAgain() {
    auto found = again ? again() : std::nullopt;
    if (!found) return false;
    main = found->main;
    readout = found->readout;
    return true;
}

std::optional<std::int64_t> HeldSlider::raw() {
    auto value = wholeNumber(main);
    if (!value && ax_read::gone(main) && findAgain()) value = wholeNumber(main);
    return value;
}

std::optional<std::string> HeldSlider::described() {
    if (!readout) return std::nullopt;
    auto value = readout->string(ax::kValueDescription);
    if (!value && ax_read::gone(*readout, ax::kValueDescription) && findAgain() && readout)
        value = readout->string(ax::kValueDescription);
    return value;
}

platform::AXError HeldSlider::write(std::int64_t raw) {
    auto code = main.setAttributeValue(ax::kValue, raw);
    if (code == platform::AXError::invalidUIElement && findAgain()) code = main.setAttributeValue(ax::kValue, raw);
    return code;
}

bool HeldSlider::restore(std::int64_t raw) {
    return control_writes::restoreValue(main, raw, [this]() -> std::optional<platform::AXElement> {
        if (!findAgain()) return std::nullopt;
        return main;
    });
}

Result ControlsViewFallback::writeSlider(HeldSlider& slider, const std::string& label, const std::string& value,
                                         std::optional<std::string>* changedWhenStopped) {
    const std::optional<std::string> before = shownNow(slider);
    try {
        return writeSliderTo(slider, label, value, before);
    } catch (const platform::PauseStopped&) {
        // Stopped between its writes: the slider shows where they left it.
        if (const auto now = shownNow(slider); changedWhenStopped && now != before)
            *changedWhenStopped = label + ": " + before.value_or("?") + " \u2192 " + now.value_or("?");
        throw;
    }
}

Result ControlsViewFallback::writeSliderTo(HeldSlider& slider, const std::string& label, const std::string& value,
                                           const std::optional<std::string>& before) {
    const auto parsed = parseValueAndUnit(value);
    if (parsed && slider.readout) return nudgeToTarget(slider, label, parsed->value, parsed->unit, before);
    std::optional<std::int64_t> target;
    if (parsed)
        target = checkedInteger(parsed->value, INT64_MIN / 4, INT64_MAX / 4);
    else if (const auto whole = readInteger(value); whole && *whole >= INT64_MIN / 4 && *whole <= INT64_MAX / 4)
        target = whole;
    if (!target) return {false, "Invalid value '" + value + "' for " + label, before};
    return writeSliderRaw(slider, label, *target, before);
}

Result ControlsViewFallback::nudgeToTarget(HeldSlider& slider, const std::string& label, double t,
                                           const std::string& u, const std::optional<std::string>& B) {
    const std::string was = " (was " + B.value_or("?") + ")";
    const double target = toCanonical(t, u);
    const std::string cu = canonicalUnit(u);
    const double tol = canonicalTolerance(cu);
    const auto first = readout(slider);
    if (!first) return {false, label + " readout has no AXValueDescription", B};
    if (canonicalUnit(first->unit) != cu)
        return {false, "Unit mismatch: " + label + " reads as " + first->unit + ", target is " + u, B};
    const double cur = toCanonical(first->value, first->unit);
    if (std::fabs(cur - target) <= tol) return {true, label + " already " + formatCanonical(cur, cu), B};

    const auto original = slider.raw();
    const std::int64_t r0 = original.value_or(0);
    auto fail = [&](std::string message) { return failed(slider, original, std::move(message), label, B); };

    // Which way does the display move when the raw value goes up?
    bool normal = true;
    slider.write(r0 + 5);
    platform::pause(pacing::kNudgeSettles);
    readBoth(slider);
    const auto p = canonicalReading(slider);
    if (!p) return fail("Probe failed for " + label);
    if (*p > cur + 0.1 * tol)
        normal = true;
    else if (*p < cur - 0.1 * tol)
        normal = false;
    else {
        slider.write(r0 - 5);
        platform::pause(pacing::kNudgeSettles);
        const auto q = canonicalReading(slider);
        if (q && *q < cur - 0.1 * tol)
            normal = true;
        else if (q && *q > cur + 0.1 * tol)
            normal = false;
        else
            return fail(label + " doesn't respond to AX writes");
    }

    double best = canonicalReading(slider).value_or(0);
    std::int64_t bestRaw = slider.raw().value_or(0);
    double last = best;
    std::int64_t step = 10;
    bool stepOneCrossed = false;
    int unchanged = 0;
    for (int budget = 300; budget > 0; --budget) {
        const auto v = canonicalReading(slider);
        if (!v) break;
        const std::int64_t raw = slider.raw().value_or(0);
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
                slider.write(bestRaw);
                platform::pause(pacing::kNudgeSettles);
                std::string shown = shownText(slider);
                if (shown.empty()) shown = formatCanonical(best, cu);
                return {true, "Set " + label + " to " + shown + " (closest to " + printed(t) + " " + u + ")" + was, B};
            }
        }
        const bool up = normal ? *v < target : *v >= target;
        slider.write(up ? raw + step : raw - step);
        platform::pause(pacing::kNudgeStep);
        readBoth(slider);
        const auto moved = slider.raw();
        if (moved && *moved != raw)
            unchanged = 0;
        else if (++unchanged >= 3) {
            if (step == 1) break;
            step = 1;
            unchanged = 0;
        }
        last = *v;
    }
    slider.write(bestRaw);
    std::string shown = shownText(slider);
    if (shown.empty()) shown = "?";
    if (std::fabs(best - target) <= 2 * tol) return {true, "Set " + label + " to " + shown + was, B};
    return fail("Could not reach " + printed(t) + " " + u + " for " + label + ". Closest was " + shown + ".");
}

Result ControlsViewFallback::writeSliderRaw(HeldSlider& slider, const std::string& label, std::int64_t T,
                                            const std::optional<std::string>& B) {
    const std::string was = " (was " + B.value_or("?") + ")";
    const auto original = slider.raw();
    auto fail = [&](std::string message) { return failed(slider, original, std::move(message), label, B); };
    auto finalCheck = [&]() -> Result {
        const auto v = slider.raw();
        if (v && std::llabs(*v - T) <= 1) return {true, "Set " + label + " to " + std::to_string(*v) + was, B};
        return fail("Could not reach " + std::to_string(T) + " for " + label);
    };
    if (!original) return finalCheck();
    if (*original == T) return {true, "Set " + label + " to " + std::to_string(T) + was, B};
    auto writeOnce = [&]() -> std::optional<Result> {
        const auto code = slider.write(T);
        if (code == platform::AXError::success) return std::nullopt;
        return fail("AX write failed for " + label + " (error " + std::to_string(platform::code(code)) + ")");
    };
    if (auto refused = writeOnce()) return *refused;
    platform::pause(pacing::kControlWriteRetry);
    std::optional<std::int64_t> previous = original;
    int same = 0;
    for (int i = 0; i < 499; ++i) {
        const auto v = slider.raw();
        if (!v) return finalCheck();
        if (*v == T) return {true, "Set " + label + " to " + std::to_string(T) + was, B};
        if (previous && *v == *previous) {
            if (same >= 9)
                return fail(label + " stuck at " + std::to_string(*v) + "; target " + std::to_string(T) +
                            " is likely out of range");
            ++same;
        } else {
            same = 0;
        }
        previous = v;
        if (auto refused = writeOnce()) return *refused;
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
