#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/geometry.h"
#include "platform/main_timers.h"

namespace corvane {

// The notice shown over Logic Pro while the agent works. This is its state and contract; the
// window itself is plugged in by the chat window (and is absent until then). Every operation
// may be called from any thread: the work always runs on the main queue.
//
// Frames here are screen frames with the origin at the bottom left of the primary screen (the
// Accessibility layer's top-left frames are flipped on the way in, see shield_platform.h).
class InputShield {
public:
    enum class Scope { logicWindow, fullscreen };

    // The name of the notification that cancels the running turn.
    static constexpr const char* cancelNotification = "CorvaneCancelTurn";
    static constexpr const char* logicBundleIdentifier = "com.apple.logic10";

    // What the window layer provides. Called on the main queue only.
    class Window {
    public:
        virtual ~Window() = default;
        // Puts a new notice window on screen at `frame`; `scope` picks its level (above everything
        // for fullscreen), which the window keeps until it is hidden.
        virtual void show(platform::Rect frame, Scope scope) = 0;
        virtual void hide() = 0;
        // Moves the notice; has no effect while it is hidden.
        virtual void setFrame(platform::Rect frame) = 0;
        // Puts the notice back above the other windows; has no effect while it is hidden.
        virtual void bringToFront() {}
        virtual void setLabel(const std::string&) {}
    };

    // Where the shield looks for Logic Pro, the screen and its timers; wired by the composition
    // root. Without timers there is neither a watchdog nor frame following.
    struct Environment {
        std::function<bool()> logicIsFrontmost = {};
        std::function<std::optional<platform::Rect>()> logicMainWindowFrame = {};
        std::function<std::optional<platform::Rect>()> mainScreenFrame = {};
        // Calls the given function on the main queue whenever an application comes to the front,
        // until the returned handle is dropped.
        std::function<std::shared_ptr<void>(std::function<void()>)> observeActivation = {};
        platform::MainTimers* timers = nullptr;
    };

    static constexpr double kWatchdogSeconds = 60;
    static constexpr double kFrameFollowSeconds = 0.5;

    static InputShield& shared();

    void beginTurn(const std::string& tool);   // posted, returns at once
    void updateTool(const std::string& tool);  // posted, returns at once
    void endTurn();                            // posted, returns at once
    // Synchronous: the new scope is in effect (and the window placed) when this returns.
    void escalate(Scope scope);

    void setWindow(std::shared_ptr<Window> window);
    void setEnvironment(Environment environment);

    bool isTurnActive() const;
    bool isShown() const;
    Scope scope() const;
    std::string toolName() const;

    // The notice's wording for a scope and a tool name (empty: none named yet).
    static std::string labelText(Scope scope, const std::string& tool);

private:
    InputShield() = default;
    void runOnMain(bool wait, std::function<void()> work);
    // Main queue only, from here on.
    void endTurnNow();
    void applyVisibility();
    void showShield();
    void hideShield();
    void updateLabel();
    void followFrame();
    platform::Rect frameFor(Scope scope) const;
    Environment environment() const;
    std::shared_ptr<Window> window() const;

    mutable std::mutex mutex_;
    bool turnActive_ = false;
    Scope scope_ = Scope::logicWindow;
    std::string tool_;
    std::optional<platform::Rect> shownFrame_;  // present while the notice is on screen
    std::shared_ptr<Window> window_;
    Environment environment_;
    platform::MainTimers::Handle frameFollowTimer_;
    platform::MainTimers::Handle watchdogTimer_;
    std::shared_ptr<void> activationObserver_;
};

}  // namespace corvane
