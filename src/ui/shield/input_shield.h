#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/geometry.h"

namespace corvane {

// The notice shown over Logic Pro while the agent works. This is its state and contract; the
// window itself is plugged in by the chat window (and is absent until then). Every operation
// may be called from any thread: the work always runs on the main queue.
class InputShield {
public:
    enum class Scope { logicWindow, fullscreen };

    // What the window layer provides.
    class Window {
    public:
        virtual ~Window() = default;
        virtual void show() = 0;
        virtual void hide() = 0;
        virtual void setFrame(platform::Rect frame) = 0;
        virtual void setToolName(const std::string&) {}
    };

    // Where the shield looks for Logic Pro and the screen; wired by the composition root.
    struct Environment {
        std::function<bool()> logicIsFrontmost;
        std::function<std::optional<platform::Rect>()> logicMainWindowFrame;
        std::function<std::optional<platform::Rect>()> mainScreenFrame;
    };

    static InputShield& shared();

    void beginTurn(const std::string& tool);   // posted, returns at once
    void updateTool(const std::string& tool);  // posted, returns at once
    void endTurn();                            // posted, returns at once
    // Synchronous: the new scope is in effect (and the window placed) when this returns.
    void escalate(Scope scope);

    void setWindow(std::shared_ptr<Window> window);
    void setEnvironment(Environment environment);

    bool isTurnActive() const;
    Scope scope() const;
    std::string toolName() const;

private:
    InputShield() = default;
    void runOnMain(bool wait, std::function<void()> work);
    void applyVisibility();  // main queue only
    platform::Rect frameFor(Scope scope) const;

    mutable std::mutex mutex_;
    bool turnActive_ = false;
    Scope scope_ = Scope::logicWindow;
    std::string tool_;
    std::shared_ptr<Window> window_;
    Environment environment_;
};

}  // namespace corvane
