#include "widgets/diagram_view.h"

#include <QLayout>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace corvane {

namespace {
// What a diagram asks for before its container decides: about a chat bubble's width.
constexpr int kPreferredWidth = 420;
}  // namespace

DiagramView::DiagramView(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

int DiagramView::heightForWidth(int width) const { return int(std::ceil(heightFor(width))); }

QSize DiagramView::sizeHint() const { return {kPreferredWidth, heightForWidth(kPreferredWidth)}; }

void DiagramView::paintEvent(QPaintEvent*) {
    QPainter qt(this);
    DiagramPainter painter(qt);
    paint(painter, width(), height());
}

QImage renderToImage(QWidget& view, int width, const QColor& background, double scale) {
    view.ensurePolished();
    const int height = view.hasHeightForWidth() ? view.heightForWidth(width) : view.sizeHint().height();
    const int shownHeight = std::max(height, 1);
    view.resize(width, shownHeight);
    if (view.layout()) view.layout()->activate();
    QImage image(int(std::ceil(width * scale)), int(std::ceil(shownHeight * scale)),
                 QImage::Format_ARGB32_Premultiplied);
    // The same dots per inch as the widget, so that text measured there fits here.
    const int dotsPerMeter = int(std::lround(view.logicalDpiY() / 0.0254));
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    image.setDevicePixelRatio(scale);
    image.fill(background);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

}  // namespace corvane
