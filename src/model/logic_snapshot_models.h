#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/json_fields.h"

namespace corvane {

class PrettyJSONWriter;

// A rectangle in global screen points (origin top left of the main display, y downwards).
struct RectDTO {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    friend bool operator==(const RectDTO&, const RectDTO&) = default;
};

// One window of Logic Pro.
struct WindowSummary {
    std::string title;
    RectDTO frame;
    bool isFocused = false;
    friend bool operator==(const WindowSummary&, const WindowSummary&) = default;
};

// The state of the Logic Pro application at one moment.
struct LogicContextSnapshot {
    bool logicIsRunning = false;
    bool logicIsFrontmost = false;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::int32_t> processIdentifier;
    std::optional<std::string> appName;
    std::optional<std::string> focusedWindowTitle;
    std::vector<WindowSummary> windows;
    friend bool operator==(const LogicContextSnapshot&, const LogicContextSnapshot&) = default;
};

// The project a Logic Pro window title names ("My Song.logicx - Tracks" names "My Song"), or none.
std::optional<std::string> projectNameFromWindowTitle(const std::string& title);

// The project open in Logic Pro, as its focused window's title names it; none when unknown.
std::optional<std::string> openProjectName(const LogicContextSnapshot& snapshot);

// One row of Logic Pro's track list as the track context reads it.
struct TrackSummary {
    std::string name;
    std::int64_t index = 0;  // position in the order found, not Logic Pro's track number
    bool isSoloed = false;
    bool isMuted = false;
    bool isSelected = false;
    friend bool operator==(const TrackSummary&, const TrackSummary&) = default;
};

struct TrackContextSnapshot {
    std::vector<TrackSummary> tracks;
    std::vector<std::string> soloedTrackNames;
    std::vector<std::string> selectedTrackNames;
    bool hasSoloedTracks = false;
    friend bool operator==(const TrackContextSnapshot&, const TrackContextSnapshot&) = default;
};

struct PermissionSnapshot {
    bool accessibilityTrusted = false;
    bool screenRecordingGranted = false;
    friend bool operator==(const PermissionSnapshot&, const PermissionSnapshot&) = default;
};

void to_json(nlohmann::json& j, const RectDTO& v);
void from_json(const nlohmann::json& j, RectDTO& v);
void to_json(nlohmann::json& j, const WindowSummary& v);
void from_json(const nlohmann::json& j, WindowSummary& v);
void to_json(nlohmann::json& j, const LogicContextSnapshot& v);
void from_json(const nlohmann::json& j, LogicContextSnapshot& v);
void to_json(nlohmann::json& j, const TrackSummary& v);
void from_json(const nlohmann::json& j, TrackSummary& v);
void to_json(nlohmann::json& j, const TrackContextSnapshot& v);
void from_json(const nlohmann::json& j, TrackContextSnapshot& v);
void to_json(nlohmann::json& j, const PermissionSnapshot& v);

// The same text as dump(2) of to_json, written straight (see PrettyJSONWriter).
void writeJSON(PrettyJSONWriter& w, const RectDTO& v);
void writeJSON(PrettyJSONWriter& w, const WindowSummary& v);
void writeJSON(PrettyJSONWriter& w, const LogicContextSnapshot& v);
void from_json(const nlohmann::json& j, PermissionSnapshot& v);

}  // namespace corvane
