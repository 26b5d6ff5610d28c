// Runs each agent tool on the simulated Logic Pro, on the demo song and in a 64-track session, and
// prints per tool the Accessibility round trips of its first call, per call and of its costliest
// single call, against the same run with kept places switched off (each call then looks through
// Logic Pro's windows anew), the budget each is held to, and the CPU time per call; then a user's
// scripted turn: its start (the track listing), the list_tracks after it and the whole turn, first
// and per later turn. The pauses the tools are prescribed to make (activation, key pacing) pass in
// virtual time and cost no CPU; they are printed beside it as the baseline a real Logic Pro would
// add. A round trip is counted as the host answers one (see test_support/tool_round_trips.h).
//
// With CORVANE_TRACE=<line> set, the round trips of that line's first call on the demo song are
// printed one by one, each with what it asked and of which element; CORVANE_TRACE_CALL=<n> traces its
// n-th call instead (counting from 1), and CORVANE_TRACE_LARGE=1 takes the 64-track session.
//
// Last, the demo song with 0, 1, 5 and 10 folders more, collapsed, against the same song with them
// expanded: set_track_mute on the tracks at the top, several calls a turn, the first call of each
// turn (which looks into the folders) apart from the later ones (which use what that look learned).
//
// Exits with 2 when a line is over its budget, ratio or time (each such line says so).

#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support/tool_round_trips.h"

namespace corvane {
namespace {

using round_trips::Figures;
using round_trips::Session;

bool print(const char* title, const std::vector<Figures>& after, const std::vector<Figures>& before,
           const std::vector<Figures>& demo, Session session) {
    fmt::print("\n{}\n", title);
    fmt::print("{:<30} | {:>6} {:>7} {:>6} | {:>7} {:>7} {:>6} | {:>6} {:>5} | {:>18} | {:>7} {:>7} | {:>8}\n", "line",
               "first", "before", "ratio", "mean", "before", "ratio", "steady", "most", "budget f/m/1/s", "CPU ms",
               "before", "sleeps s");
    bool met = true;
    for (std::size_t i = 0; i < after.size(); ++i) {
        const auto& a = after[i];
        const auto& b = before[i];
        const auto budget = round_trips::budget(a, demo[i], session);
        const bool within = double(a.first) <= budget.first && a.mean <= budget.mean && double(a.most) <= budget.most &&
                            a.steady <= budget.steady;
        met = met && within;
        fmt::print(
            "{:<30} | {:>6} {:>7} {:>6.3f} | {:>7.1f} {:>7.1f} {:>6.3f} | {:>6.1f} {:>5} | "
            "{:>3.0f}/{:>3.0f}/{:>3.0f}/{:>3.0f} "
            "| {:>7.3f} {:>7.3f} | {:>8.3f}{}\n",
            a.tool, a.first, b.first, double(a.first) / double(b.first), a.mean, b.mean, a.mean / b.mean, a.steady,
            a.most, budget.first, budget.mean, budget.most, budget.steady, a.cpuMs, b.cpuMs, a.sleeps,
            within ? "" : "  over budget");
        if (a.sleeps != b.sleeps) fmt::print("  prescribed pauses differ: {:.3f} s before\n", b.sleeps);
    }
    return met;
}

// The round trips of one line's first call on the demo song, one by one.
void trace(const std::filesystem::path& root, const std::string& line) {
    std::string failure;
    std::vector<std::string> steps;
    bool on = false;
    testing::CountingElement::tracer() = [&](const std::string& what, const platform::AXElement& of) {
        if (!on) return;
        platform::AXValue role, description, title;
        of.impl()->copyAttributeValue(platform::ax::kRole, role);
        of.impl()->copyAttributeValue(platform::ax::kDescription, description);
        of.impl()->copyAttributeValue(platform::ax::kTitle, title);
        auto text = [](const platform::AXValue& v) {
            const auto* s = std::get_if<std::string>(&v);
            return s ? *s : std::string();
        };
        steps.push_back(fmt::format("{:<60} of {} '{}' '{}'", what, text(role), text(description), text(title)));
    };
    const auto tool = std::find_if(round_trips::tools().begin(), round_trips::tools().end(),
                                   [&](const round_trips::Tool& t) { return line == t.line(); });
    const char* large = std::getenv("CORVANE_TRACE_LARGE");
    round_trips::Rig rig(root / "trace", large && *large == '1' ? Session::large : Session::demo);
    if (tool != round_trips::tools().end()) {
        const char* nth = std::getenv("CORVANE_TRACE_CALL");
        const int calls = nth ? std::max(1, std::atoi(nth)) : 1;
        for (int i = 0; i < calls && failure.empty(); ++i) {
            on = i + 1 == calls;
            rig.call(tool->name, tool->arguments[static_cast<std::size_t>(i) % tool->arguments.size()], failure);
            rig.endTurn();
            if (tool->undoName && !on) {
                rig.call(tool->undoName, tool->undoArguments, failure);
                rig.endTurn();
            }
        }
    } else {
        on = true;
        rig.startTurn();
        for (const auto& call : round_trips::scriptedTurn())
            if (line == round_trips::kScriptedTurn || line == call.name) rig.call(call.name, call.arguments, failure);
        rig.endTurn();
    }
    on = false;
    testing::CountingElement::tracer() = nullptr;
    fmt::print("\n{} round trips of {}{}\n", steps.size(), line, failure.empty() ? "" : " (" + failure + ")");
    for (std::size_t i = 0; i < steps.size(); ++i) fmt::print("{:>4} {}\n", i + 1, steps[i]);
}

// The demo song with `count` folders of two tracks each after its own tracks, collapsed or not.
nlohmann::json withFolders(int count, bool collapsed) {
    auto song = round_trips::scenario(Session::demo);
    auto& tracks = song["project"]["tracks"];
    nlohmann::json all = nlohmann::json::array();
    auto at = tracks.begin();
    for (; at != tracks.end() && (*at).value("inArrange", true); ++at) all.push_back(*at);
    for (int i = 1; i <= count; ++i) {
        nlohmann::json children = nlohmann::json::array();
        for (const char* take : {"a", "b"})
            children.push_back({{"name", fmt::format("Take {:02}{}", i, take)}, {"kind", "audio"}});
        all.push_back(
            {{"name", fmt::format("Group {:02}", i)}, {"kind", "folder"}, {"expanded", !collapsed}, {"children", children}});
    }
    for (; at != tracks.end(); ++at) all.push_back(*at);
    tracks = std::move(all);
    return song;
}

struct TurnFigures {
    double firstCalls = 0, firstSeconds = 0;  // the turn's first call
    double laterCalls = 0, laterSeconds = 0;  // per later call
};

// `turns` turns of `perTurn` mutes each on the tracks at the top; empty on a failure.
std::vector<TurnFigures> muteTurns(const std::filesystem::path& root, int folders, bool collapsed, int turns,
                                   int perTurn, std::string& failure) {
    static const char* const kTracks[] = {"Bass", "Lead Vox", "Keys", "Guitar"};
    round_trips::Rig rig(root, withFolders(folders, collapsed));
    std::vector<TurnFigures> figures;
    for (int t = 0; t < turns; ++t) {
        TurnFigures f;
        for (int r = 0; r < perTurn; ++r) {
            const long before = rig.calls();
            const double start = rig.virtualSeconds();
            const auto args = nlohmann::json{{"track_name", kTracks[r % 4]}, {"enabled", t % 2 == 0}}.dump();
            if (!rig.call("set_track_mute", args, failure, r)) return {};
            const double calls = double(rig.calls() - before);
            const double seconds = rig.virtualSeconds() - start;
            if (r == 0) {
                f.firstCalls = calls;
                f.firstSeconds = seconds;
            } else {
                f.laterCalls += calls / (perTurn - 1);
                f.laterSeconds += seconds / (perTurn - 1);
            }
        }
        rig.endTurn();
        figures.push_back(f);
    }
    return figures;
}

// The first call of a turn with ten collapsed folders: at most this long in virtual time, the
// look into them included, in any turn.
constexpr double kTenFoldersFirstCall = 1.5;

// Collapsed against expanded, turn by turn, at several counts of folders: the means, the ratios'
// mean and their spread over the turns, and the collapsed calls' spread in virtual time.
bool printFolders(const std::filesystem::path& root, std::string& failure, bool brief) {
    const int kTurns = brief ? 1 : 6;
    const int kPerTurn = brief ? 2 : 5;
    fmt::print("\ncollapsed folders against the same expanded: set_track_mute, {} turns of {} calls\n", kTurns,
               kPerTurn);
    fmt::print("{:>7} {:<18} | {:>7} {:>8} | {:>6} {:>6} {:>6} | {:>7} {:>8} | {:>6} {:>6} {:>6} | {:>6} {:>6}\n",
               "folders", "call", "trips", "expanded", "ratio", "min", "max", "seconds", "expanded", "ratio", "min",
               "max", "s min", "s max");
    bool met = true;
    for (const int count : brief ? std::vector<int>{1} : std::vector<int>{0, 1, 5, 10}) {
        const auto at = root / std::to_string(count);
        const auto expanded = muteTurns(at / "expanded", count, false, kTurns, kPerTurn, failure);
        const auto collapsed =
            expanded.empty() ? expanded : muteTurns(at / "collapsed", count, true, kTurns, kPerTurn, failure);
        if (collapsed.empty()) return false;
        const auto line = [&](const char* title, double TurnFigures::*calls, double TurnFigures::*seconds,
                              bool first) {
            double c = 0, ce = 0, s = 0, se = 0;
            double cMin = 1e9, cMax = 0, sMin = 1e9, sMax = 0, secondsMin = 1e9, secondsMax = 0;
            for (std::size_t t = 0; t < collapsed.size(); ++t) {
                c += collapsed[t].*calls / kTurns;
                ce += expanded[t].*calls / kTurns;
                s += collapsed[t].*seconds / kTurns;
                se += expanded[t].*seconds / kTurns;
                const double cr = collapsed[t].*calls / expanded[t].*calls;
                const double sr = collapsed[t].*seconds / expanded[t].*seconds;
                cMin = std::min(cMin, cr);
                cMax = std::max(cMax, cr);
                sMin = std::min(sMin, sr);
                sMax = std::max(sMax, sr);
                secondsMin = std::min(secondsMin, collapsed[t].*seconds);
                secondsMax = std::max(secondsMax, collapsed[t].*seconds);
            }
            // Later calls use what the first one's look learned: held close to expanded. The first
            // call with ten folders is held to its time.
            std::string over;
            if (!first && (cMax > 1.2 || sMax > 1.2)) over = "  over 1.2x";
            if (first && count == 10 && secondsMax > kTenFoldersFirstCall)
                over = fmt::format("  over {:.1f} s", kTenFoldersFirstCall);
            met = met && over.empty();
            fmt::print("{:>7} {:<18} | {:>7.1f} {:>8.1f} | {:>6.3f} {:>6.3f} {:>6.3f} | {:>7.3f} {:>8.3f} | {:>6.3f} "
                       "{:>6.3f} {:>6.3f} | {:>6.3f} {:>6.3f}{}\n",
                       count, title, c, ce, c / ce, cMin, cMax, s, se, s / se, sMin, sMax, secondsMin, secondsMax,
                       over);
        };
        line("first of a turn", &TurnFigures::firstCalls, &TurnFigures::firstSeconds, true);
        line("later (per call)", &TurnFigures::laterCalls, &TurnFigures::laterSeconds, false);
    }
    return met;
}

int run() {
    char folder[] = "/tmp/corvane-tool-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    setenv("CORVANE_HOME", folder, 1);
    const std::filesystem::path root(folder);
    if (const char* line = std::getenv("CORVANE_TRACE"); line && *line) {
        trace(root, line);
        std::filesystem::remove_all(folder);
        return 0;
    }
    // CORVANE_BENCH_BRIEF set: the demo song alone, one count of folders: only that the bench
    // still runs (its budgets are not held).
    const bool brief = std::getenv("CORVANE_BENCH_BRIEF") != nullptr;
    std::string failure;
    struct Size {
        const char* title;
        Session session;
        int runs;
    };
    bool met = true;
    std::vector<Figures> demo;
    // The same number of calls at both sizes: a mean over more calls weighs the first call less.
    std::vector<Size> sizes = {{"demo song (7 tracks)", Session::demo, round_trips::kBenchRuns},
                               {"64 tracks", Session::large, round_trips::kBenchRuns}};
    if (brief) sizes.pop_back();
    for (const Size& size : sizes) {
        const auto before =
            round_trips::measure(root / "before", size.runs, {.keptPlaces = false, .session = size.session}, failure);
        const auto after = before.empty()
                               ? before
                               : round_trips::measure(root / "after", size.runs, {.session = size.session}, failure);
        if (after.empty()) {
            std::filesystem::remove_all(folder);
            fmt::print(stderr, "{}\n", failure);
            return 1;
        }
        if (size.session == Session::demo) demo = after;
        met = print(size.title, after, before, demo, size.session) && met;
    }
    if (!printFolders(root / "folders", failure, brief)) {
        if (!failure.empty()) {
            std::filesystem::remove_all(folder);
            fmt::print(stderr, "{}\n", failure);
            return 1;
        }
        met = false;
    }
    std::filesystem::remove_all(folder);
    fmt::print("\n{}\n", met ? "every line within its budget" : "some lines over their budget, ratio or time");
    return met || brief ? 0 : 2;
}

}  // namespace
}  // namespace corvane

int main() { return corvane::run(); }
