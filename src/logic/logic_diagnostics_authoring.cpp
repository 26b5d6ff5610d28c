// Plug-in window authoring dumps: what a developer needs to see to write a plug-in map.

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <variant>

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
#include "support/app_paths.h"
#include "support/base64.h"
#include "support/files.h"
#include "support/unicode.h"

namespace corvane {

using nlohmann::json;
using DumpList = LogicDiagnostics::DumpList;
using ax_read::trimmed;

namespace {

// Halves away from zero, and never a non-finite number into JSON.
std::int64_t rounded(double v) {
    return std::isfinite(v) ? static_cast<std::int64_t>(std::round(std::clamp(v, -1e15, 1e15))) : 0;
}

std::string number(double v) { return fmt::format("{}", v); }

// A value as the platform's description of it would print.
std::string description(const platform::AXValue& value) {
    struct Describe {
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(std::int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const { return number(d); }
        std::string operator()(bool b) const { return b ? "1" : "0"; }
        std::string operator()(const platform::Point& p) const { return "{" + number(p.x) + ", " + number(p.y) + "}"; }
        std::string operator()(const platform::Size& s) const {
            return "{" + number(s.width) + ", " + number(s.height) + "}";
        }
        std::string operator()(const platform::Rect& r) const {
            return "{{" + number(r.x) + ", " + number(r.y) + "}, {" + number(r.width) + ", " + number(r.height) + "}}";
        }
        std::string operator()(const AXElement& e) const {
            return "<AXUIElement " + e.string(ax::kRole).value_or("?") + ">";
        }
        std::string operator()(const std::vector<AXElement>& list) const {
            return "(" + std::to_string(list.size()) + " elements)";
        }
    };
    return std::visit(Describe{}, value);
}

bool parentIsSlider(const AXElement& e) {
    auto parent = e.element(ax::kParent);
    return parent && textOf(*parent, ax::kRole) == "AXSlider";
}

// A plug-in window's title after its first colon ("Vox: Drift Delay"), or all of it.
std::string pluginNameFromTitle(const std::string& title) {
    const auto colon = title.find(':');
    return std::string(text::trimSpacesAndTabs(colon == std::string::npos ? title : title.substr(colon + 1)));
}

void addPicture(json& result, const std::optional<std::string>& jpeg) {
    if (!jpeg) return;
    result["screenshotBase64"] = base64Encode(*jpeg);
    result["screenshotFormat"] = "jpeg";
}

// One element of the authoring walk: records it when it is a control worth mapping, and says
// whether its children are walked too.
Next recordForAuthoring(const AXElement& from, platform::Point windowOrigin, json& unlabeledSliders,
                        json& labeledControls) {
    const std::string role = textOf(from, ax::kRole);
    const std::string desc = trimmed(from, ax::kDescription);
    const std::string title = trimmed(from, ax::kTitle);
    const std::string help = trimmed(from, ax::kHelp);
    const std::string identifier = trimmed(from, ax::kIdentifier);
    const std::string roleDescription = trimmed(from, ax::kRoleDescription);
    const auto value = ax_read::valueOf(from);
    static const char* const recorded[] = {"AXSlider",    "AXCheckBox", "AXPopUpButton", "AXMenuButton",
                                           "AXTextField", "AXButton",   "AXStaticText"};
    if (std::none_of(std::begin(recorded), std::end(recorded), [&](const char* r) { return role == r; }))
        return Next::children;
    std::string label = desc.empty() ? title : desc;
    const platform::Rect frame = LogicInspector::frameForElement(from);
    auto placed = [&](json record) {
        record["relX"] = rounded(frame.x - windowOrigin.x);
        record["relY"] = rounded(frame.y - windowOrigin.y);
        record["width"] = rounded(frame.width);
        record["height"] = rounded(frame.height);
        return record;
    };
    if (role == "AXStaticText") {
        const auto* shown = value ? std::get_if<std::string>(&*value) : nullptr;
        const std::string textValue = shown ? text::trimmingWhitespaceAndNewlines(*shown) : "";
        if (label.empty()) label = textValue;
        if (label.empty()) return Next::siblings;
        json record = placed({{"label", label}, {"role", role}});
        if (!textValue.empty()) record["text"] = textValue;
        labeledControls.push_back(record);
        return Next::siblings;
    }
    // A slider inside a slider is a part of it (a knob's own field), never a control of its own.
    const bool nestedSlider = role == "AXSlider" && parentIsSlider(from);
    if (!label.empty()) {
        if (nestedSlider) return Next::siblings;
        json record = placed({{"label", label}, {"role", role}});
        if (value) record["value"] = description(*value);
        if (!help.empty()) record["axHelp"] = help;
        if (!identifier.empty()) record["axIdentifier"] = identifier;
        labeledControls.push_back(record);
        return Next::children;
    }
    if (role == "AXSlider" && value) {
        if (nestedSlider) return Next::siblings;
        json record =
            placed({{"axIndex", unlabeledSliders.size() + 1}, {"role", "AXSlider"}, {"value", description(*value)}});
        if (!help.empty()) record["axHelp"] = help;
        if (!identifier.empty()) record["axIdentifier"] = identifier;
        if (!roleDescription.empty()) record["axRoleDescription"] = roleDescription;
        unlabeledSliders.push_back(record);
        return Next::siblings;
    }
    return Next::children;
}

// The file the whole insert menu is written to.
std::filesystem::path pluginInsertMenuProbePath() {
    return AppPaths::temporaryDirectory() / "plugin-insert-menu-probe.json";
}

}  // namespace

void LogicDiagnostics::collectAuthoringInfo(const AXElement& from, Point windowOrigin, json& unlabeledSliders,
                                            json& labeledControls, int depth, int maxDepth) const {
    ax_tree::walk(
        from, maxDepth,
        [&](const Step& step) {
            return recordForAuthoring(step.element, windowOrigin, unlabeledSliders, labeledControls);
        },
        depth);
}

void LogicDiagnostics::collectFullAttributesMatching(const AXElement& element, const std::string& labelPrefix,
                                                     json& results, int depth, int maxDepth) const {
    ax_tree::walk(
        element, maxDepth,
        [&](const Step& step) {
            const AXElement& e = step.element;
            std::string label = textOf(e, ax::kDescription);
            if (label.empty()) label = textOf(e, ax::kTitle);
            const std::string role = textOf(e, ax::kRole);
            const bool matches = labelPrefix.rfind("role:", 0) == 0
                                     ? text::equalsIgnoringCase(role, labelPrefix.substr(5))
                                     : text::lowercased(label).rfind(labelPrefix, 0) == 0;
            if (matches) {
                json record = {{"label", label}, {"role", role}};
                if (auto names = logic_.copyAllAttributeNames(e)) {
                    json attributes = json::object();
                    for (const auto& name : *names) {
                        platform::AXValue v;
                        attributes[name] =
                            e.copyAttributeValue(name, v) == platform::AXError::success ? description(v) : "<nil>";
                    }
                    record["attributes"] = attributes;
                    record["attributeNames"] = *names;
                }
                results.push_back(record);
            }
            return Next::children;
        },
        depth);
}

json LogicDiagnostics::dumpPluginInsertMenu(const std::string& trackName) const {
    if (!logic_.logicApplication()) return {{"error", logic_messages::kLogicNotRunning}};
    const auto selected = logic_.selectTrack(trackName);
    if (!selected) return {{"error", logic_messages::trackNotFound(trackName)}};
    const auto strip = logic_.firstMixerStrip(selected->mainWindow);
    if (!strip)
        return {
            {"error", "Mixer area not found for " + trackName + ". Make sure Logic's Inspector is open (press I)."}};
    std::vector<LogicInspector::InsertBar> bars;
    logic_.findInsertBars(*strip, bars, 0, search_depth::kStripControls);
    if (bars.empty())
        return {
            {"error", "No empty insert bar on " + trackName + ". Pick a track with at least one free plugin slot."}};
    logic_.activateLogic();
    platform::pause(pacing::kBeforeMenuListing);
    bars.front().element.performAction(ax::kPress);
    platform::pause(pacing::kInsertMenuOpensForListing);

    DumpList items;
    if (const auto app = detail::logicAppElement(logic_)) collectOpenMenuItems(*app, items, search_depth::kInsertMenu);
    logic_.pressKey(key_code::kEscape);
    platform::pause(pacing::kMenuCloses);
    logic_.pressKey(key_code::kEscape);
    platform::pause(pacing::kMenuCloses);

    const auto path = pluginInsertMenuProbePath();
    const json file = {{"track", trackName}, {"count", items.size()}, {"items", items}};
    // A shared folder: the file is the user's alone and never written through a link planted there.
    writePrivateFile(path, file.dump(2, ' ', false, json::error_handler_t::replace));
    json preview = json::array();
    for (std::size_t i = 0; i < items.size() && i < 20; ++i) preview.push_back(items[i]);
    return {{"track", trackName},
            {"count", items.size()},
            {"probeFile", path.string()},
            {"note", "Full dump saved to " + path.string() + ". Preview of first 20 items:"},
            {"preview", preview}};
}

json LogicDiagnostics::dumpFullAttributesInOpenPlugin(const std::string& labelPrefix) const {
    auto found = detail::findOpenPlugin(logic_, logic_messages::kNoPluginWindowOpen);
    if (auto* error = std::get_if<json>(&found)) return *error;
    json matches = json::array();
    collectFullAttributesMatching(std::get<detail::OpenPlugin>(found).window, text::lowercased(labelPrefix), matches, 0,
                                  search_depth::kPluginWindow);
    return {{"prefix", labelPrefix}, {"count", matches.size()}, {"matches", matches}};
}

json LogicDiagnostics::dumpOpenPluginWindow() const {
    auto found = detail::findOpenPlugin(logic_, "No plugin window is currently open in Logic. Open a plugin first.");
    if (auto* error = std::get_if<json>(&found)) return *error;
    const auto& open = std::get<detail::OpenPlugin>(found);
    const std::string title = textOf(open.window, ax::kTitle);
    const platform::Rect frame = LogicInspector::frameForElement(open.window);
    json unlabeled = json::array(), labeled = json::array();
    collectAuthoringInfo(open.window, frame.origin(), unlabeled, labeled, 0, search_depth::kPluginWindow);
    json result = {
        {"pluginName", pluginNameFromTitle(title)},
        {"windowTitle", title},
        {"windowWidth", frame.width},
        {"windowHeight", frame.height},
        {"unlabeledSliderCount", unlabeled.size()},
        {"labeledControlCount", labeled.size()},
        {"unlabeledSliders", unlabeled},
        {"labeledControls", labeled},
        {"note",
         "Window left open \u2014 nothing was clicked. Re-run to get a fresh snapshot after changing controls."}};
    addPicture(result, logic_.capturePluginWindowScreenshot(open.app, open.mainWindow));
    return result;
}

json LogicDiagnostics::dumpPluginParametersForAuthoring(const LogicInspector::InsertSlot& pluginSlot,
                                                        const AXElement& excluding) const {
    const auto app = detail::logicAppElement(logic_);
    if (!app) return {{"error", logic_messages::kLogicNotRunning}};
    const auto open = logic_.findChildButton(pluginSlot.element, "open");
    if (!open) return {{"error", logic_messages::noOpenButtonFor(pluginSlot.name)}};
    open->performAction(ax::kPress);
    platform::pause(pacing::kAuthoringWindowOpens);
    auto window = logic_.findPluginWindow(*app, excluding);
    if (!window) {
        open->performAction(ax::kPress);
        platform::pause(pacing::kAuthoringWindowOpens);
        window = logic_.findPluginWindow(*app, excluding);
    }
    if (!window) return {{"error", logic_messages::kPluginWindowDidNotAppear}};
    const platform::Rect frame = LogicInspector::frameForElement(*window);
    json unlabeled = json::array(), labeled = json::array();
    collectAuthoringInfo(*window, frame.origin(), unlabeled, labeled, 0, search_depth::kPluginWindow);
    const auto picture = logic_.capturePluginWindowScreenshot(*app, excluding);
    if (auto close = logic_.findChildButton(*window, "close")) {
        close->performAction(ax::kPress);
        platform::pause(pacing::kWindowCloses);
    }
    json result = {{"pluginName", pluginSlot.name},
                   {"windowWidth", frame.width},
                   {"windowHeight", frame.height},
                   {"unlabeledSliderCount", unlabeled.size()},
                   {"labeledControlCount", labeled.size()},
                   {"unlabeledSliders", unlabeled},
                   {"labeledControls", labeled}};
    addPicture(result, picture);
    return result;
}

}  // namespace corvane
