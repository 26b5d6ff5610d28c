// Diagnostic walks of Logic Pro's Accessibility tree and its menus. Each writes plain dictionaries with
// its own key set, path form and frame rounding, since developers compare their output across versions
// of Logic Pro. A failed or mistyped read only drops a key or a subtree, never the walk.

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "logic/ax_read.h"
#include "logic/ax_tree.h"
#include "logic/key_codes.h"
#include "logic/logic_diagnostics.h"
#include "logic/logic_diagnostics_internal.h"
#include "logic/logic_inspector.h"
#include "logic/logic_inspector_internal.h"
#include "logic/logic_messages.h"
#include "logic/logic_timing.h"
#include "logic/search_depths.h"
#include "platform/platform.h"
#include "support/numbers.h"
#include "support/unicode.h"

namespace corvane {

using nlohmann::json;
using DumpList = LogicDiagnostics::DumpList;

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

std::optional<AXElement> logicAppElement(const LogicInspector& logic) {
    const auto running = logic.logicApplication();
    if (!running) return std::nullopt;
    return platform::accessibility().applicationElement(running->processIdentifier);
}

std::variant<OpenPlugin, json> findOpenPlugin(const LogicInspector& logic, const std::string& noWindow) {
    const auto running = logic.logicApplication();
    if (!running) return json{{"error", logic_messages::kLogicNotRunning}};
    const auto mainWindow = logic.findMainWindow();
    if (!mainWindow) return json{{"error", logic_messages::kMainWindowNotFound}};
    const auto app = platform::accessibility().applicationElement(running->processIdentifier);
    const auto window = logic.findPluginWindow(app, *mainWindow);
    if (!window) return json{{"error", noWindow}};
    return OpenPlugin{app, *mainWindow, *window};
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

// What every description of an element starts with: its role and subrole, and its title,
// description and identifier unless empty.
void putIdentity(json& entry, const AXElement& e) {
    putText(entry, "role", e, ax::kRole);
    putText(entry, "subrole", e, ax::kSubrole);
    putNonEmpty(entry, "title", e, ax::kTitle);
    putNonEmpty(entry, "description", e, ax::kDescription);
    putNonEmpty(entry, "identifier", e, ax::kIdentifier);
}

using detail::frameJson;

bool allZero(const platform::Rect& r) { return r.x == 0 && r.y == 0 && r.width == 0 && r.height == 0; }

void putFrameUnlessZero(json& entry, const AXElement& e) {
    auto frame = LogicInspector::frameForElement(e);
    if (!allZero(frame)) entry["frame"] = frameJson(frame, false);
}

std::optional<std::vector<AXElement>> childList(const AXElement& e) { return e.elements(ax::kChildren); }
std::size_t childCount(const AXElement& e) { return e.children().size(); }

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

// Where a path walk goes after a visit: into the element's children, whose paths start with
// childPrefix, or on as `next` says.
struct PathNext {
    Next next;
    std::string childPrefix;
};

// A walk that names each element by its path: the root by rootPath, any other by the prefix its
// parent left, its label (none without labelOf) and its place among its siblings.
template <class Visit>
void walkWithPaths(const AXElement& root, const std::string& rootPath, int depth, int maxDepth, Visit visit,
                   std::string (*labelOf)(const AXElement&) = nullptr) {
    std::vector<std::string> prefixes;  // one per element on the current path, the root's first
    ax_tree::walk(
        root, maxDepth,
        [&](const Step& step) {
            const auto level = static_cast<std::size_t>(step.depth - depth);
            const std::string here = level == 0 ? rootPath
                                                : prefixes[level - 1] + (labelOf ? labelOf(step.element) : "") + "[" +
                                                      std::to_string(step.index) + "]";
            PathNext after = visit(step, here);
            if (after.next == Next::children) {
                prefixes.resize(level);
                prefixes.push_back(std::move(after.childPrefix));
            }
            return after.next;
        },
        depth);
}

}  // namespace

json LogicDiagnostics::dumpElement(const AXElement& element, int depth, int maxDepth) const {
    json root;
    std::vector<json*> open;  // the node written at each depth of the current path
    // Unlike the listings, the element at maxDepth itself is still described, without children.
    ax_tree::walk(
        element, std::numeric_limits<int>::max(),
        [&](const Step& step) {
            json node = json::object();
            putIdentity(node, step.element);
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

void LogicDiagnostics::crawlElement(const AXElement& element, const std::string& path, int depth, int maxDepth,
                                    DumpList& elements, int& count, int maxTotal) const {
    walkWithPaths(element, path, depth, maxDepth, [&](const Step& step, const std::string& here) -> PathNext {
        if (count >= maxTotal) return {Next::stop, ""};
        const AXElement& e = step.element;
        json entry = {{"path", here}, {"depth", step.depth}};
        putIdentity(entry, e);
        if (auto v = valueAsText(e)) entry["value"] = *v;
        putBool(entry, "selected", e, ax::kSelected);
        putBool(entry, "enabled", e, ax::kEnabled);
        putBool(entry, "focused", e, ax::kFocused);
        putNonEmpty(entry, "roleDescription", e, ax::kRoleDescription);
        putNonEmpty(entry, "help", e, ax::kHelp);
        putFrameUnlessZero(entry, e);
        elements.push_back(std::move(entry));
        ++count;
        if (!hasChildren(step)) return {Next::siblings, ""};
        return {Next::children, here + " > " + firstText(e, {ax::kTitle, ax::kDescription, ax::kRole})};
    });
}

void LogicDiagnostics::dumpElementWithActions(const AXElement& element, const std::string& path, int depth,
                                              int maxDepth, DumpList& elements) const {
    walkWithPaths(element, path, depth, maxDepth, [&](const Step& step, const std::string& here) -> PathNext {
        const AXElement& e = step.element;
        json entry = {{"path", here}, {"depth", step.depth}};
        putIdentity(entry, e);
        putNonEmpty(entry, "help", e, ax::kHelp);
        putNonEmpty(entry, "roleDescription", e, ax::kRoleDescription);
        if (auto actions = logic_.actionNames(e); !actions.empty()) entry["actions"] = actions;
        putFrameUnlessZero(entry, e);
        elements.push_back(std::move(entry));
        if (!hasChildren(step)) return {Next::siblings, ""};
        return {Next::children, here + ">" + firstText(e, {ax::kDescription, ax::kTitle, ax::kRole})};
    });
}

void LogicDiagnostics::dumpAllElementsInSubtree(const AXElement& root, DumpList& results, int depth,
                                                int maxDepth) const {
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
                                   {"frame", frameJson(LogicInspector::frameForElement(e), true)}});
            }
            return Next::children;
        },
        depth);
}

void LogicDiagnostics::dumpAllAXButtonsInSubtree(const AXElement& root, DumpList& results, int depth,
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
                                   {"frame", frameJson(LogicInspector::frameForElement(e), true)}});
            }
            return Next::children;
        },
        depth);
}

void LogicDiagnostics::dumpMenuTree(const AXElement& element, DumpList& results, int depth, int maxDepth,
                                    const std::string& path) const {
    walkWithPaths(element, path, depth, maxDepth, [&](const Step& step, const std::string& here) -> PathNext {
        const AXElement& e = step.element;
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
        if (!hasChildren(step)) return {Next::siblings, ""};
        const std::string label = !title.empty()         ? title
                                  : !description.empty() ? description
                                                         : e.string(ax::kRole).value_or("");
        return {Next::children, here + " > " + label};
    });
}

void LogicDiagnostics::collectMenuItemTitles(const AXElement& element, DumpList& results, int depth,
                                             int maxDepth) const {
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            const auto& children = step.childrenRead();
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

void LogicDiagnostics::collectMenuNodes(const AXElement& in, DumpList& results, int depth, int maxDepth) const {
    ax_tree::walk(
        in, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            if (hasRole(e, {"AXMenu"}))
                results.push_back({{"depth", step.depth},
                                   {"childCount", childCount(e)},
                                   {"frame", frameJson(LogicInspector::frameForElement(e), false)}});
            return Next::children;
        },
        depth);
}

void LogicDiagnostics::findAllMenusIn(const AXElement& element, int depth, int maxDepth, DumpList& results) const {
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
                                   {"frame", frameJson(LogicInspector::frameForElement(e), false)}});
            return Next::children;
        },
        depth);
}

void LogicDiagnostics::deepCrawlWithAttributes(const AXElement& element, const std::string& path, int depth,
                                               int maxDepth, DumpList& into) const {
    walkWithPaths(
        element, path, depth, maxDepth,
        [&](const Step& step, const std::string& here) -> PathNext {
            json entry = describeElement(step.element, here);
            entry["depth"] = step.depth;
            into.push_back(std::move(entry));
            return {Next::children, here + ">"};
        },
        // Here a path ends with the element's own role, not its parent's label.
        [](const AXElement& e) { return e.string(ax::kRole).value_or("?"); });
}

json LogicDiagnostics::describeElement(const AXElement& element, const std::string& label) const {
    json d = {{"label", label}};
    putIdentity(d, element);
    putFrameUnlessZero(d, element);
    if (auto actions = logic_.actionNames(element); !actions.empty()) d["actions"] = actions;
    if (auto names = logic_.copyAllAttributeNames(element)) d["attrs"] = *names;
    if (auto children = childList(element)) d["childCount"] = children->size();
    return d;
}

// --- The public dumps --------------------------------------------------------------------------

json LogicDiagnostics::debugAXDump(int maxDepth) const {
    auto logic = logic_.logicApplication();
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

DumpList LogicDiagnostics::fullAXCrawl(int maxDepth, int maxTotalElements) const {
    const auto app = detail::logicAppElement(logic_);
    if (!app) return {json{{"error", logic_messages::kLogicIsNotRunning}}};
    auto windows = app->elements(ax::kWindows);
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

json LogicDiagnostics::dumpChannelStripWithActions(int maxDepth) const {
    auto window = logic_.findMainWindow();
    if (!window) return {{"error", "Main window not found"}};
    auto mixer = logic_.findMixerArea(*window);
    if (!mixer) return {{"error", "Mixer area not found. Make sure the Inspector is open (shortcut I)."}};
    auto strips = childList(*mixer);
    if (!strips || strips->empty()) return {{"error", "No channel strip under Mixer area"}};
    DumpList elements;
    dumpElementWithActions(strips->front(), "Strip", 0, maxDepth, elements);
    return {{"count", elements.size()}, {"elements", elements}};
}

void LogicDiagnostics::dumpInspectorMixerStrips(const AXElement& in, DumpList& results) const {
    auto mixer = logic_.findMixerArea(in);
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

void LogicDiagnostics::dumpMenuItems(const AXElement& axApp, DumpList& results, int maxDepth) const {
    auto windows = axApp.elements(ax::kWindows);
    if (!windows) return;
    for (const auto& w : *windows) dumpMenuTree(w, results, 0, maxDepth, w.string(ax::kRole).value_or(""));
    if (auto focused = axApp.element(ax::kFocusedUIElement)) dumpMenuTree(*focused, results, 0, maxDepth, "focused");
}

void LogicDiagnostics::collectOpenMenuItems(const AXElement& axApp, DumpList& items, int maxDepth) const {
    if (auto windows = axApp.elements(ax::kWindows))
        for (const auto& w : *windows) collectMenuItemTitles(w, items, 0, maxDepth);
    if (auto focused = axApp.element(ax::kFocusedUIElement)) collectMenuItemTitles(*focused, items, 0, maxDepth);
}

json LogicDiagnostics::dumpSidechainMenuItems() const {
    auto found = detail::findOpenPlugin(logic_, "No plugin window currently open. Run /debug/open-plugin first.");
    if (auto* error = std::get_if<json>(&found)) return *error;
    const auto& open = std::get<detail::OpenPlugin>(found);
    std::optional<LogicInspector::SidechainDropdown> dropdown;
    logic_.walkForSidechainDropdown(open.window, dropdown, 0, search_depth::kPluginHeader);
    if (!dropdown) return {{"error", "No sidechain dropdown found in the open plugin window."}};

    logic_.activateLogic();
    platform::pause(pacing::kBeforeMenuListing);
    dropdown->element.performAction(ax::kPress);
    platform::pause(pacing::kSelectorMenuOpens);
    DumpList items;
    collectOpenMenuItems(open.app, items, search_depth::kListedMenuItems);
    logic_.pressKey(key_code::kEscape);
    platform::pause(pacing::kMenuCloses);
    return {
        {"count", items.size()}, {"currentValue", dropdown->element.string(ax::kValue).value_or("")}, {"items", items}};
}

json LogicDiagnostics::dumpAutomationMenu(int stripIndex) const {
    const auto app = detail::logicAppElement(logic_);
    if (!app) return {{"error", logic_messages::kLogicNotRunning}};
    auto window = logic_.findMainWindow();
    if (!window) return {{"error", logic_messages::kNoMainWindow}};
    auto button = logic_.findAutomationListButton(*window, stripIndex);
    if (!button)
        return {{"error", "Automation popup not found on strip " + std::to_string(stripIndex) +
                              ". Did you surface the bus first (click a send)?"}};
    const auto actions = logic_.actionNames(*button);
    auto offers = [&](const char* action) {
        return std::find(actions.begin(), actions.end(), action) != actions.end();
    };
    platform::pause(pacing::kBeforeAutomationPress);
    const char* used = offers(ax::kShowMenu) ? ax::kShowMenu : ax::kPress;
    button->performAction(used);
    platform::pause(pacing::kMenuOpens);

    DumpList items;
    collectOpenMenuItems(*app, items, search_depth::kListedMenuItems);
    if (offers(ax::kCancel))
        button->performAction(ax::kCancel);
    else
        logic_.pressKey(key_code::kEscape);
    platform::pause(pacing::kMenuCloses);
    return {{"count", items.size()}, {"items", items}, {"supportedActions", actions}, {"actionUsed", used}};
}

}  // namespace corvane
