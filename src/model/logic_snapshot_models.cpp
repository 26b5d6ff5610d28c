#include "model/logic_snapshot_models.h"

#include <cmath>

#include "support/json_fields.h"
#include "support/json_writer.h"
#include "support/unicode.h"

namespace corvane {

using namespace json_fields;

std::optional<std::string> projectNameFromWindowTitle(const std::string& title) {
    const auto separator = title.rfind(" - ");
    if (separator == std::string::npos) return std::nullopt;
    std::string name = title.substr(0, separator);
    static const std::string kSuffix = ".logicx";
    for (auto at = name.find(kSuffix); at != std::string::npos; at = name.find(kSuffix, at))
        name.erase(at, kSuffix.size());
    name = text::trimmingWhitespaceAndNewlines(name);
    if (name.empty() || name == "Logic Pro") return std::nullopt;
    return name;
}

std::optional<std::string> openProjectName(const LogicContextSnapshot& snapshot) {
    if (!snapshot.logicIsRunning || !snapshot.focusedWindowTitle) return std::nullopt;
    return projectNameFromWindowTitle(*snapshot.focusedWindowTitle);
}

namespace {
// JSON has no NaN or infinity: a frame number that is neither is written as 0 (as the
// diagnostics write frames), and the null that earlier versions wrote reads as 0.
double finiteOrZero(double value) { return std::isfinite(value) ? value : 0; }

double frameNumber(const nlohmann::json& j, const char* key) {
    const nlohmann::json& found = required(j, key);
    return found.is_null() ? 0 : asNumber(found, key);
}
}  // namespace

void to_json(nlohmann::json& j, const RectDTO& v) {
    j = {{"x", finiteOrZero(v.x)},
         {"y", finiteOrZero(v.y)},
         {"width", finiteOrZero(v.width)},
         {"height", finiteOrZero(v.height)}};
}

void from_json(const nlohmann::json& j, RectDTO& v) {
    v.x = frameNumber(j, "x");
    v.y = frameNumber(j, "y");
    v.width = frameNumber(j, "width");
    v.height = frameNumber(j, "height");
}

void to_json(nlohmann::json& j, const WindowSummary& v) {
    j = {{"title", v.title}, {"frame", v.frame}, {"isFocused", v.isFocused}};
}

void from_json(const nlohmann::json& j, WindowSummary& v) {
    v.title = json_fields::text(j, "title");
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

// Keys in sorted order, as to_json's objects hold them.
void writeJSON(PrettyJSONWriter& w, const RectDTO& v) {
    w.beginObject();
    w.key("height");
    w.number(finiteOrZero(v.height));
    w.key("width");
    w.number(finiteOrZero(v.width));
    w.key("x");
    w.number(finiteOrZero(v.x));
    w.key("y");
    w.number(finiteOrZero(v.y));
    w.endObject();
}

void writeJSON(PrettyJSONWriter& w, const WindowSummary& v) {
    w.beginObject();
    w.key("frame");
    writeJSON(w, v.frame);
    w.key("isFocused");
    w.boolean(v.isFocused);
    w.key("title");
    w.string(v.title);
    w.endObject();
}

void writeJSON(PrettyJSONWriter& w, const LogicContextSnapshot& v) {
    w.beginObject();
    if (v.appName) {
        w.key("appName");
        w.string(*v.appName);
    }
    if (v.bundleIdentifier) {
        w.key("bundleIdentifier");
        w.string(*v.bundleIdentifier);
    }
    if (v.focusedWindowTitle) {
        w.key("focusedWindowTitle");
        w.string(*v.focusedWindowTitle);
    }
    w.key("logicIsFrontmost");
    w.boolean(v.logicIsFrontmost);
    w.key("logicIsRunning");
    w.boolean(v.logicIsRunning);
    if (v.processIdentifier) {
        w.key("processIdentifier");
        w.integer(*v.processIdentifier);
    }
    w.key("windows");
    w.beginArray();
    for (const auto& window : v.windows) writeJSON(w, window);
    w.endArray();
    w.endObject();
}

void to_json(nlohmann::json& j, const TrackSummary& v) {
    j = {{"name", v.name},
         {"index", v.index},
         {"isSoloed", v.isSoloed},
         {"isMuted", v.isMuted},
         {"isSelected", v.isSelected}};
}

void from_json(const nlohmann::json& j, TrackSummary& v) {
    v.name = json_fields::text(j, "name");
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
