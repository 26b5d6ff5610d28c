#pragma once

// The whole simulated project as a tool can change it, read from the stand-in's model: what the
// generated check compares before and after a call.

#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/standin/world.h"

namespace corvane::generated {

struct ProjectState {
    std::map<int, nlohmann::json> tracks;  // by track id: name, level, pan, switches, chain, sends, automation...
    std::set<int> selected;                // every selected track
    int focused = -1;                      // the one the strip follows
    nlohmann::json transport;              // playing, recording, cycle, tempo (not the moving playhead)
    double playheadTicks = 0;
    double ticksPerBar = 3840, ticksPerSecond = 1920, endTicks = 0;
    nlohmann::json ui;                     // open menu, name field, plug-in windows, windows
    std::map<int, std::string> reopenViews;  // by slot: the view its plug-in window opens (or shows) in

    static ProjectState read(const standin::World& world);
    // The aspects of one track that differ ("volume", "pan", "mute", "sends", ...), empty when the same.
    static std::vector<std::string> changedAspects(const nlohmann::json& before, const nlohmann::json& after);
};

}  // namespace corvane::generated
