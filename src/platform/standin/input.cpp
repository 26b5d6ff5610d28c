// Synthetic keys and mouse events: routing, Logic's key commands, hit-testing and clicks.

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "platform/standin/engine.h"

namespace corvane::standin::detail {

namespace {

constexpr std::uint64_t kModifierMask = platform::modifier::kShift | platform::modifier::kControl |
                                        platform::modifier::kOption | platform::modifier::kCommand;
constexpr std::uint64_t kFolderChord = platform::modifier::kCommand | platform::modifier::kControl;

// Keys with a meaning in Logic's key window; with other modifiers they do nothing.
bool knownKey(std::uint16_t code) {
    switch (code) {
        case 1:
        case 8:
        case 34:
        case 36:
        case 46:
        case 49:
        case 51:
        case 53:
        case 123:
        case 124:
        case 125:
        case 126: return true;
        default: return false;
    }
}

double distance(platform::Point a, platform::Point b) { return std::hypot(a.x - b.x, a.y - b.y); }

}  // namespace

bool Engine::postKey(bool hid, int pid, const platform::KeyEvent& ev) {
    Event e;
    e.kind = EventKind::key;
    e.route = hid ? "hid" : "process";
    e.keyCode = ev.virtualKey;
    e.keyDown = ev.keyDown;
    e.flags = ev.flags;
    e.text = utf8(ev.unicodeText);
    const int target = hid ? frontmost.value_or(0) : pid;
    e.pid = target;
    auto done = [&](const char* outcome) {
        e.outcome = outcome;
        record(std::move(e));
        return true;
    };
    if (!logicRunning || target != logicApp.pid) return done("not Logic");
    if (!hid && faults.backgroundKeysIgnore && !logicFrontmost()) return done("dropped");
    if (!ev.keyDown) return done("up");

    const std::uint16_t code = ev.virtualKey;
    const std::uint64_t mods = ev.flags & kModifierMask;
    const bool arrow = code >= 123 && code <= 126;
    if (arrow && faults.arrowKeysIgnored) return done("swallowed");
    // An open menu takes every key first.
    if (menu) return done(menuKey(ev));
    if (renaming) return done(renameKey(ev));
    if (code == 0 && !ev.unicodeText.empty()) return done("unhandled");
    if (faults.pluginWindowTakesKeys && (arrow || code == 1 || code == 46)) {
        const ScreenWindow* key = keyLogicWindow();
        if (key && key->logicKey.rfind("plugin:", 0) == 0) return done("swallowed");
    }

    if (mods == kFolderChord && (code == 124 || code == 123)) {
        const Track* t = project.selectedTrack();
        if (t && t->kind == TrackKind::folder) setExpanded(t->id, code == 124);
        return done("handled");
    }
    if (mods != 0) return done(knownKey(code) ? "ignored" : "unhandled");

    switch (code) {
        case 125:
        case 126: {
            std::vector<int> visible = project.visibleTrackIds();
            auto it = std::find(visible.begin(), visible.end(), project.selectedTrackId);
            if (it != visible.end()) {
                std::ptrdiff_t i = it - visible.begin() + (code == 125 ? 1 : -1);
                i = std::clamp<std::ptrdiff_t>(i, 0, static_cast<std::ptrdiff_t>(visible.size()) - 1);
                selectTrack(visible[static_cast<std::size_t>(i)]);
            }
            return done("handled");
        }
        case 34: toggleInspector(); return done("handled");
        case 1:
            for (int id : project.selectedTrackIds()) toggleSolo(id);
            return done("handled");
        case 46:
            for (int id : project.selectedTrackIds()) toggleMute(id);
            return done("handled");
        case 8:
            project.transport.cycleOn = !project.transport.cycleOn;
            changed();
            return done("handled");
        case 49:
            if (project.transport.playing)
                stopPlayback();
            else
                startPlayback();
            return done("handled");
        case 123:
        case 124:
        case 36:
        case 53:
        case 51: return done("consumed");
        default: return done("unhandled");
    }
}

const ScreenWindow* Engine::topmostAt(platform::Point p, bool forMouse) const {
    for (const ScreenWindow* w : visibleStack()) {
        if (forMouse && w->ignoresMouse) continue;
        if (w->frame.contains(p)) return w;
    }
    return nullptr;
}

// The deepest element containing the point; later siblings win.
int Engine::hitTest(std::string_view windowKey, platform::Point p) {
    ensureTree();
    int current = -1;
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const Node& n = tree[static_cast<int>(i)];
        if (n.role == "AXWindow" && n.windowKey == windowKey) {
            current = static_cast<int>(i);
            break;
        }
    }
    if (current < 0 || !tree[current].frame.contains(p)) return -1;
    for (;;) {
        int next = -1;
        const auto& children = tree[current].children;
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            const Node& c = tree[*it];
            if (c.hasFrame && c.frame.contains(p)) {
                next = *it;
                break;
            }
        }
        if (next < 0) return current;
        current = next;
    }
}

void Engine::holdNode(ClickState& click, int node) const {
    click.nodeId = tree[node].id;
    click.nodeGen = tree[node].gen;
    click.nodeSig = tree[node].sig;
    click.nodeEpoch = staleEpoch;
}

// What the button holds is the control itself, not a handle: where staleAfter always renewed every
// node's generation while the button was down, a node whose signature differs only by the stale
// epoch is the same control, and a click or drop acts on it as Logic Pro's would.
int Engine::heldNode(const ClickState& click) const {
    const int i = tree.findById(click.nodeId);
    if (i < 0) return -1;
    const Node& n = tree[i];
    if (n.gen == click.nodeGen) return i;
    if (click.nodeEpoch == staleEpoch) return -1;
    const std::string was = fmt::format("L{}E{}", launchCount, click.nodeEpoch);
    const std::string now = fmt::format("L{}E{}", launchCount, staleEpoch);
    const std::string& sig = click.nodeSig;
    const bool based = sig.rfind(was, 0) == 0 && (sig.size() == was.size() || sig[was.size()] == '|');
    return based && n.sig == now + sig.substr(was.size()) ? i : -1;
}

bool Engine::postMouse(bool hid, int pid, const platform::MouseEvent& ev) {
    Event e;
    e.kind = EventKind::mouse;
    e.mouseType = ev.type;
    e.point = ev.location;
    e.flags = ev.flags;
    ClickState& click = hid ? hidClick : processClick;
    const ScreenWindow* win = nullptr;
    // With the button held since a press Logic's window took, the rest of the gesture goes to that
    // window, wherever the pointer is and whichever application the user activated meanwhile, as
    // the window server hands it on: a click on another application's window leaves a drag alone.
    const bool heldGesture =
        ev.type == platform::MouseEventType::leftDragged || ev.type == platform::MouseEventType::leftUp;
    const ScreenWindow* held = hid && heldGesture && click.down && logicRunning && !click.windowKey.empty()
                                   ? logicWindow(click.windowKey)
                                   : nullptr;
    if (held && held->visible && !held->minimised) {
        cursor = ev.location;
        e.pid = held->pid;
        e.route = "hid";
        win = held;
    } else if (hid) {
        cursor = ev.location;
        const ScreenWindow* top = topmostAt(ev.location, true);
        e.pid = top ? top->pid : 0;
        if (!(logicFrontmost() && top && !top->logicKey.empty())) {
            e.route = "stray";
            record(std::move(e));
            click = {};
            return true;
        }
        e.route = "hid";
        win = top;
    } else {
        e.route = "process";
        e.pid = pid;
        if (!logicRunning || pid != logicApp.pid) {
            e.outcome = "not Logic";
            record(std::move(e));
            return true;
        }
        for (const ScreenWindow* w : logicWindows())
            if (!w->minimised && w->frame.contains(ev.location)) {
                win = w;
                break;
            }
    }

    switch (ev.type) {
        case platform::MouseEventType::moved: e.outcome = "moved"; break;
        case platform::MouseEventType::leftDown: {
            click = {};
            if (menu) {
                // With a menu open, a click lands on one of its items or only closes the menu.
                int item = menuItemNodeAt(ev.location);
                if (item < 0) {
                    closeMenus();
                    e.outcome = "menu closed";
                    break;
                }
                click.down = true;
                click.at = ev.location;
                holdNode(click, item);
                e.element = describeNode(item);
                e.place = placeOf(item);
                e.outcome = "down";
                break;
            }
            int hit = win ? hitTest(win->logicKey, ev.location) : -1;
            if (hit < 0) {
                e.outcome = "missed";
                break;
            }
            click.down = true;
            click.at = ev.location;
            click.flags = ev.flags & kModifierMask;
            click.windowKey = win->logicKey;
            holdNode(click, hit);
            e.element = describeNode(hit);
            e.place = placeOf(hit);
            e.outcome = "down";
            break;
        }
        case platform::MouseEventType::leftDragged:
            if (click.down && distance(click.at, ev.location) > 3) click.dragging = true;
            e.outcome = click.dragging ? "drag" : "moved";
            break;
        case platform::MouseEventType::leftUp: {
            const bool isClick = click.down && !click.dragging && distance(click.at, ev.location) <= 3;
            e.outcome = "up";
            if (click.down && click.dragging) {
                ensureTree();
                int source = heldNode(click);
                // Only a drag that began on a slot's "open" area carries a plug-in.
                if (source >= 0 && tree[source].bind.kind == Bind::slotOpen) {
                    e.element = describeNode(source);
                    e.place = placeOf(source);
                    e.outcome = "drop";
                    dropSlot(source, ev.location);
                }
            }
            if (isClick) {
                ensureTree();
                int target = heldNode(click);
                // A click acts like AXPress on the deepest element hit, or on its nearest pressable ancestor.
                while (target >= 0) {
                    const auto& actions = tree[target].actions;
                    if (std::find(actions.begin(), actions.end(), "AXPress") != actions.end()) break;
                    target = tree[target].parent;
                }
                const std::string windowKey = win ? win->logicKey : std::string();
                if (target >= 0 && click.flags == platform::modifier::kShift &&
                    tree[target].bind.kind == Bind::header) {
                    // A Shift-click on a header adds its track to the selection.
                    e.element = describeNode(target);
                    e.place = placeOf(target);
                    addToSelection(tree[target].bind.track);
                    e.outcome = "click";
                } else if (target >= 0) {
                    e.element = describeNode(target);
                    e.place = placeOf(target);
                    e.code = platform::code(press(target, "AXPress"));
                    e.outcome = "click";
                } else {
                    e.outcome = "click (inert)";
                }
                // Clicking into a window brings it to the front of Logic's windows.
                if (!windowKey.empty()) raiseLogicWindow(windowKey);
            }
            click = {};
            break;
        }
    }
    record(std::move(e));
    return true;
}

}  // namespace corvane::standin::detail
