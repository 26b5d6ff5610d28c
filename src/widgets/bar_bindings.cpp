#include "widgets/bar_bindings.h"

#include <QPointer>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "support/unicode.h"
#include "widgets/input_bar.h"
#include "widgets/sidebar.h"

namespace corvane {

namespace {
using Field = ChatViewModel::Field;

// Calls `apply` now and whenever one of `fields` changes, until the view is gone; the view model
// may outlive the view or go first.
template <class View>
void follow(View* view, const std::shared_ptr<ChatViewModel>& viewModel, std::initializer_list<Field> fields,
            std::function<void(View&, const ChatViewModel&)> apply) {
    apply(*view, *viewModel);
    QPointer<View> guard(view);
    std::weak_ptr<ChatViewModel> weak = viewModel;
    const std::vector<Field> watched(fields);
    const auto token = viewModel->addObserver([guard, weak, watched, apply](Field field) {
        if (!guard || std::find(watched.begin(), watched.end(), field) == watched.end()) return;
        if (const auto model = weak.lock()) apply(*guard, *model);
    });
    QObject::connect(view, &QObject::destroyed, [weak, token] {
        if (const auto model = weak.lock()) model->removeObserver(token);
    });
}
// A chat is open that the list no longer holds: another copy of the app deleted it.
bool showsDeletedChat(const ChatViewModel& model) {
    if (!model.navigation().isChat()) return false;
    const auto& threads = model.threads();
    return std::none_of(threads.begin(), threads.end(),
                        [&](const ConversationSummary& s) { return s.threadID == model.currentThreadID(); });
}
}  // namespace

MessageInputView* makeInputBar(const std::shared_ptr<ChatViewModel>& viewModel, std::function<void()> onStop,
                               QWidget* parent) {
    std::weak_ptr<ChatViewModel> weak = viewModel;
    auto* bar = new MessageInputView({}, parent);
    QPointer<MessageInputView> guard(bar);
    MessageInputView::Actions actions;
    actions.onSend = [weak, guard] {
        const auto model = weak.lock();
        if (!model || !guard) return;
        const std::string text = guard->messageText();
        // A message that did not go (another turn holds the agent loop) stays in the field,
        // with the reason above it.
        if (model->sendMessage(text) || text::trimmingWhitespaceAndNewlines(text).empty()) {
            guard->setMessageText("");
        } else {
            guard->setNotice(model->unsentReason());
        }
    };
    actions.onDropImage = [weak](const std::string& data, const std::string& extension) {
        if (const auto model = weak.lock()) model->acceptDroppedImage(data, extension);
    };
    actions.onSelectModelTier = [weak](ModelTier tier) {
        if (const auto model = weak.lock()) model->setSelectedModelTier(tier);
    };
    actions.onStop = std::move(onStop);
    bar->setActions(std::move(actions));
    follow<MessageInputView>(bar, viewModel,
                             {Field::isBusy, Field::pendingCaptureCount, Field::selectedModelTier, Field::navigation,
                              Field::currentThreadID, Field::threads},
                             [](MessageInputView& view, const ChatViewModel& model) {
                                 view.setBusy(model.isBusy());
                                 // "Still working" is over with the turn; the text waits to be sent.
                                 if (!model.isTurnRunning() &&
                                     view.noticeText() == QString(ChatViewModel::kTurnRunningNotice))
                                     view.setNotice("");
                                 // "Deleted in another copy" was said of the chat shown then; in
                                 // another one the text may go.
                                 if (!showsDeletedChat(model) &&
                                     view.noticeText() == QString(ChatViewModel::kDeletedChatNotice))
                                     view.setNotice("");
                                 view.setPendingCaptureCount(model.pendingCaptureCount());
                                 view.setSelectedModelTier(model.selectedModelTier());
                             });
    return bar;
}

SidebarView* makeSidebar(const std::shared_ptr<ChatViewModel>& viewModel, networking::AuthService& authService,
                         std::function<void(const std::optional<std::string>&)> onNavigate,
                         SettingsView::OpenURL openURL, QWidget* parent) {
    std::weak_ptr<ChatViewModel> weak = viewModel;
    SidebarView::Actions actions;
    actions.setNavigation = [weak](const NavigationState& navigation) {
        if (const auto model = weak.lock()) model->setNavigation(navigation);
    };
    actions.onNavigate = std::move(onNavigate);
    actions.makeSettingsSheet = [&authService, weak, openURL = std::move(openURL)](QWidget* sheetParent) -> QDialog* {
        const auto stopTurns = [weak] {
            if (const auto model = weak.lock()) model->stopTurn();
        };
        return new SettingsView(authService, dashboardURL(), openURL, stopTurns, sheetParent);
    };
    auto* sidebar = new SidebarView(std::move(actions), parent);
    follow<SidebarView>(sidebar, viewModel, {Field::navigation, Field::detectedProjectName, Field::threads},
                        [](SidebarView& view, const ChatViewModel& model) { view.setState(SidebarState::of(model)); });
    return sidebar;
}

std::string dashboardURL() { return networking::BackendConfiguration{}.siteURL + "/dashboard"; }

}  // namespace corvane
