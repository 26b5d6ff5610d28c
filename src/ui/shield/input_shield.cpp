#include "ui/shield/input_shield.h"

#include "platform/platform.h"

namespace corvane {

InputShield& InputShield::shared() {
    static InputShield* instance = new InputShield();  // never destroyed: callers may outlive statics
    return *instance;
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
        }
        applyVisibility();
    });
}

void InputShield::updateTool(const std::string& tool) {
    runOnMain(false, [this, tool] {
        std::shared_ptr<Window> window;
        {
            std::lock_guard lock(mutex_);
            tool_ = tool;
            window = window_;
        }
        if (window) window->setToolName(tool);
    });
}

void InputShield::endTurn() {
    runOnMain(false, [this] {
        {
            std::lock_guard lock(mutex_);
            turnActive_ = false;
            tool_.clear();
        }
        applyVisibility();
    });
}

void InputShield::escalate(Scope scope) {
    runOnMain(true, [this, scope] {
        {
            std::lock_guard lock(mutex_);
            scope_ = scope;
        }
        applyVisibility();
    });
}

void InputShield::applyVisibility() {
    std::shared_ptr<Window> window;
    bool active;
    Scope scope;
    Environment environment;
    {
        std::lock_guard lock(mutex_);
        window = window_;
        active = turnActive_;
        scope = scope_;
        environment = environment_;
    }
    if (!window) return;
    bool logicInFront = environment.logicIsFrontmost && environment.logicIsFrontmost();
    bool visible = active && (scope == Scope::fullscreen || logicInFront);
    if (visible)
        window->show();
    else
        window->hide();
    window->setFrame(frameFor(scope));
}

platform::Rect InputShield::frameFor(Scope scope) const {
    Environment environment;
    {
        std::lock_guard lock(mutex_);
        environment = environment_;
    }
    auto screen = environment.mainScreenFrame ? environment.mainScreenFrame() : std::nullopt;
    if (scope == Scope::logicWindow) {
        if (auto logic = environment.logicMainWindowFrame ? environment.logicMainWindowFrame() : std::nullopt)
            return *logic;
    }
    return screen.value_or(platform::Rect{});
}

void InputShield::setWindow(std::shared_ptr<Window> window) {
    std::lock_guard lock(mutex_);
    window_ = std::move(window);
}

void InputShield::setEnvironment(Environment environment) {
    std::lock_guard lock(mutex_);
    environment_ = std::move(environment);
}

bool InputShield::isTurnActive() const {
    std::lock_guard lock(mutex_);
    return turnActive_;
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
