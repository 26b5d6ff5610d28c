#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QRect>

#include "widgets/diagram_view.h"

namespace corvane::testing {

// One application for the whole test program, as Qt wants; never destroyed.
inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "widgets_tests";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
}

// Before any test builds a widget.
class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ensureApplication(); }
};
inline ::testing::Environment* const kQtApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

// Black behind the diagrams, so that a channel's value is what was drawn.
inline QImage render(QWidget& view, int width) {
    ensureApplication();
    return renderToImage(view, width, Qt::black, 1);
}

inline QColor at(const QImage& image, double x, double y) { return image.pixelColor(int(x), int(y)); }

inline int brightness(const QColor& c) { return std::max({c.red(), c.green(), c.blue()}); }

// The smallest rectangle inside `area` holding every pixel brighter than `threshold`; empty
// when there is none.
inline QRect litBounds(const QImage& image, QRect area, int threshold = 40) {
    area = area.intersected(image.rect());
    QRect bounds;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (brightness(image.pixelColor(x, y)) > threshold) bounds |= QRect(x, y, 1, 1);
    return bounds;
}

}  // namespace corvane::testing
