#include "widgets/window_shell.h"

#include <gtest/gtest.h>

#include <QPointer>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <vector>

#include "widgets/hover_button.h"
#include "widgets/sidebar.h"
#include "widgets/top_bar.h"
#include "widget_events.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

// A root view with recording stand-ins for the other parts' views.
struct Harness {
    ManualAnimationClock clock;
    std::vector<std::function<void()>> navigations;  // [0] inline sidebar, [1] full-window one
    int loads = 0;
    int zooms = 0;
    int reportsEnded = 0;
    int storeFailuresDismissed = 0;
    std::unique_ptr<CompanionRootView> root;

    explicit Harness(int width, int height = 500, bool realSidebar = false) {
        testing::ensureApplication();
        ShellActions actions;
        actions.loadConversations = [this] { ++loads; };
        actions.zoom = [this] { ++zooms; };
        actions.endReport = [this] { ++reportsEnded; };
        actions.dismissStoreFailure = [this] { ++storeFailuresDismissed; };
        ShellViews views;
        views.sidebar = [this, realSidebar](std::function<void()> navigated) -> QWidget* {
            navigations.push_back(std::move(navigated));
            if (realSidebar) return new SidebarView({});
            return new QLabel("Songs");
        };
        views.projectPage = [](const std::optional<std::string>&) -> QWidget* {
            auto* page = new QWidget;
            (new QVBoxLayout(page))->addWidget(new QLineEdit);
            return page;
        };
        root = std::make_unique<CompanionRootView>(actions, views, 780, clock);
        root->setAttribute(Qt::WA_DontShowOnScreen);
        root->resize(width, height);
        root->show();
    }
    void resize(int width) {
        root->resize(width, root->height());
        settle();
    }
    void settle() {
        clock.advance(CompanionRootView::kSidebarAnimationSeconds + 0.01);
        root->tick();
    }
    bool inlineShown() const { return root->inlineSidebar()->isVisible() && root->inlineSidebar()->width() == 210; }
    bool fullShown() const {
        return root->fullWindowSidebar()->isVisible() &&
               root->fullWindowSidebar()->geometry() == QRect(0, 0, root->width(), root->height());
    }
};

TEST(CompanionRootView, CompactBelowTheThresholdOnly) {
    Harness h(900);
    for (const auto& [width, compact] : std::vector<std::pair<int, bool>>{{780, false}, {779, true}, {1200, false}}) {
        h.resize(width);
        EXPECT_EQ(h.root->isCompact(), compact) << width;
    }
}

TEST(CompanionRootView, WideWindowShowsTheInlineSidebarAndNavigationFromItLeavesItInPlace) {
    Harness h(1000);
    EXPECT_EQ(h.loads, 1);
    EXPECT_TRUE(h.inlineShown());
    EXPECT_FALSE(h.root->fullWindowSidebar()->isVisible());
    h.navigations.at(0)();
    h.settle();
    EXPECT_TRUE(h.inlineShown());
    // The sidebar button hides it, with the animation, and shows it again.
    testing::click(*h.root->topBar()->sidebarButton());
    EXPECT_TRUE(h.root->inlineSidebar()->isVisible());  // still moving out
    h.settle();
    EXPECT_FALSE(h.root->inlineSidebar()->isVisible());
    EXPECT_EQ(h.root->topBar()->sidebarButton()->toolTip(), "Show songs sidebar");
}

TEST(CompanionRootView, NarrowLaunchHidesTheSidebarUntilAskedThenCoversTheWindowUntilAPick) {
    Harness h(700);
    EXPECT_FALSE(h.root->sidebarVisible());
    EXPECT_FALSE(h.root->inlineSidebar()->isVisible());
    EXPECT_FALSE(h.root->fullWindowSidebar()->isVisible());
    h.root->toggleSidebar();
    h.settle();
    EXPECT_TRUE(h.fullShown());
    EXPECT_FALSE(h.root->inlineSidebar()->isVisible());
    h.navigations.at(1)();  // a pick in the full-window sidebar: gone at once
    EXPECT_FALSE(h.root->fullWindowSidebar()->isVisible());
    EXPECT_FALSE(h.root->sidebarVisible());
}

TEST(CompanionRootView, CrossingTheThresholdOverridesTheUsersChoice) {
    Harness h(1000);
    h.root->toggleSidebar();  // the user hides it
    h.settle();
    h.resize(700);
    h.resize(1000);  // widening shows it again
    EXPECT_TRUE(h.inlineShown());
    h.resize(700);  // narrowing hides it even though it was shown
    EXPECT_FALSE(h.root->sidebarVisible());
    h.root->toggleSidebar();
    h.settle();
    EXPECT_TRUE(h.fullShown());
    h.resize(800);  // the full-window sidebar becomes the inline one
    EXPECT_FALSE(h.root->fullWindowSidebar()->isVisible());
    EXPECT_TRUE(h.inlineShown());
}

TEST(CompanionRootView, SongBriefStripShowsTheFirst80CharactersOfTheTrimmedBriefAndMarksACut) {
    Harness h(1000);
    ShellState state;
    state.isChat = true;
    struct Case {
        std::string brief;
        std::string shown;
    };
    const std::string eighty(80, 'x');
    const Case cases[] = {{" \n\t \n", ""},
                          {"\n  Dark pop  \n", "Dark pop"},
                          {"  " + eighty + " \n", eighty},
                          {"  " + eighty + "yz", eighty + "\u2026"}};
    for (const auto& c : cases) {
        state.songBrief = c.brief;
        h.root->setState(state);
        EXPECT_EQ(h.root->songBriefStrip()->isVisible(), !c.shown.empty()) << c.brief;
        EXPECT_EQ(h.root->songBriefStripText().toStdString(), c.shown);
    }
    EXPECT_EQ(CompanionRootView::songBriefPreview("\u00E9\u0301" + std::string(85, 'a')),
              "\u00E9\u0301" + std::string(79, 'a') + "\u2026");
}

TEST(CompanionRootView, PageOrChatAndBannersFollowTheState) {
    Harness h(1000);
    ShellState state;
    state.pageProjectName = "Song";
    state.accessibilityTrusted = false;
    h.root->setState(state);
    // Another page replaces the first at once, before the event loop deletes it.
    QPointer<QWidget> first = h.root->projectPage();
    state.pageProjectName = "Other";
    h.root->setState(state);
    EXPECT_TRUE(first && !first->isVisible());
    EXPECT_TRUE(h.root->projectPage()->isVisible());
    // However the page was reached, typing goes into its new-chat field.
    EXPECT_EQ(h.root->focusWidget(), h.root->projectPage()->findChild<QLineEdit*>());
    EXPECT_FALSE(h.root->chatPane()->isVisible());
    EXPECT_TRUE(h.root->accessibilityBanner()->isVisible());
    EXPECT_FALSE(h.root->pluginBanner()->isVisible());
    state.isChat = true;
    state.accessibilityTrusted = true;
    state.showPluginMissingBanner = true;
    h.root->setState(state);
    EXPECT_FALSE(h.root->projectPage()->isVisible());
    EXPECT_TRUE(h.root->chatPane()->isVisible());
    EXPECT_FALSE(h.root->accessibilityBanner()->isVisible());
    EXPECT_TRUE(h.root->pluginBanner()->isVisible());
    EXPECT_FALSE(h.root->loopbackBanner()->isVisible());
    EXPECT_FALSE(h.root->storeFailureBanner()->isVisible());
    EXPECT_FALSE(h.root->otherSongBanner()->isVisible());
    // The chat's song is not the one open: said for as long as the chat shows, not once per turn.
    state.otherSong = "Logic Pro has \"B\" open, not this chat's song \"A\".";
    h.root->setState(state);
    EXPECT_TRUE(h.root->otherSongBanner()->isVisible());
    EXPECT_EQ(h.root->otherSongBanner()->problem().toStdString(), state.otherSong);
    state.otherSong.clear();
    h.root->setState(state);
    EXPECT_FALSE(h.root->otherSongBanner()->isVisible());

    // What could not be done, in full; the local API's problem stays, a refused change can be dismissed.
    state.loopbackProblem = "Corvane could not serve its local API on 127.0.0.1:51234: Address already in use.";
    state.storeFailure =
        "The chat could not be saved: conversation.json could not be written: No space left on device.";
    h.root->setState(state);
    EXPECT_TRUE(h.root->loopbackBanner()->isVisible());
    EXPECT_EQ(h.root->loopbackBanner()->problem().toStdString(), state.loopbackProblem);
    EXPECT_EQ(h.root->loopbackBanner()->dismissButton(), nullptr);
    EXPECT_TRUE(h.root->storeFailureBanner()->isVisible());
    EXPECT_EQ(h.root->storeFailureBanner()->problem().toStdString(), state.storeFailure);
    ASSERT_NE(h.root->storeFailureBanner()->dismissButton(), nullptr);
    testing::click(*h.root->storeFailureBanner()->dismissButton());
    EXPECT_EQ(h.storeFailuresDismissed, 1);

    // A report that went is told while the view model says so.
    EXPECT_FALSE(h.root->reportSentBanner()->isVisible());
    state.reportSent = true;
    h.root->setState(state);
    EXPECT_TRUE(h.root->reportSentBanner()->isVisible());
    EXPECT_EQ(h.root->reportSentBanner()->text(), "Report sent. Thank you for telling us.");
    state.reportSent = false;
    h.root->setState(state);
    EXPECT_FALSE(h.root->reportSentBanner()->isVisible());
}

TEST(CompanionRootView, ClosingTheReportSheetLetsTheEntryGo) {
    Harness h(1000);
    ShellState state;
    state.isChat = true;
    state.reporting = true;
    h.root->setState(state);
    ASSERT_NE(h.root->reportSheet(), nullptr);
    EXPECT_TRUE(h.root->reportSheet()->isVisible());
    h.root->reportSheet()->reject();
    EXPECT_EQ(h.reportsEnded, 1);
    // The view model cleared the entry; reporting the same reply again opens a new sheet.
    state.reporting = false;
    h.root->setState(state);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    state.reporting = true;
    h.root->setState(state);
    ASSERT_NE(h.root->reportSheet(), nullptr);
    // Cleared by the view model (the report was sent): the sheet closes.
    state.reporting = false;
    h.root->setState(state);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(h.root->reportSheet(), nullptr);
}

// No empty band under the window's title bar, and the two columns' first rows line up.
TEST(CompanionRootView, TheColumnsStartAtTheTopAndSongsLinesUpWithTheTopBar) {
    Harness h(1000, 500, true);
    h.root->layout();
    QCoreApplication::sendPostedEvents();
    auto centreY = [&](QWidget* widget) { return widget->mapTo(h.root.get(), widget->rect().center()).y(); };
    EXPECT_EQ(h.root->topBar()->mapTo(h.root.get(), QPoint(0, 0)).y(), 0);
    auto* sidebar = h.root->inlineSidebar()->findChild<SidebarView*>();
    ASSERT_NE(sidebar, nullptr);
    EXPECT_NEAR(centreY(sidebar->headerLabel()), centreY(h.root->topBar()->sidebarButton()), 1);
}

TEST(CompanionRootView, DoubleClickAlongTheTopEdgeZoomsTheWindow) {
    Harness h(1000);
    auto doubleClick = [&](QPoint at) {
        QWidget* target = h.root->childAt(at);
        if (!target) return;
        const QPoint local = target->mapFrom(h.root.get(), at);
        QMouseEvent event(QEvent::MouseButtonDblClick, QPointF(local), target->mapToGlobal(QPointF(local)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    };
    EXPECT_EQ(h.root->titleStrip()->geometry(), QRect(78, 0, 1000 - 78, 28));
    doubleClick({78, 0});
    doubleClick({999, 27});
    EXPECT_EQ(h.zooms, 2);
    doubleClick({500, 28});  // below the strip
    doubleClick({77, 10});   // over the window's own buttons
    EXPECT_EQ(h.zooms, 2);
    // The strip lies over the top bar, whose buttons keep their clicks.
    HoverButton* button = h.root->topBar()->sidebarButton();
    const QPoint at = button->mapTo(h.root.get(), button->rect().center());
    ASSERT_LT(at.y(), CompanionRootView::kTitleStripHeight);
    QWidget* target = h.root->childAt(at);
    ASSERT_TRUE(target == button || button->isAncestorOf(target));
    testing::clickAt(*target, target->mapFrom(h.root.get(), at));
    h.settle();
    EXPECT_FALSE(h.root->sidebarVisible());
}

}  // namespace
}  // namespace corvane
