#pragma once

#include <cstdint>
#include <functional>

namespace corvane::platform {

// Tells a viewer of the screen that what a capture would show may have changed, so that it can
// capture again. Observers are called on the thread that made the change, never under a lock of
// the screen's owner, so they may capture; they should post their work on and return.
class ScreenChanges {
public:
    using Observer = std::function<void()>;
    using Token = std::uint64_t;

    virtual ~ScreenChanges() = default;
    virtual Token addObserver(Observer observer) = 0;
    virtual void removeObserver(Token token) = 0;
};

}  // namespace corvane::platform
