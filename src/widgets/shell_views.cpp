#include "widgets/shell_views.h"

#include <QApplication>
#include <algorithm>

#include "widgets/bar_bindings.h"
#include "widgets/input_bar.h"
#include "widgets/project_page.h"
#include "widgets/report_sheet.h"
#include "widgets/sidebar.h"
#include "widgets/sign_in_gate.h"
#include "widgets/song_brief_sheet.h"
#include "widgets/transcript_view.h"

namespace corvane {

ShellState shellState(const ChatViewModel& model) {
    ShellState state;
    const auto& navigation = model.navigation();
    state.isChat = navigation.isChat();
    if (!state.isChat) state.pageProjectName = navigation.projectName;
    state.currentProjectName = model.currentProjectName();
    state.threadTitle = model.currentThreadTitle();
    state.isBusy = model.isBusy();
    state.songBrief = model.songBrief();
    state.accessibilityTrusted = model.accessibilityTrusted();
    state.showPluginMissingBanner = model.showPluginMissingBanner();
    state.loopbackProblem = model.loopbackProblem();
    state.storeFailure = model.storeFailure();
    state.statusMessage = model.statusMessage();
    state.statusFailures = model.statusFailures();
    state.otherSong = model.otherSongNotice();
    state.reporting = model.reportingEntry().has_value();
    state.reportSent = model.reportSentConfirmation();
    return state;
}

namespace {

// The window the view model's questions belong to. The active window may be Logic Pro's, which
// a running tool brings to the front: a question over it would not be the chat's.
QWidget* chatWindow() {
    // The root view has no meta-object of its own, so it is told apart by its C++ type.
    auto holdsRootView = [](QWidget* window) {
        if (dynamic_cast<CompanionRootView*>(window)) return true;
        const auto children = window->findChildren<QWidget*>();
        return std::any_of(children.begin(), children.end(),
                           [](QWidget* child) { return dynamic_cast<CompanionRootView*>(child) != nullptr; });
    };
    for (QWidget* window : QApplication::topLevelWidgets())
        if (window->isVisible() && holdsRootView(window)) return window;
    return QApplication::activeWindow();
}

// The transcript follows the view model's rows, the revealed reply and the tool cards' state.
QWidget* boundTranscript(const std::shared_ptr<ChatViewModel>& model) {
    std::weak_ptr<ChatViewModel> weak = model;
    TranscriptHooks hooks;
    hooks.report = [weak](const ConversationEntry& entry) {
        if (auto m = weak.lock()) m->setReportingEntry(entry);
    };
    hooks.toolCards.isExpanded = [weak](const std::string& callID) {
        auto m = weak.lock();
        return m && m->isToolCallExpanded(callID);
    };
    hooks.toolCards.toggleExpanded = [weak](const std::string& callID, bool currentlyExpanded) {
        if (auto m = weak.lock()) m->toggleToolCallExpanded(callID, currentlyExpanded);
    };
    auto* view = new TranscriptView(std::move(hooks));
    auto sync = [view, weak] {
        if (auto m = weak.lock()) view->setInputs(m->transcriptItems(), m->streamingText(), m->entries());
    };
    sync();
    // A chat opened (from a page, or another thread), whatever its length, starts at its latest
    // message.
    auto opened = std::make_shared<std::string>();
    auto followOpening = [view, weak, opened] {
        auto m = weak.lock();
        if (!m) return;
        const auto& navigation = m->navigation();
        const std::string shown = navigation.isChat() ? m->currentThreadID() : std::string();
        if (!shown.empty() && shown != *opened) view->showLatest();
        *opened = shown;
    };
    followOpening();
    const auto token = model->addObserver([view, sync, followOpening](ChatViewModel::Field field) {
        using F = ChatViewModel::Field;
        if (field == F::navigation || field == F::currentThreadID) followOpening();
        if (field == F::transcriptItems || field == F::streamingText || field == F::entries) sync();
        if (field == F::activeCallID || field == F::userExpandOverrides) view->refreshExpansion();
    });
    QObject::connect(view, &QObject::destroyed, [weak, token] {
        if (auto m = weak.lock()) m->removeObserver(token);
    });
    return view;
}

}  // namespace

void AuthChangeFanout::add(QObject* owner, std::function<void()> changed) {
    listeners_.push_back({owner, std::move(changed)});
}

void AuthChangeFanout::notify() {
    std::erase_if(listeners_, [](const Listener& listener) { return !listener.owner; });
    // A listener may add another (a gate showing the window's content); those wait for the next change.
    const auto current = listeners_;
    for (const auto& listener : current)
        if (listener.owner) listener.changed();
}

ShellViews makeShellViews(const std::shared_ptr<ChatViewModel>& model, networking::AuthService& auth,
                          AuthChangeFanout& authChanges, URLOpener openURL) {
    model->setAlertPresenter([](const ViewModelAlert& alert) { return showViewModelAlert(alert, chatWindow()); });
    ShellViews views;
    views.transcript = [model] { return boundTranscript(model); };
    views.sidebar = [model, &auth, &authChanges, openURL](std::function<void()> navigated) -> QWidget* {
        auto* sidebar = makeSidebar(
            model, auth, [navigated](const std::optional<std::string>&) { navigated(); }, openURL);
        authChanges.add(sidebar, [sidebar] { sidebar->authChanged(); });
        return sidebar;
    };
    views.projectPage = [model](const std::optional<std::string>& name) -> QWidget* {
        return new ProjectPageView(model, name);
    };
    std::weak_ptr<ChatViewModel> weak = model;
    views.inputBar = [model, weak]() -> QWidget* {
        // The agent loop sees the stop between calls and takes the notice down when its turn
        // ends: a listen or a drag still running keeps it (and may still widen it).
        return makeInputBar(model, [weak] {
            if (auto m = weak.lock()) m->stopTurn();
        });
    };
    views.songBriefEditor = [model](QWidget* parent) -> QDialog* { return makeSongBriefEditor(model, parent); };
    views.reportSheet = [model](QWidget* parent) -> QDialog* { return makeReportSheet(model, parent); };
    return views;
}

CompanionRootView* makeCompanionRootView(const std::shared_ptr<ChatViewModel>& model, networking::AuthService&,
                                         URLOpener openURL, std::string siteURL, ShellViews views) {
    std::weak_ptr<ChatViewModel> weak = model;
    ShellActions actions;
    actions.loadConversations = [weak] {
        if (auto m = weak.lock()) m->loadConversations();
    };
    actions.showProjectPage = [weak](const std::optional<std::string>& name) {
        if (auto m = weak.lock()) m->setNavigation(NavigationState::projectPage(name));
    };
    actions.clearChat = [weak] {
        if (auto m = weak.lock()) m->requestClearConversation();
    };
    actions.dismissPluginBanner = [weak] {
        if (auto m = weak.lock()) m->dismissPluginMissingBanner();
    };
    actions.dismissStoreFailure = [weak] {
        if (auto m = weak.lock()) m->dismissStoreFailure();
    };
    actions.endReport = [weak] {
        if (auto m = weak.lock()) m->setReportingEntry(std::nullopt);
    };
    actions.openURL = std::move(openURL);
    actions.siteURL = std::move(siteURL);
    auto* view = new CompanionRootView(std::move(actions), std::move(views));
    view->setState(shellState(*model));
    const auto token = model->addObserver([view, weak](ChatViewModel::Field) {
        if (auto m = weak.lock()) view->setState(shellState(*m));
    });
    QObject::connect(view, &QObject::destroyed, [weak, token] {
        if (auto m = weak.lock()) m->removeObserver(token);
    });
    return view;
}

QWidget* makeAuthGate(networking::AuthService& auth, QWidget* content, const std::string& siteURL, URLOpener openURL,
                      AuthChangeFanout& authChanges) {
    auto* gate = SignInGate::forAuthService(auth, content, siteURL, std::move(openURL));
    authChanges.add(gate, [gate] { gate->authServiceChanged(); });
    return gate;
}

}  // namespace corvane
