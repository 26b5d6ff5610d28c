#include "widgets/bar_bindings.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QTextEdit>

#include "ui/view_model_fixture.h"
#include "widgets/hover_button.h"
#include "widgets/input_bar.h"
#include "widgets/sidebar.h"
#include "widget_events.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

using corvane::testing::click;

using Name = std::optional<std::string>;

class BarBindingsTest : public testing::ViewModelTest {};

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
