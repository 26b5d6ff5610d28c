#include "widgets/symbols.h"

#include <gtest/gtest.h>

#include <QImage>

#include "widget_pixels.h"

namespace corvane {
namespace {

QImage drawn(const std::string& name) {
    QImage image(24, 24, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter painter(&image);
    drawSymbol(painter, name, QRectF(2, 2, 20, 20), Qt::white, 1.5);
    return image;
}

// A misspelt or forgotten name draws the gear without a word: each view's names are checked.
TEST(Symbols, EveryNameTheViewsUseHasADrawingOfItsOwn) {
    const char* names[] = {// input bar, sidebar, account sheet
                           "paperclip", "cpu", "chevron.down", "photo.fill", "stop.fill", "arrow.up",
                           "person.crop.circle", "chevron.right", "xmark", "arrow.up.right.square",
                           "rectangle.portrait.and.arrow.right",
                           // top bar, banners, song-brief strip
                           "sidebar.left", "chevron.left", "ellipsis", "music.note", "exclamationmark.octagon.fill",
                           "exclamationmark.triangle.fill",
                           // project page and chat rows
                           "folder.fill", "plus", "bubble.left.and.bubble.right", "trash",
                           // transcript: statuses, the report flag
                           "checkmark", "arrow.triangle.2.circlepath", "flag"};
    const QImage gear = drawn("no.such.symbol");
    for (const std::string name : names) {
        EXPECT_TRUE(hasSymbol(name)) << name;
        EXPECT_NE(drawn(name), gear) << name;
        EXPECT_TRUE(testing::litBounds(drawn(name), QRect(0, 0, 24, 24)).isValid()) << name << " draws nothing";
    }
}

// Drawings that fill set their own pen and brush: the caller's painter comes back as it was.
TEST(Symbols, ThePainterComesBackAsItWas) {
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    const QPen pen(Qt::green, 3);
    painter.setPen(pen);
    painter.setBrush(Qt::blue);
    for (const char* name : {"ellipsis", "folder.fill", "exclamationmark.triangle.fill", "checkmark"}) {
        drawSymbol(painter, name, QRectF(0, 0, 16, 16), Qt::white);
        EXPECT_EQ(painter.pen(), pen) << name;
        EXPECT_EQ(painter.brush().color(), QColor(Qt::blue)) << name;
        EXPECT_EQ(painter.compositionMode(), QPainter::CompositionMode_SourceOver) << name;
    }
}

TEST(SymbolView, StrokeFollowsTheWeightAndTheSize) {
    EXPECT_GT(SymbolView::stroke(SymbolView::Weight::semibold, 12), SymbolView::stroke(SymbolView::Weight::medium, 12));
    EXPECT_GT(SymbolView::stroke(SymbolView::Weight::medium, 12), SymbolView::stroke(SymbolView::Weight::regular, 12));
    EXPECT_DOUBLE_EQ(SymbolView::stroke(SymbolView::Weight::regular, 24),
                     2 * SymbolView::stroke(SymbolView::Weight::regular, 12));
    EXPECT_DOUBLE_EQ(SymbolView::stroke(SymbolView::Weight::regular, 4),
                     SymbolView::stroke(SymbolView::Weight::regular, 8.4))
        << "small symbols keep a readable stroke";
    SymbolView view("xmark", 10.5, SymbolView::Weight::medium, Qt::white);
    EXPECT_EQ(view.size(), QSize(11, 11));
}

}  // namespace
}  // namespace corvane
