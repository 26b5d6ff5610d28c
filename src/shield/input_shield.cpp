#include "shield/input_shield.h"

#include "platform/log.h"
#include "platform/platform.h"

namespace corvane {

InputShield& InputShield::shared() {
    static InputShield* instance = new InputShield();  // never destroyed: callers may outlive statics
    return *instance;
}

std::string InputShield::labelText(Scope scope, const std::string& tool) {
    if (scope == Scope::fullscreen)
        return tool.empty() ? "Corvane is working \u2014 please hold" : "Corvane: " + tool + " \u2014 please hold";
    return tool.empty() ? "Corvane is working..." : "Corvane is working: " + tool;
}

void InputShield::runOnMain(bool wait, std::function<void()> work) {
    auto& main = platform::mainQueue();
    if (main.isMainThread())
        work();
    else if (wait)
        main.sync(work);
    else
        main.async(std::move(work));
}

void InputShield::beginTurn(const std::string& tool) {
    runOnMain(false, [this, tool] {
        {
            std::lock_guard lock(mutex_);
            turnActive_ = true;
            tool_ = tool;
            scope_ = Scope::logicWindow;
        }
        const auto env = environment();
        if (env.observeActivation && !activationObserver_)
            activationObserver_ = env.observeActivation([this] { applyVisibility(); });
        watchdogTimer_.reset();
        if (env.timers) {
            watchdogTimer_ = env.timers->schedule(std::chrono::duration<double>(kWatchdogSeconds), false, [this] {
                log("[InputShield] Watchdog fired \u2014 auto-ending turn after 60s");
                endTurnNow();
            });
        }
        applyVisibility();
    });
}

void InputShield::updateTool(const std::string& tool) {
    runOnMain(false, [this, tool] {
        {
            std::lock_guard lock(mutex_);
            tool_ = tool;
        }
        updateLabel();
    });
}

void InputShield::endTurn() {
    runOnMain(false, [this] { endTurnNow(); });
}

void InputShield::escalate(Scope scope) {
    runOnMain(true, [this, scope] {
        {
            std::lock_guard lock(mutex_);
            scope_ = scope;
        }
        applyVisibility();
        if (auto w = window()) w->setFrame(frameFor(scope));
    });
}

void InputShield::endTurnNow() {
    {
        std::lock_guard lock(mutex_);
        turnActive_ = false;
    }
    activationObserver_.reset();
    watchdogTimer_.reset();
    hideShield();
}

void InputShield::applyVisibility() {
    bool active;
    Scope scope;
    {
        std::lock_guard lock(mutex_);
        active = turnActive_;
        scope = scope_;
    }
    const auto env = environment();
    if (active && (scope == Scope::fullscreen || (env.logicIsFrontmost && env.logicIsFrontmost())))
        showShield();
    else
        hideShield();
}

void InputShield::showShield() {
    Scope scope;
    bool shown;
    {
        std::lock_guard lock(mutex_);
        scope = scope_;
        shown = shownFrame_.has_value();
    }
    const auto target = frameFor(scope);
    auto w = window();
    if (!w) return;
    // A window already up keeps its level: only its frame follows the new scope. It goes back on
    // top: the application just brought forward (Logic Pro, when it came to the front after the
    // notice went up at the turn's start) raises its windows over it.
    if (shown) {
        w->setFrame(target);
        w->bringToFront();
    } else {
        w->show(target, scope);
    }
    {
        std::lock_guard lock(mutex_);
        shownFrame_ = target;
    }
    updateLabel();
    frameFollowTimer_.reset();
    if (auto* timers = environment().timers)
        frameFollowTimer_ =
            timers->schedule(std::chrono::duration<double>(kFrameFollowSeconds), true, [this] { followFrame(); });
}

void InputShield::hideShield() {
    frameFollowTimer_.reset();
    bool shown;
    {
        std::lock_guard lock(mutex_);
        shown = shownFrame_.has_value();
        shownFrame_.reset();
    }
    if (auto w = window(); w && shown) w->hide();
}

void InputShield::updateLabel() {
    std::string text;
    {
        std::lock_guard lock(mutex_);
        if (!shownFrame_) return;
        text = labelText(scope_, tool_);
    }
    if (auto w = window()) w->setLabel(text);
}

void InputShield::followFrame() {
    {
        std::lock_guard lock(mutex_);
        if (!shownFrame_ || scope_ != Scope::logicWindow) return;
    }
    const auto target = frameFor(Scope::logicWindow);
    {
        std::lock_guard lock(mutex_);
        if (!shownFrame_ || *shownFrame_ == target) return;
        shownFrame_ = target;
    }
    if (auto w = window()) w->setFrame(target);
}

platform::Rect InputShield::frameFor(Scope scope) const {
    const auto env = environment();
    if (scope == Scope::logicWindow && env.logicMainWindowFrame) {
        if (auto logic = env.logicMainWindowFrame()) return *logic;
    }
    auto screen = env.mainScreenFrame ? env.mainScreenFrame() : std::nullopt;
    return screen.value_or(platform::Rect{});
}

InputShield::Environment InputShield::environment() const {
    std::lock_guard lock(mutex_);
    return environment_;
}

std::shared_ptr<InputShield::Window> InputShield::window() const {
    std::lock_guard lock(mutex_);
    return window_;
}

void InputShield::setWindow(std::shared_ptr<Window> window) {
    std::lock_guard lock(mutex_);
    window_ = std::move(window);
    shownFrame_.reset();
}

void InputShield::setEnvironment(Environment environment) {
    std::lock_guard lock(mutex_);
    environment_ = std::move(environment);
}

bool InputShield::isTurnActive() const {
    std::lock_guard lock(mutex_);
    return turnActive_;
}

bool InputShield::isShown() const {
    std::lock_guard lock(mutex_);
    return shownFrame_.has_value();
}

InputShield::Scope InputShield::scope() const {
    std::lock_guard lock(mutex_);
    return scope_;
}

std::string InputShield::toolName() const {
    std::lock_guard lock(mutex_);
    return tool_;
}

}  // namespace corvane
