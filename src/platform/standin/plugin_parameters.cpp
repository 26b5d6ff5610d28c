// Plug-in parameters: what the catalogue says about them, how their controls show them, and how presses,
// value writes and pop-up menus change the slot's parameter state (shared by the editor and Controls views).

#include "platform/standin/plugin_parameters.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include <fmt/format.h>

namespace corvane::standin::detail {

using nlohmann::json;
using platform::AXError;

namespace {

std::optional<std::pair<double, double>> pair(const json& obj, const char* key) {
    auto it = obj.find(key);
    if (it == obj.end() || !it->is_array() || it->size() != 2 || !(*it)[0].is_number() || !(*it)[1].is_number())
        return std::nullopt;
    return std::make_pair((*it)[0].get<double>(), (*it)[1].get<double>());
}

ParamSpec specFrom(const json& p) {
    ParamSpec s;
    s.id = textOr(p, "id");
    s.label = textOr(p, "label");
    if (!textOr(p, "type").empty()) s.type = textOr(p, "type");
    s.unit = textOr(p, "unit");
    if (!textOr(p, "curve").empty()) s.curve = textOr(p, "curve");
    s.controlsLabel = textOr(p, "controlsLabel");
    if (auto options = p.find("options"); options != p.end() && options->is_array())
        for (const json& o : *options)
            if (o.is_string()) s.options.push_back(o.get<std::string>());
    if (auto raw = pair(p, "raw"))
        std::tie(s.rawMin, s.rawMax) = *raw;
    else if (s.type == "toggle")
        s.rawMax = 1;
    else if (s.hasOptions())
        s.rawMax = std::max(0.0, double(s.options.size()) - 1);
    if (auto shown = pair(p, "display")) {
        s.displayMin = shown->first;
        s.displayMax = shown->second;
    }
    s.defaultRaw = numberOr(p, "default", s.rawMin);
    s.hidden = flagOr(p, "hidden", false);
    s.described = flagOr(p, "controlsDescribed", true);
    return s;
}

struct Located {
    InsertSlot* slot = nullptr;
    const PluginDefinition* def = nullptr;
    Track* owner = nullptr;
};

Located locate(Engine& e, const Binding& b) {
    Located l;
    l.slot = e.slotByUid(b.index, &l.owner);
    if (l.slot) l.def = e.project.plugin(l.slot->plugin);
    return l;
}

// What a control node stands for: its parameter and, for an option's own button, the option's index.
struct Control {
    std::optional<ParamSpec> param;
    std::optional<int> option;
    std::string part;              // Controls view: "main", "readout", ...; editor: "editor"
    const json* editor = nullptr;  // the editor control's JSON
};

std::optional<int> optionIndex(const ParamSpec& p, const json& option) {
    if (option.is_number_integer()) return option.get<int>();
    if (!option.is_string()) return std::nullopt;
    for (std::size_t i = 0; i < p.options.size(); ++i)
        if (p.options[i] == option.get<std::string>()) return static_cast<int>(i);
    return std::nullopt;
}

Control controlOf(const PluginDefinition& def, const std::string& ref) {
    Control c;
    if (ref.rfind("e:", 0) == 0) {
        c.part = "editor";
        c.editor = editorControl(def, ref.substr(2));
        if (!c.editor) return c;
        c.param = paramSpec(def, textOr(*c.editor, "bind"));
        if (c.param && c.editor->contains("option")) c.option = optionIndex(*c.param, (*c.editor)["option"]);
    } else if (ref.rfind("k:", 0) == 0) {
        const auto colon = ref.find(':', 2);
        if (colon == std::string::npos) return c;
        c.part = ref.substr(2, colon - 2);
        c.param = paramSpec(def, ref.substr(colon + 1));
    }
    return c;
}

void setRaw(Engine& e, InsertSlot& slot, const ParamSpec& p, double raw) {
    const double lo = std::min(p.rawMin, p.rawMax), hi = std::max(p.rawMin, p.rawMax);
    raw = std::clamp(raw, lo, hi);
    if (paramRaw(slot, p) == raw && slot.params.count(p.id)) return;
    slot.params[p.id] = raw;
    e.changed();
}

// Controls-view sliders of a plug-in with inverted controls run from the top of the range down.
bool invertedSlider(const PluginDefinition& def, const Control& c) { return def.controlsInverted && c.part == "main"; }

double snapped(const ParamSpec& p, double raw, int quantise) {
    raw = std::round(raw);
    if (quantise > 1) raw = p.rawMin + std::round((raw - p.rawMin) / quantise) * quantise;
    return raw;
}

}  // namespace

std::string textOr(const json& obj, const char* key) {
    auto it = obj.find(key);
    return it != obj.end() && it->is_string() ? it->get<std::string>() : std::string();
}

double numberOr(const json& obj, const char* key, double fallback) {
    auto it = obj.find(key);
    return it != obj.end() && it->is_number() && std::isfinite(it->get<double>()) ? it->get<double>() : fallback;
}

bool flagOr(const json& obj, const char* key, bool fallback) {
    auto it = obj.find(key);
    return it != obj.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

std::vector<ParamSpec> paramSpecs(const PluginDefinition& def) {
    std::vector<ParamSpec> out;
    if (!def.parameters.is_array()) return out;
    for (const json& p : def.parameters)
        if (p.is_object()) out.push_back(specFrom(p));
    return out;
}

std::optional<ParamSpec> paramSpec(const PluginDefinition& def, const std::string& id) {
    if (id.empty() || !def.parameters.is_array()) return std::nullopt;
    for (const json& p : def.parameters)
        if (p.is_object() && textOr(p, "id") == id) return specFrom(p);
    return std::nullopt;
}

double paramRaw(const InsertSlot& slot, const ParamSpec& p) {
    auto it = slot.params.find(p.id);
    return it != slot.params.end() ? it->second : p.defaultRaw;
}

std::optional<double> displayValue(const ParamSpec& p, double raw) {
    if (!p.displayMin || !p.displayMax || !(p.rawMax > p.rawMin)) return std::nullopt;
    const double t = (std::clamp(raw, p.rawMin, p.rawMax) - p.rawMin) / (p.rawMax - p.rawMin);
    const double lo = *p.displayMin, hi = *p.displayMax;
    if (p.curve == "logarithmic" && lo > 0 && hi > 0) return lo * std::pow(hi / lo, t);
    if (p.curve == "exponential") return lo + (hi - lo) * (std::exp2(t) - 1);
    return lo + (hi - lo) * t;
}

std::string displayText(const ParamSpec& p, double raw) {
    if (p.hasOptions()) {
        const auto i = static_cast<long long>(std::llround(raw));
        return i >= 0 && i < static_cast<long long>(p.options.size()) ? p.options[static_cast<std::size_t>(i)]
                                                                      : std::string();
    }
    if (p.type == "toggle") return raw != 0 ? "On" : "Off";
    const double v = displayValue(p, raw).value_or(raw);
    const std::string& u = p.unit;
    if (u == "dB") return fmt::format("{:.1f} dB", v);
    if (u == "ms") return std::fabs(v) >= 1000 ? fmt::format("{:.2f} s", v / 1000) : fmt::format("{:.0f} ms", v);
    if (u == "s") return fmt::format("{:.2f} s", v);
    if (u == "Hz") return std::fabs(v) >= 1000 ? fmt::format("{:.2f} kHz", v / 1000) : fmt::format("{:.0f} Hz", v);
    if (u == "kHz") return fmt::format("{:.2f} kHz", v);
    if (u == "%") return fmt::format("{:.0f}%", v);
    if (u == ":1") return fmt::format("{:.1f}:1", v);
    if (p.type == "discrete") return u.empty() ? fmt::format("{:.0f}", v) : fmt::format("{:.0f} {}", v, u);
    return u.empty() ? fmt::format("{:.2f}", v) : fmt::format("{:.1f} {}", v, u);
}

const json* editorControl(const PluginDefinition& def, const std::string& path) {
    if (!def.editor.is_object()) return nullptr;
    const json* level = def.editor.contains("controls") ? &def.editor["controls"] : nullptr;
    const json* found = nullptr;
    for (int index : parsePath(path)) {
        if (!level || !level->is_array() || index < 0 || index >= static_cast<int>(level->size())) return nullptr;
        found = &(*level)[static_cast<std::size_t>(index)];
        level = found->is_object() && found->contains("children") ? &(*found)["children"] : nullptr;
    }
    return found && found->is_object() ? found : nullptr;
}

AXError pressPluginControl(Engine& e, int nodeIndex, const std::string& action) {
    const Node& node = e.tree[nodeIndex];
    Located l = locate(e, node.bind);
    if (!l.slot || !l.def) return AXError::success;
    const Control c = controlOf(*l.def, node.bind.name);
    if (!c.param) return AXError::success;  // an unbound control: present, inert
    const ParamSpec& p = *c.param;
    const double raw = paramRaw(*l.slot, p);
    if (action == "AXIncrement" || action == "AXDecrement") {
        if (!p.sliderLike()) return AXError::success;
        const double step = (action == "AXIncrement") != invertedSlider(*l.def, c) ? 1 : -1;
        setRaw(e, *l.slot, p, raw + step);
        return AXError::success;
    }
    if (node.role == "AXPopUpButton" || node.role == "AXMenuButton") {
        e.openMenu(OpenMenu::Kind::parameter, nodeIndex);
        return AXError::success;
    }
    if (c.option)
        setRaw(e, *l.slot, p, *c.option);
    else if (p.type == "toggle")
        setRaw(e, *l.slot, p, raw != 0 ? 0 : 1);
    else if (p.type == "momentary") {
        // Momentary buttons count their presses.
        l.slot->params[p.id] = raw + 1;
        e.changed();
    }
    return AXError::success;
}

AXError writePluginControl(Engine& e, int nodeIndex, const platform::AXValue& value) {
    const Node& node = e.tree[nodeIndex];
    Located l = locate(e, node.bind);
    if (!l.slot || !l.def) return AXError::invalidUIElement;
    const Control c = controlOf(*l.def, node.bind.name);
    if (!c.param) return AXError::attributeUnsupported;
    const ParamSpec& p = *c.param;

    if (auto* textValue = std::get_if<std::string>(&value)) {
        if (node.role != "AXPopUpButton" && node.role != "AXMenuButton") return AXError::illegalArgument;
        switch (e.faults.popupDirectSet) {
            case PopupDirectSet::refuse: return AXError::attributeUnsupported;
            case PopupDirectSet::ignore: return AXError::success;
            case PopupDirectSet::accept: break;
        }
        for (std::size_t i = 0; i < p.options.size(); ++i)
            if (equalsIgnoringAsciiCase(p.options[i], trimmedAscii(*textValue))) setRaw(e, *l.slot, p, double(i));
        return AXError::success;
    }
    std::optional<double> number;
    if (auto* i = std::get_if<std::int64_t>(&value)) number = static_cast<double>(*i);
    if (auto* d = std::get_if<double>(&value); d && std::isfinite(*d)) number = *d;
    if (!number) return AXError::illegalArgument;
    if (node.role != "AXSlider" || !p.sliderLike()) return AXError::attributeUnsupported;

    if (e.faults.ignoreWrites) return AXError::success;
    double target = invertedSlider(*l.def, c) ? p.rawMin + p.rawMax - *number : *number;
    target =
        snapped(p, std::clamp(target, std::min(p.rawMin, p.rawMax), std::max(p.rawMin, p.rawMax)), e.faults.quantise);
    if (e.faults.lagWrites > 1) {
        // The control takes a value only after it was written the same several times in a row.
        auto& [pending, count] = e.lagWrites[node.key];
        count = pending == target ? count + 1 : 1;
        pending = target;
        if (count < e.faults.lagWrites) return AXError::success;
        e.lagWrites.erase(node.key);
    }
    setRaw(e, *l.slot, p, target);
    return AXError::success;
}

std::vector<MenuItem> parameterMenuItems(Engine& e, const Node& invoker) {
    std::vector<MenuItem> items;
    Located l = locate(e, invoker.bind);
    if (!l.def) return items;
    const Control c = controlOf(*l.def, invoker.bind.name);
    if (!c.param) return items;
    for (std::size_t i = 0; i < c.param->options.size(); ++i)
        items.push_back(MenuItem{c.param->options[i], {}, c.param->id + "#" + std::to_string(i)});
    return items;
}

void chooseParameterOption(Engine& e, const OpenMenu& menu, const MenuItem& chosen) {
    Track* owner = nullptr;
    InsertSlot* slot = e.slotByUid(menu.slotUid, &owner);
    const auto hash = chosen.action.rfind('#');
    if (!slot || hash == std::string::npos) return;
    const PluginDefinition* def = e.project.plugin(slot->plugin);
    auto p = def ? paramSpec(*def, chosen.action.substr(0, hash)) : std::nullopt;
    if (!p) return;
    const std::string_view index = std::string_view(chosen.action).substr(hash + 1);
    int option = 0;
    if (index.empty() || index.find_first_not_of("0123456789") != std::string::npos || index.size() > 6) return;
    std::from_chars(index.data(), index.data() + index.size(), option);
    setRaw(e, *slot, *p, double(option));
}

std::optional<ProbePaint> probePaint(Engine& e, const Node& node) {
    if (node.bind.kind != Bind::pluginControl || node.bind.name.rfind("e:", 0) != 0) return std::nullopt;
    Located l = locate(e, node.bind);
    if (!l.slot || !l.def) return std::nullopt;
    const Control c = controlOf(*l.def, node.bind.name);
    if (!c.editor || !c.editor->contains("probe") || !(*c.editor)["probe"].is_object()) return std::nullopt;
    const json& probe = (*c.editor)["probe"];
    auto colour = [](const json& v) -> std::optional<Rgb> {
        if (!v.is_array() || v.size() != 3) return std::nullopt;
        for (const json& x : v)
            if (!x.is_number_integer() || x.get<int>() < 0 || x.get<int>() > 255) return std::nullopt;
        return Rgb{v[0].get<std::uint8_t>(), v[1].get<std::uint8_t>(), v[2].get<std::uint8_t>()};
    };
    auto lit = colour(probe.value("lit", json())), dark = colour(probe.value("dark", json()));
    if (!lit || !dark) return std::nullopt;
    bool on = false;
    if (c.param) {
        const double raw = paramRaw(*l.slot, *c.param);
        on = c.option ? std::llround(raw) == *c.option : raw != 0;
    }
    // The region is the control itself, or a w x h patch centred on the probe point (window-relative).
    platform::Rect region = node.frame;
    const ScreenWindow* window = e.logicWindow("plugin:" + std::to_string(l.slot->uid));
    const double w = numberOr(probe, "w", 0), h = numberOr(probe, "h", 0);
    if (window && w > 0 && h > 0)
        region = {window->frame.x + numberOr(probe, "x", 0) - w / 2, window->frame.y + numberOr(probe, "y", 0) - h / 2,
                  w, h};
    return ProbePaint{region, on ? *lit : *dark};
}

bool equalsIgnoringAsciiCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trimmedAscii(const std::string& s) {
    auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

}  // namespace corvane::standin::detail
