// Probes of how Logic Pro behaves when driven from outside. The insert menu probes each select a
// track, open one empty insert bar and report what followed; their files land in the temporary
// folder, created private to the user and never through a link, since the names are fixed or
// guessable. The control probes write or press one control and report the raw result.

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <variant>

#include "logic/ax_read.h"
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
#include "support/files.h"
#include "support/image_encoding.h"
#include "support/unicode.h"

namespace corvane {

using nlohmann::json;
using DumpList = LogicDiagnostics::DumpList;
using detail::topOf;

namespace {

// Whole seconds since 1970 on the program's clock, for the per-call file names.
long long epochSeconds() {
    using namespace std::chrono;
    return duration_cast<seconds>(platform::clock().now().time_since_epoch()).count();
}

json truncatedFrame(const platform::Rect& r) { return detail::frameJson(r, false); }

bool isDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The files the diagnostics write into the temporary folder.
bool isProbeFile(std::string_view name) {
    if (name == "insert-bar-menu-probe.json" || name == "plugin-insert-menu-probe.json") return true;
    for (const auto& [prefix, suffix] :
         {std::pair<std::string_view, std::string_view>{"insert-bar-crawl-", ".json"}, {"insert-bar-click-", ".png"}}) {
        if (name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix) &&
            isDigits(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size())))
            return true;
    }
    return false;
}

// Probe files a crash left half-written go before this run's first probe writes there, not at
// start: the folder is shared, and another running copy of the app may be writing one now.
bool writeProbeFile(const std::filesystem::path& path, std::string_view bytes) {
    static std::mutex mutex;
    static std::set<std::filesystem::path> cleaned;
    {
        std::lock_guard lock(mutex);
        if (cleaned.insert(path.parent_path()).second) removeLeftoverTemporaryFiles(path.parent_path(), isProbeFile);
    }
    return writePrivateFile(path, bytes);
}

// The track's strip as a probe finds it before it opens a bar, and the bar it opens.
struct Prepared {
    AXElement mainWindow;
    std::vector<LogicInspector::InsertSlot> slots;  // top to bottom
    std::vector<LogicInspector::InsertBar> bars;    // top to bottom
    AXElement target;
};

// -1: the first free bar below the chain; 0: the topmost bar; N: the first bar below occupied slot N.
std::optional<AXElement> resolveTarget(const Prepared& p, int slotIndex) {
    std::optional<double> below;
    if (slotIndex == 0) {
        if (p.bars.empty()) return std::nullopt;
        return p.bars.front().element;
    }
    if (slotIndex == -1 && !p.slots.empty()) below = topOf(p.slots.back().element);
    if (slotIndex >= 1 && slotIndex <= static_cast<int>(p.slots.size()))
        below = topOf(p.slots[static_cast<std::size_t>(slotIndex - 1)].element);
    if (!below) return std::nullopt;
    for (const auto& bar : p.bars)
        if (topOf(bar.element) > *below) return bar.element;
    return std::nullopt;
}

// Selects the track, finds its strip, lists slots and bars and picks the bar for slotIndex; else
// the error answer, which gives the numbers of slots and bars when `counted`. beforeSlots gets the
// slots' names in the strip's own order.
std::variant<Prepared, json> prepare(const LogicInspector& logic, const std::string& trackName, int slotIndex,
                                     bool counted = false, std::vector<std::string>* beforeSlots = nullptr) {
    auto selected = logic.selectTrack(trackName);
    if (!selected) return json{{"error", logic_messages::trackNotFound(trackName)}};
    auto strip = logic.firstMixerStrip(selected->mainWindow);
    if (!strip) return json{{"error", logic_messages::kMixerAreaNotFound}};
    platform::pause(pacing::kStripFollowsSelection);
    Prepared p;
    p.mainWindow = selected->mainWindow;
    p.slots = logic.findTrackPluginSlots(selected->mainWindow);
    if (beforeSlots) *beforeSlots = detail::slotNames(p.slots);
    logic.findInsertBars(*strip, p.bars, 0, search_depth::kStripControls);
    detail::sortTopToBottom(p.slots);
    detail::sortTopToBottom(p.bars);
    const auto target = resolveTarget(p, slotIndex);
    if (!target) {
        json error{{"error", "Could not resolve insert bar for slot " + std::to_string(slotIndex)}};
        if (counted) {
            error["occupied"] = p.slots.size();
            error["empties"] = p.bars.size();
        }
        return error;
    }
    p.target = *target;
    return p;
}

struct Opening {
    std::string method;
    std::optional<json> error;  // the click could not be sent, so nothing was opened
};

// Opens the bar by AXPress or by a real click near its vertical middle; what the press opened is not
// judged here.
Opening openBar(const LogicInspector& logic, const AXElement& bar, const platform::Rect& frame, double wait,
                bool useMouseClick, double yDelta) {
    logic.activateLogic();
    platform::pause(wait);
    if (!useMouseClick) {
        bar.performAction(ax::kPress);
        return {"AXPress", std::nullopt};
    }
    const platform::Point at{frame.x + frame.width * 0.5, frame.y + std::max(frame.height * 0.5, 0.5) + yDelta};
    const Outcome clicked = logic.mouseClickInLogic(at, LogicInspector::ClickMode::global);
    if (!clicked.success) return {"mouse", json{{"error", "Could not click the insert bar: " + clicked.message}}};
    return {"mouse", std::nullopt};
}

void closeMenu(const LogicInspector& logic, double between, double after) {
    logic.pressKey(key_code::kEscape);
    platform::pause(between);
    logic.pressKey(key_code::kEscape);
    if (after > 0) platform::pause(after);
}

// The attribute values of one element for the crawl: lists of elements described one by one
// (unless flattened), anything else as its printed description.
json attributeSection(const LogicInspector& logic, const LogicDiagnostics& diagnostics, const AXElement& element,
                      bool systemWide) {
    auto names = logic.copyAllAttributeNames(element);
    if (!names) return json::object();
    json perAttribute = json::object();
    for (const auto& name : *names) {
        platform::AXValue value;
        if (element.copyAttributeValue(name, value) != platform::AXError::success) continue;
        if (auto* list = std::get_if<std::vector<AXElement>>(&value); list && !systemWide) {
            json described = json::array();
            for (std::size_t i = 0; i < list->size(); ++i)
                described.push_back(diagnostics.describeElement((*list)[i], name + "[" + std::to_string(i) + "]"));
            perAttribute[name] = {
                {"kind", "[AXUIElement]"}, {"count", list->size()}, {"elements", std::move(described)}};
        } else if (auto* one = std::get_if<AXElement>(&value); one && *one) {
            json described = diagnostics.describeElement(*one, name);
            perAttribute[name] = systemWide ? described : json{{"kind", "AXUIElement"}, {"element", described}};
        } else {
            perAttribute[name] = detail::axValueText(value);
        }
    }
    return {{"attributeNames", *names}, {"perAttribute", std::move(perAttribute)}};
}

std::size_t attributeCount(const json& section) {
    auto it = section.find("attributeNames");
    return it != section.end() && it->is_array() ? it->size() : 0;
}

}  // namespace

// --- Insert menu probes --------------------------------------------------------------------------

json LogicDiagnostics::probeInsertBarMenu(const std::string& trackName, int slotIndex, bool useMouseClick,
                                          int yDelta) const {
    const auto app = detail::logicAppElement(logic_);
    if (!app) return {{"error", logic_messages::kLogicNotRunning}};
    auto prepared = prepare(logic_, trackName, slotIndex, true);
    if (auto* error = std::get_if<json>(&prepared)) return *error;
    const auto& p = std::get<Prepared>(prepared);

    const auto frame = LogicInspector::frameForElement(p.target);
    const Opening opened = openBar(logic_, p.target, frame, pacing::kBeforeMenuListing, useMouseClick, yDelta);
    if (opened.error) return *opened.error;
    platform::pause(pacing::kProbeMenuOpens);
    json result = {
        {"targetSlot", slotIndex}, {"clickMethod", opened.method}, {"targetBarFrame", truncatedFrame(frame)}};

    DumpList windowsList, items, nodes;
    const auto windows = app->elements(ax::kWindows).value_or(std::vector<AXElement>{});
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const AXElement& w = windows[i];
        windowsList.push_back({{"idx", i},
                               {"title", w.string(ax::kTitle).value_or("")},
                               {"role", w.string(ax::kRole).value_or("")},
                               {"subrole", w.string(ax::kSubrole).value_or("")},
                               {"children", w.elements(ax::kChildren).value_or(std::vector<AXElement>{}).size()}});
        collectMenuItemTitles(w, items, 0, search_depth::kInsertMenu);
    }
    if (auto focused = app->element(ax::kFocusedUIElement)) {
        result["focusedRole"] = focused->string(ax::kRole).value_or("");
        collectMenuItemTitles(*focused, items, 0, search_depth::kInsertMenu);
    }
    for (const auto& w : app->elements(ax::kWindows).value_or(std::vector<AXElement>{}))
        collectMenuNodes(w, nodes, 0, search_depth::kInsertMenu);
    closeMenu(logic_, pacing::kMenuCloses, pacing::kMenuCloses);

    result["windows"] = windowsList;
    result["menuItemCount"] = items.size();
    const auto preview = static_cast<std::ptrdiff_t>(std::min<std::size_t>(items.size(), 40));
    result["menuItemsPreview"] = DumpList(items.begin(), items.begin() + preview);
    result["menuNodeCount"] = nodes.size();
    result["menuNodes"] = nodes;

    const auto path = AppPaths::temporaryDirectory() / "insert-bar-menu-probe.json";
    const json file = {{"track", trackName}, {"snapshot", result}, {"allMenuItems", items}};
    // Best effort: the answer never depends on its file.
    writeProbeFile(path, file.dump(2, ' ', false, json::error_handler_t::replace));
    result["fullDumpFile"] = path.string();
    return result;
}

json LogicDiagnostics::testTypeToFilterInsertMenu(const std::string& trackName, int slotIndex,
                                                  const std::string& pluginName) const {
    std::vector<std::string> beforeSlots;
    auto prepared = prepare(logic_, trackName, slotIndex, false, &beforeSlots);
    if (auto* error = std::get_if<json>(&prepared)) return *error;
    const auto& p = std::get<Prepared>(prepared);

    openBar(logic_, p.target, LogicInspector::frameForElement(p.target), pacing::kBeforeProbeBarPress, false, 0);
    platform::pause(pacing::kTypeToFilterMenuOpens);
    const bool typed = logic_.typeStringIntoLogic(pluginName, pacing::kTypedCharacter).success;
    platform::pause(pacing::kTypedFilterSettles);
    logic_.pressKey(key_code::kReturn);
    platform::pause(pacing::kMenuChoiceTakesEffect);
    const auto afterSlots = detail::slotNames(logic_.findTrackPluginSlots(p.mainWindow));
    closeMenu(logic_, pacing::kMenuKeyRepeat, 0);

    const bool added = afterSlots.size() > beforeSlots.size();
    return {
        {"typed", typed},
        {"pluginName", pluginName},
        {"beforeSlots", beforeSlots},
        {"afterSlots", afterSlots},
        {"added", added},
        {"note", added ? "Plugin was added \u2014 type-to-filter works."
                       : "No new slot \u2014 either the menu doesn't support type-to-filter or the typed text didn't "
                         "match. Try plain text without format suffix."}};
}

json LogicDiagnostics::crawlEverythingAfterInsertBarClick(const std::string& trackName, int slotIndex) const {
    const auto app = detail::logicAppElement(logic_);
    if (!app) return {{"error", logic_messages::kLogicNotRunning}};
    auto prepared = prepare(logic_, trackName, slotIndex);
    if (auto* error = std::get_if<json>(&prepared)) return *error;
    const auto& p = std::get<Prepared>(prepared);

    openBar(logic_, p.target, LogicInspector::frameForElement(p.target), pacing::kBeforeProbeBarPress, false, 0);
    platform::pause(pacing::kCrawlMenuOpens);
    const json logicApp = attributeSection(logic_, *this, *app, false);
    const json systemWide = attributeSection(logic_, *this, platform::accessibility().systemWideElement(), true);
    json focused = json::object();
    std::size_t focusedElements = 0;
    if (auto element = app->element(ax::kFocusedUIElement)) {
        DumpList crawled;
        deepCrawlWithAttributes(*element, "focused", 0, search_depth::kFocusedCrawl, crawled);
        focusedElements = crawled.size();
        focused["elements"] = crawled;
    }
    DumpList owners, summary;
    for (const auto& running : platform::workspace().runningApplications()) {
        if (running.activationPolicy != platform::ActivationPolicy::regular || running.processIdentifier <= 0) continue;
        DumpList menus;
        findAllMenusIn(platform::accessibility().applicationElement(running.processIdentifier), 0,
                       search_depth::kMenuOwners, menus);
        if (menus.empty()) continue;
        const std::string name = running.localizedName.value_or("");
        summary.push_back({{"pid", running.processIdentifier}, {"name", name}, {"menus", menus.size()}});
        owners.push_back({{"pid", running.processIdentifier}, {"name", name}, {"menus", std::move(menus)}});
    }
    closeMenu(logic_, pacing::kMenuCloses, 0);

    const auto path = AppPaths::temporaryDirectory() / fmt::format("insert-bar-crawl-{}.json", epochSeconds());
    const json file = {{"track", trackName},       {"slotIndex", slotIndex}, {"logicApp", logicApp},
                       {"systemWide", systemWide}, {"focused", focused},     {"menuOwners", owners}};
    writeProbeFile(path, file.dump(2, ' ', false, json::error_handler_t::replace));
    return {{"dumpFile", path.string()},
            {"logicAppAttrs", attributeCount(logicApp)},
            {"systemWideAttrs", attributeCount(systemWide)},
            {"focusedElements", focusedElements},
            {"menuOwnersCount", owners.size()},
            {"menuOwnersSummary", summary}};
}

json LogicDiagnostics::clickInsertBarAndScreenshot(const std::string& trackName, int slotIndex,
                                                   bool useMouseClick) const {
    auto prepared = prepare(logic_, trackName, slotIndex);
    if (auto* error = std::get_if<json>(&prepared)) return *error;
    const auto& p = std::get<Prepared>(prepared);

    const auto frame = LogicInspector::frameForElement(p.target);
    const Opening opened = openBar(logic_, p.target, frame, pacing::kBeforeProbeBarPress, useMouseClick, 0);
    if (opened.error) return *opened.error;
    platform::pause(pacing::kScreenshotMenuOpens);
    const auto path = AppPaths::temporaryDirectory() / fmt::format("insert-bar-click-{}.png", epochSeconds());
    bool ok = false;
    if (auto display = platform::screenCapture().mainDisplay()) {
        auto image = platform::screenCapture().captureDisplay(display->displayID);
        if (image.ok())
            if (auto rgba = toRGBA(*image.value))
                if (auto png = encodePNG(*rgba)) ok = writeProbeFile(path, *png);
    }
    return {{"targetBarFrame", truncatedFrame(frame)},
            {"screenshot", path.string()},
            {"screenshotOK", ok},
            {"clickMethod", opened.method},
            {"note", "Menu (if any) left open \u2014 press Esc manually or call any other debug route."}};
}

// --- Control probes ------------------------------------------------------------------------------

json LogicDiagnostics::testSetSendKnobRaw(const std::string& trackName, const std::string& busLabel,
                                          std::int64_t raw) const {
    auto selected = logic_.selectTrack(trackName);
    if (!selected) return {{"error", logic_messages::kTrackNotFound}};
    auto strip = logic_.firstMixerStrip(selected->mainWindow);
    if (!strip) return {{"error", logic_messages::kMixerAreaNotFound}};
    std::optional<AXElement> group;
    logic_.findSendGroup(*strip, busLabel, group, 0, search_depth::kSendsAndAutomation);
    if (!group) return {{"error", "Send group not found"}};
    std::optional<AXElement> knob;
    logic_.findSendKnobAtY(*strip, topOf(*group), knob, 0, search_depth::kSendsAndAutomation);
    if (!knob) return {{"error", logic_messages::kKnobNotFound}};

    const std::string beforeDesc = textOf(*knob, ax::kValueDescription);
    const std::int64_t beforeRaw = detail::rawKnobValue(*knob).value_or(0);
    const auto code = knob->setAttributeValue(ax::kValue, raw);
    platform::pause(pacing::kKnobWriteSettles);
    const std::string afterDesc = textOf(*knob, ax::kValueDescription);
    const std::int64_t afterRaw = detail::rawKnobValue(*knob).value_or(0);
    return {{"setResult", std::to_string(platform::code(code))},
            {"beforeRaw", beforeRaw},
            {"beforeDesc", beforeDesc},
            {"requestedRaw", raw},
            {"afterRaw", afterRaw},
            {"afterDesc", afterDesc},
            {"stuck", afterRaw == raw}};
}

json LogicDiagnostics::clickButtonInOpenPlugin(const std::string& labelContains) const {
    auto found = detail::findOpenPlugin(logic_, logic_messages::kNoPluginWindowOpen);
    if (auto* error = std::get_if<json>(&found)) return *error;
    const auto& window = std::get<detail::OpenPlugin>(found).window;
    auto button =
        logic_.findButtonByLabelContains(window, text::lowercased(labelContains), 0, search_depth::kPluginWindow);
    if (!button) return {{"error", "No button found containing '" + labelContains + "'"}};
    std::string label = textOf(*button, ax::kDescription);
    if (label.empty()) label = textOf(*button, ax::kTitle);
    const auto code = button->performAction(ax::kPress);
    platform::pause(pacing::kPluginButtonTakesEffect);
    return {{"ok", code == platform::AXError::success},
            {"matchedLabel", ax_read::blanksForLineSeparators(label)},
            {"axResult", static_cast<std::int32_t>(platform::code(code))}};
}

}  // namespace corvane
