#pragma once

// Projects drawn from a seed: the shape (tracks, folders, buses, chains, sends) goes into a scenario
// for the simulated Logic Pro, and the user's own clicks (selection, Shift-clicks, folders closed,
// plug-in windows opened) are made by hand once it is loaded.

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <rapidcheck.h>

#include "platform/standin/world.h"

namespace corvane::generated {

struct SlotShape {
    std::string plugin;
    bool bypassed = false;
    std::string sideChain;  // empty: none
    nlohmann::json params = nlohmann::json::object();  // raw values by parameter id, where not its defaults
};

struct SendShape {
    int bus = 1;
    int detent = 0;
};

struct RegionShape {
    int start = 1;
    int bars = 16;
    bool muted = false;
};

struct TrackShape {
    std::string name;
    std::string kind;  // audio, instrument or folder
    bool hidden = false;  // out of the track list (Hide Track), audio and instrument only
    int volume = 225;
    int pan = 0;
    bool muted = false;
    bool soloed = false;
    std::vector<SlotShape> inserts;
    std::vector<SendShape> sends;
    std::vector<RegionShape> regions;  // audio and instrument only
    bool collapsedAtLoad = false;  // folders only
    std::vector<TrackShape> children;
};

struct ProjectShape {
    std::vector<TrackShape> tracks;        // the track list, top level
    std::vector<std::string> auxNames;     // one aux per bus, bus k+1 feeds auxNames[k]
    std::vector<bool> auxShown;            // whether that aux is in the track list
    std::string outputName = "Stereo Out";  // the user may have renamed the output track
    bool outputShown = false;               // and shown it in the track list
    int lengthBars = 64;                    // the song's end
    bool playing = false;
    bool mixerWindow = false;  // a Mixer window open, behind the Tracks window
    bool mixerFirst = false;   // and in front of it
    nlohmann::json faults = nlohmann::json::object();  // the stand-in's fault knobs, as a scenario gives them
    // Hand actions once loaded, by position in the depth-first track list.
    int selected = 0;
    std::vector<int> shiftClicks;
    std::vector<int> collapsedByHand;  // folder triangles clicked after the Shift-clicks
    std::vector<std::pair<int, int>> windowsOpened;  // track position, slot
};

// The kinds of fault the draw may give Logic Pro, as CORVANE_GENERATED_FAULTS names them.
std::vector<std::string> faultKinds();

// Whether the faults make the application's handle go stale at one of Logic Pro's window listings.
bool staleAtListing(const nlohmann::json& faults);
// That knob: the listing after the first `after` (counted from when it is set) fails, once.
nlohmann::json staleListingKnob(int after);

// How many tracks the track list holds, folders counted.
int arrangeCount(const ProjectShape& shape);

rc::Gen<ProjectShape> genProject();

// The scenario to load, and the clicks to make on the loaded world.
nlohmann::json scenarioOf(const ProjectShape& shape);
void handActions(const ProjectShape& shape, standin::World& world);

// Names the tools are asked about: shared prefixes, case and space twins, bus labels and aux names.
const std::vector<std::string>& namePool();
const std::vector<std::string>& pluginPool();

void showValue(const ProjectShape& shape, std::ostream& os);

}  // namespace corvane::generated
