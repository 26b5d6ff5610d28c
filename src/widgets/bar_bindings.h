#pragma once

// The one place where the input bar and the sidebar meet the chat view model: each factory
// builds the view, hands it the view model's values now and on every change of the fields it
// shows, and wires its actions to the view model's operations. Call on the UI thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "networking/auth_service.h"
#include "ui/chat_view_model.h"
#include "widgets/account_settings.h"

class QWidget;

namespace corvane {

class MessageInputView;
class SidebarView;

// The bar's send takes the typed text, empties the field and sends the text as typed; a dropped
// or picked image goes to acceptDroppedImage; the tier menu writes selectedModelTier. `onStop`
// is the stop button: it cancels the running turn.
MessageInputView* makeInputBar(const std::shared_ptr<ChatViewModel>& viewModel, std::function<void()> onStop,
                               QWidget* parent = nullptr);

// The account entry's sheet reads and signs out `authService`; `openURL` opens the dashboard.
SidebarView* makeSidebar(const std::shared_ptr<ChatViewModel>& viewModel, networking::AuthService& authService,
                         std::function<void(const std::optional<std::string>&)> onNavigate,
                         SettingsView::OpenURL openURL, QWidget* parent = nullptr);

// The account dashboard on the maker's web site.
std::string dashboardURL();

}  // namespace corvane
