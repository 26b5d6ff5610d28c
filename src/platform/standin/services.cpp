// The platform interfaces as the stand-in implements them: thin doors into the engine.

#include "platform/standin/services.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/loopback_post.h"
#include "platform/standin/engine.h"

namespace corvane::standin::detail {

using platform::AXElement;

// ---- Accessibility ----------------------------------------------------------------------------------

AXElement StandinAccessibility::applicationElement(int pid) {
    return e_->run([&] {
        Handle h;
        if (e_->logicRunning && pid == e_->logicApp.pid) {
            e_->ensureTree();
            if (e_->tree.size() > 0) {
                h.id = e_->tree[0].id;
                h.gen = e_->tree[0].gen;
                return e_->element(h);
            }
        }
        h.kind = Handle::Kind::foreign;
        h.pid = pid;
        h.noProcess = e_->app(pid) == nullptr;
        return e_->element(h);
    });
}

AXElement StandinAccessibility::systemWideElement() {
    Handle h;
    h.kind = Handle::Kind::systemWide;
    return e_->element(h);
}

bool StandinAccessibility::isProcessTrusted(bool prompt) {
    return e_->run([&] {
        const bool trusted = e_->faults.accessibilityTrusted;
        if (!trusted && prompt) {
            ++e_->accessibilityPrompts;
            Event ev;
            ev.kind = EventKind::permissionPrompt;
            ev.name = "accessibility";
            e_->record(std::move(ev));
            if (e_->faults.grantOnPrompt) {
                e_->faults.accessibilityTrusted = true;
                e_->changed();
            }
        }
        return trusted;
    });
}

// ---- Input ------------------------------------------------------------------------------------------

// A key that reached an application is seen by the global key monitor too, after the engine's lock.
bool StandinInput::postKeyToProcess(int pid, const platform::KeyEvent& event) {
    const bool posted = e_->run([&] { return e_->postKey(false, pid, event); });
    if (posted) e_->keyHub.deliver(event);
    return posted;
}
bool StandinInput::postMouseToProcess(int pid, const platform::MouseEvent& event) {
    return e_->run([&] { return e_->postMouse(false, pid, event); });
}
bool StandinInput::postKeyAtHIDTap(const platform::KeyEvent& event) {
    const bool posted = e_->run([&] { return e_->postKey(true, 0, event); });
    if (posted) e_->keyHub.deliver(event);
    return posted;
}
bool StandinInput::postMouseAtHIDTap(const platform::MouseEvent& event) {
    return e_->run([&] { return e_->postMouse(true, 0, event); });
}
std::optional<platform::Point> StandinInput::cursorLocation() {
    return e_->run([&] { return std::optional<platform::Point>(e_->cursor); });
}
void StandinInput::warpCursor(platform::Point to) {
    e_->run([&] {
        e_->cursor = to;
        Event ev;
        ev.kind = EventKind::warp;
        ev.point = to;
        e_->record(std::move(ev));
    });
}

// ---- Workspace --------------------------------------------------------------------------------------

std::vector<platform::RunningApplication> StandinWorkspace::runningApplications() {
    return e_->run([&] {
        std::vector<platform::RunningApplication> out;
        for (const auto& a : e_->apps) out.push_back(e_->runningApplication(a));
        return out;
    });
}

std::optional<platform::RunningApplication> StandinWorkspace::frontmostApplication() {
    return e_->run([&]() -> std::optional<platform::RunningApplication> {
        if (!e_->frontmost) return std::nullopt;
        const AppRecord* a = e_->app(*e_->frontmost);
        if (!a) return std::nullopt;
        return e_->runningApplication(*a);
    });
}

bool StandinWorkspace::activate(int pid, unsigned options) {
    return e_->run([&] { return e_->requestActivation(pid, false, options); });
}

platform::RunningApplication StandinWorkspace::currentApplication() {
    return e_->run([&] {
        const AppRecord* self = e_->app(e_->selfPid);
        if (self) return e_->runningApplication(*self);
        platform::RunningApplication r;
        r.processIdentifier = e_->selfPid;
        r.localizedName = "Corvane";
        return r;
    });
}

void StandinWorkspace::activateCurrentApplication(bool ignoringOtherApps) {
    e_->run([&] {
        e_->requestActivation(e_->selfPid, false, ignoringOtherApps ? platform::activation::kIgnoringOtherApps : 0u);
    });
}

void StandinWorkspace::hideCurrentApplication() {
    e_->run([&] { e_->hideSelf(); });
}

platform::AppleScriptResult StandinWorkspace::runAppleScript(const std::string& source) {
    return e_->run([&] { return e_->appleScript(source); });
}

bool StandinWorkspace::openURL(const std::string& url) {
    return e_->run([&] {
        Event ev;
        ev.kind = EventKind::openURL;
        ev.name = url;
        e_->record(std::move(ev));
        return true;
    });
}

platform::Workspace::ObserverToken StandinWorkspace::addObserver(platform::WorkspaceNotification n, Observer observer) {
    std::lock_guard lock(e_->observerMutex);
    const ObserverToken token = e_->nextObserverToken++;
    e_->observers.emplace(token, std::make_pair(n, std::move(observer)));
    return token;
}

void StandinWorkspace::removeObserver(ObserverToken token) {
    std::lock_guard lock(e_->observerMutex);
    e_->observers.erase(token);
}

// ---- Screen capture ---------------------------------------------------------------------------------

platform::CaptureResult<platform::ShareableContent> StandinScreenCapture::shareableContent() {
    return e_->run([&] { return e_->shareableContent(); });
}
platform::CaptureResult<platform::Image> StandinScreenCapture::captureWindow(std::uint32_t id) {
    return e_->run([&] { return e_->captureWindow(id); });
}
platform::CaptureResult<platform::Image> StandinScreenCapture::captureDisplay(std::uint32_t id) {
    return e_->run([&] { return e_->captureDisplay(id); });
}
platform::CaptureResult<platform::Image> StandinScreenCapture::captureRect(platform::Rect rect) {
    return e_->run([&] { return e_->captureRect(rect); });
}
std::optional<platform::Display> StandinScreenCapture::mainDisplay() {
    return e_->run([&]() -> std::optional<platform::Display> {
        for (const auto& d : e_->displays)
            if (d.isMain) return d;
        return std::nullopt;
    });
}
namespace {
void recordScreenRecordingCheck(Engine& e, const char* route, bool granted, std::string detail = {}) {
    Event ev;
    ev.kind = EventKind::permissionCheck;
    ev.name = "screenRecording";
    ev.route = route;
    ev.outcome = granted ? "granted" : "denied";
    ev.detail = std::move(detail);
    e.record(std::move(ev));
}
}  // namespace

bool StandinScreenCapture::preflightScreenRecording() {
    return e_->run([&] {
        const bool granted = e_->faults.screenRecording == ScreenRecording::granted;
        recordScreenRecordingCheck(*e_, "preflight", granted);
        return granted;
    });
}
bool StandinScreenCapture::requestScreenRecording() {
    return e_->run([&] {
        ScreenRecording& state = e_->faults.screenRecording;
        const bool prompted = state == ScreenRecording::undetermined;
        if (prompted) {
            ++e_->screenRecordingPrompts;
            Event ev;
            ev.kind = EventKind::permissionPrompt;
            ev.name = "screenRecording";
            e_->record(std::move(ev));
            state = e_->faults.promptAnswer == ScreenRecording::granted ? ScreenRecording::granted
                                                                        : ScreenRecording::denied;
        }
        const bool granted = state == ScreenRecording::granted;
        recordScreenRecordingCheck(*e_, "request", granted, prompted ? "after prompt" : "no prompt");
        return granted;
    });
}

// ---- Clock ------------------------------------------------------------------------------------------

void sendAnalysisPost(Engine& e, const AnalysisPost& post) {
    const auto result =
        platform::postToLoopback(static_cast<std::uint16_t>(post.port), "/analysis", "application/json", post.body);
    e.run([&] {
        Event event;
        event.kind = EventKind::analysisPost;
        event.name = post.instanceID;
        event.code = result.statusCode;
        event.outcome = result.delivered ? "delivered" : "dropped";
        event.detail = result.delivered ? "port " + std::to_string(post.port) : result.error;
        e.record(std::move(event));
    });
}

platform::Clock::TimePoint VirtualClock::now() {
    return e_->run([&] {
        return e_->epoch +
               std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(e_->nowNs));
    });
}

// Time stops at every due analysis post until it has been sent: the post goes out over the
// loopback socket with the engine unlocked (the server reads this clock), then time moves on.
void VirtualClock::sleep(std::chrono::duration<double> duration) {
    // A sleep of no time moves nothing; it only sends what is already due.
    const double seconds = duration.count();
    const bool moves = seconds > 0 && std::isfinite(seconds);
    const std::int64_t target = e_->run([&] { return e_->targetAfter(seconds); });
    for (;;) {
        std::vector<AnalysisPost> posts;
        const bool reached = e_->run([&] {
            const bool done = !moves || e_->advanceTo(target, true);
            posts.swap(e_->outbox);
            return done;
        });
        for (const auto& post : posts) sendAnalysisPost(*e_, post);
        if (reached) break;
    }
}

namespace {

// Sends what is due by now, in order: the sender holds the delivery lock from taking the posts
// until the last has gone, so that a later batch cannot overtake it.
void deliverDuePosts(Engine& e) {
    std::lock_guard sending(e.deliveryMutex);
    std::vector<AnalysisPost> posts;
    e.run([&] { posts.swap(e.outbox); });
    for (const auto& post : posts) sendAnalysisPost(e, post);
}

}  // namespace

// The real moment, not the world's: while the transport plays that one moves in frames.
platform::Clock::TimePoint WallClock::now() {
    return e_->run([&] {
        const std::int64_t ns = std::max(e_->wallNs(), e_->nowNs);
        return e_->epoch +
               std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::nanoseconds(ns));
    });
}

// The plug-ins post from the world's own thread, as the real ones post from Logic Pro's process:
// a sleeper never waits for a post, so a server that holds the port and never answers cannot
// hold up the program's work (on the virtual clock it must, for the order of events).
void WallClock::sleep(std::chrono::duration<double> duration) {
    const double seconds = duration.count();
    if (seconds > 0 && std::isfinite(seconds)) {
        constexpr double kLongest = 365.0 * 24 * 3600;
        std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::duration<double>(std::min(seconds, kLongest))));
    }
    e_->run([] {});  // the world catches up with the time slept
}

bool WallClock::sleepUnlessStopped(std::chrono::duration<double> duration, std::stop_token stop) {
    const double seconds = duration.count();
    if (seconds > 0 && std::isfinite(seconds)) {
        constexpr double kLongest = 365.0 * 24 * 3600;
        std::mutex mutex;
        std::condition_variable_any woken;
        std::unique_lock lock(mutex);
        woken.wait_for(lock, stop, std::chrono::duration<double>(std::min(seconds, kLongest)), [] { return false; });
    }
    e_->run([] {});
    return !stop.stop_requested();
}

void runWallClockTimer(Engine& e, std::stop_token stop) {
    while (!stop.stop_requested()) {
        deliverDuePosts(e);
        std::unique_lock lock(e.mutex);
        std::optional<std::int64_t> wake;
        for (const auto& s : e.scheduled) wake = std::min(wake.value_or(s.due), s.due);
        if (e.project.transport.playing && e.logicRunning)
            wake = std::min(wake.value_or(INT64_MAX), e.nowNs + Engine::kWallFrameNs);
        // Anything scheduled meanwhile may be due sooner, posts queued by another thread go out now,
        // and a transport that started or stopped playing changes the next frame.
        const Engine::TimerView seen = e.timerView();
        e.lastTimerView = seen;
        const auto news = [&] {
            const Engine::TimerView now = e.timerView();
            return now.seq != seen.seq || now.postsWaiting || now.playing != seen.playing;
        };
        if (wake)
            e.timerWake.wait_until(lock, stop, e.wallStart + std::chrono::nanoseconds(*wake), news);
        else
            e.timerWake.wait(lock, stop, news);
    }
}

}  // namespace corvane::standin::detail
