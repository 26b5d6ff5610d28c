// Diagnostic walks of Logic Pro's Accessibility tree. Each writes plain dictionaries with its own key
// set, path form and frame rounding, since developers compare their output across versions of Logic
// Pro. A failed or mistyped read only drops a key or a subtree, never the walk.

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/key_codes.h"
#include "logic/logic_inspector.h"
#include "logic/logic_inspector_dump_text.h"
#include "logic/logic_messages.h"
#include "logic/logic_timing.h"
#include "logic/search_depths.h"
#include "platform/platform.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

namespace ax = platform::ax;
using platform::AXElement;
using ax_tree::Next;
using ax_tree::Step;
using nlohmann::json;
using DumpList = LogicInspector::DumpList;

namespace detail {

std::string axValueText(const platform::AXValue& value) {
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>)
                return v;
            else if constexpr (std::is_same_v<T, std::int64_t>)
                return std::to_string(v);
            else if constexpr (std::is_same_v<T, double>) {
                if (std::isfinite(v) && std::trunc(v) == v && std::fabs(v) < 1e15)
                    return std::to_string(static_cast<long long>(v));
                return fmt::format("{}", v);
            } else if constexpr (std::is_same_v<T, bool>)
                return v ? "1" : "0";
            else if constexpr (std::is_same_v<T, platform::Point>)
                return fmt::format("x={} y={}", v.x, v.y);
            else if constexpr (std::is_same_v<T, platform::Size>)
                return fmt::format("w={} h={}", v.width, v.height);
            else if constexpr (std::is_same_v<T, platform::Rect>)
                return fmt::format("x={} y={} w={} h={}", v.x, v.y, v.width, v.height);
            else if constexpr (std::is_same_v<T, AXElement>)
                return "<AXUIElement>";
            else
                return fmt::format("<{} AXUIElements>", v.size());
        },
        value);
}

// Accessibility reports finite frames; anything else is written as 0 rather than left undefined.
json frameJson(const platform::Rect& r, bool rounded) {
    auto whole = [rounded](double v) {
        auto i =
            rounded ? checkedRounded(v, INT64_MIN / 2, INT64_MAX / 2) : checkedInteger(v, INT64_MIN / 2, INT64_MAX / 2);
        return i.value_or(0);
    };
    return {{"x", whole(r.x)}, {"y", whole(r.y)}, {"w", whole(r.width)}, {"h", whole(r.height)}};
}

}  // namespace detail

namespace {

std::optional<std::string> valueAsText(const AXElement& e) {
    const auto v = ax_read::valueOf(e);
    if (!v) return std::nullopt;
    return detail::axValueText(*v);
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

using detail::frameJson;

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

bool hasChildren(const ax_tree::Step& step) {
    const auto& children = step.children();
    return children && !children->empty();
}

bool hasRole(const AXElement& e, std::initializer_list<const char*> roles) {
    auto role = e.string(ax::kRole);
    return role && std::any_of(roles.begin(), roles.end(), [&](const char* r) { return *role == r; });
}

}  // namespace

// --- The walks -----------------------------------------------------------------------------
// Each is one ax_tree walk; the listing ones append in visiting order. Where a path names the
// parent, the parent's visit leaves the prefix its children's paths start with.

namespace {

// The prefixes left by the elements on the walk's current path, one per depth below the first.
class PathPrefixes {
public:
    explicit PathPrefixes(int firstDepth) : firstDepth_(firstDepth) {}

    // The visited element's path: the root's own, else its parent's prefix, the label and its place.
    std::string pathOf(const ax_tree::Step& step, const std::string& rootPath, const std::string& label = "") const {
        const auto level = static_cast<std::size_t>(step.depth - firstDepth_);
        if (level == 0) return rootPath;
        return prefixes_[level - 1] + label + "[" + std::to_string(step.index) + "]";
    }
    void leave(const ax_tree::Step& step, std::string prefix) {
        prefixes_.resize(static_cast<std::size_t>(step.depth - firstDepth_));
        prefixes_.push_back(std::move(prefix));
    }

private:
    int firstDepth_;
    std::vector<std::string> prefixes_;
};

}  // namespace

json LogicInspector::dumpElement(const AXElement& element, int depth, int maxDepth) const {
    json root;
    std::vector<json*> open;  // the node written at each depth of the current path
    // Unlike the listings, the element at maxDepth itself is still described, without children.
    ax_tree::walk(
        element, std::numeric_limits<int>::max(),
        [&](const Step& step) {
            json node = json::object();
            putText(node, "role", step.element, ax::kRole);
            putText(node, "subrole", step.element, ax::kSubrole);
            putNonEmpty(node, "title", step.element, ax::kTitle);
            putNonEmpty(node, "description", step.element, ax::kDescription);
            putNonEmpty(node, "identifier", step.element, ax::kIdentifier);
            if (auto v = valueAsText(step.element)) node["value"] = *v;
            putBool(node, "selected", step.element, ax::kSelected);
            const auto level = static_cast<std::size_t>(step.depth - depth);
            json* written = &root;
            if (level == 0) {
                root = std::move(node);
            } else {
                auto& siblings = (*open[level - 1])["children"];
                siblings.push_back(std::move(node));
                written = &siblings.back();
            }
            open.resize(level);
            open.push_back(written);
            if (step.depth >= maxDepth) return Next::siblings;
            if (const auto& children = step.children()) {
                (*written)["childCount"] = children->size();
                (*written)["children"] = json::array();
            }
            return Next::children;
        },
        depth);
    return root;
}

void LogicInspector::crawlElement(const AXElement& element, const std::string& path, int depth, int maxDepth,
                                  DumpList& elements, int& count, int maxTotal) const {
    PathPrefixes prefixes(depth);
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            if (count >= maxTotal) return Next::stop;
            const AXElement& e = step.element;
            const std::string here = prefixes.pathOf(step, path);
            json entry = {{"path", here}, {"depth", step.depth}};
            putText(entry, "role", e, ax::kRole);
            putText(entry, "subrole", e, ax::kSubrole);
            putNonEmpty(entry, "title", e, ax::kTitle);
            putNonEmpty(entry, "description", e, ax::kDescription);
            putNonEmpty(entry, "identifier", e, ax::kIdentifier);
            if (auto v = valueAsText(e)) entry["value"] = *v;
            putBool(entry, "selected", e, ax::kSelected);
            putBool(entry, "enabled", e, ax::kEnabled);
            putBool(entry, "focused", e, ax::kFocused);
            putNonEmpty(entry, "roleDescription", e, ax::kRoleDescription);
            putNonEmpty(entry, "help", e, ax::kHelp);
            putFrameUnlessZero(entry, e);
            elements.push_back(std::move(entry));
            ++count;
            if (!hasChildren(step)) return Next::siblings;
            prefixes.leave(step, here + " > " + firstText(e, {ax::kTitle, ax::kDescription, ax::kRole}));
            return Next::children;
        },
        depth);
}

void LogicInspector::dumpElementWithActions(const AXElement& element, const std::string& path, int depth, int maxDepth,
                                            DumpList& elements) const {
    PathPrefixes prefixes(depth);
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            const std::string here = prefixes.pathOf(step, path);
            json entry = {{"path", here}, {"depth", step.depth}};
            putText(entry, "role", e, ax::kRole);
            putText(entry, "subrole", e, ax::kSubrole);
            putNonEmpty(entry, "description", e, ax::kDescription);
            putNonEmpty(entry, "title", e, ax::kTitle);
            putNonEmpty(entry, "identifier", e, ax::kIdentifier);
            putNonEmpty(entry, "help", e, ax::kHelp);
            putNonEmpty(entry, "roleDescription", e, ax::kRoleDescription);
            if (auto actions = actionNames(e); !actions.empty()) entry["actions"] = actions;
            putFrameUnlessZero(entry, e);
            elements.push_back(std::move(entry));
            if (!hasChildren(step)) return Next::siblings;
            prefixes.leave(step, here + ">" + firstText(e, {ax::kDescription, ax::kTitle, ax::kRole}));
            return Next::children;
        },
        depth);
}

void LogicInspector::dumpAllElementsInSubtree(const AXElement& root, DumpList& results, int depth, int maxDepth) const {
    ax_tree::walk(
        root, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            if (auto role = e.string(ax::kRole); role && !role->empty()) {
                results.push_back({{"role", *role},
                                   {"desc", e.string(ax::kDescription).value_or("")},
                                   {"title", e.string(ax::kTitle).value_or("")},
                                   {"value", e.string(ax::kValue).value_or("")},
                                   {"help", e.string(ax::kHelp).value_or("")},
                                   {"depth", step.depth},
                                   {"frame", frameJson(frameForElement(e), true)}});
            }
            return Next::children;
        },
        depth);
}

void LogicInspector::dumpAllAXButtonsInSubtree(const AXElement& root, DumpList& results, int depth,
                                               int maxDepth) const {
    ax_tree::walk(
        root, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            if (hasRole(e, {"AXButton", "AXMenuButton"})) {
                results.push_back({{"role", e.string(ax::kRole).value_or("")},
                                   {"desc", e.string(ax::kDescription).value_or("")},
                                   {"title", e.string(ax::kTitle).value_or("")},
                                   {"roleDescription", e.string(ax::kRoleDescription).value_or("")},
                                   {"value", e.string(ax::kValue).value_or("")},
                                   {"help", e.string(ax::kHelp).value_or("")},
                                   {"frame", frameJson(frameForElement(e), true)}});
            }
            return Next::children;
        },
        depth);
}

void LogicInspector::dumpMenuTree(const AXElement& element, DumpList& results, int depth, int maxDepth,
                                  const std::string& path) const {
    PathPrefixes prefixes(depth);
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            const std::string here = prefixes.pathOf(step, path);
            const std::string title = ax_read::trimmed(e, ax::kTitle);
            const std::string description = ax_read::trimmed(e, ax::kDescription);
            if (hasRole(e, {"AXMenuItem", "AXMenu", "AXMenuBar", "AXRow", "AXCell", "AXStaticText", "AXButton",
                            "AXPopUpButton"}) &&
                (!title.empty() || !description.empty())) {
                json entry = {{"role", e.string(ax::kRole).value_or("")}, {"depth", step.depth}, {"path", here}};
                if (!title.empty()) entry["title"] = title;
                if (!description.empty()) entry["description"] = description;
                if (auto v = valueAsText(e)) entry["value"] = *v;
                results.push_back(std::move(entry));
            }
            if (!hasChildren(step)) return Next::siblings;
            const std::string label = !title.empty()         ? title
                                      : !description.empty() ? description
                                                             : e.string(ax::kRole).value_or("");
            prefixes.leave(step, here + " > " + label);
            return Next::children;
        },
        depth);
}

void LogicInspector::collectMenuItemTitles(const AXElement& element, DumpList& results, int depth, int maxDepth) const {
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            const auto& children = step.children();
            if (hasRole(e, {"AXMenuItem"})) {
                if (auto title = e.string(ax::kTitle); title && !title->empty()) {
                    bool submenu = false;
                    for (const auto& child : children.value_or(std::vector<AXElement>{}))
                        if (hasRole(child, {"AXMenu"})) submenu = true;
                    results.push_back({{"title", *title},
                                       {"enabled", e.boolean(ax::kEnabled).value_or(true)},
                                       {"depth", step.depth},
                                       {"hasSubmenu", submenu},
                                       {"childCount", children ? children->size() : 0}});
                }
            }
            return Next::children;
        },
        depth);
}

void LogicInspector::collectMenuNodes(const AXElement& in, DumpList& results, int depth, int maxDepth) const {
    ax_tree::walk(
        in, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            if (hasRole(e, {"AXMenu"}))
                results.push_back({{"depth", step.depth},
                                   {"childCount", childCount(e)},
                                   {"frame", frameJson(frameForElement(e), false)}});
            return Next::children;
        },
        depth);
}

void LogicInspector::findAllMenusIn(const AXElement& element, int depth, int maxDepth, DumpList& results) const {
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            if (hasRole(e, {"AXMenu", "AXMenuItem"}))
                results.push_back({{"role", e.string(ax::kRole).value_or("")},
                                   {"title", e.string(ax::kTitle).value_or("")},
                                   {"desc", e.string(ax::kDescription).value_or("")},
                                   {"depth", step.depth},
                                   {"childCount", childCount(e)},
                                   {"frame", frameJson(frameForElement(e), false)}});
            return Next::children;
        },
        depth);
}

void LogicInspector::deepCrawlWithAttributes(const AXElement& element, const std::string& path, int depth, int maxDepth,
                                             DumpList& into) const {
    PathPrefixes prefixes(depth);
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            // Here a path ends with the element's own role, not its parent's label.
            const std::string here =
                step.depth == depth ? path : prefixes.pathOf(step, path, e.string(ax::kRole).value_or("?"));
            json entry = describeElement(e, here);
            entry["depth"] = step.depth;
            into.push_back(std::move(entry));
            prefixes.leave(step, here + ">");
            return Next::children;
        },
        depth);
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
    if (!logic) return {{"error", logic_messages::kLogicIsNotRunning}};
    auto app = platform::accessibility().applicationElement(logic->processIdentifier);
    auto focused = app.element(ax::kFocusedWindow);
    auto windows = app.elements(ax::kWindows).value_or(std::vector<AXElement>{});
    platform::AXValue role;
    const int code = platform::code(app.copyAttributeValue(ax::kRole, role));
    auto* roleText = std::get_if<std::string>(&role);

    json all = json::array();
    for (std::size_t i = 0; i < windows.size() && i < 5; ++i)
        all.push_back(dumpElement(windows[i], 0, std::min(maxDepth, search_depth::kWindowOverview)));
    return {{"logicPID", logic->processIdentifier},
            {"logicName", logic->localizedName.value_or("Logic Pro")},
            {"axTrustedCheck", platform::accessibility().isProcessTrusted(false)},
            {"axRawReadResult", code},
            {"axRawReadNote",
             code == 0 ? std::string("AX access works!") : "AX read failed (" + std::to_string(code) + ")"},
            {"axRawRole", code == 0 && roleText ? *roleText : std::string("nil")},
            {"windowCount", windows.size()},
            {"focusedWindow", focused ? dumpElement(*focused, 0, maxDepth) : json("none (Logic may not be frontmost)")},
            {"allWindows", std::move(all)}};
}

DumpList LogicInspector::fullAXCrawl(int maxDepth, int maxTotalElements) const {
    auto logic = logicApplication();
    if (!logic) return {json{{"error", logic_messages::kLogicIsNotRunning}}};
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
    auto mixer = findMixerArea(*window);
    if (!mixer) return {{"error", "Mixer area not found. Make sure the Inspector is open (shortcut I)."}};
    auto strips = childList(*mixer);
    if (!strips || strips->empty()) return {{"error", "No channel strip under Mixer area"}};
    DumpList elements;
    dumpElementWithActions(strips->front(), "Strip", 0, maxDepth, elements);
    return {{"count", elements.size()}, {"elements", elements}};
}

void LogicInspector::dumpInspectorMixerStrips(const AXElement& in, DumpList& results) const {
    auto mixer = findMixerArea(in);
    if (!mixer) return;
    auto strips = childList(*mixer);
    if (!strips) return;
    for (std::size_t i = 0; i < strips->size(); ++i) {
        DumpList entries;
        dumpAllElementsInSubtree((*strips)[i], entries, 0, search_depth::kStripDump);
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
    if (!logic) return {{"error", logic_messages::kLogicNotRunning}};
    auto app = platform::accessibility().applicationElement(logic->processIdentifier);
    auto window = findMainWindow();
    if (!window) return {{"error", logic_messages::kMainWindowNotFound}};
    auto plugin = findPluginWindow(app, *window);
    if (!plugin) return {{"error", "No plugin window currently open. Run /debug/open-plugin first."}};
    std::optional<SidechainDropdown> dropdown;
    walkForSidechainDropdown(*plugin, dropdown, 0, search_depth::kPluginHeader);
    if (!dropdown) return {{"error", "No sidechain dropdown found in the open plugin window."}};

    activateLogic();
    platform::pause(pacing::kBeforeMenuListing);
    dropdown->element.performAction(ax::kPress);
    platform::pause(pacing::kSelectorMenuOpens);
    DumpList items;
    if (auto windows = app.elements(ax::kWindows))
        for (const auto& w : *windows) collectMenuItemTitles(w, items, 0, search_depth::kListedMenuItems);
    if (auto focused = app.element(ax::kFocusedUIElement))
        collectMenuItemTitles(*focused, items, 0, search_depth::kListedMenuItems);
    pressKey(key_code::kEscape);
    platform::pause(pacing::kMenuCloses);
    return {
        {"count", items.size()}, {"currentValue", dropdown->element.string(ax::kValue).value_or("")}, {"items", items}};
}

}  // namespace corvane
