#pragma once

// The simulated Logic Pro's project and UI state: what tests assert on through the World's test API.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/geometry.h"

namespace corvane::standin {

enum class TrackKind { audio, instrument, folder, aux, output };

struct Region {
    std::string name;
    int startBar = 1;
    int lengthBars = 1;
    bool muted = false;
};

struct InsertSlot {
    int uid = 0;  // stable for the slot's life, from load order
    std::string plugin;
    std::string format;
    bool bypassed = false;
    std::map<std::string, double> params;  // parameter id -> raw value
    std::string sideChainSource = "None";
    std::string windowView = "Editor";  // "Editor" or "Controls": the plug-in window reopens in its last view
};

struct Send {
    int bus = 1;
    int detent = 0;  // index on the send ladder (0 = -inf)
};

struct Automation {
    std::string mode = "Read";  // "Off", "Read", "Touch", "Latch", "Write"
    bool power = false;
};

struct ChannelStrip {
    int volume = 225;   // raw fader value 0..255; 225 is 0.0 dB
    int pan = 0;        // -64..63
    std::string input;  // "Input 1", "Bus 4", "No Input"; empty for output tracks (no input slot)
    std::string output = "Stereo Output";
    std::string channelMode = "Stereo";
    std::vector<InsertSlot> inserts;  // top to bottom, at most 15
    std::vector<Send> sends;
    Automation automation;
};

struct Track {
    int id = 0;      // internal identity, load order; never shown
    int number = 0;  // Logic's track number; 0 while an aux or output track is not in the track list
    std::string name;
    TrackKind kind = TrackKind::audio;
    int parent = -1;  // id of the enclosing folder
    bool expanded = true;
    bool inArrange = true;
    bool muted = false;
    bool soloed = false;
    ChannelStrip strip;
    std::vector<Region> regions;
    nlohmann::json signal = nlohmann::json::object();
};

struct Bus {
    int number = 1;
    std::string auxName;
};

struct PlayheadPosition {
    int bar = 1;
    int beat = 1;
    int division = 1;
    int tick = 1;
    friend bool operator==(const PlayheadPosition&, const PlayheadPosition&) = default;
};

struct Transport {
    bool playing = false;
    bool recording = false;
    bool cycleOn = false;
    int cycleStartBar = 1;
    int cycleEndBar = 5;  // the right locator: the loop covers the bars before it
    bool globalSolo = false;
    double tempo = 120;
    int numerator = 4;
    int denominator = 4;
    int lengthBars = 64;
    double positionTicks = 0;  // from the project start; a sixteenth note is 240 ticks

    static constexpr int kTicksPerDivision = 240;
    int divisionsPerBeat() const;  // sixteenths per beat: 4 in x/4
    double ticksPerBeat() const;
    double ticksPerBar() const;
    double ticksPerSecond() const;
    double endTicks() const;  // the project end
    PlayheadPosition playhead() const;
    // Position of the given (clamped) playhead fields.
    void setPlayhead(const PlayheadPosition& p);
    double barFraction() const;  // how far into the current bar, 0..1
};

struct PluginDefinition {
    std::string name;
    std::vector<std::string> category;
    std::vector<std::string> formats;
    bool sidechain = false;
    bool analysis = false;
    bool controlsInverted = false;
    nlohmann::json parameters = nlohmann::json::array();  // kept as given for the plug-in window views
    nlohmann::json editor = nlohmann::json::object();
};

struct Project {
    std::string name = "Untitled";
    Transport transport;
    std::vector<Track> tracks;  // depth-first order; surfaced aux and output tracks move to the end
    int selectedTrackId = -1;   // the selected track strip 0 follows
    std::vector<int> alsoSelectedTrackIds;  // selected with it by a Shift-click on their headers
    int stripTrackId = -1;      // what strip 0 shows; lags the selection under lateStripUpdate
    std::vector<Bus> buses;
    std::vector<PluginDefinition> plugins;

    const Track* track(std::string_view name) const;  // first with that exact name
    Track* track(std::string_view name);
    const Track* trackById(int id) const;
    Track* trackById(int id);
    const Track* selectedTrack() const { return trackById(selectedTrackId); }
    bool isSelected(int id) const;
    std::vector<int> selectedTrackIds() const;  // the selected track first
    const PluginDefinition* plugin(std::string_view name) const;

    int depthOf(int id) const;  // number of enclosing folders
    bool isAncestor(int ancestorId, int id) const;
    bool isVisible(int id) const;              // has a header in the track list
    std::vector<int> visibleTrackIds() const;  // on-screen order, top to bottom
    int maxTrackNumber() const;
    // The track whose strip is fed by the given destination ("Stereo Output", "Bus 2"), or -1.
    int trackFedBy(std::string_view destination) const;
    int auxForBus(int bus) const;
};

struct UiState {
    bool inspectorVisible = true;
    std::vector<std::string> windows;  // Logic's window titles, front to back (AXWindows order)
    std::string keyWindow;             // title of the key window (the frontmost not minimised), empty when none
    std::vector<std::string> minimisedWindows;  // titles
    bool mixerAreaShown = false;                // the control bar's "Mixer" check box
    struct TouchedSend {
        int trackId = -1;
        int bus = 0;
    };
    std::optional<TouchedSend> lastTouchedSend;
    // Open plug-in windows, front to back.
    struct PluginWindow {
        std::string title;  // "<track>: <plug-in>"
        int trackId = -1;
        int slotUid = 0;
        std::string view;  // "Editor" or "Controls"
        platform::Rect frame;
    };
    std::vector<PluginWindow> pluginWindows;
    // The open menu: its kind ("insert", "slot", "view", "sidechain") and the titles of the items whose
    // submenus are open, outermost first; empty while no menu is open.
    std::string openMenu;
    std::vector<std::string> openSubmenus;
    // A track name being edited after "Rename Track"; absent otherwise.
    struct Renaming {
        int trackId = -1;
        std::string text;  // what the name field holds now
    };
    std::optional<Renaming> renaming;
};

std::string to_string(TrackKind kind);
std::optional<TrackKind> trackKindFromString(std::string_view s);

}  // namespace corvane::standin
