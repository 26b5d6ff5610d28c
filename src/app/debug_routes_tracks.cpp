// Diagnostic routes on tracks: the track list and one track's strip, renaming, folders,
// header toggles, the fader, output routing, sends and bus tracks.

#include "app/debug_routes_common.h"
#include "app/route_answers.h"
#include "logic/logic_diagnostics.h"
#include "logic/logic_messages.h"
#include "support/unicode.h"

namespace corvane::app::debug {
namespace {

using Json = nlohmann::json;

HTTPResponse listTracks(const DebugRequest& request) {
    const auto window = request.logic().findMainWindow();
    if (!window) return errorAnswer(logic_messages::kLogicNotRunning);
    Json rows = Json::array();
    for (const auto& header : request.logic().findTrackHeaders(*window)) rows.push_back(trackRow(header));
    return jsonArrayAnswer(rows);
}

HTTPResponse trackDetails(const DebugRequest& request) {
    const auto name = request.param("name");
    if (!name) return errorAnswer("Pass ?name=TrackName");
    auto selection = selectTrack(request, *name);
    if (auto* failed = std::get_if<HTTPResponse>(&selection)) return std::move(*failed);
    const auto& selected = std::get<LogicInspector::SelectedTrack>(selection);
    Json plugins = Json::array();
    for (const auto& slot : request.logic().findTrackPluginSlots(selected.mainWindow)) plugins.push_back(slotRow(slot));
    return jsonDictAnswer({{"track", selected.header.name},
                           {"channelStrip", request.logic().readChannelStrip(selected.mainWindow)},
                           {"plugins", std::move(plugins)}});
}

HTTPResponse renameTrack(const DebugRequest& request) {
    const auto current = request.param("current");
    const auto newName = request.param("new");
    if (!current || !newName) return errorAnswer("Pass ?current=OldName&new=NewName");
    const auto result = request.logic().renameTrack(*current, *newName);
    Json answer{{"success", result.success}, {"message", result.message}};
    if (result.actualName) answer["actualName"] = *result.actualName;
    return jsonDictAnswer(answer);
}

// Collapsing needs an explicit "0" or "false": any other text, a typo included, expands.
HTTPResponse setFolderExpanded(const DebugRequest& request) {
    const auto name = request.param("name");
    if (!name) return errorAnswer("Pass ?name=Keys&expanded=1 (or &expanded=0 to collapse)");
    const std::string expandedText = request.param("expanded").value_or("1");
    const bool expanded = !(expandedText == "0" || text::lowercased(expandedText) == "false");
    if (!request.logic().findMainWindow()) return errorAnswer(logic_messages::kLogicNotRunning);
    const auto resolved = request.logic().resolveTrack(*name);
    if (!resolved.header)
        return jsonDictAnswer({{"error", logic_messages::trackNotFound(*name)}, {"available", resolved.availableNames}});
    if (!resolved.header->isFolder) return errorAnswer("'" + resolved.header->name + "' is not a folder track");
    const auto outcome = request.logic().setFolderExpanded(*resolved.header, expanded);
    return jsonDictAnswer({{"track", resolved.header->name},
                           {"expanded", expanded},
                           {"success", outcome.success},
                           {"message", outcome.message}});
}

HTTPResponse setHeaderToggle(const DebugRequest& request, const std::string& hint) {
    const auto track = request.param("track");
    const std::string state = text::lowercased(request.text("state"));
    if (!track || (state != "on" && state != "off")) return errorAnswer("Pass ?track=Name&state=on|off");
    auto selection = selectTrack(request, *track);
    if (auto* failed = std::get_if<HTTPResponse>(&selection)) return std::move(*failed);
    const auto& selected = std::get<LogicInspector::SelectedTrack>(selection);
    const auto result =
        request.logic().clickTrackHeaderButton(selected.header, hint, state == "on", selected.mainWindow);
    return jsonDictAnswer({{"track", selected.header.name}, {hint, state}, {"success", result.success}});
}

HTTPResponse setSolo(const DebugRequest& request) { return setHeaderToggle(request, "solo"); }
HTTPResponse setMute(const DebugRequest& request) { return setHeaderToggle(request, "mute"); }

HTTPResponse setVolume(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto value = request.real("value");
    if (!track || !value) return errorAnswer("Pass ?track=Name&value=150");
    auto selection = selectTrack(request, *track);
    if (auto* failed = std::get_if<HTTPResponse>(&selection)) return std::move(*failed);
    const auto& selected = std::get<LogicInspector::SelectedTrack>(selection);
    const auto outcome = request.logic().setTrackVolume(selected.mainWindow, *value);
    return jsonDictAnswer({{"track", selected.header.name}, {"value", *value}, {"success", outcome.success}});
}

HTTPResponse trackOutput(const DebugRequest& request) {
    const auto track = request.param("track");
    if (!track) return errorAnswer("Pass ?track=Vocals");
    const auto output = request.logic().readTrackOutputForName(*track);
    if (!output)
        return errorAnswer("Could not read output routing for '" + *track +
                           "' — selection didn't surface the strip (track may be scrolled off, inside a collapsed "
                           "folder, or not clickable).");
    return jsonDictAnswer({{"track", *track}, {"output", *output}});
}

HTTPResponse clickSend(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto bus = request.param("bus");
    if (!track || !bus) return errorAnswer("Pass ?track=Name&bus=B%2023");
    const auto clicked = request.logic().clickSendByBusLabel(*track, *bus);
    if (!clicked.success) return jsonDictAnswer({{"error", clicked.message}});
    return jsonDictAnswer({{"ok", true}, {"bus", *bus}, {"track", *track}});
}

HTTPResponse ensureBusTrack(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto bus = request.param("bus");
    if (!track || !bus) return errorAnswer("Pass ?track=<source_track>&bus=<bus_label>");
    const auto made = request.logic().ensureBusArrangeTrack(*track, *bus);
    if (made.success) return jsonDictAnswer({{"ok", true}, {"bus", *bus}, {"source_track", *track}});
    Json answer{{"error", made.message}};
    if (made.partial) answer["partial"] = *made.partial;
    return jsonDictAnswer(answer);
}

HTTPResponse sendKnobSetRaw(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto bus = request.param("bus");
    const auto raw = request.integer("raw");
    if (!track || !bus || !raw) return errorAnswer("Pass ?track=N&bus=B%2023&raw=123456");
    return jsonDictAnswer(request.diagnostics().testSetSendKnobRaw(*track, *bus, *raw));
}

HTTPResponse sendKnobValue(const DebugRequest& request) {
    const auto track = request.param("track");
    const auto bus = request.param("bus");
    if (!track || !bus) return errorAnswer("Pass ?track=Name&bus=B%2023");
    const auto knob = request.logic().readSendKnobValue(*track, *bus);
    if (!knob.success) return jsonDictAnswer({{"error", knob.message}});
    Json answer = knob;
    answer["bus"] = *bus;
    return jsonDictAnswer(answer);
}

}  // namespace

const std::vector<Route>& trackRoutes() {
    static const std::vector<Route> routes{
        {"/debug/list-tracks", listTracks},
        {"/debug/track-details", trackDetails},
        {"/debug/rename-track", renameTrack},
        {"/debug/set-folder-expanded", setFolderExpanded},
        {"/debug/set-solo", setSolo},
        {"/debug/set-mute", setMute},
        {"/debug/set-volume", setVolume},
        {"/debug/track-output", trackOutput},
        {"/debug/click-send", clickSend},
        {"/debug/ensure-bus-track", ensureBusTrack},
        {"/debug/send-knob-set-raw", sendKnobSetRaw},
        {"/debug/send-knob-value", sendKnobValue},
    };
    return routes;
}

}  // namespace corvane::app::debug
