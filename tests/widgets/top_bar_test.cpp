#include "widgets/top_bar.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

#include "widgets/hover_button.h"
#include "widget_events.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

using corvane::testing::click;

struct Bar {
    int toggles = 0, backs = 0, edits = 0, clears = 0;
    std::unique_ptr<TopBar> bar;
    Bar() {
        testing::ensureApplication();
        bar = std::make_unique<TopBar>(
            TopBarActions{[this] { ++toggles; }, [this] { ++backs; }, [this] { ++edits; }, [this] { ++clears; }});
        bar->setAttribute(Qt::WA_DontShowOnScreen);
        bar->resize(700, 44);
        bar->show();
    }
};

TEST(TopBar, ProjectPageShowsOnlyTheSidebarButtonAndTheBusyIndicator) {
    Bar b;
    TopBarState state;
    state.isBusy = true;
    state.threadTitle = "A title";
    b.bar->setState(state);
    EXPECT_TRUE(b.bar->sidebarButton()->isVisible());
    EXPECT_TRUE(b.bar->busyIndicator()->isVisible());
    EXPECT_FALSE(b.bar->backButton()->isVisible());
    EXPECT_FALSE(b.bar->titleLabel()->isVisible());
    EXPECT_FALSE(b.bar->chatMenuButton()->isVisible());
    state.isBusy = false;
    b.bar->setState(state);
    EXPECT_FALSE(b.bar->busyIndicator()->isVisible());
}

TEST(TopBar, ChatShowsItsProjectTitleAndMenuWithFallbackTexts) {
    Bar b;
    TopBarState state;
    state.isChat = true;
    b.bar->setState(state);
    EXPECT_TRUE(b.bar->backButton()->isVisible());
    EXPECT_EQ(b.bar->backLabel()->fullText(), "No project");
    EXPECT_EQ(b.bar->titleLabel()->fullText(), "Chat");
    EXPECT_TRUE(b.bar->chatMenuButton()->isVisible());
    EXPECT_EQ(b.bar->backButton()->toolTip(), "Back to song");
    state.projectName = "Midnight Drive";
    state.threadTitle = "Vocal balance";
    b.bar->setState(state);
    EXPECT_EQ(b.bar->backLabel()->fullText(), "Midnight Drive");
    EXPECT_EQ(b.bar->titleLabel()->fullText(), "Vocal balance");
    click(*b.bar->backButton());
    EXPECT_EQ(b.backs, 1);
}

TEST(TopBar, SidebarButtonTogglesAndNamesWhatItWillDo) {
    Bar b;
    EXPECT_EQ(b.bar->sidebarButton()->toolTip(), "Hide songs sidebar");
    click(*b.bar->sidebarButton());
    EXPECT_EQ(b.toggles, 1);
    TopBarState state;
    state.sidebarVisible = false;
    b.bar->setState(state);
    EXPECT_EQ(b.bar->sidebarButton()->toolTip(), "Show songs sidebar");
}

// The menu's first item tests the brief as stored: spaces alone already count as a brief.
TEST(TopBar, ChatMenuOffersAddOrEditAndClearsAtOnce) {
    Bar b;
    TopBarState state;
    state.isChat = true;
    for (const auto& [brief, text] : std::vector<std::pair<std::string, QString>>{
             {"", "Add song brief"}, {"   ", "Edit song brief"}, {"Dark pop", "Edit song brief"}}) {
        state.songBrief = brief;
        b.bar->setState(state);
        const auto actions = b.bar->chatMenu()->actions();
        ASSERT_EQ(actions.size(), 3);
        EXPECT_EQ(actions[0]->text(), text) << brief;
        EXPECT_TRUE(actions[1]->isSeparator());
        EXPECT_EQ(actions[2]->text(), "Clear chat");
    }
    b.bar->chatMenu()->actions()[0]->trigger();
    b.bar->chatMenu()->actions()[2]->trigger();
    EXPECT_EQ(b.edits, 1);
    EXPECT_EQ(b.clears, 1);
}

}  // namespace
}  // namespace corvane
