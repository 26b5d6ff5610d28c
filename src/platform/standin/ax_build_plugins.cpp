// The Accessibility subtrees of plug-in windows and of the open menu.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

#include "platform/standin/engine.h"
#include "platform/standin/layout.h"
#include "platform/standin/plugin_parameters.h"

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

// One control of the editor layout and, below it, its nested controls. Sliders bound to a parameter
// carry the raw value and a value description from the curve and unit; value-less buttons bound to a toggle
// or an option show their state only in their painted probe region.
void editorControlNode(Engine& e, int parent, const json& c, const std::string& path, const InsertSlot& slot,
                       const PluginDefinition& def, Rect window, const std::string& sig, int track) {
    Tree& t = e.tree;
    const std::string role = textOr(c, "role").empty() ? "AXButton" : textOr(c, "role");
    const Rect frame = rectFrom(c.value("frame", json()), window).value_or(Rect{window.x + 10, window.y + 60, 40, 20});
    const std::string description = textOr(c, "description");
    int n = add(t, parent, "c" + path, role.c_str(), sig, frame,
                description.empty() ? std::nullopt : std::optional<std::string>(description), Bind::pluginControl,
                track, slot.uid, "e:" + path);
    Node& node = t[n];
    if (!textOr(c, "title").empty()) node.title = textOr(c, "title");
    if (!textOr(c, "help").empty()) node.help = textOr(c, "help");
    if (!textOr(c, "identifier").empty()) node.identifier = textOr(c, "identifier");
    const auto param = paramSpec(def, textOr(c, "bind"));
    const double raw = param ? paramRaw(slot, *param) : 0;
    if (role == "AXSlider") {
        if (param) {
            node.value = intValue(std::llround(raw));
            node.minValue = intValue(std::llround(param->rawMin));
            node.maxValue = intValue(std::llround(param->rawMax));
            const bool blank = e.faults.blankValueDescription || !flagOr(c, "valueDescription", true);
            node.valueDescription = blank ? std::string("   ") : displayText(*param, raw);
            node.valueSettable = true;
        } else if (c.contains("value") && c["value"].is_number()) {
            node.value = intValue(std::llround(std::clamp(c["value"].get<double>(), -1e15, 1e15)));
        }
        node.actions = {"AXIncrement", "AXDecrement"};
    } else if (role == "AXCheckBox") {
        if (param) node.value = intValue(raw != 0 ? 1 : 0);
        node.actions = {"AXPress"};
    } else if (role == "AXPopUpButton" || role == "AXMenuButton") {
        node.value = Value{param ? displayText(*param, raw) : textOr(c, "value")};
        node.valueSettable = param.has_value();
        node.actions = {"AXPress", "AXShowMenu"};
    } else if (role == "AXStaticText") {
        if (param)
            node.value = Value{displayText(*param, raw)};
        else if (c.contains("value") && c["value"].is_string())
            node.value = Value{c["value"].get<std::string>()};
    } else if (role == "AXButton" || role == "AXRadioButton") {
        node.actions = {"AXPress"};
    }
    if (auto children = c.find("children"); children != c.end() && children->is_array())
        for (std::size_t i = 0; i < children->size(); ++i)
            if ((*children)[i].is_object())
                editorControlNode(e, n, (*children)[i], path + "." + std::to_string(i), slot, def, window, sig, track);
}

void editorView(Engine& e, int body, const InsertSlot& slot, const PluginDefinition* def, Rect window,
                const std::string& sig, int track) {
    if (!def || !def->editor.is_object() || !def->editor.contains("controls") || !def->editor["controls"].is_array())
        return;
    const json& controls = def->editor["controls"];
    for (std::size_t i = 0; i < controls.size(); ++i)
        if (controls[i].is_object())
            editorControlNode(e, body, controls[i], std::to_string(i), slot, *def, window, sig, track);
}

// Logic's generic Controls view: one row per visible parameter, a label at the left, then a slider with
// its numeric read-out, a check box, a pop-up or a button.
void controlsView(Engine& e, int body, const InsertSlot& slot, const PluginDefinition* def, Rect bodyFrame,
                  const std::string& sig, int track) {
    Tree& t = e.tree;
    if (!def) return;
    int row = 0;
    for (const ParamSpec& p : paramSpecs(*def)) {
        if (p.hidden || p.type == "text") continue;
        const std::string& label = p.shownLabel();
        const double y = bodyFrame.y + layout::kControlsRowPitch * row;
        const std::string key = "r" + std::to_string(row++);
        auto ref = [&](const char* part) { return std::string("k:") + part + ":" + p.id; };
        const std::optional<std::string> described = p.described ? std::optional<std::string>(label) : std::nullopt;
        int l = add(t, body, key + "label", "AXStaticText", sig, {bodyFrame.x + 10, y, 100, 20}, std::nullopt,
                    Bind::pluginControl, track, slot.uid, ref("label"));
        t[l].value = Value{label};
        const double raw = paramRaw(slot, p);
        if (p.type == "toggle") {
            int c = add(t, body, key, "AXCheckBox", sig, {bodyFrame.x + 120, y, 20, 20}, described, Bind::pluginControl,
                        track, slot.uid, ref("check"));
            t[c].value = intValue(raw != 0 ? 1 : 0);
            t[c].actions = {"AXPress"};
        } else if (p.hasOptions()) {
            int c = add(t, body, key, "AXPopUpButton", sig, {bodyFrame.x + 120, y, 200, 20}, described,
                        Bind::pluginControl, track, slot.uid, ref("popup"));
            t[c].value = Value{displayText(p, raw)};
            t[c].valueSettable = true;
            t[c].actions = {"AXPress", "AXShowMenu"};
        } else if (p.type == "momentary") {
            int c = add(t, body, key, "AXButton", sig, {bodyFrame.x + 120, y, 80, 20}, described, Bind::pluginControl,
                        track, slot.uid, ref("button"));
            t[c].actions = {"AXPress"};
        } else {
            const long long shownRaw = std::llround(def->controlsInverted ? p.rawMin + p.rawMax - raw : raw);
            int c = add(t, body, key, "AXSlider", sig, {bodyFrame.x + 120, y, 200, 20}, std::nullopt,
                        Bind::pluginControl, track, slot.uid, ref("main"));
            t[c].help = label + " slider";
            t[c].value = intValue(shownRaw);
            t[c].minValue = intValue(std::llround(p.rawMin));
            t[c].maxValue = intValue(std::llround(p.rawMax));
            t[c].valueDescription = "";
            t[c].valueSettable = true;
            t[c].actions = {"AXIncrement", "AXDecrement"};
            int r = add(t, body, key + "readout", "AXSlider", sig, {bodyFrame.x + 330, y, 60, 20}, std::nullopt,
                        Bind::pluginControl, track, slot.uid, ref("readout"));
            t[r].help = "";
            t[r].value = intValue(std::llround(raw));
            t[r].valueDescription = displayText(p, raw);
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
        const Rect itemFrame{frame.x, frame.y + layout::kMenuItemHeight * double(i), layout::kMenuWidth,
                             layout::kMenuItemHeight};
        int item = add(t, menuNode, "i" + std::to_string(i), "AXMenuItem", sig, itemFrame, std::nullopt, Bind::menuItem,
                       -1, seq, pathText(path));
        t[item].title = items[i].title;
        t[item].selected = highlighted == static_cast<int>(i);
        t[item].actions = {"AXPress"};
        const std::vector<MenuItem>& children = items[i].children;
        if (!children.empty())
            menuLevel(
                e, item, children, path,
                {itemFrame.maxX(), itemFrame.y, layout::kMenuWidth, layout::kMenuItemHeight * double(children.size())},
                sig);
    }
}

}  // namespace

void buildPluginWindow(Engine& e, int win, const ScreenWindow& w, const std::string& baseSig) {
    Tree& t = e.tree;
    int uid = -1;  // "plugin:<uid>"
    std::from_chars(w.logicKey.data() + w.logicKey.find(':') + 1, w.logicKey.data() + w.logicKey.size(), uid);
    Track* owner = nullptr;
    const InsertSlot* slot = e.slotByUid(uid, &owner);
    t[win].subrole = "AXFloatingWindow";
    if (!slot) return;
    const PluginDefinition* def = e.project.plugin(slot->plugin);
    const Rect f = w.frame;
    const std::string sig = baseSig + "|P" + std::to_string(uid);
    const int track = owner->id;

    int close =
        add(t, win, "close", "AXButton", sig, {f.x + 8, f.y + 4, 14, 14}, "close", Bind::pluginClose, track, uid);
    t[close].subrole = "AXCloseButton";
    t[close].actions = {"AXPress"};

    const Rect header{f.x, f.y + layout::kPluginHeaderY, f.width, layout::kPluginHeaderHeight};
    int h = add(t, win, "header", "AXGroup", sig, header, std::nullopt, Bind::pluginHeader, track, uid);
    const double y = header.y + 5;
    int bypass = add(t, h, "bypass", "AXCheckBox", sig, {f.x + 8, y, 20, 20}, "bypass", Bind::pluginBypass, track, uid);
    t[bypass].value = intValue(slot->bypassed ? 1 : 0);
    t[bypass].actions = {"AXPress"};
    double x = f.x + 32;
    for (const char* name : {"compare", "copy", "paste", "previous", "next"}) {
        int b = add(t, h, name, "AXButton", sig, {x, y, 40, 20}, std::string(name), Bind::pluginHeaderButton, track,
                    uid, name);
        t[b].actions = {"AXPress"};
        x += 42;
    }
    int view = add(t, h, "view", "AXMenuButton", sig, {x + 4, y, 70, 20}, "view", Bind::viewButton, track, uid);
    t[view].value = Value{slot->windowView};
    t[view].title = slot->windowView;
    t[view].actions = {"AXPress", "AXShowMenu"};
    if (def && def->sidechain) {
        int sc = add(t, h, "sidechain", "AXPopUpButton", sig, {x + 78, y, 90, 20}, "Side Chain", Bind::sidechainPopup,
                     track, uid);
        t[sc].help = "Side Chain Source: the signal that drives this plug-in\u2019s detector";
        t[sc].value = Value{slot->sideChainSource};
        t[sc].valueSettable = true;
        t[sc].actions = {"AXPress", "AXShowMenu"};
    }

    const Rect body{f.x, f.y + layout::kPluginBodyY, f.width, std::max(0.0, f.height - layout::kPluginBodyY)};
    const std::string bodySig = sig + "|" + slot->windowView;
    int b = add(t, win, "body", "AXGroup", bodySig, body, std::nullopt, Bind::pluginBody, track, uid);
    if (slot->windowView == "Controls")
        controlsView(e, b, *slot, def, body, bodySig, track);
    else
        editorView(e, b, *slot, def, f, bodySig, track);
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
    menuLevel(e, parent, m.items, {},
              {invoker.x, invoker.maxY(), layout::kMenuWidth, layout::kMenuItemHeight * double(m.items.size())}, sig);
}

}  // namespace corvane::standin::detail
