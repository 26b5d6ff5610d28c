#include "ui/widgets/animation_clock.h"

namespace corvane {

namespace {
class SystemAnimationClock : public AnimationClock {
public:
    SystemAnimationClock() { timer_.start(); }
    double seconds() const override { return double(timer_.nsecsElapsed()) / 1e9; }

private:
    QElapsedTimer timer_;
};
}  // namespace

AnimationClock& AnimationClock::system() {
    static SystemAnimationClock clock;
    return clock;
}

FrameTimer::FrameTimer(std::function<void()> frame) {
    timer_.setInterval(16);
    QObject::connect(&timer_, &QTimer::timeout, [f = std::move(frame)] { f(); });
}

}  // namespace corvane
