#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

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

namespace {

// What a walk of a strip's chain reads of each element with its role and description: the frames
// that place slots and insert bars on screen.
const std::vector<std::string> kChainReads{ax::kRole, ax::kDescription, ax::kTitle, ax::kChildren, ax::kPosition,
                                           ax::kSize};

// What a search of Logic Pro's windows reads of each: what the searches within a window ask first,
// and the frame and what a search for a plug-in's controls asks of the window it starts from (the
// host answers them all in the one round trip).
const std::vector<std::string> kWindowReads{
    ax::kTitle,    ax::kRole, ax::kDescription, ax::kChildren, ax::kValue,
    ax::kPosition, ax::kSize, ax::kIdentifier,  ax::kHelp,     ax::kValueDescription};

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
    const auto strip = firstMixerStrip(in);
    if (!strip) return {};
    std::vector<InsertSlot> slots;
    findPluginSlots(*strip, slots, 0, search_depth::kStripControls);
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
    auto children = e.elements(ax::kChildren);
    if (!children) return std::nullopt;
    auto isBypass = [](const AXElement& child) {
        child.prefetch({ax::kDescription, ax::kRole, ax::kValue});
        return text::lowercased(textOf(child, ax::kDescription)) == "bypass" &&
               textOf(child, ax::kRole) == "AXCheckBox";
    };
    auto slotWith = [&](const AXElement& bypass) {
        const auto state = ax_read::toggleState(bypass);
        return InsertSlot{description, e, state.value_or(false), state.has_value()};
    };
    // A slot told before, with the same children still, needs only its bypass state read again.
    auto& kept = detail::keptPlaces();
    if (kept.open > 0)
        if (auto k = kept.slotButtons.find(e); k != kept.slotButtons.end() && k->second.children == *children &&
                                               isBypass((*children)[k->second.bypass]))
            return slotWith((*children)[k->second.bypass]);
    // Each button read with its role and the bypass state in one round trip, and only until both
    // the open button and the bypass switch are known.
    std::optional<std::size_t> open;
    std::optional<std::size_t> bypass;
    for (std::size_t i = 0; i < children->size() && !(open && bypass); ++i) {
        const AXElement& child = (*children)[i];
        if (isBypass(child))
            bypass = i;
        else if (text::lowercased(textOf(child, ax::kDescription)) == "open")
            open = i;
    }
    if (!open || !bypass) return std::nullopt;
    if (kept.open > 0) {
        if (kept.slotButtons.size() >= 64) kept.slotButtons.clear();  // those of strips gone by
        kept.slotButtons[e] = {*children, *bypass, *open};
    }
    return slotWith((*children)[*bypass]);
}

std::optional<AXElement> LogicInspector::slotOpenButton(const InsertSlot& slot) const {
    const auto& kept = detail::keptPlaces();
    if (kept.open > 0)
        if (auto k = kept.slotButtons.find(slot.element);
            k != kept.slotButtons.end() && k->second.open < k->second.children.size()) {
            const AXElement& button = k->second.children[k->second.open];
            if (text::lowercased(textOf(button, ax::kDescription)) == "open") return button;
        }
    return findChildButton(slot.element, "open");
}

bool LogicInspector::isInsertBar(const AXElement& e) {
    if (textOf(e, ax::kRole) != "AXButton") return false;
    const std::string description = text::trimmingWhitespaceAndNewlines(textOf(e, ax::kDescription));
    return description == "audio plug-in" || description == "insert bar";
}

std::vector<AXElement> LogicInspector::chainElements(const AXElement& in, int depth, int maxDepth, bool bars) {
    // Where the bars and slots of a strip lie is kept while places are: its lists are read again, with
    // the strip's own children to tell that nothing was added or taken away around them.
    auto& kept = detail::keptPlaces();
    // An element's role never changes: an insert bar read before is one still, while its handle holds.
    auto knownBar = [&](const AXElement& e) {
        return !bars && std::find(kept.chainBars.begin(), kept.chainBars.end(), e) != kept.chainBars.end();
    };
    auto readList = [&](const AXElement& list, std::vector<AXElement>& into) {
        list.prefetch(kChainReads);
        const auto children = list.elements(ax::kChildren);
        if (!children || textOf(list, ax::kRole).empty()) return false;  // gone, or rebuilt
        for (const auto& e : *children) {
            if (knownBar(e)) continue;
            e.prefetch(kChainReads);
            into.push_back(e);
        }
        return true;
    };
    if (kept.open > 0 && !kept.chains.empty() && kept.chainStrip == in) {
        in.prefetch(kChainReads);
        std::vector<AXElement> elements;
        bool same = in.elements(ax::kChildren) == std::optional<std::vector<AXElement>>(kept.chainStripChildren);
        for (std::size_t i = 0; same && i < kept.chains.size(); ++i) same = readList(kept.chains[i], elements);
        if (same) return elements;
    }
    kept.chainBars.clear();
    // Every list is found by one walk that leaves the slots' own buttons out; the frames that place
    // bars and slots on screen come with each element's read.
    std::vector<AXElement> lists;
    std::vector<AXElement> elements;
    ax_tree::walk(
        in, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            if (!isInsertBar(e) && !readInsertSlot(e)) return Next::children;
            if (!step.parent)
                elements.push_back(e);
            else if (std::find(lists.begin(), lists.end(), *step.parent) == lists.end())
                lists.push_back(*step.parent);
            return Next::siblings;
        },
        depth, {ax::kPosition, ax::kSize});
    for (const auto& list : lists) readList(list, elements);
    if (kept.open > 0 && !lists.empty()) {
        kept.chainStrip = in;
        kept.chainStripChildren = in.elements(ax::kChildren).value_or(std::vector<AXElement>{});
        kept.chains = lists;
        for (const auto& e : elements)
            if (isInsertBar(e)) kept.chainBars.push_back(e);
    }
    if (!bars) std::erase_if(elements, isInsertBar);
    return elements;
}

void LogicInspector::findPluginSlots(const AXElement& in, std::vector<InsertSlot>& slots, int depth,
                                     int maxDepth) const {
    for (const auto& e : chainElements(in, depth, maxDepth, false))
        if (auto slot = readInsertSlot(e)) slots.push_back(std::move(*slot));
}

AXElement LogicInspector::applicationElement(const platform::RunningApplication& logic) {
    const auto& kept = detail::keptPlaces();
    if (kept.open > 0 && kept.application && kept.applicationChecked && kept.applicationPid == logic.processIdentifier)
        return kept.application;
    return platform::accessibility().applicationElement(logic.processIdentifier);
}

std::optional<std::vector<AXElement>> LogicInspector::applicationWindows(const platform::RunningApplication& logic) {
    auto windows = applicationElement(logic).elements(ax::kWindows);
    if (!windows)
        windows = platform::accessibility().applicationElement(logic.processIdentifier).elements(ax::kWindows);
    return windows;
}

std::optional<AXElement> LogicInspector::findPluginWindow(const AXElement& axApp, const AXElement& excluding) const {
    auto windows = axApp.elements(ax::kWindows);
    // A held handle read too often may no longer answer: one made anew stands for the same process.
    if (!windows)
        if (const auto logic = logicApplication())
            windows = platform::accessibility().applicationElement(logic->processIdentifier).elements(ax::kWindows);
    if (!windows || windows->empty()) return std::nullopt;
    // Each window is read (with what the view menu's search asks of it first) only until the
    // first plug-in window; the excluded one is told by its handle and not read at all.
    std::optional<std::string> excludedTitle;
    for (const auto& window : *windows) {
        if (window == excluding) continue;
        window.prefetch(kWindowReads);
        const std::string title = textOf(window, ax::kTitle);
        if (!isPluginWindowTitle(title)) continue;
        // A second Tracks or Mixer window is Logic Pro's own, never a plug-in window. The main window
        // found this call was found by its title, which no plug-in window's can equal.
        if (!(excluding == detail::keptPlaces().mainWindow)) {
            if (!excludedTitle) excludedTitle = textOf(excluding, ax::kTitle);
            if (title == *excludedTitle) continue;
        }
        if (window.string(ax::kRole) != std::optional<std::string>("AXWindow")) continue;
        if (auto& places = detail::keptPlaces(); places.open > 0) {
            places.pluginWindow = window;
            places.pluginWindowTitle = title;
            places.pluginWindowOrigin = window.point(ax::kPosition);
        }
        return window;
    }
    return std::nullopt;
}

std::optional<AXElement> LogicInspector::findViewMenuButton(const AXElement& pluginWindow) const {
    // Kept while places are (the end of a turn puts the window back in its editor view through it):
    // one read tells it is still there, with the value that says the view it shows.
    static const std::vector<std::string> kReads{ax::kRole, ax::kDescription, ax::kTitle, ax::kChildren, ax::kValue};
    // The view the button shows is noted with it, for the end of the turn.
    auto noteView = [&](const AXElement& window, const std::optional<AXElement>& button) {
        if (auto& places = detail::keptPlaces(); places.open > 0 && button) {
            places.viewShownWindow = window;
            places.viewShown = readCurrentPluginView(*button);
        }
        return button;
    };
    if (auto kept = detail::keptArea(pluginWindow, "view", kReads);
        kept && textOf(*kept, ax::kRole) == "AXMenuButton")
        return noteView(pluginWindow, kept);
    auto isViewButton = [](const AXElement& e) {
        return textOf(e, ax::kRole) == "AXMenuButton" && text::lowercased(textOf(e, ax::kDescription)) == "view";
    };
    // A plug-in window is built anew each time it opens, laid out as the last one was: the button
    // is looked for first where it lay in that one, one read per level down.
    auto& places = detail::keptPlaces();
    auto keepParent = [&](const AXElement* parent) {
        if (places.open == 0) return;
        places.viewButtonWindow = pluginWindow;
        places.viewButtonParent = parent && !(*parent == pluginWindow) ? *parent : AXElement{};
    };
    if (places.open > 0 && !places.viewButtonPath.empty()) {
        std::optional<AXElement> at = pluginWindow;
        AXElement parent;
        for (const std::size_t index : places.viewButtonPath) {
            at->prefetch(kReads);
            const auto children = at->elements(ax::kChildren);
            if (!children || index >= children->size()) {
                at.reset();
                break;
            }
            parent = *at;
            at = (*children)[index];
        }
        if (at) {
            at->prefetch(kReads);
            if (isViewButton(*at)) {
                detail::keepArea(pluginWindow, "view", at);
                keepParent(&parent);
                return noteView(pluginWindow, at);
            }
        }
    }
    // With the values: the view it shows is read next.
    std::optional<AXElement> found;
    std::vector<std::size_t> path;
    ax_tree::walk(pluginWindow, search_depth::kPluginWindow,
                  [&](const Step& step) {
                      if (step.depth > 0) {
                          path.resize(static_cast<std::size_t>(step.depth - 1));
                          path.push_back(step.index);
                      }
                      if (!isViewButton(step.element)) return Next::children;
                      found = step.element;
                      keepParent(step.parent);
                      return Next::stop;
                  },
                  0, {ax::kValue});
    detail::keepArea(pluginWindow, "view", found);
    if (places.open > 0 && found) places.viewButtonPath = std::move(path);
    return noteView(pluginWindow, found);
}

std::optional<AXElement> LogicInspector::pluginWindowHeader(const AXElement& pluginWindow) {
    const auto& places = detail::keptPlaces();
    if (places.open == 0 || !places.viewButtonParent || !(places.viewButtonWindow == pluginWindow))
        return std::nullopt;
    return places.viewButtonParent;
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
        for (const auto& menu : menuButton.children()) {
            menu.prefetch({ax::kRole, ax::kChildren});
            if (textOf(menu, ax::kRole) != "AXMenu") continue;
            for (const auto& entry : menu.children()) {
                entry.prefetch({ax::kRole, ax::kTitle});
                if (textOf(entry, ax::kRole) == "AXMenuItem" && text::lowercased(textOf(entry, ax::kTitle)) == needle)
                    return entry;
            }
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
    // Unknown while the choice is under way: a Stop in its pause must not leave the old view kept.
    auto& places = detail::keptPlaces();
    const bool keptHere = places.open > 0 && places.viewShownWindow == in;
    if (keptHere) places.viewShown = std::nullopt;
    auto chosen = chooseViewMenuItem(*menuButton, to == PluginViewPreference::editor ? "Editor" : "Controls");
    if (keptHere && chosen.success) places.viewShown = to;
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
        depth, {ax::kHelp, ax::kPosition, ax::kSize, ax::kValue});
}

void LogicInspector::closeOpenPluginAndRestoreEditorView() const {
    // Called between tool calls too, outside any call's scope: its own reads are kept for it alone,
    // and where the last call found the window's view menu comes along.
    const platform::AXReadScope reads;
    const KeptPlaces places(*this);
    auto logic = logicApplication();
    if (!logic) return;
    auto& kept = detail::keptPlaces();
    // Closed (or gone) by the end of this: no later call looks for it.
    const AXElement opened = std::exchange(kept.pluginWindow, AXElement{});
    const std::string openedTitle = std::exchange(kept.pluginWindowTitle, std::string());
    auto isPluginWindow = [](const AXElement& w) {
        w.prefetch(kWindowReads);
        return textOf(w, ax::kRole) == "AXWindow" && isPluginWindowTitle(textOf(w, ax::kTitle));
    };
    // The window the turn's calls opened, while one read still finds it a plug-in window;
    // else the first plug-in window among Logic Pro's.
    std::optional<AXElement> window;
    if (opened && isPluginWindow(opened)) window = opened;
    // Its handle no longer answers: the same window found again by its title and place, never
    // another plug-in window (the user's, brought in front by a later call).
    if (!window && opened) window = windowTitled(openedTitle, kept.pluginWindowOrigin);
    if (!window) {
        // The last call's handle of the application, while its window list answers (as findMainWindow).
        const bool keptApp = kept.application && kept.applicationPid == logic->processIdentifier;
        auto axApp = keptApp ? kept.application : applicationElement(*logic);
        auto windows = axApp.elements(ax::kWindows);
        if (!windows && keptApp) {
            axApp = platform::accessibility().applicationElement(logic->processIdentifier);
            windows = axApp.elements(ax::kWindows);
        }
        if (!windows || windows->empty()) return;
        auto found = std::find_if(windows->begin(), windows->end(), isPluginWindow);
        if (found == windows->end()) return;
        window = *found;
    }
    const std::string title = textOf(*window, ax::kTitle);
    const auto origin = window->point(ax::kPosition);
    // Leave it in its editor view, so that the next open shows the plug-in's own face; a window the
    // turn's calls saw in its editor view and never switched is in it still.
    const bool inEditor = kept.viewShownWindow == *window && kept.viewShown == PluginViewPreference::editor;
    if (!inEditor) switchPluginWindowView(*window, PluginViewPreference::editor);
    platform::pause(pacing::kEditorViewRestored);
    // The close hands the front to the main window: the one of Logic Pro's own the user had in
    // front (the Mixer) goes back there. Only the windows up to it are read; the one closed and the
    // main window are told by their handles.
    WindowsFound before;
    if (const auto windows = applicationWindows(*logic))
        for (const auto& w : *windows) {
            if (w == *window) continue;
            if (kept.mainWindow && w == kept.mainWindow) break;
            w.prefetch({ax::kTitle, ax::kRole});
            if (const std::string t = textOf(w, ax::kTitle); !isPluginWindowTitle(t)) {
                // The Tracks window, unknown where no places were handed on, is raised by the close.
                if (t.find("- Tracks") != std::string::npos) break;
                before.frontOwn = w;
                before.frontOwnTitle = t;
                break;
            }
        }
    if (closeOpenedPluginWindow(*window, before, AXElement{})) return;
    // The switch may have left the handle stale: the window is found again by its title and place,
    // never the user's window of the same plug-in on the same track.
    if (const auto again = windowTitled(title, origin.value_or(Point{})))
        closeOpenedPluginWindow(*again, before, AXElement{});
}

LogicInspector::WindowsFound LogicInspector::windowsFound(const AXElement& axApp, const AXElement& mainWindow) {
    WindowsFound found;
    auto windows = axApp.elements(ax::kWindows);
    // A held handle read too often may no longer answer: one made anew stands for the same process.
    // Listed as none, the windows open would be taken for ones a call opened.
    if (int pid = 0; !windows && axApp.processIdentifier(pid) == platform::AXError::success)
        windows = platform::accessibility().applicationElement(pid).elements(ax::kWindows);
    if (!windows) return found;
    for (const auto& window : *windows) {
        if (mainWindow && window == mainWindow) {  // found by its title, which no plug-in window's can equal
            if (!found.frontOwn) found.frontOwn = window;
            continue;
        }
        window.prefetch({ax::kTitle, ax::kRole, ax::kPosition});
        if (const std::string title = textOf(window, ax::kTitle); isPluginWindowTitle(title)) {
            found.plugins.push_back({window, title, window.point(ax::kPosition).value_or(Point{})});
        } else if (!found.frontOwn) {
            found.frontOwn = window;
            found.frontOwnTitle = title;
        }
    }
    return found;
}

std::optional<std::size_t> LogicInspector::WindowsFound::indexOf(const AXElement& held, const std::string& title,
                                                                  Point origin) const {
    for (std::size_t i = 0; i < plugins.size(); ++i)
        if (plugins[i].window == held) return i;
    if (title.empty() || !ax_read::gone(held, ax::kTitle)) return std::nullopt;
    for (std::size_t i = 0; i < plugins.size(); ++i)
        if (plugins[i].title == title && plugins[i].origin == origin) return i;
    return std::nullopt;
}

bool LogicInspector::WindowsFound::holds(const AXElement& window) const {
    if (std::any_of(plugins.begin(), plugins.end(), [&](const PluginWindow& p) { return p.window == window; }))
        return true;
    window.prefetch({ax::kTitle, ax::kPosition});
    const std::string title = textOf(window, ax::kTitle);
    const auto origin = window.point(ax::kPosition);
    if (title.empty() || !origin) return false;
    return std::any_of(plugins.begin(), plugins.end(), [&](const PluginWindow& p) {
        return p.title == title && p.origin == *origin && ax_read::gone(p.window, ax::kTitle);
    });
}

std::optional<AXElement> LogicInspector::windowTitled(const std::string& title, std::optional<Point> origin) const {
    if (title.empty()) return std::nullopt;
    const auto logic = logicApplication();
    if (!logic) return std::nullopt;
    const auto windows = applicationWindows(*logic);
    if (!windows) return std::nullopt;
    for (const auto& w : *windows) {
        w.prefetch({ax::kTitle, ax::kPosition});
        if (textOf(w, ax::kTitle) == title && (!origin || w.point(ax::kPosition) == origin)) return w;
    }
    return std::nullopt;
}

bool LogicInspector::closeOpenedPluginWindow(const AXElement& pluginWindow, const WindowsFound& before,
                                             const AXElement& mainWindow) const {
    // A closed plug-in window hands the front to the main window: the window that was in front
    // goes back there with no Stop between the two.
    const platform::HeldPauses closing;
    if (!closePluginWindow(pluginWindow)) return false;
    raiseFrontOwn(before, mainWindow);
    return true;
}

void LogicInspector::raiseFrontOwn(const WindowsFound& before, const AXElement& mainWindow) const {
    if (!before.frontOwn || *before.frontOwn == mainWindow) return;
    if (before.frontOwn->performAction(ax::kRaise) != platform::AXError::invalidUIElement) return;
    // Its handle went stale: found again by its title.
    if (const auto again = windowTitled(before.frontOwnTitle)) again->performAction(ax::kRaise);
}

bool LogicInspector::closePluginWindow(const AXElement& pluginWindow) const {
    if (auto& places = detail::keptPlaces(); places.pluginWindow == pluginWindow) {
        places.pluginWindow = {};
        places.pluginWindowTitle.clear();
    }
    auto close = findChildButton(pluginWindow, "close");
    if (!close) return false;
    close->performAction(ax::kPress);
    platform::pause(pacing::kWindowCloses);
    return true;
}

}  // namespace corvane
