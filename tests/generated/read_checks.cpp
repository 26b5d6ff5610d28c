#include "generated/read_checks.h"

#include <algorithm>
#include <cmath>

#include "generated/answer_checks.h"
#include "generated/call_text.h"
#include "platform/standin/plugin_parameters.h"
#include "platform/standin/taper.h"
#include "support/numbers.h"

namespace corvane::generated {

using nlohmann::json;

namespace {

// Where two lists part: the first row that differs, or the lengths.
std::optional<std::string> parting(const json& reported, const json& shown) {
    for (std::size_t i = 0; i < std::max(reported.size(), shown.size()); ++i) {
        const json r = i < reported.size() ? reported[i] : json("none");
        const json s = i < shown.size() ? shown[i] : json("none");
        if (r != s) return "row " + std::to_string(i) + " reports " + r.dump() + ", the project shows " + s.dump();
    }
    return std::nullopt;
}

// One line of the track list as list_tracks and get_arrangement name it.
json listed(const standin::Track& t) {
    return {{"number", t.number}, {"name", t.name}, {"isMuted", t.muted},
            {"isFolder", t.kind == standin::TrackKind::folder}};
}

void checkTrackList(const json& report, const standin::Project& p, std::vector<std::string>& out) {
    json shown = json::array(), reported = json::array();
    for (int id : p.visibleTrackIds()) shown.push_back(listed(*p.trackById(id)));
    for (const auto& t : report.value("tracks", json::array()))
        reported.push_back({{"number", t.value("number", json())}, {"name", t.value("name", json())},
                            {"isMuted", t.value("isMuted", json())}, {"isFolder", t.value("isFolder", json())}});
    if (const auto why = parting(reported, shown)) out.push_back("list_tracks: " + *why);
}

void checkTransport(const json& r, const standin::Project& bp, const ProjectState& before, const ProjectState& after,
                    bool readsMayFail, std::vector<std::string>& out) {
    const auto& t = bp.transport;
    if (r.contains("tempo")) {
        const auto tempo = r["tempo"].is_string() ? readNumber(r["tempo"].get<std::string>()) : std::nullopt;
        if (!tempo || !sameNumber(r["tempo"].get<std::string>(), t.tempo))
            out.push_back("get_transport: tempo " + r["tempo"].dump() + ", the project's is " + std::to_string(t.tempo));
    }
    const std::string signature = std::to_string(t.numerator) + "/" + std::to_string(t.denominator);
    if (r.contains("timeSignature") && r["timeSignature"] != signature)
        out.push_back("get_transport: time signature " + r["timeSignature"].dump() + ", the project's is " + signature);
    const bool playing = before.transport["playing"].get<bool>() || after.transport["playing"].get<bool>();
    if (r.contains("playheadBar")) {
        const auto barOf = [&](double ticks) { return static_cast<int>(std::floor(ticks / after.ticksPerBar)) + 1; };
        const int from = barOf(before.playheadTicks), to = barOf(after.playheadTicks);
        const int bar = r["playheadBar"].is_number_integer() ? r["playheadBar"].get<int>() : -1;
        // Playing, it is read somewhere on the way, the cycle taking it back to its start.
        const bool cycling = playing && t.cycleOn && bar >= t.cycleStartBar && bar <= t.cycleEndBar;
        const bool ok = !playing ? bar == from : from <= to ? bar >= from && bar <= to : bar >= from || bar <= to;
        if (!ok && !cycling)
            out.push_back("get_transport: playhead bar " + r["playheadBar"].dump() + ", the playhead is at bar " +
                          std::to_string(from) + (from != to ? " to " + std::to_string(to) : ""));
    }
    const std::vector<std::tuple<const char*, bool, bool>> flags{
        {"isPlaying", before.transport["playing"].get<bool>(), after.transport["playing"].get<bool>()},
        {"isRecording", before.transport["recording"].get<bool>(), after.transport["recording"].get<bool>()},
        {"cycleEnabled", before.transport["cycle"].get<bool>(), after.transport["cycle"].get<bool>()},
        {"globalSolo", t.globalSolo, t.globalSolo}};
    for (const auto& [key, was, is] : flags) {
        const bool said = r.value(key, false);
        // A switch that could not be read is said off.
        if (said != was && said != is && (said || !readsMayFail))
            out.push_back(std::string("get_transport: ") + key + " " + (said ? "true" : "false") + ", the project's is " +
                          (is ? "true" : "false"));
    }
}

// The bars each track sounds in, as get_arrangement names them: its unmuted regions, those that
// touch run together, within the song.
json spansOf(const standin::Track& t, int lastBar) {
    std::vector<std::pair<int, int>> regions;
    for (const auto& r : t.regions)
        if (!r.muted && r.lengthBars > 0) regions.push_back({r.startBar, r.startBar + r.lengthBars});
    std::stable_sort(regions.begin(), regions.end());
    json spans = json::array();
    const auto emit = [&](std::pair<int, int> run) {
        if (std::max(1, run.first) > lastBar) return;
        spans.push_back({{"startBar", std::max(1, run.first)}, {"endBar", std::min(std::max(1, run.second), lastBar + 1)}});
    };
    for (std::size_t i = 0; i < regions.size(); ++i) {
        auto run = regions[i];
        while (i + 1 < regions.size() && regions[i + 1].first <= run.second) run.second = std::max(run.second, regions[++i].second);
        emit(run);
    }
    return spans;
}

void checkArrangement(const GeneratedCall& c, const json& r, const standin::Project& bp, bool readsMayFail,
                      std::vector<std::string>& out) {
    if (!r.is_array()) {
        out.push_back("get_arrangement: not a list: " + r.dump());
        return;
    }
    for (const auto& e : r)
        if (e.contains("error")) {
            if (!readsMayFail) out.push_back("get_arrangement: " + e.dump() + " from a Logic Pro whose reads answer");
            return;
        }
    const std::string filter = lower(c.args.value("track_name", std::string()));
    json shown = json::array();
    for (int id : bp.visibleTrackIds()) {
        const standin::Track& t = *bp.trackById(id);
        if (!filter.empty() && lower(t.name).find(filter) == std::string::npos) continue;
        json row{{"trackNumber", t.number}, {"name", t.name}, {"hasContent", !t.regions.empty()}};
        if (!t.regions.empty()) row["spans"] = spansOf(t, bp.transport.lengthBars);
        shown.push_back(row);
    }
    if (const auto why = parting(r, shown)) out.push_back("get_arrangement: " + *why);
}

// A track's strip and chain as get_track_details reports them, from the project; the sends' tracks
// as the project names them.
json detailsOf(const standin::Project& p, const standin::Track& t) {
    const auto& s = t.strip;
    json plugins = json::array();
    for (std::size_t i = 0; i < s.inserts.size(); ++i)
        plugins.push_back({{"index", i}, {"isBypassed", s.inserts[i].bypassed}, {"name", s.inserts[i].plugin}});
    json d{{"status", "ok"}, {"trackName", t.name}, {"plugins", plugins}, {"volume", std::to_string(s.volume)},
           {"volumeDisplay", standin::taper::levelText(s.volume)}, {"pan", std::to_string(s.pan)},
           {"output", s.output}, {"channelMode", s.channelMode}};
    if (!s.input.empty()) d["input"] = s.input;
    json sends = json::array(), targets = json::object();
    for (const auto& send : s.sends) {
        const std::string label = "Bus " + std::to_string(send.bus);
        sends.push_back(label);
        if (const standin::Track* aux = p.trackById(p.trackFedBy(label))) targets[label] = aux->name;
    }
    d["sends"] = sends;
    d["sendTargets"] = targets;
    return d;
}

// What a track's report says that the project does not show; the members it leaves out (a value it
// could not read) say nothing.
std::vector<std::string> detailsDiffer(const json& reported, const json& shown) {
    std::vector<std::string> differ;
    for (const auto& [key, value] : reported.items()) {
        if (key == "inputBus" || !shown.contains(key)) continue;
        // A send whose bus has no track in the list yet is named by none; a bus track that shares its
        // name is named with its number ("Kick (track 8; …)").
        if (key == "sendTargets") {
            for (const auto& [label, track] : value.items()) {
                const std::string named = track.is_string() ? track.get<std::string>() : "";
                const std::string aux = shown[key].value(label, std::string());
                if (aux.empty() || (named != aux && named.rfind(aux + " (", 0) != 0))
                    differ.push_back(key + " " + label + ": " + track.dump() + ", the bus feeds " + json(aux).dump());
            }
            continue;
        }
        if (value != shown[key]) differ.push_back(key + " " + value.dump() + ", the project shows " + shown[key].dump());
    }
    if (!reported.contains("plugins")) differ.push_back("no plug-ins listed");
    return differ;
}

void checkTrackDetails(const GeneratedCall& c, const json& r, const standin::Project& bp, std::vector<std::string>& out) {
    std::vector<std::string> asked;
    if (c.args.contains("track_names") && c.args["track_names"].is_array()) {
        for (const auto& n : c.args["track_names"])
            if (n.is_string()) asked.push_back(n.get<std::string>());
    } else if (c.args.contains("track_name") && c.args["track_name"].is_string()) {
        asked.push_back(c.args["track_name"].get<std::string>());
    }
    std::erase_if(asked, [](const std::string& n) { return trimmed(n).empty(); });
    // The names read, in the order asked: those the failures name are not.
    for (const auto& f : r.value("failures", json::array())) {
        const auto at = std::find_if(asked.begin(), asked.end(),
                                     [&](const std::string& n) { return trimmed(n) == f.value("track", std::string()); });
        if (at != asked.end()) asked.erase(at);
    }
    const json tracks = r.value("tracks", json::array());
    if (tracks.size() != asked.size()) {
        out.push_back("get_track_details: " + std::to_string(tracks.size()) + " tracks read and " +
                      std::to_string(asked.size()) + " names asked that did not fail");
        return;
    }
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const json& reported = tracks[i];
        const std::string name = reported.value("trackName", std::string());
        if (lower(trimmed(name)) != lower(trimmed(asked[i]))) {
            out.push_back("get_track_details: '" + asked[i] + "' read as " + reported.dump());
            continue;
        }
        // Any of the tracks that bear the name may be the one read (a bus track the call put into
        // the list among them); it must be one of them whole.
        std::vector<std::string> best;
        bool agrees = false;
        for (int id : idsNamed(bp, name)) {
            const standin::Track& t = *bp.trackById(id);
            if (t.name != name) continue;
            auto differ = detailsDiffer(reported, detailsOf(bp, t));
            if (differ.empty()) agrees = true;
            if (best.empty() || differ.size() < best.size()) best = differ;
        }
        if (!agrees)
            out.push_back("get_track_details: '" + name + "' " +
                          (best.empty() ? std::string("names no track") : best.front()));
    }
}

void checkParameters(const GeneratedCall& c, const json& r, const standin::Project& bp, std::vector<std::string>& out) {
    const std::string trackName = r.value("trackName", std::string());
    std::vector<std::string> best;
    bool agrees = false, any = false;
    for (int id : listedIdsNamed(bp, c.args.value("track_name", std::string()))) {
        const standin::Track& t = *bp.trackById(id);
        const auto uid = slotUidAsked(c, t);
        if (t.name != trackName || !uid) continue;
        any = true;
        const auto slot = std::find_if(t.strip.inserts.begin(), t.strip.inserts.end(),
                                       [&](const standin::InsertSlot& s) { return s.uid == *uid; });
        std::vector<std::string> differ;
        if (r.value("pluginName", std::string()) != slot->plugin)
            differ.push_back("plug-in " + r.value("pluginName", json()).dump() + ", the slot holds " + slot->plugin);
        const standin::PluginDefinition* def = bp.plugin(slot->plugin);
        const auto params = def ? standin::detail::paramSpecs(*def) : std::vector<standin::detail::ParamSpec>{};
        for (const auto& e : r.value("parameters", json::array())) {
            if (!e.contains("currentDisplay") || !e["currentDisplay"].is_string()) continue;
            const json d = e.value("def", json::object());
            const std::string label = lower(d.value("label", std::string()));
            const std::string controls = lower(d.value("controlsLabel", std::string()));
            const auto param = std::find_if(params.begin(), params.end(), [&](const auto& p) {
                return lower(p.label) == label || lower(p.shownLabel()) == label ||
                       (!controls.empty() && lower(p.shownLabel()) == controls);
            });
            if (param == params.end()) continue;
            const double raw = standin::detail::paramRaw(*slot, *param);
            if (const std::string said = e["currentDisplay"].get<std::string>();
                sameShownValue(said, *param, raw) == std::optional<bool>(false))
                differ.push_back(param->label + " " + said + ", the control shows " + standin::detail::displayText(*param, raw));
        }
        if (differ.empty()) agrees = true;
        if (best.empty() || differ.size() < best.size()) best = differ;
    }
    if (!any)
        out.push_back("get_plugin_parameters: read " + r.value("pluginName", json()).dump() + " on '" + trackName +
                      "', not a slot the call names");
    else if (!agrees)
        out.push_back("get_plugin_parameters: on '" + trackName + "': " + best.front());
}

}  // namespace

void checkReport(const GeneratedCall& c, const standin::Project& bp, const ProjectState& before,
                 const ProjectState& after, const Outcome& o, std::vector<std::string>& out) {
    if (!isReadingTool(c.tool)) return;
    const json r = json::parse(o.output, nullptr, false);
    if (r.is_discarded()) {
        if (o.succeeded) out.push_back("report unreadable: " + o.output);
        return;
    }
    // An error reports nothing; a stopped call's answer may carry none.
    if (r.is_object() && (r.value("status", "") == "error" || r.empty())) return;
    std::vector<std::string> differ;
    if (c.tool == "list_tracks") checkTrackList(r, bp, differ);
    if (c.tool == "get_transport") checkTransport(r, bp, before, after, o.readsMayFail, differ);
    if (c.tool == "get_arrangement") checkArrangement(c, r, bp, o.readsMayFail, differ);
    if (c.tool == "get_track_details") checkTrackDetails(c, r, bp, differ);
    if (c.tool == "get_plugin_parameters") checkParameters(c, r, bp, differ);
    for (const auto& d : differ) out.push_back("report differs: " + d);
}

}  // namespace corvane::generated
