#pragma once

// Where the window's parts meet the view model: the root view bound to ChatViewModel, and the
// views of the other parts (sidebar, project page, input bar, sheets, sign-in gate, About view)
// built here, so that swapping a placeholder for the real view is a change in one function.

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "networking/auth_service.h"
#include "ui/chat_view_model.h"
#include "ui/widgets/window_shell.h"

namespace corvane {

// The root view's state as the view model has it.
ShellState shellState(const ChatViewModel& model);

// The other parts' views over the view model.
ShellViews makeShellViews(const std::shared_ptr<ChatViewModel>& model, networking::AuthService& auth);

// CompanionRootView bound to the view model: it follows every change and calls its operations.
CompanionRootView* makeCompanionRootView(const std::shared_ptr<ChatViewModel>& model, networking::AuthService& auth,
                                         URLOpener openURL, std::string siteURL, ShellViews views);

// The sign-in gate over the root view: the sign-in form while signed out, else `content`. The
// form's links point into `siteURL` and open through `openURL`.
QWidget* makeAuthGate(networking::AuthService& auth, QWidget* content, const std::string& siteURL, URLOpener openURL);

// The About panel's content.
QWidget* makeAboutView(std::function<void()> checkForUpdates, const std::string& version, const std::string& build);

}  // namespace corvane
