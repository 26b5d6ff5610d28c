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
#include "logic/sidechain_source_search.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/unicode.h"

namespace corvane {

using SidechainResult = LogicInspector::SidechainResult;

namespace {


// What the side-chain menu offered for a source: the item to press, and how many items named it.
struct MenuChoice {
    std::optional<AXElement> item;
    std::size_t matches = 0;
};

MenuChoice findSidechainMenuItem(const AXElement& dropdown, const AXElement& axApp, const std::string& source) {
    const std::string needle = text::trimmingWhitespace(text::lowercased(source));
    auto namesSource = [&](const AXElement& e) {
        if (textOf(e, ax::kRole) != "AXMenuItem") return false;
        return sidechain_source::titleNames(textOf(e, ax::kTitle), needle);
    };
    // The menu opens below the selector, its sources grouped by kind ("Audio", "Inst", "Bus"); its
    // own items ("None", "Internal") are read first. Logic Pro's windows are searched only when
    // the menu is not found there.
    for (const auto& menu : dropdown.children()) {
        menu.prefetch({ax::kRole, ax::kChildren});
        if (textOf(menu, ax::kRole) != "AXMenu") continue;
        // Each group's submenu and its items are read only when the search comes to that group.
        std::vector<AXElement> groupItems;
        for (const auto& item : menu.children()) {
            item.prefetch({ax::kRole, ax::kDescription, ax::kTitle, ax::kChildren});
            auto below = item.elements(ax::kChildren);
            if (!below || below->empty()) {
                if (namesSource(item)) return {item, 1};
                continue;
            }
            groupItems.push_back(item);
        }
        std::vector<std::optional<std::vector<AXElement>>> items(groupItems.size());
        auto itemsOf = [&](std::size_t g) -> const std::vector<AXElement>& {
            if (!items[g]) {
                items[g].emplace();
                for (const auto& submenu : groupItems[g].children()) {
                    submenu.prefetch({ax::kRole, ax::kChildren});
                    if (textOf(submenu, ax::kRole) != "AXMenu") continue;
                    *items[g] = submenu.children();
                    break;
                }
            }
            return *items[g];
        };
        std::vector<sidechain_source::Group> groups;
        for (std::size_t g = 0; g < groupItems.size(); ++g)
            groups.push_back({textOf(groupItems[g], ax::kTitle), [&itemsOf, g] { return itemsOf(g).size(); },
                              [&itemsOf, g](std::size_t i) {
                                  const AXElement& item = itemsOf(g).at(i);
                                  item.prefetch({ax::kRole, ax::kDescription, ax::kTitle, ax::kChildren});
                                  return textOf(item, ax::kRole) == "AXMenuItem" ? textOf(item, ax::kTitle)
                                                                                 : std::string();
                              }});
        // A track is found by where it lies in the list this call read.
        sidechain_source::Shown shown;
        const auto& headers = detail::keptPlaces().listing.headers;
        for (const auto& header : headers) shown.names.push_back(header.name);
        shown.mayHideTracks = [&headers] { return detail::listMayHideTracks(headers); };
        const auto found = sidechain_source::findMatches(groups, shown, needle);
        if (found.size() == 1) return {itemsOf(found.front().group).at(found.front().item), 1};
        if (!found.empty()) return {std::nullopt, found.size()};
    }
    // Elsewhere, every item is read: a name two items bear is never taken.
    std::vector<AXElement> found;
    auto collect = [&](const AXElement& root) {
        ax_tree::walk(root, search_depth::kListedMenuItems, [&](const ax_tree::Step& step) {
            if (namesSource(step.element)) found.push_back(step.element);
            return ax_tree::Next::children;
        });
    };
    if (auto windows = axApp.elements(ax::kWindows))
        for (const auto& window : *windows) collect(window);
    if (found.empty())
        if (auto focused = axApp.element(ax::kFocusedUIElement)) collect(*focused);
    if (found.size() == 1) return {found.front(), 1};
    return {std::nullopt, found.size()};
}

// A value written directly would take any track of the name, one hidden from the list too (in a
// collapsed folder, or after the last track listed, which leaves no gap in the numbers): only the
// menu tells whether another bears it.
bool mayBeShared(const std::string& source) {
    return sidechain_source::mayNameTrack(text::trimmingWhitespace(text::lowercased(source)));
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

// Each write or press may build the plug-in window anew: the selector's value is read through the
// handle held while it answers, else through the selector found again.
std::optional<std::string> selectorValue(AXElement& dropdown,
                                         const std::function<std::optional<AXElement>()>& findAgain) {
    if (auto value = dropdown.string(ax::kValue)) return value;
    auto again = findAgain();
    if (!again) return std::nullopt;
    dropdown = *again;
    return dropdown.string(ax::kValue);
}

SidechainResult writeSidechainDropdown(const LogicInspector& inspector, AXElement dropdown, const AXElement& axApp,
                                       const std::string& source, const std::optional<std::string>& beforeValue,
                                       const std::function<std::optional<AXElement>()>& findAgain) {
    log(fmt::format("[setPluginSidechain] Target source '{}' (before='{}')", source, beforeValue.value_or("nil")));
    if (!mayBeShared(source)) {
        const auto code = dropdown.setAttributeValue(ax::kValue, source);
        log(fmt::format("[setPluginSidechain] Direct set returned {}", platform::code(code)));
        platform::pause(pacing::kSelectorDirectSetSettles);
        if (auto value = selectorValue(dropdown, findAgain);
            value && text::equalsIgnoringCase(text::trimmingWhitespace(*value), text::trimmingWhitespace(source))) {
            log(fmt::format("[setPluginSidechain] Direct set succeeded: '{}'", *value));
            return {true, sidechainSuccessMessage(source, *value, beforeValue), beforeValue,
                    text::trimmingWhitespace(*value)};
        }
    }

    log("[setPluginSidechain] Falling back to menu-click flow");
    platform::pause(pacing::kBeforeSelectorPress);
    if (dropdown.performAction(ax::kPress) == platform::AXError::invalidUIElement)
        if (auto again = findAgain()) {
            dropdown = *again;
            dropdown.performAction(ax::kPress);
        }
    platform::pause(pacing::kSelectorMenuOpens);
    // The menu hangs under the selector: the one found again when the press left its handle stale.
    if (!dropdown.elements(ax::kChildren))
        if (auto again = findAgain()) dropdown = *again;
    const auto choice = findSidechainMenuItem(dropdown, axApp, source);
    if (choice.matches > 1) {
        // Logic Pro's menu lists the tracks hidden in collapsed folders too: pressing one of the
        // items would take whichever it happens to be.
        inspector.pressKey(key_code::kEscape);
        platform::pause(pacing::kMenuCloses);
        return {false,
                "Sidechain source '" + text::trimmingWhitespace(source) + "': " + std::to_string(choice.matches) +
                    " items of Logic Pro's side-chain menu are named so (tracks hidden in a collapsed folder are "
                    "listed too), so the one meant cannot be told apart; nothing was changed. Give the tracks distinct "
                    "names in Logic Pro, then retry.",
                beforeValue, std::nullopt};
    }
    const auto& item = choice.item;
    if (!item) {
        inspector.pressKey(key_code::kEscape);
        platform::pause(pacing::kMenuCloses);
        return {false,
                "Could not set Side Chain to '" + source +
                    "' \u2014 menu item not found. Logic's menu groups sources into Audio / Inst / Bus submenus; check "
                    "that the source "
                    "exists (a track name, 'Bus N', or 'Internal' to clear).",
                beforeValue, std::nullopt};
    }
    item->performAction(ax::kPress);
    platform::pause(pacing::kMenuChoiceTakesEffect);
    const std::string value = text::trimmingWhitespace(selectorValue(dropdown, findAgain).value_or(""));
    if (value.empty()) {
        log(fmt::format("[setPluginSidechain] Menu press failed \u2014 value nil/empty. source='{}'", source));
        return {false,
                "Pressed menu item for '" + source +
                    "' but Side Chain reads as empty. Try changing it manually in the plugin window.",
                beforeValue, std::nullopt};
    }
    log(fmt::format("[setPluginSidechain] Menu press accepted. before='{}' new='{}' source='{}'",
                    text::trimmingWhitespace(beforeValue.value_or("")), value, source));
    return {true, sidechainSuccessMessage(source, value, beforeValue), beforeValue, value};
}

}  // namespace

// How long each pause of a close after a Stop lasts at most.
constexpr double kClosingOnceStopped = 0.05;

SidechainResult LogicInspector::setPluginSidechain(const AXElement& in, const InsertSlot& pluginSlot,
                                                   const std::string& source) const {
    auto logic = logicApplication();
    if (!logic) return {false, logic_messages::kLogicNotRunning, std::nullopt, std::nullopt};
    auto axApp = applicationElement(*logic);
    auto open = slotOpenButton(pluginSlot);
    if (!open) return {false, logic_messages::noOpenButtonFor(pluginSlot.name), std::nullopt, std::nullopt};

    const auto before = LogicInspector::windowsFound(axApp);
    // The window opened here, or the user's, is never the one the turn's end closes: that stays
    // the window the turn's other calls work in.
    struct TurnsWindowKept {
        std::string title = detail::keptPlaces().pluginWindowTitle;
        std::optional<platform::Point> origin = detail::keptPlaces().pluginWindowOrigin;
        AXElement held = detail::keptPlaces().pluginWindow;
        ~TurnsWindowKept() {
            if (auto& places = detail::keptPlaces(); places.open > 0) {
                places.pluginWindow = held;
                places.pluginWindowTitle = title;
                places.pluginWindowOrigin = origin;
            }
        }
    } turnsWindow;
    try {
        return setSidechainInOpenedWindow(in, pluginSlot, source, axApp, *open, before);
    } catch (const platform::PauseStopped&) {
        // Stopped with the window it opened still open: closed as the call would have closed it,
        // its pauses cut short, so that the turn's end has only its own window to close.
        const platform::HeldPauses closing(kClosingOnceStopped);
        if (auto opened = findPluginWindow(axApp, in); opened && !before.holds(*opened))
            closeOpenedPluginWindow(*opened, before, in);
        throw;
    }
}

SidechainResult LogicInspector::setSidechainInOpenedWindow(const AXElement& in, const InsertSlot& pluginSlot,
                                                           const std::string& source, const AXElement& axApp,
                                                           const AXElement& open, const WindowsFound& before) const {
    open.performAction(ax::kPress);
    platform::pause(pacing::kSidechainWindowOpens);
    auto window = findPluginWindow(axApp, in);
    if (!window) {
        open.performAction(ax::kPress);
        platform::pause(pacing::kSidechainWindowOpens);
        window = findPluginWindow(axApp, in);
    }
    if (!window) return {false, logic_messages::kPluginWindowDidNotAppear, std::nullopt, std::nullopt};
    // A window the user had open stays open; one opened here is closed, and the window the user
    // had in front of Logic Pro's own comes back to the front, which the close takes from it.
    const bool wasOpen = before.holds(*window);
    const auto leave = [&](const AXElement& opened) {
        if (wasOpen || closeOpenedPluginWindow(opened, before, in)) return;
        // The window in front is the one opened here: found again when the held handle is gone.
        if (auto again = findPluginWindow(axApp, in); again && !(*again == opened))
            closeOpenedPluginWindow(*again, before, in);
    };

    std::optional<SidechainDropdown> dropdown;
    walkForSidechainDropdown(*window, dropdown, 0, search_depth::kPluginHeader);
    if (!dropdown && !window->string(ax::kRole))  // the handle went stale before the walk ended
        if (auto again = findPluginWindow(axApp, in)) {
            window = again;
            walkForSidechainDropdown(*window, dropdown, 0, search_depth::kPluginHeader);
        }
    if (!dropdown) {
        leave(*window);
        return {false,
                "Plugin '" + pluginSlot.name +
                    "' has no sidechain input (no 'Side Chain Source' dropdown found in plugin header).",
                std::nullopt, std::nullopt};
    }

    const std::optional<std::string> beforeValue = dropdown->element.string(ax::kValue);
    // A source already keyed is still looked up in the menu when another track may share its name.
    if (text::equalsIgnoringCase(text::trimmingWhitespace(beforeValue.value_or("")),
                                 text::trimmingWhitespace(source)) &&
        !mayBeShared(source)) {
        leave(*window);
        return {true, "Side Chain already " + beforeValue.value_or(source), beforeValue, std::nullopt};
    }
    auto result = writeSidechainDropdown(*this, dropdown->element, axApp, source, beforeValue, [&] {
        std::optional<AXElement> found;
        if (auto again = findPluginWindow(axApp, in)) {
            window = again;
            std::optional<SidechainDropdown> selector;
            walkForSidechainDropdown(*again, selector, 0, search_depth::kPluginHeader);
            if (selector) found = selector->element;
        }
        return found;
    });
    leave(*window);
    return result;
}

}  // namespace corvane
