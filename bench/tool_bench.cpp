// Runs each agent tool 100 times on the simulated Logic Pro and prints, per tool, the
// Accessibility round trips of its first call and per call, against the goal each is held to and
// against the same run with kept answers and batched reads switched off, and the CPU time per
// call. The pauses the tools are prescribed to make (activation, key pacing) pass in virtual time
// and cost no CPU; they are printed beside it as the baseline a real Logic Pro would add.

#include <fmt/format.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support/tool_round_trips.h"

namespace corvane {
namespace {

int run() {
    char folder[] = "/tmp/corvane-tool-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    setenv("CORVANE_HOME", folder, 1);
    constexpr int kRuns = 100;
    std::string failure;
    const auto before = round_trips::measure(std::filesystem::path(folder) / "unkept", kRuns, false, failure);
    const auto after =
        before.empty() ? before : round_trips::measure(std::filesystem::path(folder) / "kept", kRuns, true, failure);
    std::filesystem::remove_all(folder);
    if (after.empty()) {
        fmt::print(stderr, "{}\n", failure);
        return 1;
    }
    fmt::print("{:<22} {:>6} | {:>7} {:>7} {:>6} | {:>8} {:>8} {:>6} | {:>7} {:>7} {:>6} | {:>8}\n", "tool", "goal",
               "first", "before", "ratio", "mean", "before", "ratio", "CPU ms", "before", "ratio", "sleeps s");
    bool met = true;
    for (std::size_t i = 0; i < after.size(); ++i) {
        const auto& a = after[i];
        const auto& b = before[i];
        const bool within = a.first <= a.goal && a.mean <= static_cast<double>(a.goal);
        met = met && within;
        fmt::print(
            "{:<22} {:>6} | {:>7} {:>7} {:>6.3f} | {:>8.1f} {:>8.1f} {:>6.3f} | {:>7.3f} {:>7.3f} {:>6.3f} | "
            "{:>8.3f}{}\n",
            a.tool, a.goal, a.first, b.first, double(a.first) / double(b.first), a.mean, b.mean, a.mean / b.mean,
            a.cpuMs, b.cpuMs, a.cpuMs / b.cpuMs, a.sleeps, within ? "" : "  over goal");
        if (a.sleeps != b.sleeps) fmt::print("  prescribed pauses differ: {:.3f} s before\n", b.sleeps);
    }
    fmt::print("{}\n", met ? "every tool within its goal" : "some tools over their goal");
    return 0;
}

}  // namespace
}  // namespace corvane

int main() { return corvane::run(); }
