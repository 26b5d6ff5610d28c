#pragma once

#include <chrono>

namespace corvane::platform {

// Every fixed sleep and poll of the program goes through this, so that tests on the
// simulated Logic Pro run in virtual time while keeping the order of events.
class Clock {
public:
    using TimePoint = std::chrono::system_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
    virtual void sleep(std::chrono::duration<double> duration) = 0;
};

// Convenience: sleep for a number of seconds on the installed clock.
void pause(double seconds);

}  // namespace corvane::platform
