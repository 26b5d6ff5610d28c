#include "widgets/focus_ring.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>

#include "widgets/chat_row.h"
#include "widgets/message_bubble.h"
#include "widgets/widget_parts.h"
#include "widget_events.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QKeyEvent event(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &event);
}

bool ringBlue(const QColor& c) { return c.blue() > 150 && c.blue() > c.red() + 60; }

// Tab went through buttons, Report links and chat rows with nothing showing where it was.
TEST(FocusRing, TabShowsWhereTheFocusIsWhileAClickOrATextFieldShowsNoRing) {
    FocusRing ring;
    ManualAnimationClock clock;
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    auto* field = new QLineEdit;
    auto* button = new TextButton("Save", {.font = uiFont(13), .text = white(1), .fill = white(0.2)});
    auto* report = new ReportButton(clock);
    ConversationSummary chat;
    chat.threadID = "t1";
    chat.title = "Vocals";
    auto* row = new ChatRowView(chat, "Mar 4", {}, {}, clock);
    for (QWidget* w : {static_cast<QWidget*>(field), static_cast<QWidget*>(button), static_cast<QWidget*>(report),
                       static_cast<QWidget*>(row)})
        column->addWidget(w, 0, Qt::AlignLeft);
    window.resize(420, 240);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(testing::pumpUntil([&] { return QApplication::activeWindow() == &window; }));
    field->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(ring.ringed(), nullptr);

    const struct {
        const char* name;
        QWidget* control;
    } stops[] = {{"a button", button}, {"a Report link", report}, {"a chat row", row}};
    for (const auto& stop : stops) {
        SCOPED_TRACE(stop.name);
        press(Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), stop.control);
        EXPECT_EQ(ring.ringed(), stop.control);
        ASSERT_NE(ring.ringWidget(), nullptr);
        const QRect around = QRect(stop.control->mapTo(&window, QPoint(0, 0)), stop.control->size());
        EXPECT_TRUE(ring.ringWidget()->geometry().contains(around.adjusted(-2, -2, 2, 2)));
        const QImage shot = window.grab().toImage();
        const double scale = shot.width() / double(window.width());
        EXPECT_TRUE(ringBlue(shot.pixelColor(int((around.left() - 2) * scale), int(around.center().y() * scale))))
            << "the ring is drawn beside the control";
    }
    press(Qt::Key_Backtab);
    press(Qt::Key_Backtab);
    press(Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(ring.ringed(), nullptr) << "a text field shows its caret";

    button->setFocus(Qt::MouseFocusReason);  // as a click gives it
    EXPECT_EQ(ring.ringed(), nullptr) << "a click shows where the focus is already";
}

}  // namespace
}  // namespace corvane
