#include "widgets/diagram_painter.h"

#include <gtest/gtest.h>

#include <functional>

#include "widget_pixels.h"

namespace corvane {
namespace {

using namespace diagram;
using testing::brightness;
using testing::litBounds;

QImage paintOnBlack(int width, int height, const std::function<void(DiagramPainter&)>& draw) {
    testing::ensureApplication();
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter qt(&image);
    DiagramPainter painter(qt);
    draw(painter);
    return image;
}

TEST(DiagramPainter, TextHangsFromItsAnchor) {
    // Each anchor puts the text's box on its own side of the point (100, 50).
    struct Case {
        Anchor anchor;
        std::function<void(const QRect&)> check;
    };
    const Case cases[] = {
        {Anchor::leadingCentre,
         [](const QRect& r) {
             EXPECT_GE(r.left(), 100);
             EXPECT_LT(r.top(), 50);
             EXPECT_GT(r.bottom(), 50);
         }},
        {Anchor::trailingCentre,
         [](const QRect& r) {
             EXPECT_LE(r.right(), 100);
             EXPECT_GT(r.right(), 90);
             EXPECT_LT(r.top(), 50);
             EXPECT_GT(r.bottom(), 50);
         }},
        {Anchor::centre,
         [](const QRect& r) {
             EXPECT_LT(r.left(), 100);
             EXPECT_GT(r.right(), 100);
             EXPECT_LT(r.top(), 50);
             EXPECT_GT(r.bottom(), 50);
         }},
        {Anchor::bottomCentre,
         [](const QRect& r) {
             EXPECT_LE(r.bottom(), 50);
             EXPECT_LT(r.left(), 100);
             EXPECT_GT(r.right(), 100);
         }},
        {Anchor::topLeading,
         [](const QRect& r) {
             EXPECT_GE(r.top(), 50);
             EXPECT_GE(r.left(), 100);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.anchor));
        auto image = paintOnBlack(200, 100, [&](DiagramPainter& p) {
            p.text(Label{"HHHH", {12}, white(1), {100, 50}, c.anchor});
        });
        const QRect lit = litBounds(image, image.rect());
        ASSERT_FALSE(lit.isEmpty()) << "no text was drawn";
        c.check(lit);
    }
}

TEST(DiagramPainter, LongTextIsCutAtItsMaximumWidth) {
    const std::string name = "A track name far too long for its column";
    auto image = paintOnBlack(400, 40, [&](DiagramPainter& p) {
        p.text(Label{name, {10}, white(1), {10, 20}, Anchor::leadingCentre, 100});
        p.text(Label{name, {10}, white(1), {10, 35}, Anchor::leadingCentre});
    });
    EXPECT_LE(litBounds(image, {0, 0, 400, 27}).right(), 110);
    EXPECT_GT(litBounds(image, {0, 28, 400, 12}).right(), 150);
}

TEST(DiagramPainter, DashedLinesShowTheirGapsAndOpacityDims) {
    auto image = paintOnBlack(40, 40, [](DiagramPainter& p) {
        p.stroke(Segment{{10.5, 0}, {10.5, 28}, {white(1), 1, {4, 3}}});
        p.stroke(Segment{{20.5, 0}, {20.5, 28}, {white(1), 1}});
        p.fill(Box{{30, 0, 10, 10}, 0, white(0.5)});
    });
    // On 0-4, off 4-7, on 7-11 ...
    EXPECT_GT(brightness(image.pixelColor(10, 2)), 200);
    EXPECT_LT(brightness(image.pixelColor(10, 5)), 30);
    EXPECT_GT(brightness(image.pixelColor(10, 9)), 200);
    EXPECT_GT(brightness(image.pixelColor(20, 5)), 200);
    EXPECT_NEAR(image.pixelColor(35, 5).red(), 128, 2);
}

TEST(DiagramPainter, AreasFillTheirOutlineAndOutlinesStayInsideAClip) {
    auto image = paintOnBlack(100, 100, [](DiagramPainter& p) {
        p.fill(Area{{{0, 50}, {50, 0}, {50, 50}}, {1, 0, 0, 1}});
        p.clipTo({60, 60, 30, 30}, 0);
        p.strokeInside({60, 60, 30, 30}, 0, {{0, 1, 0, 1}, 2});
    });
    EXPECT_GT(image.pixelColor(40, 40).red(), 200);  // inside the triangle
    EXPECT_LT(image.pixelColor(10, 10).red(), 10);   // outside it
    EXPECT_GT(image.pixelColor(60, 75).green(), 200);
    EXPECT_GT(image.pixelColor(61, 75).green(), 200);  // the whole width, not half of it
    EXPECT_LT(image.pixelColor(75, 75).green(), 10);
}

}  // namespace
}  // namespace corvane
