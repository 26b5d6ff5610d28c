#include "platform/standin/engine.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace corvane::standin::detail {

namespace {
constexpr double kMaxStepSeconds = 365.0 * 24 * 3600;
}

void Engine::record(Event e) {
    e.time = seconds();
    log.push_back(std::move(e));
}

void Engine::changed() {
    treeDirty = true;
    ++screenRevision;
    if (faults.staleAfter.mode == StaleAfter::Mode::always) ++staleEpoch;
}

const Tree& Engine::ensureTree() {
    if (treeDirty) {
        buildTree(*this);
        treeDirty = false;
    }
    return tree;
}

void Engine::schedule(double delaySeconds, std::string what, std::function<void()> fn) {
    Scheduled s;
    // Delays are bounded (a year) so that the nanosecond arithmetic cannot overflow.
    const double delay = std::isfinite(delaySeconds) ? std::clamp(delaySeconds, 0.0, kMaxStepSeconds) : 0.0;
    s.due = nowNs + std::llround(delay * 1e9);
    s.seq = nextSeq++;
    s.what = std::move(what);
    s.run = std::move(fn);
    scheduled.push_back(std::move(s));
}

std::int64_t Engine::targetAfter(double secs) const {
    if (!(secs > 0) || !std::isfinite(secs)) return nowNs;
    return nowNs + std::llround(std::min(secs, kMaxStepSeconds) * 1e9);
}

void Engine::advanceBy(double secs) { advanceTo(targetAfter(secs), false); }

// Runs, in time order, every event due by the target and lets playback run in between.
bool Engine::advanceTo(std::int64_t target, bool stopAtPost) {
    for (;;) {
        if (stopAtPost && !outbox.empty()) return false;
        auto next = std::min_element(scheduled.begin(), scheduled.end(), [](const Scheduled& a, const Scheduled& b) {
            return a.due != b.due ? a.due < b.due : a.seq < b.seq;
        });
        if (next == scheduled.end() || next->due > target) break;
        Scheduled item = std::move(*next);
        scheduled.erase(next);
        if (item.due > nowNs) {
            advancePlayback(double(item.due - nowNs) / 1e9);
            nowNs = item.due;
            syncAnalysis();
        }
        item.run();
        syncAnalysis();
    }
    if (target > nowNs) {
        advancePlayback(double(target - nowNs) / 1e9);
        nowNs = target;
        syncAnalysis();
    }
    return !(stopAtPost && !outbox.empty());
}

void Engine::advancePlayback(double secs) {
    Transport& t = project.transport;
    if (!t.playing || !logicRunning || secs <= 0) return;
    const double before = t.positionTicks;
    double pos = before + secs * t.ticksPerSecond();
    if (t.cycleOn) {
        const double start = (t.cycleStartBar - 1) * t.ticksPerBar();
        const double end = (t.cycleEndBar - 1) * t.ticksPerBar();
        if (end > start && before < end && pos >= end) pos = start + std::fmod(pos - end, end - start);
    }
    if (!std::isfinite(pos) || pos >= t.endTicks()) {
        pos = t.endTicks();
        t.playing = false;
        t.recording = false;
    }
    t.positionTicks = pos;
    changed();
}

std::int64_t Engine::wallNs() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - wallStart).count();
}

void Engine::followWallClock() {
    if (!wallClock) return;
    const std::int64_t now = wallNs();
    const bool playing = project.transport.playing && logicRunning;
    const bool due = std::any_of(scheduled.begin(), scheduled.end(), [&](const Scheduled& s) { return s.due <= now; });
    if (playing && !due && now - nowNs < kWallFrameNs) return;
    advanceTo(std::max(now, nowNs), false);
}

Engine::TimerView Engine::timerView() const {
    return {nextSeq, !outbox.empty(), project.transport.playing && logicRunning};
}

void Engine::wakeTimer() {
    if (!wallClock) return;
    const TimerView view = timerView();
    if (view == lastTimerView) return;
    lastTimerView = view;
    timerWake.notify_all();
}

void Engine::notify(platform::WorkspaceNotification notification, int pid) {
    const AppRecord* a = pid == logicApp.pid ? &logicApp : app(pid);
    if (!a) return;
    pendingNotes.emplace_back(notification, runningApplication(*a));
}

void Engine::flushNotifications() {
    std::vector<Note> notes;
    platform::MainQueue* queue = nullptr;
    bool screenChanged = false;
    {
        std::lock_guard lock(mutex);
        notes.swap(pendingNotes);
        queue = mainQueue;
        screenChanged = std::exchange(announcedScreenRevision, screenRevision) != screenRevision;
    }
    if (screenChanged) {
        std::vector<platform::ScreenChanges::Observer> viewers;
        {
            std::lock_guard lock(observerMutex);
            for (const auto& [token, observer] : screenObservers) viewers.push_back(observer);
        }
        for (const auto& viewer : viewers) viewer();
    }
    if (notes.empty() || !queue) return;
    std::weak_ptr<Engine> weak = weak_from_this();
    for (auto& note : notes) {
        queue->async([weak, note = std::move(note)] {
            if (auto self = weak.lock()) self->deliver(note);
        });
    }
}

void Engine::deliver(const Note& note) {
    std::vector<platform::Workspace::Observer> targets;
    {
        std::lock_guard lock(observerMutex);
        for (const auto& [token, entry] : observers)
            if (entry.first == note.first) targets.push_back(entry.second);
    }
    for (const auto& observer : targets)
        if (observer) observer(note.second);
}

std::string utf8(const std::u16string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace corvane::standin::detail

namespace corvane::standin {

std::string to_string(EventKind kind) {
    switch (kind) {
        case EventKind::key: return "key";
        case EventKind::mouse: return "mouse";
        case EventKind::warp: return "warp";
        case EventKind::axAction: return "axAction";
        case EventKind::axWrite: return "axWrite";
        case EventKind::activation: return "activation";
        case EventKind::appleScript: return "appleScript";
        case EventKind::hide: return "hide";
        case EventKind::launch: return "launch";
        case EventKind::quit: return "quit";
        case EventKind::capture: return "capture";
        case EventKind::openURL: return "openURL";
        case EventKind::permissionPrompt: return "permissionPrompt";
        case EventKind::permissionCheck: return "permissionCheck";
        case EventKind::analysisPost: return "analysisPost";
    }
    return "event";
}

std::string describe(const Event& e) {
    std::string s = fmt::format("[{:.3f}] {}", e.time, to_string(e.kind));
    if (!e.route.empty()) s += " route=" + e.route;
    if (e.pid) s += fmt::format(" pid={}", e.pid);
    switch (e.kind) {
        case EventKind::key:
            s += fmt::format(" vk={} {} flags=0x{:x}", e.keyCode, e.keyDown ? "down" : "up", e.flags);
            if (!e.text.empty()) s += " text=\"" + e.text + "\"";
            break;
        case EventKind::mouse:
        case EventKind::warp: s += fmt::format(" at=({},{})", e.point.x, e.point.y); break;
        default: break;
    }
    if (e.options) s += fmt::format(" options=0x{:x}", *e.options);
    if (!e.element.empty()) s += " element=" + e.element;
    if (!e.place.empty()) s += " place=" + e.place;
    if (!e.name.empty()) s += " name=\"" + e.name + "\"";
    if (e.kind == EventKind::axAction || e.kind == EventKind::axWrite) s += fmt::format(" code={}", e.code);
    if (!e.outcome.empty()) s += " outcome=" + e.outcome;
    if (!e.detail.empty()) s += " (" + e.detail + ")";
    return s;
}

}  // namespace corvane::standin
