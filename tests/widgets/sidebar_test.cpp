#include "widgets/sidebar.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include "transcript/theme.h"
#include "widgets/diagram_painter.h"
#include "widgets/hover_button.h"
#include "widgets/sidebar_rows.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

using Name = std::optional<std::string>;

ConversationSummary thread(std::string id, Name project) {
    ConversationSummary summary;
    summary.threadID = std::move(id);
    summary.title = "Chat";
    summary.projectName = std::move(project);
    return summary;
}

// The view model's projectNames: distinct names of the threads plus a non-empty detected one, sorted.
SidebarState state(NavigationState navigation, Name detected, std::vector<ConversationSummary> threads) {
    std::vector<std::string> names;
    for (const auto& t : threads)
        if (t.projectName) names.push_back(*t.projectName);
    if (detected && !detected->empty()) names.push_back(*detected);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return {std::move(navigation), std::move(detected), std::move(threads), std::move(names)};
}

std::vector<std::string> shown(const std::vector<SidebarRow>& rows) {
    std::vector<std::string> out;
    for (const auto& row : rows)
        out.push_back((row.detected ? "*" : "") + row.title + " " + chatCountText(row.count) +
                      (row.current ? " <" : ""));
    return out;
}

TEST(SidebarRows, OrderCountsMarksAndHighlight) {
    const auto page = NavigationState::projectPage;
    const auto chat = NavigationState::chat;
    const std::vector<ConversationSummary> mixed = {thread("t1", "Alpha"), thread("t2", "Beta"), thread("t3", "Beta"),
                                                    thread("t4", std::nullopt)};
    struct Case {
        const char* name;
        SidebarState state;
        std::vector<std::string> rows;
    };
    const std::vector<Case> cases = {
        {"nothing yet", state(page(std::nullopt), std::nullopt, {}), {}},
        {"a detected project without threads comes first with no chats",
         state(page(std::nullopt), "Gamma", {thread("t1", "Alpha")}),
         {"*Gamma 0 chats", "Alpha 1 chat"}},
        {"the open project leads, the rest keep their order",
         state(page("Alpha"), "Beta", mixed),
         {"*Beta 2 chats", "Alpha 1 chat <", "No project 1 chat"}},
        {"names differing in case are two rows; only the exact one is marked",
         state(page(std::nullopt), "mix", {thread("t1", "Mix"), thread("t2", "mix")}),
         {"*mix 1 chat", "Mix 1 chat"}},
        {"an empty detected name is no row", state(page(std::nullopt), "", {thread("t1", "Alpha")}), {"Alpha 1 chat"}},
        {"the no-project page highlights its row",
         state(page(std::nullopt), std::nullopt, mixed),
         {"Alpha 1 chat", "Beta 2 chats", "No project 1 chat <"}},
        {"an open chat highlights its project",
         state(chat("t2"), std::nullopt, mixed),
         {"Alpha 1 chat", "Beta 2 chats <", "No project 1 chat"}},
        // It highlighted "No project", which is not what is shown.
        {"a chat the list no longer holds (another copy deleted it) highlights no row",
         state(chat("zz"), std::nullopt, mixed),
         {"Alpha 1 chat", "Beta 2 chats", "No project 1 chat"}},
    };
    for (const auto& c : cases) EXPECT_EQ(shown(sidebarRows(c.state)), c.rows) << c.name;
}

void click(QWidget& widget) {
    const QPointF at(widget.width() - 3, widget.height() - 2);  // empty space of the row
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, widget.mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&widget, &event);
    }
}

struct Sidebar {
    std::vector<NavigationState> navigations;
    std::vector<Name> navigated;
    int sheetsMade = 0;
    SidebarView view{{[this](const NavigationState& n) { navigations.push_back(n); },
                      [this](const Name& name) { navigated.push_back(name); },
                      [this](QWidget* parent) {
                          ++sheetsMade;
                          return new QDialog(parent);
                      }}};
    Sidebar() {
        view.resize(SidebarView::kWidth, 500);
        view.show();
    }
};

TEST(SidebarView, RowClicksSetThePageEvenWhenItIsAlreadyShown) {
    Sidebar sidebar;
    sidebar.view.setState(state(NavigationState::projectPage("Alpha"), std::nullopt,
                                {thread("t1", "Alpha"), thread("t2", std::nullopt)}));
    ASSERT_EQ(sidebar.view.rows().size(), 2u);
    click(*sidebar.view.rowButton(0));
    click(*sidebar.view.rowButton(0));
    click(*sidebar.view.rowButton(1));
    EXPECT_EQ(sidebar.navigations, (std::vector<NavigationState>{NavigationState::projectPage("Alpha"),
                                                                 NavigationState::projectPage("Alpha"),
                                                                 NavigationState::projectPage(std::nullopt)}));
    EXPECT_EQ(sidebar.navigated, (std::vector<Name>{"Alpha", "Alpha", std::nullopt}));
}

TEST(SidebarView, AnEmptyListStillShowsAccountWhichOpensOneSheetAtATime) {
    Sidebar sidebar;
    sidebar.view.setState(state(NavigationState::projectPage(std::nullopt), std::nullopt, {}));
    EXPECT_EQ(sidebar.view.rowButton(0), nullptr);
    ASSERT_TRUE(sidebar.view.accountButton()->isVisible());
    EXPECT_FALSE(sidebar.view.showingSettings());
    click(*sidebar.view.accountButton());
    ASSERT_TRUE(sidebar.view.showingSettings());
    EXPECT_TRUE(sidebar.view.settingsSheet()->isVisible());
    click(*sidebar.view.accountButton());
    EXPECT_EQ(sidebar.sheetsMade, 1);

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(sidebar.view.settingsSheet(), &escape);
    EXPECT_FALSE(sidebar.view.showingSettings()) << "dismissed in any way, the flag drops";
    click(*sidebar.view.accountButton());
    EXPECT_EQ(sidebar.sheetsMade, 2) << "a fresh sheet each time";
}

TEST(SidebarView, TheListSitsOnTheWindowBackgroundAndOnlyTheCurrentRowIsLit) {
    Sidebar sidebar;
    sidebar.view.setState(
        state(NavigationState::projectPage("Beta"), std::nullopt, {thread("t1", "Alpha"), thread("t2", "Beta")}));
    QCoreApplication::sendPostedEvents();  // the new rows are laid out
    const QImage image = sidebar.view.grab().toImage();
    const QColor background = toQColor(CorvaneTheme::background);
    auto rowPixel = [&](std::size_t index) {
        const QWidget* row = sidebar.view.rowButton(index);
        const QPoint p = row->mapTo(&sidebar.view, QPoint(row->width() - 4, row->height() / 2));
        return image.pixelColor(p);
    };
    EXPECT_EQ(rowPixel(0), background) << "Alpha is not current";
    const QColor lit = rowPixel(1);
    EXPECT_NEAR(lit.red(), background.red() + 0.07 * (255 - background.red()), 2);
    const QWidget* last = sidebar.view.rowButton(1);
    const QPoint below = last->mapTo(&sidebar.view, QPoint(last->width() / 2, last->height() + 40));
    EXPECT_EQ(image.pixelColor(below), background) << "empty list space";
}

}  // namespace
}  // namespace corvane
