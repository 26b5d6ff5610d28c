#include "generated/tool_calls.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include "generated/generated_project.h"
#include "platform/standin/taper.h"
#include "platform/standin/world.h"
#include "support/numbers.h"

namespace corvane::generated {

using nlohmann::json;

const std::vector<std::string>& toolsReachingLogic() {
    static const std::vector<std::string> tools{
        "list_tracks",      "get_transport",     "get_track_details",    "get_plugin_parameters",
        "get_arrangement",  "set_track_solo",    "set_track_mute",       "set_plugin_bypass",
        "control_transport", "set_track_volume", "set_track_pan",        "set_plugin_parameter",
        "listen_to_playback", "rename_track",    "set_send_level",       "ensure_bus_track",
        "ensure_master_track", "add_plugin",     "set_plugin_sidechain", "remove_plugin",
        "reorder_plugin",   "set_folder_expanded", "expand_folder",      "collapse_folder"};
    return tools;
}

bool isReadingTool(const std::string& tool) {
    return tool == "list_tracks" || tool == "get_transport" || tool == "get_track_details" ||
           tool == "get_plugin_parameters" || tool == "get_arrangement";
}

namespace {

// ---- drawing arguments --------------------------------------------------------------------------

rc::Gen<std::string> genTrackName(const standin::Project& project) {
    std::vector<std::string> present;
    for (const auto& t : project.tracks) present.push_back(t.name);
    return rc::gen::weightedOneOf<std::string>(
        {{3, rc::gen::elementOf(present)}, {1, rc::gen::elementOf(namePool())}});
}

rc::Gen<std::string> genFolderName(const standin::Project& project) {
    std::vector<std::string> folders;
    for (const auto& t : project.tracks)
        if (t.kind == standin::TrackKind::folder) folders.push_back(t.name);
    if (folders.empty()) return genTrackName(project);
    return rc::gen::weightedOneOf<std::string>({{3, rc::gen::elementOf(folders)}, {1, genTrackName(project)}});
}

// The plug-in by name (as the slot shows it, or in another case) or by slot index.
void drawPlugin(json& args, const standin::Project& project) {
    const standin::Track* t = project.track(args.value("track_name", std::string()));
    std::vector<std::string> names = pluginPool();
    names.push_back("compressor");
    names.push_back("Corvane");
    if (t)
        for (const auto& s : t->strip.inserts) names.push_back(s.plugin);
    if (*rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}}))
        args["plugin_name"] = *rc::gen::elementOf(names);
    else
        args["plugin_index"] = *rc::gen::inRange(0, 5);
}

json genArgs(const std::string& tool, const standin::Project& project) {
    json a = json::object();
    auto name = [&] { return *genTrackName(project); };
    auto oneOrMany = [&](const char* many) {
        if (*rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}}))
            a["track_name"] = name();
        else
            a[many] = json::array({name(), name()});
    };
    if (tool == "get_track_details") {
        oneOrMany("track_names");
    } else if (tool == "get_plugin_parameters" || tool == "remove_plugin") {
        a["track_name"] = name();
        drawPlugin(a, project);
    } else if (tool == "get_arrangement") {
        if (*rc::gen::arbitrary<bool>()) a["track_name"] = name();
    } else if (tool == "set_track_solo" || tool == "set_track_mute") {
        oneOrMany("track_names");
        a["enabled"] = *rc::gen::arbitrary<bool>();
    } else if (tool == "set_plugin_bypass") {
        a["track_name"] = name();
        drawPlugin(a, project);
        a["bypassed"] = *rc::gen::arbitrary<bool>();
    } else if (tool == "control_transport") {
        a["action"] = *rc::gen::elementOf(std::vector<std::string>{"play", "stop", "go_to_beginning"});
    } else if (tool == "set_track_volume") {
        const json value = *rc::gen::elementOf(std::vector<json>{"-6 dB", "0 dB", "+6 dB", "6 dB", "-96 dB",
                                                                 "-20 dB", "-60 dB", "3.4 dB", 0, 255, 225, 128,
                                                                 "+3", "-10", "+40", "12 dB"});
        if (*rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}})) {
            a["track_name"] = name();
            a["value"] = value;
        } else {
            a["tracks"] = json::array({{{"track_name", name()}, {"value", value}},
                                       {{"track_name", name()}, {"value", "-10 dB"}}});
        }
    } else if (tool == "set_track_pan") {
        a["track_name"] = name();
        a["value"] = *rc::gen::elementOf(std::vector<json>{-64, 63, 0, 20, -30, 100, -100, "+10", "-10", "+127"});
    } else if (tool == "set_plugin_parameter") {
        a["track_name"] = name();
        drawPlugin(a, project);
        a["parameter_name"] =
            *rc::gen::elementOf(std::vector<std::string>{"Threshold", "Auto Gain", "Time", "Mix", "Feedback", "Nope"});
        a["value"] = *rc::gen::elementOf(
            std::vector<std::string>{"-20 dB", "-60 dB", "0 dB", "on", "off", "500 ms", "50 %", "100 %", "999"});
    } else if (tool == "listen_to_playback") {
        a["duration_seconds"] = *rc::gen::elementOf(std::vector<double>{1, 2});
        a["start_bar"] = *rc::gen::elementOf(std::vector<int>{1, 9, 70});
        if (*rc::gen::arbitrary<bool>()) a["track_name"] = name();
    } else if (tool == "rename_track") {
        a["current_name"] = name();
        a["new_name"] = *rc::gen::elementOf(std::vector<std::string>{"Kick", "Kick 2", "Lead", "Perc", "Bass 2",
                                                                     "Reverb", "Bus 1", "Kik"});
    } else if (tool == "set_send_level") {
        // Mostly a track with a send, on the bus it sends to.
        std::vector<std::pair<std::string, std::string>> sends;
        for (const auto& t : project.tracks)
            for (const auto& send : t.strip.sends) sends.push_back({t.name, "Bus " + std::to_string(send.bus)});
        if (!sends.empty() && *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}})) {
            const auto& [track, bus] = sends[static_cast<std::size_t>(*rc::gen::inRange<std::size_t>(0, sends.size()))];
            a["track_name"] = track;
            a["bus_label"] = bus;
        } else {
            a["track_name"] = name();
            a["bus_label"] = *rc::gen::elementOf(std::vector<std::string>{"Bus 1", "Bus 2", "Bus 3", "bus 1"});
        }
        if (*rc::gen::arbitrary<bool>())
            a["target_db"] = *rc::gen::elementOf(std::vector<json>{6, 0, -60, -100, 10, -12.5, "-3", -18});
        else
            a["delta_db"] = *rc::gen::elementOf(std::vector<json>{1, -1, 0.5, 20, -20, "+2"});
    } else if (tool == "ensure_bus_track") {
        a["source_track"] = name();
        a["bus_label"] = *rc::gen::elementOf(std::vector<std::string>{"Bus 1", "Bus 2", "Bus 4"});
    } else if (tool == "add_plugin") {
        a["track_name"] = name();
        a["plugin_name"] =
            *rc::gen::elementOf(std::vector<std::string>{"Compressor", "Channel EQ", "Limiter", "Drift Delay", "Nope"});
        if (*rc::gen::arbitrary<bool>()) a["slot_index"] = *rc::gen::inRange(0, 5);
    } else if (tool == "set_plugin_sidechain") {
        // Mostly a track whose chain has a plug-in with a side chain.
        std::vector<std::string> keyed;
        for (const auto& t : project.tracks)
            for (const auto& s : t.strip.inserts)
                if (s.plugin == "Compressor") keyed.push_back(t.name);
        a["track_name"] = keyed.empty() ? name()
                                        : *rc::gen::weightedOneOf<std::string>(
                                              {{3, rc::gen::elementOf(keyed)}, {1, genTrackName(project)}});
        if (*rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}}))
            a["plugin_name"] = "Compressor";
        else
            drawPlugin(a, project);
        a["source"] = *rc::gen::weightedOneOf<std::string>(
            {{4, genTrackName(project)},
             {1, rc::gen::elementOf(std::vector<std::string>{"Bus 1", "1", "Internal", "Reverb"})}});
    } else if (tool == "reorder_plugin") {
        // Mostly a track with two or more plug-ins to move between.
        std::vector<const standin::Track*> chains;
        for (const auto& t : project.tracks)
            if (t.strip.inserts.size() >= 2) chains.push_back(&t);
        if (!chains.empty() && *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}})) {
            const auto* t = chains[*rc::gen::inRange<std::size_t>(0, chains.size())];
            const int slots = static_cast<int>(t->strip.inserts.size());
            a["track_name"] = t->name;
            a["from_index"] = *rc::gen::inRange(0, slots);
            a["to_index"] = *rc::gen::inRange(0, slots);
        } else {
            a["track_name"] = name();
            a["from_index"] = *rc::gen::inRange(0, 5);
            a["to_index"] = *rc::gen::inRange(0, 5);
        }
    } else if (tool == "set_folder_expanded" || tool == "expand_folder" || tool == "collapse_folder") {
        a["track_name"] = *genFolderName(project);
        if (tool == "set_folder_expanded" || *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(false)}, {1, rc::gen::just(true)}}))
            a["expanded"] = *rc::gen::arbitrary<bool>();
    }
    return a;
}

// ---- reading what was asked ----------------------------------------------------------------------

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool mentions(const std::string& text, const std::string& part) {
    return lower(text).find(lower(part)) != std::string::npos;
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// The tracks a name reaches: names are told apart whole, trimmed, in any case (as headers read).
std::vector<int> idsNamed(const standin::Project& p, const std::string& name) {
    std::vector<int> ids;
    for (const auto& t : p.tracks)
        if (lower(trimmed(t.name)) == lower(trimmed(name))) ids.push_back(t.id);
    return ids;
}

// The track names a call addresses as its targets (the side chain's source is not one).
std::vector<std::string> targetNames(const GeneratedCall& c) {
    std::vector<std::string> names;
    for (const char* key : {"track_name", "current_name", "source_track"})
        if (c.args.contains(key) && c.args[key].is_string()) names.push_back(c.args[key].get<std::string>());
    if (c.args.contains("track_names"))
        for (const auto& n : c.args["track_names"]) names.push_back(n.get<std::string>());
    if (c.args.contains("tracks") && c.args["tracks"].is_array())
        for (const auto& w : c.args["tracks"]) names.push_back(w["track_name"].get<std::string>());
    return names;
}

struct Targets {
    std::set<int> ids;          // every track the call may change
    std::set<int> clear;        // those it names without doubt: a success may change them unnamed
    std::vector<std::string> ambiguous;  // names matching more than one track
    std::vector<std::string> missing;    // names matching none
};

Targets targetsOf(const GeneratedCall& c, const standin::Project& p) {
    Targets t;
    const bool folderTool = c.tool == "set_folder_expanded" || c.tool == "expand_folder" || c.tool == "collapse_folder";
    for (const auto& name : targetNames(c)) {
        auto ids = idsNamed(p, name);
        // The folder tools look among folders only.
        if (folderTool)
            std::erase_if(ids, [&](int id) { return p.trackById(id)->kind != standin::TrackKind::folder; });
        t.ids.insert(ids.begin(), ids.end());
        // A tool finds tracks by their headers: one hidden in a collapsed folder is out of its sight.
        std::erase_if(ids, [&](int id) { return !p.isVisible(id); });
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

std::optional<double> numberIn(const json& v) {
    if (v.is_number()) return v.get<double>();
    if (v.is_string()) return readNumber(v.get<std::string>());
    return std::nullopt;
}

// An absolute level in dB asked of the fader ("-6 dB"), if that is what the value is.
std::optional<double> absoluteDb(const json& v) {
    if (!v.is_string()) return std::nullopt;
    std::string s = v.get<std::string>();
    if (s.size() < 3 || s.substr(s.size() - 2) != "dB" || s[0] == '+') return std::nullopt;
    s.resize(s.size() - 2);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return readNumber(s);
}

// Words an answer may use for an aspect of a track that changed.
std::vector<std::string> wordsFor(const std::string& aspect, const json& before, const json& after) {
    if (aspect == "name") return {after["name"].get<std::string>()};
    if (aspect == "volume") return {"volume", "level", "fader"};
    if (aspect == "mute") return {"mute"};
    if (aspect == "solo") return {"solo"};
    if (aspect == "send") return {"send"};
    if (aspect == "folder") return {"expand", "collapse", "open", "clos", "folder"};
    if (aspect == "shown") return {"show", "track list", "created", "added", "made"};
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

// Whether the answer names the track (as it is called now) and each thing that changed on it.
std::optional<std::string> unnamedChange(const std::string& summary, const json& before, const json& after) {
    const auto aspects = ProjectState::changedAspects(before, after);
    if (aspects.empty()) return std::nullopt;
    const std::string name = after["name"].get<std::string>();
    if (!mentions(summary, name)) return "'" + name + "' changed (" + aspects.front() + ") and the answer does not name it";
    for (const auto& aspect : aspects) {
        const auto words = wordsFor(aspect, before, after);
        if (std::none_of(words.begin(), words.end(), [&](const std::string& w) { return mentions(summary, w); }))
            return "'" + name + "' changed its " + aspect + " and the answer does not say so";
    }
    return std::nullopt;
}

// Whether the fader stands where a level target puts it: at the bottom for -60 dB and below,
// else within 0.15 dB or on a raw value next to the nearest one.
bool levelReached(int raw, double db) {
    if (db <= -60) return raw == 0;
    return std::fabs(standin::World::level(raw) - db) < 0.15 || std::abs(raw - standin::World::rawFor(db)) <= 1;
}

// The detent a send's level target puts the knob on: the bottom for -60 dB and below.
int sendDetentFor(double db) { return db <= -60 ? 0 : standin::taper::nearestSendDetent(db); }

const json* trackIn(const ProjectState& s, int id) {
    auto it = s.tracks.find(id);
    return it == s.tracks.end() ? nullptr : &it->second;
}

// The slot a call names on a track of the project before it ran, when it names exactly one.
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

const json* slotIn(const json& track, int uid) {
    for (const auto& s : track["inserts"])
        if (s["uid"] == uid) return &s;
    return nullptr;
}

// What success must show on the target, read from the project after; a line per shortfall.
void checkShown(const GeneratedCall& c, const standin::Project& bp, const ProjectState& after,
                const std::string& summary, std::vector<std::string>& out) {
    const std::string trackName = c.args.value("track_name", std::string());
    const auto ids = idsNamed(bp, trackName);
    const standin::Track* target = ids.size() == 1 ? bp.trackById(ids.front()) : nullptr;
    const json* now = target ? trackIn(after, target->id) : nullptr;
    auto fail = [&](const std::string& what) { out.push_back("success not shown: " + what); };

    if (c.tool == "set_track_mute" || c.tool == "set_track_solo") {
        const bool wanted = c.args["enabled"].get<bool>();
        const char* key = c.tool == "set_track_mute" ? "muted" : "soloed";
        for (const auto& n : targetNames(c)) {
            auto named = idsNamed(bp, n);
            if (named.size() != 1 || !bp.isVisible(named.front())) continue;
            // A call on several tracks may fail some and say so.
            if (const auto failed = summary.find("Failed:");
                failed != std::string::npos && summary.find("'" + n + "'", failed) != std::string::npos)
                continue;
            if (const json* t = trackIn(after, named.front()); t && (*t)[key].get<bool>() != wanted)
                fail("'" + n + "' " + key + " is " + ((*t)[key].get<bool>() ? "on" : "off"));
        }
    } else if (c.tool == "set_track_volume" && now && c.args.contains("value")) {
        const json& v = c.args["value"];
        const int raw = (*now)["volume"].get<int>();
        if (auto db = absoluteDb(v); db && *db >= -96 && *db <= 6) {
            if (!levelReached(raw, *db))
                fail("volume of '" + trackName + "' is " + standin::taper::levelText(raw) + ", asked " + v.dump());
        } else if (v.is_number() && v.get<double>() >= 0 && v.get<double>() <= 255 && raw != v.get<int>()) {
            fail("volume of '" + trackName + "' is raw " + std::to_string(raw) + ", asked " + v.dump());
        }
    } else if (c.tool == "set_track_pan" && now && c.args["value"].is_number()) {
        const int v = c.args["value"].get<int>();
        if (v >= -64 && v <= 63 && (*now)["pan"].get<int>() != v)
            fail("pan of '" + trackName + "' is " + (*now)["pan"].dump() + ", asked " + std::to_string(v));
    } else if (c.tool == "rename_track") {
        const auto named = idsNamed(bp, c.args["current_name"].get<std::string>());
        if (named.size() == 1)
            if (const json* t = trackIn(after, named.front()); t && (*t)["name"] != c.args["new_name"])
                fail("the track is called " + (*t)["name"].dump());
    } else if (c.tool == "set_plugin_bypass" && now) {
        if (auto uid = slotUidAsked(c, *target); uid && c.args.contains("bypassed"))
            if (const json* s = slotIn(*now, *uid); s && (*s)["bypassed"] != c.args["bypassed"])
                fail("slot " + (*s)["plugin"].dump() + " bypass is " + (*s)["bypassed"].dump());
    } else if (c.tool == "set_plugin_sidechain" && now) {
        const std::string source = c.args["source"].get<std::string>();
        const auto sources = idsNamed(bp, source);
        const standin::Track* wanted = sources.size() == 1 ? bp.trackById(sources.front()) : nullptr;
        if (auto uid = slotUidAsked(c, *target); uid && wanted && (wanted->kind == standin::TrackKind::audio ||
                                                                   wanted->kind == standin::TrackKind::instrument))
            if (const json* s = slotIn(*now, *uid); s && (*s)["sideChain"] != wanted->name)
                fail("side chain shows " + (*s)["sideChain"].dump() + ", asked '" + source + "'");
    } else if (c.tool == "set_send_level" && now && c.args.contains("target_db")) {
        const auto db = numberIn(c.args["target_db"]);
        const std::string label = c.args["bus_label"].get<std::string>();
        for (const auto& s : (*now)["sends"])
            if (db && *db >= -60 && *db <= 6 && label == "Bus " + s["bus"].dump() &&
                s["detent"].get<int>() != sendDetentFor(*db))
                fail("send to " + label + " shows " + standin::taper::sendDetentText(s["detent"].get<int>()) +
                     ", asked " + c.args["target_db"].dump());
    } else if ((c.tool == "set_folder_expanded" || c.tool == "expand_folder" || c.tool == "collapse_folder") && now &&
               target->kind == standin::TrackKind::folder) {
        const bool wanted = c.args.value("expanded", c.tool != "collapse_folder");
        if ((*now)["expanded"].get<bool>() != wanted) fail("folder '" + trackName + "' expanded is " + (*now)["expanded"].dump());
    } else if (c.tool == "remove_plugin" && now) {
        if (auto uid = slotUidAsked(c, *target); uid && slotIn(*now, *uid)) fail("the slot is still there");
    } else if (c.tool == "add_plugin" && now) {
        if ((*now)["inserts"].size() != target->strip.inserts.size() + 1) fail("the chain did not grow by one");
    } else if (c.tool == "reorder_plugin" && now) {
        const int from = c.args["from_index"].get<int>(), to = c.args["to_index"].get<int>();
        const auto& chain = target->strip.inserts;
        if (from < static_cast<int>(chain.size()) && to < static_cast<int>((*now)["inserts"].size()) &&
            (*now)["inserts"][static_cast<std::size_t>(to)]["uid"] != chain[static_cast<std::size_t>(from)].uid)
            fail("slot " + std::to_string(from) + " did not reach slot " + std::to_string(to));
    } else if (c.tool == "control_transport") {
        const std::string action = c.args["action"].get<std::string>();
        if (action == "play" && !after.transport["playing"].get<bool>()) fail("not playing");
        if (action == "stop" && after.transport["playing"].get<bool>()) fail("still playing");
    }
}

// Where a stopped walk may stand: as found, or as asked.
void checkNoSplit(const GeneratedCall& c, const standin::Project& bp, const ProjectState& before,
                  const ProjectState& after, std::vector<std::string>& out) {
    const auto ids = idsNamed(bp, c.args.value("track_name", std::string()));
    if (ids.size() != 1) return;
    const json* was = trackIn(before, ids.front());
    const json* now = trackIn(after, ids.front());
    if (!was || !now) return;
    if (c.tool == "set_track_volume" && c.args.contains("value")) {
        if (auto db = absoluteDb(c.args["value"]); db && *db >= -96 && *db <= 6) {
            const int raw = (*now)["volume"].get<int>();
            if (raw != (*was)["volume"].get<int>() && !levelReached(raw, *db))
                out.push_back("step split: the fader stands at " + standin::taper::levelText(raw));
        }
    } else if (c.tool == "set_track_pan" && c.args["value"].is_number()) {
        const int v = c.args["value"].get<int>();
        const int pan = (*now)["pan"].get<int>();
        if (v >= -64 && v <= 63 && pan != (*was)["pan"].get<int>() && pan != v)
            out.push_back("step split: the pan stands at " + std::to_string(pan));
    } else if (c.tool == "set_send_level" && c.args.contains("target_db")) {
        const auto db = numberIn(c.args["target_db"]);
        if (!db || *db < -60 || *db > 6) return;
        const auto& a = (*now)["sends"];
        const auto& b = (*was)["sends"];
        for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
            if (a[i] != b[i] && a[i]["detent"].get<int>() != sendDetentFor(*db))
                out.push_back("step split: the send to Bus " + a[i]["bus"].dump() + " stands at " +
                              standin::taper::sendDetentText(a[i]["detent"].get<int>()));
    }
}

}  // namespace

rc::Gen<GeneratedCall> genCall(const standin::Project& project, const std::vector<std::string>& tools) {
    return rc::gen::exec([project, tools] {
        GeneratedCall c;
        c.tool = *rc::gen::elementOf(tools);
        c.args = genArgs(c.tool, project);
        return c;
    });
}

rc::Gen<double> genStopMoment(double length) {
    const double millis = std::max(0.0, std::floor(length * 1000));
    const auto before = [millis](double last) { return std::max(0.0, millis - last * 1000) / 1000; };
    return rc::gen::weightedOneOf<double>(
        {{1, rc::gen::just(0.0)},
         {4, rc::gen::map(rc::gen::inRange(0, 1000), [millis](int f) { return std::floor(millis * f / 1000) / 1000; })},
         {2, rc::gen::map(rc::gen::elementOf(std::vector<double>{0.002, 0.01, 0.05, 0.2, 0.35, 0.65}), before)}});
}

std::optional<GeneratedCall> nextCall(const standin::Project& project) {
    std::vector<std::string> unique;
    for (const auto& t : project.tracks)
        if ((t.kind == standin::TrackKind::audio || t.kind == standin::TrackKind::instrument) &&
            project.isVisible(t.id) && idsNamed(project, t.name).size() == 1)
            unique.push_back(t.name);
    if (unique.empty()) return std::nullopt;
    const std::string name = *rc::gen::elementOf(unique);
    const standin::Track* t = project.track(name);
    if (*rc::gen::arbitrary<bool>()) return GeneratedCall{"get_track_details", {{"track_name", name}}, std::nullopt};
    return GeneratedCall{"set_track_mute", {{"track_name", name}, {"enabled", !(t && t->muted)}}, std::nullopt};
}

std::vector<std::string> violations(const GeneratedCall& c, const standin::Project& bp, const ProjectState& before,
                                    const ProjectState& after, const Outcome& o) {
    std::vector<std::string> out;
    const Targets targets = targetsOf(c, bp);
    const bool stopped = c.stopAfter && o.took > *c.stopAfter;

    // Nothing is left open where the next keys land.
    if (!after.ui["menu"].get<std::string>().empty())
        out.push_back("left open: menu " + after.ui["menu"].dump());
    if (after.ui["renaming"].get<bool>()) out.push_back("left open: a track's name field");

    // A reading tool changes nothing at all. The selection is how Logic Pro shows a track's strip,
    // so reading moves it; and the track details surface the bus tracks its sends feed.
    auto surfacedOnly = [&](const json& was, const json& now) {
        json a = was, b = now;
        a.erase("inArrange");
        b.erase("inArrange");
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
        if (before.transport != after.transport) out.push_back("reading changed: the transport");
    }

    // A track not named by the call is unchanged, or the answer names it as it is now. The tool's
    // own name in the answer ("set_send_level") says nothing of what changed.
    std::string said = o.summary;
    for (auto at = said.find(c.tool); at != std::string::npos; at = said.find(c.tool)) said.erase(at, c.tool.size());
    for (const auto& [id, now] : after.tracks) {
        if (targets.clear.count(id) && !stopped && o.succeeded) continue;
        const json* was = trackIn(before, id);
        if (was && surfacedOnly(*was, now)) continue;
        if (!was) {
            if (!mentions(said, now["name"].get<std::string>()))
                out.push_back("unnamed change: track '" + now["name"].get<std::string>() + "' appeared");
            continue;
        }
        if (auto why = unnamedChange(said, *was, now))
            out.push_back(std::string(targets.ids.count(id) ? "unnamed change on a target: " : "unnamed change: ") + *why);
    }

    if (o.succeeded && !stopped) {
        // A name that is shared or missing cannot be the one the caller meant.
        // A call on several names may answer in part: its answer then names the ones it failed.
        // A listen names the tracks it measures; it changes them only to carry the analysis plug-in.
        // A rename to the name a track has is answered as done without looking for the track.
        const bool sameName = c.tool == "rename_track" &&
                              trimmed(c.args["new_name"].get<std::string>()) == c.args["current_name"].get<std::string>();
        if (!isReadingTool(c.tool) && c.tool != "ensure_bus_track" && c.tool != "listen_to_playback" && !sameName &&
            targetNames(c).size() == 1) {
            for (const auto& n : targets.ambiguous) out.push_back("shared name taken: '" + n + "' names several tracks");
            for (const auto& n : targets.missing) out.push_back("missing name taken: no track is called '" + n + "'");
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
                              (hidden ? ", one hidden in a collapsed folder" : ""));
        }
        checkShown(c, bp, after, o.summary, out);
    }

    // A call on one present track with a plain value does what it is asked.
    if (!o.succeeded && !c.stopAfter && targets.ambiguous.empty() && targets.missing.empty()) {
        bool plain = false;
        const auto names = targetNames(c);
        const bool shown = std::all_of(names.begin(), names.end(), [&](const std::string& n) {
            const auto ids = idsNamed(bp, n);
            const standin::Track* t = ids.size() == 1 ? bp.trackById(ids.front()) : nullptr;
            return t && bp.isVisible(t->id) &&
                   (t->kind == standin::TrackKind::audio || t->kind == standin::TrackKind::instrument);
        });
        if (c.tool == "set_track_mute" || c.tool == "set_track_solo" || c.tool == "get_track_details") plain = true;
        if (c.tool == "set_track_pan" && c.args.contains("value") && c.args["value"].is_number())
            plain = std::fabs(c.args["value"].get<double>()) <= 63;
        if (c.tool == "set_track_volume" && c.args.contains("value"))
            if (auto db = absoluteDb(c.args["value"])) plain = *db >= -60 && *db <= 6;
        if (plain && shown && !names.empty())
            out.push_back("present track refused: " + o.summary);
    }

    if (c.stopAfter) {
        if (o.took > *c.stopAfter + 0.5 + 1e-6)
            out.push_back("stop late: answered " + std::to_string(o.took - *c.stopAfter) + " s after the Stop");
        if (stopped) checkNoSplit(c, bp, before, after, out);
    }
    return out;
}

void showValue(const GeneratedCall& call, std::ostream& os) {
    os << call.tool << " " << call.args.dump();
    if (call.stopAfter) os << " stopped at " << *call.stopAfter << " s";
}

}  // namespace corvane::generated
