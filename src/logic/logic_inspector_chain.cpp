#include <fmt/format.h>

#include <algorithm>
#include <exception>
#include <optional>

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/key_codes.h"
#include "logic/logic_inspector.h"
#include "logic/logic_inspector_internal.h"
#include "logic/logic_messages.h"
#include "logic/logic_timing.h"
#include "logic/plugin_names.h"
#include "logic/search_depths.h"
#include "platform/log.h"
#include "platform/platform.h"
#include "support/unicode.h"
#include "shield/input_shield.h"

namespace corvane {

using detail::slotNames;
using detail::sortTopToBottom;
using detail::topOf;

namespace {

// How many times an edit reads the chain (pacing::kChainReadBackRetry apart) for Logic Pro to show its
// result before reporting that it did not.
constexpr int kReadBackTries = 5;

std::string withoutSpaces(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
    return s;
}

// A plug-in menu item's title names the plug-in sought (lower-cased), blanks aside.
bool titleMatches(const std::string& title, const std::string& needle) {
    const std::string lower = text::lowercased(title);
    return lower == needle || withoutSpaces(lower) == withoutSpaces(needle);
}

std::string joined(const std::vector<std::string>& names) { return fmt::format("{}", fmt::join(names, ", ")); }

// Where the new plug-in sits: the index i at which `after` is `before` with one slot showing the
// plug-in inserted, preferring the asked index. Absent when the chain is not `before` plus one.
std::optional<int> insertedAt(const std::vector<std::string>& before, const std::vector<std::string>& after, int asked,
                              const std::string& needle) {
    if (after.size() != before.size() + 1) return std::nullopt;
    auto fits = [&](int i) {
        std::vector<std::string> rest = after;
        rest.erase(rest.begin() + i);
        return rest == before && plugin_names::slotShows(after[static_cast<std::size_t>(i)], needle);
    };
    if (asked >= 0 && asked < int(after.size()) && fits(asked)) return asked;
    for (int i = 0; i < int(after.size()); ++i)
        if (fits(i)) return i;
    return std::nullopt;
}

// Holds the input shield over the whole screen while a drag may be under way; every way out of
// the reorder puts it back over Logic Pro's window.
class FullscreenShield {
public:
    FullscreenShield() { InputShield::shared().escalate(InputShield::Scope::fullscreen); }
    ~FullscreenShield() { InputShield::shared().escalate(InputShield::Scope::logicWindow); }
    FullscreenShield(const FullscreenShield&) = delete;
    FullscreenShield& operator=(const FullscreenShield&) = delete;
};

// The wait for a dropped slot to land, run whole: a Stop comes after it.
void settleDrop() {
    const platform::HeldPauses settling;
    platform::pause(pacing::kDropSettles);
}

}  // namespace

const std::map<std::string, std::string>& LogicInspector::pluginNameAliases() {
    // Both names lead to the companion analysis plug-in, listed under its product name.
    static const std::map<std::string, std::string> aliases{{"quillmere", "corvane"}, {"corvane", "corvane"}};
    return aliases;
}

void LogicInspector::findInsertBars(const AXElement& in, std::vector<InsertBar>& results, int depth,
                                    int maxDepth) const {
    // A filled slot's own "audio plug-in" button opens the menu that replaces its plug-in: the
    // chain's lists hold the slots, never their buttons.
    for (const auto& e : chainElements(in, depth, maxDepth))
        if (isInsertBar(e)) results.push_back({e, static_cast<int>(results.size())});
}

void LogicInspector::findPluginMenuMatches(const AXElement& element, const std::string& needle,
                                           std::vector<MenuMatch>& matches, int depth, int maxDepth) const {
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            if (textOf(e, ax::kRole) == "AXMenuItem" && titleMatches(textOf(e, ax::kTitle), needle))
                matches.push_back({e, step.depth});
            // A matched item's own submenu is searched too: a category may bear the plug-in's name.
            return Next::children;
        },
        depth);
}

std::optional<AXElement> LogicInspector::findPreferredFormatLeaf(const AXElement& under) const {
    auto children = under.elements(ax::kChildren);
    if (!children) return std::nullopt;
    static const char* const formats[] = {"mono", "stereo", "mono->stereo", "dual mono", "multi channel", "surround"};
    std::vector<std::pair<std::string, AXElement>> leaves;
    for (const auto& menu : *children) {
        menu.prefetch({ax::kRole, ax::kChildren});
        if (textOf(menu, ax::kRole) != "AXMenu") continue;
        for (const auto& item : menu.children()) {
            item.prefetch({ax::kRole, ax::kTitle});
            if (textOf(item, ax::kRole) != "AXMenuItem") continue;
            const std::string title = text::lowercased(textOf(item, ax::kTitle));
            if (std::any_of(std::begin(formats), std::end(formats), [&](const char* f) { return title == f; }))
                leaves.emplace_back(title, item);
        }
    }
    if (leaves.empty()) return std::nullopt;
    for (const char* preferred : {"stereo", "mono->stereo", "mono"})
        for (const auto& [title, item] : leaves)
            if (title == preferred) return item;
    return leaves.front().second;
}

bool LogicInspector::navigatePluginMenu(const AXElement& openedFrom, const std::string& pluginName) const {
    auto logic = logicApplication();
    if (!logic) return false;
    std::string needle = text::lowercased(text::trimmingWhitespace(pluginName));
    const auto& aliases = pluginNameAliases();
    if (auto alias = aliases.find(needle); alias != aliases.end()) needle = alias->second;

    // Pressing the format leaf is what inserts the plug-in; the item itself only opens a submenu.
    auto pressFormatLeaf = [&](std::vector<MenuMatch>& found) {
        std::stable_sort(found.begin(), found.end(),
                         [](const MenuMatch& a, const MenuMatch& b) { return a.depth < b.depth; });
        for (const auto& match : found) {
            if (auto leaf = findPreferredFormatLeaf(match.element)) {
                leaf->performAction(ax::kPress);
                platform::pause(pacing::kPluginInserts);
                return true;
            }
        }
        return false;
    };
    std::vector<MenuMatch> matches;
    const int maxDepth = search_depth::kInsertMenu;
    // The menu opens below the bar that was pressed, and is read there level by level: the
    // shallowest item of that name that leads to a format wins, so nothing below it is read.
    // Logic Pro's windows are searched only when nothing there leads to a format.
    std::vector<AXElement> level{openedFrom};
    for (int depth = 1; depth < maxDepth && !level.empty(); ++depth) {
        std::vector<AXElement> below;
        for (const auto& parent : level) {
            for (const auto& e : parent.children()) {
                e.prefetch({ax::kRole, ax::kTitle, ax::kChildren});
                if (textOf(e, ax::kRole) == "AXMenuItem" && titleMatches(textOf(e, ax::kTitle), needle)) {
                    std::vector<MenuMatch> one{{e, depth}};
                    if (pressFormatLeaf(one)) return true;
                }
                if (auto children = e.elements(ax::kChildren); children && !children->empty()) below.push_back(e);
            }
        }
        level = std::move(below);
    }
    const auto axApp = applicationElement(*logic);
    if (auto windows = axApp.elements(ax::kWindows))
        for (const auto& window : *windows) findPluginMenuMatches(window, needle, matches, 0, maxDepth);
    if (matches.empty())
        if (auto focused = axApp.element(ax::kFocusedUIElement))
            findPluginMenuMatches(*focused, needle, matches, 0, maxDepth);
    if (matches.empty()) {
        log(fmt::format("[navigatePluginMenu] No AXMenuItem titled '{}' found in menu tree", pluginName));
        return false;
    }
    if (pressFormatLeaf(matches)) return true;
    log(
        fmt::format("[navigatePluginMenu] Found '{}' but no format leaf (Mono/Stereo) underneath \u2014 likely a "
                    "category, not a plugin",
                    pluginName));
    return false;
}

// How long each pause of a close after a Stop lasts at most.
constexpr double kClosingOnceStopped = 0.05;

Outcome LogicInspector::addPlugin(const AXElement& toTrackIn, const std::string& pluginName,
                                  std::optional<int> slotIndex, std::vector<InsertSlot>* chainAfter) const {
    const KeptPlaces places;  // the chain is read back after each pause
    auto strip = firstMixerStrip(toTrackIn);
    if (!strip) return {false, logic_messages::kMixerAreaNotFound};
    auto slots = findTrackPluginSlots(toTrackIn);
    std::vector<InsertBar> bars;
    findInsertBars(*strip, bars, 0, search_depth::kStripControls);
    bool stripWasEmpty = false;
    if (bars.empty() && slots.empty()) {
        // The strip may not be built yet.
        stripWasEmpty = true;
        platform::pause(pacing::kStripBuilds);
        if (auto again = firstMixerStrip(toTrackIn)) findInsertBars(*again, bars, 0, search_depth::kStripControls);
    }
    if (bars.empty())
        return {false,
                "Could not find insert slots on this track. Make sure Logic's Inspector is open (shortcut I) so the "
                "channel strip is visible."};
    sortTopToBottom(bars);

    const int k = slotIndex.value_or(-1);
    const int count = static_cast<int>(slots.size());
    auto firstBarBelow = [&](double y) -> std::optional<AXElement> {
        for (const auto& bar : bars)
            if (topOf(bar.element) > y) return bar.element;
        return std::nullopt;
    };
    std::optional<AXElement> bar;
    if (k == -1) {
        bar =
            slots.empty() ? std::optional<AXElement>(bars.front().element) : firstBarBelow(topOf(slots.back().element));
        if (!bar) return {false, "No empty slot after the last plugin. The chain may be full."};
    } else if (k == 0) {
        bar = bars.front().element;
    } else if (k >= 1 && k <= count) {
        bar = firstBarBelow(topOf(slots[static_cast<std::size_t>(k - 1)].element));
        if (!bar) return {false, fmt::format("No empty slot after position {}.", k)};
    } else {
        return {false,
                fmt::format(
                    "Slot index {} is beyond the current chain ({} plugins). Use -1 to append at the end or 0 for the "
                    "first slot.",
                    k, count)};
    }

    // What the chain must look like afterwards: this one, with the plug-in at the asked place.
    const std::vector<std::string> before = slotNames(stripWasEmpty ? findTrackPluginSlots(toTrackIn) : slots);
    const int asked = k == -1 ? static_cast<int>(before.size()) : k;

    // The windows before the insert opens its plug-in's: only that one is closed, and the window the
    // user had in front of Logic Pro's own comes back there.
    const auto logic = logicApplication();
    const auto windowsBefore = logic ? windowsFound(applicationElement(*logic), toTrackIn) : WindowsFound{};
    // Stopped from the press on: the window the insert opened is closed all the same, its pauses cut
    // short, so that the turn's end has only its own window to close.
    struct ClosedWhenStopped {
        const LogicInspector& inspector;
        const std::optional<platform::RunningApplication>& logic;
        const WindowsFound& before;
        const AXElement& in;
        const bool& menuOpen;
        int unwinding = std::uncaught_exceptions();
        ~ClosedWhenStopped() {
            if (std::uncaught_exceptions() <= unwinding || !logic) return;
            try {
                const platform::HeldPauses closing(kClosingOnceStopped);
                // A menu the strip's move took the focus from takes the keys all the same.
                if (menuOpen) {
                    inspector.pressKey(key_code::kEscape);
                    inspector.pressKey(key_code::kEscape);
                }
                if (auto window = inspector.findPluginWindow(applicationElement(*logic), in);
                    window && !before.holds(*window))
                    inspector.closeOpenedPluginWindow(*window, before, in);
            } catch (...) {
            }
        }
    };
    bool menuOpen = false;  // from the bar's press until a choice or Escape closes it
    const ClosedWhenStopped closedWhenStopped{*this, logic, windowsBefore, toTrackIn, menuOpen};
    menuOpen = true;
    bar->performAction(ax::kPress);
    platform::pause(pacing::kInsertMenuOpens);
    // The menu hangs below the bar pressed. A press that rebuilt the strip leaves the bar's handle
    // answering nothing: the menu is then looked for below the bar found anew in the same place.
    auto menuFromBarFoundAgain = [&] {
        if (bar->string(ax::kRole)) return false;
        const auto place = std::find_if(bars.begin(), bars.end(), [&](const InsertBar& b) { return b.element == *bar; });
        std::vector<InsertBar> again;
        if (auto shown = firstMixerStrip(toTrackIn)) findInsertBars(*shown, again, 0, search_depth::kStripControls);
        sortTopToBottom(again);
        if (place == bars.end() || again.size() != bars.size()) return false;
        return navigatePluginMenu(again[static_cast<std::size_t>(place - bars.begin())].element, pluginName);
    };
    const bool chosen = navigatePluginMenu(*bar, pluginName) || menuFromBarFoundAgain();
    menuOpen = false;
    if (!chosen) {
        pressKey(key_code::kEscape);
        pressKey(key_code::kEscape);
        return {false, "Could not find '" + pluginName +
                           "' in the plugin menu. Use the exact name as it appears in Logic (e.g. 'Compressor', "
                           "'Channel EQ', 'Limiter')."};
    }

    platform::pause(pacing::kInsertedWindowOpens);
    if (logic)
        if (auto window = findPluginWindow(applicationElement(*logic), toTrackIn); window && !windowsBefore.holds(*window))
            closeOpenedPluginWindow(*window, windowsBefore, toTrackIn);

    // Success only once the chain reads back with the plug-in where it was asked for.
    std::string needle = text::lowercased(text::trimmingWhitespace(pluginName));
    if (auto alias = pluginNameAliases().find(needle); alias != pluginNameAliases().end()) needle = alias->second;
    std::vector<std::string> after;
    std::optional<int> landed;
    for (int attempt = 0; attempt < kReadBackTries; ++attempt) {
        if (attempt > 0) platform::pause(pacing::kChainReadBackRetry);
        auto chain = findTrackPluginSlots(toTrackIn);
        after = slotNames(chain);
        landed = insertedAt(before, after, asked, needle);
        if (landed && *landed == asked) {
            if (chainAfter) *chainAfter = std::move(chain);
            if (!logic) return {true, "Added " + pluginName + " (could not close window)"};
            return {true, "Added " + pluginName + " to the channel strip"};
        }
    }
    if (landed)
        return {false, fmt::format("Added {} at slot {} instead of slot {}. Chain: {}", pluginName, *landed, asked,
                                   joined(after))};
    return {false, fmt::format("Chose '{}' in the plugin menu, but it did not appear at slot {}. Chain: {}", pluginName,
                               asked, joined(after))};
}

Outcome LogicInspector::removePlugin(const AXElement& fromTrackIn, const InsertSlot& pluginSlot) const {
    auto listButton = findChildButton(pluginSlot.element, "list");
    if (!listButton) return {false, "Could not find menu button for " + pluginSlot.name};
    const auto before = slotNames(findTrackPluginSlots(fromTrackIn));
    const auto instances = std::count(before.begin(), before.end(), pluginSlot.name);
    if (instances == 0)
        return {false, fmt::format("Could not find {} in the selected track's chain. Chain: {}", pluginSlot.name,
                                   joined(before))};

    // A plug-in window of the slot closes with it and hands the front to the main window: the window
    // of Logic Pro's own the user had in front goes back there.
    const auto logic = logicApplication();
    const auto windowsBefore = logic ? windowsFound(applicationElement(*logic), fromTrackIn) : WindowsFound{};
    const auto frontBack = [&] {
        if (logic && windowsFound(applicationElement(*logic), fromTrackIn).plugins.size() < windowsBefore.plugins.size())
            raiseFrontOwn(windowsBefore, fromTrackIn);
    };
    // Stopped once the removal took the window with it: the front goes back all the same, its
    // pauses cut short; stopped with the slot's menu open, the menu is closed first, as one the
    // strip's move took the focus from takes the keys all the same.
    bool menuOpen = false;  // from the slot's press until Return chooses
    struct FrontBackWhenStopped {
        const LogicInspector& inspector;
        const decltype(frontBack)& back;
        const bool& menuOpen;
        int unwinding = std::uncaught_exceptions();
        ~FrontBackWhenStopped() {
            if (std::uncaught_exceptions() <= unwinding) return;
            try {
                const platform::HeldPauses closing(kClosingOnceStopped);
                if (menuOpen) inspector.pressKey(key_code::kEscape);
                back();
            } catch (...) {
            }
        }
    } frontBackWhenStopped{*this, frontBack, menuOpen};
    menuOpen = true;
    listButton->performAction(ax::kPress);
    platform::pause(pacing::kMenuOpens);
    // The second entry of the slot's menu takes the plug-in out of the slot.
    pressKey(key_code::kDown);
    platform::pause(pacing::kMenuKeyRepeat);
    pressKey(key_code::kDown);
    platform::pause(pacing::kBeforeMenuReturn);
    pressKey(key_code::kReturn);
    menuOpen = false;
    platform::pause(pacing::kPluginRemoved);

    std::vector<std::string> after;
    for (int attempt = 0; attempt < kReadBackTries; ++attempt) {
        if (attempt > 0) platform::pause(pacing::kChainReadBackRetry);
        after = slotNames(findTrackPluginSlots(fromTrackIn));
        if (after.size() + 1 == before.size() &&
            std::count(after.begin(), after.end(), pluginSlot.name) + 1 == instances) {
            frontBack();
            return {true, "Removed " + pluginSlot.name};
        }
    }
    return {false,
            fmt::format("Could not remove {}: it is still in the chain. Chain: {}", pluginSlot.name, joined(after))};
}

std::optional<Outcome> LogicInspector::verifyAndMaybeSummarize(const AXElement& window,
                                                               const std::vector<InsertSlot>& before, int fromIndex,
                                                               int toIndex, bool dropTook) const {
    // The whole chain as the move leaves it, each slot by its name and bypass: the name at the
    // target alone takes a plug-in of the same name that stayed there for the one moved.
    auto expected = before;
    const InsertSlot moving = expected[static_cast<std::size_t>(fromIndex)];
    expected.erase(expected.begin() + fromIndex);
    expected.insert(expected.begin() + toIndex, moving);
    const auto alike = [](const std::vector<InsertSlot>& a, const std::vector<InsertSlot>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const InsertSlot& x, const InsertSlot& y) {
            return x.name == y.name && x.isBypassed == y.isBypassed;
        });
    };
    const auto slots = findTrackPluginSlots(window);
    if (!alike(slots, expected)) return std::nullopt;
    // Moved among slots that look alike, the chain reads as before: Logic Pro builds a chain's
    // slots anew when it changes, so the moved slot's element still answering at the drop means
    // nothing moved. Read later, it tells nothing: the user's click may have had the strip, and
    // every slot on it, built anew for another track and back meanwhile.
    if (alike(before, expected) && !dropTook) return std::nullopt;
    return Outcome{true,
                   fmt::format("Moved {} to slot {}. Chain: {}", moving.name, toIndex, joined(slotNames(slots)))};
}

Outcome LogicInspector::reorderPlugin(const AXElement& inTrackWindow, int fromIndex, int toIndex) const {
    auto strip = firstMixerStrip(inTrackWindow);
    if (!strip) return {false, logic_messages::kMixerAreaNotFound};
    const auto slots = findTrackPluginSlots(inTrackWindow);
    const int n = static_cast<int>(slots.size());
    log(fmt::format("[reorderPlugin] chain has {} slots: {}", n, joined(slotNames(slots))));
    if (fromIndex < 0 || fromIndex >= n)
        return {false, fmt::format("fromIndex {} out of range (chain size {})", fromIndex, n)};
    if (toIndex < 0 || toIndex > n) return {false, fmt::format("toIndex {} out of range (0..{})", toIndex, n)};
    // One past the end means the last place: that is where the plug-in ends up and is looked for.
    if (toIndex == n) toIndex = n - 1;
    if (fromIndex == toIndex) return {true, "No move needed."};

    const InsertSlot& source = slots[static_cast<std::size_t>(fromIndex)];
    const std::string name = source.name;
    const Rect frame = frameForElement(source.element);
    const Point start{frame.x + 24.0, frame.y + frame.height * 0.5};
    log(fmt::format(
        "[reorderPlugin] src slot[{}]={} frame=(x={:.0f}, y={:.0f}, w={:.0f}, h={:.0f}) srcPoint=({:.1f}, {:.1f})",
        fromIndex, name, frame.x, frame.y, frame.width, frame.height, start.x, start.y));

    // The thin bars between slots are the gaps a plug-in can be dropped into.
    std::vector<InsertBar> allBars, gaps;
    findInsertBars(*strip, allBars, 0, search_depth::kStripControls);
    for (const auto& bar : allBars)
        if (frameForElement(bar.element).height <= 2.0) gaps.push_back(bar);
    sortTopToBottom(gaps);

    const int below = fromIndex < toIndex ? toIndex + 1 : toIndex;
    const int above = below - 1;
    double targetY = 0;
    if (toIndex == 0) {
        if (gaps.empty()) return {false, "Could not find an insert bar above the first plugin."};
        targetY = topOf(gaps.front().element) + 0.5;
    } else if (below < n) {
        const double aboveY = topOf(slots[static_cast<std::size_t>(above)].element);
        const double belowY = topOf(slots[static_cast<std::size_t>(below)].element);
        targetY = (aboveY + belowY) * 0.5 + frame.height * 0.5;
        for (const auto& gap : gaps) {
            const double y = topOf(gap.element);
            if (y > aboveY && y < belowY + 2.0) {
                targetY = y + 0.5;
                break;
            }
        }
    } else {
        targetY = topOf(slots.back().element) + frame.height + 2.0;
    }
    const Point target{start.x, targetY};
    log(fmt::format("[reorderPlugin] dragging ({:.1f}, {:.1f}) \u2192 ({:.1f}, {:.1f}) to={}", start.x, start.y,
                    target.x, target.y, toIndex));

    // The button goes down only on the slot as the strip shows it then (waited for where the user's
    // click moved the strip on), and a drop counts only where that strip stayed until the button was
    // let go: one built anew meanwhile took the dragged slot with it. Where the whole window was built
    // anew (every handle renewed at each change), that tells nothing, and the drop is judged as ever.
    std::size_t dragIndex = static_cast<std::size_t>(fromIndex);
    std::optional<AXElement> pressedOn;
    AXElement pressedIn;  // the main window then
    AXElement dragged;    // the slot the button went down on
    bool pressed = false, stripKept = false, dropTook = false;
    const auto watch = [&](int phase) {
        if (phase == 0) {
            const auto shown = findTrackPluginSlots(inTrackWindow);
            pressed = dragIndex < shown.size() && shown[dragIndex].name == name;
            if (pressed) dragged = shown[dragIndex].element;
            pressedIn = mainWindowAnew(inTrackWindow);
            pressedOn = firstStripShown(pressedIn);
        } else if (phase == 1) {
            const AXElement in = mainWindowAnew(pressedIn);
            stripKept = pressedOn && (!(in == pressedIn) || firstStripShown(in) == pressedOn);
        } else {
            dropTook = stripKept && ax_read::gone(dragged, ax::kDescription);
        }
        return phase != 0 || pressed;
    };
    FullscreenShield shield;
    if (auto made = mouseDragInLogic(start, target, 24, watch); !made.success && pressed)
        return {false, logic_messages::couldNotMove(name, made.message)};
    // A drag that was dropped is read back even after a Stop, so that the answer says where the
    // plug-in went.
    if (pressed) {
        settleDrop();
        if (auto moved = verifyAndMaybeSummarize(inTrackWindow, slots, fromIndex, toIndex, dropTook)) return *moved;
    }

    log("[reorderPlugin] first drag missed \u2014 closing stray plugin window and retrying");
    closeOpenPluginAndRestoreEditorView();
    platform::pause(pacing::kStrayWindowCloses);
    auto again = findTrackPluginSlots(inTrackWindow);
    // The slot dragged, where a missed drag left it; else the first of its name.
    auto found = fromIndex < static_cast<int>(again.size()) && again[static_cast<std::size_t>(fromIndex)].name == name
                     ? again.begin() + fromIndex
                     : std::find_if(again.begin(), again.end(), [&](const InsertSlot& s) { return s.name == name; });
    if (found == again.end())
        return {false, fmt::format("Plugin '{}' no longer visible in chain after failed drag. Chain: {}", name,
                                   joined(slotNames(again)))};
    const Rect retryFrame = frameForElement(found->element);
    const Point retryStart{retryFrame.x + 24.0, retryFrame.y + retryFrame.height * 0.5};
    log(fmt::format("[reorderPlugin] retry drag from slot {} ({:.1f}, {:.1f}) \u2192 ({:.1f}, {:.1f})",
                    found - again.begin(), retryStart.x, retryStart.y, target.x, target.y));
    dragIndex = static_cast<std::size_t>(found - again.begin());
    if (auto made = mouseDragInLogic(retryStart, target, 24, watch); !made.success)
        return {false, logic_messages::couldNotMove(name, made.message)};
    settleDrop();
    if (auto moved =
            verifyAndMaybeSummarize(inTrackWindow, again, static_cast<int>(found - again.begin()), toIndex, dropTook))
        return *moved;

    closeOpenPluginAndRestoreEditorView();
    const auto last = findTrackPluginSlots(inTrackWindow);
    auto where = std::find_if(last.begin(), last.end(), [&](const InsertSlot& s) { return s.name == name; });
    const std::string at = where == last.end() ? std::string("missing") : std::to_string(where - last.begin());
    return {false, fmt::format("Reorder failed twice: wanted {} at slot {}, it's at slot {}. Chain: {}", name, toIndex,
                               at, joined(slotNames(last)))};
}

}  // namespace corvane
