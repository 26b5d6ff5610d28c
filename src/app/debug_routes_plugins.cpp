// Diagnostic routes on plug-ins: chain edits (add, remove, reorder), parameter reads and
// writes, side-chain sources, and the open plug-in window (opening it, switching its view,
// pressing and dumping its controls). Windows they open stay open.

#include "app/companion_controller.h"
#include "app/debug_routes_common.h"
#include "app/route_answers.h"
#include "logic/logic_diagnostics.h"
#include "logic/logic_messages.h"
#include "platform/accessibility.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "plugins/controls_view_fallback.h"
#include "support/unicode.h"

namespace corvane::app::debug {
namespace {

using Json = nlohmann::json;
using SelectedTrack = LogicInspector::SelectedTrack;
using InsertSlot = LogicInspector::InsertSlot;

constexpr double kAfterSelection = 0.3;
constexpr double kAfterAddSelection = 0.5;
constexpr double kAppendPause = 0.4;
constexpr double kAfterOpenPress = 0.6;

// The selected track and its chosen slot, or the answer that ended the search.
struct TrackSlot {
    SelectedTrack selected;
    InsertSlot slot;
};
std::variant<TrackSlot, HTTPResponse> selectTrackAndSlot(const DebugRequest& request, const std::string& track,
                                                         double pauseAfterSelection) {
    auto selection = selectTrack(request, track);
    if (auto* failed = std::get_if<HTTPResponse>(&selection)) return std::move(*failed);
    auto selected = std::get<SelectedTrack>(std::move(selection));
    if (pauseAfterSelection > 0) platform::pause(pauseAfterSelection);
    auto choice = chooseSlot(request, selected.mainWindow);
    if (auto* failed = std::get_if<HTTPResponse>(&choice)) return std::move(*failed);
    return TrackSlot{std::move(selected), std::get<InsertSlot>(std::move(choice))};
}

HTTPResponse removePlugin(const DebugRequest& request) {
    const auto track = request.param("track");
    if (!track) return errorAnswer("Pass ?track=Drums&plugin=Melodyne (or &index=4)");
    auto found = selectTrackAndSlot(request, *track, kAfterSelection);
    if (auto* failed = std::get_if<HTTPResponse>(&found)) return std::move(*failed);
    const auto& [selected, slot] = std::get<TrackSlot>(found);
    const auto outcome = request.logic().removePlugin(selected.mainWindow, slot);
    return jsonDictAnswer({{"track", selected.header.name},
                           {"plugin", slot.name},
                           {"success", outcome.success},
                           {"message", outcome.message}});
}

HTTPResponse addPlugin(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto plugin = request.param("plugin");
    if (!track || !plugin) return errorAnswer("Pass ?track=Drums&plugin=Compressor (add &slot=-1 for end of chain)");
    const auto slotIndex = request.smallInteger("slot");
    auto selection = selectTrack(request, *track);
    if (auto* failed = std::get_if<HTTPResponse>(&selection)) return std::move(*failed);
    const auto& selected = std::get<SelectedTrack>(selection);
    platform::pause(kAfterAddSelection);
    const Json strip = request.logic().readChannelStrip(selected.mainWindow);
    const auto shownName = strip.is_object() ? strip.find("name") : strip.end();
    const Json stripShowing = shownName != strip.end() && shownName->is_string() ? *shownName : Json("?");
    const auto outcome = request.logic().addPlugin(selected.mainWindow, *plugin, slotIndex);
    return jsonDictAnswer({{"track", selected.header.name},
                           {"stripShowing", stripShowing},
                           {"plugin", *plugin},
                           {"slot", slotIndex ? Json(*slotIndex) : Json(nullptr)},
                           {"success", outcome.success},
                           {"message", outcome.message}});
}

HTTPResponse reorderPlugin(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto from = request.smallInteger("from");
    const auto to = request.smallInteger("to");
    if (!track || !from || !to) return errorAnswer("Pass ?track=Test%20Audio&from=N&to=M");
    auto selection = selectTrack(request, *track);
    if (auto* failed = std::get_if<HTTPResponse>(&selection)) return std::move(*failed);
    platform::pause(kAfterSelection);
    const auto outcome = request.logic().reorderPlugin(std::get<SelectedTrack>(selection).mainWindow, *from, *to);
    return jsonDictAnswer({{"success", outcome.success}, {"message", outcome.message}});
}

// Takes the last slot after the append to be the plug-in just added.
HTTPResponse appendAndReorder(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto plugin = request.param("plugin");
    const auto to = request.smallInteger("to");
    if (!track || !plugin || !to) return errorAnswer("Pass ?track=Test%20Audio&plugin=Channel%20EQ&to=1");
    auto selection = selectTrack(request, *track);
    if (auto* failed = std::get_if<HTTPResponse>(&selection)) return std::move(*failed);
    const auto& window = std::get<SelectedTrack>(selection).mainWindow;
    platform::pause(kAppendPause);
    const auto appended = request.logic().addPlugin(window, *plugin, -1);
    if (!appended.success)
        return jsonDictAnswer({{"step", "append"}, {"success", false}, {"message", appended.message}});
    platform::pause(kAppendPause);
    const Json afterAppend = slotNameList(request.logic().findTrackPluginSlots(window));
    const int appendedIndex = static_cast<int>(afterAppend.size()) - 1;
    const auto outcome = request.logic().reorderPlugin(window, appendedIndex, *to);
    return jsonDictAnswer({{"step", "reorder"},
                           {"success", outcome.success},
                           {"message", outcome.message},
                           {"afterAppend", afterAppend},
                           {"appendedIndex", appendedIndex},
                           {"finalSlots", slotNameList(request.logic().findTrackPluginSlots(window))}});
}

HTTPResponse getPluginParams(const DebugRequest& request) {
    const auto track = request.param("track");
    if (!track || (!request.param("plugin") && !request.param("index")))
        return errorAnswer("Pass ?track=X&plugin=Y (or &index=N)");
    auto found = selectTrackAndSlot(request, *track, kAfterSelection);
    if (auto* failed = std::get_if<HTTPResponse>(&found)) return std::move(*failed);
    const auto& [selected, slot] = std::get<TrackSlot>(found);
    const auto read =
        request.controller().pluginInspector().readPlugin(slot, selected.mainWindow, selected.header.name);
    if (!read) return errorAnswer("Failed to read plugin");
    return jsonAnswer(*read);
}

HTTPResponse setParam(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto param = request.param("param");
    const auto value = request.param("value");
    if (!track || !param || !value)
        return errorAnswer("Pass ?track=Name&plugin=Name&param=Threshold&value=95 (or &index=5 instead of &plugin)");
    auto found = selectTrackAndSlot(request, *track, 0);
    if (auto* failed = std::get_if<HTTPResponse>(&found)) return std::move(*failed);
    const auto& [selected, slot] = std::get<TrackSlot>(found);
    const auto result =
        request.controller().pluginInspector().writeParameter(slot, selected.mainWindow, *param, *value);
    Json answer{{"success", result.success}, {"message", result.message}};
    if (result.beforeDisplay) answer["beforeDisplay"] = *result.beforeDisplay;
    return jsonDictAnswer(answer);
}

HTTPResponse dumpSidechainMenu(const DebugRequest& request) {
    return jsonDictAnswer(request.diagnostics().dumpSidechainMenuItems());
}

HTTPResponse setSidechain(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto source = request.param("source");
    if (!track || !source)
        return errorAnswer("Pass ?track=Drums&plugin=Compressor&source=Bus%2014 (or &index=0 instead of &plugin)");
    auto found = selectTrackAndSlot(request, *track, 0);
    if (auto* failed = std::get_if<HTTPResponse>(&found)) return std::move(*failed);
    const auto& [selected, slot] = std::get<TrackSlot>(found);
    const auto result = request.logic().setPluginSidechain(selected.mainWindow, slot, *source);
    Json answer{{"success", result.success}, {"message", result.message}};
    if (result.beforeValue) answer["beforeValue"] = *result.beforeValue;
    return jsonDictAnswer(answer);
}

HTTPResponse clickButton(const DebugRequest& request) {
    const auto contains = request.param("contains");
    if (!contains) return errorAnswer("Pass ?contains=Platinum");
    return jsonDictAnswer(request.diagnostics().clickButtonInOpenPlugin(*contains));
}

HTTPResponse openPlugin(const DebugRequest& request) {
    const auto track = request.param("track");
    if (!track) return errorAnswer("Pass ?track=X&plugin=Y (or &index=N)");
    auto found = selectTrackAndSlot(request, *track, kAfterSelection);
    if (auto* failed = std::get_if<HTTPResponse>(&found)) return std::move(*failed);
    const auto& slot = std::get<TrackSlot>(found).slot;
    const auto open = request.logic().findChildButton(slot.element, "open");
    if (!open) return errorAnswer(logic_messages::noOpenButtonFor(slot.name));
    open->performAction(platform::ax::kPress);
    platform::pause(kAfterOpenPress);
    return jsonDictAnswer(
        {{"ok", true},
         {"plugin", slot.name},
         {"track", *track},
         {"note", "Plugin window left open. Use /debug/dump-open-plugin or /debug/ax-attrs to inspect."}});
}

HTTPResponse switchPluginView(const DebugRequest& request) {
    const std::string target = text::lowercased(request.text("to"));
    const auto view = pluginViewPreferenceFromString(target);
    if (!view) return errorAnswer("Pass ?to=editor or ?to=controls");
    const auto outcome = request.logic().switchCurrentlyOpenPluginView(*view);
    return jsonDictAnswer({{"ok", outcome.success}, {"target", target}});
}

HTTPResponse axAttrs(const DebugRequest& request) {
    const auto prefix = request.param("prefix");
    if (!prefix)
        return errorAnswer("Pass ?prefix=Platinum (matches any control whose AX description/title starts with this)");
    return jsonDictAnswer(request.diagnostics().dumpFullAttributesInOpenPlugin(*prefix));
}

HTTPResponse controlsRead(const DebugRequest& request) {
    const auto& logic = request.logic();
    const auto app = logic.logicApplication();
    if (!app) return errorAnswer(logic_messages::kLogicNotRunning);
    const auto axApp = platform::accessibility().applicationElement(app->processIdentifier);
    const auto mainWindow = logic.findMainWindow();
    const auto window = mainWindow ? logic.findPluginWindow(axApp, *mainWindow) : std::nullopt;
    if (!window) return errorAnswer("No plugin window open");
    Json entries = Json::array();
    for (const auto& entry : ControlsViewFallback::read(*window)) entries.push_back(parameterRow(entry));
    const auto count = entries.size();
    return jsonDictAnswer({{"count", count}, {"entries", std::move(entries)}});
}

HTTPResponse dumpOpenPlugin(const DebugRequest& request) {
    return jsonDictAnswer(request.diagnostics().dumpOpenPluginWindow());
}

HTTPResponse dumpPluginParams(const DebugRequest& request) {
    const auto track = request.param("track");
    if (!track || (!request.param("plugin") && !request.param("index")))
        return errorAnswer("Pass ?track=Guitar&plugin=Channel%20EQ (or &index=0)");
    auto found = selectTrackAndSlot(request, *track, kAfterSelection);
    if (auto* failed = std::get_if<HTTPResponse>(&found)) return std::move(*failed);
    const auto& [selected, slot] = std::get<TrackSlot>(found);
    return jsonDictAnswer(request.diagnostics().dumpPluginParametersForAuthoring(slot, selected.mainWindow));
}

}  // namespace

const std::vector<Route>& pluginRoutes() {
    static const std::vector<Route> routes{
        {"/debug/remove-plugin", removePlugin},
        {"/debug/add-plugin", addPlugin},
        {"/debug/reorder-plugin", reorderPlugin},
        {"/debug/append-and-reorder", appendAndReorder},
        {"/debug/get-plugin-params", getPluginParams},
        {"/debug/set-param", setParam},
        {"/debug/dump-sidechain-menu", dumpSidechainMenu},
        {"/debug/set-sidechain", setSidechain},
        {"/debug/click-button", clickButton},
        {"/debug/open-plugin", openPlugin},
        {"/debug/switch-plugin-view", switchPluginView},
        {"/debug/ax-attrs", axAttrs},
        {"/debug/controls-read", controlsRead},
        {"/debug/dump-open-plugin", dumpOpenPlugin},
        {"/debug/dump-plugin-params", dumpPluginParams},
    };
    return routes;
}

}  // namespace corvane::app::debug
