#include "plugins/mapped_writer.h"

#include <algorithm>
#include <cmath>

#include "logic/ax_read.h"
#include "logic/logic_timing.h"
#include "logic/search_depths.h"
#include "platform/platform.h"
#include "plugins/ax_locator.h"
#include "plugins/control_writes.h"
#include "plugins/mapped_reader.h"
#include "support/numbers.h"
#include "support/regex.h"
#include "support/unicode.h"

namespace corvane {

namespace ax = platform::ax;
using ax_read::textOf;
using ax_read::wholeNumber;
using Result = MappedPluginWriter::Result;

namespace {

const char* const kArrow = " \u2192 ";

std::optional<platform::AXElement> control(const ParameterDef& def, const platform::AXElement& window) {
    if (!def.editorAX) return std::nullopt;
    return AXLocator::find(*def.editorAX, window, search_depth::kPluginWindow);
}

Result controlMissing(const ParameterDef& def, const PluginMap& map, const std::optional<std::string>& before) {
    if (auto explained = MappedPluginWriter::dependencyErrorMessage(def, map)) return {false, *explained, before};
    return {false, "Could not find " + def.label + " in editor view", before};
}

const ParameterDef* definition(const PluginMap& map, const std::string& id) {
    for (const auto& d : map.parameters)
        if (d.id == id) return &d;
    return nullptr;
}

std::string onOff(bool on) { return on ? "on" : "off"; }

bool rangeComplete(const ParameterDef& def) {
    return def.displayMin && def.displayMax && def.rawMin && def.rawMax && *def.rawMin < *def.rawMax &&
           *def.displayMax != *def.displayMin;
}

// The value the control shows now, in the parameter's unit: its value description, else its raw
// value through the map's curve.
std::optional<double> shownValue(const ParameterDef& def, const platform::AXElement& el) {
    const std::string described(text::trimSpacesAndTabs(textOf(el, ax::kValueDescription)));
    if (!described.empty()) return MappedPluginWriter::parseLeadingNumber(described, def.unit);
    if (auto raw = wholeNumber(el)) return rawToDisplay(*raw, def);
    return std::nullopt;
}

// Whether the control shows the target: within the tolerance, or, for a target inside the range,
// at the raw position nearest to it (a coarse control cannot come closer than its own steps).
bool reached(const ParameterDef& def, const platform::AXElement& el, double target, double tolerance) {
    const auto shown = shownValue(def, el);
    if (!shown) return false;
    const double miss = std::fabs(target - *shown);
    if (miss <= tolerance) return true;
    const double lo = std::min(*def.displayMin, *def.displayMax), hi = std::max(*def.displayMin, *def.displayMax);
    const auto cur = wholeNumber(el);
    if (target < lo || target > hi || !cur) return false;
    const auto here = rawToDisplay(*cur, def);
    if (!here) return false;
    double step = 0;
    for (std::int64_t neighbour : {*cur - 1, *cur + 1}) {
        if (neighbour < *def.rawMin || neighbour > *def.rawMax) continue;
        const auto there = rawToDisplay(neighbour, def);
        if (!there) continue;
        if (std::fabs(*there - target) < std::fabs(*here - target)) return false;
        step = std::max(step, std::fabs(*there - *here));
    }
    return miss <= std::max(tolerance, step);
}

std::optional<bool> toggleState(const std::optional<std::string>& shown) {
    if (!shown) return std::nullopt;
    return *shown == "on";
}

using ax_read::gone;

// The window and the parameter's control as a write goes on: both are found again when a read
// through them fails on a handle gone stale, never otherwise, so a write costs no extra reads.
struct Held {
    const ParameterDef& def;
    platform::AXElement window;
    const MappedPluginWriter::WindowAgain& again;
    std::optional<platform::AXElement> el = control(def, window);

    bool found() { return el || findAgain(); }
    bool findAgain() {
        if (!again) return false;
        bool renewed = false;
        if (gone(window, ax::kRole)) {
            auto found = again();
            if (!found) return false;
            window = *found;
            renewed = true;
        }
        // Options pressed by their own buttons are read through the window alone.
        if (!def.editorAX) return renewed;
        auto found = control(def, window);
        // The search itself can use up the window's handle: then once more through a window found anew.
        if (!found && !renewed && gone(window, ax::kRole))
            if (auto anew = again()) {
                window = *anew;
                found = control(def, window);
            }
        if (!found) return false;
        el = found;
        return true;
    }
    std::optional<std::string> shown() {
        auto display = MappedPluginReader::read(def, window, nullptr).display;
        if (!display && findAgain()) display = MappedPluginReader::read(def, window, nullptr).display;
        return display;
    }
    std::optional<std::string> controlText(const std::string& attribute) {
        auto value = el->string(attribute);
        if (!value && gone(*el, attribute) && findAgain()) value = el->string(attribute);
        return value;
    }
};

}  // namespace

Result MappedPluginWriter::write(const ParameterDef& def, const std::string& value, const AXElement& window,
                                 const PluginMap& map, std::optional<std::string>* changedWhenStopped,
                                 const WindowAgain& again) {
    const std::optional<std::string> before = MappedPluginReader::read(def, window, nullptr).display;
    // The option pressed first is part of the write: a Stop after its press names it as well.
    const ParameterDef* prereq = def.writePrereq ? definition(map, def.writePrereq->parameterId) : nullptr;
    const std::optional<std::string> prereqBefore =
        prereq && changedWhenStopped ? MappedPluginReader::read(*prereq, window, nullptr).display : std::nullopt;
    try {
        ensureWritePrereq(def, map, window);
        return writeAs(def, value, window, map, before, again);
    } catch (const platform::PauseStopped&) {
        // Stopped between its writes: the controls show where they left them.
        if (changedWhenStopped) {
            std::string changed;
            auto note = [&](const ParameterDef& d, const std::optional<std::string>& was) {
                auto now = Held{d, window, again}.shown();
                // Read through the window found anew where what the write held no longer answers.
                if (!now && again)
                    if (const auto anew = again()) now = MappedPluginReader::read(d, *anew, nullptr).display;
                if (now != was)
                    changed += (changed.empty() ? "" : "; ") + d.label + ": " + was.value_or("?") + kArrow + now.value_or("?");
            };
            if (prereq) note(*prereq, prereqBefore);
            note(def, before);
            if (!changed.empty()) *changedWhenStopped = changed;
        }
        throw;
    }
}

Result MappedPluginWriter::writeAs(const ParameterDef& def, const std::string& value, const AXElement& window,
                                   const PluginMap& map, const std::optional<std::string>& before,
                                   const WindowAgain& again) {
    switch (def.type) {
        case ParameterType::continuous:
        case ParameterType::discrete: return writeContinuous(def, value, window, map, before, again);
        case ParameterType::toggle: return writeToggle(def, value, window, map, before, again);
        case ParameterType::radio:
        case ParameterType::selector: return writeSelector(def, value, window, map, before, again);
        case ParameterType::momentary: {
            const auto el = control(def, window);
            if (!el) return controlMissing(def, map, before);
            if (el->performAction(ax::kPress) != platform::AXError::success)
                return {false, pressFailedMessage(def.label), before};
            return {true, "Pressed " + def.label, before};
        }
        case ParameterType::text: return {false, "Cannot write read-only text parameter " + def.label, before};
    }
    return {false, "Cannot write " + def.label, before};
}

void MappedPluginWriter::ensureWritePrereq(const ParameterDef& def, const PluginMap& map, const AXElement& window) {
    if (!def.writePrereq) return;
    const ParameterDef* other = definition(map, def.writePrereq->parameterId);
    if (!other || !other->options) return;
    for (const auto& option : *other->options) {
        if (option.id != def.writePrereq->option) continue;
        if (!option.editorAX) return;
        if (auto el = AXLocator::find(*option.editorAX, window, search_depth::kPluginWindow)) {
            el->performAction(ax::kPress);
            platform::pause(pacing::kPrereqOptionTakesEffect);
        }
        return;
    }
}

Result MappedPluginWriter::writeContinuous(const ParameterDef& def, const std::string& value, const AXElement& window,
                                           const PluginMap& map, const std::optional<std::string>& before,
                                           const WindowAgain& again) {
    Held held{def, window, again};
    auto& el = held.el;
    if (!held.found()) return controlMissing(def, map, before);
    const auto target = parseLeadingNumber(value, def.unit);
    if (!target) return {false, "Could not parse numeric value from '" + value + "'", before};
    if (!rangeComplete(def)) return {false, def.label + " map lacks range \u2014 can't convert display value", before};
    const auto raw = rawFromDisplay(*target, def);
    if (!raw) return {false, "Cannot convert '" + value + "' to a setting of " + def.label, before};
    // A value beyond the range sets the range's end, and is judged by that end.
    const double rangeLo = std::min(*def.displayMin, *def.displayMax),
                 rangeHi = std::max(*def.displayMin, *def.displayMax);
    const double goal = std::clamp(*target, rangeLo, rangeHi);
    const double tolerance = std::max(0.05, 0.02 * std::fabs(goal));
    const std::int64_t lo = *def.rawMin, hi = *def.rawMax;
    const auto original = wholeNumber(*el);
    writeAndConverge(*el, std::clamp(*raw, lo, hi));

    for (int pass = 0; pass < 5; ++pass) {
        const std::string described(text::trimSpacesAndTabs(held.controlText(ax::kValueDescription).value_or("")));
        if (described.empty()) break;
        const auto shown = parseLeadingNumber(described, def.unit);
        if (!shown || std::fabs(goal - *shown) <= tolerance) break;
        const auto cur = wholeNumber(*el);
        if (!cur) break;
        const auto d0 = rawToDisplay(*cur, def), d1 = rawToDisplay(*cur + 1, def);
        if (!d0 || !d1 || !(std::fabs(*d1 - *d0) > 1e-9)) break;
        // A quotient beyond the whole range is cut to it: no step can usefully go further.
        const double span = static_cast<double>(hi) - static_cast<double>(lo) + 1;
        const double quotient = std::clamp((goal - *shown) / (*d1 - *d0), -span, span);
        const auto delta = checkedRounded(quotient, INT64_MIN / 4, INT64_MAX / 4);
        if (!delta || *delta == 0) break;
        const std::int64_t next = std::clamp(*cur + *delta, lo, hi);
        if (next == *cur) break;
        writeAndConverge(*el, next);
    }

    const std::optional<std::string> after = held.shown();
    bool done = reached(def, *el, goal, tolerance);
    if (!done && gone(*el, ax::kValueDescription) && held.findAgain()) done = reached(def, *el, goal, tolerance);
    if (done)
        return {true, def.label + ": " + before.value_or("?") + kArrow + after.value_or(value), before};
    // A failed write leaves the parameter where the user had it.
    std::string message = "Could not set " + def.label + " to " + value;
    if (original && wholeNumber(*el) != original) {
        control_writes::restoreValue(*el, *original, [&]() -> std::optional<platform::AXElement> {
            if (!held.findAgain()) return std::nullopt;
            return held.el;
        });
        message += " (it came no nearer than " + after.value_or("?") + ")";
    }
    const std::optional<std::string> now = held.shown();
    message += "; it shows " + now.value_or("?") + " (was " + before.value_or("?") + ")";
    return {false, message, before};
}

Result MappedPluginWriter::writeToggle(const ParameterDef& def, const std::string& value, const AXElement& window,
                                       const PluginMap& map, const std::optional<std::string>& before,
                                       const WindowAgain& again) {
    Held held{def, window, again};
    if (!held.found()) return controlMissing(def, map, before);
    const auto want = parseBoolean(value);
    if (!want) return {false, "Invalid toggle value '" + value + "' for " + def.label + ". Use on/off.", before};
    const auto state = toggleState(held.shown());
    if (state == want) return {true, def.label + " already " + onOff(*want), before};
    if (!state)
        return {false,
                "Could not tell whether " + def.label +
                    " is on or off, so it was not pressed (a press could switch it the wrong way)",
                before};
    const auto code = held.el->performAction(ax::kPress);
    if (code != platform::AXError::success)
        return {false, pressFailedMessage(def.label) + " (AX error " + std::to_string(platform::code(code)) + ")",
                before};
    platform::pause(pacing::kTogglePressSettles);
    if (const auto now = toggleState(held.shown()); now && *now != *want)
        return {false, def.label + " did not switch " + onOff(*want) + "; it is still " + onOff(*now), before};
    return {true, def.label + kArrow + onOff(*want), before};
}

Result MappedPluginWriter::writeSelector(const ParameterDef& def, const std::string& value, const AXElement& window,
                                         const PluginMap& map, const std::optional<std::string>& before,
                                         const WindowAgain& again) {
    if (!def.options || def.options->empty()) return {false, def.label + " has no options defined in map", before};
    const ParameterOption* chosen = nullptr;
    for (const auto& o : *def.options)
        if (!chosen && text::equalsIgnoringCase(o.id, value)) chosen = &o;
    for (const auto& o : *def.options)
        if (!chosen && text::equalsIgnoringCase(o.label, value)) chosen = &o;
    if (!chosen) {
        std::string available;
        for (const auto& o : *def.options) available += (available.empty() ? "" : ", ") + o.id + " (" + o.label + ")";
        return {false, def.label + ": unknown option '" + value + "'. Available: " + available, before};
    }
    const std::string success = def.label + kArrow + chosen->label;
    Held held{def, window, again};
    if (def.editorAX && held.found()) {
        const auto& el = held.el;
        const std::string role = textOf(*el, ax::kRole);
        if (role == "AXPopUpButton" || role == "AXMenuButton") {
            auto shows = [&] {
                return text::equalsIgnoringCase(held.controlText(ax::kValue).value_or(""), chosen->label);
            };
            if (el->setAttributeValue(ax::kValue, chosen->label) == platform::AXError::success) {
                platform::pause(pacing::kEditorPopupDirectSetSettles);
                if (shows()) return {true, success, before};
            }
            if (pressPopupMenuItem(*el, chosen->label) && shows()) return {true, success, before};
            return {false, def.label + ": popup didn't accept value '" + chosen->label + "'", before};
        }
    }
    if (!chosen->editorAX) return controlMissing(def, map, before);
    const auto button = AXLocator::find(*chosen->editorAX, held.window, search_depth::kPluginWindow);
    if (!button) return controlMissing(def, map, before);
    if (button->performAction(ax::kPress) != platform::AXError::success)
        return {false, pressFailedMessage(def.label) + kArrow + chosen->label, before};
    return {true, success, before};
}

void MappedPluginWriter::writeAndConverge(const AXElement& el, std::int64_t desiredRaw) {
    const auto first = wholeNumber(el);
    if (!first || *first == desiredRaw) return;
    if (el.setAttributeValue(ax::kValue, desiredRaw) != platform::AXError::success) return;
    platform::pause(pacing::kControlWriteRetry);
    std::int64_t prev = *first;
    int unchanged = 0;
    for (int i = 0; i < 499; ++i) {
        const auto v = wholeNumber(el);
        if (!v || *v == desiredRaw) return;
        // A control that ignores the writes: the fifth identical read in a row ends it.
        if (*v == prev && unchanged >= 4) return;
        unchanged = *v == prev ? unchanged + 1 : 0;
        if (el.setAttributeValue(ax::kValue, desiredRaw) != platform::AXError::success) return;
        platform::pause(pacing::kControlWriteRetry);
        prev = *v;
    }
}

std::optional<double> MappedPluginWriter::parseLeadingNumber(const std::string& input,
                                                             const std::optional<std::string>& unit) {
    static const Regex leading("^\\s*([-+]?\\d+(?:\\.\\d+)?)");
    const auto match = leading.firstMatch(input);
    if (!match || !match->groups[1]) return std::nullopt;
    const auto number = readNumber(*match->groups[1]);
    if (!number || !std::isfinite(*number)) return std::nullopt;
    const std::string suffix = text::lowercased(text::trimSpacesAndTabs(std::string_view(input).substr(match->end)));
    return valueInParameterUnit(*number, suffix, unit);
}

std::optional<std::int64_t> MappedPluginWriter::rawFromDisplay(double display, const ParameterDef& def) {
    return corvane::rawFromDisplay(display, def);
}

std::optional<bool> MappedPluginWriter::parseBoolean(const std::string& input) { return ax_read::parseBoolean(input); }

bool MappedPluginWriter::pressPopupMenuItem(const AXElement& popup, const std::string& title) {
    if (popup.performAction(ax::kPress) != platform::AXError::success) return false;
    platform::pause(pacing::kMenuOpens);
    std::optional<AXElement> item;
    if (auto children = popup.elements(ax::kChildren))
        for (const auto& child : *children)
            if ((item = AXLocator::findMenuItem(title, child, search_depth::kPopupMenuItems))) break;
    if (!item) {
        control_writes::pressEscapeToLogic();
        return false;
    }
    item->performAction(ax::kPress);
    platform::pause(pacing::kPopupChoiceTakesEffect);
    return true;
}

std::optional<std::string> MappedPluginWriter::dependencyErrorMessage(const ParameterDef& def, const PluginMap& map) {
    if (!def.dependsOn || def.dependsOn->empty()) return std::nullopt;
    std::string parts;
    for (const auto& dependency : *def.dependsOn) {
        const ParameterDef* other = definition(map, dependency.parameterId);
        std::string values;
        for (const auto& v : dependency.values) {
            std::string shown = v;
            if (other && other->options)
                for (const auto& o : *other->options)
                    if (o.id == v) {
                        shown = o.label;
                        break;
                    }
            values += (values.empty() ? "" : ", ") + shown;
        }
        parts += (parts.empty() ? "" : "; ") + (other ? other->label : dependency.parameterId) +
                 " must be one of: " + values;
    }
    return def.label + " isn't available in the current configuration. " + parts + ".";
}

}  // namespace corvane
