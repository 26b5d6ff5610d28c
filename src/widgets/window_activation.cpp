#include "widgets/window_activation.h"

#include <QGuiApplication>
#include <QWindow>

namespace corvane {

WindowActivation::WindowActivation(app::SimulatedHost& host, QWidget& logicWindow, QWidget& mainWindow)
    : host_(host), logicWindow_(&logicWindow), mainWindow_(&mainWindow) {
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &WindowActivation::focusWindowChanged);
    token_ = host_.observeFrontmost([this](app::DesktopApplication application) { bringForward(application); });
}

WindowActivation::~WindowActivation() { host_.stopObservingFrontmost(token_); }

void WindowActivation::focusWindowChanged(QWindow* window) {
    // No focus window: the user went to an application outside this desktop, which the simulated
    // workspace does not know; the notice, the shield and other windows of ours never take focus.
    if (!window) return;
    if (logicWindow_ && window == logicWindow_->windowHandle()) {
        host_.userActivated(app::DesktopApplication::logicPro);
    } else if (belongsToMainWindow(window)) {
        host_.userActivated(app::DesktopApplication::corvane);
    }
}

bool WindowActivation::belongsToMainWindow(const QWindow* window) const {
    if (!mainWindow_) return false;
    const QWindow* main = mainWindow_->windowHandle();
    // The window itself or one of its sheets and dialogs.
    for (; window; window = window->transientParent())
        if (window == main) return true;
    return false;
}

void WindowActivation::bringForward(app::DesktopApplication application) {
    QWidget* window = application == app::DesktopApplication::logicPro ? logicWindow_.data() : mainWindow_.data();
    // Already in front: activating it again would only queue an activation that could land after
    // the user has moved on to another window.
    if (!window || window->isActiveWindow()) return;
    // A closed chat window stays closed, as activating an application leaves its closed windows
    // closed; Logic Pro's window shows what Logic Pro shows, so it comes back whenever it is activated.
    if (application == app::DesktopApplication::corvane && !window->isVisible()) return;
    // The agent bringing Logic Pro forward leaves the keyboard where the user typed: what they type
    // in the chat window during a turn stays there.
    const bool keepKeyboard =
        application == app::DesktopApplication::logicPro && mainWindow_ && mainWindow_->isActiveWindow();
    const bool quiet = window->testAttribute(Qt::WA_ShowWithoutActivating);
    if (keepKeyboard) window->setAttribute(Qt::WA_ShowWithoutActivating);
    if (window->isMinimized()) window->showNormal();
    window->show();
    window->raise();
    window->setAttribute(Qt::WA_ShowWithoutActivating, quiet);
    if (!keepKeyboard) window->activateWindow();
}

}  // namespace corvane
