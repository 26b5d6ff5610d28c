#pragma once

// A world with the plug-in editors scenario (mapped and unmapped plug-ins on "Vox" and "Bass"),
// the application's own plug-in maps, and the inspector under test.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "logic/logic_inspector.h"
#include "platform/standin/standin_fixture.h"
#include "plugins/plugin_inspector.h"
#include "plugins/plugin_map_store.h"

namespace corvane::testing {

inline nlohmann::json pluginEditorsScenario() {
    std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/plugin-editors.json");
    std::stringstream s;
    s << in.rdbuf();
    return nlohmann::json::parse(s.str());
}

class PluginEditorsTest : public standin::testing::StandinTest {
protected:
    using InsertSlot = LogicInspector::InsertSlot;

    void SetUp() override {
        load(pluginEditorsScenario());
        store.reload();
    }

    platform::AXElement main() { return *logic.findMainWindow(); }

    // Selects the track the way the tools do and returns its slot of that plug-in.
    InsertSlot slotOf(const std::string& track, const std::string& plugin) {
        auto selected = logic.selectTrack(track);
        EXPECT_TRUE(selected) << track;
        for (const auto& s : logic.findTrackPluginSlots(main()))
            if (s.name == plugin) return s;
        ADD_FAILURE() << "no slot " << plugin << " on " << track;
        return {};
    }

    // The simulated plug-in's parameter state: what Logic Pro really holds.
    double param(const std::string& track, const std::string& plugin, const std::string& id) {
        const auto project = world().project();
        for (const auto& s : project.track(track)->strip.inserts)
            if (s.plugin == plugin) {
                auto it = s.params.find(id);
                return it == s.params.end() ? -1 : it->second;
            }
        return -2;
    }

    void setParam(const std::string& track, const std::string& plugin, const std::string& id, double raw) {
        world().mutateProject([&](standin::Project& p) {
            for (auto& s : p.track(track)->strip.inserts)
                if (s.plugin == plugin) s.params[id] = raw;
        });
    }

    std::vector<std::string> pluginWindowTitles() {
        std::vector<std::string> titles;
        for (const auto& w : world().ui().pluginWindows) titles.push_back(w.title);
        return titles;
    }

    LogicInspector logic;
    PluginMapStore store{std::string(CORVANE_SOURCE_DIR) + "/resources"};
    PluginInspector inspector{logic, store};
};

}  // namespace corvane::testing
