#pragma once

// Shared set-up for the stand-in's tests: a world with the demo song, installed as the platform services,
// and small helpers that drive it the way program code does (AX handles, posted events, workspace calls).

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "platform/standin/world.h"
#include "test_support/free_port.h"

namespace corvane::standin::testing {

inline nlohmann::json demoSong() {
    std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/demo-song.json");
    std::stringstream s;
    s << in.rdbuf();
    return nlohmann::json::parse(s.str());
}

// The demo song with some members replaced (a JSON merge patch).
inline nlohmann::json demoSongWith(const nlohmann::json& patch) {
    nlohmann::json j = demoSong();
    j.merge_patch(patch);
    return j;
}

class StandinTest : public ::testing::Test {
protected:
    void SetUp() override { load(demoSong()); }

    void load(const nlohmann::json& scenario, World::Options options = World::Options()) {
        scoped_.reset();
        world_ = std::make_unique<World>(scenario, options);
        world_->updateFaults([this](Faults& faults) { faults.analysisPort = analysisPort_.port(); });
        scoped_ = std::make_unique<platform::ScopedServices>(world_->services());
    }

    World& world() { return *world_; }
    int logicPid() { return world_->logicPid(); }

    platform::AXElement app() { return platform::accessibility().applicationElement(logicPid()); }

    // The first window listed whose title contains "Tracks" or "Mixer": with the Mixer window in front,
    // that one, which the program must not take for the window with the track list.
    std::optional<platform::AXElement> mainWindow() {
        auto windows = app().elements(platform::ax::kWindows);
        if (!windows) return std::nullopt;
        for (const auto& w : *windows) {
            std::string title = w.string(platform::ax::kTitle).value_or("");
            if (title.find("Tracks") != std::string::npos || title.find("Mixer") != std::string::npos) return w;
        }
        return std::nullopt;
    }

    // Depth-first pre-order search by exact description (and role), examining depths 0..maxDepth-1.
    static std::optional<platform::AXElement> find(const platform::AXElement& root, const std::string& description,
                                                   const std::string& role = "", int maxDepth = 20) {
        std::optional<platform::AXElement> found;
        std::function<void(const platform::AXElement&, int)> walk = [&](const platform::AXElement& e, int depth) {
            if (found || depth >= maxDepth) return;
            if (e.string(platform::ax::kDescription).value_or("") == description &&
                (role.empty() || e.string(platform::ax::kRole).value_or("") == role)) {
                found = e;
                return;
            }
            for (const auto& c : e.children()) walk(c, depth + 1);
        };
        walk(root, 0);
        return found;
    }

    bool hasHeader(const std::string& description) { return findInMain(description, "", 15).has_value(); }

    std::optional<platform::AXElement> findInMain(const std::string& description, const std::string& role = "",
                                                  int maxDepth = 20) {
        auto w = mainWindow();
        if (!w) return std::nullopt;
        return find(*w, description, role, maxDepth);
    }

    // The Inspector's first strip, as the program reaches it.
    std::optional<platform::AXElement> strip(int index = 0) {
        auto mixer = findInMain("Mixer", "AXLayoutArea", 10);
        if (!mixer) return std::nullopt;
        auto children = mixer->children();
        if (static_cast<int>(children.size()) <= index) return std::nullopt;
        return children[static_cast<std::size_t>(index)];
    }

    std::string stripName() {
        auto s = strip();
        if (!s) return "";
        auto name = find(*s, "name", "AXTextField", 10);
        return name ? name->string(platform::ax::kValue).value_or("") : "";
    }

    std::string selectedName() {
        auto p = world_->project();
        const Track* t = p.selectedTrack();
        return t ? t->name : "";
    }

    void pressKey(std::uint16_t code, std::uint64_t flags = 0) {
        platform::KeyEvent down{code, true, flags, {}};
        platform::KeyEvent up{code, false, flags, {}};
        platform::input().postKeyToProcess(logicPid(), down);
        platform::clock().sleep(std::chrono::duration<double>(0.02));
        platform::input().postKeyToProcess(logicPid(), up);
    }

    void clickAtHID(platform::Point p) {
        platform::input().postMouseAtHIDTap({platform::MouseEventType::leftDown, p});
        platform::input().postMouseAtHIDTap({platform::MouseEventType::leftUp, p});
    }

    void clickInProcess(platform::Point p) {
        platform::input().postMouseToProcess(logicPid(), {platform::MouseEventType::moved, p});
        platform::input().postMouseToProcess(logicPid(), {platform::MouseEventType::leftDown, p});
        platform::input().postMouseToProcess(logicPid(), {platform::MouseEventType::leftUp, p});
    }

    corvane::testing::ClosedPort analysisPort_;  // where the plug-ins post unless a test serves them
    std::unique_ptr<World> world_;
    std::unique_ptr<platform::ScopedServices> scoped_;
};

}  // namespace corvane::standin::testing
