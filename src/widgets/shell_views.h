#pragma once

// Where the window's parts meet the view model: the root view bound to ChatViewModel, and the
// views of the other parts (sidebar, project page, input bar, sheets, sign-in gate, About view)
// built here, so that swapping a placeholder for the real view is a change in one function.

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "networking/auth_service.h"
#include "ui/chat_view_model.h"
#include "widgets/window_shell.h"

namespace corvane {

// The root view's state as the view model has it.
ShellState shellState(const ChatViewModel& model);

// AuthService has one observer slot; the views that follow sign-in share it through this. Each
// listener goes with the widget that owns it. UI thread only.
class AuthChangeFanout {
public:
    void add(QObject* owner, std::function<void()> changed);
    void notify();

private:
    struct Listener {
        QPointer<QObject> owner;
        std::function<void()> changed;
    };
    std::vector<Listener> listeners_;
};

// The other parts' views over the view model. The input bar's Stop ends the window's own turn
// (never a test turn); the notice over Logic Pro comes down with that turn's end.
ShellViews makeShellViews(const std::shared_ptr<ChatViewModel>& model, networking::AuthService& auth,
                          AuthChangeFanout& authChanges, URLOpener openURL);

// CompanionRootView bound to the view model: it follows every change and calls its operations.
CompanionRootView* makeCompanionRootView(const std::shared_ptr<ChatViewModel>& model, networking::AuthService& auth,
                                         URLOpener openURL, std::string siteURL, ShellViews views);

// The sign-in gate over the root view: the sign-in form while signed out, else `content`. The
// form's links point into `siteURL` and open through `openURL`.
QWidget* makeAuthGate(networking::AuthService& auth, QWidget* content, const std::string& siteURL, URLOpener openURL,
                      AuthChangeFanout& authChanges);

}  // namespace corvane
