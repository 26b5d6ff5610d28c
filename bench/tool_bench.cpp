// Runs each agent tool on the simulated Logic Pro, on the demo song and in a 64-track session, and
// prints per tool the Accessibility round trips of its first call and per call against the same run
// with kept places switched off (each call then looks Logic Pro's windows through anew), the budget
// each is held to, and the CPU time per call. The pauses the tools are prescribed to make
// (activation, key pacing) pass in virtual time and cost no CPU; they are printed beside it as the
// baseline a real Logic Pro would add. A round trip is counted as the host answers one (see
// test_support/tool_round_trips.h).

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
    fmt::print("{:<22} | {:>7} {:>7} {:>6} | {:>8} {:>8} {:>6} | {:>7} | {:>7} {:>7} | {:>8}\n", "tool", "first",
               "before", "ratio", "mean", "before", "ratio", "budget", "CPU ms", "before", "sleeps s");
    bool met = true;
    for (std::size_t i = 0; i < after.size(); ++i) {
        const auto& a = after[i];
        const auto& b = before[i];
        const auto budget = round_trips::budget(round_trips::tools()[i], demo[i], session);
        const bool within = double(a.first) <= budget.first && a.mean <= budget.mean;
        met = met && within;
        fmt::print("{:<22} | {:>7} {:>7} {:>6.3f} | {:>8.1f} {:>8.1f} {:>6.3f} | {:>7.0f} | {:>7.3f} {:>7.3f} | {:>8.3f}{}\n",
                   a.tool, a.first, b.first, double(a.first) / double(b.first), a.mean, b.mean, a.mean / b.mean,
                   budget.first, a.cpuMs, b.cpuMs, a.sleeps, within ? "" : "  over budget");
        if (a.sleeps != b.sleeps) fmt::print("  prescribed pauses differ: {:.3f} s before\n", b.sleeps);
    }
    return met;
}

int run() {
    char folder[] = "/tmp/corvane-tool-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    setenv("CORVANE_HOME", folder, 1);
    const std::filesystem::path root(folder);
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
        const auto before = round_trips::measure(root / "before", size.runs,
                                                 {.keptPlaces = false, .session = size.session}, failure);
        const auto after =
            before.empty() ? before : round_trips::measure(root / "after", size.runs, {.session = size.session}, failure);
        if (after.empty()) {
            std::filesystem::remove_all(folder);
            fmt::print(stderr, "{}\n", failure);
            return 1;
        }
        if (size.session == Session::demo) demo = after;
        met = print(size.title, after, before, demo, size.session) && met;
    }
    std::filesystem::remove_all(folder);
    fmt::print("\n{}\n", met ? "every tool within its budget" : "some tools over their budget");
    return 0;
}

}  // namespace
}  // namespace corvane

int main() { return corvane::run(); }
