#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/key_codes.h"
#include "logic/logic_inspector.h"
#include "logic/logic_inspector_internal.h"
#include "logic/logic_messages.h"
#include "logic/logic_timing.h"
#include "logic/search_depths.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/numbers.h"
#include "support/regex.h"
#include "support/unicode.h"

namespace corvane {

using ax_read::toggleState;
using ax_read::wholeNumber;

namespace {

bool withinOne(std::int64_t a, std::int64_t b) {
    if (a < b) std::swap(a, b);
    return static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b) <= 1;
}

std::optional<AXElement> findToggle(const std::vector<AXElement>& children, const std::string& hint) {
    for (const auto& child : children) {
        if (text::lowercased(textOf(child, ax::kDescription)).find(hint) == std::string::npos) continue;
        auto role = textOf(child, ax::kRole);
        if (role == "AXCheckBox" || role == "AXButton") return child;
    }
    return std::nullopt;
}

const char* onOff(bool on) { return on ? "ON" : "OFF"; }

// Handles tried this many times at most, the first held and the others found anew.
constexpr int kHandleAttempts = 4;

// A new handle of the main window: the held one, read once more, may still answer the check of a
// handle kept and then go stale in the search that follows it.
AXElement windowAnew(const LogicInspector& inspector, const AXElement& held) {
    return inspector.findMainWindow().value_or(held);
}

Outcome writeFirstStripSlider(const LogicInspector& inspector, const AXElement& in, const std::string& description,
                              double value) {
    // A write that failed on a handle gone stale may have taken before: the slider is found anew
    // and written again, which reads its value before it writes, with the writes left. A refusal or
    // a value not reached is the answer.
    LogicInspector::SliderWrites writes;
    Outcome written{false, logic_messages::kMixerStripNotFound};
    for (int attempt = 0; attempt < kHandleAttempts; ++attempt) {
        auto strip = inspector.firstMixerStrip(attempt == 0 ? in : windowAnew(inspector, in));
        if (!strip) continue;
        written = inspector.setSliderValue(*strip, description, value, search_depth::kStripControls, 0, &writes);
        if (written.success || !writes.stale) break;
    }
    return written;
}

// "-6.0 dB", "-∞ dB" for silence.
std::string levelText(double db) { return std::isinf(db) ? std::string("-\u221E dB") : fmt::format("{:.1f} dB", db); }

LogicInspector::VolumeResult volumeNotSet(std::string message) { return {{false, std::move(message)}, std::nullopt}; }

LogicInspector::VolumeResult volumeSet(const std::optional<double>& shown) {
    if (!shown) return {{true, "Volume set; its level could not be read back."}, std::nullopt};
    return {{true, "Volume: " + levelText(*shown) + "."}, shown};
}

}  // namespace

// --- Raw fader and knob ----------------------------------------------------------------------

Outcome LogicInspector::setTrackVolume(const AXElement& in, double value) const {
    return writeFirstStripSlider(*this, in, "volume fader", value);
}

Outcome LogicInspector::setTrackPan(const AXElement& in, double value) const {
    return writeFirstStripSlider(*this, in, "pan", value);
}

Outcome LogicInspector::setVolumeFaderRaw(const AXElement& slider, std::int64_t value) const {
    const Outcome shows{true, fmt::format("The volume fader shows {}.", value)};
    for (int i = 0; i < 400; ++i) {
        auto current = wholeNumber(slider);
        if (!current) return {false, "The volume fader's value cannot be read."};
        if (*current == value) return shows;
        if (slider.setAttributeValue(ax::kValue, platform::AXValue(value)) != platform::AXError::success)
            return {false, fmt::format("The volume fader refused the value {}.", value)};
        platform::pause(pacing::kFaderWriteRetry);
    }
    auto last = wholeNumber(slider);
    if (!last || !withinOne(*last, value)) return {false, fmt::format("The volume fader did not reach {}.", value)};
    return shows;
}

// --- Level in dB -----------------------------------------------------------------------------

std::optional<double> LogicInspector::readDbFromFader(const AXElement& readout) {
    return ax_read::decibelsFromText(textOf(readout, ax::kTitle));
}

std::optional<double> LogicInspector::readCurrentVolumeDb(const AXElement& in) const {
    std::optional<double> shown;
    for (int attempt = 0; attempt < kHandleAttempts && !shown; ++attempt) {
        auto strip = firstMixerStrip(attempt == 0 ? in : windowAnew(*this, in));
        auto readout = strip ? findDescendant(*strip, "volume fader level", std::string("AXTextField"),
                                              search_depth::kStripControls)
                             : std::nullopt;
        if (readout) shown = readDbFromFader(*readout);
    }
    return shown;
}

LogicInspector::VolumeResult LogicInspector::setTrackVolumeToDb(const AXElement& in, double targetDb) const {
    // No fader position is nearest to "not a number" or to +∞; minus infinity is silence.
    if (std::isnan(targetDb) || targetDb == INFINITY) return volumeNotSet("The volume must be a number of dB.");

    // The fader and its read-out, found anew from the window whenever a read or a write through
    // them fails: a handle may go stale between two steps of the search.
    std::optional<AXElement> fader;
    std::optional<AXElement> readout;
    bool stripFound = false;
    auto find = [&](const AXElement& window) {
        fader.reset();
        readout.reset();
        // The search runs to its end once begun (its caller holds its pauses): a strip the user's
        // click moved on meanwhile is waited for even once stopped, or the fader is left midway.
        std::string shown;
        auto strip = heldStrip(window, shown, true);
        stripFound = strip.has_value();
        if (!strip) return false;
        // One walk for both: a strip's handle read twice over may go stale between two walks.
        ax_tree::walk(*strip, search_depth::kStripControls, [&](const ax_tree::Step& step) {
            const std::string description = ax_read::trimmed(step.element, ax::kDescription);
            if (!fader && description == "volume fader" && textOf(step.element, ax::kRole) == "AXSlider")
                fader = step.element;
            else if (!readout && description == "volume fader level" &&
                     textOf(step.element, ax::kRole) == "AXTextField")
                readout = step.element;
            return fader && readout ? ax_tree::Next::stop : ax_tree::Next::children;
        });
        return fader && readout;
    };
    if (!find(in) && !find(windowAnew(*this, in))) {
        return volumeNotSet(stripFound ? "The volume fader or its level read-out was not found."
                                       : logic_messages::kMixerStripNotFound);
    }
    // The raw write reads the fader before it writes: written again through new handles, it never
    // moves a fader that already shows the value. Only a fader gone stale is written again; one
    // that refused the value or never reached it is the answer.
    auto write = [&](std::int64_t raw) {
        Outcome written = setVolumeFaderRaw(*fader, raw);
        for (int attempt = 1; attempt < kHandleAttempts && !written.success && fader && ax_read::gone(*fader);
             ++attempt)
            if (find(windowAnew(*this, in))) written = setVolumeFaderRaw(*fader, raw);
        return written;
    };
    auto level = [&]() {
        std::optional<double> shown = readDbFromFader(*readout);
        for (int attempt = 1; attempt < kHandleAttempts && !shown; ++attempt)
            if (find(windowAnew(*this, in))) shown = readDbFromFader(*readout);
        return shown;
    };

    // Everything from -60 dB down is the bottom of the fader; the write is confirmed like any other.
    if (targetDb <= -60.0) {
        if (auto written = write(0); !written.success) return volumeNotSet(written.message);
        return volumeSet(level());
    }

    // The shown level rises with the raw value, so bisect on what Logic Pro displays.
    const std::string unreadable = "The volume fader's level could not be read.";
    std::int64_t lo = 0;
    std::int64_t hi = 255;
    for (int round = 0; round < 14 && hi - lo >= 2; ++round) {
        std::int64_t mid = (lo + hi) / 2;
        if (auto written = write(mid); !written.success) return volumeNotSet(written.message);
        platform::pause(pacing::kFaderReadoutSettles);
        auto shown = level();
        if (!shown) return volumeNotSet(unreadable);
        if (std::fabs(*shown - targetDb) < 0.15) return volumeSet(shown);
        if (targetDb < *shown)
            hi = mid;
        else
            lo = mid;
    }

    std::string failure;
    auto settle = [&](std::int64_t raw) -> std::optional<std::optional<double>> {
        if (auto written = write(raw); !written.success) {
            failure = written.message;
            return std::nullopt;
        }
        platform::pause(pacing::kFaderReadoutSettles);
        return level();
    };
    auto distance = [&](const std::optional<double>& shown) { return shown ? std::fabs(*shown - targetDb) : INFINITY; };
    auto low = settle(lo);
    if (!low) return volumeNotSet(failure);
    auto high = settle(hi);
    if (!high) return volumeNotSet(failure);
    if (distance(*low) <= distance(*high)) {
        auto back = settle(lo);
        if (!back) return volumeNotSet(failure);
        return volumeSet(*back);
    }
    return volumeSet(*high);
}

// --- Mute and solo ---------------------------------------------------------------------------

bool LogicInspector::detectToggleState(const AXElement& element, const std::string& labelHint) const {
    auto labels = [](const AXElement& child) {
        return text::lowercased(textOf(child, ax::kTitle)) + "\n" + text::lowercased(textOf(child, ax::kDescription)) +
               "\n" + text::lowercased(textOf(child, ax::kIdentifier));
    };
    // An element's role never changes, nor in practice a switch's label: of a header whose children
    // are the same elements as when it was last looked at, only the switches labelled so are read
    // again, and their labels with their values.
    auto& kept = detail::keptPlaces();
    const auto children = element.children();
    std::vector<std::pair<AXElement, std::string>> switches;
    if (auto known = kept.switches.find(element); kept.open > 0 && known != kept.switches.end() &&
                                                  known->second.children == children) {
        switches = known->second.switches;
        // Read through the handles just listed: a kept one may be the very handle that went stale,
        // and a switch that cannot be read would be taken for one that is off.
        for (auto& [child, labelled] : switches)
            if (const auto listed = std::find(children.begin(), children.end(), child); listed != children.end())
                child = *listed;
    } else {
        element.prefetchChildren(detail::kHeaderChildReads);
        for (const auto& child : children) {
            auto role = textOf(child, ax::kRole);
            if (role == "AXButton" || role == "AXCheckBox" || role == "AXToggle")
                switches.emplace_back(child, labels(child));
        }
        if (kept.open > 0) {
            if (kept.switches.size() >= 4096) kept.switches.clear();  // a session's worth, not more
            kept.switches[element] = {children, switches};
        }
    }
    for (const auto& [child, labelled] : switches) {
        if (labelled.find(labelHint) == std::string::npos) continue;
        child.prefetch(detail::kHeaderChildReads);
        bool counts = text::lowercased(textOf(child, ax::kTitle)).find(labelHint) != std::string::npos ||
                      text::lowercased(textOf(child, ax::kDescription)).find(labelHint) != std::string::npos ||
                      text::lowercased(textOf(child, ax::kIdentifier)).find(labelHint) != std::string::npos;
        if (!counts) continue;
        if (ax_read::toggleState(child) == std::optional<bool>(true)) return true;
        if (child.boolean(ax::kSelected) == std::optional<bool>(true)) {
            const auto selected = ax_read::valueOf(child, ax::kSelected);
            if (selected && std::holds_alternative<bool>(*selected)) return true;
        }
    }
    return false;
}


LogicInspector::ToggleResult LogicInspector::clickTrackHeaderButton(const TrackHeader& header,
                                                                    const std::string& buttonHint, bool desiredState,
                                                                    const AXElement& window) const {
    const std::string hint = text::lowercased(buttonHint);
    const std::string& track = header.name;
    log(fmt::format("clickTrackHeaderButton: '{}' on track '{}' (desired={})", buttonHint, track, onOff(desiredState)));

    auto children = header.element.elements(ax::kChildren);
    if (!children) {
        log(fmt::format("clickTrackHeaderButton: no children found for header '{}'", track));
        return {false, "Could not read the header of track '" + track + "'.", std::nullopt};
    }
    auto button = findToggle(*children, hint);
    if (!button) {
        log(fmt::format("clickTrackHeaderButton: button '{}' not found on track '{}'", buttonHint, track));
        return {false, "No " + hint + " button on track '" + track + "'.", std::nullopt};
    }

    // The shortcut toggles: pressed on a state nobody read, it may turn off what was to be turned on.
    const std::optional<bool> shown = toggleState(*button);
    log(fmt::format("clickTrackHeaderButton: current={} desired={}", shown ? onOff(*shown) : "unreadable",
                    onOff(desiredState)));
    if (!shown)
        return {false, "Could not read the " + hint + " state of track '" + track + "'; nothing was pressed.",
                std::nullopt};
    const bool current = *shown;
    if (current == desiredState) {
        log("clickTrackHeaderButton: state already matches, no action needed");
        return {true, "Track '" + track + "': " + hint + " is already " + (current ? "on." : "off."), current};
    }

    std::uint16_t key = 0;
    std::string keyName;
    if (hint == "solo") {
        key = key_code::kS;
        keyName = "S";
    } else if (hint == "mute") {
        key = key_code::kM;
        keyName = "M";
    } else {
        log(fmt::format("clickTrackHeaderButton: no keyboard shortcut for '{}'", buttonHint));
        return {false, "No keyboard shortcut for '" + buttonHint + "'.", current};
    }
    pressKey(key);
    platform::pause(pacing::kHeaderToggleSettles);
    log(fmt::format("clickTrackHeaderButton: pressed {} for '{}' on track '{}'", keyName, buttonHint, track));

    // The shortcut acts on whatever Logic Pro has selected, and a key can be lost on the way:
    // only the header itself tells whether this track changed.
    auto readBack = [&]() -> std::optional<bool> {
        if (auto state = toggleState(*button)) return state;
        // The change may have rebuilt the header; look it up again by its number.
        for (const auto& root : {std::optional<AXElement>(window), findMainWindow()}) {
            if (!root || !*root) continue;
            for (const auto& h : findTrackHeaders(*root)) {
                if (h.trackNumber != header.trackNumber) continue;
                auto again = findToggle(h.element.children(), hint);
                return again ? toggleState(*again) : std::nullopt;
            }
        }
        return std::nullopt;
    };
    std::optional<bool> after = readBack();
    for (int i = 0; i < 5 && after != desiredState; ++i) {
        platform::pause(pacing::kHeaderToggleRecheck);
        after = readBack();
    }
    log(fmt::format("clickTrackHeaderButton: after press current={} desired={}", after ? onOff(*after) : "unreadable",
                    onOff(desiredState)));
    if (!after)
        return {false,
                "Pressed " + keyName + " but the " + hint + " state of track '" + track + "' could not be read back.",
                std::nullopt};
    if (*after != desiredState)
        return {false,
                "Pressed " + keyName + " but track '" + track + "' still shows " + hint + (*after ? " on." : " off."),
                after};
    return {true, "Track '" + track + "': " + hint + " is now " + (desiredState ? "on." : "off."), after};
}

}  // namespace corvane
