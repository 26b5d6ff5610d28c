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

#include <fmt/format.h>

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
    std::string failure;
    struct Size {
        const char* title;
        Session session;
        int runs;
    };
    bool met = true;
    std::vector<Figures> demo;
    // The same number of calls at both sizes: a mean over more calls weighs the first call less.
    for (const Size size : {Size{"demo song (7 tracks)", Session::demo, 20}, Size{"64 tracks", Session::large, 20}}) {
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
    std::filesystem::remove_all(folder);
    fmt::print("\n{}\n", met ? "every line within its budget" : "some lines over their budget");
    return 0;
}

}  // namespace
}  // namespace corvane

int main() { return corvane::run(); }
