#include "widgets/animation_clock.h"

#include <algorithm>
#include <cmath>

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

void Transition::animateTo(double target, double now) {
    from_ = value(now);
    to_ = target;
    start_ = now;
}

void Transition::jumpTo(double target) {
    from_ = to_ = target;
    start_.reset();
}

double Transition::value(double now) const {
    if (!start_ || seconds_ <= 0) return to_;
    const double p = std::clamp((now - *start_) / seconds_, 0.0, 1.0);
    const double eased = curve_ == Curve::easeOut ? 1 - (1 - p) * (1 - p) * (1 - p)
                                                  : (p < 0.5 ? 4 * p * p * p : 1 - std::pow(-2 * p + 2, 3) / 2);
    return from_ + (to_ - from_) * eased;
}

FrameTimer::FrameTimer(std::function<void()> frame) {
    timer_.setInterval(16);
    QObject::connect(&timer_, &QTimer::timeout, [f = std::move(frame)] { f(); });
}

}  // namespace corvane
