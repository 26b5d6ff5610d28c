// Calls on tracks the user selected together.

#include "generated/selection_draw.h"

#include <rapidcheck.h>

#include <algorithm>

#include "generated/call_text.h"

namespace corvane::generated {

namespace {

// Nearly always: a call on a track not selected would select it alone and end the selection.
bool mostly() { return *rc::gen::weightedOneOf<bool>({{15, rc::gen::just(true)}, {1, rc::gen::just(false)}}); }

}  // namespace

bool worksOnSelection(const ProjectShape& shape) {
    return shape.faults.contains("staleAfter") && !shape.shiftClicks.empty() && *rc::gen::arbitrary<bool>();
}

std::optional<GeneratedCall> switchOfSelected(const standin::Project& project, const std::vector<std::string>& tools,
                                              bool press) {
    const auto selected = project.selectedTrackIds();
    if (selected.size() < (press ? 1u : 2u) || !mostly()) return std::nullopt;
    std::vector<std::string> switches;
    for (const char* tool : {"set_track_mute", "set_track_solo"})
        if (std::find(tools.begin(), tools.end(), tool) != tools.end()) switches.push_back(tool);
    std::vector<int> reached;
    for (int id : selected) {
        const standin::Track* t = project.trackById(id);
        if ((t->kind == standin::TrackKind::audio || t->kind == standin::TrackKind::instrument) &&
            project.isVisible(id) && listedIdsNamed(project, t->name).size() == 1)
            reached.push_back(id);
    }
    if (switches.empty() || reached.empty()) return std::nullopt;
    const bool focused = reached.front() == project.selectedTrackId && mostly();
    const standin::Track* t = project.trackById(focused ? reached.front() : *rc::gen::elementOf(reached));
    // Mostly the mute: each look reads the same switch again.
    const std::string tool = switches.size() == 1 || mostly() ? switches.front() : switches.back();
    const bool on = tool == "set_track_mute" ? t->muted : t->soloed;
    const bool enabled = press || mostly() ? !on : on;
    return GeneratedCall{tool, {{"track_name", t->name}, {"enabled", enabled}}, std::nullopt};
}

std::optional<GeneratedCall> callAfter(const standin::Project& project, bool onSelection,
                                       const std::vector<std::string>& tools) {
    if (onSelection)
        if (auto call = switchOfSelected(project, tools, true)) return call;
    return nextCall(project, tools);
}

}  // namespace corvane::generated
