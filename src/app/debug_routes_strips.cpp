// Diagnostic routes that dump Logic Pro's Accessibility tree: the whole application, the
// Inspector's channel strips, one track's strip with its actions, and the automation menu.

#include "app/debug_routes_common.h"
#include "app/route_answers.h"
#include "logic/logic_diagnostics.h"
#include "logic/logic_messages.h"
#include "platform/clock.h"

namespace corvane::app::debug {
namespace {

using Json = nlohmann::json;

constexpr int kAXDumpDepth = 6;
constexpr int kFullCrawlDepth = 15;
constexpr int kFullCrawlElements = 10000;
constexpr int kStripDumpDepth = 15;
constexpr int kStripActionsDepth = 12;
constexpr double kAfterStripSelection = 0.4;
constexpr double kAfterSelection = 0.3;

HTTPResponse logicAX(const DebugRequest& request) {
    return jsonDictAnswer(request.diagnostics().debugAXDump(kAXDumpDepth));
}

HTTPResponse logicAXFull(const DebugRequest& request) {
    return jsonArrayAnswer(Json(request.diagnostics().fullAXCrawl(kFullCrawlDepth, kFullCrawlElements)));
}

HTTPResponse dumpInspector(const DebugRequest& request) {
    const auto window = request.logic().findMainWindow();
    if (!window) return errorAnswer(logic_messages::kLogicNotRunning);
    LogicDiagnostics::DumpList rows;
    request.diagnostics().dumpInspectorMixerStrips(*window, rows);
    const auto count = rows.size();
    return jsonDictAnswer({{"count", count}, {"elements", Json(std::move(rows))}});
}

using SubtreeDump = void (LogicDiagnostics::*)(const platform::AXElement&, LogicDiagnostics::DumpList&, int, int) const;

// Selects the track and dumps its Inspector strip with `dump`, under the given keys.
HTTPResponse dumpStrip(const DebugRequest& request, SubtreeDump dump, const char* countKey, const char* rowsKey) {
    const auto track = request.param("track");
    if (!track) return errorAnswer("Pass ?track=Name");
    auto selection = selectTrack(request, *track);
    if (auto* failed = std::get_if<HTTPResponse>(&selection)) return std::move(*failed);
    platform::pause(kAfterStripSelection);
    const auto strip = request.logic().firstMixerStrip(std::get<LogicInspector::SelectedTrack>(selection).mainWindow);
    if (!strip) return errorAnswer(logic_messages::kMixerAreaNotFound);
    LogicDiagnostics::DumpList rows;
    (request.diagnostics().*dump)(*strip, rows, 0, kStripDumpDepth);
    const auto count = rows.size();
    return jsonDictAnswer({{"track", *track}, {countKey, count}, {rowsKey, Json(std::move(rows))}});
}

HTTPResponse dumpStripAll(const DebugRequest& request) {
    return dumpStrip(request, &LogicDiagnostics::dumpAllElementsInSubtree, "elementCount", "elements");
}

HTTPResponse dumpStripButtons(const DebugRequest& request) {
    return dumpStrip(request, &LogicDiagnostics::dumpAllAXButtonsInSubtree, "buttonCount", "buttons");
}

HTTPResponse channelStripActions(const DebugRequest& request) {
    const auto track = request.param("track");
    if (!track) return errorAnswer("Pass ?track=TrackName");
    auto selection = selectTrack(request, *track);
    if (auto* failed = std::get_if<HTTPResponse>(&selection)) return std::move(*failed);
    platform::pause(kAfterSelection);
    return jsonDictAnswer(request.diagnostics().dumpChannelStripWithActions(kStripActionsDepth));
}

HTTPResponse dumpAutomationMenu(const DebugRequest& request) {
    return jsonDictAnswer(request.diagnostics().dumpAutomationMenu(1));
}

}  // namespace

const std::vector<Route>& stripRoutes() {
    static const std::vector<Route> routes{
        {"/debug/logic-ax", logicAX},
        {"/debug/logic-ax-full", logicAXFull},
        {"/debug/dump-inspector", dumpInspector},
        {"/debug/dump-strip-all", dumpStripAll},
        {"/debug/dump-strip-buttons", dumpStripButtons},
        {"/debug/channel-strip-actions", channelStripActions},
        {"/debug/dump-automation-menu", dumpAutomationMenu},
    };
    return routes;
}

}  // namespace corvane::app::debug
