// Diagnostic routes that probe Logic Pro's insert slots: what opens when an empty slot is
// clicked (menus, type-to-filter, screenshots, click offsets) and the insert menu itself.
// Menus they open are left open.

#include <array>

#include "app/debug_routes_common.h"
#include "app/route_answers.h"
#include "logic/logic_diagnostics.h"
#include "logic/logic_messages.h"
#include "platform/accessibility.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "support/unicode.h"

namespace corvane::app::debug {
namespace {

using Json = nlohmann::json;

constexpr const char* kSlotUsage = "Pass ?track=Test%20Audio&slot=1";
constexpr double kAfterSweepProbe = 0.6;
constexpr double kAfterInsertPress = 0.5;
constexpr int kMixerSearchDepth = 10;
constexpr int kMenuDumpDepth = 4;

bool clicksWithMouse(const DebugRequest& request, const std::string& fallback) {
    return request.param("click").value_or(fallback) == "mouse";
}

HTTPResponse probeInsertBar(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto slot = request.smallInteger("slot");
    if (!track || !slot) return errorAnswer(kSlotUsage);
    const int yDelta = request.smallInteger("ydelta").value_or(0);
    return jsonDictAnswer(
        request.diagnostics().probeInsertBarMenu(*track, *slot, clicksWithMouse(request, "ax"), yDelta));
}

HTTPResponse testTypeToFilter(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto slot = request.smallInteger("slot");
    const auto plugin = request.param("plugin");
    if (!track || !slot || !plugin) return errorAnswer("Pass ?track=Test%20Audio&slot=1&plugin=Channel%20EQ");
    return jsonDictAnswer(request.diagnostics().testTypeToFilterInsertMenu(*track, *slot, *plugin));
}

HTTPResponse crawlAfterInsertClick(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto slot = request.smallInteger("slot");
    if (!track || !slot) return errorAnswer(kSlotUsage);
    return jsonDictAnswer(request.diagnostics().crawlEverythingAfterInsertBarClick(*track, *slot));
}

HTTPResponse clickInsertBarAndScreenshot(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto slot = request.smallInteger("slot");
    if (!track || !slot) return errorAnswer(kSlotUsage);
    return jsonDictAnswer(
        request.diagnostics().clickInsertBarAndScreenshot(*track, *slot, clicksWithMouse(request, "mouse")));
}

// A count the probe did not report (a failed probe answers only "error") counts as 0.
Json countOrZero(const Json& probe, const char* key) {
    if (probe.is_object()) {
        if (const auto found = probe.find(key); found != probe.end()) return *found;
    }
    return 0;
}

HTTPResponse sweepInsertBar(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto slot = request.smallInteger("slot");
    if (!track || !slot) return errorAnswer(kSlotUsage);
    Json results = Json::array();
    for (int yDelta = -4; yDelta <= 4; ++yDelta) {
        const Json probe = request.diagnostics().probeInsertBarMenu(*track, *slot, true, yDelta);
        results.push_back({{"yDelta", yDelta},
                           {"menuItems", countOrZero(probe, "menuItemCount")},
                           {"menuNodes", countOrZero(probe, "menuNodeCount")}});
        platform::pause(kAfterSweepProbe);
    }
    return jsonDictAnswer({{"track", *track}, {"slot", *slot}, {"results", std::move(results)}});
}

// Presses the first empty insert slot of the track's Inspector strip and lists the menu it opens.
HTTPResponse clickInsert(const DebugRequest& request) {
    const auto& logic = request.logic();
    const auto selected = logic.selectTrack(request.param("track").value_or("Drums"));
    if (!selected) return errorAnswer(logic_messages::kTrackNotFound);
    const auto mixer =
        logic.findDescendant(selected->mainWindow, "Mixer", std::string("AXLayoutArea"), kMixerSearchDepth, 0);
    const auto strips = mixer ? mixer->elements(platform::ax::kChildren) : std::nullopt;
    if (!strips || strips->empty()) return errorAnswer("Mixer not found");
    std::vector<LogicInspector::InsertBar> bars;
    logic.findInsertBars(strips->front(), bars, 0, kMixerSearchDepth);
    if (bars.empty()) return errorAnswer("No empty insert slots found");
    bars.front().element.performAction(platform::ax::kPress);
    platform::pause(kAfterInsertPress);
    const auto app = logic.logicApplication();
    if (!app) return errorAnswer(logic_messages::kLogicNotRunning);
    LogicDiagnostics::DumpList items;
    request.diagnostics().dumpMenuItems(platform::accessibility().applicationElement(app->processIdentifier), items,
                                        kMenuDumpDepth);
    return jsonArrayAnswer(Json(items));
}

HTTPResponse dumpPluginInsertMenu(const DebugRequest& request) {
    const auto track = request.param("track");
    if (!track) return errorAnswer("Pass ?track=Name (pick a track with at least one free plugin slot)");
    return jsonDictAnswer(request.diagnostics().dumpPluginInsertMenu(*track));
}

}  // namespace

const std::vector<Route>& probeRoutes() {
    static const std::vector<Route> routes{
        {"/debug/probe-insert-bar", probeInsertBar},
        {"/debug/test-type-to-filter-insert", testTypeToFilter},
        {"/debug/crawl-everything-after-insert-click", crawlAfterInsertClick},
        {"/debug/click-insert-bar-and-screenshot", clickInsertBarAndScreenshot},
        {"/debug/sweep-insert-bar", sweepInsertBar},
        {"/debug/click-insert", clickInsert},
        {"/debug/dump-plugin-insert-menu", dumpPluginInsertMenu},
    };
    return routes;
}

}  // namespace corvane::app::debug
