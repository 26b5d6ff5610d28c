// Running applications, frontmost, activation, AppleScript, hiding, launch and quit, and the window stack.

#include <algorithm>

#include <fmt/format.h>

#include "platform/standin/engine.h"
#include "platform/standin/layout.h"

namespace corvane::standin::detail {

using platform::WorkspaceNotification;

const AppRecord* Engine::app(int pid) const {
    for (const auto& a : apps)
        if (a.pid == pid) return &a;
    return nullptr;
}

AppRecord* Engine::app(int pid) {
    for (auto& a : apps)
        if (a.pid == pid) return &a;
    return nullptr;
}

platform::RunningApplication Engine::runningApplication(const AppRecord& a) const {
    platform::RunningApplication r;
    r.bundleIdentifier = a.bundleId;
    r.localizedName = a.name;
    r.processIdentifier = a.pid;
    r.activationPolicy = a.policy;
    r.isHidden = a.hidden;
    return r;
}

void Engine::raiseAppWindows(int pid) {
    std::stable_partition(windows.begin(), windows.end(), [pid](const ScreenWindow& w) { return w.pid == pid; });
}

void Engine::setFrontmost(std::optional<int> pid) {
    if (pid && !app(*pid)) pid.reset();
    if (pid) {
        AppRecord* a = app(*pid);
        a->hidden = false;
        raiseAppWindows(*pid);
        recent.erase(std::remove(recent.begin(), recent.end(), *pid), recent.end());
        recent.insert(recent.begin(), *pid);
    }
    if (frontmost == pid) return;
    frontmost = pid;
    Event e;
    e.kind = EventKind::activation;
    e.pid = pid.value_or(0);
    e.outcome = "frontmost";
    record(std::move(e));
    if (pid) notify(WorkspaceNotification::didActivateApplication, *pid);
    changed();
}

void Engine::makeLogicFrontmostIfRunning() {
    if (logicRunning) setFrontmost(logicApp.pid);
}

bool Engine::requestActivation(int pid, bool viaAppleScript, std::optional<unsigned> options) {
    Event e;
    e.kind = EventKind::activation;
    e.pid = pid;
    e.options = options;
    e.route = viaAppleScript ? "appleScript" : "workspace";
    if (pid == selfPid) {
        e.outcome = "activated";
        record(std::move(e));
        activateSelf();
        return true;
    }
    if (!app(pid)) {
        e.outcome = "not running";
        record(std::move(e));
        return false;
    }
    if (pid == logicApp.pid) {
        const Activation& a = faults.activation;
        if (a.mode == Activation::Mode::never || (a.mode == Activation::Mode::appleScriptOnly && !viaAppleScript)) {
            e.outcome = "ignored";
            record(std::move(e));
            return false;
        }
        if (a.mode == Activation::Mode::delayed && a.delay > 0) {
            e.outcome = "delayed";
            e.detail = fmt::format("{} s", a.delay);
            record(std::move(e));
            const int launch = launchCount;
            schedule(a.delay, "activate Logic", [this, launch] {
                if (launchCount == launch) makeLogicFrontmostIfRunning();
            });
            return true;
        }
    }
    e.outcome = "activated";
    record(std::move(e));
    setFrontmost(pid);
    return true;
}

void Engine::launchLogic(bool makeFrontmost) {
    if (logicRunning) return;
    logicRunning = true;
    mainWindowClosed = false;
    ++launchCount;
    logicApp.hidden = false;
    apps.insert(apps.begin() + static_cast<std::ptrdiff_t>(std::min(logicSlot, apps.size())), logicApp);
    syncLogicWindows();
    Event e;
    e.kind = EventKind::launch;
    e.pid = logicApp.pid;
    record(std::move(e));
    notify(WorkspaceNotification::didLaunchApplication, logicApp.pid);
    if (makeFrontmost) setFrontmost(logicApp.pid);
    changed();
}

void Engine::quitLogic() {
    if (!logicRunning) return;
    Event e;
    e.kind = EventKind::quit;
    e.pid = logicApp.pid;
    record(std::move(e));
    notify(WorkspaceNotification::didTerminateApplication, logicApp.pid);
    const bool wasFront = frontmost == logicApp.pid;
    apps.erase(std::remove_if(apps.begin(), apps.end(), [&](const AppRecord& a) { return a.pid == logicApp.pid; }),
               apps.end());
    recent.erase(std::remove(recent.begin(), recent.end(), logicApp.pid), recent.end());
    logicRunning = false;
    ++launchCount;
    project.transport.playing = false;
    project.transport.recording = false;
    processClick = {};
    hidClick = {};
    menu.reset();
    renaming.reset();
    pendingWindows.clear();
    syncLogicWindows();
    if (wasFront) {
        frontmost.reset();
        for (int pid : recent)
            if (const AppRecord* a = app(pid); a && !a->hidden) {
                setFrontmost(pid);
                break;
            }
    }
    changed();
}

void Engine::hideSelf() {
    AppRecord* self = app(selfPid);
    Event e;
    e.kind = EventKind::hide;
    e.pid = selfPid;
    record(std::move(e));
    if (!self) return;
    self->hidden = true;
    if (frontmost == selfPid) {
        std::optional<int> next;
        for (int pid : recent)
            if (const AppRecord* a = app(pid); a && pid != selfPid && !a->hidden) {
                next = pid;
                break;
            }
        if (next) {
            setFrontmost(next);
        } else {
            frontmost.reset();
        }
    }
    changed();
}

void Engine::activateSelf() {
    if (AppRecord* self = app(selfPid)) self->hidden = false;
    setFrontmost(selfPid);
    changed();
}

platform::AppleScriptResult Engine::appleScript(const std::string& source) {
    Event e;
    e.kind = EventKind::appleScript;
    e.name = source;
    auto first = source.find_first_not_of(" \t\r\n");
    auto last = source.find_last_not_of(" \t\r\n");
    std::string s = first == std::string::npos ? std::string() : source.substr(first, last - first + 1);
    static const std::string prefix = "tell application \"";
    static const std::string suffix = "\" to activate";
    if (s.size() <= prefix.size() + suffix.size() || s.compare(0, prefix.size(), prefix) != 0 ||
        s.compare(s.size() - suffix.size(), suffix.size(), suffix) != 0) {
        e.outcome = "not understood";
        record(std::move(e));
        return {false, "The script could not be run: only tell application \"<Name>\" to activate is understood."};
    }
    std::string name = s.substr(prefix.size(), s.size() - prefix.size() - suffix.size());
    const AppRecord* target = nullptr;
    for (const auto& a : apps)
        if (a.name && *a.name == name) {
            target = &a;
            break;
        }
    if (!target) {
        e.outcome = "not running";
        record(std::move(e));
        return {false, fmt::format("{} got an error: Application isn\u2019t running. (-600)", name)};
    }
    const int pid = target->pid;
    e.pid = pid;
    e.outcome = "run";
    record(std::move(e));
    requestActivation(pid, true);
    return {true, ""};
}

std::string Engine::mainWindowTitle() const {
    return project.name + (faults.titleSuffix ? ".logicx" : "") + " - Tracks";
}

void Engine::syncLogicWindows() {
    struct Want {
        std::string key;
        std::uint32_t id;
        std::string title;
        platform::Rect frame;
    };
    std::vector<Want> front, back;
    const std::string base = project.name + (faults.titleSuffix ? ".logicx" : "");
    if (logicRunning) {
        for (std::size_t i = 0; i < faults.extraWindows.size(); ++i) {
            const ExtraWindow& x = faults.extraWindows[i];
            Want w{"extra:" + std::to_string(i), static_cast<std::uint32_t>(1010 + i), x.title, x.frame};
            (x.front ? front : back).push_back(w);
        }
        Want mixer{"mixer", 1002, base + " - Mixer", layout::kMixerWindow};
        if (faults.mixerWindow) {
            if (faults.mixerWindowFirst)
                front.push_back(mixer);
            else
                back.insert(back.begin(), mixer);
        }
    }
    std::vector<Want> wanted = front;
    if (logicRunning && !mainWindowClosed) wanted.push_back({"main", 1001, mainWindowTitle(), layout::kMainWindow});
    wanted.insert(wanted.end(), back.begin(), back.end());

    // Drop windows no longer wanted; refresh titles of the others.
    windows.erase(std::remove_if(windows.begin(), windows.end(),
                                 [&](const ScreenWindow& w) {
                                     if (w.logicKey.empty()) return false;
                                     if (w.logicKey.rfind("plugin:", 0) == 0)
                                         return false;  // syncPluginWindows decides
                                     return std::none_of(wanted.begin(), wanted.end(),
                                                         [&](const Want& x) { return x.key == w.logicKey; });
                                 }),
                  windows.end());
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        const Want& want = wanted[i];
        auto it =
            std::find_if(windows.begin(), windows.end(), [&](const ScreenWindow& w) { return w.logicKey == want.key; });
        if (it != windows.end()) {
            it->title = want.title;
            it->homeFrame = want.frame;
            continue;
        }
        ScreenWindow w;
        w.id = want.id;
        w.pid = logicApp.pid;
        w.title = want.title;
        w.frame = want.frame;
        w.homeFrame = want.frame;
        w.colour = palette::windowBody;
        w.logicKey = want.key;
        // A new window goes next to its neighbour in the wanted order, else behind everything.
        auto anchor = windows.end();
        for (std::size_t j = i + 1; j < wanted.size() && anchor == windows.end(); ++j)
            anchor = std::find_if(windows.begin(), windows.end(),
                                  [&](const ScreenWindow& s) { return s.logicKey == wanted[j].key; });
        if (anchor == windows.end() && i > 0) {
            auto prev = std::find_if(windows.begin(), windows.end(),
                                     [&](const ScreenWindow& s) { return s.logicKey == wanted[i - 1].key; });
            if (prev != windows.end()) anchor = prev + 1;
        }
        windows.insert(anchor, w);
    }
    syncPluginWindows();
    changed();
}

void Engine::applyWindowKnobs() {
    for (ScreenWindow& w : windows) {
        if (w.logicKey.empty()) continue;
        auto named = [&](const std::string& name) { return name == w.logicKey || name == w.title; };
        w.frame = w.homeFrame;
        for (const auto& [name, frame] : faults.windowFrames)
            if (named(name)) w.frame = frame;
        w.minimised = std::any_of(faults.minimisedWindows.begin(), faults.minimisedWindows.end(), named);
    }
}

void Engine::setMinimised(const std::string& windowKey, bool minimised) {
    auto& list = faults.minimisedWindows;
    const ScreenWindow* w = logicWindow(windowKey);
    if (!w) return;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [&](const std::string& n) { return n == w->logicKey || n == w->title; }),
               list.end());
    if (minimised) list.push_back(windowKey);
    applyWindowKnobs();
    changed();
}

const ScreenWindow* Engine::keyLogicWindow() const {
    for (const auto& w : windows)
        if (!w.logicKey.empty() && !w.minimised) return &w;
    return nullptr;
}

std::vector<const ScreenWindow*> Engine::logicWindows() const {
    std::vector<const ScreenWindow*> out;
    for (const auto& w : windows)
        if (!w.logicKey.empty()) out.push_back(&w);
    return out;
}

const ScreenWindow* Engine::logicWindow(std::string_view key) const {
    for (const auto& w : windows)
        if (w.logicKey == key) return &w;
    return nullptr;
}

void Engine::raiseLogicWindow(std::string_view key) {
    std::vector<std::size_t> slots;
    std::vector<ScreenWindow> logic;
    for (std::size_t i = 0; i < windows.size(); ++i)
        if (!windows[i].logicKey.empty()) {
            slots.push_back(i);
            logic.push_back(windows[i]);
        }
    auto it = std::find_if(logic.begin(), logic.end(), [&](const ScreenWindow& w) { return w.logicKey == key; });
    if (it == logic.end() || it == logic.begin()) return;
    std::rotate(logic.begin(), it, it + 1);
    for (std::size_t i = 0; i < slots.size(); ++i) windows[slots[i]] = logic[i];
    changed();
}

std::vector<const ScreenWindow*> Engine::visibleStack() const {
    std::vector<const ScreenWindow*> out;
    for (const auto& w : windows) {
        if (!w.visible || w.minimised) continue;
        const AppRecord* owner = app(w.pid);
        if (!owner || owner->hidden) continue;
        out.push_back(&w);
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const ScreenWindow* a, const ScreenWindow* b) { return a->level > b->level; });
    return out;
}

}  // namespace corvane::standin::detail
