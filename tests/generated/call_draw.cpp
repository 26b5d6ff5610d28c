#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

#include "generated/call_text.h"
#include "generated/generated_project.h"
#include "generated/tool_calls.h"
#include "platform/standin/plugin_parameters.h"

namespace corvane::generated {

using nlohmann::json;

namespace {


rc::Gen<std::string> genTrackName(const standin::Project& project) {
    std::vector<std::string> present, folded, shared;
    for (const auto& t : project.tracks) {
        present.push_back(t.name);
        // In the list but inside a collapsed folder: found only by looking into it, and looked for
        // only when a shown track bears the name too.
        if (project.isVisible(t.id) || !t.inArrange || t.parent < 0) continue;
        folded.push_back(t.name);
        for (const auto& u : project.tracks)
            if (project.isVisible(u.id) && lower(trimmed(u.name)) == lower(trimmed(t.name))) shared.push_back(u.name);
    }
    if (folded.empty()) folded = present;
    if (shared.empty()) shared = present;
    return rc::gen::weightedOneOf<std::string>({{3, rc::gen::elementOf(present)},
                                                {1, rc::gen::elementOf(namePool())},
                                                {1, rc::gen::elementOf(folded)},
                                                {2, rc::gen::elementOf(shared)}});
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

// Most draws are calls a healthy Logic Pro lets succeed; `of` in `of + 1` for those that need the
// most to line up (a send, a side chain and its source).
bool mostly(std::size_t of = 3) {
    return *rc::gen::weightedOneOf<bool>({{of, rc::gen::just(true)}, {1, rc::gen::just(false)}});
}

// Audio and instrument tracks that `keep` takes and that a name reaches alone, shown or inside a
// collapsed folder: the tracks a call can work on. Without them the draw falls back on any name.
// Drawn by id: a value a replay keeps must not point into the project a former run drew from.
std::vector<int> plainTracks(const standin::Project& project, const std::function<bool(const standin::Track&)>& keep) {
    std::vector<int> shown, folded;
    for (const auto& t : project.tracks)
        if ((t.kind == standin::TrackKind::audio || t.kind == standin::TrackKind::instrument) && inList(project, t.id) &&
            listedIdsNamed(project, t.name).size() == 1 && keep(t))
            (project.isVisible(t.id) ? shown : folded).push_back(t.id);
    // Mostly the shown ones (a call selects its track); one a collapsed folder holds now and then.
    if (shown.empty() || (!folded.empty() && *rc::gen::weightedOneOf<bool>({{9, rc::gen::just(false)},
                                                                            {1, rc::gen::just(true)}})))
        return folded;
    return shown;
}

// The name a call asks a track by: mostly as the list shows it; now and then in another case,
// that of a track hidden from the list when one bears it so. A tool reaches the listed track and
// must answer with its name, not the hidden one's.
std::string askedName(const standin::Project& project, const standin::Track& t) {
    if (mostly(5)) return t.name;
    std::vector<std::string> variants{lower(t.name)};
    for (const auto& u : project.tracks)
        if (!u.inArrange && u.name != t.name && lower(trimmed(u.name)) == lower(trimmed(t.name)))
            variants.push_back(u.name);
    return *rc::gen::elementOf(variants);
}

// One of the track's slots `pick` takes, by the name the slot shows (now and then in another
// case) or by its index; false when none is taken.
bool drawSlotOf(json& args, const standin::Track& t, const std::function<bool(const standin::InsertSlot&)>& pick,
                std::size_t* chosen = nullptr) {
    std::vector<std::size_t> slots;
    for (std::size_t i = 0; i < t.strip.inserts.size(); ++i)
        if (pick(t.strip.inserts[i])) slots.push_back(i);
    if (slots.empty()) return false;
    const std::size_t i = *rc::gen::elementOf(slots);
    if (chosen) *chosen = i;
    // A name another slot shows too is refused; with an index beside it, the index decides.
    if (mostly())
        args["plugin_name"] = *rc::gen::weightedOneOf<std::string>(
            {{4, rc::gen::just(t.strip.inserts[i].plugin)}, {1, rc::gen::just(lower(t.strip.inserts[i].plugin))}});
    if (!args.contains("plugin_name") || !mostly(4)) args["plugin_index"] = static_cast<int>(i);
    return true;
}

// A send's level: a target or a change.
void drawSendLevel(json& a) {
    if (*rc::gen::arbitrary<bool>())
        // Below -18 dB the send has steps only at -60/-50/-40/-35/-30/-27/-24/-21: targets fall between them too.
        a["target_db"] = *rc::gen::elementOf(
            std::vector<json>{6, 0, -60, -100, 10, -12.5, "-3", -18, -44, -54, -19, -25.5, -32, -45, -57, "-22"});
    else
        a["delta_db"] = *rc::gen::elementOf(std::vector<json>{1, -1, 0.5, 20, -20, "+2", -7, 4, -13});
}

// The track holding the slot of a plug-in window the user has open, where a name reaches it
// alone; drawn half the time there is one, so that a call works through the user's window.
const standin::Track* userWindowTrack(const standin::Project& project, std::optional<int> openSlot, Aim aim) {
    if (!openSlot || aim == Aim::elsewhere || (aim == Aim::drawn && mostly(1))) return nullptr;
    for (int id : plainTracks(project, [](const standin::Track&) { return true; })) {
        const standin::Track* t = project.trackById(id);
        for (const auto& s : t->strip.inserts)
            if (s.uid == *openSlot) return t;
    }
    return nullptr;
}

// A track fit for the call and one of its slots, mostly; else any name and any plug-in.
void drawTrackAndSlot(json& args, const standin::Project& project,
                      const std::function<bool(const standin::InsertSlot&)>& pick, std::optional<int> openSlot,
                      Aim aim) {
    if (const standin::Track* t = userWindowTrack(project, openSlot, aim)) {
        args["track_name"] = askedName(project, *t);
        drawSlotOf(args, *t, [&](const standin::InsertSlot& s) { return s.uid == *openSlot; });
        return;
    }
    const auto aimed = [&](const standin::InsertSlot& s) {
        return pick(s) && (aim != Aim::elsewhere || s.uid != openSlot);
    };
    const auto fit = plainTracks(project, [&](const standin::Track& t) {
        return std::any_of(t.strip.inserts.begin(), t.strip.inserts.end(), aimed);
    });
    if (!fit.empty() && (aim != Aim::drawn || mostly())) {
        const standin::Track* t = project.trackById(*rc::gen::elementOf(fit));
        args["track_name"] = askedName(project, *t);
        drawSlotOf(args, *t, aimed);
        return;
    }
    args["track_name"] = *genTrackName(project);
    drawPlugin(args, project);
}

// The parameters a call may name on a plug-in: shown in its Controls view, and set by a value.
std::vector<standin::detail::ParamSpec> settableParams(const standin::Project& project, const std::string& plugin) {
    std::vector<standin::detail::ParamSpec> out;
    if (const standin::PluginDefinition* def = project.plugin(plugin))
        for (const auto& p : standin::detail::paramSpecs(*def))
            if (!p.hidden && (p.sliderLike() || p.type == "toggle" || p.hasOptions())) out.push_back(p);
    return out;
}

std::string printed(double v, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// A value the parameter takes, as a user types it: a level within its range or at an end in its
// unit, a switch's state, an option's label; now and then past an end.
std::string drawValueFor(const standin::detail::ParamSpec& p) {
    if (p.type == "toggle") return *rc::gen::elementOf(std::vector<std::string>{"on", "off"});
    if (p.hasOptions() && !p.options.empty())
        return *rc::gen::weightedOneOf<std::string>(
            {{3, rc::gen::elementOf(p.options)},
             {1, rc::gen::map(rc::gen::elementOf(p.options), [](std::string o) { return lower(o); })}});
    const double lo = p.displayMin.value_or(p.rawMin), hi = p.displayMax.value_or(p.rawMax);
    const double span = hi - lo;
    const int decimals = p.type == "discrete" ? 0 : span < 2 ? 2 : span < 50 ? 1 : 0;
    const double v = *rc::gen::weightedOneOf<double>(
        {{4, rc::gen::map(rc::gen::inRange(0, 101), [=](int f) { return lo + span * f / 100; })},
         {2, rc::gen::elementOf(std::vector<double>{lo, hi})},
         {1, rc::gen::elementOf(std::vector<double>{lo - span / 2, hi + span / 2})}});
    const std::string number = printed(v, decimals);
    if (p.unit.empty()) return number;
    // Half the time in the other unit of its family, as a user may type it ("1.5 s" for a parameter
    // shown in ms, kHz for Hz).
    static const std::map<std::string, std::pair<std::string, double>> other{
        {"ms", {"s", 0.001}}, {"s", {"ms", 1000}}, {"Hz", {"kHz", 0.001}}, {"kHz", {"Hz", 1000}}};
    if (const auto it = other.find(p.unit); it != other.end() && !mostly(1)) {
        const auto& [unit, factor] = it->second;
        const int places = std::max(0, decimals - static_cast<int>(std::lround(std::log10(factor))));
        return printed(v * factor, places) + " " + unit;
    }
    return number + (p.unit[0] == ':' ? "" : " ") + p.unit;
}

json genArgs(const std::string& tool, const standin::Project& project, std::optional<int> openSlot, Aim aim) {
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
        drawTrackAndSlot(a, project, [](const standin::InsertSlot&) { return true; }, openSlot, aim);
    } else if (tool == "get_arrangement") {
        if (*rc::gen::arbitrary<bool>()) a["track_name"] = name();
    } else if (tool == "set_track_solo" || tool == "set_track_mute") {
        oneOrMany("track_names");
        a["enabled"] = *rc::gen::arbitrary<bool>();
    } else if (tool == "set_plugin_bypass") {
        drawTrackAndSlot(a, project, [](const standin::InsertSlot&) { return true; }, openSlot, aim);
        a["bypassed"] = *rc::gen::arbitrary<bool>();
    } else if (tool == "control_transport") {
        a["action"] = *rc::gen::elementOf(std::vector<std::string>{"play", "stop", "go_to_beginning"});
    } else if (tool == "set_track_volume") {
        const json value =
            *rc::gen::weightedOneOf<json>({{4, rc::gen::elementOf(std::vector<json>{
                                                   "-6 dB", "0 dB", "+6 dB", "6 dB", "-96 dB", "-20 dB", "-60 dB",
                                                   "3.4 dB", 0, 255, 225, 128, "+3", "-10", "+40", "12 dB"})},
                                           // between two of the fader's steps: the level shown is not the one asked,
                                           // the step above or below the nearer where the steps are coarse
                                           {2, rc::gen::elementOf(std::vector<json>{"-6.1 dB", "-12.3 dB", "-33.3 dB",
                                                                                    "-45.2 dB", "-45.3 dB", "-27.8 dB",
                                                                                    "-70.4 dB", "-66.2 dB"})}});
        if (*rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}})) {
            a["track_name"] = name();
            a["value"] = value;
        } else {
            a["tracks"] = json::array(
                {{{"track_name", name()}, {"value", value}}, {{"track_name", name()}, {"value", "-10 dB"}}});
        }
    } else if (tool == "set_track_pan") {
        a["track_name"] = name();
        a["value"] = *rc::gen::elementOf(std::vector<json>{-64, 63, 0, 20, -30, 100, -100, "+10", "-10", "+127"});
    } else if (tool == "set_plugin_parameter") {
        // Mostly a parameter of the plug-in in the slot named, by its label or the Controls view's,
        // with a value it takes.
        const auto hasParams = [&](const standin::InsertSlot& s) {
            return !settableParams(project, s.plugin).empty() && (aim != Aim::elsewhere || s.uid != openSlot);
        };
        const auto fit = plainTracks(project, [&](const standin::Track& t) {
            return std::any_of(t.strip.inserts.begin(), t.strip.inserts.end(), hasParams);
        });
        std::size_t slot = 0;
        const standin::Track* usersWindow = userWindowTrack(project, openSlot, aim);
        const auto onUsersWindow = [&](const standin::InsertSlot& s) { return s.uid == openSlot && hasParams(s); };
        if (usersWindow && std::none_of(usersWindow->strip.inserts.begin(), usersWindow->strip.inserts.end(), onUsersWindow))
            usersWindow = nullptr;
        // A parameter a value can be typed for in two units (ms or s, Hz or kHz) is drawn half the
        // time there is one: a value typed in either unit is reached as often as the rest.
        const auto inUnits = [&](const std::string& plugin) {
            auto params = settableParams(project, plugin);
            std::erase_if(params, [](const auto& p) { return p.unit != "ms" && p.unit != "s" && p.unit != "Hz" && p.unit != "kHz"; });
            return params;
        };
        const auto hasUnits = [&](const standin::InsertSlot& s) { return !inUnits(s.plugin).empty(); };
        auto unitFit = plainTracks(project, [&](const standin::Track& t) {
            return std::any_of(t.strip.inserts.begin(), t.strip.inserts.end(), hasUnits);
        });
        const bool units = !usersWindow && aim == Aim::drawn && !unitFit.empty() && !mostly(1);
        if (usersWindow || units || (!fit.empty() && (aim != Aim::drawn || mostly()))) {
            const standin::Track* t = usersWindow ? usersWindow
                                      : units     ? project.trackById(*rc::gen::elementOf(unitFit))
                                                  : project.trackById(*rc::gen::elementOf(fit));
            a["track_name"] = askedName(project, *t);
            const std::function<bool(const standin::InsertSlot&)> pick = usersWindow ? onUsersWindow
                                                                         : units       ? std::function(hasUnits)
                                                                                       : std::function(hasParams);
            drawSlotOf(a, *t, pick, &slot);
            const std::string plugin = t->strip.inserts[slot].plugin;
            const auto param = *rc::gen::elementOf(units ? inUnits(plugin) : settableParams(project, plugin));
            a["parameter_name"] = *rc::gen::elementOf(std::vector<std::string>{param.label, param.shownLabel()});
            a["value"] = drawValueFor(param);
            return a;
        }
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
        const auto fit = plainTracks(project, [](const standin::Track&) { return true; });
        a["current_name"] =
            !fit.empty() && mostly() ? askedName(project, *project.trackById(*rc::gen::elementOf(fit))) : name();
        a["new_name"] = *rc::gen::elementOf(
            std::vector<std::string>{"Kick", "Kick 2", "Lead", "Perc", "Bass 2", "Reverb", "Bus 1", "Kik"});
    } else if (tool == "set_send_level") {
        // Mostly a track with a send, on the bus it sends to.
        std::vector<std::pair<int, std::string>> sends;
        for (int id : plainTracks(project, [](const standin::Track& t) { return !t.strip.sends.empty(); }))
            for (const auto& send : project.trackById(id)->strip.sends)
                sends.push_back({id, "Bus " + std::to_string(send.bus)});
        if (!sends.empty() && mostly(6)) {
            const auto& [id, bus] = sends[static_cast<std::size_t>(*rc::gen::inRange<std::size_t>(0, sends.size()))];
            a["track_name"] = askedName(project, *project.trackById(id));
            a["bus_label"] = bus;
        } else {
            a["track_name"] = name();
            a["bus_label"] =
                *rc::gen::elementOf(std::vector<std::string>{"Bus 1", "Bus 2", "Bus 3", "bus 1", "Bus 10", "Bus 12"});
        }
        drawSendLevel(a);
    } else if (tool == "ensure_bus_track") {
        // Mostly a track that sends to the bus: the bus's strip is reached through that send.
        const auto senders = plainTracks(project, [](const standin::Track& t) { return !t.strip.sends.empty(); });
        if (!senders.empty() && mostly(6)) {
            const standin::Track* t = project.trackById(*rc::gen::elementOf(senders));
            a["source_track"] = askedName(project, *t);
            a["bus_label"] = "Bus " + std::to_string((*rc::gen::elementOf(t->strip.sends)).bus);
        } else {
            a["source_track"] = name();
            a["bus_label"] = *rc::gen::elementOf(std::vector<std::string>{"Bus 1", "Bus 2", "Bus 4", "Bus 11"});
        }
    } else if (tool == "add_plugin") {
        const auto fit = plainTracks(project, [](const standin::Track&) { return true; });
        a["track_name"] =
            !fit.empty() && mostly() ? askedName(project, *project.trackById(*rc::gen::elementOf(fit))) : name();
        a["plugin_name"] =
            *rc::gen::elementOf(std::vector<std::string>{"Compressor", "Channel EQ", "Limiter", "Drift Delay", "Nope"});
        if (*rc::gen::arbitrary<bool>()) a["slot_index"] = *rc::gen::inRange(0, 5);
    } else if (tool == "set_plugin_sidechain") {
        // Mostly a track whose chain has a plug-in with a side chain.
        std::vector<std::string> keyed, sources;
        for (int id : plainTracks(project, [](const standin::Track& t) {
                 return std::any_of(t.strip.inserts.begin(), t.strip.inserts.end(),
                                    [](const standin::InsertSlot& s) { return s.plugin == "Compressor"; });
             }))
            keyed.push_back(project.trackById(id)->name);
        // Mostly a source the side chain menu lists once: an audio or instrument track of its own name.
        for (int id : plainTracks(project, [](const standin::Track&) { return true; }))
            sources.push_back(project.trackById(id)->name);
        // Where the user has a plug-in window open, half the time through it, as the other slot tools.
        if (const standin::Track* t = userWindowTrack(project, openSlot, aim)) {
            a["track_name"] = askedName(project, *t);
            drawSlotOf(a, *t, [&](const standin::InsertSlot& s) { return s.uid == *openSlot; });
        } else {
            a["track_name"] = keyed.empty() ? name()
                                            : *rc::gen::weightedOneOf<std::string>(
                                                  {{6, rc::gen::elementOf(keyed)}, {1, genTrackName(project)}});
            if (mostly(6))
                a["plugin_name"] = "Compressor";
            else
                drawPlugin(a, project);
        }
        if (sources.empty()) sources.push_back(*genTrackName(project));
        a["source"] = *rc::gen::weightedOneOf<std::string>(
            {{8, rc::gen::elementOf(sources)},
             {2, genTrackName(project)},
             {1, rc::gen::elementOf(std::vector<std::string>{"Bus 1", "1", "Internal", "Reverb"})}});
    } else if (tool == "reorder_plugin") {
        // Mostly a track with two or more plug-ins to move between.
        // The analysis plug-in that ends a chain stays there: mostly the slots above it.
        const auto movable = [](const standin::Track& t) {
            const auto& chain = t.strip.inserts;
            return static_cast<int>(chain.size()) - (!chain.empty() && chain.back().plugin == "Corvane" ? 1 : 0);
        };
        const auto chains = plainTracks(project, [&](const standin::Track& t) { return movable(t) >= 2; });
        if (!chains.empty() && mostly(5)) {
            const standin::Track* t = project.trackById(*rc::gen::elementOf(chains));
            const int slots = *rc::gen::weightedOneOf<int>(
                {{4, rc::gen::just(movable(*t))}, {1, rc::gen::just(static_cast<int>(t->strip.inserts.size()))}});
            a["track_name"] = askedName(project, *t);
            a["from_index"] = *rc::gen::inRange(0, slots);
            a["to_index"] = *rc::gen::inRange(0, slots);
        } else {
            a["track_name"] = name();
            a["from_index"] = *rc::gen::inRange(0, 5);
            a["to_index"] = *rc::gen::inRange(0, 5);
        }
    } else if (tool == "set_folder_expanded" || tool == "expand_folder" || tool == "collapse_folder") {
        a["track_name"] = *genFolderName(project);
        if (tool == "set_folder_expanded" ||
            *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(false)}, {1, rc::gen::just(true)}}))
            a["expanded"] = *rc::gen::arbitrary<bool>();
    }
    return a;
}

}  // namespace

rc::Gen<GeneratedCall> genCall(const standin::Project& project, const std::vector<std::string>& tools,
                               std::optional<int> openSlot, Aim aim) {
    return rc::gen::exec([project, tools, openSlot, aim] {
        GeneratedCall c;
        // A parameter write has the most ways through (a map or the Controls view, options chosen
        // first, values in either unit): drawn three times as often as another tool.
        std::vector<std::string> weighted;
        for (const auto& t : tools) weighted.insert(weighted.end(), t == "set_plugin_parameter" ? 3 : 1, t);
        c.tool = *rc::gen::elementOf(weighted);
        c.args = genArgs(c.tool, project, openSlot, aim);
        return c;
    });
}

std::optional<GeneratedCall> sendBeside(const standin::Project& project, int clicked, int shownBefore) {
    const standin::Track* u = project.trackById(clicked);
    if (!u) return std::nullopt;
    std::vector<std::pair<int, std::string>> sends, shown;
    for (int id : plainTracks(project, [&](const standin::Track& t) { return t.id != clicked; }))
        for (const auto& send : project.trackById(id)->strip.sends)
            for (const auto& its : u->strip.sends)
                if (its.bus == send.bus) (id == shownBefore ? shown : sends).push_back({id, "Bus " + std::to_string(send.bus)});
    if (!shown.empty() && mostly()) sends = shown;
    if (sends.empty()) sends = shown;
    if (sends.empty()) return std::nullopt;
    const auto& [id, bus] = *rc::gen::elementOf(sends);
    GeneratedCall c{"set_send_level", {{"track_name", askedName(project, *project.trackById(id))}, {"bus_label", bus}},
                    std::nullopt};
    drawSendLevel(c.args);
    return c;
}

rc::Gen<double> genStopMoment(double length, const std::vector<double>& presses,
                              const std::vector<double>& menuPresses) {
    const double millis = std::max(0.0, std::floor(length * 1000));
    const auto before = [millis](double last) { return std::max(0.0, millis - last * 1000) / 1000; };
    const auto start = rc::gen::just(0.0);
    const auto along =
        rc::gen::map(rc::gen::inRange(0, 1000), [millis](int f) { return std::floor(millis * f / 1000) / 1000; });
    const auto last = rc::gen::map(rc::gen::elementOf(std::vector<double>{0.002, 0.01, 0.05, 0.2, 0.35, 0.65}), before);
    if (presses.empty()) return rc::gen::weightedOneOf<double>({{1, start}, {4, along}, {2, last}});
    const auto afterPress =
        rc::gen::map(rc::gen::elementOf(presses), [](double at) { return std::floor(at * 1000) / 1000 + 0.001; });
    if (menuPresses.empty()) return rc::gen::weightedOneOf<double>({{1, start}, {4, along}, {2, last}, {3, afterPress}});
    const auto menuOpen =
        rc::gen::map(rc::gen::elementOf(menuPresses), [](double at) { return std::floor(at * 1000) / 1000 + 0.001; });
    return rc::gen::weightedOneOf<double>({{1, start}, {4, along}, {2, last}, {3, afterPress}, {8, menuOpen}});
}

std::optional<GeneratedCall> prerequisiteWrite(const standin::Project& project, const PluginMapStore& maps) {
    std::vector<std::pair<int, std::size_t>> slots;  // track id, slot
    for (int id : plainTracks(project, [](const standin::Track&) { return true; })) {
        const auto& inserts = project.trackById(id)->strip.inserts;
        for (std::size_t i = 0; i < inserts.size(); ++i)
            if (const PluginMap* map = maps.mapForPlugin(inserts[i].plugin))
                if (std::any_of(map->parameters.begin(), map->parameters.end(),
                                [](const ParameterDef& d) { return d.writePrereq.has_value(); }))
                    slots.push_back({id, i});
    }
    if (slots.empty()) return std::nullopt;
    const auto [id, slot] = *rc::gen::elementOf(slots);
    const standin::Track* t = project.trackById(id);
    const std::string plugin = t->strip.inserts[slot].plugin;
    std::vector<std::string> labels;
    for (const auto& d : maps.mapForPlugin(plugin)->parameters)
        if (d.writePrereq) labels.push_back(d.label);
    const std::string label = *rc::gen::elementOf(labels);
    std::string value = "50";
    for (const auto& p : settableParams(project, plugin))
        if (p.label == label) value = drawValueFor(p);
    return GeneratedCall{"set_plugin_parameter",
                         {{"track_name", t->name},
                          {"plugin_index", static_cast<int>(slot)},
                          {"parameter_name", label},
                          {"value", value}},
                         std::nullopt};
}

std::vector<std::string> aroundTools(int call, bool sameTitle, const std::vector<std::string>& windowTools,
                                     const std::vector<std::string>& tools) {
    std::vector<std::string> behind;
    for (const char* tool :
         {"set_plugin_sidechain", "set_plugin_sidechain", "set_plugin_sidechain", "set_plugin_bypass"})
        if (std::find(tools.begin(), tools.end(), tool) != tools.end()) behind.push_back(tool);
    if (call != 1 || behind.empty() || (!sameTitle && mostly(1)) || (sameTitle && !mostly())) return windowTools;
    return behind;
}

std::optional<GeneratedCall> writeFromAnEnd(const standin::Project& project, const PluginMapStore& maps) {
    struct Slider {
        int track;
        std::size_t slot;
        standin::detail::ParamSpec param;
    };
    std::vector<Slider> sliders, atTop;
    for (int id : plainTracks(project, [](const standin::Track&) { return true; })) {
        const auto& inserts = project.trackById(id)->strip.inserts;
        for (std::size_t i = 0; i < inserts.size(); ++i) {
            if (maps.mapForPlugin(inserts[i].plugin)) continue;
            for (const auto& p : settableParams(project, inserts[i].plugin)) {
                const auto raw = inserts[i].params.find(p.id);
                if (p.sliderLike() && raw != inserts[i].params.end() &&
                    (raw->second == p.rawMin || raw->second == p.rawMax))
                    (raw->second == p.rawMax ? atTop : sliders).push_back({id, i, p});
            }
        }
    }
    // Mostly one at the top of its range, whose way down passes the most of its steps.
    if (sliders.empty() || (!atTop.empty() && mostly())) sliders = atTop;
    if (sliders.empty()) return std::nullopt;
    const Slider& s = *rc::gen::elementOf(sliders);
    const standin::Track* t = project.trackById(s.track);
    GeneratedCall c{
        "set_plugin_parameter",
        {{"track_name", askedName(project, *t)}, {"parameter_name", s.param.label}, {"value", drawValueFor(s.param)}},
        std::nullopt};
    drawSlotOf(c.args, *t, [&](const standin::InsertSlot& slot) { return slot.uid == t->strip.inserts[s.slot].uid; });
    return c;
}

std::optional<GeneratedCall> nextCall(const standin::Project& project, const std::vector<std::string>& tools) {
    std::vector<std::string> unique;
    for (const auto& t : project.tracks)
        if ((t.kind == standin::TrackKind::audio || t.kind == standin::TrackKind::instrument) &&
            project.isVisible(t.id) && listedIdsNamed(project, t.name).size() == 1)
            unique.push_back(t.name);
    if (unique.empty()) return std::nullopt;
    const std::string name = *rc::gen::elementOf(unique);
    const standin::Track* t = project.track(name);
    const bool mute = std::find(tools.begin(), tools.end(), "set_track_mute") != tools.end();
    if (!mute || *rc::gen::arbitrary<bool>())
        return GeneratedCall{"get_track_details", {{"track_name", name}}, std::nullopt};
    return GeneratedCall{"set_track_mute", {{"track_name", name}, {"enabled", !(t && t->muted)}}, std::nullopt};
}

}  // namespace corvane::generated
