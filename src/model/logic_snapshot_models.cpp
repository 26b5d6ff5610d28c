#include "model/logic_snapshot_models.h"

#include "support/json_fields.h"

namespace corvane {

using namespace json_fields;

void to_json(nlohmann::json& j, const RectDTO& v) {
    j = {{"x", jsonNumber(v.x)},
         {"y", jsonNumber(v.y)},
         {"width", jsonNumber(v.width)},
         {"height", jsonNumber(v.height)}};
}

void from_json(const nlohmann::json& j, RectDTO& v) {
    v.x = number(j, "x");
    v.y = number(j, "y");
    v.width = number(j, "width");
    v.height = number(j, "height");
}

void to_json(nlohmann::json& j, const WindowSummary& v) {
    j = {{"title", v.title}, {"frame", v.frame}, {"isFocused", v.isFocused}};
}

void from_json(const nlohmann::json& j, WindowSummary& v) {
    v.title = text(j, "title");
    v.frame = value<RectDTO>(j, "frame");
    v.isFocused = boolean(j, "isFocused");
}

void to_json(nlohmann::json& j, const LogicContextSnapshot& v) {
    j = {{"logicIsRunning", v.logicIsRunning}, {"logicIsFrontmost", v.logicIsFrontmost}, {"windows", v.windows}};
    put(j, "bundleIdentifier", v.bundleIdentifier);
    put(j, "processIdentifier", v.processIdentifier);
    put(j, "appName", v.appName);
    put(j, "focusedWindowTitle", v.focusedWindowTitle);
}

void from_json(const nlohmann::json& j, LogicContextSnapshot& v) {
    v.logicIsRunning = boolean(j, "logicIsRunning");
    v.logicIsFrontmost = boolean(j, "logicIsFrontmost");
    v.bundleIdentifier = optionalText(j, "bundleIdentifier");
    v.processIdentifier = optionalIntegerOf<std::int32_t>(j, "processIdentifier");
    v.appName = optionalText(j, "appName");
    v.focusedWindowTitle = optionalText(j, "focusedWindowTitle");
    v.windows = value<std::vector<WindowSummary>>(j, "windows");
}

void to_json(nlohmann::json& j, const TrackSummary& v) {
    j = {{"name", v.name},
         {"index", v.index},
         {"isSoloed", v.isSoloed},
         {"isMuted", v.isMuted},
         {"isSelected", v.isSelected}};
}

void from_json(const nlohmann::json& j, TrackSummary& v) {
    v.name = text(j, "name");
    v.index = integer(j, "index");
    v.isSoloed = boolean(j, "isSoloed");
    v.isMuted = boolean(j, "isMuted");
    v.isSelected = boolean(j, "isSelected");
}

void to_json(nlohmann::json& j, const TrackContextSnapshot& v) {
    j = {{"tracks", v.tracks},
         {"soloedTrackNames", v.soloedTrackNames},
         {"selectedTrackNames", v.selectedTrackNames},
         {"hasSoloedTracks", v.hasSoloedTracks}};
}

void from_json(const nlohmann::json& j, TrackContextSnapshot& v) {
    v.tracks = value<std::vector<TrackSummary>>(j, "tracks");
    v.soloedTrackNames = value<std::vector<std::string>>(j, "soloedTrackNames");
    v.selectedTrackNames = value<std::vector<std::string>>(j, "selectedTrackNames");
    v.hasSoloedTracks = boolean(j, "hasSoloedTracks");
}

void to_json(nlohmann::json& j, const PermissionSnapshot& v) {
    j = {{"accessibilityTrusted", v.accessibilityTrusted}, {"screenRecordingGranted", v.screenRecordingGranted}};
}

void from_json(const nlohmann::json& j, PermissionSnapshot& v) {
    v.accessibilityTrusted = boolean(j, "accessibilityTrusted");
    v.screenRecordingGranted = boolean(j, "screenRecordingGranted");
}

}  // namespace corvane
