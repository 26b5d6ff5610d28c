#include <algorithm>
#include <cmath>

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/logic_inspector.h"
#include "logic/logic_timing.h"
#include "logic/search_depths.h"
#include "platform/platform.h"
#include "plugins/ax_locator.h"
#include "plugins/control_writes.h"
#include "plugins/controls_view_fallback.h"
#include "support/numbers.h"
#include "support/regex.h"
#include "support/unicode.h"

namespace corvane {

namespace ax = platform::ax;
using ax_read::textOf;
using ax_read::wholeNumber;
using Result = ControlsViewFallback::Result;

namespace {

bool labelMatches(const std::string& label, const std::string& base) {
    const std::string lower = text::lowercased(label);
    return lower == base || lower.rfind(base + " ", 0) == 0;
}

}  // namespace

Result ControlsViewFallback::write(const std::string& parameterName, const std::string& value, const AXElement& window,
                                   const AXElement& logicApp, std::optional<std::string>* changedWhenStopped,
                                   const WindowAgain& again) {
    // A slider is written step by step; where a step rebuilds the window, it is found again by
    // the same name in the window found again.
    AXElement shown = window;
    // The window as it stands now, found again only where the held one stopped answering.
    auto windowShown = [&]() -> bool {
        if (!again) return false;
        if (ax_read::gone(shown, ax::kRole)) {
            auto found = again();
            if (!found) return false;
            shown = *found;
        }
        return true;
    };
    // The search itself can use up the window's handle: then once more through a window found anew.
    auto throughWindow = [&](const auto& search) -> decltype(search()) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!windowShown()) return std::nullopt;
            if (auto found = search()) return found;
            if (!ax_read::gone(shown, ax::kRole)) return std::nullopt;
        }
        return std::nullopt;
    };
    auto sliderAgain = [&]() { return throughWindow([&] { return sliderNamed(parameterName, shown); }); };
    auto held = [&](const AXElement& main, const std::optional<AXElement>& readout) {
        return HeldSlider{main, readout, sliderAgain};
    };
    const ControlAgain popupAgain = [&]() { return throughWindow([&] { return popupNamed(parameterName, shown); }); };
    // A name the reader reports ("Gain [2]", "Drive [2]" for a check box after a slider "Drive")
    // addresses exactly the control it was read from.
    for (const auto& c : labelledControls(window)) {
        if (!text::equalsIgnoringCase(c.label, text::trimSpacesAndTabs(parameterName))) continue;
        switch (c.type) {
            case ParameterType::continuous: {
                HeldSlider slider = held(c.element, c.readout);
                return writeSlider(slider, parameterName, value, changedWhenStopped);
            }
            case ParameterType::toggle: return writeCheckbox(c.element, parameterName, value);
            default: return writePopup(c.element, parameterName, value, logicApp, changedWhenStopped, popupAgain);
        }
    }

    const auto [base, index] = parseLabelIndex(parameterName);
    const std::string lowerBase = text::lowercased(base);
    const auto pairs = findAllSliderPairs(lowerBase, window);
    if (!pairs.empty()) {
        const PickResult pick = pickByIndex(pairs.size(), index);
        if (pick.kind == PickResult::Kind::ambiguous) return {false, ambiguousMessage(base, pick.count), std::nullopt};
        if (pick.kind == PickResult::Kind::outOfRange)
            return {false, missingIndexMessage(parameterName, pick.count), std::nullopt};
        HeldSlider slider = held(pairs[pick.index].main, pairs[pick.index].readout);
        return writeSlider(slider, parameterName, value, changedWhenStopped);
    }
    const auto staticTexts = collectStaticTextLabels(window);
    const std::vector<std::vector<std::string>> roleLists = {
        {"AXCheckBox"}, {"AXPopUpButton", "AXMenuButton"}, {"AXButton"}};
    for (std::size_t list = 0; list < roleLists.size(); ++list) {
        const auto found = findAllByResolvedLabel(lowerBase, window, roleLists[list], staticTexts);
        if (found.empty()) continue;
        const PickResult pick = pickByIndex(found.size(), index);
        if (pick.kind == PickResult::Kind::ambiguous) return {false, ambiguousMessage(base, pick.count), std::nullopt};
        if (pick.kind == PickResult::Kind::outOfRange)
            return {false, missingIndexMessage(parameterName, pick.count), std::nullopt};
        const AXElement& el = found[pick.index];
        if (list == 0) return writeCheckbox(el, parameterName, value);
        if (list == 1) return writePopup(el, parameterName, value, logicApp, changedWhenStopped, popupAgain);
        return writeButton(el, parameterName);
    }
    return {false, "Parameter '" + parameterName + "' not found in Controls view", std::nullopt};
}

std::optional<ControlsViewFallback::SliderPair> ControlsViewFallback::sliderNamed(const std::string& parameterName,
                                                                                 const AXElement& window) {
    for (const auto& c : labelledControls(window)) {
        if (!text::equalsIgnoringCase(c.label, text::trimSpacesAndTabs(parameterName))) continue;
        if (c.type != ParameterType::continuous) return std::nullopt;
        return SliderPair{c.element, c.readout};
    }
    const auto [base, index] = parseLabelIndex(parameterName);
    const auto pairs = findAllSliderPairs(text::lowercased(base), window);
    const PickResult pick = pickByIndex(pairs.size(), index);
    if (pairs.empty() || pick.kind != PickResult::Kind::one) return std::nullopt;
    return pairs[pick.index];
}

std::optional<platform::AXElement> ControlsViewFallback::popupNamed(const std::string& parameterName,
                                                                   const AXElement& window) {
    for (const auto& c : labelledControls(window)) {
        if (!text::equalsIgnoringCase(c.label, text::trimSpacesAndTabs(parameterName))) continue;
        if (c.type == ParameterType::continuous || c.type == ParameterType::toggle) return std::nullopt;
        return c.element;
    }
    const auto [base, index] = parseLabelIndex(parameterName);
    const auto found = findAllByResolvedLabel(text::lowercased(base), window, {"AXPopUpButton", "AXMenuButton"},
                                              collectStaticTextLabels(window));
    const PickResult pick = pickByIndex(found.size(), index);
    if (found.empty() || pick.kind != PickResult::Kind::one) return std::nullopt;
    return found[pick.index];
}

std::pair<std::string, std::optional<std::int64_t>> ControlsViewFallback::parseLabelIndex(const std::string& name) {
    static const Regex pattern("^(.*?)\\s*\\[(\\d+)\\]\\s*$");
    const auto match = pattern.firstMatch(name);
    if (!match || !match->groups[1] || !match->groups[2]) return {name, std::nullopt};
    // \d also matches digits of other scripts, which readInteger refuses.
    const auto n = readInteger(*match->groups[2]);
    if (!n) return {name, std::nullopt};
    const std::string base = *match->groups[1];
    const auto first = base.find_first_not_of(' ');
    return {first == std::string::npos ? "" : base.substr(first, base.find_last_not_of(' ') - first + 1), n};
}

std::vector<ControlsViewFallback::SliderPair> ControlsViewFallback::findAllSliderPairs(const std::string& base,
                                                                                       const AXElement& window) {
    const auto records = sliderRecords(window);
    std::vector<const SliderRecord*> mains;
    for (const auto& r : records) {
        if (!(r.frame.width >= 80.0)) continue;
        const std::string help = text::lowercased(r.help);
        for (const char* suffix : {" knob", " slider", " field"})
            if (help.rfind(base + suffix, 0) == 0) {
                mains.push_back(&r);
                break;
            }
    }
    if (mains.empty()) {
        const auto staticTexts = collectStaticTextLabels(window);
        for (const auto& r : records)
            if (r.frame.width >= 80.0 && labelMatches(resolveLabel(r.element, staticTexts), base)) mains.push_back(&r);
    }
    std::vector<SliderPair> pairs;
    for (const SliderRecord* main : mains) pairs.push_back({main->element, readoutFor(*main, records)});
    return pairs;
}

std::vector<platform::AXElement> ControlsViewFallback::findAllByResolvedLabel(
    const std::string& base, const AXElement& window, const std::vector<std::string>& roles,
    const std::vector<StaticTextLabel>& staticTexts) {
    std::vector<AXElement> found;
    const auto header = LogicInspector::pluginWindowHeader(window);  // Logic Pro's buttons, no parameter
    ax_tree::walk(window, search_depth::kPluginWindow, [&](const ax_tree::Step& step) {
        const AXElement& e = step.element;
        if (header && e == *header) return ax_tree::Next::siblings;
        const std::string role = textOf(e, ax::kRole);
        if (std::find(roles.begin(), roles.end(), role) == roles.end()) return ax_tree::Next::children;
        const std::string label = resolveLabel(e, staticTexts);
        if (!label.empty() && !isExcludedLabel(label) && labelMatches(label, base)) found.push_back(e);
        return ax_tree::Next::children;
    });
    return found;
}

ControlsViewFallback::PickResult ControlsViewFallback::pickByIndex(std::size_t matches,
                                                                   std::optional<std::int64_t> requestedIndex) {
    if (!requestedIndex) {
        if (matches == 1) return {PickResult::Kind::one, 0, matches};
        return {PickResult::Kind::ambiguous, 0, matches};
    }
    if (*requestedIndex >= 1 && static_cast<std::uint64_t>(*requestedIndex) <= matches)
        return {PickResult::Kind::one, static_cast<std::size_t>(*requestedIndex - 1), matches};
    return {PickResult::Kind::outOfRange, 0, matches};
}

std::string ControlsViewFallback::ambiguousMessage(const std::string& parameterName, std::size_t count) {
    std::string available;
    for (std::size_t i = 1; i <= count; ++i) available += (i > 1 ? ", [" : "[") + std::to_string(i) + "]";
    return "'" + parameterName + "' is ambiguous \u2014 " + std::to_string(count) +
           " controls have that label. Specify which one with a suffix, e.g. '" + parameterName +
           " [2]'. Available: " + available + ".";
}

std::string ControlsViewFallback::missingIndexMessage(const std::string& name, std::size_t available) {
    const std::string c = std::to_string(available);
    return "'" + name + "' index out of range. Only " + c + " control(s) match \u2014 use [1]..[" + c + "].";
}

Result ControlsViewFallback::writeCheckbox(const AXElement& checkbox, const std::string& label,
                                           const std::string& value) {
    const bool on = wholeNumber(checkbox) == std::optional<std::int64_t>(1);
    const std::string before = on ? "on" : "off";
    const auto want = parseBoolean(value);
    if (!want) return {false, "Invalid value '" + value + "' for " + label + ". Use on/off.", before};
    const std::string wanted = *want ? "on" : "off";
    if (*want == on) return {true, label + " already " + wanted, before};
    if (checkbox.performAction(ax::kPress) != platform::AXError::success)
        return {false, pressFailedMessage(label), before};
    return {true, label + ": " + before + " \u2192 " + wanted, before};
}

Result ControlsViewFallback::writePopup(const AXElement& popup, const std::string& label, const std::string& value,
                                        const AXElement& logicApp, std::optional<std::string>* changedWhenStopped,
                                        const ControlAgain& again) {
    // Where Logic Pro rebuilds the window on a change, the held pop-up no longer answers: it is
    // found again by its name, only after a failure on a handle gone stale.
    AXElement held = popup;
    auto findAgain = [&] {
        auto found = again ? again() : std::nullopt;
        if (found) held = *found;
        return found.has_value();
    };
    auto shownValue = [&]() -> std::optional<std::string> {
        auto now = held.string(ax::kValue);
        if (!now && ax_read::gone(held, ax::kValue) && findAgain()) now = held.string(ax::kValue);
        return now;
    };
    auto act = [&](auto&& action) {
        auto code = action(held);
        if (code == platform::AXError::invalidUIElement && findAgain()) code = action(held);
        return code;
    };
    const std::optional<std::string> before = shownValue();
    if (before && text::equalsIgnoringCase(*before, value)) return {true, label + " already " + value, before};
    const Result set{true, "Set " + label + " to " + value + " (was " + before.value_or("?") + ")", before};
    auto shows = [&] {
        const auto now = shownValue();
        return now && text::equalsIgnoringCase(*now, value);
    };
    try {
        if (act([&](const AXElement& e) { return e.setAttributeValue(ax::kValue, value); }) ==
            platform::AXError::success) {
            platform::pause(pacing::kControlsPopupDirectSetSettles);
            if (shows()) return set;
        }
        act([](const AXElement& e) { return e.performAction(ax::kPress); });
        platform::pause(pacing::kMenuOpens);
        // Only the menu this pop-up opened: below the pop-up itself, or, where Logic Pro hangs open
        // menus under the application, the focused menu. Never the main menus, whose items could
        // share a title.
        std::optional<AXElement> item = AXLocator::findMenuItem(value, held, search_depth::kPluginWindow);
        if (!item && ax_read::gone(held, ax::kRole) && findAgain())
            item = AXLocator::findMenuItem(value, held, search_depth::kPluginWindow);
        if (!item)
            if (auto focused = logicApp.element(ax::kFocusedUIElement);
                focused && textOf(*focused, ax::kRole) == "AXMenu")
                item = AXLocator::findMenuItem(value, *focused, search_depth::kPluginWindow);
        if (!item) {
            control_writes::pressEscapeToLogic();
            return {false, "Could not set " + label + " to '" + value + "' \u2014 menu item not found", before};
        }
        item->performAction(ax::kPress);
        for (int poll = 0; poll < 20; ++poll) {
            platform::pause(pacing::kPopupChoicePoll);
            if (shows()) return set;
        }
    } catch (const platform::PauseStopped&) {
        // Stopped after the choice may have landed: the pop-up shows what it was left on.
        if (const auto now = shownValue(); changedWhenStopped && now != before)
            *changedWhenStopped = label + ": " + before.value_or("?") + " \u2192 " + now.value_or("?");
        throw;
    }
    return {false, "Menu item '" + value + "' pressed but " + label + " didn't change", before};
}

Result ControlsViewFallback::writeButton(const AXElement& button, const std::string& label) {
    const auto code = button.performAction(ax::kPress);
    if (code != platform::AXError::success)
        return {false, pressFailedMessage(label) + " (error " + std::to_string(platform::code(code)) + ")",
                std::nullopt};
    return {true, "Pressed " + label, std::nullopt};
}

std::optional<bool> ControlsViewFallback::parseBoolean(const std::string& value) {
    return ax_read::parseBoolean(value);
}

}  // namespace corvane
