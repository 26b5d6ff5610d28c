#include "generated/project_state.h"

namespace corvane::generated {

using nlohmann::json;

ProjectState ProjectState::read(const standin::World& world) {
    const standin::Project p = world.project();
    const standin::UiState ui = world.ui();
    ProjectState s;
    for (const auto& t : p.tracks) {
        json inserts = json::array();
        for (const auto& slot : t.strip.inserts) s.reopenViews[slot.uid] = slot.windowView;
        for (const auto& slot : t.strip.inserts)
            inserts.push_back({{"uid", slot.uid},
                               {"plugin", slot.plugin},
                               {"format", slot.format},
                               {"bypassed", slot.bypassed},
                               {"params", slot.params},
                               {"sideChain", slot.sideChainSource}});
        json sends = json::array();
        for (const auto& send : t.strip.sends) sends.push_back({{"bus", send.bus}, {"detent", send.detent}});
        s.tracks[t.id] = {{"name", t.name},
                          {"kind", standin::to_string(t.kind)},
                          {"parent", t.parent},
                          {"number", t.number},
                          {"expanded", t.expanded},
                          {"inArrange", t.inArrange},
                          {"muted", t.muted},
                          {"soloed", t.soloed},
                          {"volume", t.strip.volume},
                          {"pan", t.strip.pan},
                          {"input", t.strip.input},
                          {"output", t.strip.output},
                          {"inserts", inserts},
                          {"sends", sends},
                          {"automation", {t.strip.automation.mode, t.strip.automation.power}}};
    }
    for (int id : p.selectedTrackIds()) s.selected.insert(id);
    s.focused = p.selectedTrackId;
    const auto& t = p.transport;
    s.transport = {{"playing", t.playing},   {"recording", t.recording},   {"cycle", t.cycleOn},
                   {"cycleStart", t.cycleStartBar}, {"cycleEnd", t.cycleEndBar}, {"tempo", t.tempo}};
    s.playheadTicks = t.positionTicks;
    s.ticksPerBar = t.ticksPerBar();
    s.ticksPerSecond = t.ticksPerSecond();
    s.endTicks = t.endTicks();
    json windows = json::array();
    for (const auto& w : ui.pluginWindows) windows.push_back({{"title", w.title}, {"slot", w.slotUid}, {"view", w.view}});
    s.ui = {{"menu", ui.openMenu},
            {"submenus", ui.openSubmenus},
            {"renaming", ui.renaming.has_value()},
            {"pluginWindows", windows},
            {"windows", ui.windows}};
    return s;
}

std::vector<std::string> ProjectState::changedAspects(const json& before, const json& after) {
    std::vector<std::string> aspects;
    auto differs = [&](const char* key) { return before.value(key, json()) != after.value(key, json()); };
    if (differs("name")) aspects.push_back("name");
    if (differs("volume")) aspects.push_back("volume");
    if (differs("pan")) aspects.push_back("pan");
    if (differs("muted")) aspects.push_back("mute");
    if (differs("soloed")) aspects.push_back("solo");
    if (differs("sends")) aspects.push_back("send");
    if (differs("automation")) aspects.push_back("automation");
    if (differs("expanded")) aspects.push_back("folder");
    if (differs("inArrange")) aspects.push_back("shown");
    // A track shown or hidden takes or keeps its number with it; only a number of its own that moved is a change.
    else if (differs("number")) aspects.push_back("number");
    if (differs("input") || differs("output")) aspects.push_back("routing");
    if (differs("inserts")) {
        // A side chain alone is named as such; any other slot change is a plug-in change.
        json b = before.value("inserts", json::array()), a = after.value("inserts", json::array());
        bool onlySideChain = a.size() == b.size();
        for (std::size_t i = 0; onlySideChain && i < a.size(); ++i) {
            json x = a[i], y = b[i];
            x.erase("sideChain");
            y.erase("sideChain");
            onlySideChain = x == y;
        }
        aspects.push_back(onlySideChain ? "side chain" : "plug-in");
    }
    return aspects;
}

}  // namespace corvane::generated
