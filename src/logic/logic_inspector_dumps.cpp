// Diagnostic walks of Logic Pro's Accessibility tree. Each writes plain dictionaries with its own key
// set, path form and frame rounding, since developers compare their output across versions of Logic
// Pro. A failed or mistyped read only drops a key or a subtree, never the walk.

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "logic/ax_read.h"
#include "logic/logic_inspector.h"
#include "logic/logic_inspector_dump_text.h"
#include "platform/platform.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

namespace ax = platform::ax;
using platform::AXElement;
using nlohmann::json;
using DumpList = LogicInspector::DumpList;

namespace detail {

std::string axValueText(const platform::AXValue& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) return v;
            else if constexpr (std::is_same_v<T, std::int64_t>) return std::to_string(v);
            else if constexpr (std::is_same_v<T, double>) {
                if (std::isfinite(v) && std::trunc(v) == v && std::fabs(v) < 1e15)
                    return std::to_string(static_cast<long long>(v));
                return fmt::format("{}", v);
            } else if constexpr (std::is_same_v<T, bool>) return v ? "1" : "0";
            else if constexpr (std::is_same_v<T, platform::Point>) return fmt::format("x={} y={}", v.x, v.y);
            else if constexpr (std::is_same_v<T, platform::Size>) return fmt::format("w={} h={}", v.width, v.height);
            else if constexpr (std::is_same_v<T, platform::Rect>)
                return fmt::format("x={} y={} w={} h={}", v.x, v.y, v.width, v.height);
            else if constexpr (std::is_same_v<T, AXElement>) return "<AXUIElement>";
            else return fmt::format("<{} AXUIElements>", v.size());
        },
        value);
}

}  // namespace detail

namespace {

std::optional<std::string> valueAsText(const AXElement& e) {
    platform::AXValue v;
    if (e.copyAttributeValue(ax::kValue, v) != platform::AXError::success) return std::nullopt;
    return detail::axValueText(v);
}

void putText(json& entry, const char* key, const AXElement& e, const char* attribute) {
    if (auto v = e.string(attribute)) entry[key] = *v;
}
void putNonEmpty(json& entry, const char* key, const AXElement& e, const char* attribute) {
    if (auto v = e.string(attribute); v && !v->empty()) entry[key] = *v;
}
void putBool(json& entry, const char* key, const AXElement& e, const char* attribute) {
    if (auto v = e.boolean(attribute)) entry[key] = *v;
}

// Accessibility reports finite frames; anything else is written as 0 rather than left undefined.
json frameJson(const platform::Rect& r, bool rounded) {
    auto whole = [rounded](double v) {
        auto i = rounded ? checkedRounded(v, INT64_MIN / 2, INT64_MAX / 2) : checkedInteger(v, INT64_MIN / 2, INT64_MAX / 2);
        return i.value_or(0);
    };
    return {{"x", whole(r.x)}, {"y", whole(r.y)}, {"w", whole(r.width)}, {"h", whole(r.height)}};
}

bool allZero(const platform::Rect& r) { return r.x == 0 && r.y == 0 && r.width == 0 && r.height == 0; }

void putFrameUnlessZero(json& entry, const AXElement& e) {
    auto frame = LogicInspector::frameForElement(e);
    if (!allZero(frame)) entry["frame"] = frameJson(frame, false);
}

std::optional<std::vector<AXElement>> childList(const AXElement& e) { return e.elements(ax::kChildren); }
std::vector<AXElement> childrenOf(const AXElement& e) { return childList(e).value_or(std::vector<AXElement>{}); }
std::size_t childCount(const AXElement& e) { return childrenOf(e).size(); }

// The first of the attributes that reads as text, even empty; "?" when none does.
std::string firstText(const AXElement& e, std::initializer_list<const char*> attributes) {
    for (const char* a : attributes)
        if (auto v = e.string(a)) return *v;
    return "?";
}

std::string childPath(const std::string& path, const char* separator, const std::string& label, std::size_t index) {
    return path + separator + label + "[" + std::to_string(index) + "]";
}

bool hasRole(const AXElement& e, std::initializer_list<const char*> roles) {
    auto role = e.string(ax::kRole);
    return role && std::any_of(roles.begin(), roles.end(), [&](const char* r) { return *role == r; });
}

}  // namespace

// --- The recursions ------------------------------------------------------------------------

json LogicInspector::dumpElement(const AXElement& element, int depth, int maxDepth) const {
    json node = json::object();
    putText(node, "role", element, ax::kRole);
    putText(node, "subrole", element, ax::kSubrole);
    putNonEmpty(node, "title", element, ax::kTitle);
    putNonEmpty(node, "description", element, ax::kDescription);
    putNonEmpty(node, "identifier", element, ax::kIdentifier);
    if (auto v = valueAsText(element)) node["value"] = *v;
    putBool(node, "selected", element, ax::kSelected);
    if (depth < maxDepth) {
        if (auto children = childList(element)) {
            json list = json::array();
            for (const auto& child : *children) list.push_back(dumpElement(child, depth + 1, maxDepth));
            node["childCount"] = children->size();
            node["children"] = std::move(list);
        }
    }
    return node;
}

void LogicInspector::crawlElement(const AXElement& element, const std::string& path, int depth, int maxDepth,
                                  DumpList& elements, int& count, int maxTotal) const {
    if (depth >= maxDepth || count >= maxTotal) return;
    json entry = {{"path", path}, {"depth", depth}};
    putText(entry, "role", element, ax::kRole);
    putText(entry, "subrole", element, ax::kSubrole);
    putNonEmpty(entry, "title", element, ax::kTitle);
    putNonEmpty(entry, "description", element, ax::kDescription);
    putNonEmpty(entry, "identifier", element, ax::kIdentifier);
    if (auto v = valueAsText(element)) entry["value"] = *v;
    putBool(entry, "selected", element, ax::kSelected);
    putBool(entry, "enabled", element, ax::kEnabled);
    putBool(entry, "focused", element, ax::kFocused);
    putNonEmpty(entry, "roleDescription", element, ax::kRoleDescription);
    putNonEmpty(entry, "help", element, ax::kHelp);
    putFrameUnlessZero(entry, element);
    elements.push_back(std::move(entry));
    ++count;
    auto children = childrenOf(element);
    if (children.empty()) return;
    const std::string label = firstText(element, {ax::kTitle, ax::kDescription, ax::kRole});
    for (std::size_t i = 0; i < children.size(); ++i)
        crawlElement(children[i], childPath(path, " > ", label, i), depth + 1, maxDepth, elements, count, maxTotal);
}

void LogicInspector::dumpElementWithActions(const AXElement& element, const std::string& path, int depth, int maxDepth,
                                            DumpList& elements) const {
    if (depth >= maxDepth) return;
    json entry = {{"path", path}, {"depth", depth}};
    putText(entry, "role", element, ax::kRole);
    putText(entry, "subrole", element, ax::kSubrole);
    putNonEmpty(entry, "description", element, ax::kDescription);
    putNonEmpty(entry, "title", element, ax::kTitle);
    putNonEmpty(entry, "identifier", element, ax::kIdentifier);
    putNonEmpty(entry, "help", element, ax::kHelp);
    putNonEmpty(entry, "roleDescription", element, ax::kRoleDescription);
    if (auto actions = actionNames(element); !actions.empty()) entry["actions"] = actions;
    putFrameUnlessZero(entry, element);
    elements.push_back(std::move(entry));
    auto children = childrenOf(element);
    if (children.empty()) return;
    const std::string label = firstText(element, {ax::kDescription, ax::kTitle, ax::kRole});
    for (std::size_t i = 0; i < children.size(); ++i)
        dumpElementWithActions(children[i], childPath(path, ">", label, i), depth + 1, maxDepth, elements);
}

void LogicInspector::dumpAllElementsInSubtree(const AXElement& root, DumpList& results, int depth, int maxDepth) const {
    if (depth >= maxDepth) return;
    if (auto role = root.string(ax::kRole); role && !role->empty()) {
        results.push_back({{"role", *role},
                           {"desc", root.string(ax::kDescription).value_or("")},
                           {"title", root.string(ax::kTitle).value_or("")},
                           {"value", root.string(ax::kValue).value_or("")},
                           {"help", root.string(ax::kHelp).value_or("")},
                           {"depth", depth},
                           {"frame", frameJson(frameForElement(root), true)}});
    }
    for (const auto& child : childrenOf(root)) dumpAllElementsInSubtree(child, results, depth + 1, maxDepth);
}

void LogicInspector::dumpAllAXButtonsInSubtree(const AXElement& root, DumpList& results, int depth, int maxDepth) const {
    if (depth >= maxDepth) return;
    if (hasRole(root, {"AXButton", "AXMenuButton"})) {
        results.push_back({{"role", root.string(ax::kRole).value_or("")},
                           {"desc", root.string(ax::kDescription).value_or("")},
                           {"title", root.string(ax::kTitle).value_or("")},
                           {"roleDescription", root.string(ax::kRoleDescription).value_or("")},
                           {"value", root.string(ax::kValue).value_or("")},
                           {"help", root.string(ax::kHelp).value_or("")},
                           {"frame", frameJson(frameForElement(root), true)}});
    }
    for (const auto& child : childrenOf(root)) dumpAllAXButtonsInSubtree(child, results, depth + 1, maxDepth);
}

void LogicInspector::dumpMenuTree(const AXElement& element, DumpList& results, int depth, int maxDepth,
                                  const std::string& path) const {
    if (depth >= maxDepth) return;
    const std::string title = ax_read::trimmed(element, ax::kTitle);
    const std::string description = ax_read::trimmed(element, ax::kDescription);
    if (hasRole(element, {"AXMenuItem", "AXMenu", "AXMenuBar", "AXRow", "AXCell", "AXStaticText", "AXButton",
                          "AXPopUpButton"}) &&
        (!title.empty() || !description.empty())) {
        json entry = {{"role", element.string(ax::kRole).value_or("")}, {"depth", depth}, {"path", path}};
        if (!title.empty()) entry["title"] = title;
        if (!description.empty()) entry["description"] = description;
        if (auto v = valueAsText(element)) entry["value"] = *v;
        results.push_back(std::move(entry));
    }
    auto children = childrenOf(element);
    if (children.empty()) return;
    const std::string label = !title.empty() ? title : !description.empty() ? description : element.string(ax::kRole).value_or("");
    for (std::size_t i = 0; i < children.size(); ++i)
        dumpMenuTree(children[i], results, depth + 1, maxDepth, childPath(path, " > ", label, i));
}

void LogicInspector::collectMenuItemTitles(const AXElement& element, DumpList& results, int depth, int maxDepth) const {
    if (depth >= maxDepth) return;
    auto children = childList(element);
    if (hasRole(element, {"AXMenuItem"})) {
        if (auto title = element.string(ax::kTitle); title && !title->empty()) {
            bool submenu = false;
            for (const auto& child : children.value_or(std::vector<AXElement>{}))
                if (hasRole(child, {"AXMenu"})) submenu = true;
            results.push_back({{"title", *title},
                               {"enabled", element.boolean(ax::kEnabled).value_or(true)},
                               {"depth", depth},
                               {"hasSubmenu", submenu},
                               {"childCount", children ? children->size() : 0}});
        }
    }
    if (!children) return;
    for (const auto& child : *children) collectMenuItemTitles(child, results, depth + 1, maxDepth);
}

void LogicInspector::collectMenuNodes(const AXElement& in, DumpList& results, int depth, int maxDepth) const {
    if (depth >= maxDepth) return;
    if (hasRole(in, {"AXMenu"}))
        results.push_back({{"depth", depth}, {"childCount", childCount(in)}, {"frame", frameJson(frameForElement(in), false)}});
    for (const auto& child : childrenOf(in)) collectMenuNodes(child, results, depth + 1, maxDepth);
}

void LogicInspector::findAllMenusIn(const AXElement& element, int depth, int maxDepth, DumpList& results) const {
    if (depth >= maxDepth) return;
    if (hasRole(element, {"AXMenu", "AXMenuItem"}))
        results.push_back({{"role", element.string(ax::kRole).value_or("")},
                           {"title", element.string(ax::kTitle).value_or("")},
                           {"desc", element.string(ax::kDescription).value_or("")},
                           {"depth", depth},
                           {"childCount", childCount(element)},
                           {"frame", frameJson(frameForElement(element), false)}});
    for (const auto& child : childrenOf(element)) findAllMenusIn(child, depth + 1, maxDepth, results);
}

void LogicInspector::deepCrawlWithAttributes(const AXElement& element, const std::string& path, int depth, int maxDepth,
                                             DumpList& into) const {
    if (depth >= maxDepth) return;
    json entry = describeElement(element, path);
    entry["depth"] = depth;
    into.push_back(std::move(entry));
    auto children = childrenOf(element);
    for (std::size_t i = 0; i < children.size(); ++i) {
        const std::string label = children[i].string(ax::kRole).value_or("?");
        deepCrawlWithAttributes(children[i], childPath(path, ">", label, i), depth + 1, maxDepth, into);
    }
}

json LogicInspector::describeElement(const AXElement& element, const std::string& label) const {
    json d = {{"label", label}};
    putText(d, "role", element, ax::kRole);
    putText(d, "subrole", element, ax::kSubrole);
    putNonEmpty(d, "title", element, ax::kTitle);
    putNonEmpty(d, "description", element, ax::kDescription);
    putNonEmpty(d, "identifier", element, ax::kIdentifier);
    putFrameUnlessZero(d, element);
    if (auto actions = actionNames(element); !actions.empty()) d["actions"] = actions;
    if (auto names = copyAllAttributeNames(element)) d["attrs"] = *names;
    if (auto children = childList(element)) d["childCount"] = children->size();
    return d;
}

// --- The public dumps --------------------------------------------------------------------------

json LogicInspector::debugAXDump(int maxDepth) const {
    auto logic = logicApplication();
    if (!logic) return {{"error", "Logic is not running"}};
    auto app = platform::accessibility().applicationElement(logic->processIdentifier);
    auto focused = app.element(ax::kFocusedWindow);
    auto windows = app.elements(ax::kWindows).value_or(std::vector<AXElement>{});
    platform::AXValue role;
    const int code = platform::code(app.copyAttributeValue(ax::kRole, role));
    auto* roleText = std::get_if<std::string>(&role);

    json all = json::array();
    for (std::size_t i = 0; i < windows.size() && i < 5; ++i) all.push_back(dumpElement(windows[i], 0, std::min(maxDepth, 3)));
    return {{"logicPID", logic->processIdentifier},
            {"logicName", logic->localizedName.value_or("Logic Pro")},
            {"axTrustedCheck", platform::accessibility().isProcessTrusted(false)},
            {"axRawReadResult", code},
            {"axRawReadNote", code == 0 ? std::string("AX access works!") : "AX read failed (" + std::to_string(code) + ")"},
            {"axRawRole", code == 0 && roleText ? *roleText : std::string("nil")},
            {"windowCount", windows.size()},
            {"focusedWindow", focused ? dumpElement(*focused, 0, maxDepth) : json("none (Logic may not be frontmost)")},
            {"allWindows", std::move(all)}};
}

DumpList LogicInspector::fullAXCrawl(int maxDepth, int maxTotalElements) const {
    auto logic = logicApplication();
    if (!logic) return {json{{"error", "Logic is not running"}}};
    auto app = platform::accessibility().applicationElement(logic->processIdentifier);
    auto windows = app.elements(ax::kWindows);
    if (!windows) return {json{{"error", "Cannot read windows"}}};
    DumpList elements;
    int count = 0;
    for (std::size_t i = 0; i < windows->size(); ++i) {
        const AXElement& w = (*windows)[i];
        const std::string path = w.string(ax::kTitle).value_or("Window " + std::to_string(i));
        crawlElement(w, path, 0, maxDepth, elements, count, maxTotalElements);
    }
    return elements;
}

json LogicInspector::dumpChannelStripWithActions(int maxDepth) const {
    auto window = findMainWindow();
    if (!window) return {{"error", "Main window not found"}};
    auto mixer = findDescendant(*window, "Mixer", std::string("AXLayoutArea"), 10, 0);
    if (!mixer) return {{"error", "Mixer area not found. Make sure the Inspector is open (shortcut I)."}};
    auto strips = childList(*mixer);
    if (!strips || strips->empty()) return {{"error", "No channel strip under Mixer area"}};
    DumpList elements;
    dumpElementWithActions(strips->front(), "Strip", 0, maxDepth, elements);
    return {{"count", elements.size()}, {"elements", elements}};
}

void LogicInspector::dumpInspectorMixerStrips(const AXElement& in, DumpList& results) const {
    auto mixer = findDescendant(in, "Mixer", std::string("AXLayoutArea"), 10, 0);
    if (!mixer) return;
    auto strips = childList(*mixer);
    if (!strips) return;
    for (std::size_t i = 0; i < strips->size(); ++i) {
        DumpList entries;
        dumpAllElementsInSubtree((*strips)[i], entries, 0, 15);
        for (auto& entry : entries) {
            entry["stripIndex"] = i;
            results.push_back(std::move(entry));
        }
    }
}

void LogicInspector::dumpMenuItems(const AXElement& axApp, DumpList& results, int maxDepth) const {
    auto windows = axApp.elements(ax::kWindows);
    if (!windows) return;
    for (const auto& w : *windows) dumpMenuTree(w, results, 0, maxDepth, w.string(ax::kRole).value_or(""));
    if (auto focused = axApp.element(ax::kFocusedUIElement)) dumpMenuTree(*focused, results, 0, maxDepth, "focused");
}

json LogicInspector::dumpSidechainMenuItems() const {
    auto logic = logicApplication();
    if (!logic) return {{"error", "Logic not running"}};
    auto app = platform::accessibility().applicationElement(logic->processIdentifier);
    auto window = findMainWindow();
    if (!window) return {{"error", "Main Logic window not found"}};
    auto plugin = findPluginWindow(app, *window);
    if (!plugin) return {{"error", "No plugin window currently open. Run /debug/open-plugin first."}};
    std::optional<SidechainDropdown> dropdown;
    walkForSidechainDropdown(*plugin, dropdown, 0, 10);
    if (!dropdown) return {{"error", "No sidechain dropdown found in the open plugin window."}};

    activateLogic();
    platform::pause(0.2);
    dropdown->element.performAction(ax::kPress);
    platform::pause(0.8);
    DumpList items;
    if (auto windows = app.elements(ax::kWindows))
        for (const auto& w : *windows) collectMenuItemTitles(w, items, 0, 20);
    if (auto focused = app.element(ax::kFocusedUIElement)) collectMenuItemTitles(*focused, items, 0, 20);
    pressKey(53);
    platform::pause(0.2);
    return {{"count", items.size()},
            {"currentValue", dropdown->element.string(ax::kValue).value_or("")},
            {"items", items}};
}

}  // namespace corvane
