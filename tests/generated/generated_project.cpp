#include "generated/generated_project.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "generated/call_text.h"

namespace corvane::generated {

using nlohmann::json;

const std::vector<std::string>& namePool() {
    // No name begins or ends in a space: requested names are trimmed, and such a track could not be named.
    static const std::vector<std::string> pool{"Kick",   "Kick 2",   "Kick Sub",  "kick",     "KICK",  "Snare",
                                               "Bass",   "Lead Vox", "Lead  Vox", "lead vox", "Keys",  "Guitar",
                                               "Reverb", "Delay",    "Bus 1",     "Bus 2",    "Master"};
    return pool;
}

const std::vector<std::string>& pluginPool() {
    // Two with a shipped map (Compressor, Drift Delay), the rest read without one; Corvane is the analysis plug-in.
    static const std::vector<std::string> pool{"Channel EQ", "Compressor", "Limiter", "Drift Delay", "Tube Saturator"};
    return pool;
}

namespace {

const std::vector<std::string> kFolderNames{"Drums", "Vox", "Kick", "Band"};
const std::vector<std::string> kAuxNames{"Reverb", "Delay", "Kick", "Aux 1"};

int arrangeCountOf(const TrackShape& t) {
    int n = 1;
    for (const auto& c : t.children) n += arrangeCountOf(c);
    return n;
}

rc::Gen<int> edgeOr(std::vector<int> edges, int lo, int hiInclusive) {
    return rc::gen::weightedOneOf<int>({{2, rc::gen::elementOf(edges)}, {1, rc::gen::inRange(lo, hiInclusive + 1)}});
}

// A track's regions: mostly one from the first bar, else none or several that may touch, overlap,
// be muted or run on past the song's end (or start after it).
rc::Gen<std::vector<RegionShape>> genRegions() {
    const auto region = rc::gen::exec([] {
        RegionShape r;
        r.start = *edgeOr({1, 9, 17, 33, 64, 65}, 1, 72);
        r.bars = *edgeOr({1, 4, 8, 16}, 1, 48);
        r.muted = *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(false)}, {1, rc::gen::just(true)}});
        return r;
    });
    // Two that touch or overlap, the second starting where the first ends or within it.
    const auto pair = rc::gen::exec([region] {
        std::vector<RegionShape> rs{*region};
        RegionShape next = *region;
        next.start = rs[0].start + *rc::gen::inRange(0, rs[0].bars + 1);
        rs.push_back(next);
        return rs;
    });
    return rc::gen::weightedOneOf<std::vector<RegionShape>>(
        {{2, rc::gen::just(std::vector<RegionShape>{RegionShape{}})},
         {1, rc::gen::just(std::vector<RegionShape>{})},
         {2, rc::gen::container<std::vector<RegionShape>>(*rc::gen::inRange(1, 5), region)},
         {2, pair}});
}

json pluginDefinitions();

// A plug-in's sliders as a user may leave them, each at one end of its range or the other.
json slidersAtEnds(const std::string& plugin) {
    json params = json::object();
    for (const auto& def : pluginDefinitions())
        if (def.value("name", "") == plugin)
            for (const auto& p : def.value("parameters", json::array()))
                if (p.value("type", "") == "continuous" && p.contains("raw") && p["raw"].size() == 2)
                    params[p["id"].get<std::string>()] =
                        *rc::gen::elementOf(std::vector<json>{p["raw"][0], p["raw"][1]});
    return params;
}

TrackShape genTrack(const std::string& kind, int buses, const std::vector<std::string>& names) {
    TrackShape t;
    t.kind = kind;
    t.name = *rc::gen::elementOf(names);
    if (kind == "folder") {
        t.collapsedAtLoad = *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(false)}, {1, rc::gen::just(true)}});
        return t;
    }
    t.hidden = *rc::gen::weightedOneOf<bool>({{9, rc::gen::just(false)}, {1, rc::gen::just(true)}});
    t.volume = *edgeOr({0, 1, 200, 225, 254, 255}, 0, 255);
    t.pan = *edgeOr({-64, 0, 63}, -64, 63);
    t.muted = *rc::gen::weightedOneOf<bool>({{4, rc::gen::just(false)}, {1, rc::gen::just(true)}});
    t.soloed = *rc::gen::weightedOneOf<bool>({{6, rc::gen::just(false)}, {1, rc::gen::just(true)}});
    const int slots = *rc::gen::inRange(0, 4);
    for (int i = 0; i < slots; ++i) {
        SlotShape s;
        // The Compressor, the Drift Delay and the Tube Saturator more often: one has a side chain and
        // parameters a call can set, one parameters typed in two units and options chosen first, and
        // the last sliders written through the Controls view, without a map.
        s.plugin = *rc::gen::weightedOneOf<std::string>({{2, rc::gen::elementOf(pluginPool())},
                                                         {2, rc::gen::just(std::string("Compressor"))},
                                                         {1, rc::gen::just(std::string("Drift Delay"))},
                                                         {1, rc::gen::just(std::string("Tube Saturator"))}});
        s.bypassed = *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(false)}, {1, rc::gen::just(true)}});
        // Now and then its sliders stand at the ends of their ranges: a write nudges one from there.
        if (*rc::gen::arbitrary<bool>()) s.params = slidersAtEnds(s.plugin);
        t.inserts.push_back(s);
    }
    if (*rc::gen::weightedOneOf<bool>({{2, rc::gen::just(false)}, {1, rc::gen::just(true)}}))
        t.inserts.push_back({"Corvane", false, ""});
    t.regions = *genRegions();
    if (buses > 0) {
        // Most tracks send: a send, its bus's track and its level need one to reach. With ten buses
        // or more, mostly to buses whose names start alike ("Bus 1", "Bus 10"), in either order.
        const int sends = *rc::gen::weightedOneOf<int>(
            {{1, rc::gen::just(0)}, {3, rc::gen::inRange(1, std::min(buses, 3) + 1)}});
        std::vector<int> pool;
        for (int bus = 1; bus <= buses; ++bus) pool.push_back(bus);
        if (buses >= 10 && *rc::gen::weightedOneOf<bool>({{1, rc::gen::just(false)}, {2, rc::gen::just(true)}}))
            pool = {1, *rc::gen::inRange(10, buses + 1)};
        for (int i = 0; i < sends && !pool.empty(); ++i) {
            const std::size_t at = *rc::gen::inRange<std::size_t>(0, pool.size());
            t.sends.push_back({pool[at], *edgeOr({0, 1, 9, 45, 56, 57}, 0, 57)});
            pool.erase(pool.begin() + static_cast<std::ptrdiff_t>(at));
        }
    }
    return t;
}

rc::Gen<std::string> genKind() {
    return rc::gen::weightedOneOf<std::string>(
        {{3, rc::gen::just(std::string("audio"))}, {1, rc::gen::just(std::string("instrument"))}});
}

// A folder of `room` tracks or fewer, itself counted; a folder two deep holds no folder.
TrackShape genFolder(int room, int depth, int buses, const std::vector<std::string>& names) {
    TrackShape f = genTrack("folder", buses, kFolderNames);
    // A folder within a folder is as often collapsed as not: the look into it must go two deep.
    if (depth > 1) f.collapsedAtLoad = *rc::gen::arbitrary<bool>();
    int left = *rc::gen::inRange(1, std::min(5, room - 1) + 1);
    while (left > 0) {
        const bool nested = depth < 2 && left >= 2 &&
                            *rc::gen::weightedOneOf<bool>({{2, rc::gen::just(false)}, {1, rc::gen::just(true)}});
        if (nested) {
            f.children.push_back(genFolder(left, depth + 1, buses, names));
            left -= arrangeCountOf(f.children.back());
        } else {
            f.children.push_back(genTrack(*genKind(), buses, names));
            --left;
        }
    }
    return f;
}

void flatten(const std::vector<TrackShape>& tracks, std::vector<const TrackShape*>& out) {
    for (const auto& t : tracks) {
        out.push_back(&t);
        flatten(t.children, out);
    }
}

// `number`: the track's place in the depth-first list, counting hidden tracks too.
json trackJSON(const TrackShape& t, int& number) {
    json j{{"name", t.name}, {"kind", t.kind}};
    ++number;
    if (t.kind == "folder") {
        j["expanded"] = !t.collapsedAtLoad;
        j["children"] = json::array();
        for (const auto& c : t.children) j["children"].push_back(trackJSON(c, number));
        return j;
    }
    if (t.hidden) {
        // Logic Pro's hidden tracks keep their numbers: the list shows a gap where one is.
        j["inArrange"] = false;
        j["number"] = number;
    }
    j["volume"] = t.volume;
    j["pan"] = t.pan;
    j["muted"] = t.muted;
    j["soloed"] = t.soloed;
    j["inserts"] = json::array();
    for (const auto& s : t.inserts) {
        json slot{{"plugin", s.plugin}, {"bypassed", s.bypassed}};
        if (!s.sideChain.empty()) slot["sideChain"] = s.sideChain;
        if (!s.params.empty()) slot["params"] = s.params;
        j["inserts"].push_back(slot);
    }
    j["sends"] = json::array();
    for (const auto& s : t.sends) j["sends"].push_back({{"bus", s.bus}, {"detent", s.detent}});
    j["regions"] = json::array();
    for (const auto& r : t.regions) {
        json region{{"start", r.start}, {"bars", r.bars}};
        if (r.muted) region["muted"] = true;
        j["regions"].push_back(region);
    }
    return j;
}

json readScenario(const std::string& file) {
    std::ifstream in(std::string(CORVANE_SOURCE_DIR) + "/resources/Scenarios/" + file);
    std::stringstream s;
    s << in.rdbuf();
    return json::parse(s.str());
}

// Every plug-in definition the shipped scenarios carry, once each.
json pluginDefinitions() {
    static const json all = [] {
        json list = json::array();
        for (const char* file : {"demo-song.json", "plugin-editors.json"}) {
            const json scenario = readScenario(file);
            for (const auto& p : scenario["plugins"]) {
                const bool known =
                    std::any_of(list.begin(), list.end(), [&](const json& q) { return q["name"] == p["name"]; });
                if (!known) list.push_back(p);
            }
        }
        return list;
    }();
    return all;
}

}  // namespace

// Most projects run on a healthy Logic Pro; the rest on one whose elements go stale, whose strip
// follows the selection late, whose reads fail now and then, or which refuses a fader or pan write.
// The kinds of fault drawn: CORVANE_GENERATED_FAULTS names them (comma-separated: "always" and
// "afterReads" for handles that go stale, "lateStrip", "axError", "writeError"; "none" for a
// healthy Logic Pro only); unset, every kind.
std::vector<std::string> faultKinds() {
    std::vector<std::string> kinds{"always", "afterReads", "lateStrip", "axError", "writeError"};
    if (const char* env = std::getenv("CORVANE_GENERATED_FAULTS")) {
        std::vector<std::string> named;
        std::stringstream s(env);
        for (std::string k; std::getline(s, k, ',');)
            if (std::find(kinds.begin(), kinds.end(), k) != kinds.end()) named.push_back(k);
        kinds = named;
    }
    return kinds;
}

namespace {

rc::Gen<json> genFaults() {
    const auto kinds = faultKinds();
    const auto has = [&](const char* k) { return std::find(kinds.begin(), kinds.end(), k) != kinds.end(); };
    std::vector<json> staleModes;
    // Handles that go stale at every change, or after three reads, the most often: there a handle the
    // turn holds from one call to the next, or a window's that a search of it uses up, goes stale.
    if (has("always")) staleModes.insert(staleModes.end(), 3, "always");
    if (has("afterReads"))
        for (const char* m : {"afterReads 3", "afterReads 3", "afterReads 3", "afterReads 5", "afterReads 8"})
            staleModes.push_back(m);
    const auto error = rc::gen::exec([] {
        const std::string element = *rc::gen::elementOf(std::vector<std::string>{"window", "application"});
        const std::string attribute = *rc::gen::elementOf(
            std::vector<std::string>{"AXChildren", "AXValue", "AXTitle", "AXPosition", "AXDescription"});
        return json::array({{{"element", element},
                             {"attribute", attribute},
                             {"code", *rc::gen::elementOf(std::vector<int>{-25200, -25204, -25212})},
                             {"times", *rc::gen::inRange(1, 3)}}});
    });
    std::vector<std::pair<std::size_t, rc::Gen<json>>> draws{{6, rc::gen::just(json::object())}};
    if (!staleModes.empty())
        draws.push_back({3, rc::gen::map(rc::gen::elementOf(staleModes), [](json v) {
                             return json{{"staleAfter", v}};
                         })});
    // The application's handle held since an earlier read goes stale just as Logic Pro's windows are
    // listed through it, at any one of the listings.
    if (has("afterReads"))
        draws.push_back({2, rc::gen::map(rc::gen::weightedOneOf<int>({{3, rc::gen::inRange(0, 3)},
                                                                     {1, rc::gen::inRange(3, 12)}}),
                                         [](int after) { return json{{"axError", staleListingKnob(after)}}; })});
    // A strip that lags, mostly by most of a second or more: the user's two clicks then move it on and
    // back while a call works.
    if (has("lateStrip"))
        draws.push_back({2, rc::gen::map(rc::gen::elementOf(std::vector<double>{0.2, 0.5, 0.9, 1.1, 1.4, 1.4}),
                                         [](double s) { return json{{"lateStripUpdate", s}}; })});
    if (has("axError")) draws.push_back({1, rc::gen::map(error, [](json v) { return json{{"axError", v}}; })});
    // A strip write refused (never through a handle gone stale): once, a few times or always.
    const auto refusal = rc::gen::exec([] {
        return json::array({{{"element", *rc::gen::elementOf(std::vector<std::string>{"volume fader", "pan"})},
                             {"attribute", "AXValue"},
                             {"code", *rc::gen::elementOf(std::vector<int>{-25200, -25204})},
                             {"times", *rc::gen::elementOf(std::vector<int>{1, 2, -1})}}});
    });
    if (has("writeError"))
        draws.push_back({1, rc::gen::map(refusal, [](json v) { return json{{"axWriteError", v}}; })});
    // Each kind as often as its weight says at every size of case: a ranged number shrinks with
    // the case's size and would leave the kinds drawn last to the largest cases alone.
    std::vector<std::size_t> weighted;
    for (std::size_t d = 0; d < draws.size(); ++d) weighted.insert(weighted.end(), draws[d].first, d);
    return rc::gen::exec([draws, weighted] { return *draws[*rc::gen::elementOf(weighted)].second; });
}

// The tracks with a header at load, by position in the depth-first list: neither hidden nor
// inside a folder collapsed at load.
void shownAtLoad(std::vector<TrackShape>& tracks, bool shown, std::vector<std::pair<int, TrackShape*>>& out,
                 int& position) {
    for (auto& t : tracks) {
        const int at = position++;
        if (shown && !t.hidden) out.push_back({at, &t});
        shownAtLoad(t.children, shown && !t.hidden && !t.collapsedAtLoad, out, position);
    }
}

// A selection the calls work on: a shown track clicked and others Shift-clicked. `twins`: two of
// one name and a third, one of the two clicked first, so the strip's name cannot tell which of
// them Logic Pro follows (only its focus can), and the third bears a name no other track does;
// else the one clicked first bears such a name. A call reaches that track alone. Nothing where
// the project shows fewer than three tracks.
void selectAround(ProjectShape& p, bool twins) {
    std::vector<std::pair<int, TrackShape*>> shown;
    int position = 0;
    shownAtLoad(p.tracks, true, shown, position);
    std::erase_if(shown, [](const auto& s) { return s.second->kind == "folder"; });
    if (shown.size() < 3) return;
    const auto draw = [&] {
        const auto at = shown.begin() + *rc::gen::inRange<std::ptrdiff_t>(0, static_cast<std::ptrdiff_t>(shown.size()));
        const auto drawn = *at;
        shown.erase(at);
        return drawn;
    };
    auto [focused, first] = draw();
    auto [twin, second] = draw();
    const auto [other, third] = draw();
    // Of twins, mostly not the topmost of the three: a focus taken for the topmost would then be right.
    if (twins && focused < twin && focused < other &&
        *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(true)}, {1, rc::gen::just(false)}})) {
        std::swap(focused, twin);
        std::swap(first, second);
    }
    if (twins) second->name = first->name;
    TrackShape* alone = twins ? third : first;
    std::vector<const TrackShape*> flat;
    flatten(p.tracks, flat);
    std::vector<std::string> taken{p.outputName};
    for (const auto* t : flat)
        if (t != alone) taken.push_back(t->name);
    taken.insert(taken.end(), p.auxNames.begin(), p.auxNames.end());
    const auto key = [](std::string s) {
        std::erase(s, ' ');
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
        return s;
    };
    const auto free = [&](const std::string& name) {
        return std::none_of(taken.begin(), taken.end(), [&](const std::string& t) { return key(t) == key(name); });
    };
    if (!free(alone->name)) {
        std::vector<std::string> names;
        for (const auto& n : namePool())
            if (free(n)) names.push_back(n);
        if (names.empty()) return;
        alone->name = *rc::gen::elementOf(names);
    }
    p.selected = focused;
    p.shiftClicks = *rc::gen::arbitrary<bool>() ? std::vector<int>{twin, other} : std::vector<int>{other, twin};
    if (!twins && *rc::gen::arbitrary<bool>()) p.shiftClicks.pop_back();
}

}  // namespace

bool staleAtListing(const json& faults) {
    for (const auto& knob : faults.value("axError", json::array()))
        if (knob.value("element", "") == "application" && knob.value("attribute", "") == "AXWindows") return true;
    return false;
}

json staleListingKnob(int after) {
    return json::array(
        {{{"element", "application"}, {"attribute", "AXWindows"}, {"code", -25202}, {"times", 1}, {"after", after}}});
}

int arrangeCount(const ProjectShape& shape) {
    std::vector<const TrackShape*> flat;
    flatten(shape.tracks, flat);
    return static_cast<int>(flat.size());
}

rc::Gen<ProjectShape> genProject() {
    return rc::gen::exec([] {
        ProjectShape p;
        // Most projects have buses: sends, their aux tracks and side chains need them; now and then
        // up to a dozen, whose names start alike.
        const int buses = *rc::gen::weightedOneOf<int>(
            {{2, rc::gen::just(0)}, {4, rc::gen::inRange(1, 3)}, {2, rc::gen::inRange(10, 13)}});
        for (int i = 0; i < buses; ++i) {
            p.auxNames.push_back(*rc::gen::elementOf(kAuxNames));
            p.auxShown.push_back(*rc::gen::weightedOneOf<bool>({{3, rc::gen::just(false)}, {1, rc::gen::just(true)}}));
        }
        std::vector<std::string> names = namePool();
        names.insert(names.end(), p.auxNames.begin(), p.auxNames.end());

        // 3..40 tracks in the list, folders with their children counted.
        const int wanted = *rc::gen::weightedOneOf<int>(
            {{4, rc::gen::inRange(3, 9)}, {2, rc::gen::inRange(9, 20)}, {1, rc::gen::inRange(20, 41)}});
        int count = 0;
        while (count < wanted) {
            const bool folder = wanted - count >= 2 &&
                                *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(false)}, {1, rc::gen::just(true)}});
            if (!folder) {
                p.tracks.push_back(genTrack(*genKind(), buses, names));
                ++count;
                continue;
            }
            p.tracks.push_back(genFolder(wanted - count, 1, buses, names));
            count += arrangeCountOf(p.tracks.back());
        }

        // Now and then a track at the top bears the name of one that folders collapsed within
        // collapsed folders hide, the deepest first: only a look into each of them tells the two apart.
        std::vector<std::pair<int, const TrackShape*>> hidden;  // collapsed folders around it, track
        std::function<void(const std::vector<TrackShape>&, int)> collect = [&](const std::vector<TrackShape>& ts,
                                                                               int collapsed) {
            for (const auto& t : ts) {
                if (collapsed > 0 && t.kind != "folder") hidden.push_back({collapsed, &t});
                collect(t.children, collapsed + (t.collapsedAtLoad ? 1 : 0));
            }
        };
        collect(p.tracks, 0);
        std::vector<TrackShape*> top;
        for (auto& t : p.tracks)
            if (t.kind != "folder" && !t.hidden) top.push_back(&t);
        if (!hidden.empty() && !top.empty() && *rc::gen::arbitrary<bool>()) {
            std::stable_sort(hidden.begin(), hidden.end(),
                             [](const auto& a, const auto& b) { return a.first > b.first; });
            const std::string name =
                hidden[*rc::gen::weightedOneOf<std::size_t>(
                           {{3, rc::gen::just<std::size_t>(0)}, {1, rc::gen::inRange<std::size_t>(0, hidden.size())}})]
                    .second->name;
            top[*rc::gen::inRange<std::size_t>(0, top.size())]->name = name;
        }

        std::vector<const TrackShape*> flat;
        flatten(p.tracks, flat);
        const int n = static_cast<int>(flat.size());
        // Side chains keyed from a name of the project.
        for (auto* t : flat)
            for (auto& s : const_cast<TrackShape*>(t)->inserts)
                if (s.plugin == "Compressor" &&
                    *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(false)}, {1, rc::gen::just(true)}}))
                    s.sideChain = flat[static_cast<std::size_t>(*rc::gen::inRange(0, n))]->name;

        p.faults = *genFaults();
        p.outputName = *rc::gen::weightedOneOf<std::string>(
            {{4, rc::gen::just(std::string("Stereo Out"))}, {1, rc::gen::just(std::string("Master"))}});
        p.outputShown = *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(false)}, {1, rc::gen::just(true)}});
        p.playing = *rc::gen::weightedOneOf<bool>({{5, rc::gen::just(false)}, {1, rc::gen::just(true)}});
        // Now and then a song that ends before some regions do (past its cycle, which ends at bar 17).
        p.lengthBars = *rc::gen::weightedOneOf<int>({{2, rc::gen::just(64)}, {1, edgeOr({17, 24, 32}, 17, 63)}});
        // Where handles go stale (the application's at a listing too), the windows a call lists and
        // works through matter most: the Mixer in front and a plug-in window of the user's are drawn
        // more often.
        const std::size_t listed = staleAtListing(p.faults) || p.faults.contains("staleAfter") ? 3 : 1;
        p.mixerWindow = *rc::gen::weightedOneOf<bool>({{4, rc::gen::just(false)}, {listed, rc::gen::just(true)}});
        if (p.mixerWindow) p.mixerFirst = *rc::gen::arbitrary<bool>();
        p.selected = *rc::gen::inRange(0, n);
        // CORVANE_GENERATED_SHIFT_CLICKS=below keeps the Shift-clicks below the selected track (a
        // run that looks past what upward selections show).
        const char* direction = std::getenv("CORVANE_GENERATED_SHIFT_CLICKS");
        const bool belowOnly = direction && std::string(direction) == "below";
        const int lowest = belowOnly ? std::min(p.selected + 1, n - 1) : 0;
        p.shiftClicks = *rc::gen::weightedOneOf<std::vector<int>>(
            {{2, rc::gen::just(std::vector<int>{})},
             {2, rc::gen::container<std::vector<int>>(*rc::gen::inRange(1, 3), rc::gen::inRange(lowest, n))}});
        // Where elements go stale, half the time a selection drawn for the calls to work on, mostly
        // across two tracks of one name.
        if (!belowOnly && p.faults.contains("staleAfter") && *rc::gen::arbitrary<bool>())
            selectAround(p, *rc::gen::weightedOneOf<bool>({{2, rc::gen::just(true)}, {1, rc::gen::just(false)}}));
        std::vector<int> folders;
        for (int i = 0; i < n; ++i)
            if (flat[static_cast<std::size_t>(i)]->kind == "folder") folders.push_back(i);
        if (!folders.empty() && *rc::gen::arbitrary<bool>()) p.collapsedByHand = {*rc::gen::elementOf(folders)};
        std::vector<int> withSlots;
        for (int i = 0; i < n; ++i)
            if (!flat[static_cast<std::size_t>(i)]->inserts.empty()) withSlots.push_back(i);
        if (!withSlots.empty() &&
            *rc::gen::weightedOneOf<bool>({{3, rc::gen::just(false)}, {listed * 2 - 1, rc::gen::just(true)}})) {
            // Where handles go stale, mostly on a track a name reaches alone, whose chain holds the
            // plug-in twice as a user may load it twice: the window the turn opens on the other slot
            // bears the same title as the user's.
            std::vector<int> named;
            for (int i : withSlots) {
                const TrackShape& track = *flat[static_cast<std::size_t>(i)];
                const auto sharing = std::count_if(
                    flat.begin(), flat.end(), [&](const TrackShape* u) { return lower(u->name) == lower(track.name); });
                if (!track.hidden && sharing == 1 && track.inserts.front().plugin != "Corvane") named.push_back(i);
            }
            const bool twice = listed > 1 && !named.empty() &&
                               *rc::gen::weightedOneOf<bool>({{1, rc::gen::just(false)}, {3, rc::gen::just(true)}});
            const int t = *rc::gen::elementOf(twice ? named : withSlots);
            auto& inserts = const_cast<TrackShape*>(flat[static_cast<std::size_t>(t)])->inserts;
            // The analysis plug-in, which ends a chain, is never loaded twice.
            const int slots = static_cast<int>(inserts.size()) - (twice && inserts.back().plugin == "Corvane" ? 1 : 0);
            int slot = *rc::gen::inRange(0, slots);
            const std::string plugin = inserts[static_cast<std::size_t>(slot)].plugin;
            if (twice && std::count_if(inserts.begin(), inserts.end(),
                                       [&](const SlotShape& s) { return s.plugin == plugin; }) == 1) {
                const int at = *rc::gen::inRange(0, slots + 1);
                inserts.insert(inserts.begin() + at, SlotShape{plugin, false, "", json::object()});
                if (at <= slot) ++slot;
            }
            p.windowsOpened.push_back({t, slot});
        }
        return p;
    });
}

json scenarioOf(const ProjectShape& shape) {
    json scenario = readScenario("demo-song.json");
    scenario["plugins"] = pluginDefinitions();
    scenario["ui"]["mixerWindow"] = shape.mixerWindow;
    scenario["ui"]["mixerWindowFirst"] = shape.mixerFirst;
    if (!shape.faults.empty()) {
        if (!scenario.contains("faults")) scenario["faults"] = json::object();
        scenario["faults"].update(shape.faults);
    }
    json& project = scenario["project"];
    project["name"] = "Generated";
    project.erase("selected");
    project["playing"] = shape.playing;
    project["lengthBars"] = shape.lengthBars;
    project["buses"] = json::array();
    project["tracks"] = json::array();
    int number = 0;
    for (const auto& t : shape.tracks) project["tracks"].push_back(trackJSON(t, number));
    for (std::size_t i = 0; i < shape.auxNames.size(); ++i) {
        const int bus = static_cast<int>(i) + 1;
        project["buses"].push_back({{"number", bus}, {"aux", shape.auxNames[i]}});
        project["tracks"].push_back({{"name", shape.auxNames[i]},
                                     {"kind", "aux"},
                                     {"input", "Bus " + std::to_string(bus)},
                                     {"inArrange", shape.auxShown[i]},
                                     {"inserts", json::array({{{"plugin", "Limiter"}}})}});
    }
    project["tracks"].push_back({{"name", shape.outputName}, {"kind", "output"}, {"inArrange", shape.outputShown}});
    return scenario;
}

void handActions(const ProjectShape& shape, standin::World& world) {
    // Load order is the depth-first order of the shape, so position and id agree.
    const int n = arrangeCount(shape);
    auto id = [&](int position) { return std::clamp(position, 0, n - 1); };
    world.clickHeader(id(shape.selected));
    for (int position : shape.shiftClicks) world.shiftClickHeader(id(position));
    for (int position : shape.collapsedByHand) world.clickFolderTriangle(id(position));
    for (const auto& [position, slot] : shape.windowsOpened) world.openPluginWindowByHand(id(position), slot);
}

void showValue(const ProjectShape& shape, std::ostream& os) {
    json hand{{"selected", shape.selected},
              {"shiftClicks", shape.shiftClicks},
              {"collapsedByHand", shape.collapsedByHand},
              {"windowsOpened", shape.windowsOpened}};
    json brief = scenarioOf(shape)["project"];
    brief["mixerWindow"] = shape.mixerFirst ? "in front" : shape.mixerWindow ? "behind" : "none";
    if (!shape.faults.empty()) brief["faults"] = shape.faults;
    brief["byHand"] = hand;
    os << brief.dump();
}

}  // namespace corvane::generated
