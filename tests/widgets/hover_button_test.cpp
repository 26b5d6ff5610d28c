#include "widgets/hover_button.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <vector>

#include "transcript/theme.h"
#include "widget_events.h"
#include "widget_pixels.h"

namespace corvane {
namespace {

void mouse(QWidget& widget, QEvent::Type type, QPoint at) {
    QMouseEvent event(type, QPointF(at), widget.mapToGlobal(QPointF(at)), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

void click(QWidget& widget, QPoint at) {
    mouse(widget, QEvent::MouseButtonPress, at);
    mouse(widget, QEvent::MouseButtonRelease, at);
}

TEST(CorvaneTheme, PaletteValues) {
    EXPECT_EQ(CorvaneTheme::background, (diagram::Color{18 / 255.0, 18 / 255.0, 22 / 255.0, 1}));
    EXPECT_EQ(CorvaneTheme::surfaceBorder, CorvaneTheme::assistantBubbleBorder);
    EXPECT_EQ(CorvaneTheme::surfaceBorder, CorvaneTheme::buttonIdle);
    EXPECT_EQ(CorvaneTheme::buttonIdle, (diagram::Color{1, 1, 1, 0.06}));
}

// The window's plain buttons (the back button, the songs, the account entry, the song brief) could
// not be reached without the mouse.
TEST(HoverButton, TabReachesItAndReturnEnterOrSpacePressesIt) {
    int presses = 0;
    QWidget window;
    auto* before = new QLabel("before", &window);
    auto* button = new HoverButton([&] { ++presses; }, [](bool) { return new QLabel("Demo Song"); }, &window);
    button->move(0, 30);
    before->setFocusPolicy(Qt::StrongFocus);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(testing::pumpUntil([&] { return QApplication::activeWindow() == &window; }));
    before->setFocus(Qt::MouseFocusReason);
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(before, &tab);
    ASSERT_EQ(QApplication::focusWidget(), button);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(button, &press);
    }
    EXPECT_EQ(presses, 3);
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
    QApplication::sendEvent(button, &other);
    EXPECT_EQ(presses, 3);
}

TEST(HoverButton, RebuildsItsLabelOnHoverAndRunsTheActionOncePerClick) {
    std::vector<bool> builds;
    int presses = 0;
    HoverButton button([&] { ++presses; },
                       [&](bool hovered) {
                           builds.push_back(hovered);
                           return new QLabel(hovered ? "hot" : "cold");
                       });
    button.resize(80, 24);
    button.show();
    ASSERT_EQ(builds, std::vector<bool>{false});

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&button, &enter);
    EXPECT_TRUE(button.isHovered());
    EXPECT_EQ(static_cast<QLabel*>(button.labelWidget())->text(), "hot");
    QApplication::sendEvent(&button, &enter);  // a second enter changes nothing
    EXPECT_EQ(builds, (std::vector<bool>{false, true}));

    click(button, QPoint(10, 10));
    EXPECT_EQ(presses, 1);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    EXPECT_EQ(builds, (std::vector<bool>{false, true, false}));
    click(button, QPoint(10, 10));
    EXPECT_EQ(presses, 2);

    // Pressing inside and releasing outside is no click.
    mouse(button, QEvent::MouseButtonPress, QPoint(10, 10));
    mouse(button, QEvent::MouseButtonRelease, QPoint(200, 10));
    EXPECT_EQ(presses, 2);
}

}  // namespace
}  // namespace corvane
