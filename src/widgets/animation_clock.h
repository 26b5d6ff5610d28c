#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <optional>

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

// A value moving to a new target over a fixed time on a curve; at rest when not moving.
class Transition {
public:
    enum class Curve { easeOut, easeInOut };
    Transition(double value, double seconds, Curve curve)
        : from_(value), to_(value), seconds_(seconds), curve_(curve) {}
    // Starts from wherever the value is now.
    void animateTo(double target, double now);
    void jumpTo(double target);
    double value(double now) const;
    bool isMoving(double now) const { return start_ && now - *start_ < seconds_; }

private:
    double from_;
    double to_;
    double seconds_;
    Curve curve_;
    std::optional<double> start_;
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
