// Reading a scenario: the whole simulated world at load. Every field is optional except project.tracks.

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "platform/standin/engine.h"
#include "platform/standin/taper.h"

namespace corvane::standin::detail {

namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw std::invalid_argument("scenario: " + where + ": " + what);
}

const json* member(const json& obj, const char* key) {
    if (!obj.is_object()) return nullptr;
    auto it = obj.find(key);
    if (it == obj.end() || it->is_null()) return nullptr;
    return &*it;
}

bool getBool(const json& obj, const char* key, bool def, const std::string& where) {
    const json* v = member(obj, key);
    if (!v) return def;
    if (!v->is_boolean()) fail(where + "." + key, "expected true or false");
    return v->get<bool>();
}

double getNumber(const json& obj, const char* key, double def, const std::string& where) {
    const json* v = member(obj, key);
    if (!v) return def;
    if (!v->is_number()) fail(where + "." + key, "expected a number");
    double d = v->get<double>();
    if (!std::isfinite(d)) fail(where + "." + key, "expected a finite number");
    return d;
}

int getInt(const json& obj, const char* key, int def, const std::string& where) {
    const json* v = member(obj, key);
    if (!v) return def;
    if (!v->is_number()) fail(where + "." + key, "expected a whole number");
    double d = v->get<double>();
    if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 1e9)
        fail(where + "." + key, "expected a whole number");
    return static_cast<int>(d);
}

std::string getString(const json& obj, const char* key, const std::string& def, const std::string& where) {
    const json* v = member(obj, key);
    if (!v) return def;
    if (!v->is_string()) fail(where + "." + key, "expected text");
    return v->get<std::string>();
}

platform::Rect getRect(const json& v, const std::string& where) {
    if (!v.is_array() || v.size() != 4) fail(where, "expected [x, y, width, height]");
    for (const auto& n : v)
        if (!n.is_number()) fail(where, "expected [x, y, width, height]");
    return {v[0].get<double>(), v[1].get<double>(), v[2].get<double>(), v[3].get<double>()};
}

Rgb getRgb(const json& v, const std::string& where) {
    if (!v.is_array() || v.size() != 3) fail(where, "expected [r, g, b]");
    Rgb c;
    std::uint8_t* parts[3] = {&c.r, &c.g, &c.b};
    for (std::size_t i = 0; i < 3; ++i) {
        if (!v[i].is_number_integer() || v[i].get<int>() < 0 || v[i].get<int>() > 255) fail(where, "expected 0..255");
        *parts[i] = static_cast<std::uint8_t>(v[i].get<int>());
    }
    return c;
}

struct Loader {
    Engine& e;
    int nextTrackId = 0;
    int nextSlotUid = 0;
    std::vector<std::pair<int, int>> explicitNumbers;  // track id, number

    void track(const json& t, int parent, const std::string& where) {
        if (!t.is_object()) fail(where, "expected an object");
        Track tr;
        tr.id = nextTrackId++;
        tr.name = getString(t, "name", "", where);
        if (tr.name.empty()) fail(where + ".name", "every track needs a name");
        std::string kind = getString(t, "kind", "audio", where);
        auto k = trackKindFromString(kind);
        if (!k) fail(where + ".kind", "unknown kind '" + kind + "'");
        tr.kind = *k;
        tr.parent = parent;
        tr.expanded = getBool(t, "expanded", true, where);
        bool hidden = tr.kind == TrackKind::aux || tr.kind == TrackKind::output;
        tr.inArrange = getBool(t, "inArrange", !hidden, where);
        tr.muted = getBool(t, "muted", false, where);
        tr.soloed = getBool(t, "soloed", false, where);
        if (const json* n = member(t, "number")) {
            if (!n->is_number_integer() || n->get<int>() < 1)
                fail(where + ".number", "expected a positive whole number");
            explicitNumbers.emplace_back(tr.id, n->get<int>());
        }

        ChannelStrip& s = tr.strip;
        std::string defaultInput = tr.kind == TrackKind::audio                                    ? "Input 1"
                                   : tr.kind == TrackKind::output || tr.kind == TrackKind::folder ? ""
                                                                                                  : "No Input";
        s.input = getString(t, "input", defaultInput, where);
        s.output = getString(t, "output", tr.kind == TrackKind::output ? "Output 1-2" : "Stereo Output", where);
        s.channelMode = getString(t, "channelMode", "Stereo", where);
        if (s.channelMode != "Stereo" && s.channelMode != "Mono")
            fail(where + ".channelMode", "expected Stereo or Mono");
        s.volume = std::clamp(getInt(t, "volume", 225, where), 0, taper::kMaxRaw);
        if (const json* db = member(t, "volumeDb")) {
            if (!db->is_number()) fail(where + ".volumeDb", "expected a number");
            s.volume = taper::rawFor(db->get<double>());
        }
        s.pan = std::clamp(getInt(t, "pan", 0, where), -64, 63);

        if (const json* ins = member(t, "inserts")) {
            if (!ins->is_array()) fail(where + ".inserts", "expected a list");
            if (ins->size() > 15) fail(where + ".inserts", "at most 15 slots");
            for (std::size_t i = 0; i < ins->size(); ++i)
                s.inserts.push_back(slot((*ins)[i], s, where + ".inserts[" + std::to_string(i) + "]"));
        }
        if (const json* sends = member(t, "sends")) {
            if (!sends->is_array()) fail(where + ".sends", "expected a list");
            for (std::size_t i = 0; i < sends->size(); ++i) {
                const json& sd = (*sends)[i];
                std::string w = where + ".sends[" + std::to_string(i) + "]";
                Send send;
                send.bus = getInt(sd, "bus", 1, w);
                if (send.bus < 1 || send.bus > 999) fail(w + ".bus", "buses are 1..999");
                send.detent = taper::nearestSendDetent(getNumber(sd, "levelDb", 0.0, w));
                if (member(sd, "detent"))
                    send.detent = std::clamp(getInt(sd, "detent", 0, w), 0, taper::kSendDetents - 1);
                s.sends.push_back(send);
            }
        }
        if (const json* a = member(t, "automation")) {
            s.automation.mode = getString(*a, "mode", "Read", where + ".automation");
            static const char* modes[] = {"Off", "Read", "Touch", "Latch", "Write"};
            if (std::find(std::begin(modes), std::end(modes), s.automation.mode) == std::end(modes))
                fail(where + ".automation.mode", "unknown mode");
            s.automation.power = getBool(*a, "power", false, where + ".automation");
        }
        if (const json* regions = member(t, "regions")) {
            if (!regions->is_array()) fail(where + ".regions", "expected a list");
            for (std::size_t i = 0; i < regions->size(); ++i) {
                const json& r = (*regions)[i];
                std::string w = where + ".regions[" + std::to_string(i) + "]";
                Region region;
                region.startBar = std::max(1, getInt(r, "start", 1, w));
                region.lengthBars = std::max(1, getInt(r, "bars", 1, w));
                region.muted = getBool(r, "muted", false, w);
                region.name = getString(r, "name", tr.name + " #" + std::to_string(i + 1), w);
                tr.regions.push_back(region);
            }
        }
        if (const json* sig = member(t, "signal")) {
            if (!sig->is_object()) fail(where + ".signal", "expected an object");
            tr.signal = *sig;
        }
        int id = tr.id;
        e.project.tracks.push_back(std::move(tr));

        if (const json* children = member(t, "children")) {
            if (!children->is_array()) fail(where + ".children", "expected a list");
            if (kind != "folder") fail(where + ".children", "only folders have children");
            for (std::size_t i = 0; i < children->size(); ++i)
                track((*children)[i], id, where + ".children[" + std::to_string(i) + "]");
        }
    }

    InsertSlot slot(const json& v, const ChannelStrip& strip, const std::string& where) {
        if (!v.is_object()) fail(where, "expected an object");
        InsertSlot s;
        s.uid = ++nextSlotUid;
        s.plugin = getString(v, "plugin", "", where);
        if (s.plugin.empty()) fail(where + ".plugin", "every slot needs a plug-in");
        s.bypassed = getBool(v, "bypassed", false, where);
        s.sideChainSource = getString(v, "sideChain", "None", where);
        const PluginDefinition* def = e.project.plugin(s.plugin);
        std::string format = strip.channelMode;
        if (def && !def->formats.empty() &&
            std::find(def->formats.begin(), def->formats.end(), format) == def->formats.end())
            format = def->formats.front();
        s.format = getString(v, "format", format, where);
        if (def && def->parameters.is_array())
            for (const auto& p : def->parameters)
                if (p.is_object() && p.contains("id") && p["id"].is_string() && p.contains("default") &&
                    p["default"].is_number())
                    s.params[p["id"].get<std::string>()] = p["default"].get<double>();
        if (const json* params = member(v, "params")) {
            if (!params->is_object()) fail(where + ".params", "expected an object");
            for (auto it = params->begin(); it != params->end(); ++it) {
                if (!it->is_number()) fail(where + ".params." + it.key(), "expected a number");
                s.params[it.key()] = it->get<double>();
            }
        }
        return s;
    }

    void plugins(const json& list) {
        if (!list.is_array()) fail("plugins", "expected a list");
        for (std::size_t i = 0; i < list.size(); ++i) {
            const json& p = list[i];
            std::string w = "plugins[" + std::to_string(i) + "]";
            if (!p.is_object()) fail(w, "expected an object");
            PluginDefinition d;
            d.name = getString(p, "name", "", w);
            if (d.name.empty()) fail(w + ".name", "every plug-in needs a name");
            if (const json* c = member(p, "category")) d.category = c->get<std::vector<std::string>>();
            if (const json* f = member(p, "formats")) d.formats = f->get<std::vector<std::string>>();
            d.sidechain = getBool(p, "sidechain", false, w);
            d.analysis = getBool(p, "analysis", false, w);
            d.controlsInverted = getBool(p, "controlsInverted", false, w);
            if (const json* params = member(p, "parameters")) d.parameters = *params;
            if (const json* editor = member(p, "editor")) d.editor = *editor;
            e.project.plugins.push_back(std::move(d));
        }
    }

    void numberTracks() {
        int n = 0;
        for (Track& t : e.project.tracks) {
            auto it =
                std::find_if(explicitNumbers.begin(), explicitNumbers.end(), [&](auto& p) { return p.first == t.id; });
            if (it != explicitNumbers.end()) {
                t.number = it->second;
                n = std::max(n, it->second);
            } else if (t.inArrange) {
                t.number = ++n;
            }
        }
    }

    void buses(const json& list) {
        if (!list.is_array()) fail("project.buses", "expected a list");
        for (std::size_t i = 0; i < list.size(); ++i) {
            std::string w = "project.buses[" + std::to_string(i) + "]";
            Bus b;
            b.number = getInt(list[i], "number", 1, w);
            if (b.number < 1 || b.number > 999) fail(w + ".number", "buses are 1..999");
            b.auxName = getString(list[i], "aux", "", w);
            e.project.buses.push_back(b);
        }
    }

    // Every bus with an aux gets its aux track, and there is always one main output.
    void completeChannels() {
        int auxCount = 0;
        for (const Track& t : e.project.tracks) auxCount += t.kind == TrackKind::aux;
        for (const Bus& b : e.project.buses) {
            if (e.project.auxForBus(b.number) >= 0) continue;
            Track aux;
            aux.id = nextTrackId++;
            aux.kind = TrackKind::aux;
            aux.name = b.auxName.empty() ? "Aux " + std::to_string(++auxCount) : b.auxName;
            aux.inArrange = false;
            aux.strip.input = "Bus " + std::to_string(b.number);
            e.project.tracks.push_back(std::move(aux));
        }
        bool hasOutput = std::any_of(e.project.tracks.begin(), e.project.tracks.end(),
                                     [](const Track& t) { return t.kind == TrackKind::output; });
        if (!hasOutput) {
            Track out;
            out.id = nextTrackId++;
            out.kind = TrackKind::output;
            out.name = "Stereo Out";
            out.inArrange = false;
            out.strip.input = "";
            out.strip.output = "Output 1-2";
            e.project.tracks.push_back(std::move(out));
        }
    }

    void transport(const json& p) {
        Transport& t = e.project.transport;
        t.tempo = getNumber(p, "tempo", 120, "project");
        if (t.tempo < 5 || t.tempo > 990) fail("project.tempo", "Logic's tempo range is 5 to 990");
        if (const json* ts = member(p, "timeSignature")) {
            if (!ts->is_array() || ts->size() != 2 || !(*ts)[0].is_number_integer() || !(*ts)[1].is_number_integer())
                fail("project.timeSignature", "expected [numerator, denominator]");
            t.numerator = std::clamp((*ts)[0].get<int>(), 1, 32);
            t.denominator = (*ts)[1].get<int>();
            if (t.denominator != 2 && t.denominator != 4 && t.denominator != 8 && t.denominator != 16)
                fail("project.timeSignature", "denominator must be 2, 4, 8 or 16");
        }
        t.lengthBars = std::clamp(getInt(p, "lengthBars", 64, "project"), 1, 100000);
        t.playing = getBool(p, "playing", false, "project");
        t.recording = getBool(p, "recording", false, "project");
        t.globalSolo = getBool(p, "globalSolo", false, "project");
        if (t.recording) t.playing = true;
        if (const json* c = member(p, "cycle")) {
            t.cycleOn = getBool(*c, "on", false, "project.cycle");
            t.cycleStartBar = std::max(1, getInt(*c, "start", 1, "project.cycle"));
            t.cycleEndBar = std::max(t.cycleStartBar + 1, getInt(*c, "end", t.cycleStartBar + 4, "project.cycle"));
        }
        PlayheadPosition ph;
        if (const json* h = member(p, "playhead")) {
            ph.bar = getInt(*h, "bar", 1, "project.playhead");
            ph.beat = getInt(*h, "beat", 1, "project.playhead");
            ph.division = getInt(*h, "division", 1, "project.playhead");
            ph.tick = getInt(*h, "tick", 1, "project.playhead");
        }
        t.setPlayhead(ph);
    }

    void workspace(const json& root) {
        const json* ws = member(root, "workspace");
        json appList = json::array({{{"self", true}, {"name", "Corvane"}, {"bundleId", "app.corvane"}, {"pid", 100}},
                                    {{"logic", true}},
                                    {{"name", "Terminal"}, {"bundleId", "com.example.term"}, {"pid", 200}}});
        if (ws && member(*ws, "apps")) appList = (*ws)["apps"];
        if (!appList.is_array()) fail("workspace.apps", "expected a list");
        bool placedLogic = false;
        bool haveSelf = false;
        for (std::size_t i = 0; i < appList.size(); ++i) {
            const json& a = appList[i];
            std::string w = "workspace.apps[" + std::to_string(i) + "]";
            if (!a.is_object()) fail(w, "expected an object");
            if (getBool(a, "logic", false, w)) {
                e.logicSlot = e.apps.size();
                placedLogic = true;
                continue;
            }
            AppRecord r;
            r.isSelf = getBool(a, "self", false, w);
            if (const json* b = member(a, "bundleId")) r.bundleId = b->get<std::string>();
            if (const json* n = member(a, "name")) r.name = n->get<std::string>();
            r.pid = getInt(a, "pid", 0, w);
            if (r.pid <= 0) fail(w + ".pid", "every application needs a positive pid");
            std::string policy = getString(a, "policy", "regular", w);
            r.policy = policy == "accessory"    ? platform::ActivationPolicy::accessory
                       : policy == "prohibited" ? platform::ActivationPolicy::prohibited
                                                : platform::ActivationPolicy::regular;
            r.hidden = getBool(a, "hidden", false, w);
            if (r.isSelf) {
                haveSelf = true;
                e.selfPid = r.pid;
            }
            if (const json* wins = member(a, "windows")) {
                if (!wins->is_array()) fail(w + ".windows", "expected a list");
                for (std::size_t j = 0; j < wins->size(); ++j) {
                    const json& win = (*wins)[j];
                    std::string ww = w + ".windows[" + std::to_string(j) + "]";
                    ScreenWindow sw;
                    sw.id = static_cast<std::uint32_t>(getInt(win, "id", static_cast<int>(e.nextWindowId), ww));
                    e.nextWindowId = std::max(e.nextWindowId, sw.id + 1);
                    sw.pid = r.pid;
                    sw.title = getString(win, "title", "", ww);
                    sw.frame = member(win, "frame") ? getRect(win["frame"], ww + ".frame")
                                                    : platform::Rect{300, 200, 700, 450};
                    if (const json* c = member(win, "colour")) sw.colour = getRgb(*c, ww + ".colour");
                    e.windows.push_back(sw);
                }
            }
            e.apps.push_back(std::move(r));
        }
        if (!haveSelf) {
            AppRecord self;
            self.isSelf = true;
            self.name = "Corvane";
            self.bundleId = "app.corvane";
            self.pid = e.selfPid;
            e.apps.insert(e.apps.begin(), self);
            if (placedLogic) ++e.logicSlot;
        }
        if (!placedLogic) {
            auto self = std::find_if(e.apps.begin(), e.apps.end(), [](const AppRecord& r) { return r.isSelf; });
            e.logicSlot = static_cast<std::size_t>(self - e.apps.begin()) + 1;
        }

        const json* logic = member(root, "logic");
        e.logicApp.isLogic = true;
        e.logicApp.pid = logic ? getInt(*logic, "pid", 4242, "logic") : 4242;
        e.logicApp.bundleId = "com.apple.logic10";
        e.logicApp.name = "Logic Pro";
        if (logic) {
            if (const json* b = member(*logic, "bundleId")) e.logicApp.bundleId = b->get<std::string>();
            if (const json* n = member(*logic, "name")) e.logicApp.name = n->get<std::string>();
            e.logicRunning = getBool(*logic, "running", true, "logic");
        }
        for (std::size_t i = 0; i < e.apps.size(); ++i) {
            if (e.apps[i].pid == e.logicApp.pid)
                fail("workspace.apps", "pid " + std::to_string(e.apps[i].pid) + " is Logic Pro's");
            for (std::size_t j = 0; j < i; ++j)
                if (e.apps[j].pid == e.apps[i].pid)
                    fail("workspace.apps", "pid " + std::to_string(e.apps[i].pid) + " is used twice");
        }
        if (e.logicRunning)
            e.apps.insert(e.apps.begin() + static_cast<std::ptrdiff_t>(std::min(e.logicSlot, e.apps.size())),
                          e.logicApp);

        std::optional<int> front = e.selfPid;
        if (ws && member(*ws, "frontmost")) front = getInt(*ws, "frontmost", e.selfPid, "workspace");
        if (logic && getBool(*logic, "frontmost", false, "logic")) front = e.logicApp.pid;
        if (front && !e.app(*front)) front.reset();
        for (const AppRecord& a : e.apps) e.recent.push_back(a.pid);
        e.frontmost = front;
        if (front) {
            e.recent.erase(std::remove(e.recent.begin(), e.recent.end(), *front), e.recent.end());
            e.recent.insert(e.recent.begin(), *front);
        }
    }

    void displays(const json& root) {
        const json* ds = member(root, "displays");
        if (!ds) {
            e.displays.push_back({1, {0, 0, 1440, 900}, 1, true});
            return;
        }
        if (!ds->is_array() || ds->empty()) fail("displays", "expected a non-empty list");
        bool anyMain = false;
        for (std::size_t i = 0; i < ds->size(); ++i) {
            std::string w = "displays[" + std::to_string(i) + "]";
            platform::Display d;
            d.displayID = static_cast<std::uint32_t>(getInt((*ds)[i], "id", static_cast<int>(i + 1), w));
            d.frame =
                member((*ds)[i], "frame") ? getRect((*ds)[i]["frame"], w + ".frame") : platform::Rect{0, 0, 1440, 900};
            d.scale = getNumber((*ds)[i], "scale", 1, w);
            d.isMain = getBool((*ds)[i], "main", false, w);
            anyMain = anyMain || d.isMain;
            e.displays.push_back(d);
        }
        if (!anyMain) e.displays.front().isMain = true;
    }
};

}  // namespace

void loadScenario(Engine& e, const json& root) {
    if (!root.is_object()) fail("scenario", "expected an object");
    Loader l{e, 0, 0, {}};
    if (const json* c = member(root, "clock"))
        e.epoch = platform::Clock::TimePoint{
            std::chrono::seconds{static_cast<long long>(getNumber(*c, "epoch", 1796225040, "clock"))}};

    if (const json* perms = member(root, "permissions")) {
        for (const char* k : {"accessibilityTrusted", "grantOnPrompt", "screenRecording", "promptAnswer"})
            if (const json* v = member(*perms, k)) applyFault(e.faults, k, *v);
    }
    if (const json* ui = member(root, "ui")) {
        if (!ui->is_object()) fail("ui", "expected an object");
        e.inspectorVisible = getBool(*ui, "inspectorVisible", true, "ui");
        e.rowHeight = std::max(10.0, getNumber(*ui, "rowHeight", 40, "ui"));
        e.pointsPerBar = std::max(1.0, getNumber(*ui, "pointsPerBar", 20, "ui"));
        for (auto it = ui->begin(); it != ui->end(); ++it) {
            const std::string& k = it.key();
            if (k == "inspectorVisible" || k == "rowHeight" || k == "pointsPerBar") continue;
            applyFault(e.faults, k, *it);
        }
    }
    if (const json* p = member(root, "plugins")) l.plugins(*p);

    const json* project = member(root, "project");
    if (!project || !project->is_object()) fail("project", "a scenario needs a project");
    const json* tracks = member(*project, "tracks");
    if (!tracks || !tracks->is_array()) fail("project.tracks", "a project needs a list of tracks");
    e.project.name = getString(*project, "name", "Untitled", "project");
    l.transport(*project);
    if (const json* b = member(*project, "buses")) l.buses(*b);
    for (std::size_t i = 0; i < tracks->size(); ++i)
        l.track((*tracks)[i], -1, "project.tracks[" + std::to_string(i) + "]");
    l.completeChannels();
    l.numberTracks();

    std::vector<int> visible = e.project.visibleTrackIds();
    std::string selected = getString(*project, "selected", "", "project");
    if (!selected.empty()) {
        const Track* t = e.project.track(selected);
        if (!t || !e.project.isVisible(t->id)) fail("project.selected", "no visible track named '" + selected + "'");
        e.project.selectedTrackId = t->id;
    } else if (!visible.empty()) {
        e.project.selectedTrackId = visible.front();
    }
    e.project.stripTrackId = e.project.selectedTrackId;

    if (const json* logic = member(root, "logic"))
        if (const json* a = member(*logic, "activation")) e.faults.activation = parseActivation(*a);
    if (const json* f = member(root, "faults")) {
        if (!f->is_object()) fail("faults", "expected an object");
        for (auto it = f->begin(); it != f->end(); ++it) {
            const std::string& k = it.key();
            if (k == "inspectorVisible")
                e.inspectorVisible = it->get<bool>();
            else if (k == "running" || k == "logic.running") {
                // Handled with the workspace below.
            } else if (!applyFault(e.faults, k, *it)) {
                // "frontmost" is handled with the workspace below.
            }
        }
    }

    json logic = root.contains("logic") && root["logic"].is_object() ? root["logic"] : json::object();
    if (const json* f = member(root, "faults")) {
        for (const char* k : {"running", "logic.running"})
            if (const json* v = member(*f, k)) logic["running"] = *v;
        if (const json* v = member(*f, "frontmost")) logic["frontmost"] = *v;
    }
    json patched = root;
    patched["logic"] = logic;
    l.workspace(patched);
    l.displays(root);
    e.syncLogicWindows();
    if (e.frontmost) e.raiseAppWindows(*e.frontmost);
    e.changed();
}

}  // namespace corvane::standin::detail
