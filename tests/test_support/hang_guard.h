#pragma once

// How long a test waits for an event (an answer, a state, a thread's end) before calling it a hang.
// Far above what the event takes on a machine busy with several times as many threads as it has
// cores, so that only a hang reaches it; a test never fails on a slow machine for reaching it.

#include <chrono>

namespace corvane::testing {

inline constexpr std::chrono::seconds kHangGuard{300};

}  // namespace corvane::testing
