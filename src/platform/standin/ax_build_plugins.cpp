// The Accessibility subtrees of plug-in windows and of the open menu.

#include <cmath>
#include <string>

#include "platform/standin/engine.h"
#include "platform/standin/layout.h"

namespace corvane::standin::detail {

namespace {

using platform::Rect;
using nlohmann::json;

Value intValue(long long v) { return Value{static_cast<std::int64_t>(v)}; }

int add(Tree& t, int parent, const std::string& suffix, const char* role, const std::string& sig, Rect frame,
        std::optional<std::string> description, Bind kind, int track, int index, std::string name = {}) {
    int i = t.add(parent, suffix, role, sig);
    Node& n = t[i];
    n.frame = frame;
    n.description = std::move(description);
    n.bind.kind = kind;
    n.bind.track = track;
    n.bind.index = index;
    n.bind.name = std::move(name);
    return i;
}

std::optional<Rect> rectFrom(const json& v, Rect window) {
    if (!v.is_array() || v.size() != 4) return std::nullopt;
    for (const auto& x : v)
        if (!x.is_number()) return std::nullopt;
    return Rect{window.x + v[0].get<double>(), window.y + v[1].get<double>(), v[2].get<double>(), v[3].get<double>()};
}

std::string text(const json& obj, const char* key) {
    auto it = obj.find(key);
    return it != obj.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The editor view: the definition's controls, each bound to a parameter of the slot.
void editorView(Engine& e, int body, const InsertSlot& slot, const PluginDefinition* def, Rect window, const std::string& sig,
                int track) {
    Tree& t = e.tree;
    if (!def || !def->editor.is_object() || !def->editor.contains("controls") || !def->editor["controls"].is_array()) return;
    int index = 0;
    for (const json& c : def->editor["controls"]) {
        if (!c.is_object()) continue;
        const std::string role = text(c, "role").empty() ? "AXButton" : text(c, "role");
        const Rect frame = rectFrom(c.value("frame", json()), window).value_or(Rect{window.x + 10, window.y + 60, 40, 20});
        const std::string description = text(c, "description");
        const std::string bind = text(c, "bind");
        int n = add(t, body, "c" + std::to_string(index++), role.c_str(), sig, frame,
                    description.empty() ? std::nullopt : std::optional<std::string>(description), Bind::pluginControl, track, slot.uid, bind);
        Node& node = t[n];
        if (!text(c, "title").empty()) node.title = text(c, "title");
        if (!text(c, "help").empty()) node.help = text(c, "help");
        if (!text(c, "identifier").empty()) node.identifier = text(c, "identifier");
        auto param = slot.params.find(bind);
        if (role == "AXSlider") {
            node.value = intValue(param != slot.params.end() ? std::llround(param->second) : 0);
            node.actions = {"AXIncrement", "AXDecrement"};
        } else if (role == "AXCheckBox") {
            node.value = intValue(param != slot.params.end() && param->second != 0 ? 1 : 0);
            node.actions = {"AXPress"};
        } else if (role == "AXButton") {
            node.actions = {"AXPress"};
        }
    }
}

// Logic's generic Controls view: one row per parameter.
void controlsView(Engine& e, int body, const InsertSlot& slot, const PluginDefinition* def, Rect bodyFrame, const std::string& sig,
                  int track) {
    Tree& t = e.tree;
    if (!def || !def->parameters.is_array()) return;
    int row = 0;
    for (const json& p : def->parameters) {
        if (!p.is_object()) continue;
        const std::string id = text(p, "id");
        const std::string label = text(p, "controlsLabel").empty() ? text(p, "label") : text(p, "controlsLabel");
        const std::string type = text(p, "type");
        const double y = bodyFrame.y + layout::kControlsRowPitch * row;
        const std::string key = "r" + std::to_string(row++);
        int l = add(t, body, key + "label", "AXStaticText", sig, {bodyFrame.x + 10, y, 100, 20}, std::nullopt, Bind::pluginControl,
                    track, slot.uid);
        t[l].value = Value{label};
        auto param = slot.params.find(id);
        const double raw = param != slot.params.end() ? param->second : 0;
        if (type == "toggle") {
            int c = add(t, body, key, "AXCheckBox", sig, {bodyFrame.x + 120, y, 20, 20}, label, Bind::pluginControl, track, slot.uid, id);
            t[c].value = intValue(raw != 0 ? 1 : 0);
            t[c].actions = {"AXPress"};
        } else if (type == "selector") {
            int c = add(t, body, key, "AXPopUpButton", sig, {bodyFrame.x + 120, y, 200, 20}, label, Bind::pluginControl, track, slot.uid, id);
            const json options = p.value("options", json::array());
            const auto i = static_cast<std::size_t>(std::max(0.0, raw));
            t[c].value = Value{options.is_array() && i < options.size() && options[i].is_string() ? options[i].get<std::string>() : std::string()};
            t[c].actions = {"AXPress"};
        } else {
            int c = add(t, body, key, "AXSlider", sig, {bodyFrame.x + 120, y, 200, 20}, std::nullopt, Bind::pluginControl, track, slot.uid, id);
            t[c].help = label + " slider";
            t[c].value = intValue(std::llround(raw));
            t[c].valueDescription = "";
            t[c].actions = {"AXIncrement", "AXDecrement"};
        }
    }
}

void menuLevel(Engine& e, int parent, const std::vector<MenuItem>& items, const std::vector<int>& itemPath, Rect frame,
               const std::string& sig) {
    const OpenMenu& m = *e.menu;
    Tree& t = e.tree;
    const int seq = static_cast<int>(m.seq);
    int menuNode = add(t, parent, "menu", "AXMenu", sig, frame, std::nullopt, Bind::menu, -1, seq, pathText(itemPath));
    int highlighted = -1;
    for (std::size_t l = 0; l < m.levels.size(); ++l)
        if (m.levels[l] == itemPath) highlighted = m.highlight[l];
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::vector<int> path = itemPath;
        path.push_back(static_cast<int>(i));
        const Rect itemFrame{frame.x, frame.y + layout::kMenuItemHeight * double(i), layout::kMenuWidth, layout::kMenuItemHeight};
        int item = add(t, menuNode, "i" + std::to_string(i), "AXMenuItem", sig, itemFrame, std::nullopt, Bind::menuItem, -1, seq,
                       pathText(path));
        t[item].title = items[i].title;
        t[item].selected = highlighted == static_cast<int>(i);
        t[item].actions = {"AXPress"};
        const std::vector<MenuItem>& children = items[i].children;
        if (!children.empty())
            menuLevel(e, item, children, path,
                      {itemFrame.maxX(), itemFrame.y, layout::kMenuWidth, layout::kMenuItemHeight * double(children.size())}, sig);
    }
}

}  // namespace

void buildPluginWindow(Engine& e, int win, const ScreenWindow& w, const std::string& baseSig) {
    Tree& t = e.tree;
    const int uid = std::stoi(w.logicKey.substr(w.logicKey.find(':') + 1));
    Track* owner = nullptr;
    const InsertSlot* slot = e.slotByUid(uid, &owner);
    t[win].subrole = "AXFloatingWindow";
    if (!slot) return;
    const PluginDefinition* def = e.project.plugin(slot->plugin);
    const Rect f = w.frame;
    const std::string sig = baseSig + "|P" + std::to_string(uid);
    const int track = owner->id;

    int close = add(t, win, "close", "AXButton", sig, {f.x + 8, f.y + 4, 14, 14}, "close", Bind::pluginClose, track, uid);
    t[close].actions = {"AXPress"};

    const Rect header{f.x, f.y + layout::kPluginHeaderY, f.width, layout::kPluginHeaderHeight};
    int h = add(t, win, "header", "AXGroup", sig, header, std::nullopt, Bind::pluginHeader, track, uid);
    const double y = header.y + 5;
    int bypass = add(t, h, "bypass", "AXCheckBox", sig, {f.x + 8, y, 20, 20}, "bypass", Bind::pluginBypass, track, uid);
    t[bypass].value = intValue(slot->bypassed ? 1 : 0);
    t[bypass].actions = {"AXPress"};
    double x = f.x + 32;
    for (const char* name : {"compare", "copy", "paste", "previous", "next"}) {
        int b = add(t, h, name, "AXButton", sig, {x, y, 40, 20}, std::string(name), Bind::pluginHeaderButton, track, uid, name);
        t[b].actions = {"AXPress"};
        x += 42;
    }
    int view = add(t, h, "view", "AXMenuButton", sig, {x + 4, y, 70, 20}, "view", Bind::viewButton, track, uid);
    t[view].value = Value{slot->windowView};
    t[view].title = slot->windowView;
    t[view].actions = {"AXPress", "AXShowMenu"};
    if (def && def->sidechain) {
        int sc = add(t, h, "sidechain", "AXPopUpButton", sig, {x + 78, y, 90, 20}, "Side Chain", Bind::sidechainPopup, track, uid);
        t[sc].help = "Side Chain Source: the signal that drives this plug-in\u2019s detector";
        t[sc].value = Value{slot->sideChainSource};
        t[sc].valueSettable = true;
        t[sc].actions = {"AXPress", "AXShowMenu"};
    }

    const Rect body{f.x, f.y + layout::kPluginBodyY, f.width, std::max(0.0, f.height - layout::kPluginBodyY)};
    const std::string bodySig = sig + "|" + slot->windowView;
    int b = add(t, win, "body", "AXGroup", bodySig, body, std::nullopt, Bind::pluginBody, track, uid);
    if (slot->windowView == "Controls") controlsView(e, b, *slot, def, body, bodySig, track);
    else editorView(e, b, *slot, def, f, bodySig, track);
}

void buildOpenMenu(Engine& e, int app, const std::string& baseSig) {
    if (!e.menu) return;
    Tree& t = e.tree;
    const OpenMenu& m = *e.menu;
    int parent = app;
    Rect invoker = m.invokerFrame;
    if (!e.faults.menuPlacementAppLevel) {
        // The menu hangs below its invoker; an invoker that is no longer shown takes its menu with it.
        parent = -1;
        for (std::size_t i = 0; i < t.size(); ++i)
            if (t[static_cast<int>(i)].key == m.invokerKey) parent = static_cast<int>(i);
        if (parent < 0) return;
        invoker = t[parent].frame;
    }
    const std::string sig = baseSig + "|M" + std::to_string(m.seq);
    menuLevel(e, parent, m.items, {}, {invoker.x, invoker.maxY(), layout::kMenuWidth, layout::kMenuItemHeight * double(m.items.size())}, sig);
}

}  // namespace corvane::standin::detail
