#include "generated/tool_calls.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include "generated/answer_checks.h"
#include "generated/call_text.h"
#include "generated/generated_project.h"
#include "generated/read_checks.h"
#include "generated/success_checks.h"
#include "platform/standin/plugin_parameters.h"
#include "platform/standin/world.h"
#include "plugins/plugin_map_store.h"
#include "support/numbers.h"

namespace corvane::generated {

using nlohmann::json;

const std::vector<std::string>& toolsReachingLogic() {
    static const std::vector<std::string> tools{
        "list_tracks",      "get_transport",        "get_track_details",  "get_plugin_parameters", "get_arrangement",
        "set_track_solo",   "set_track_mute",       "set_plugin_bypass",  "control_transport",     "set_track_volume",
        "set_track_pan",    "set_plugin_parameter", "listen_to_playback", "rename_track",          "set_send_level",
        "ensure_bus_track", "ensure_master_track",  "add_plugin",         "set_plugin_sidechain",  "remove_plugin",
        "reorder_plugin",   "set_folder_expanded",  "expand_folder",      "collapse_folder"};
    return tools;
}

bool isReadingTool(const std::string& tool) {
    return tool == "list_tracks" || tool == "get_transport" || tool == "get_track_details" ||
           tool == "get_plugin_parameters" || tool == "get_arrangement";
}

namespace {


struct Targets {
    std::set<int> ids;                   // every track the call may change
    std::set<int> clear;                 // those it names without doubt: a success may change them unnamed
    std::vector<std::string> ambiguous;  // names matching more than one track
    std::vector<std::string> missing;    // names matching none
};

Targets targetsOf(const GeneratedCall& c, const standin::Project& p) {
    Targets t;
    const bool folderTool = c.tool == "set_folder_expanded" || c.tool == "expand_folder" || c.tool == "collapse_folder";
    for (const auto& name : targetNames(c)) {
        auto ids = idsNamed(p, name);
        // The folder tools look among folders only.
        if (folderTool) std::erase_if(ids, [&](int id) { return p.trackById(id)->kind != standin::TrackKind::folder; });
        t.ids.insert(ids.begin(), ids.end());
        // A track hidden from the track list is out of a tool's sight; one in a collapsed folder is
        // not: the folder can be looked into, so a name it shares is shared.
        std::erase_if(ids, [&](int id) { return !inList(p, id); });
        if (ids.empty()) t.missing.push_back(name);
        if (ids.size() > 1) t.ambiguous.push_back(name);
        if (ids.size() == 1) t.clear.insert(ids.front());
    }
    if (c.tool == "ensure_bus_track" || c.tool == "ensure_master_track") {
        for (const auto& track : p.tracks)
            if (track.kind == standin::TrackKind::aux || track.kind == standin::TrackKind::output) {
                t.ids.insert(track.id);
                t.clear.insert(track.id);
            }
    }
    return t;
}

// Words an answer may use for an aspect of a track that changed.
std::vector<std::string> wordsFor(const std::string& aspect, const json& before, const json& after) {
    if (aspect == "name") return {after["name"].get<std::string>()};
    if (aspect == "volume") return {"volume", "level", "fader"};
    if (aspect == "mute") return {"mute"};
    if (aspect == "solo") return {"solo"};
    if (aspect == "send") return {"send"};
    if (aspect == "folder") return {"expand", "collapse", "open", "clos", "folder"};
    if (aspect == "shown") return {"show", "hid", "track list", "created", "added", "made"};
    if (aspect == "number") return {"number", "#", "order", "position", "moved", "end of"};
    if (aspect == "routing") return {"output", "input", "bus", "rout"};
    if (aspect == "side chain") return {"side chain", "sidechain"};
    if (aspect == "plug-in") {
        std::vector<std::string> words{"plug-in", "plugin"};
        for (const json* side : {&before, &after})
            for (const auto& s : side->value("inserts", json::array())) words.push_back(s["plugin"].get<std::string>());
        return words;
    }
    return {aspect};
}

// Whether the answer names the track (as it is called now, whole) and, in the same sentence, each
// thing that changed on it.
std::optional<std::string> unnamedChange(const std::string& summary, const json& before, const json& after,
                                         const std::vector<std::string>& names) {
    const auto aspects = ProjectState::changedAspects(before, after);
    if (aspects.empty()) return std::nullopt;
    const std::string name = after["name"].get<std::string>();
    if (!namesWhole(summary, name, names))
        return "'" + name + "' changed (" + aspects.front() + ") and the answer does not name it";
    for (const auto& aspect : aspects)
        if (!namedWith(summary, name, wordsFor(aspect, before, after), names))
            return "'" + name + "' changed its " + aspect + " and the answer does not say so";
    return std::nullopt;
}

// The selection after a call is as it was, or on the call's target alone (a tool reaches a track by
// selecting it), or the answer says how it changed. Mute and solo press the keys of every selected
// track: a selection that already held every target need not move at all.
void checkSelection(const GeneratedCall& c, const standin::Project& bp, const ProjectState& before,
                    const ProjectState& after, const Targets& targets, const std::string& said,
                    const std::vector<std::string>& names, std::vector<std::string>& out) {
    if (before.selected == after.selected) {
        // The same tracks selected, yet the strip and the inspector may follow another of them.
        const json* focused = trackIn(after, after.focused);
        if (before.focused != after.focused &&
            !(focused && namedWith(said, (*focused)["name"].get<std::string>(), {"select", "focus"}, names)))
            out.push_back("unnamed change: the focused track " + std::to_string(before.focused) + " became " +
                          std::to_string(after.focused) + " within the same selection");
        return;
    }
    std::set<int> reached = targets.ids;
    if (c.tool == "set_plugin_sidechain")  // its source is looked for by reading strips
        for (int id : idsNamed(bp, c.args.value("source", std::string()))) reached.insert(id);
    const bool keys = c.tool == "set_track_mute" || c.tool == "set_track_solo";
    const bool heldAll = !targets.clear.empty() && std::all_of(targets.clear.begin(), targets.clear.end(),
                                                               [&](int id) { return before.selected.count(id) > 0; });
    const bool onTarget = after.selected.size() == 1 && reached.count(*after.selected.begin()) && !(keys && heldAll);
    if (onTarget) return;
    // Said: a sentence that speaks of the selection names each track selected now.
    const bool told = !after.selected.empty() && std::all_of(after.selected.begin(), after.selected.end(), [&](int id) {
        const json* t = trackIn(after, id);
        return t && namedWith(said, (*t)["name"].get<std::string>(), {"select"}, names);
    });
    if (told) return;
    auto list = [&](const std::set<int>& ids) {
        std::string text;
        for (int id : ids)
            if (const json* t = trackIn(after, id))
                text += (text.empty() ? "" : ", ") + (*t)["name"].get<std::string>();
        return "{" + text + "}";
    };
    out.push_back("unnamed change: the selection " + list(before.selected) + " became " + list(after.selected) +
                  " and the answer does not say so");
}

// Every window open before a call is open after it, unless the answer says it closed.
void checkWindows(const GeneratedCall& c, const standin::Project& bp, const ProjectState& before,
                  const ProjectState& after, const Outcome& o, const std::string& said, const std::vector<std::string>& names, std::vector<std::string>& out) {
    std::set<std::string> pluginTitles;
    for (const auto* state : {&before, &after})
        for (const auto& w : state->ui["pluginWindows"]) pluginTitles.insert(w["title"].get<std::string>());
    for (const auto& w : before.ui["pluginWindows"]) {
        const bool open = std::any_of(after.ui["pluginWindows"].begin(), after.ui["pluginWindows"].end(),
                                      [&](const json& x) { return x["slot"] == w["slot"]; });
        bool slotGone = true;  // a plug-in removed takes its window with it
        for (const auto& [id, t] : after.tracks)
            if (slotIn(t, w["slot"].get<int>())) slotGone = false;
        const std::string title = w["title"].get<std::string>();
        const std::string track = title.substr(0, title.rfind(": "));
        if (!open && !slotGone && !o.openedByTurn.count(w["slot"].get<int>()) &&
            !namedWith(said, track, {"window", "clos"}, names))
            out.push_back("unnamed change: the plug-in window '" + title + "' open before " + c.tool + " is closed");
    }
    // The turn's end closes one plug-in window: a call leaves open no other beside the one its turn
    // works in (that of the slot it named), or its answer names it.
    const auto ids = listedIdsNamed(bp, c.args.value("track_name", std::string()));
    const standin::Track* target = ids.size() == 1 ? bp.trackById(ids.front()) : nullptr;
    const auto asked = target ? slotUidAsked(c, *target) : std::nullopt;
    std::vector<json> turns;  // open, and opened by this call or an earlier one of its turn
    for (const auto& w : after.ui["pluginWindows"])
        if (o.openedByTurn.count(w["slot"].get<int>()) ||
            std::none_of(before.ui["pluginWindows"].begin(), before.ui["pluginWindows"].end(),
                         [&](const json& x) { return x["slot"] == w["slot"]; }))
            turns.push_back(w);
    for (const auto& w : turns) {
        const std::string title = w["title"].get<std::string>();
        const std::string track = title.substr(0, title.rfind(": "));
        if (turns.size() > 1 && !o.openedByTurn.count(w["slot"].get<int>()) && !(asked && w["slot"] == *asked) &&
            !namedWith(said, track, {"window", "open"}, names))
            out.push_back("left open: the plug-in window '" + title + "' the call opened beside another of its turn");
    }
    for (const auto& title : before.ui["windows"]) {
        const std::string t = title.get<std::string>();
        if (pluginTitles.count(t)) continue;
        const bool open = std::any_of(after.ui["windows"].begin(), after.ui["windows"].end(),
                                      [&](const json& x) { return x == title; });
        if (!open && !mentions(said, t)) out.push_back("unnamed change: the window '" + t + "' closed");
    }
}

// The plug-in maps the app ships, loaded once: a parameter whose map makes it hang on another's
// setting may be refused.
const PluginMapStore& shippedMaps() {
    static const PluginMapStore maps = [] {
        PluginMapStore loaded;
        loaded.reload();
        return loaded;
    }();
    return maps;
}

// Whether a parameter write asks a level the control takes: within its range, in a unit of its
// family, for a parameter the slot shows once under one name, which no shipped map makes hang on
// another's setting.
bool parameterTakes(const GeneratedCall& c, const standin::Project& bp, const standin::Track& track,
                    std::optional<int> uid) {
    if (!c.args["value"].is_string()) return false;
    const auto slot = std::find_if(track.strip.inserts.begin(), track.strip.inserts.end(),
                                   [&](const standin::InsertSlot& s) { return uid && s.uid == *uid; });
    const standin::PluginDefinition* def = slot != track.strip.inserts.end() ? bp.plugin(slot->plugin) : nullptr;
    if (!def) return false;
    const std::string named = lower(c.args["parameter_name"].get<std::string>());
    std::vector<standin::detail::ParamSpec> matching;
    for (const auto& p : standin::detail::paramSpecs(*def))
        if (lower(p.label) == named || lower(p.shownLabel()) == named) matching.push_back(p);
    if (matching.size() != 1) return false;
    const auto& param = matching.front();
    if (!param.sliderLike() || param.unit.empty() || !param.displayMin || !param.displayMax ||
        lower(param.label) != lower(param.shownLabel()))
        return false;
    if (const PluginMap* map = shippedMaps().mapForPlugin(slot->plugin))
        for (const auto& d : map->parameters)
            if (lower(d.label) == named && d.dependsOn && !d.dependsOn->empty()) return false;
    const std::string asked = c.args["value"].get<std::string>();
    const auto space = asked.find(' ');
    const auto number = space == std::string::npos ? std::nullopt : readNumber(asked.substr(0, space));
    if (!number) return false;
    const std::string unit = asked.substr(space + 1);
    double value = *number;
    if (unit != param.unit) {
        const auto base = inBaseUnit(*number, unit), scale = inBaseUnit(1, param.unit);
        if (!base || !scale) return false;
        value = *base / *scale;
    }
    return value >= std::min(*param.displayMin, *param.displayMax) &&
           value <= std::max(*param.displayMin, *param.displayMax);
}

// Whether the call asks what a healthy Logic Pro lets it do: its tracks present, each the only one
// of its name and shown, and values each control takes.
bool mustWork(const GeneratedCall& c, const standin::Project& bp) {
    const auto names = targetNames(c);
    auto plainTrack = [&](const std::string& n) {
        const auto ids = listedIdsNamed(bp, n);
        const standin::Track* t = ids.size() == 1 ? bp.trackById(ids.front()) : nullptr;
        return t && bp.isVisible(t->id) &&
               (t->kind == standin::TrackKind::audio || t->kind == standin::TrackKind::instrument);
    };
    if (c.tool == "list_tracks" || c.tool == "get_transport" || c.tool == "ensure_master_track") return true;
    if (c.tool == "control_transport") return true;
    if (c.tool == "get_arrangement") return names.empty() || plainTrack(names.front());
    if (names.empty() || !std::all_of(names.begin(), names.end(), plainTrack)) return false;
    const standin::Track* t = bp.trackById(listedIdsNamed(bp, names.front()).front());
    const int chain = static_cast<int>(t->strip.inserts.size());
    const auto slot = slotUidAsked(c, *t);
    const bool analysis =
        c.args.value("plugin_name", std::string()) == "Corvane" ||
        std::any_of(t->strip.inserts.begin(), t->strip.inserts.end(),
                    [&](const standin::InsertSlot& s) { return slot && s.uid == *slot && s.plugin == "Corvane"; });
    if (c.tool == "set_track_mute" || c.tool == "set_track_solo" || c.tool == "get_track_details") return true;
    if (c.tool == "set_track_pan") return c.args["value"].is_number() && std::fabs(c.args["value"].get<double>()) <= 63;
    if (c.tool == "set_track_volume") {
        if (!c.args.contains("value")) return false;
        const auto db = absoluteDb(c.args["value"]);
        return db && *db >= -60 && *db <= 6;
    }
    if (c.tool == "get_plugin_parameters" || c.tool == "set_plugin_bypass" || c.tool == "remove_plugin")
        return slot.has_value() && !analysis;
    if (c.tool == "set_plugin_parameter") return slot.has_value() && !analysis && parameterTakes(c, bp, *t, slot);
    // The analysis plug-in stays last: it is neither moved nor passed.
    const int movable = chain > 0 && t->strip.inserts.back().plugin == "Corvane" ? chain - 1 : chain;
    if (c.tool == "reorder_plugin")
        return c.args["from_index"].get<int>() < movable && c.args["to_index"].get<int>() < movable;
    if (c.tool == "add_plugin") return c.args["plugin_name"] != "Nope" && chain < 8;
    if (c.tool == "rename_track") {
        const std::string wanted = c.args["new_name"].get<std::string>();
        return idsNamed(bp, wanted).empty();
    }
    if (c.tool == "set_send_level") {
        const std::string label = c.args["bus_label"].get<std::string>();
        const bool sends = std::any_of(t->strip.sends.begin(), t->strip.sends.end(),
                                       [&](const standin::Send& s) { return label == "Bus " + std::to_string(s.bus); });
        const auto db = c.args.contains("target_db") ? numberIn(c.args["target_db"]) : std::nullopt;
        return sends && db && *db >= -60 && *db <= 6;
    }
    if (c.tool == "set_plugin_sidechain") {
        const auto sources = idsNamed(bp, c.args["source"].get<std::string>());
        return slot && !analysis && c.args.value("plugin_name", std::string()) == "Compressor" && sources.size() == 1 &&
               plainTrack(c.args["source"].get<std::string>());
    }
    return false;
}
}  // namespace

std::optional<int> slotUidAsked(const GeneratedCall& c, const standin::Track& t) {
    const auto& inserts = t.strip.inserts;
    if (c.args.contains("plugin_index")) {
        const int i = c.args["plugin_index"].get<int>();
        if (i < 0 || i >= static_cast<int>(inserts.size())) return std::nullopt;
        return inserts[static_cast<std::size_t>(i)].uid;
    }
    if (!c.args.contains("plugin_name")) return std::nullopt;
    std::optional<int> found;
    for (const auto& s : inserts)
        if (lower(s.plugin) == lower(c.args["plugin_name"].get<std::string>())) {
            if (found) return std::nullopt;
            found = s.uid;
        }
    return found;
}

std::vector<std::string> violations(const GeneratedCall& c, const standin::Project& bp, const ProjectState& before,
                                    const ProjectState& after, const Outcome& o) {
    std::vector<std::string> out;
    const Targets targets = targetsOf(c, bp);
    // A call that answers success after a Stop landed past its last pause has done all it was
    // asked: it is held to what a success shows.
    const bool stopped = c.stopAfter && o.took > *c.stopAfter && !o.succeeded;
    std::vector<std::string> names;  // every name of the project, before and after: a longer one hides a shorter
    for (const auto* state : {&before, &after})
        for (const auto& [id, t] : state->tracks) names.push_back(t["name"].get<std::string>());

    // Nothing is left open where the next keys land.
    if (!after.ui["menu"].get<std::string>().empty()) out.push_back("left open: menu " + after.ui["menu"].dump());
    if (after.ui["renaming"].get<bool>()) out.push_back("left open: a track's name field");

    // A reading tool changes nothing at all. The selection is how Logic Pro shows a track's strip,
    // so reading moves it; and the track details surface the bus tracks its sends feed.
    auto surfacedOnly = [&](const json& was, const json& now) {
        json a = was, b = now;
        for (const char* key : {"inArrange", "number"}) {
            a.erase(key);
            b.erase(key);
        }
        return c.tool == "get_track_details" && a == b;
    };
    if (isReadingTool(c.tool)) {
        for (const auto& [id, was] : before.tracks)
            if (const json* now = trackIn(after, id); !now || (*now != was && !surfacedOnly(was, *now))) {
                const auto aspects = now ? ProjectState::changedAspects(was, *now) : std::vector<std::string>{"gone"};
                out.push_back("reading changed: '" + was["name"].get<std::string>() + "' " +
                              (aspects.empty() ? std::string("state") : aspects.front()) +
                              (now ? " " + was.dump() + " -> " + now->dump() : ""));
            }
        // Playback may reach the project's end meanwhile and stop by itself.
        json was = before.transport, now = after.transport;
        if (was["playing"].get<bool>()) was.erase("playing"), now.erase("playing");
        if (was != now)
            out.push_back("reading changed: the transport " + before.transport.dump() + " -> " +
                          after.transport.dump());
    }

    // A track not named by the call is unchanged, or the answer names it as it is now. The tool's
    // own name in the answer ("set_send_level") says nothing of what changed. A listen is asked to
    // measure its tracks, not to change them: what it changes on them it names too.
    std::string said = o.summary;
    for (auto at = said.find(c.tool); at != std::string::npos; at = said.find(c.tool)) said.erase(at, c.tool.size());
    for (const auto& [id, now] : after.tracks) {
        if (targets.clear.count(id) && !stopped && o.succeeded && c.tool != "listen_to_playback") continue;
        const json* was = trackIn(before, id);
        if (was && surfacedOnly(*was, now)) continue;
        if (!was) {
            if (!namesWhole(said, now["name"].get<std::string>(), names))
                out.push_back("unnamed change: track '" + now["name"].get<std::string>() + "' appeared");
            continue;
        }
        if (auto why = unnamedChange(said, *was, now, names))
            out.push_back(std::string(targets.ids.count(id) ? "unnamed change on a target: " : "unnamed change: ") +
                          *why);
    }

    // The transport's switches stay as the call found them unless it is asked to play or stop (a
    // listen plays and stops); playing on, the song may reach its end and stop by itself.
    if (!isReadingTool(c.tool)) {
        json was = before.transport, now = after.transport;
        const std::string action = c.tool == "control_transport" ? c.args["action"].get<std::string>() : "";
        if (action == "play" || action == "stop" || c.tool == "listen_to_playback" || was["playing"].get<bool>())
            was.erase("playing"), now.erase("playing");
        if (was != now)
            out.push_back("unnamed change: the transport " + before.transport.dump() + " -> " + after.transport.dump());
    }

    // A slot call changes the slot it names and no other of its track's, a send call the send to
    // the bus it names and no other; a plug-in name two slots share names neither.
    if (const json* now = targets.clear.size() == 1 ? trackIn(after, *targets.clear.begin()) : nullptr) {
        const standin::Track* t = bp.trackById(*targets.clear.begin());
        const bool slotTool = c.tool == "set_plugin_parameter" || c.tool == "set_plugin_bypass" ||
                              c.tool == "set_plugin_sidechain" || c.tool == "get_plugin_parameters";
        const bool byIndex = c.args.contains("plugin_index") && c.args["plugin_index"].get<int>() >= 0;
        const auto asked = slotUidAsked(c, *t);
        if (slotTool && !byIndex && c.args.contains("plugin_name") && !asked && o.succeeded && !stopped) {
            const auto sharing = std::count_if(t->strip.inserts.begin(), t->strip.inserts.end(), [&](const auto& s) {
                return lower(s.plugin) == lower(c.args["plugin_name"].get<std::string>());
            });
            if (sharing > 1)
                out.push_back("shared name taken: plug-in " + c.args["plugin_name"].dump() + " names " +
                              std::to_string(sharing) + " slots of '" + t->name + "'");
        }
        const json* was = trackIn(before, t->id);
        if (slotTool && was)
            for (const auto& s : (*now)["inserts"])
                if (const json* old = slotIn(*was, s["uid"].get<int>()); old && *old != s && !(asked && s["uid"] == *asked))
                    out.push_back("unnamed change on a target: slot " + s["plugin"].dump() + " of '" + t->name +
                                  "' changed, not the one the call named");
        if (c.tool == "set_send_level" && was && (*was)["sends"].size() == (*now)["sends"].size())
            for (std::size_t i = 0; i < (*now)["sends"].size(); ++i)
                if (const json& s = (*now)["sends"][i];
                    s != (*was)["sends"][i] && "Bus " + s["bus"].dump() != c.args["bus_label"].get<std::string>())
                    out.push_back("unnamed change on a target: the send to Bus " + s["bus"].dump() + " of '" + t->name +
                                  "' changed, asked " + c.args["bus_label"].dump());
    }

    // A fader or pan write the control refused is the answer: it is not written again.
    if (!o.rewrittenAfterRefusal.empty() && c.args.contains("track_name") &&
        (c.tool == "set_track_volume" || c.tool == "set_track_pan"))
        out.push_back("written again after a refusal: " + o.rewrittenAfterRefusal);

    checkReport(c, bp, before, after, o, out);
    checkSelection(c, bp, before, after, targets, said, names, out);
    checkWindows(c, bp, before, after, o, said, names, out);
    checkStatedValues(c, bp, after, said, out);
    if (stopped) checkChainStated(before, after, said, out);
    checkWindowOrder(c, before, after, out);
    checkReopenViews(before, before, after, "the call", out);
    checkPlayhead(c, before, after, o.took, stopped, o.succeeded, said, out);
    if (c.tool != "control_transport" && c.tool != "listen_to_playback" && !before.transport["playing"].get<bool>() &&
        !after.transport["playing"].get<bool>() &&
        // Logic Pro's position display shows whole ticks: a playhead put back through it keeps no fraction.
        std::fabs(before.playheadTicks - after.playheadTicks) >= 1)
        out.push_back("unnamed change: the playhead moved from " + std::to_string(before.playheadTicks) + " to " +
                      std::to_string(after.playheadTicks) + " ticks");

    if (o.succeeded && !stopped) {
        // A name that is shared or missing cannot be the one the caller meant.
        // A call on several names may answer in part: its answer then names the ones it failed.
        // A listen names the tracks it measures; it changes them only to carry the analysis plug-in.
        // A rename to the name a track has is answered as done without looking for the track.
        const bool sameName = c.tool == "rename_track" && trimmed(c.args["new_name"].get<std::string>()) ==
                                                              c.args["current_name"].get<std::string>();
        if (!isReadingTool(c.tool) && c.tool != "ensure_bus_track" && c.tool != "listen_to_playback" && !sameName) {
            const bool several = targetNames(c).size() > 1;
            for (const auto& n : targets.ambiguous)
                if (!several || !toldFailed(o.summary, n))
                    out.push_back("shared name taken: '" + n + "' names several tracks");
            for (const auto& n : targets.missing)
                if (!several || !toldFailed(o.summary, n))
                    out.push_back("missing name taken: no track is called '" + n + "'");
        }
        if (c.tool == "set_plugin_sidechain") {
            // The side chain menu lists every audio and instrument track, hidden ones too; a bus
            // label or number names the bus.
            const std::string source = c.args["source"].get<std::string>();
            auto sources = idsNamed(bp, source);
            std::erase_if(sources, [&](int id) {
                const auto kind = bp.trackById(id)->kind;
                return kind != standin::TrackKind::audio && kind != standin::TrackKind::instrument;
            });
            const bool bus = lower(source).rfind("bus ", 0) == 0 || readNumber(source).has_value();
            const bool hidden = std::any_of(sources.begin(), sources.end(), [&](int id) { return !bp.isVisible(id); });
            if (sources.size() > 1 && !bus)
                out.push_back("shared name taken: side chain source '" + source + "' names " +
                              std::to_string(sources.size()) + " tracks" +
                              (hidden ? ", one not shown in the track list" : ""));
        }
        checkShown(c, bp, before, after, o.summary, out);
    }

    // A call on present tracks, each the only one of its name and shown, with a value it can take,
    // does what it is asked (a Logic Pro whose reads fail may refuse it, and says so).
    if (!o.succeeded && !c.stopAfter && targets.ambiguous.empty() && targets.missing.empty() && !o.readsMayFail &&
        mustWork(c, bp))
        out.push_back("present track refused: " + o.summary);

    if (c.stopAfter) {
        // A send touched to show its bus, and that bus's automation switched on, are put back
        // before a Stop is answered, a send walk reads where it left the send, and a fader's
        // search for a level runs to its end: where the user's click moved the strip on
        // meanwhile, that waits for the strip to show the track again, as late as Logic Pro makes it.
        const bool waitsForStrip = c.tool == "get_track_details" || c.tool == "ensure_bus_track" ||
                                   c.tool == "set_send_level" || c.tool == "set_track_volume";
        if (o.took > *c.stopAfter + 0.5 + (waitsForStrip ? o.stripLag : 0) + 1e-6)
            out.push_back("stop late: answered " + std::to_string(o.took - *c.stopAfter) + " s after the Stop");
        if (stopped) checkNoSplit(c, bp, before, after, o.summary, out);
    }
    return out;
}

std::vector<std::string> turnEndViolations(const ProjectState& turnStart, const ProjectState& before,
                                           const ProjectState& after) {
    // With none of its own to close, the end closes the first plug-in window it finds, one the
    // user opened too: only what the turn opened is looked at.
    std::vector<std::string> out;
    if (!after.ui["menu"].get<std::string>().empty()) out.push_back("left open: menu " + after.ui["menu"].dump());
    if (after.ui["renaming"].get<bool>()) out.push_back("left open: a track's name field");
    auto hasSlot = [](const ProjectState& s, const json& w) {
        return std::any_of(s.ui["pluginWindows"].begin(), s.ui["pluginWindows"].end(),
                           [&](const json& x) { return x["slot"] == w["slot"]; });
    };
    for (const auto& w : after.ui["pluginWindows"])
        if (!hasSlot(turnStart, w))
            out.push_back("left open: the plug-in window " + w["title"].dump() + " the turn opened");
    std::set<std::string> pluginTitles;
    for (const auto* state : {&before, &after})
        for (const auto& w : state->ui["pluginWindows"]) pluginTitles.insert(w["title"].get<std::string>());
    for (const auto& title : before.ui["windows"])
        if (!pluginTitles.count(title.get<std::string>()) &&
            std::find(after.ui["windows"].begin(), after.ui["windows"].end(), title) == after.ui["windows"].end())
            out.push_back("unnamed change: the window " + title.dump() + " closed");
    for (const auto& [id, was] : before.tracks)
        if (const json* now = trackIn(after, id); !now || *now != was)
            out.push_back("unnamed change: the turn's end changed '" + was["name"].get<std::string>() + "'");
    if (before.selected != after.selected) out.push_back("unnamed change: the turn's end moved the selection");
    else if (before.focused != after.focused) out.push_back("unnamed change: the turn's end moved the focused track");
    if (const auto change = windowOrderChange(before, after)) out.push_back("unnamed change: the turn's end changed " + *change);
    checkReopenViews(turnStart, before, after, "the turn", out);
    json was = before.transport, now = after.transport;
    if (was["playing"].get<bool>()) was.erase("playing"), now.erase("playing");
    if (was != now)
        out.push_back("unnamed change: the turn's end changed the transport " + before.transport.dump() + " -> " +
                      after.transport.dump());
    return out;
}

void showValue(const GeneratedCall& call, std::ostream& os) {
    os << call.tool << " " << call.args.dump();
    if (call.stopAfter) os << " stopped at " << *call.stopAfter << " s";
}

}  // namespace corvane::generated
