// Accessibility handles and attribute access on the materialised tree.

#include <algorithm>
#include <climits>
#include <functional>

#include <fmt/format.h>

#include "platform/standin/engine.h"

namespace corvane::standin::detail {

using platform::AXError;
using platform::AXValue;

namespace {

class ElementImpl final : public platform::AXElementImpl {
public:
    ElementImpl(std::weak_ptr<Engine> engine, const Engine* raw, Handle handle)
        : engine_(std::move(engine)), raw_(raw), handle_(handle) {}

    AXError copyAttributeValue(const std::string& attribute, AXValue& out) const override {
        auto e = engine_.lock();
        if (!e) return AXError::invalidUIElement;
        return e->run([&] {
            if (staleNow(*e)) return AXError::invalidUIElement;
            return e->axRead(handle_, attribute, out);
        });
    }
    // Logic Pro's process answers a batch in one round trip, each attribute as a single read would.
    AXError copyMultipleAttributeValues(const std::vector<std::string>& attributes,
                                        std::vector<platform::AXRead>& out) const override {
        auto e = engine_.lock();
        if (!e) return AXError::invalidUIElement;
        return e->run([&] {
            if (staleNow(*e)) return AXError::invalidUIElement;
            readAll(*e, handle_, attributes, out);
            return AXError::success;
        });
    }
    AXError setAttributeValue(const std::string& attribute, const AXValue& value) override {
        auto e = engine_.lock();
        return e ? e->axWrite(handle_, attribute, value) : AXError::invalidUIElement;
    }
    AXError isAttributeSettable(const std::string& attribute, bool& out) const override {
        auto e = engine_.lock();
        return e ? e->axSettable(handle_, attribute, out) : AXError::invalidUIElement;
    }
    AXError copyAttributeNames(std::vector<std::string>& out) const override {
        auto e = engine_.lock();
        return e ? e->axAttributeNames(handle_, out) : AXError::invalidUIElement;
    }
    AXError copyActionNames(std::vector<std::string>& out) const override {
        auto e = engine_.lock();
        return e ? e->axActionNames(handle_, out) : AXError::invalidUIElement;
    }
    AXError performAction(const std::string& action) override {
        auto e = engine_.lock();
        return e ? e->axPerform(handle_, action) : AXError::invalidUIElement;
    }
    AXError processIdentifier(int& out) const override {
        auto e = engine_.lock();
        return e ? e->axPid(handle_, out) : AXError::invalidUIElement;
    }
    bool isSameElement(const platform::AXElementImpl& other) const override {
        auto* o = dynamic_cast<const ElementImpl*>(&other);
        return o && o->raw_ == raw_ && o->handle_.kind == handle_.kind && o->handle_.id == handle_.id &&
               o->handle_.gen == handle_.gen && o->handle_.pid == handle_.pid;
    }
    std::size_t identityHash() const override {
        std::size_t h = std::hash<std::uint64_t>{}(handle_.id * 1000003u + handle_.gen);
        return h ^ (std::hash<int>{}(handle_.pid) << 1) ^ (static_cast<std::size_t>(handle_.kind) << 3);
    }

private:
    // The staleAfter knob: a handle read too often goes stale; a batch counts as one read.
    bool staleNow(const Engine& e) const {
        return e.faults.staleAfter.mode == StaleAfter::Mode::afterReads && handle_.kind == Handle::Kind::node &&
               ++reads_ > e.faults.staleAfter.reads;
    }
    static void readAll(Engine& e, const Handle& handle, const std::vector<std::string>& attributes,
                        std::vector<platform::AXRead>& out) {
        out.clear();
        for (const auto& attribute : attributes) {
            platform::AXRead read;
            read.error = e.axRead(handle, attribute, read.value);
            out.push_back(std::move(read));
        }
    }

    std::weak_ptr<Engine> engine_;
    const Engine* raw_;
    Handle handle_;
    mutable int reads_ = 0;  // guarded by the engine's lock
};

const std::vector<std::string>& baseAttributes() {
    static const std::vector<std::string> names{
        "AXRole",    "AXSubrole", "AXRoleDescription", "AXDescription", "AXTitle",    "AXHelp", "AXIdentifier",
        "AXEnabled", "AXFocused", "AXParent",          "AXChildren",    "AXPosition", "AXSize"};
    return names;
}

std::string roleDescription(const Node& n) {
    if (n.subrole == "AXCloseButton") return "close button";
    if (n.subrole == "AXFullScreenButton") return "full screen button";
    if (n.subrole == "AXMinimizeButton") return "minimize button";
    if (n.role == "AXWindow") return n.subrole == "AXFloatingWindow" ? "floating window" : "standard window";
    if (n.role == "AXApplication") return "application";
    if (n.role == "AXButton") return "button";
    if (n.role == "AXCheckBox") return "check box";
    if (n.role == "AXSlider") return "slider";
    if (n.role == "AXGroup") return "group";
    if (n.role == "AXTextField") return "text field";
    if (n.role == "AXStaticText") return "text";
    if (n.role == "AXLayoutArea") return "layout area";
    if (n.role == "AXLayoutItem") return "layout item";
    if (n.role == "AXDisclosureTriangle") return "disclosure triangle";
    if (n.role == "AXValueIndicator") return "value indicator";
    if (n.role == "AXMenuBar") return "menu bar";
    if (n.role == "AXMenu") return "menu";
    if (n.role == "AXMenuItem") return "menu item";
    if (n.role == "AXMenuButton") return "menu button";
    if (n.role == "AXPopUpButton") return "pop up button";
    return "unknown";
}

AXValue toAX(const Value& v) {
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    if (auto* i = std::get_if<std::int64_t>(&v)) return *i;
    if (auto* d = std::get_if<double>(&v)) return *d;
    if (auto* b = std::get_if<bool>(&v)) return *b;
    return std::string();
}

std::string valueText(const AXValue& v) {
    if (auto* s = std::get_if<std::string>(&v)) return "\"" + *s + "\"";
    if (auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (auto* d = std::get_if<double>(&v)) return fmt::format("{}", *d);
    if (auto* b = std::get_if<bool>(&v)) return *b ? "true" : "false";
    return "(other)";
}

}  // namespace

platform::AXElement Engine::element(const Handle& h) {
    return platform::AXElement(std::make_shared<ElementImpl>(weak_from_this(), this, h));
}

platform::AXElement Engine::elementFor(int nodeIndex) {
    const Node& n = tree[nodeIndex];
    Handle h;
    h.id = n.id;
    h.gen = n.gen;
    return element(h);
}

AXError Engine::axCheck(const Handle& h, int& nodeIndex) {
    nodeIndex = -1;
    if (!faults.accessibilityTrusted) return AXError::apiDisabled;
    switch (h.kind) {
        case Handle::Kind::systemWide: return AXError::success;
        case Handle::Kind::foreign: return h.noProcess ? AXError::invalidUIElement : AXError::cannotComplete;
        case Handle::Kind::node: break;
    }
    if (!logicRunning) return AXError::invalidUIElement;
    ensureTree();
    nodeIndex = tree.find(h.id, h.gen);
    return nodeIndex < 0 ? AXError::invalidUIElement : AXError::success;
}

std::string Engine::describeNode(int i) const {
    if (i < 0) return "(none)";
    const Node& n = tree[i];
    std::string label = n.description ? *n.description : n.title ? *n.title : "";
    return label.empty() ? n.role : n.role + " \"" + label + "\"";
}

std::string Engine::placeOf(int i) const {
    if (i < 0) return "";
    std::vector<std::string> steps;
    for (int at = i; at >= 0; at = tree[at].parent) {
        const Node& n = tree[at];
        if (n.role == "AXWindow") {
            steps.push_back("window \"" + n.title.value_or("") + "\"");
            break;
        }
        if (n.parent < 0) {
            steps.push_back("application");
            break;
        }
        const auto& siblings = tree[n.parent].children;
        const auto index = std::find(siblings.begin(), siblings.end(), at) - siblings.begin();
        steps.push_back(fmt::format("{}[{}]", describeNode(at), index));
    }
    std::string out;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) out += (out.empty() ? "" : " > ") + *it;
    return out;
}

int Engine::focusedNode() const {
    // While a menu is open, the outermost open menu has the focus.
    if (menu)
        for (std::size_t i = 0; i < tree.size(); ++i) {
            const Node& n = tree[static_cast<int>(i)];
            if (n.bind.kind == Bind::menu && n.bind.index == static_cast<int>(menu->seq) && n.bind.name.empty())
                return static_cast<int>(i);
        }
    // Then the name field being edited, else the selected header.
    for (std::size_t i = 0; i < tree.size(); ++i)
        if (tree[static_cast<int>(i)].bind.kind == Bind::headerName && tree[static_cast<int>(i)].focused)
            return static_cast<int>(i);
    for (std::size_t i = 0; i < tree.size(); ++i)
        if (tree[static_cast<int>(i)].bind.kind == Bind::header && tree[static_cast<int>(i)].focused)
            return static_cast<int>(i);
    return -1;
}

AXError Engine::axRead(const Handle& h, const std::string& attribute, AXValue& out) {
    int i = -1;
    AXError check = axCheck(h, i);
    if (check != AXError::success) return check;

    // The axError knob: a chosen read fails.
    if (const auto error = knobError(faults.axErrors, axErrorUses, h, i, attribute, &axErrorArmed)) return *error;

    if (h.kind == Handle::Kind::systemWide) {
        if (attribute == "AXRole") {
            out = std::string("AXSystemWide");
            return AXError::success;
        }
        if (attribute == "AXFocusedApplication" || attribute == "AXFocusedUIElement") {
            if (!logicFrontmost()) return AXError::noValue;
            ensureTree();
            if (tree.size() == 0) return AXError::noValue;
            int target = attribute == "AXFocusedApplication" ? 0 : focusedNode();
            if (target < 0) return AXError::noValue;
            out = elementFor(target);
            return AXError::success;
        }
        return AXError::attributeUnsupported;
    }

    const Node& n = tree[i];
    auto text = [&](const std::optional<std::string>& v) {
        if (!v) return AXError::noValue;
        out = *v;
        return AXError::success;
    };
    if (attribute == "AXRole") {
        out = n.role;
        return AXError::success;
    }
    if (attribute == "AXSubrole") return text(n.subrole);
    if (attribute == "AXRoleDescription") {
        out = roleDescription(n);
        return AXError::success;
    }
    if (attribute == "AXDescription") return text(n.description);
    if (attribute == "AXTitle") return text(n.title);
    if (attribute == "AXHelp") return text(n.help);
    if (attribute == "AXIdentifier") return text(n.identifier);
    if (attribute == "AXEnabled") {
        out = true;
        return AXError::success;
    }
    if (attribute == "AXFocused") {
        out = n.focused;
        return AXError::success;
    }
    if (attribute == "AXParent") {
        if (n.parent < 0) return AXError::noValue;
        out = elementFor(n.parent);
        return AXError::success;
    }
    if (attribute == "AXChildren") {
        std::vector<platform::AXElement> children;
        for (int c : n.children) children.push_back(elementFor(c));
        out = std::move(children);
        return AXError::success;
    }
    if (attribute == "AXPosition" || attribute == "AXSize") {
        if (!n.hasFrame) return AXError::noValue;
        // newSlotZeroFrame: a slot that was just inserted or moved reports a zero frame for a while.
        if (n.bind.kind == Bind::slot && !zeroFrameReads.empty()) {
            const Track* t = project.trackById(n.bind.track);
            if (t && n.bind.index >= 0 && n.bind.index < int(t->strip.inserts.size())) {
                auto it = zeroFrameReads.find(t->strip.inserts[static_cast<std::size_t>(n.bind.index)].uid);
                if (it != zeroFrameReads.end() && it->second > 0) {
                    if (attribute == "AXPosition" && --it->second == 0) zeroFrameReads.erase(it);
                    if (attribute == "AXPosition")
                        out = platform::Point{};
                    else
                        out = platform::Size{};
                    return AXError::success;
                }
            }
        }
        if (attribute == "AXPosition")
            out = platform::Point{n.frame.x, n.frame.y};
        else
            out = platform::Size{n.frame.width, n.frame.height};
        return AXError::success;
    }
    auto optionalValue = [&](const Value& v) {
        if (std::holds_alternative<std::monostate>(v)) return AXError::attributeUnsupported;
        out = toAX(v);
        return AXError::success;
    };
    if (attribute == "AXValue") return optionalValue(n.value);
    if (attribute == "AXMinValue") return optionalValue(n.minValue);
    if (attribute == "AXMaxValue") return optionalValue(n.maxValue);
    if (attribute == "AXValueDescription") {
        if (!n.valueDescription) return AXError::attributeUnsupported;
        out = *n.valueDescription;
        return AXError::success;
    }
    if (attribute == "AXSelected") {
        if (!n.selected) return AXError::attributeUnsupported;
        out = *n.selected;
        return AXError::success;
    }
    if (attribute == "AXMinimized") {
        if (!n.minimised) return AXError::attributeUnsupported;
        out = *n.minimised;
        return AXError::success;
    }
    if (n.bind.kind == Bind::app) {
        std::vector<int> wins, shown;
        for (int c : n.children)
            if (tree[c].role == "AXWindow") {
                wins.push_back(c);
                if (tree[c].minimised != std::optional<bool>(true)) shown.push_back(c);
            }
        if (attribute == "AXWindows") {
            std::vector<platform::AXElement> list;
            for (int w : wins) list.push_back(elementFor(w));
            out = std::move(list);
            return AXError::success;
        }
        // A minimised window is neither main nor focused.
        if (attribute == "AXFocusedWindow" || attribute == "AXMainWindow") {
            if (shown.empty()) return AXError::noValue;
            out = elementFor(shown.front());
            return AXError::success;
        }
        if (attribute == "AXFocusedUIElement") {
            int f = focusedNode();
            if (f < 0) return AXError::noValue;
            out = elementFor(f);
            return AXError::success;
        }
    }
    return AXError::attributeUnsupported;
}

AXError Engine::axAttributeNames(const Handle& h, std::vector<std::string>& out) {
    return run([&] {
        int i = -1;
        AXError check = axCheck(h, i);
        if (check != AXError::success) return check;
        if (h.kind == Handle::Kind::systemWide) {
            out = {"AXRole", "AXFocusedApplication", "AXFocusedUIElement"};
            return AXError::success;
        }
        const Node& n = tree[i];
        out = baseAttributes();
        if (!std::holds_alternative<std::monostate>(n.value)) out.push_back("AXValue");
        if (n.valueDescription) out.push_back("AXValueDescription");
        if (!std::holds_alternative<std::monostate>(n.minValue)) out.push_back("AXMinValue");
        if (!std::holds_alternative<std::monostate>(n.maxValue)) out.push_back("AXMaxValue");
        if (n.selected) out.push_back("AXSelected");
        if (n.minimised) out.push_back("AXMinimized");
        if (n.bind.kind == Bind::app)
            for (const char* a : {"AXWindows", "AXMainWindow", "AXFocusedWindow", "AXFocusedUIElement"})
                out.push_back(a);
        return AXError::success;
    });
}

AXError Engine::axSettable(const Handle& h, const std::string& attribute, bool& out) {
    return run([&] {
        int i = -1;
        AXError check = axCheck(h, i);
        if (check != AXError::success) return check;
        out = false;
        if (h.kind == Handle::Kind::systemWide) return AXError::success;
        const Node& n = tree[i];
        if (attribute == "AXValue") {
            if (std::holds_alternative<std::monostate>(n.value)) return AXError::attributeUnsupported;
            out = n.valueSettable;
            return AXError::success;
        }
        if (attribute == "AXMinimized") {
            if (!n.minimised) return AXError::attributeUnsupported;
            out = true;
            return AXError::success;
        }
        const auto& base = baseAttributes();
        if (std::find(base.begin(), base.end(), attribute) != base.end()) return AXError::success;
        return AXError::attributeUnsupported;
    });
}

std::optional<AXError> Engine::knobError(const std::vector<AXErrorKnob>& knobs, std::vector<int>& uses,
                                         const Handle& h, int i, const std::string& attribute,
                                         std::vector<bool>* armed) {
    if (uses.size() != knobs.size()) uses.assign(knobs.size(), 0);
    if (armed && armed->size() != knobs.size()) armed->assign(knobs.size(), false);
    for (std::size_t k = 0; k < knobs.size(); ++k) {
        const AXErrorKnob& knob = knobs[k];
        if (knob.attribute != attribute) continue;
        if (!knob.afterPressOf.empty() && !(armed && (*armed)[k])) continue;
        bool matches = false;
        if (h.kind == Handle::Kind::systemWide)
            matches = knob.element == "systemWide";
        else if (i >= 0) {
            const Node& n = tree[i];
            matches = (knob.element == "application" && n.bind.kind == Bind::app) ||
                      (knob.element == "window" && n.role == "AXWindow") ||
                      (n.description && *n.description == knob.element);
        }
        if (!matches) continue;
        const int use = uses[k] < INT_MAX ? uses[k]++ : uses[k];
        if (use >= knob.after && (knob.times < 0 || use - knob.after < knob.times))
            return static_cast<AXError>(knob.code);
    }
    return std::nullopt;
}

AXError Engine::axWrite(const Handle& h, const std::string& attribute, const AXValue& v) {
    return run([&] {
        int i = -1;
        AXError code = axCheck(h, i);
        Event e;
        e.kind = EventKind::axWrite;
        e.name = attribute;
        e.pid = logicApp.pid;
        e.detail = valueText(v);
        if (code == AXError::success) {
            e.element = h.kind == Handle::Kind::systemWide ? "AXSystemWide" : describeNode(i);
            e.place = placeOf(i);
            if (const auto refused = knobError(faults.axWriteErrors, axWriteErrorUses, h, i, attribute)) {
                code = *refused;  // the axWriteError knob: the value is refused and kept
            } else if (h.kind == Handle::Kind::node && attribute == "AXMinimized" && tree[i].minimised) {
                const bool* flag = std::get_if<bool>(&v);
                code = flag ? AXError::success : AXError::illegalArgument;
                if (flag) setMinimised(tree[i].bind.name, *flag);
            } else if (h.kind == Handle::Kind::systemWide || attribute != "AXValue" || !tree[i].valueSettable) {
                code = AXError::attributeUnsupported;
            } else {
                code = writeValue(i, v);
            }
        }
        e.code = platform::code(code);
        record(std::move(e));
        return code;
    });
}

AXError Engine::axActionNames(const Handle& h, std::vector<std::string>& out) {
    return run([&] {
        int i = -1;
        AXError check = axCheck(h, i);
        if (check != AXError::success) return check;
        out = i >= 0 ? tree[i].actions : std::vector<std::string>{};
        return AXError::success;
    });
}

AXError Engine::axPerform(const Handle& h, const std::string& action) {
    return run([&] {
        int i = -1;
        AXError code = axCheck(h, i);
        Event e;
        e.kind = EventKind::axAction;
        e.name = action;
        e.pid = logicApp.pid;
        if (code == AXError::success) {
            e.element = h.kind == Handle::Kind::systemWide ? "AXSystemWide" : describeNode(i);
            e.place = placeOf(i);
            const std::vector<std::string> none;
            const auto& actions = i >= 0 ? tree[i].actions : none;
            // A press of an element arms the knobs waiting for it; a busy Logic may refuse the press.
            if (i >= 0 && tree[i].description) {
                if (axErrorArmed.size() != faults.axErrors.size()) axErrorArmed.assign(faults.axErrors.size(), false);
                for (std::size_t k = 0; k < faults.axErrors.size(); ++k)
                    if (faults.axErrors[k].afterPressOf == *tree[i].description) axErrorArmed[k] = true;
            }
            if (std::find(actions.begin(), actions.end(), action) == actions.end())
                code = AXError::actionUnsupported;
            else if (const auto refused = knobError(faults.axErrors, axErrorUses, h, i, action, &axErrorArmed))
                code = *refused;
            else
                code = press(i, action);
        }
        e.code = platform::code(code);
        record(std::move(e));
        return code;
    });
}

AXError Engine::axPid(const Handle& h, int& out) {
    return run([&] {
        if (!faults.accessibilityTrusted) return AXError::apiDisabled;
        switch (h.kind) {
            case Handle::Kind::systemWide: out = 0; return AXError::success;
            case Handle::Kind::foreign:
                if (h.noProcess) return AXError::invalidUIElement;
                out = h.pid;
                return AXError::success;
            case Handle::Kind::node: break;
        }
        int i = -1;
        AXError check = axCheck(h, i);
        if (check != AXError::success) return check;
        out = logicApp.pid;
        return AXError::success;
    });
}

}  // namespace corvane::standin::detail
