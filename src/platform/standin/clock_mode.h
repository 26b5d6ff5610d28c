#pragma once

namespace corvane::standin {

// How the simulated world's time passes. Tests keep the virtual clock, on which a sleep moves time
// at once; the running programs use the wall clock, on which sleeps wait, the transport plays and
// the world's events fall due in real time, and "now" is the real date and time.
enum class ClockMode { virtualTime, wall };

}  // namespace corvane::standin
