#include "platform/platform.h"

#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "platform/thread_main_queue.h"

namespace corvane::platform {

namespace {

bool sleepable(std::chrono::duration<double> d) { return d.count() > 0 && std::isfinite(d.count()); }

class SystemClock final : public Clock {
public:
    TimePoint now() override { return std::chrono::system_clock::now(); }
    void sleep(std::chrono::duration<double> d) override {
        if (d.count() > 0) std::this_thread::sleep_for(d);
    }
    bool sleepUnlessStopped(std::chrono::duration<double> d, std::stop_token stop) override {
        if (sleepable(d)) {
            std::mutex mutex;
            std::condition_variable_any woken;
            std::unique_lock lock(mutex);
            woken.wait_for(lock, stop, d, [] { return false; });
        }
        return !stop.stop_requested();
    }
};

// What this thread's pauses need to know: the scope that may stop them, what the thread has sent
// to other applications, and which of its keys and mouse button are still down there.
struct PacedThread {
    const StoppablePauses* scope = nullptr;
    std::size_t changes = 0;
    std::set<std::uint16_t> keysDown;
    bool buttonDown = false;
    int held = 0;       // HeldPauses alive
    double hurry = -1;  // the innermost hurried HeldPauses' bound once stopped; negative: none

    bool holdsInput() const { return buttonDown || !keysDown.empty(); }
};

thread_local PacedThread tPaced;

void noteKey(const KeyEvent& event, bool posted) {
    if (!posted) return;
    ++tPaced.changes;
    if (event.keyDown)
        tPaced.keysDown.insert(event.virtualKey);
    else
        tPaced.keysDown.erase(event.virtualKey);
}

void noteMouse(const MouseEvent& event, bool posted) {
    if (!posted) return;
    ++tPaced.changes;
    if (event.type == MouseEventType::leftDown) tPaced.buttonDown = true;
    if (event.type == MouseEventType::leftUp) tPaced.buttonDown = false;
}

// A host on which nothing can be reached: no trusted Accessibility, no applications, no capture.
class AbsentAccessibility final : public Accessibility {
public:
    AXElement applicationElement(int) override { return {}; }
    AXElement systemWideElement() override { return {}; }
    bool isProcessTrusted(bool) override { return false; }
};

class AbsentInput final : public Input {
public:
    bool postKeyToProcess(int, const KeyEvent&) override { return false; }
    bool postMouseToProcess(int, const MouseEvent&) override { return false; }
    bool postKeyAtHIDTap(const KeyEvent&) override { return false; }
    bool postMouseAtHIDTap(const MouseEvent&) override { return false; }
    std::optional<Point> cursorLocation() override { return std::nullopt; }
    void warpCursor(Point) override {}
};

class AbsentWorkspace final : public Workspace {
public:
    std::vector<RunningApplication> runningApplications() override { return {self()}; }
    std::optional<RunningApplication> frontmostApplication() override { return self(); }
    bool activate(int, unsigned) override { return false; }
    RunningApplication currentApplication() override { return self(); }
    void activateCurrentApplication(bool) override {}
    void hideCurrentApplication() override {}
    AppleScriptResult runAppleScript(const std::string&) override {
        return {false, "AppleScript is not available on this system."};
    }
    bool openURL(const std::string&) override { return false; }
    ObserverToken addObserver(WorkspaceNotification, Observer) override { return 0; }
    void removeObserver(ObserverToken) override {}

private:
    static RunningApplication self() {
        RunningApplication app;
        app.localizedName = "Corvane";
        app.processIdentifier = static_cast<int>(::getpid());
        return app;
    }
};

class AbsentScreenCapture final : public ScreenCapture {
public:
    CaptureResult<ShareableContent> shareableContent() override { return {std::nullopt, "No display."}; }
    CaptureResult<Image> captureWindow(std::uint32_t) override { return {std::nullopt, "No display."}; }
    CaptureResult<Image> captureDisplay(std::uint32_t) override { return {std::nullopt, "No display."}; }
    CaptureResult<Image> captureRect(Rect) override { return {std::nullopt, "No display."}; }
    std::optional<Display> mainDisplay() override { return std::nullopt; }
    bool preflightScreenRecording() override { return false; }
    bool requestScreenRecording() override { return false; }
};

std::mutex gMutex;
Services gInstalled;

Services defaults() {
    static SystemClock clock;
    static AbsentAccessibility ax;
    static AbsentInput input;
    static AbsentWorkspace workspace;
    static AbsentScreenCapture capture;
    static ThreadMainQueue mainQueue;
    return {&ax, &input, &workspace, &capture, &clock, &mainQueue};
}

std::atomic<std::uint64_t> gInstalls{1};  // bumped by every install(), under gMutex

// Every platform call looks up the installed services, from many threads at once: each thread
// keeps a copy of them and takes the lock only when an install() came since.
template <class T>
T& pick(T* Services::*member) {
    thread_local Services copy;
    thread_local std::uint64_t copied = 0;
    if (copied != gInstalls.load(std::memory_order_acquire)) {
        std::lock_guard lock(gMutex);
        copy = gInstalled;
        copied = gInstalls.load(std::memory_order_relaxed);
    }
    if (auto* p = copy.*member) return *p;
    return *(defaults().*member);
}

// The installed services as the program reaches them: whatever can change what an application
// shows (input, activation, AppleScript, time passing) also ends the Accessibility answers kept
// so far, whichever backend is installed.
class ChangingInput final : public Input {
public:
    bool postKeyToProcess(int pid, const KeyEvent& event) override {
        const bool posted = pick(&Services::input).postKeyToProcess(pid, event);
        noteKey(event, posted);
        return changed(posted);
    }
    bool postMouseToProcess(int pid, const MouseEvent& event) override {
        const bool posted = pick(&Services::input).postMouseToProcess(pid, event);
        noteMouse(event, posted);
        return changed(posted);
    }
    bool postKeyAtHIDTap(const KeyEvent& event) override {
        const bool posted = pick(&Services::input).postKeyAtHIDTap(event);
        noteKey(event, posted);
        return changed(posted);
    }
    bool postMouseAtHIDTap(const MouseEvent& event) override {
        const bool posted = pick(&Services::input).postMouseAtHIDTap(event);
        noteMouse(event, posted);
        return changed(posted);
    }
    std::optional<Point> cursorLocation() override { return pick(&Services::input).cursorLocation(); }
    void warpCursor(Point to) override {
        pick(&Services::input).warpCursor(to);
        invalidateAccessibilityReads();
    }

private:
    static bool changed(bool posted) {
        invalidateAccessibilityReads();
        return posted;
    }
};

class ChangingWorkspace final : public Workspace {
public:
    std::vector<RunningApplication> runningApplications() override {
        return pick(&Services::workspace).runningApplications();
    }
    std::optional<RunningApplication> frontmostApplication() override {
        return pick(&Services::workspace).frontmostApplication();
    }
    bool activate(int pid, unsigned options) override {
        const bool done = pick(&Services::workspace).activate(pid, options);
        invalidateAccessibilityReads();
        return done;
    }
    RunningApplication currentApplication() override { return pick(&Services::workspace).currentApplication(); }
    void activateCurrentApplication(bool ignoringOtherApps) override {
        pick(&Services::workspace).activateCurrentApplication(ignoringOtherApps);
        invalidateAccessibilityReads();
    }
    void hideCurrentApplication() override {
        pick(&Services::workspace).hideCurrentApplication();
        invalidateAccessibilityReads();
    }
    AppleScriptResult runAppleScript(const std::string& source) override {
        auto result = pick(&Services::workspace).runAppleScript(source);
        invalidateAccessibilityReads();
        return result;
    }
    bool openURL(const std::string& url) override {
        const bool opened = pick(&Services::workspace).openURL(url);
        invalidateAccessibilityReads();
        return opened;
    }
    ObserverToken addObserver(WorkspaceNotification notification, Observer observer) override {
        return pick(&Services::workspace).addObserver(notification, std::move(observer));
    }
    void removeObserver(ObserverToken token) override { pick(&Services::workspace).removeObserver(token); }
};

class ChangingClock final : public Clock {
public:
    TimePoint now() override { return pick(&Services::clock).now(); }
    void sleep(std::chrono::duration<double> duration) override {
        invalidateAccessibilityReads();
        pick(&Services::clock).sleep(duration);
        invalidateAccessibilityReads();
    }
    bool sleepUnlessStopped(std::chrono::duration<double> duration, std::stop_token stop) override {
        invalidateAccessibilityReads();
        const bool whole = pick(&Services::clock).sleepUnlessStopped(duration, std::move(stop));
        invalidateAccessibilityReads();
        return whole;
    }
    bool waitUntil(TimePoint due, std::stop_token stop) override {
        return pick(&Services::clock).waitUntil(due, std::move(stop));
    }
    Subscription onMoved(std::function<void()> moved) override {
        return pick(&Services::clock).onMoved(std::move(moved));
    }
};

}  // namespace

Accessibility& accessibility() { return pick(&Services::accessibility); }
Input& input() {
    static ChangingInput changing;
    return changing;
}
Workspace& workspace() {
    static ChangingWorkspace changing;
    return changing;
}
ScreenCapture& screenCapture() { return pick(&Services::screenCapture); }
Clock& clock() {
    static ChangingClock changing;
    return changing;
}
MainQueue& mainQueue() { return pick(&Services::mainQueue); }

Services install(const Services& services) {
    std::lock_guard lock(gMutex);
    Services previous = std::exchange(gInstalled, services);
    gInstalls.fetch_add(1, std::memory_order_release);
    return previous;
}

Services installed() {
    std::lock_guard lock(gMutex);
    return gInstalled;
}

bool Clock::waitUntil(TimePoint due, std::stop_token stop) {
    std::mutex waitMutex;
    std::condition_variable_any wake;
    while (now() < due) {
        std::unique_lock lock(waitMutex);
        wake.wait_for(lock, stop, std::chrono::milliseconds(20), [] { return false; });
        if (stop.stop_requested()) return false;
    }
    return true;
}

bool Clock::sleepUnlessStopped(std::chrono::duration<double> duration, std::stop_token stop) {
    constexpr double kSlice = 0.05;
    if (!sleepable(duration)) {
        sleep(duration);
        return !stop.stop_requested();
    }
    for (double left = duration.count(); left > 0; left -= kSlice) {
        if (stop.stop_requested()) return false;
        sleep(std::chrono::duration<double>(std::min(left, kSlice)));
    }
    return true;
}

void noteAccessibilityChange() { ++tPaced.changes; }

StoppablePauses::StoppablePauses(std::stop_token stop)
    : stop_(std::move(stop)), outer_(tPaced.scope), changesAtStart_(tPaced.changes) {
    tPaced.scope = this;
}

StoppablePauses::~StoppablePauses() { tPaced.scope = outer_; }

std::size_t StoppablePauses::changesSent() const { return tPaced.changes - changesAtStart_; }

bool stopRequested() { return tPaced.scope && tPaced.scope->stop_.stop_requested(); }

HeldPauses::HeldPauses() : outerHurry_(tPaced.hurry) { ++tPaced.held; }

HeldPauses::HeldPauses(double atMostOnceStopped) : outerHurry_(tPaced.hurry) {
    ++tPaced.held;
    tPaced.hurry = std::max(0.0, atMostOnceStopped);
}

HeldPauses::~HeldPauses() {
    --tPaced.held;
    tPaced.hurry = outerHurry_;
}

void pause(double seconds) {
    const auto duration = std::chrono::duration<double>(seconds);
    const StoppablePauses* scope = tPaced.scope;
    if (!scope) {
        clock().sleep(duration);
        return;
    }
    // A key or button left down, or a second exception during unwinding, would do more harm than
    // the rest of one pause.
    const auto mayStop = [] { return tPaced.held == 0 && !tPaced.holdsInput() && std::uncaught_exceptions() == 0; };
    if (tPaced.held > 0 && tPaced.hurry >= 0 && !tPaced.holdsInput()) {
        const auto hurried = std::chrono::duration<double>(std::min(seconds, tPaced.hurry));
        if (scope->stop_.stop_requested()) {
            clock().sleep(hurried);
            return;
        }
        const auto start = clock().now();
        if (clock().sleepUnlessStopped(duration, scope->stop_)) return;
        const std::chrono::duration<double> slept = clock().now() - start;
        if (slept < duration) clock().sleep(std::min(hurried, duration - slept));
        return;
    }
    // Input under way (a drag, a key held) is finished at once after a Stop: its remaining steps
    // go without their pauses, so that the button or key comes up without delay.
    if (tPaced.held == 0 && tPaced.holdsInput() && std::uncaught_exceptions() == 0) {
        clock().sleepUnlessStopped(duration, scope->stop_);
        return;
    }
    if (!mayStop()) {
        clock().sleep(duration);
        return;
    }
    if (scope->stop_.stop_requested() || !clock().sleepUnlessStopped(duration, scope->stop_)) throw PauseStopped{};
}

}  // namespace corvane::platform
