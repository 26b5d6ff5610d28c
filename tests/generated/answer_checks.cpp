#include "generated/answer_checks.h"

#include <algorithm>
#include <cmath>
#include <regex>
#include <set>

#include "generated/call_text.h"
#include "platform/standin/plugin_parameters.h"
#include "platform/standin/taper.h"
#include "platform/standin/world.h"
#include "support/numbers.h"

namespace corvane::generated {

using nlohmann::json;

namespace {

const std::string kArrow = "\u2192";

// The one track of the state that bears the name exactly, as the answer quotes its header.
const json* trackNamed(const ProjectState& s, const std::string& name) {
    const json* found = nullptr;
    for (const auto& [id, t] : s.tracks)
        if (t["name"] == name) {
            if (found) return nullptr;
            found = &t;
        }
    return found;
}

// Volume and pan, one sentence per track: "Kick volume: -6.0 dB → -10.0 dB", "Kick pan: 0 → -20 (-20)".
// A track written twice in one call ends where its later sentence says: `seen` keeps those read.
void checkStrip(const std::string& sentence, const ProjectState& after, std::set<std::string>& seen,
                std::vector<std::string>& out) {
    static const std::regex line("^\\s*(.+) (volume|pan): .* \u2192 ([^ (]+( dB)?)");
    std::smatch m;
    if (!std::regex_search(sentence, m, line)) return;
    if (!seen.insert(m[1].str() + "/" + m[2].str()).second) return;
    const json* t = trackNamed(after, m[1].str());
    if (!t) return;
    const std::string stated = m[3].str();
    if (m[2] == "pan") {
        if (!sameNumber(stated, (*t)["pan"].get<double>()))
            out.push_back("stated value differs: '" + sentence + "' and the pan shows " + (*t)["pan"].dump());
        return;
    }
    const int raw = (*t)["volume"].get<int>();
    const bool db = m[4].matched;
    const bool agrees = !db ? sameNumber(stated, raw)
                        : stated.rfind("-\u221e", 0) == 0 ? raw == 0
                                                          : raw > 0 && sameNumber(numberPart(stated), standin::World::level(raw));
    if (!agrees)
        out.push_back("stated value differs: '" + sentence + "' and the fader shows " +
                      standin::taper::levelText(raw) + " (raw " + std::to_string(raw) + ")");
}

// "Send Kick → Bus 1: -6.0 dB → -12.0 dB", stopped or not: the last level is where the knob is.
void checkSend(const std::string& sentence, const ProjectState& after, std::vector<std::string>& out) {
    static const std::regex line("Send (.+) \u2192 (Bus [0-9]+): .* \u2192 (-\u221e|[-+]?[0-9.]+) dB");
    std::smatch m;
    if (!std::regex_search(sentence, m, line)) return;
    const json* t = trackNamed(after, m[1].str());
    if (!t) return;
    for (const auto& s : (*t)["sends"]) {
        if ("Bus " + s["bus"].dump() != m[2].str()) continue;
        const int detent = s["detent"].get<int>();
        const std::string stated = m[3].str();
        const bool agrees = stated == "-\u221e" ? detent == 0
                                                : detent > 0 && sameNumber(stated, standin::taper::sendDetentDb(detent));
        if (!agrees)
            out.push_back("stated value differs: '" + sentence + "' and the send shows " +
                          standin::taper::sendDetentText(detent) + " dB");
    }
}

// "Renamed 'Kick' → 'Kick 2'": the track now called so was called exactly that before.
void checkRenamed(const standin::Project& bp, const std::string& said, const ProjectState& after,
                  std::vector<std::string>& out) {
    static const std::regex line("Renamed '(.+)' \u2192 '(.+)'");
    std::smatch m;
    if (!std::regex_search(said, m, line)) return;
    for (const auto& [id, t] : after.tracks) {
        const standin::Track* was = bp.trackById(id);
        if (t["name"] != m[2].str() || !was || was->name == m[2].str() || was->name == m[1].str()) continue;
        out.push_back("stated value differs: '" + m[0].str() + "' and the track renamed was called '" + was->name +
                      "'");
    }
}

// A plug-in's parameter, bypass or side chain, on the slot the call named.
void checkSlot(const GeneratedCall& c, const standin::Project& bp, const std::string& said, const ProjectState& after,
               std::vector<std::string>& out) {
    const auto ids = listedIdsNamed(bp, c.args.value("track_name", std::string()));
    if (ids.size() != 1) return;
    const standin::Track* target = bp.trackById(ids.front());
    const json* now = trackIn(after, ids.front());
    const auto uid = target && now ? slotUidAsked(c, *target) : std::nullopt;
    const json* slot = uid ? slotIn(*now, *uid) : nullptr;
    if (!slot) return;
    if (c.tool == "set_plugin_bypass") {
        const auto at = said.find(kArrow);
        if (at == std::string::npos) return;
        const std::string stated = trimmed(said.substr(at + kArrow.size()));
        if ((stated.rfind("bypassed", 0) == 0) != (*slot)["bypassed"].get<bool>())
            out.push_back("stated value differs: '" + said + "' and the slot's bypass is " + (*slot)["bypassed"].dump());
        return;
    }
    if (c.tool == "set_plugin_sidechain") {
        static const std::regex line("Side Chain(: .*)? \u2192 (.+)$");
        std::smatch m;
        for (const auto& sentence : sentencesOf(said))
            // "Bus 1 (interpreted '1' as 'Bus 1')": the note after the value is no part of it.
            if (std::regex_search(sentence, m, line) &&
                trimmed(m[2].str().substr(0, m[2].str().find(" ("))) != (*slot)["sideChain"].get<std::string>())
                out.push_back("stated value differs: '" + sentence + "' and the side chain shows " +
                              (*slot)["sideChain"].dump());
        return;
    }
    if (c.tool != "set_plugin_parameter") return;
    const standin::PluginDefinition* def = bp.plugin((*slot)["plugin"].get<std::string>());
    if (!def) return;
    // "Set Time to 500.0 ms (was 400 ms)", or the mapped writer's "Drift Delay on Kick: Time: 400 ms
    // → 500 ms" and "…: Mode → Tape"; a stopped one's "Mode: Digital → Tape; Wow: 0% → 12%".
    static const std::regex set("Set (.+?) to (.+?)( \\((was|closest) .*)?$");
    const auto params = standin::detail::paramSpecs(*def);
    auto paramLabelled = [&](const std::string& text) {
        const std::string label = lower(trimmed(text));
        return std::find_if(params.begin(), params.end(), [&](const auto& p) {
            return lower(p.label) == label || lower(p.shownLabel()) == label;
        });
    };
    std::vector<std::string> parts;
    for (const auto& sentence : sentencesOf(said))
        for (std::size_t from = 0, at = 0; at != std::string::npos; from = at + 2) {
            at = sentence.find("; ", from);
            parts.push_back(sentence.substr(from, at == std::string::npos ? std::string::npos : at - from));
        }
    for (const auto& sentence : parts) {
        std::smatch m;
        auto param = params.end();
        std::string stated;
        if (std::regex_search(sentence, m, set)) {
            param = paramLabelled(m[1].str());
            stated = trimmed(m[2].str());
        } else if (const auto arrowAt = sentence.rfind(kArrow); arrowAt != std::string::npos) {
            // The label is the last part before the arrow, or the one before it when that part is
            // the value the control had (a ratio's "4.0:1" holds no ": ").
            std::vector<std::string> before;
            const std::string head = sentence.substr(0, arrowAt);
            for (std::size_t from = 0, at = 0; at != std::string::npos; from = at + 2) {
                at = head.find(": ", from);
                before.push_back(head.substr(from, at == std::string::npos ? std::string::npos : at - from));
            }
            param = paramLabelled(before.back());
            if (param == params.end() && before.size() > 1) param = paramLabelled(before[before.size() - 2]);
            stated = trimmed(sentence.substr(arrowAt + kArrow.size()));
        }
        if (param == params.end()) continue;
        standin::InsertSlot held;
        for (const auto& s : target->strip.inserts)
            if (s.uid == *uid) held = s;
        held.params = (*slot)["params"].get<std::map<std::string, double>>();
        const double raw = standin::detail::paramRaw(held, *param);
        const std::string shown = standin::detail::displayText(*param, raw);
        if (!sameShownValue(stated, *param, raw).value_or(true))
            out.push_back("stated value differs: '" + sentence + "' and " + param->label + " shows " + shown);
    }
}

std::string chainText(const json& track) {
    std::string text;
    for (const auto& s : track["inserts"]) text += (text.empty() ? "" : ", ") + s["plugin"].get<std::string>();
    return text.empty() ? "none" : text;
}

}  // namespace

std::optional<double> inBaseUnit(double value, const std::string& unit) {
    const std::string u = lower(trimmed(unit));
    if (u == "ms") return value / 1000;
    if (u == "s") return value;
    if (u == "hz") return value;
    if (u == "khz") return value * 1000;
    return std::nullopt;
}

std::optional<double> shownValue(const standin::detail::ParamSpec& p, double raw) {
    const std::string shown = standin::detail::displayText(p, raw);
    const std::string number = numberPart(shown);
    const auto n = readNumber(number);
    if (!n) return std::nullopt;
    const std::string unit = trimmed(shown.substr(number.size()));
    const auto base = inBaseUnit(*n, unit), scale = inBaseUnit(1, p.unit);
    return base && scale ? *base / *scale : *n;
}

std::optional<bool> sameShownValue(const std::string& said, const standin::detail::ParamSpec& p, double raw) {
    const std::string shown = standin::detail::displayText(p, raw);
    if (p.type == "toggle") {
        if (lower(trimmed(said)) == "on") return raw != 0;
        if (lower(trimmed(said)) == "off") return raw == 0;
        return std::nullopt;
    }
    if (p.hasOptions()) return lower(trimmed(said)) == lower(trimmed(shown));
    if (!p.sliderLike()) return std::nullopt;
    const std::string saidNumber = numberPart(said), shownNumber = numberPart(shown);
    const auto a = readNumber(saidNumber), b = readNumber(shownNumber);
    if (!a || !b) return std::nullopt;
    const std::string saidUnit = trimmed(said.substr(saidNumber.size()));
    const std::string shownUnit = trimmed(shown.substr(shownNumber.size()));
    // The display may change its unit along the range ("950 ms", "1.06 s"): compared as shown.
    if (lower(saidUnit) == lower(shownUnit)) return sameNumber(saidNumber, *b, decimalsOf(shownNumber));
    const auto x = inBaseUnit(*a, saidUnit), y = inBaseUnit(*b, shownUnit);
    if (x && y) {
        const double step = std::max(*inBaseUnit(std::pow(10.0, -decimalsOf(saidNumber)), saidUnit),
                                     *inBaseUnit(std::pow(10.0, -decimalsOf(shownNumber)), shownUnit));
        return std::fabs(*x - *y) <= step / 2 + 1e-9;
    }
    // A unit other than the display's, or none where it shows one, is not the value shown.
    return false;
}

void checkStatedValues(const GeneratedCall& c, const standin::Project& bp, const ProjectState& after,
                       const std::string& said, std::vector<std::string>& out) {
    if (c.tool == "set_track_volume" || c.tool == "set_track_pan") {
        std::set<std::string> seen;
        const auto sentences = sentencesOf(said);
        for (auto it = sentences.rbegin(); it != sentences.rend(); ++it) checkStrip(*it, after, seen, out);
    }
    if (c.tool == "set_send_level")
        for (const auto& sentence : sentencesOf(said)) checkSend(sentence, after, out);
    if (c.tool == "set_plugin_parameter" || c.tool == "set_plugin_bypass" || c.tool == "set_plugin_sidechain")
        checkSlot(c, bp, said, after, out);
    if (c.tool == "rename_track") checkRenamed(bp, said, after, out);
}

void checkChainStated(const ProjectState& before, const ProjectState& after, const std::string& said,
                      std::vector<std::string>& out) {
    static const std::regex line("(.+)'s plug-ins are now: (.*) \\(were: (.*)\\)");
    std::smatch m;
    if (!std::regex_search(said, m, line)) return;
    // The name may follow a sentence's opening words: the longest track name it ends with.
    const std::string head = m[1].str();
    const json* was = nullptr;
    const json* now = nullptr;
    std::size_t longest = 0;
    for (const auto& [id, t] : after.tracks) {
        const std::string name = t["name"].get<std::string>();
        if (name.size() <= longest || head.size() < name.size() ||
            head.compare(head.size() - name.size(), name.size(), name) != 0)
            continue;
        longest = name.size();
        now = &t;
        was = trackIn(before, id);
    }
    if (!now || !was || !trackNamed(after, (*now)["name"].get<std::string>())) return;
    if (m[2].str() != chainText(*now))
        out.push_back("stated chain differs: now '" + m[2].str() + "', the chain shows '" + chainText(*now) + "'");
    if (m[3].str() != chainText(*was))
        out.push_back("stated chain differs: were '" + m[3].str() + "', the chain was '" + chainText(*was) + "'");
}

void checkReopenViews(const ProjectState& start, const ProjectState& before, const ProjectState& after,
                      const std::string& by, std::vector<std::string>& out) {
    const auto open = [](const ProjectState& s, int slot) {
        return std::any_of(s.ui["pluginWindows"].begin(), s.ui["pluginWindows"].end(),
                           [&](const json& w) { return w["slot"] == slot; });
    };
    // Only windows closed at both ends: an open window's view is the one it shows.
    for (const auto& [slot, view] : after.reopenViews) {
        const auto was = start.reopenViews.find(slot);
        if (was == start.reopenViews.end() || was->second == view || open(start, slot) || open(after, slot)) continue;
        std::string title;
        for (const auto* state : {&before, &start})
            for (const auto& w : state->ui["pluginWindows"])
                if (w["slot"] == slot && title.empty()) title = w["title"].get<std::string>();
        out.push_back("left behind: " + by + " leaves the plug-in window of slot " + std::to_string(slot) +
                      (title.empty() ? "" : " ('" + title + "')") + " to open in its " + view + " view, not " +
                      was->second);
    }
}

std::optional<std::string> windowOrderChange(const ProjectState& before, const ProjectState& after) {
    std::vector<std::string> plugins;
    for (const auto* state : {&before, &after})
        for (const auto& w : state->ui["pluginWindows"]) plugins.push_back(w["title"].get<std::string>());
    // Logic Pro's own windows, front to back, that were open both before and after.
    auto common = [&](const json& these, const json& others) {
        std::vector<std::string> order;
        for (const auto& w : these)
            if (std::find(plugins.begin(), plugins.end(), w) == plugins.end() &&
                std::find(others.begin(), others.end(), w) != others.end())
                order.push_back(w.get<std::string>());
        return order;
    };
    const auto was = common(before.ui["windows"], after.ui["windows"]);
    const auto is = common(after.ui["windows"], before.ui["windows"]);
    if (was == is) return std::nullopt;
    return "the windows' order " + json(was).dump() + " -> " + json(is).dump();
}

void checkWindowOrder(const GeneratedCall& c, const ProjectState& before, const ProjectState& after,
                      std::vector<std::string>& out) {
    if (const auto change = windowOrderChange(before, after))
        out.push_back(std::string(isReadingTool(c.tool) ? "reading changed: " : "unnamed change: ") + *change);
}

void checkPlayhead(const GeneratedCall& c, const ProjectState& before, const ProjectState& after, double took,
                   bool stopped, bool succeeded, const std::string& said, std::vector<std::string>& out) {
    const bool wasPlaying = before.transport["playing"].get<bool>();
    const auto barOf = [&](double ticks) { return static_cast<int>(std::floor(ticks / after.ticksPerBar)) + 1; };
    const std::string moved =
        "the playhead moved from " + std::to_string(before.playheadTicks) + " to " + std::to_string(after.playheadTicks) + " ticks";
    if (c.tool == "listen_to_playback") {
        // The listen speaks of bars: the bar it left the playhead on is the one it names, and a
        // playhead left on another bar than it found it (stopped) is named.
        static const std::regex bar("playhead (moved from bar [0-9]+ to|is at) bar ([0-9]+)");
        std::smatch m;
        const bool named = std::regex_search(said, m, bar);
        if (named && std::stoi(m[2].str()) != barOf(after.playheadTicks))
            out.push_back("stated playhead differs: '" + m[0].str() + "', the playhead is at bar " +
                          std::to_string(barOf(after.playheadTicks)));
        if (!named && !wasPlaying && barOf(before.playheadTicks) != barOf(after.playheadTicks))
            out.push_back("unnamed change: " + moved);
        // A listen that played to its end leaves the playhead on its start bar, held at the project's last.
        if (succeeded && c.args.contains("start_bar") && c.args["start_bar"].is_number_integer()) {
            const int last = static_cast<int>(std::lround(after.endTicks / after.ticksPerBar));
            const int startBar = std::clamp(c.args["start_bar"].get<int>(), 1, last);
            if (barOf(after.playheadTicks) != startBar)
                out.push_back("playhead not put back: the listen from bar " + std::to_string(startBar) +
                              " left it on bar " + std::to_string(barOf(after.playheadTicks)));
        }
        return;
    }
    if (c.tool != "control_transport") return;
    // A transport call moves the playhead only as it says: to the start, or on with playback as
    // the simulated Logic Pro plays (back to the cycle's start at its end, held at the project's end).
    const std::string action = c.args["action"].get<std::string>();
    const double start = action == "go_to_beginning" ? 0 : before.playheadTicks;
    const bool plays = wasPlaying || after.transport["playing"].get<bool>();
    const double span = plays ? after.ticksPerSecond * took + 1 : 1;
    const double cycleStart = (after.transport["cycleStart"].get<int>() - 1) * after.ticksPerBar;
    const double cycleEnd = (after.transport["cycleEnd"].get<int>() - 1) * after.ticksPerBar;
    const auto within = [&](double lo, double hi) { return after.playheadTicks >= lo - 1 && after.playheadTicks <= hi; };
    const bool wraps = plays && after.transport["cycle"].get<bool>() && cycleEnd > cycleStart && start < cycleEnd &&
                       start + span >= cycleEnd;
    const bool asSaid = within(start, start + span) || (wraps && within(cycleStart, cycleStart + start + span - cycleEnd)) ||
                        (plays && start + span >= after.endTicks && within(after.endTicks, after.endTicks));
    // A Stop may come before the press.
    const bool untouched = stopped && std::fabs(after.playheadTicks - before.playheadTicks) < 1;
    if (!asSaid && !untouched) out.push_back("unnamed change: " + moved + " on '" + action + "'");
}

}  // namespace corvane::generated
