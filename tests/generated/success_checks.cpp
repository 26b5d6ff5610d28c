#include "generated/success_checks.h"

#include <algorithm>
#include <cmath>

#include "generated/answer_checks.h"
#include "generated/call_text.h"
#include "platform/standin/plugin_parameters.h"
#include "platform/standin/taper.h"
#include "platform/standin/world.h"
#include "support/numbers.h"

namespace corvane::generated {

using nlohmann::json;

namespace {

// Whether the fader stands where a level target puts it: at the bottom for -60 dB and below, else
// on a step whose shown level is nearest to it (of two that show the same distance, either).
bool levelReached(int raw, double db) {
    if (db <= -60) return raw == 0;
    const auto off = [&](int r) {
        const auto shown = readNumber(standin::taper::levelText(r, true));
        return r > 0 && shown ? std::fabs(*shown - db) : HUGE_VAL;
    };
    double nearest = HUGE_VAL;
    for (int r = 1; r <= standin::taper::kMaxRaw; ++r) nearest = std::min(nearest, off(r));
    return off(raw) <= nearest + 1e-9;
}

// The detent a send's level target puts the knob on: the bottom for -60 dB and below.
int sendDetentFor(double db) { return db <= -60 ? 0 : standin::taper::nearestSendDetent(db); }

// The send's steps either side of a level, the same one when the level is a step.
std::pair<int, int> sendStepsAround(double db) {
    int lower = 1;
    for (int d = 1; d < standin::taper::kSendDetents; ++d)
        if (standin::taper::sendDetentDb(d) <= db + 1e-9) lower = d;
    if (std::fabs(standin::taper::sendDetentDb(lower) - db) < 1e-9 || lower + 1 >= standin::taper::kSendDetents)
        return {lower, lower};
    return {lower, lower + 1};
}

// A parameter set with success shows the value asked, as the slot's own display reads it: a switch
// on or off, a level within a hundredth of the control's range (held at its ends).
void checkParameterReached(const GeneratedCall& c, const standin::Project& bp, const standin::Track& target, int uid,
                           const json& now, const std::string& summary, std::vector<std::string>& out) {
    const json* slot = slotIn(now, uid);
    const standin::PluginDefinition* def = slot ? bp.plugin((*slot)["plugin"].get<std::string>()) : nullptr;
    if (!def) return;
    const auto params = standin::detail::paramSpecs(*def);
    const std::string named = lower(c.args["parameter_name"].get<std::string>());
    const auto param = std::find_if(params.begin(), params.end(), [&](const auto& p) {
        return lower(p.label) == named || lower(p.shownLabel()) == named;
    });
    if (param == params.end()) return;
    standin::InsertSlot held;
    for (const auto& s : target.strip.inserts)
        if (s.uid == uid) held = s;
    held.params = (*slot)["params"].get<std::map<std::string, double>>();
    const double raw = standin::detail::paramRaw(held, *param);
    const std::string asked = c.args["value"].get<std::string>();
    const std::string shown = standin::detail::displayText(*param, raw);
    auto fail = [&] {
        out.push_back("success not shown: " + param->label + " of " + (*slot)["plugin"].dump() + " shows " + shown +
                      ", asked '" + asked + "' (" + summary + ")");
    };
    if (param->type == "toggle") {
        if ((asked == "on" && raw == 0) || (asked == "off" && raw != 0)) fail();
        return;
    }
    const auto space = asked.find(' ');
    if (!param->sliderLike() || space == std::string::npos) return;
    auto number = readNumber(asked.substr(0, space));
    // Asked in the other unit of its family ("1.5 s" of a parameter in ms): as the parameter's unit.
    if (const std::string unit = asked.substr(space + 1); number && unit != param->unit) {
        const auto base = inBaseUnit(*number, unit), scale = inBaseUnit(1, param->unit);
        number = base && scale ? std::optional<double>(*base / *scale) : std::nullopt;
    }
    const auto value = standin::detail::displayValue(*param, raw);
    if (!number || !value) return;
    const double lo = std::min(*param->displayMin, *param->displayMax),
                 hi = std::max(*param->displayMin, *param->displayMax);
    const double wanted = std::clamp(*number, lo, hi);
    // On a coarse curve the nearest raw step may lie further than that: it counts as reached, judged
    // by the values the steps show (two that show the same distance are both nearest).
    const auto off = [&](double r) {
        const auto v = shownValue(*param, std::clamp(r, param->rawMin, param->rawMax));
        return v ? std::fabs(*v - wanted) : HUGE_VAL;
    };
    const bool nearestStep = off(raw) <= off(raw - 1) + 1e-9 && off(raw) <= off(raw + 1) + 1e-9;
    if (std::fabs(*value - wanted) > (hi - lo) / 100 && !nearestStep) fail();
}

}  // namespace

// What success must show on the target, read from the project after; a line per shortfall.
void checkShown(const GeneratedCall& c, const standin::Project& bp, const ProjectState& before,
                const ProjectState& after, const std::string& summary, std::vector<std::string>& out) {
    const std::string trackName = c.args.value("track_name", std::string());
    const auto ids = listedIdsNamed(bp, trackName);
    const standin::Track* target = ids.size() == 1 ? bp.trackById(ids.front()) : nullptr;
    const json* now = target ? trackIn(after, target->id) : nullptr;
    auto fail = [&](const std::string& what) { out.push_back("success not shown: " + what); };

    if (c.tool == "set_track_mute" || c.tool == "set_track_solo") {
        const bool wanted = c.args["enabled"].get<bool>();
        const char* key = c.tool == "set_track_mute" ? "muted" : "soloed";
        for (const auto& n : targetNames(c)) {
            auto named = listedIdsNamed(bp, n);
            if (named.size() != 1 || !bp.isVisible(named.front())) continue;
            // A call on several tracks may fail some and say so.
            if (toldFailed(summary, n)) continue;
            if (const json* t = trackIn(after, named.front()); t && (*t)[key].get<bool>() != wanted)
                fail("'" + n + "' " + key + " is " + ((*t)[key].get<bool>() ? "on" : "off"));
        }
    } else if (c.tool == "set_track_volume" || c.tool == "set_track_pan") {
        // Each track asked of, alone or in a list, unless the answer says it failed.
        const bool volume = c.tool == "set_track_volume";
        std::vector<std::pair<std::string, json>> asked;
        if (c.args.contains("tracks"))
            for (const auto& w : c.args["tracks"]) asked.push_back({w["track_name"].get<std::string>(), w["value"]});
        else if (c.args.contains("value"))
            asked.push_back({trackName, c.args["value"]});
        for (std::size_t k = 0; k < asked.size(); ++k) {
            const auto& [name, v] = asked[k];
            // A track asked of twice ends where the later asks.
            if (std::any_of(asked.begin() + static_cast<std::ptrdiff_t>(k) + 1, asked.end(),
                            [&](const auto& later) { return lower(trimmed(later.first)) == lower(trimmed(name)); }))
                continue;
            const auto named = listedIdsNamed(bp, name);
            if (named.size() != 1) continue;
            if (toldFailed(summary, name)) continue;
            const json* was = trackIn(before, named.front());
            const json* is = trackIn(after, named.front());
            if (!was || !is) continue;
            const char* key = volume ? "volume" : "pan";
            const int value = (*is)[key].get<int>();
            const int lo = volume ? 0 : -64, hi = volume ? 255 : 63;
            std::optional<int> wanted;
            if (auto db = absoluteDb(v); volume && db) {
                if (*db >= -96 && *db <= 6 && !levelReached(value, *db))
                    fail("volume of '" + name + "' is " + standin::taper::levelText(value) + ", asked " + v.dump());
                continue;
            }
            if (v.is_number()) {
                if (v.get<double>() >= lo && v.get<double>() <= hi)
                    wanted = static_cast<int>(std::trunc(v.get<double>()));
            } else if (auto n = numberIn(v); n && v.is_string() && !v.get<std::string>().empty() &&
                                             (v.get<std::string>()[0] == '+' || v.get<std::string>()[0] == '-')) {
                // A signed text is a step from where the control stood, held at its ends.
                wanted =
                    static_cast<int>(std::trunc(std::clamp((*was)[key].get<double>() + *n, double(lo), double(hi))));
            }
            if (wanted && std::abs(value - *wanted) > (volume ? 1 : 0))
                fail(std::string(key) + " of '" + name + "' is " + std::to_string(value) + ", asked " + v.dump() +
                     " from " + (*was)[key].dump());
        }
    } else if (c.tool == "rename_track") {
        const auto named = listedIdsNamed(bp, c.args["current_name"].get<std::string>());
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
        if (auto uid = slotUidAsked(c, *target);
            uid && wanted &&
            (wanted->kind == standin::TrackKind::audio || wanted->kind == standin::TrackKind::instrument))
            if (const json* s = slotIn(*now, *uid); s && (*s)["sideChain"] != wanted->name)
                fail("side chain shows " + (*s)["sideChain"].dump() + ", asked '" + source + "'");
    } else if (c.tool == "set_send_level" && now) {
        // The level asked, or the one a change leads to from where the send stood; between two of
        // the send's steps the nearest is taken (either at the middle) and the answer says so.
        const std::string label = c.args["bus_label"].get<std::string>();
        const json* was = trackIn(before, target->id);
        for (std::size_t i = 0; was && i < (*now)["sends"].size(); ++i) {
            const json& s = (*now)["sends"][i];
            if (label != "Bus " + s["bus"].dump()) continue;
            std::optional<double> db = c.args.contains("target_db") ? numberIn(c.args["target_db"]) : std::nullopt;
            if (c.args.contains("delta_db"))
                if (auto delta = numberIn(c.args["delta_db"]); delta && i < (*was)["sends"].size()) {
                    const double from = standin::taper::sendDetentDb((*was)["sends"][i]["detent"].get<int>());
                    // Below -60 dB lies only the bottom; either end of that gap is taken.
                    db = std::isinf(from) || from + *delta < -60 ? std::nullopt
                                                                 : std::optional<double>(std::min(from + *delta, 6.0));
                }
            // -60 dB and below the send is silenced, as the volume is.
            if (!db || *db <= -60 || *db > 6) continue;
            const int detent = s["detent"].get<int>();
            const auto [lower, upper] = sendStepsAround(*db);
            const double gapLower = *db - standin::taper::sendDetentDb(lower);
            const double gapUpper = standin::taper::sendDetentDb(upper) - *db;
            const bool nearest = lower == upper ? detent == lower
                                                : (detent == lower && gapLower <= gapUpper + 1e-9) ||
                                                      (detent == upper && gapUpper <= gapLower + 1e-9);
            if (!nearest)
                fail("send to " + label + " shows " + standin::taper::sendDetentText(detent) + ", asked " +
                     c.args.dump() + " (nearest step " +
                     standin::taper::sendDetentText(gapLower <= gapUpper ? lower : upper) + ")");
            else if (lower != upper && !mentions(summary, "between"))
                fail("send to " + label + ": " + std::to_string(*db) +
                     " dB falls between two steps and the answer does not say so");
        }
    } else if ((c.tool == "set_folder_expanded" || c.tool == "expand_folder" || c.tool == "collapse_folder") && now &&
               target->kind == standin::TrackKind::folder) {
        const bool wanted = c.args.value("expanded", c.tool != "collapse_folder");
        if ((*now)["expanded"].get<bool>() != wanted)
            fail("folder '" + trackName + "' expanded is " + (*now)["expanded"].dump());
    } else if (c.tool == "remove_plugin" && now) {
        if (auto uid = slotUidAsked(c, *target); uid && slotIn(*now, *uid)) fail("the slot is still there");
    } else if (c.tool == "add_plugin" && now) {
        // The new slot holds the plug-in asked, in the slot asked; without one (or past the end) at
        // the end of the chain, or just before the analysis plug-in that ends it.
        const auto& chain = (*now)["inserts"];
        const auto& old = target->strip.inserts;
        std::optional<std::size_t> added;
        for (std::size_t i = 0; i < chain.size(); ++i)
            if (std::none_of(old.begin(), old.end(),
                             [&](const standin::InsertSlot& x) { return chain[i]["uid"] == x.uid; }))
                added = i;
        const std::size_t size = old.size();
        const bool indexed = c.args.contains("slot_index") && c.args["slot_index"].get<std::size_t>() < size;
        const bool analysisLast = size > 0 && old.back().plugin == "Corvane";
        if (chain.size() != size + 1 || !added)
            fail("the chain did not grow by one");
        else if (lower(chain[*added]["plugin"].get<std::string>()) != lower(c.args["plugin_name"].get<std::string>()))
            fail("the new slot holds " + chain[*added]["plugin"].dump() + ", asked " + c.args["plugin_name"].dump());
        else if (indexed ? *added != c.args["slot_index"].get<std::size_t>()
                         : *added != size && !(analysisLast && *added + 1 == size))
            fail(c.args["plugin_name"].get<std::string>() + " went to slot " + std::to_string(*added) +
                 (indexed ? ", asked slot " + c.args["slot_index"].dump() : ", not the end of the chain"));
    } else if (c.tool == "set_plugin_parameter" && now) {
        if (auto uid = slotUidAsked(c, *target)) checkParameterReached(c, bp, *target, *uid, *now, summary, out);
    } else if (c.tool == "ensure_bus_track") {
        // The bus's aux track is in the track list.
        const std::string label = c.args["bus_label"].get<std::string>();
        for (const auto& [id, t] : after.tracks)
            if (t["kind"] == "aux" && t["input"] == label && !t["inArrange"].get<bool>())
                fail("the aux track of " + label + " is not in the track list");
    } else if (c.tool == "ensure_master_track") {
        // The output track is in the track list, and every other track keeps its place. The menu
        // item that shows it hides it while listed: shown again, it moves to the end, and the
        // answer gives its new number. The selection is as it was, or the answer says what it is.
        std::vector<std::string> names;
        for (const auto* state : {&before, &after})
            for (const auto& [id, t] : state->tracks) names.push_back(t["name"].get<std::string>());
        // One sentence names the track and "track N" (N whole).
        auto placeNamed = [&](const std::string& name, const std::string& number) {
            for (const auto& sentence : sentencesOf(summary)) {
                if (!namesWhole(sentence, name, names)) continue;
                const std::string place = "track " + number;
                for (auto at = sentence.find(place); at != std::string::npos; at = sentence.find(place, at + 1))
                    if (at + place.size() == sentence.size() ||
                        !std::isdigit(static_cast<unsigned char>(sentence[at + place.size()])))
                        return true;
            }
            return false;
        };
        for (const auto& [id, t] : after.tracks) {
            const bool output = t["kind"] == "output";
            const std::string name = t["name"].get<std::string>();
            if (output && !t["inArrange"].get<bool>()) fail("the output track '" + name + "' is not in the track list");
            const json* was = trackIn(before, id);
            if (!was || !(*was)["inArrange"].get<bool>() || !t["inArrange"].get<bool>() ||
                (*was)["number"] == t["number"])
                continue;
            if (!output)
                fail("'" + name + "' moved from #" + (*was)["number"].dump() + " to #" + t["number"].dump());
            else if (!placeNamed(name, t["number"].dump()))
                fail("the output track '" + name + "' moved from #" + (*was)["number"].dump() + " to #" +
                     t["number"].dump() + " and the answer does not give its new number");
        }
        const bool told =
            !after.selected.empty() && std::all_of(after.selected.begin(), after.selected.end(), [&](int id) {
                const json* t = trackIn(after, id);
                return t && namedWith(summary, (*t)["name"].get<std::string>(), {"select"}, names);
            });
        if (before.selected != after.selected && !told) fail("the selection changed and the answer does not say so");
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
                  const ProjectState& after, const std::string& said, std::vector<std::string>& out) {
    const auto ids = listedIdsNamed(bp, c.args.value("track_name", std::string()));
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
            // The walk goes one step a write: stopped, it stands on a step on the way, which it names.
            if (const std::string at = standin::taper::sendDetentText(a[i]["detent"].get<int>());
                a[i] != b[i] && a[i]["detent"].get<int>() != sendDetentFor(*db) && !mentions(said, at + " dB"))
                out.push_back("step split: the send to Bus " + a[i]["bus"].dump() + " stands at " + at +
                              " and the answer does not say so");
    }
}

}  // namespace corvane::generated
