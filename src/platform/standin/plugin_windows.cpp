// Insert slots and plug-in windows: inserting, removing and moving plug-ins, opening and closing their
// windows, the controls in a window's header, and the side-chain pop-up. The controls of a window's body
// live in plugin_parameters.cpp.

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "platform/standin/engine.h"
#include "platform/standin/layout.h"
#include "platform/standin/plugin_parameters.h"

namespace corvane::standin::detail {

using platform::AXError;

namespace {

const std::string kPluginKeyPrefix = "plugin:";

std::string windowKey(int uid) { return kPluginKeyPrefix + std::to_string(uid); }

}  // namespace

InsertSlot* Engine::slotByUid(int uid, Track** owner) {
    for (Track& t : project.tracks)
        for (InsertSlot& s : t.strip.inserts)
            if (s.uid == uid) {
                if (owner) *owner = &t;
                return &s;
            }
    return nullptr;
}

std::string Engine::slotShownName(const InsertSlot& slot) const {
    if (faults.slotNameWidth <= 0) return slot.plugin;
    // Narrow slots show the first characters only (counted in code points).
    std::size_t i = 0;
    for (int shown = 0; i < slot.plugin.size() && shown < faults.slotNameWidth; ++shown) {
        ++i;
        while (i < slot.plugin.size() && (static_cast<unsigned char>(slot.plugin[i]) & 0xC0) == 0x80) ++i;
    }
    if (i >= slot.plugin.size()) return slot.plugin;
    return slot.plugin.substr(0, i) + (faults.slotNameEllipsis ? "\u2026" : "");
}

std::string Engine::pluginWindowTitle(int uid) const {
    for (const Track& t : project.tracks)
        for (const InsertSlot& s : t.strip.inserts)
            if (s.uid == uid) return t.name + ": " + s.plugin;
    return "";
}

void Engine::requestPluginWindow(int trackId, int uid) {
    // A window that is already open or on its way is only raised.
    if (logicWindow(windowKey(uid))) {
        raiseLogicWindow(windowKey(uid));
        return;
    }
    if (std::find(pendingWindows.begin(), pendingWindows.end(), uid) != pendingWindows.end()) return;
    if (faults.lateWindow > 0) {
        pendingWindows.push_back(uid);
        const int launch = launchCount;
        schedule(faults.lateWindow, "plug-in window appears", [this, trackId, uid, launch] {
            pendingWindows.erase(std::remove(pendingWindows.begin(), pendingWindows.end(), uid), pendingWindows.end());
            if (launchCount == launch && slotByUid(uid)) openPluginWindowNow(trackId, uid);
        });
        return;
    }
    openPluginWindowNow(trackId, uid);
}

void Engine::openPluginWindowNow(int trackId, int uid) {
    if (!logicRunning) return;
    if (logicWindow(windowKey(uid))) {
        raiseLogicWindow(windowKey(uid));
        return;
    }
    Track* owner = nullptr;
    InsertSlot* slot = slotByUid(uid, &owner);
    if (!slot || owner->id != trackId) return;
    double width = layout::kPluginWindowWidth, height = layout::kPluginWindowHeight;
    if (const PluginDefinition* def = project.plugin(slot->plugin)) {
        const auto& size = def->editor.is_object() ? def->editor.value("size", nlohmann::json()) : nlohmann::json();
        if (size.is_array() && size.size() == 2 && size[0].is_number() && size[1].is_number()) {
            width = std::clamp(size[0].get<double>(), 1.0, 4000.0);
            height = std::clamp(size[1].get<double>(), 1.0, 4000.0);
        }
    }
    const double cascade = layout::kPluginWindowCascade * double(pluginWindows.size());
    ScreenWindow w;
    w.id = nextWindowId++;
    w.pid = logicApp.pid;
    w.title = pluginWindowTitle(uid);
    w.frame = {layout::kPluginWindowX + cascade, layout::kPluginWindowY + cascade, width, height};
    w.homeFrame = w.frame;
    w.colour = palette::windowBody;
    w.logicKey = windowKey(uid);
    // The new window comes to the front of Logic's windows and becomes the key window.
    auto firstLogic =
        std::find_if(windows.begin(), windows.end(), [](const ScreenWindow& s) { return !s.logicKey.empty(); });
    windows.insert(logicFrontmost() ? windows.begin() : firstLogic, w);
    pluginWindows.push_back({trackId, uid});
    applyWindowKnobs();
    changed();
}

void Engine::closePluginWindow(int uid) {
    const std::string key = windowKey(uid);
    const bool wasOpen = std::any_of(pluginWindows.begin(), pluginWindows.end(),
                                     [uid](const PluginWindow& p) { return p.slotUid == uid; });
    pluginWindows.erase(std::remove_if(pluginWindows.begin(), pluginWindows.end(),
                                       [uid](const PluginWindow& p) { return p.slotUid == uid; }),
                        pluginWindows.end());
    windows.erase(
        std::remove_if(windows.begin(), windows.end(), [&](const ScreenWindow& w) { return w.logicKey == key; }),
        windows.end());
    if (menu &&
        (menu->kind == OpenMenu::Kind::view || menu->kind == OpenMenu::Kind::sidechain ||
         menu->kind == OpenMenu::Kind::parameter) &&
        menu->slotUid == uid)
        menu.reset();
    // Key focus goes back to the main window.
    if (wasOpen) raiseLogicWindow("main");
    changed();
}

void Engine::syncPluginWindows() {
    std::vector<int> gone;
    for (const PluginWindow& p : pluginWindows) {
        Track* owner = nullptr;
        if (!logicRunning || !slotByUid(p.slotUid, &owner) || owner->id != p.trackId) gone.push_back(p.slotUid);
    }
    for (int uid : gone) closePluginWindow(uid);
    for (ScreenWindow& w : windows)
        if (w.logicKey.rfind(kPluginKeyPrefix, 0) == 0) {
            int uid = -1;
            std::from_chars(w.logicKey.data() + kPluginKeyPrefix.size(), w.logicKey.data() + w.logicKey.size(), uid);
            w.title = pluginWindowTitle(uid);
        }
    applyWindowKnobs();
}

namespace {

// A fresh instance with the definition's defaults and a uid no slot has had.
InsertSlot freshSlot(const Project& p, const std::string& plugin, const std::string& format) {
    InsertSlot slot;
    slot.uid = 1;
    for (const Track& other : p.tracks)
        for (const InsertSlot& s : other.strip.inserts) slot.uid = std::max(slot.uid, s.uid + 1);
    slot.plugin = plugin;
    slot.format = format;
    if (const PluginDefinition* def = p.plugin(plugin); def && def->parameters.is_array())
        for (const auto& param : def->parameters)
            if (param.is_object() && param.contains("id") && param["id"].is_string() && param.contains("default") &&
                param["default"].is_number())
                slot.params[param["id"].get<std::string>()] = param["default"].get<double>();
    return slot;
}

}  // namespace

void Engine::insertPlugin(int trackId, int gap, const std::string& plugin, const std::string& format) {
    Track* t = project.trackById(trackId);
    if (!t || int(t->strip.inserts.size()) >= layout::kMaxSlots) return;
    const InsertSlot slot = freshSlot(project, plugin, format);
    const int at = std::clamp(gap, 0, int(t->strip.inserts.size()));
    t->strip.inserts.insert(t->strip.inserts.begin() + at, slot);
    if (faults.newSlotZeroFrame > 0) zeroFrameReads[slot.uid] = faults.newSlotZeroFrame;
    changed();
    if (faults.windowOnInsert) requestPluginWindow(trackId, slot.uid);
}

// Choosing a plug-in from a filled slot's menu swaps the instance in place: the old one's window closes,
// its state is gone, and the new one opens like an inserted plug-in.
void Engine::replacePlugin(int uid, const std::string& plugin, const std::string& format) {
    Track* owner = nullptr;
    InsertSlot* old = slotByUid(uid, &owner);
    if (!old) return;
    const int trackId = owner->id;
    const InsertSlot slot = freshSlot(project, plugin, format);
    *old = slot;
    zeroFrameReads.erase(uid);
    pendingWindows.erase(std::remove(pendingWindows.begin(), pendingWindows.end(), uid), pendingWindows.end());
    if (faults.newSlotZeroFrame > 0) zeroFrameReads[slot.uid] = faults.newSlotZeroFrame;
    changed();
    syncPluginWindows();
    if (faults.windowOnInsert) requestPluginWindow(trackId, slot.uid);
}

void Engine::removeSlot(int uid) {
    for (Track& t : project.tracks) {
        auto& ins = t.strip.inserts;
        auto it = std::find_if(ins.begin(), ins.end(), [uid](const InsertSlot& s) { return s.uid == uid; });
        if (it == ins.end()) continue;
        ins.erase(it);
        zeroFrameReads.erase(uid);
        pendingWindows.erase(std::remove(pendingWindows.begin(), pendingWindows.end(), uid), pendingWindows.end());
        changed();
        syncPluginWindows();
        return;
    }
}

// A drag that started on a slot's "open" area ends here. Logic moves the plug-in only when it is
// dropped into a gap of the same strip: on the 2 pt bar above a slot, within 3 pt of a slot's edge, or
// below the last slot; a drop on a slot's middle or anywhere else changes nothing.
void Engine::dropSlot(int sourceNode, platform::Point at) {
    const Binding source = tree[sourceNode].bind;
    if (faults.dropMisses > 0) {
        --faults.dropMisses;
        pressPluginNode(sourceNode, "AXPress");
        return;
    }
    Track* t = project.trackById(source.track);
    int strip = tree[sourceNode].parent;
    while (strip >= 0 && tree[strip].bind.kind != Bind::strip) strip = tree[strip].parent;
    if (!t || strip < 0 || source.index < 0 || source.index >= int(t->strip.inserts.size())) return;
    const int n = static_cast<int>(t->strip.inserts.size());

    std::optional<int> gap;
    double lastSlotBottom = -1;
    bool onSlotMiddle = false;
    for (int group : tree[strip].children) {
        if (tree[group].bind.kind != Bind::insertsGroup) continue;
        for (int c : tree[group].children) {
            const Node& node = tree[c];
            const platform::Rect f = node.frame;
            if (node.bind.kind == Bind::insertBar && f.contains(at) && !gap) gap = node.bind.index;
            if (node.bind.kind != Bind::slot) continue;
            lastSlotBottom = std::max(lastSlotBottom, f.maxY());
            if (gap || at.x < f.x || at.x >= f.maxX()) continue;
            if (std::fabs(at.y - f.y) <= 3)
                gap = node.bind.index;
            else if (std::fabs(at.y - f.maxY()) <= 3)
                gap = node.bind.index + 1;
            else if (f.contains(at))
                onSlotMiddle = true;
        }
    }
    const platform::Rect stripFrame = tree[strip].frame;
    if (!gap && !onSlotMiddle && lastSlotBottom >= 0 && at.x >= stripFrame.x && at.x < stripFrame.maxX() &&
        at.y >= lastSlotBottom && at.y < stripFrame.y + layout::kSendsY)
        gap = n;
    if (!gap) return;
    const int from = source.index;
    const int to = *gap > from ? *gap - 1 : *gap;
    if (to == from) return;
    InsertSlot moving = t->strip.inserts[static_cast<std::size_t>(from)];
    t->strip.inserts.erase(t->strip.inserts.begin() + from);
    t->strip.inserts.insert(t->strip.inserts.begin() + to, moving);
    if (faults.newSlotZeroFrame > 0) zeroFrameReads[moving.uid] = faults.newSlotZeroFrame;
    changed();
}

AXError Engine::pressPluginNode(int nodeIndex, const std::string& action) {
    const Binding b = tree[nodeIndex].bind;
    const bool showMenu = action == "AXPress" || action == "AXShowMenu";
    switch (b.kind) {
        case Bind::slotOpen: {
            Track* t = project.trackById(b.track);
            if (!t || b.index < 0 || b.index >= int(t->strip.inserts.size())) return AXError::invalidUIElement;
            const int uid = t->strip.inserts[static_cast<std::size_t>(b.index)].uid;
            if (faults.openIgnoresFirstPress &&
                std::find(ignoredFirstPress.begin(), ignoredFirstPress.end(), uid) == ignoredFirstPress.end()) {
                ignoredFirstPress.push_back(uid);
                return AXError::success;
            }
            if (faults.openToggles && logicWindow(windowKey(uid))) {
                closePluginWindow(uid);
                return AXError::success;
            }
            requestPluginWindow(t->id, uid);
            return AXError::success;
        }
        case Bind::pluginClose: closePluginWindow(b.index); return AXError::success;
        case Bind::pluginBypass:
            if (InsertSlot* s = slotByUid(b.index)) {
                s->bypassed = !s->bypassed;
                changed();
            }
            return AXError::success;
        case Bind::pluginHeaderButton: return AXError::success;
        case Bind::viewButton:
            if (showMenu) openMenu(OpenMenu::Kind::view, nodeIndex);
            return AXError::success;
        case Bind::sidechainPopup:
            if (showMenu) openMenu(OpenMenu::Kind::sidechain, nodeIndex);
            return AXError::success;
        case Bind::pluginControl: return pressPluginControl(*this, nodeIndex, action);
        default: return AXError::actionUnsupported;
    }
}

std::vector<std::string> Engine::sidechainSources() const {
    std::vector<std::string> out{"None", "Internal"};
    for (const Track& t : project.tracks)
        if (t.kind == TrackKind::audio || t.kind == TrackKind::instrument) out.push_back(t.name);
    for (const Bus& b : project.buses) out.push_back("Bus " + std::to_string(b.number));
    return out;
}

AXError Engine::writePopupText(int nodeIndex, const std::string& text) {
    const Binding b = tree[nodeIndex].bind;
    if (b.kind != Bind::sidechainPopup) return AXError::attributeUnsupported;
    switch (faults.popupDirectSet) {
        case PopupDirectSet::refuse: return AXError::attributeUnsupported;
        case PopupDirectSet::ignore: return AXError::success;
        case PopupDirectSet::accept: break;
    }
    InsertSlot* s = slotByUid(b.index);
    if (!s) return AXError::invalidUIElement;
    for (const std::string& option : sidechainSources())
        if (equalsIgnoringAsciiCase(option, trimmedAscii(text))) {
            s->sideChainSource = option;
            changed();
            break;
        }
    return AXError::success;
}

}  // namespace corvane::standin::detail
