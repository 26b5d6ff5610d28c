#include "widgets/window_activation.h"

#include <QApplication>
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

bool WindowActivation::corvaneIsActive() const {
    // Every window of this process but Logic Pro's is Corvane's: the chat window, its sheets,
    // questions and menus, the About panel. The notice never takes focus.
    const QWidget* active = QApplication::activeWindow();
    return active && !(logicWindow_ && active == logicWindow_->window());
}

QWidget* WindowActivation::keyWindowOfMain() const {
    // A question or sheet over the chat window blocks it: activating the chat window itself would
    // leave the keyboard where neither Escape nor Return reaches anything.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible() && belongsToMainWindow(modal->windowHandle())) return modal;
    return mainWindow_.data();
}

void WindowActivation::bringForward(app::DesktopApplication application) {
    const bool corvane = application == app::DesktopApplication::corvane;
    QWidget* window = corvane ? mainWindow_.data() : logicWindow_.data();
    if (!window) return;
    // Already in front: activating it again would only queue an activation that could land after
    // the user has moved on to another window. A click on a question or sheet of Corvane's makes
    // Corvane frontmost while that window, not the chat window, is the active one; activating the
    // chat window then, between the press and the release, would take the release from the click.
    if (corvane ? corvaneIsActive() : window->isActiveWindow()) return;
    // A closed chat window stays closed, as activating an application leaves its closed windows
    // closed; Logic Pro's window shows what Logic Pro shows, so it comes back whenever it is activated.
    if (corvane && !window->isVisible()) return;
    // The agent bringing Logic Pro forward leaves the keyboard where the user typed: what they type
    // in the chat window, or a question over it, during a turn stays there.
    const bool keepKeyboard = !corvane && corvaneIsActive();
    const bool quiet = window->testAttribute(Qt::WA_ShowWithoutActivating);
    if (keepKeyboard) window->setAttribute(Qt::WA_ShowWithoutActivating);
    if (window->isMinimized()) window->showNormal();
    window->show();
    window->raise();
    window->setAttribute(Qt::WA_ShowWithoutActivating, quiet);
    if (keepKeyboard) return;
    QWidget* key = corvane ? keyWindowOfMain() : window;
    if (key != window) key->raise();
    key->activateWindow();
}

}  // namespace corvane
