#pragma once

// Measures what work costs in a way a busy machine does not sway: the processor time of the
// thread that does it (the time other programs held the processor is not in it), and sizes
// compared in the same run rather than against a bound in seconds.

#include <time.h>

#include <algorithm>
#include <limits>

namespace corvane::testing {

inline double threadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

template <class Work>
double cpuSecondsOf(Work&& work) {
    const double start = threadCpuSeconds();
    work();
    return threadCpuSeconds() - start;
}

struct CostRatio {
    double small = 0, large = 0;  // each size's cheapest round, processor seconds
    double ratio() const { return large / small; }
};

// Times the two sizes in turn, round after round, and keeps each one's cheapest round: a moment
// of contention for the caches weighs on both alike and on no cheapest round.
template <class Small, class Large>
CostRatio costRatio(Small&& small, Large&& large, int rounds = 5) {
    CostRatio cost{std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
    for (int round = 0; round < rounds; ++round) {
        cost.small = std::min(cost.small, cpuSecondsOf(small));
        cost.large = std::min(cost.large, cpuSecondsOf(large));
    }
    return cost;
}

}  // namespace corvane::testing
