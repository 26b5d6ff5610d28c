#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

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
#include "support/unicode.h"

namespace corvane {

using ax_read::valueText;

namespace {

// Groups Logic Pro also gives "open" and "bypass" children without being slots.
bool isNamedContainer(const std::string& description) {
    static const char* const names[] = {"Control Bar", "Inspector", "Tracks", "Project", "Read, automation"};
    return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return description == n; });
}

}  // namespace

bool LogicInspector::isPluginWindowTitle(const std::string& title) {
    return !title.empty() && !isLogicMainWindowTitle(title);
}

std::vector<LogicInspector::InsertSlot> LogicInspector::findTrackPluginSlots(const AXElement& in) const {
    auto mixer = findMixerArea(in);
    if (!mixer) return {};
    auto strips = mixer->children();
    if (strips.empty()) return {};
    std::vector<InsertSlot> slots;
    findPluginSlots(strips.front(), slots, 0, search_depth::kStripControls);
    // Slot indices are positions on screen, whatever order the tree lists them in.
    std::stable_sort(slots.begin(), slots.end(), [](const InsertSlot& a, const InsertSlot& b) {
        return frameForElement(a.element).y < frameForElement(b.element).y;
    });
    return slots;
}

std::optional<LogicInspector::InsertSlot> LogicInspector::readInsertSlot(const AXElement& e) {
    if (textOf(e, ax::kRole) != "AXGroup") return std::nullopt;
    const std::string description = text::trimmingWhitespaceAndNewlines(textOf(e, ax::kDescription));
    if (description.empty() || isNamedContainer(description)) return std::nullopt;
    // The buttons' descriptions, roles and the bypass state come with the list in one read.
    e.prefetchChildren({ax::kDescription, ax::kRole, ax::kValue});
    auto children = e.elements(ax::kChildren);
    if (!children) return std::nullopt;
    bool hasOpen = false, hasBypass = false, bypassed = false;
    for (const auto& child : *children) {
        const std::string childDescription = text::lowercased(textOf(child, ax::kDescription));
        if (childDescription == "open") hasOpen = true;
        if (childDescription == "bypass" && textOf(child, ax::kRole) == "AXCheckBox") {
            hasBypass = true;
            if (auto value = valueText(child)) bypassed = *value == "1";
        }
    }
    if (!hasOpen || !hasBypass) return std::nullopt;
    return InsertSlot{description, e, bypassed};
}

void LogicInspector::findPluginSlots(const AXElement& in, std::vector<InsertSlot>& slots, int depth,
                                     int maxDepth) const {
    AXElement placed;
    ax_tree::walk(
        in, maxDepth,
        [&](const Step& step) {
            if (auto slot = readInsertSlot(step.element)) {
                detail::readFramesOfSiblings(step, placed);
                slots.push_back(std::move(*slot));
                return Next::siblings;
            }
            return Next::children;
        },
        depth);
}

AXElement LogicInspector::applicationElement(const platform::RunningApplication& logic) {
    const auto& kept = detail::keptPlaces();
    if (kept.open > 0 && kept.application && kept.applicationChecked && kept.applicationPid == logic.processIdentifier)
        return kept.application;
    return platform::accessibility().applicationElement(logic.processIdentifier);
}

void LogicInspector::readWindowsOf(const AXElement& axApp) {
    // The application's children are its windows (and its menu bar): one read brings what the
    // searches ask of each window first, titles included, and the value the view menu's search reads.
    axApp.prefetchChildren({ax::kTitle, ax::kRole, ax::kDescription, ax::kChildren, ax::kValue});
}

std::optional<AXElement> LogicInspector::findPluginWindow(const AXElement& axApp, const AXElement& excluding) const {
    auto windows = axApp.elements(ax::kWindows);
    if (!windows || windows->empty()) return std::nullopt;
    readWindowsOf(axApp);
    const std::string excludedTitle = textOf(excluding, ax::kTitle);
    for (const auto& window : *windows) {
        const std::string title = textOf(window, ax::kTitle);
        // A second Tracks or Mixer window is Logic Pro's own, never a plug-in window.
        if (title == excludedTitle || !isPluginWindowTitle(title)) continue;
        if (window.string(ax::kRole) != std::optional<std::string>("AXWindow")) continue;
        return window;
    }
    return std::nullopt;
}

std::optional<AXElement> LogicInspector::findViewMenuButton(const AXElement& pluginWindow) const {
    // With the values: the view it shows is read next.
    return ax_tree::findFirst(
        pluginWindow, search_depth::kPluginWindow,
        [](const AXElement& e) {
            return textOf(e, ax::kRole) == "AXMenuButton" && text::lowercased(textOf(e, ax::kDescription)) == "view";
        },
        0, {ax::kValue});
}

std::optional<PluginViewPreference> LogicInspector::readCurrentPluginView(const AXElement& menuButton) const {
    for (const char* attribute : {ax::kValue, ax::kTitle}) {
        const std::string candidate(text::trimSpacesAndTabs(text::lowercased(textOf(menuButton, attribute))));
        if (candidate.empty()) continue;
        if (candidate.find("editor") != std::string::npos) return PluginViewPreference::editor;
        if (candidate.find("control") != std::string::npos) return PluginViewPreference::controls;
    }
    return std::nullopt;
}

Outcome LogicInspector::chooseViewMenuItem(const AXElement& menuButton, const std::string& itemTitle) const {
    menuButton.performAction(ax::kPress);
    platform::pause(pacing::kMenuOpens);
    // The menu opens below its button; only when its item is not there are Logic Pro's windows
    // searched for it.
    auto belowButton = [&]() -> std::optional<AXElement> {
        const auto needle = text::lowercased(itemTitle);
        menuButton.prefetchChildren({ax::kRole, ax::kChildren});
        for (const auto& menu : menuButton.children()) {
            if (textOf(menu, ax::kRole) != "AXMenu") continue;
            menu.prefetchChildren({ax::kRole, ax::kTitle});
            for (const auto& entry : menu.children())
                if (textOf(entry, ax::kRole) == "AXMenuItem" && text::lowercased(textOf(entry, ax::kTitle)) == needle)
                    return entry;
        }
        return std::nullopt;
    };
    auto item = belowButton();
    if (!item)
        if (auto logic = logicApplication())
            item = findMenuItemByTitle(applicationElement(*logic), itemTitle, search_depth::kOpenedMenuItems);
    if (item) {
        item->performAction(ax::kPress);
        platform::pause(pacing::kMenuChoiceTakesEffect);
        return {true, "Chose '" + itemTitle + "'."};
    }
    log(fmt::format("[pressMenuItemInOpenedMenu] Could not find menu item '{}'", itemTitle));
    pressKey(key_code::kEscape);
    return {false, "Could not find menu item '" + itemTitle + "'."};
}

Outcome LogicInspector::switchPluginWindowView(const AXElement& in, PluginViewPreference to) const {
    if (!logicApplication()) return {false, logic_messages::kLogicProNotRunning};
    const auto menuButton = findViewMenuButton(in);
    if (!menuButton) {
        log("[switchPluginWindowView] Could not find 'view' menu button in plugin window");
        return {false, "Could not find the 'view' menu button in the plug-in window."};
    }
    const auto current = readCurrentPluginView(*menuButton);
    if (current && *current == to) {
        log(fmt::format("[switchPluginWindowView] already at {} \u2014 no-op", toString(to)));
        return {true, "The plug-in window already shows its " + toString(to) + " view."};
    }
    auto chosen = chooseViewMenuItem(*menuButton, to == PluginViewPreference::editor ? "Editor" : "Controls");
    if (!chosen.success) return chosen;
    log(fmt::format("[switchPluginWindowView] Switched plugin window to {}", toString(to)));
    return {true, "Switched the plug-in window to its " + toString(to) + " view."};
}

Outcome LogicInspector::switchCurrentlyOpenPluginView(PluginViewPreference to) const {
    auto logic = logicApplication();
    if (!logic) {
        log("[switchCurrentlyOpenPluginView] Logic not running");
        return {false, logic_messages::kLogicProNotRunning};
    }
    auto axApp = applicationElement(*logic);
    auto windows = axApp.elements(ax::kWindows);
    if (!windows) {
        log("[switchCurrentlyOpenPluginView] Could not read windows");
        return {false, "Logic Pro's windows could not be read."};
    }
    log(fmt::format("[switchCurrentlyOpenPluginView] {} windows", windows->size()));
    for (const auto& window : *windows)
        log(fmt::format("[switchCurrentlyOpenPluginView]   window: '{}'",
                        window.string(ax::kTitle).value_or("(no title)")));
    for (const auto& window : *windows)
        if (isPluginWindowTitle(textOf(window, ax::kTitle))) return switchPluginWindowView(window, to);
    log("[switchCurrentlyOpenPluginView] No plugin window found");
    return {false, "No plug-in window is open."};
}

void LogicInspector::walkForSidechainDropdown(const AXElement& element, std::optional<SidechainDropdown>& best,
                                              int depth, int maxDepth) const {
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            const std::string role = textOf(e, ax::kRole);
            if (role == "AXPopUpButton" || role == "AXMenuButton") {
                static const char* const phrases[] = {"side chain source", "sidechain source", "side-chain source",
                                                      "side chain input",  "sidechain input",  "side-chain input"};
                const std::string help = text::lowercased(textOf(e, ax::kHelp));
                if (std::any_of(std::begin(phrases), std::end(phrases),
                                [&](const char* p) { return help.find(p) != std::string::npos; })) {
                    const double y = frameForElement(e).y;
                    if (!best || y < best->y) best = SidechainDropdown{e, y};
                }
            }
            return Next::children;
        },
        depth);
}

void LogicInspector::closeOpenPluginAndRestoreEditorView() const {
    // Called between tool calls too, outside any call's scope: its own reads are kept for it alone.
    const platform::AXReadScope reads;
    auto logic = logicApplication();
    if (!logic) return;
    auto axApp = applicationElement(*logic);
    auto windows = axApp.elements(ax::kWindows);
    if (!windows || windows->empty()) return;
    readWindowsOf(axApp);
    auto window = std::find_if(windows->begin(), windows->end(),
                               [](const AXElement& w) { return isPluginWindowTitle(textOf(w, ax::kTitle)); });
    if (window == windows->end()) return;
    // Leave it in its editor view, so that the next open shows the plug-in's own face.
    switchPluginWindowView(*window, PluginViewPreference::editor);
    platform::pause(pacing::kEditorViewRestored);
    window->prefetchChildren({ax::kDescription});
    if (auto close = findChildButton(*window, "close")) {
        close->performAction(ax::kPress);
        platform::pause(pacing::kWindowCloses);
    }
}

}  // namespace corvane
