#include "widgets/focus_ring.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>

#include "widgets/message_bubble.h"
#include "widgets/widget_parts.h"
#include "widget_events.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

void press(int key) {
    QWidget* target = QApplication::focusWidget();
    ASSERT_NE(target, nullptr);
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// Tab went through buttons and Report links with nothing showing where it was. A text field shows
// its caret, and a click shows where the focus is already: neither gets a ring.
TEST(FocusRing, FollowsTabButNotAClickOrATextField) {
    FocusRing ring;
    ManualAnimationClock clock;
    QWidget window;
    auto* column = new QVBoxLayout(&window);
    auto* field = new QLineEdit;
    auto* button = new TextButton("Save", {.font = uiFont(13), .text = white(1), .fill = white(0.2)});
    auto* report = new ReportButton(clock);
    for (QWidget* w : std::initializer_list<QWidget*>{field, button, report}) column->addWidget(w, 0, Qt::AlignLeft);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(testing::pumpUntil([&] { return QApplication::activeWindow() == &window; }));
    field->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(ring.ringed(), nullptr);
    for (QWidget* stop : std::initializer_list<QWidget*>{button, report}) {
        press(Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), stop);
        EXPECT_EQ(ring.ringed(), stop);
        ASSERT_NE(ring.ringWidget(), nullptr);
        EXPECT_TRUE(ring.ringWidget()->geometry().contains(stop->geometry()));
    }
    press(Qt::Key_Backtab);
    press(Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(ring.ringed(), nullptr);
    button->setFocus(Qt::MouseFocusReason);  // as a click gives it
    EXPECT_EQ(ring.ringed(), nullptr);

    // A click on what takes no focus leaves the focus where it is, and takes the ring away.
    press(Qt::Key_Tab);
    ASSERT_EQ(ring.ringed(), report);
    testing::clickAt(window, QPointF(1, 1));
    EXPECT_EQ(QApplication::focusWidget(), report);
    EXPECT_EQ(ring.ringed(), nullptr);
}

}  // namespace
}  // namespace corvane
