#include "widgets/widget_parts.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>

#include "widget_pixels.h"

namespace corvane {
namespace {

TEST(ElidedLabel, ShortensWhatDoesNotFitWhereItsModeSaysAndKeepsTheWholeText) {
    const QString full = "a.long.mailbox.name@recording-studio.example.com";
    struct Case {
        Qt::TextElideMode mode;
        const char* start;
        const char* end;
    };
    for (const Case& c : {Case{Qt::ElideRight, "a.long", "\u2026"}, Case{Qt::ElideMiddle, "a.long", ".com"}}) {
        ElidedLabel label(full, uiFont(13), white(1), c.mode);
        label.setAttribute(Qt::WA_DontShowOnScreen);
        label.show();
        label.resize(120, label.sizeHint().height());
        EXPECT_EQ(label.fullText(), full);
        EXPECT_TRUE(label.text().contains(QChar(0x2026))) << label.text().toStdString();
        EXPECT_TRUE(label.text().startsWith(c.start)) << label.text().toStdString();
        EXPECT_TRUE(label.text().endsWith(c.end)) << label.text().toStdString();
        EXPECT_EQ(label.minimumSizeHint().width(), 0) << "never widens its row";
        label.resize(label.sizeHint().width(), label.height());
        EXPECT_EQ(label.text(), full) << "the whole text once it fits";
    }
}

TEST(PaintedBox, CapsuleRoundsTheShortSideAndTheOutlineStaysInside) {
    PaintedBox box(-1, QColor(Qt::white), QColor(Qt::red));
    box.setFixedSize(12, 40);
    QPalette black = box.palette();
    black.setColor(QPalette::Window, Qt::black);
    box.setPalette(black);
    const QImage image = box.grab().toImage();
    EXPECT_EQ(testing::brightness(testing::at(image, 0, 0)), 0) << "a corner of a capsule is empty";
    EXPECT_EQ(testing::at(image, 6, 20), QColor(Qt::white));
    const QColor edge = testing::at(image, 0, 20);
    EXPECT_GT(edge.red(), 200) << "the whole outline inside the box";
    EXPECT_LT(edge.green(), 60);
}

TEST(TextButton, ClickedByTheMouseButNeverByReturnAndSizedByTextAndPadding) {
    QWidget window;
    auto* button = new TextButton(
        "Save", {.font = uiFont(13), .text = white(1), .horizontalPadding = 20, .verticalPadding = 8}, &window);
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    const QFontMetrics metrics(button->font());
    EXPECT_EQ(button->sizeHint(), QSize(metrics.horizontalAdvance("Save") + 40, metrics.height() + 16));
    EXPECT_FALSE(button->autoDefault());
    EXPECT_FALSE(button->isDefault());
    window.setAttribute(Qt::WA_DontShowOnScreen);
    window.show();
    button->resize(button->sizeHint());
    const QPointF at(button->width() / 2.0, button->height() / 2.0);
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, button->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(button, &event);
    }
    EXPECT_EQ(clicks, 1);
}

}  // namespace
}  // namespace corvane
