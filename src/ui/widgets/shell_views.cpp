#include "ui/widgets/shell_views.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/widgets/transcript_view.h"
#include "ui/widgets/window_style.h"

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
    state.reporting = model.reportingEntry().has_value();
    return state;
}

namespace {

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
    const auto token = model->addObserver([view, weak, sync](ChatViewModel::Field field) {
        using F = ChatViewModel::Field;
        if (field == F::transcriptItems || field == F::streamingText || field == F::entries) sync();
        if (field == F::activeCallID || field == F::userExpandOverrides) view->refreshExpansion();
    });
    QObject::connect(view, &QObject::destroyed, [weak, token] {
        if (auto m = weak.lock()) m->removeObserver(token);
    });
    return view;
}

}  // namespace

ShellViews makeShellViews(const std::shared_ptr<ChatViewModel>& model, networking::AuthService&) {
    ShellViews views;
    views.transcript = [model] { return boundTranscript(model); };
    // Swapped in at integration: the sidebar, project page, input bar and the two sheets come
    // from their own files; until then the root view shows placeholders.
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
        if (auto m = weak.lock()) m->clearConversation();
    };
    actions.dismissPluginBanner = [weak] {
        if (auto m = weak.lock()) m->dismissPluginMissingBanner();
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

QWidget* makeAuthGate(networking::AuthService&, QWidget* content, const std::string&, URLOpener) {
    // Swapped in at integration: the sign-in gate and its form.
    return content;
}

QWidget* makeAboutView(std::function<void()> checkForUpdates, const std::string& version, const std::string& build) {
    // Swapped in at integration: the About view.
    auto* view = new QWidget;
    auto* column = new QVBoxLayout(view);
    auto* name = new QLabel("Corvane");
    name->setFont(windowFont(18, QFont::Medium));
    name->setAlignment(Qt::AlignCenter);
    column->addStretch(1);
    column->addWidget(name);
    auto* line = new QLabel(QString::fromStdString("Version " + version + " (" + build + ")"));
    line->setAlignment(Qt::AlignCenter);
    column->addWidget(line);
    auto* check = new QPushButton("Check for Updates\u2026");
    check->setAutoDefault(false);
    check->setDefault(false);
    QObject::connect(check, &QPushButton::clicked, [checkForUpdates = std::move(checkForUpdates)] {
        if (checkForUpdates) checkForUpdates();
    });
    column->addWidget(check, 0, Qt::AlignCenter);
    column->addStretch(1);
    return view;
}

}  // namespace corvane
