#include <fmt/format.h>

#include <algorithm>
#include <functional>
#include <vector>

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

using SidechainResult = LogicInspector::SidechainResult;

namespace {

// Logic Pro names a source in its menu as itself, "Bus 1 ← Synth" or "Synth Pad (Bus 1)".
bool titleNamesSource(const std::string& title, const std::string& needle) {
    const std::string t = text::lowercased(title);
    auto startsWith = [&](const std::string& prefix) { return t.rfind(prefix, 0) == 0; };
    return t == needle || startsWith(needle + " ") || startsWith(needle + "\u2190") || startsWith(needle + " \u2190") ||
           t.find("(" + needle + ")") != std::string::npos;
}

// Looks for the source among the items of a submenu that names tracks in the order of the track
// list (`order`: the names as this call listed them, lower-cased), halving the items by where in
// the list the track each names lies: a few reads of items, wherever the source stands. `settled`
// tells whether the answer holds: false when an item named a track the list does not show (a
// track in a collapsed folder), so that the order could not be told.
std::optional<AXElement> bisectTrackItems(const std::vector<AXElement>& items, const std::vector<std::string>& order,
                                          const std::string& needle,
                                          const std::function<bool(const AXElement&)>& namesSource, bool& settled) {
    settled = false;
    auto rank = [&](const std::string& lowered) {
        const auto at = std::find(order.begin(), order.end(), lowered);
        return at == order.end() ? -1L : static_cast<long>(at - order.begin());
    };
    const long wanted = rank(needle);
    if (wanted < 0) return std::nullopt;
    long low = 0;
    long high = static_cast<long>(items.size()) - 1;
    while (low <= high) {
        const long middle = low + (high - low) / 2;
        const AXElement& item = items[static_cast<std::size_t>(middle)];
        item.prefetch({ax::kRole, ax::kDescription, ax::kTitle, ax::kChildren});
        if (namesSource(item)) {
            settled = true;
            return item;
        }
        const long at = rank(text::lowercased(textOf(item, ax::kTitle)));
        if (at < 0) return std::nullopt;
        if (at < wanted)
            low = middle + 1;
        else
            high = middle - 1;
    }
    settled = true;
    return std::nullopt;
}

std::optional<AXElement> findSidechainMenuItem(const AXElement& dropdown, const AXElement& axApp,
                                               const std::string& source) {
    const std::string needle = text::trimmingWhitespace(text::lowercased(source));
    auto namesSource = [&](const AXElement& e) {
        if (textOf(e, ax::kRole) != "AXMenuItem") return false;
        const std::string title = textOf(e, ax::kTitle);
        return !title.empty() && titleNamesSource(title, needle);
    };
    // The menu opens below the selector, its sources grouped by kind ("Audio", "Inst", "Bus"): a
    // source named with its kind's word ("Bus 1") is looked for in that group first, and a group is
    // read only until the source is found. Logic Pro's windows are searched only when it is not there.
    const std::string kind = needle.substr(0, needle.find(' '));
    for (const auto& menu : dropdown.children()) {
        menu.prefetch({ax::kRole, ax::kChildren});
        if (textOf(menu, ax::kRole) != "AXMenu") continue;
        std::vector<AXElement> groups;
        for (const auto& item : menu.children()) {
            item.prefetch({ax::kRole, ax::kDescription, ax::kTitle, ax::kChildren});
            if (namesSource(item)) return item;
            if (auto below = item.elements(ax::kChildren); below && !below->empty()) groups.push_back(item);
        }
        std::stable_partition(groups.begin(), groups.end(),
                              [&](const AXElement& g) { return text::lowercased(textOf(g, ax::kTitle)) == kind; });
        // A track's name is looked for by where the track lies in the list this call read.
        std::vector<std::string> order;
        for (const auto& header : detail::keptPlaces().listing.headers) order.push_back(text::lowercased(header.name));
        std::vector<AXElement> passed;  // groups that by the order do not hold it
        for (const auto& group : groups) {
            bool settled = false;
            if (!order.empty())
                for (const auto& submenu : group.children()) {
                    submenu.prefetch({ax::kRole, ax::kChildren});
                    if (textOf(submenu, ax::kRole) != "AXMenu") continue;
                    if (auto item = bisectTrackItems(submenu.children(), order, needle, namesSource, settled))
                        return item;
                    if (!settled) break;
                }
            if (settled) {
                passed.push_back(group);
                continue;
            }
            if (auto item = ax_tree::findFirst(group, search_depth::kListedMenuItems, namesSource)) return item;
        }
        // Items listed in another order than the tracks: read one by one after all.
        for (const auto& group : passed)
            if (auto item = ax_tree::findFirst(group, search_depth::kListedMenuItems, namesSource)) return item;
    }
    if (auto windows = axApp.elements(ax::kWindows))
        for (const auto& window : *windows)
            if (auto item = ax_tree::findFirst(window, search_depth::kListedMenuItems, namesSource)) return item;
    if (auto focused = axApp.element(ax::kFocusedUIElement))
        return ax_tree::findFirst(*focused, search_depth::kListedMenuItems, namesSource);
    return std::nullopt;
}

std::string sidechainSuccessMessage(const std::string& source, const std::string& committed,
                                    const std::optional<std::string>& beforeValue) {
    const std::string s = text::trimmingWhitespace(source);
    const std::string c = text::trimmingWhitespace(committed);
    const std::string b = text::trimmingWhitespace(beforeValue.value_or(""));
    const std::string shown = c == s || c.empty() ? s : s + " (Logic shows as " + c + ")";
    if (!b.empty() && b != s) return "Side Chain: " + b + " \u2192 " + shown;
    return "Side Chain \u2192 " + shown;
}

SidechainResult writeSidechainDropdown(const LogicInspector& inspector, const AXElement& dropdown,
                                       const AXElement& axApp, const std::string& source,
                                       const std::optional<std::string>& beforeValue) {
    log(fmt::format("[setPluginSidechain] Target source '{}' (before='{}')", source, beforeValue.value_or("nil")));
    const auto code = dropdown.setAttributeValue(ax::kValue, source);
    log(fmt::format("[setPluginSidechain] Direct set returned {}", platform::code(code)));
    platform::pause(pacing::kSelectorDirectSetSettles);
    if (auto value = dropdown.string(ax::kValue);
        value && text::equalsIgnoringCase(text::trimmingWhitespace(*value), text::trimmingWhitespace(source))) {
        log(fmt::format("[setPluginSidechain] Direct set succeeded: '{}'", *value));
        return {true, sidechainSuccessMessage(source, *value, beforeValue), beforeValue};
    }

    log("[setPluginSidechain] Falling back to menu-click flow");
    platform::pause(pacing::kBeforeSelectorPress);
    dropdown.performAction(ax::kPress);
    platform::pause(pacing::kSelectorMenuOpens);
    auto item = findSidechainMenuItem(dropdown, axApp, source);
    if (!item) {
        inspector.pressKey(key_code::kEscape);
        platform::pause(pacing::kMenuCloses);
        return {false,
                "Could not set Side Chain to '" + source +
                    "' \u2014 menu item not found. Logic's menu groups sources into Audio / Inst / Bus submenus; check "
                    "that the source "
                    "exists (a track name, 'Bus N', or 'Internal' to clear).",
                beforeValue};
    }
    item->performAction(ax::kPress);
    platform::pause(pacing::kMenuChoiceTakesEffect);
    const std::string value = text::trimmingWhitespace(textOf(dropdown, ax::kValue));
    if (value.empty()) {
        log(fmt::format("[setPluginSidechain] Menu press failed \u2014 value nil/empty. source='{}'", source));
        return {false,
                "Pressed menu item for '" + source +
                    "' but Side Chain reads as empty. Try changing it manually in the plugin window.",
                beforeValue};
    }
    log(fmt::format("[setPluginSidechain] Menu press accepted. before='{}' new='{}' source='{}'",
                    text::trimmingWhitespace(beforeValue.value_or("")), value, source));
    return {true, sidechainSuccessMessage(source, value, beforeValue), beforeValue};
}

}  // namespace

SidechainResult LogicInspector::setPluginSidechain(const AXElement& in, const InsertSlot& pluginSlot,
                                                   const std::string& source) const {
    auto logic = logicApplication();
    if (!logic) return {false, logic_messages::kLogicNotRunning, std::nullopt};
    auto axApp = applicationElement(*logic);
    auto open = slotOpenButton(pluginSlot);
    if (!open) return {false, logic_messages::noOpenButtonFor(pluginSlot.name), std::nullopt};

    open->performAction(ax::kPress);
    platform::pause(pacing::kSidechainWindowOpens);
    auto window = findPluginWindow(axApp, in);
    if (!window) {
        open->performAction(ax::kPress);
        platform::pause(pacing::kSidechainWindowOpens);
        window = findPluginWindow(axApp, in);
    }
    if (!window) return {false, logic_messages::kPluginWindowDidNotAppear, std::nullopt};

    std::optional<SidechainDropdown> dropdown;
    walkForSidechainDropdown(*window, dropdown, 0, search_depth::kPluginHeader);
    if (!dropdown) {
        closePluginWindow(*window);
        return {false,
                "Plugin '" + pluginSlot.name +
                    "' has no sidechain input (no 'Side Chain Source' dropdown found in plugin header).",
                std::nullopt};
    }

    const std::optional<std::string> beforeValue = dropdown->element.string(ax::kValue);
    if (text::equalsIgnoringCase(text::trimmingWhitespace(beforeValue.value_or("")),
                                 text::trimmingWhitespace(source))) {
        closePluginWindow(*window);
        return {true, "Side Chain already " + beforeValue.value_or(source), beforeValue};
    }
    auto result = writeSidechainDropdown(*this, dropdown->element, axApp, source, beforeValue);
    closePluginWindow(*window);
    return result;
}

}  // namespace corvane
