#include "widgets/bar_bindings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextEdit>
#include <QVBoxLayout>

#include "chat/chat_orchestrator.h"
#include "shield/input_shield.h"
#include "ui/view_model_fixture.h"
#include "widget_events.h"
#include "widget_pixels.h"
#include "widgets/hover_button.h"
#include "widgets/input_bar.h"
#include "widgets/shell_views.h"
#include "widgets/sidebar.h"
#include "widgets/transcript_view.h"

namespace corvane {
namespace {

using corvane::testing::click;
using corvane::testing::callsReply;
using corvane::testing::Gate;
using corvane::testing::respondReply;

using Name = std::optional<std::string>;

class BarBindingsTest : public testing::ViewModelTest {
protected:
    // The agent rounds the backend was sent; the new chat's title is asked for beside them, from
    // another thread, whenever its turn has ended.
    size_t rounds(bool* titleAsked = nullptr) {
        size_t count = 0;
        for (const auto& sent : transport_->requests()) {
            const bool title = sent.body.value("kind", "") == "title";
            if (title && titleAsked) *titleAsked = true;
            count += title ? 0 : 1;
        }
        return count;
    }
};

TEST_F(BarBindingsTest, TheInputBarSendsTheTextAsTypedAndFollowsTheTurn) {
    model();
    int stops = 0;
    std::unique_ptr<MessageInputView> bar(makeInputBar(model_, [&] { ++stops; }));
    bar->show();
    EXPECT_FALSE(bar->isBusy());

    bar->setMessageText(" Check the mix ");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QApplication::sendEvent(bar->textArea(), &enter);
    EXPECT_EQ(bar->messageText(), "") << "the field is emptied";
    ASSERT_TRUE(queue_.runUntil([&] { return !requests_.empty(); }));
    EXPECT_EQ(requests_[0].message, " Check the mix ");
    EXPECT_TRUE(bar->isBusy());
    EXPECT_EQ(bar->sendSymbol(), "stop.fill");
    click(*bar->sendButton());
    EXPECT_EQ(stops, 1);

    finish("Done.");
    advance(1.0);  // the reveal
    EXPECT_FALSE(model().isBusy());
    EXPECT_FALSE(bar->isBusy());
    EXPECT_EQ(bar->sendSymbol(), "arrow.up");

    for (QAction* item : bar->tierMenu()->actions()) item->trigger();
    EXPECT_EQ(defaults_.string(ChatViewModel::kModelTierKey), "standard") << "Pro cannot be chosen";
    EXPECT_EQ(model().selectedModelTier(), ModelTier::standard);
}

// A harness run holds the agent loop: the text stays in the field with the reason.
TEST_F(BarBindingsTest, AMessageTheAgentLoopRefusesStaysInTheFieldWithTheReason) {
    Gate answer;
    auto harness = holdAgentLoop(answer);
    model();
    std::unique_ptr<MessageInputView> bar(makeInputBar(model_, [] {}));
    bar->show();
    bar->setMessageText("Brighten the vocal");
    click(*bar->sendButton());
    EXPECT_EQ(bar->messageText(), "Brighten the vocal");
    EXPECT_EQ(bar->noticeText().toStdString(), ChatOrchestrator::kBusyMessage);
    EXPECT_TRUE(bar->noticeLabel()->isVisible());
    bar->setMessageText("Brighten the vocal a little");
    EXPECT_FALSE(bar->noticeLabel()->isVisible()) << "an edit takes the stale reason away";
    answer.open();
    ASSERT_TRUE(queue_.runUntil([&] { return harness->finished(); }));
}

// The window's Stop, as wired: it stops the window's turn, and the notice over Logic Pro stays
// until that turn has ended (a listen or a drag may still run).
TEST_F(BarBindingsTest, StopEndsTheWindowsTurnAndLeavesTheNoticeToTheTurnsEnd) {
    fakeTurns_ = false;
    Gate answer;
    transport_->replyAfter(answer, callsReply({{"c1", "list_tracks", "{}"}}));
    model();
    networking::AuthService auth;
    AuthChangeFanout authChanges;
    const ShellViews views = makeShellViews(model_, auth, authChanges, nullptr);
    std::unique_ptr<QWidget> widget(views.inputBar());
    auto* bar = dynamic_cast<MessageInputView*>(widget.get());
    ASSERT_NE(bar, nullptr);
    bar->show();

    model().sendMessage("Check it");
    ASSERT_TRUE(queue_.runUntil([&] { return rounds() == 1; }));
    queue_.drain();
    ASSERT_TRUE(InputShield::shared().isTurnActive());
    click(*bar->sendButton());
    queue_.drain();
    EXPECT_TRUE(InputShield::shared().isTurnActive()) << "the round's calls may still drive Logic Pro";
    answer.open();
    ASSERT_TRUE(queue_.runUntil([&] { return !model().isBusy(); }));
    // Counted once the title was asked for too, so the count does not hang on which thread ran first.
    bool titleAsked = false;
    ASSERT_TRUE(queue_.runUntil([&] { return rounds(&titleAsked), titleAsked; }));
    EXPECT_EQ(rounds(), 1u) << "no round after the stop";
    queue_.drain();
    EXPECT_FALSE(InputShield::shared().isTurnActive());
}

// The sign-in the turn works with goes with Sign Out: the turn is stopped first, as the window's
// Stop would, rather than driving Logic Pro on behind the sign-in form and ending as if the
// sign-in had been lost.
TEST_F(BarBindingsTest, SignOutDuringATurnStopsItFirst) {
    fakeTurns_ = false;
    Gate answer;
    transport_->replyAfter(answer, callsReply({{"c1", "list_tracks", "{}"}}));
    transport_->reply(respondReply("Balanced."));
    class TokenTransport final : public http::HTTPTransport {
    public:
        http::HTTPClientResponse send(const http::HTTPClientRequest&, std::stop_token) override {
            return {200, R"({"access_token":"a.eyJleHAiOjQxMDI0NDQ4MDB9.s","refresh_token":"refresh"})"};
        }
    };
    // Shared with the provider: the chat's title is asked for from another thread after the turn.
    auto auth = std::make_shared<networking::AuthService>(networking::BackendConfiguration{},
                                                          std::make_shared<TokenTransport>());
    auth->signIn("ada@example.com", "secret");
    controller_->backendChatService().setAuthTokenProvider(
        [auth](std::stop_token stop) { return auth->getValidToken(std::move(stop)); });
    model();
    std::unique_ptr<SidebarView> sidebar(makeSidebar(model_, *auth, {}, {}));
    sidebar->show();

    model().sendMessage("Check the mix balance");
    ASSERT_TRUE(queue_.runUntil([&] { return rounds() == 1; }));
    queue_.drain();
    ASSERT_TRUE(InputShield::shared().isTurnActive());
    click(*sidebar->accountButton());
    auto* sheet = dynamic_cast<SettingsView*>(sidebar->settingsSheet());
    ASSERT_NE(sheet, nullptr);
    click(*sheet->signOutRow());
    sheet->confirmSignOutButton()->click();
    ASSERT_FALSE(auth->isAuthenticated());
    answer.open();
    ASSERT_TRUE(queue_.runUntil([&] { return !model().isBusy(); }));
    queue_.drain();
    for (const auto& entry : model().entries()) {
        EXPECT_EQ(entry.content.find("lost my sign-in"), std::string::npos) << entry.content;
        EXPECT_NE(entry.role, ConversationRole::toolCall) << "a tool ran after the Sign Out";
    }
    EXPECT_FALSE(InputShield::shared().isTurnActive());
}

// Opening a long chat from the project page shows its latest message, not its first.
TEST_F(BarBindingsTest, AnOpenedChatStartsAtItsLatestMessage) {
    auto& store = controller_->conversationStore();
    const auto id = store.createThread(std::string("Night Drive")).currentThreadID;
    for (int i = 0; i < 30; ++i) {
        store.append(ConversationRole::user, "question " + std::to_string(i), id);
        store.append(ConversationRole::assistant, "answer " + std::to_string(i), id);
    }
    model().loadConversations();
    networking::AuthService auth;
    AuthChangeFanout authChanges;
    const ShellViews views = makeShellViews(model_, auth, authChanges, nullptr);
    QWidget pane;
    pane.resize(600, 400);
    auto* layout = new QVBoxLayout(&pane);
    auto* transcript = dynamic_cast<TranscriptView*>(views.transcript());
    ASSERT_NE(transcript, nullptr);
    layout->addWidget(transcript);
    transcript->hide();  // the chat pane is hidden while the project page shows
    pane.show();

    model().switchConversation(id);
    model().setNavigation(NavigationState::chat(id));
    transcript->show();
    QScrollBar* bar = transcript->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(BarBindingsTest, TheSidebarListsTheThreadsAndWritesOnlyTheNavigation) {
    auto& store = controller_->conversationStore();
    store.createThread(std::string("Alpha"));
    const auto loose = store.createThread(std::nullopt).currentThreadID;
    model().loadConversations();
    networking::AuthService auth(networking::BackendConfiguration{}, transport_);
    std::vector<Name> navigated;
    std::vector<std::string> opened;
    std::unique_ptr<SidebarView> sidebar(makeSidebar(
        model_, auth, [&](const Name& name) { navigated.push_back(name); },
        [&](const std::string& url) { opened.push_back(url); }));
    sidebar->resize(SidebarView::kWidth, 500);
    sidebar->show();

    const auto names = model().projectNames();
    ASSERT_EQ(sidebar->rows().size(), names.size() + 1);
    EXPECT_EQ(sidebar->rows().back().title, "No project");
    std::size_t alpha = 0;
    while (sidebar->rows()[alpha].title != "Alpha") ++alpha;

    click(*sidebar->rowButton(alpha));
    EXPECT_EQ(model().navigation(), NavigationState::projectPage("Alpha"));
    EXPECT_EQ(navigated, std::vector<Name>{"Alpha"});
    EXPECT_TRUE(sidebar->rows()[alpha].current);

    model().setNavigation(NavigationState::chat(loose));
    EXPECT_TRUE(sidebar->rows().back().current) << "the open chat has no project";
    EXPECT_FALSE(sidebar->rows()[alpha].current);

    click(*sidebar->accountButton());
    auto* sheet = dynamic_cast<SettingsView*>(sidebar->settingsSheet());
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->emailText(), "\u2014");
    click(*sheet->dashboardRow());
    EXPECT_EQ(opened, std::vector<std::string>{dashboardURL()});
    EXPECT_EQ(dashboardURL().rfind("https://", 0), 0u);
    EXPECT_TRUE(dashboardURL().ends_with("/dashboard"));
}

}  // namespace
}  // namespace corvane
