#include "ui/widgets/symbols_window.h"

#include <QPainterPath>
#include <cmath>

#include "ui/widgets/symbols.h"

namespace corvane {

namespace {

QPen strokePen(const QColor& color, double weight) {
    QPen pen(color, weight);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// An exclamation mark cut out of a filled shape: the shape in colour, the mark in transparent.
void cutExclamation(QPainter& p, const QRectF& box, double top, double bottom) {
    const double cx = box.center().x();
    const double w = box.width() * 0.11;
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRoundedRect(QRectF(cx - w / 2, top, w, (bottom - top) * 0.68), w / 2, w / 2);
    p.drawEllipse(QPointF(cx, bottom - w * 0.6), w * 0.6, w * 0.6);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// Filled shapes with a cut-out are drawn on a layer of their own, so the cut shows what lies below.
template <class Draw>
void onLayer(QPainter& painter, const QRectF& box, Draw draw) {
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    QImage layer((box.size() * ratio).toSize() + QSize(2, 2), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p, QRectF(QPointF(0, 0), box.size()));
    p.end();
    painter.drawImage(box.topLeft(), layer);
}

}  // namespace

void drawWindowSymbol(QPainter& painter, const std::string& name, const QRectF& box, const QColor& color,
                      double weight) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = std::min(box.width(), box.height());
    const QRectF b(box.center().x() - s / 2, box.center().y() - s / 2, s, s);
    if (name == "sidebar.left") {
        painter.setPen(strokePen(color, weight));
        painter.setBrush(Qt::NoBrush);
        const QRectF frame = b.adjusted(s * 0.06, s * 0.16, -s * 0.06, -s * 0.16);
        painter.drawRoundedRect(frame, s * 0.14, s * 0.14);
        const double split = frame.left() + frame.width() * 0.36;
        painter.drawLine(QPointF(split, frame.top()), QPointF(split, frame.bottom()));
        for (int i = 0; i < 3; ++i) {
            const double y = frame.top() + frame.height() * (0.3 + 0.17 * i);
            painter.drawLine(QPointF(frame.left() + s * 0.1, y), QPointF(split - s * 0.1, y));
        }
    } else if (name == "chevron.left") {
        painter.setPen(strokePen(color, weight));
        QPainterPath path;
        path.moveTo(b.left() + s * 0.62, b.top() + s * 0.16);
        path.lineTo(b.left() + s * 0.3, b.center().y());
        path.lineTo(b.left() + s * 0.62, b.bottom() - s * 0.16);
        painter.drawPath(path);
    } else if (name == "ellipsis") {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        const double r = std::max(0.8, s * 0.09);
        for (int i = -1; i <= 1; ++i) painter.drawEllipse(QPointF(b.center().x() + i * s * 0.33, b.center().y()), r, r);
    } else if (name == "music.note") {
        painter.setPen(strokePen(color, weight));
        const QPointF stemTop(b.left() + s * 0.62, b.top() + s * 0.1);
        const QPointF stemBottom(b.left() + s * 0.62, b.bottom() - s * 0.25);
        painter.drawLine(stemTop, stemBottom);
        painter.drawLine(stemTop, QPointF(b.left() + s * 0.86, b.top() + s * 0.3));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(stemBottom.x() - s * 0.17, stemBottom.y()), s * 0.2, s * 0.15);
    } else if (name == "exclamationmark.octagon.fill") {
        onLayer(painter, b, [&](QPainter& p, const QRectF& r) {
            QPolygonF octagon;
            for (int i = 0; i < 8; ++i) {
                const double angle = (22.5 + 45.0 * i) * M_PI / 180.0;
                octagon << QPointF(r.center().x() + std::cos(angle) * s * 0.5,
                                   r.center().y() + std::sin(angle) * s * 0.5);
            }
            p.setPen(Qt::NoPen);
            p.setBrush(color);
            p.drawPolygon(octagon);
            cutExclamation(p, r, r.top() + s * 0.2, r.bottom() - s * 0.2);
        });
    } else if (name == "exclamationmark.triangle.fill") {
        onLayer(painter, b, [&](QPainter& p, const QRectF& r) {
            QPainterPath triangle;
            triangle.moveTo(r.center().x(), r.top() + s * 0.06);
            triangle.lineTo(r.right() - s * 0.02, r.bottom() - s * 0.08);
            triangle.lineTo(r.left() + s * 0.02, r.bottom() - s * 0.08);
            triangle.closeSubpath();
            p.setPen(strokePen(color, s * 0.08));
            p.setBrush(color);
            p.drawPath(triangle);
            cutExclamation(p, r, r.top() + s * 0.34, r.bottom() - s * 0.18);
        });
    } else {
        painter.restore();
        drawSymbol(painter, name, box, color, weight);
        return;
    }
    painter.restore();
}

SymbolView::SymbolView(std::string name, double size, Weight weight, QColor color, QWidget* parent)
    : QWidget(parent), name_(std::move(name)), size_(size), weight_(weight), color_(color) {
    const int side = static_cast<int>(std::ceil(size_));
    setFixedSize(side, side);
    setAttribute(Qt::WA_TranslucentBackground);
}

void SymbolView::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    update();
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const double stroke = weight_ == Weight::semibold ? 1.8 : weight_ == Weight::medium ? 1.5 : 1.2;
    drawWindowSymbol(painter, name_, QRectF(rect()), color_, stroke * std::max(0.7, size_ / 12.0));
}

}  // namespace corvane
