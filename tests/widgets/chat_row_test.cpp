#include "widgets/chat_row.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMenu>

#include "widget_pixels.h"

namespace corvane {
namespace {

ConversationSummary chat(std::string title, std::optional<std::string> preview) {
    ConversationSummary s;
    s.threadID = "t1";
    s.title = std::move(title);
    s.lastMessagePreview = std::move(preview);
    return s;
}

TEST(ChatRow, TitleFallsBackToChatAndAnEmptyPreviewDropsTheSecondLine) {
    ManualAnimationClock clock;
    ChatRowView withPreview(chat("Vocals", "Turn it up"), "Mar 4", {}, {}, clock);
    ChatRowView noPreview(chat("", std::nullopt), "Mar 4", {}, {}, clock);
    ChatRowView emptyPreview(chat("", ""), "Mar 4", {}, {}, clock);
    EXPECT_EQ(withPreview.titleText(), "Vocals");
    EXPECT_EQ(withPreview.previewText(), QString("Turn it up"));
    EXPECT_EQ(noPreview.titleText(), "Chat");
    EXPECT_FALSE(noPreview.previewText());
    EXPECT_FALSE(emptyPreview.previewText());
    EXPECT_GT(withPreview.sizeHint().height(), emptyPreview.sizeHint().height());
    EXPECT_EQ(noPreview.sizeHint().height(), emptyPreview.sizeHint().height());
}

// Hovering swaps the date for the round delete button and brightens the row over 0.12 s;
// leaving brings the date back on the same curve.
TEST(ChatRow, HoverFadesTheDeleteButtonInAndOut) {
    ManualAnimationClock clock;
    ChatRowView row(chat("Vocals", "Turn it up"), "3:07 PM", {}, {}, clock);
    row.resize(420, row.sizeHint().height());
    row.show();
    EXPECT_FALSE(row.deleteButton()->isVisible());
    EXPECT_EQ(row.deleteButton()->toolTip(), "Delete chat");

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&row, &enter);
    EXPECT_TRUE(row.isHovered());
    EXPECT_TRUE(row.deleteButton()->isVisible());
    EXPECT_EQ(row.hoverProgress(), 0);
    clock.advance(0.06);
    row.tick();
    EXPECT_NEAR(row.hoverProgress(), 0.5, 1e-9);
    clock.advance(0.06);
    row.tick();
    EXPECT_EQ(row.hoverProgress(), 1);
    EXPECT_EQ(row.deleteButton()->shownOpacity(), 1);
    EXPECT_EQ(row.deleteButton()->geometry(), QRect(420 - 14 - 26, 11, 26, 26));

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&row, &leave);
    clock.advance(0.1);
    row.tick();
    EXPECT_TRUE(row.deleteButton()->isVisible());  // still fading out
    clock.advance(0.1);
    row.tick();
    EXPECT_EQ(row.hoverProgress(), 0);
    EXPECT_FALSE(row.deleteButton()->isVisible());
}

TEST(ChatRow, ContextMenuAndButtonBothAskToDelete) {
    ManualAnimationClock clock;
    int opened = 0, deleted = 0;
    ChatRowView row(
        chat("Vocals", std::nullopt), "", [&] { ++opened; }, [&] { ++deleted; }, clock);
    row.resize(420, row.sizeHint().height());
    row.show();

    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(30, 10), row.mapToGlobal(QPoint(30, 10)));
    QApplication::sendEvent(&row, &event);
    QMenu* menu = row.findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions()[0]->text(), "Delete chat");
    menu->actions()[0]->trigger();
    menu->close();
    EXPECT_EQ(deleted, 1);

    row.setHovered(true);
    row.deleteButton()->click();
    EXPECT_EQ(deleted, 2);

    // The keyboard's way, on the focused row.
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(&row, &key);
    EXPECT_EQ(deleted, 3);
    EXPECT_EQ(opened, 0);
}

}  // namespace
}  // namespace corvane
