#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

namespace corvane {

// The time the transcript's animations read. Widgets redraw from "seconds since something"
// alone, so a test that moves a manual clock and calls the widget's tick() sees exactly the
// frame a person would see at that moment; the frame timer only calls tick().
class AnimationClock {
public:
    virtual ~AnimationClock() = default;
    virtual double seconds() const = 0;
    // The monotonic clock of the running window.
    static AnimationClock& system();
};

class ManualAnimationClock : public AnimationClock {
public:
    double seconds() const override { return now_; }
    void advance(double seconds) { now_ += seconds; }

private:
    double now_ = 0;
};

// Calls `frame` about 60 times a second while running; tests never start it and call the
// widget's tick() themselves.
class FrameTimer {
public:
    explicit FrameTimer(std::function<void()> frame);
    void start() {
        if (!timer_.isActive()) timer_.start();
    }
    void stop() { timer_.stop(); }
    bool isActive() const { return timer_.isActive(); }

private:
    QTimer timer_;
};

}  // namespace corvane
