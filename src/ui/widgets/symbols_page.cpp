#include "ui/widgets/symbols_page.h"

#include <QPainterPath>
#include <algorithm>

#include "ui/widgets/symbols.h"

namespace corvane {

namespace {
QPen pen(const QColor& color, double weight) {
    QPen p(color, weight);
    p.setCapStyle(Qt::RoundCap);
    p.setJoinStyle(Qt::RoundJoin);
    return p;
}

// A speech bubble filling `r`, its tail at the bottom on the left or the right.
QPainterPath bubble(const QRectF& r, bool tailLeft) {
    QPainterPath path;
    const double radius = r.height() * 0.35;
    path.addRoundedRect(r.adjusted(0, 0, 0, -r.height() * 0.22), radius, radius);
    QPainterPath tail;
    const double x = tailLeft ? r.left() + r.width() * 0.22 : r.right() - r.width() * 0.22;
    const double dx = tailLeft ? -r.width() * 0.14 : r.width() * 0.14;
    const double y = r.bottom() - r.height() * 0.24;
    tail.moveTo(x - r.width() * 0.08, y);
    tail.lineTo(x + dx, r.bottom());
    tail.lineTo(x + r.width() * 0.12, y);
    tail.closeSubpath();
    return path.united(tail);
}
}  // namespace

void drawPageSymbol(QPainter& painter, const std::string& name, const QRectF& box, const QColor& color, double weight) {
    const double s = std::min(box.width(), box.height());
    const QRectF r(box.center().x() - s / 2, box.center().y() - s / 2, s, s);
    auto at = [&](double fx, double fy) { return QPointF(r.left() + fx * s, r.top() + fy * s); };
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(pen(color, weight));
    painter.setBrush(Qt::NoBrush);

    if (name == "folder.fill") {
        // A filled folder: a tab on the upper left, the body below it.
        QPainterPath folder;
        folder.moveTo(at(0.04, 0.22));
        folder.lineTo(at(0.38, 0.22));
        folder.lineTo(at(0.46, 0.3));
        folder.lineTo(at(0.96, 0.3));
        folder.lineTo(at(0.96, 0.84));
        folder.lineTo(at(0.04, 0.84));
        folder.closeSubpath();
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPath(folder);
    } else if (name == "plus") {
        painter.drawLine(at(0.5, 0.12), at(0.5, 0.88));
        painter.drawLine(at(0.12, 0.5), at(0.88, 0.5));
    } else if (name == "bubble.left.and.bubble.right") {
        // Two overlapping outlined bubbles, the front one lower right.
        painter.drawPath(bubble(QRectF(at(0.02, 0.08), at(0.66, 0.6)), true));
        painter.drawPath(bubble(QRectF(at(0.34, 0.38), at(0.98, 0.92)), false));
    } else if (name == "trash") {
        painter.drawLine(at(0.14, 0.24), at(0.86, 0.24));
        painter.drawPolyline(QList<QPointF>{at(0.38, 0.24), at(0.4, 0.1), at(0.6, 0.1), at(0.62, 0.24)});
        painter.drawPolyline(QList<QPointF>{at(0.22, 0.24), at(0.28, 0.92), at(0.72, 0.92), at(0.78, 0.24)});
        painter.drawLine(at(0.42, 0.4), at(0.43, 0.76));
        painter.drawLine(at(0.58, 0.4), at(0.57, 0.76));
    } else {
        painter.restore();
        drawSymbol(painter, name, box, color, weight);
        return;
    }
    painter.restore();
}

}  // namespace corvane
