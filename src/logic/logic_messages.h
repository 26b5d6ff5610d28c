#pragma once

// Texts about Logic Pro's state that several readers, tools and diagnostics give word for word,
// so that a caller or a test matching one of them matches them all.

#include <string>
#include <string_view>

namespace corvane::logic_messages {

// Tool and edit outcomes.
inline constexpr const char* kLogicProNotRunning = "Logic Pro is not running.";
// Logic Pro runs, but none of its windows shows the track list (its Mixer window alone, say).
inline constexpr const char* kNoTracksWindow = "No Tracks window with the track list is open in Logic Pro.";
inline constexpr const char* kNothingTyped = "Logic Pro is not running; nothing was typed.";
inline constexpr const char* kMixerStripNotFound = "Mixer strip not found.";

// Diagnostic "error" members.
inline constexpr const char* kLogicNotRunning = "Logic not running";
inline constexpr const char* kLogicIsNotRunning = "Logic is not running";
inline constexpr const char* kMainWindowNotFound = "Main Logic window not found";
inline constexpr const char* kNoMainWindow = "No main window";
inline constexpr const char* kTrackNotFound = "Track not found";
inline constexpr const char* kMixerAreaNotFound = "Mixer area not found";
// The strip a call works on moved on to another track (the user's click) and did not come back.
inline std::string stripShowsAnother(const std::string& trackName, const std::string& shown) {
    return "The mixer strip shows " + (shown.empty() ? std::string("no track") : "'" + shown + "'") + ", not " +
           trackName + ": the selection moved meanwhile; try again.";
}
inline constexpr const char* kKnobNotFound = "Knob not found";
inline constexpr const char* kPluginWindowDidNotAppear = "Plugin window did not appear";
inline constexpr const char* kNoPluginWindowOpen = "No plugin window currently open";

inline std::string trackNotFound(std::string_view name) { return "Track not found: " + std::string(name); }
inline std::string mixerAreaNotFoundFor(std::string_view trackName) {
    return "Mixer area not found for " + std::string(trackName);
}
inline std::string noOpenButtonFor(std::string_view slotName) { return "No open button for " + std::string(slotName); }
inline std::string couldNotMove(std::string_view plugin, std::string_view why) {
    return "Could not move " + std::string(plugin) + ": " + std::string(why);
}

// The log line when a track was found but keyboard selection did not land on it.
inline std::string selectTrackFailed(std::string_view trackName) {
    return "SelectTrack: keyboard navigation failed for '" + std::string(trackName) +
           "' \u2014 returning nil so callers don't read the wrong strip";
}

}  // namespace corvane::logic_messages
