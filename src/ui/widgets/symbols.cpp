#include "ui/widgets/symbols.h"

#include <QPainterPath>
#include <cmath>
#include <numbers>

namespace corvane {

namespace {
QPen pen(const QColor& color, double weight) {
    QPen p(color, weight);
    p.setCapStyle(Qt::RoundCap);
    p.setJoinStyle(Qt::RoundJoin);
    return p;
}

// A circle with short teeth around it.
void gear(QPainter& painter, QPointF c, double r) {
    painter.drawEllipse(c, r * 0.55, r * 0.55);
    for (int i = 0; i < 8; ++i) {
        const double a = i * std::numbers::pi / 4;
        painter.drawLine(QPointF(c.x() + std::cos(a) * r * 0.7, c.y() + std::sin(a) * r * 0.7),
                         QPointF(c.x() + std::cos(a) * r, c.y() + std::sin(a) * r));
    }
}
}  // namespace

void drawSymbol(QPainter& painter, const std::string& name, const QRectF& box, const QColor& color, double weight) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(pen(color, weight));
    painter.setBrush(Qt::NoBrush);
    const double s = std::min(box.width(), box.height());
    const QRectF r(box.center().x() - s / 2, box.center().y() - s / 2, s, s);
    const QPointF c = r.center();
    auto at = [&](double fx, double fy) { return QPointF(r.left() + fx * s, r.top() + fy * s); };

    if (name == "checkmark") {
        painter.drawPolyline(QList<QPointF>{at(0.12, 0.55), at(0.4, 0.82), at(0.9, 0.2)});
    } else if (name == "xmark") {
        painter.drawLine(at(0.18, 0.18), at(0.82, 0.82));
        painter.drawLine(at(0.82, 0.18), at(0.18, 0.82));
    } else if (name == "chevron.down") {
        painter.drawPolyline(QList<QPointF>{at(0.12, 0.32), at(0.5, 0.7), at(0.88, 0.32)});
    } else if (name == "arrow.triangle.2.circlepath") {
        // Two arcs chasing each other, each with an arrow head.
        const QRectF ring(at(0.12, 0.12), at(0.88, 0.88));
        painter.drawArc(ring, 20 * 16, 140 * 16);
        painter.drawArc(ring, 200 * 16, 140 * 16);
        painter.drawPolyline(QList<QPointF>{at(0.02, 0.38), at(0.14, 0.56), at(0.32, 0.42)});
        painter.drawPolyline(QList<QPointF>{at(0.98, 0.62), at(0.86, 0.44), at(0.68, 0.58)});
    } else if (name == "flag") {
        painter.drawLine(at(0.2, 0.08), at(0.2, 0.95));
        QPainterPath cloth;
        cloth.moveTo(at(0.2, 0.1));
        cloth.lineTo(at(0.85, 0.1));
        cloth.lineTo(at(0.7, 0.32));
        cloth.lineTo(at(0.85, 0.55));
        cloth.lineTo(at(0.2, 0.55));
        painter.drawPath(cloth);
    } else if (name == "list.bullet") {
        for (double y : {0.22, 0.5, 0.78}) {
            painter.drawPoint(at(0.12, y));
            painter.drawLine(at(0.32, y), at(0.9, y));
        }
    } else if (name == "slider.horizontal.3") {
        const double knobs[3] = {0.3, 0.7, 0.45};
        for (int i = 0; i < 3; ++i) {
            const double y = 0.2 + 0.3 * i;
            painter.drawLine(at(0.05, y), at(0.95, y));
            painter.drawEllipse(at(knobs[i], y), s * 0.08, s * 0.08);
        }
    } else if (name == "gauge" || name == "dial.medium") {
        painter.drawEllipse(r.adjusted(s * 0.08, s * 0.08, -s * 0.08, -s * 0.08));
        painter.drawLine(c, at(0.72, 0.3));
    } else if (name == "play.circle") {
        painter.drawEllipse(r.adjusted(s * 0.06, s * 0.06, -s * 0.06, -s * 0.06));
        painter.drawPolygon(QList<QPointF>{at(0.42, 0.32), at(0.7, 0.5), at(0.42, 0.68)});
    } else if (name == "power") {
        painter.drawArc(r.adjusted(s * 0.12, s * 0.16, -s * 0.12, -s * 0.08), 120 * 16, 300 * 16);
        painter.drawLine(at(0.5, 0.05), at(0.5, 0.45));
    } else if (name == "ear" || name == "speaker.slash" || name == "doc.text" || name == "pencil" ||
               name == "puzzlepiece" || name == "square.grid.2x2" || name == "rectangle.3.group" ||
               name == "arrow.up.arrow.down" || name == "chevron.down.square") {
        // A rounded tile with the symbol's first letter would read as text; a tile with bars is
        // enough to tell a tool from its status.
        painter.drawRoundedRect(r.adjusted(s * 0.1, s * 0.1, -s * 0.1, -s * 0.1), s * 0.18, s * 0.18);
        painter.drawLine(at(0.3, 0.4), at(0.7, 0.4));
        painter.drawLine(at(0.3, 0.6), at(0.6, 0.6));
    } else {
        gear(painter, c, s * 0.45);
    }
    painter.restore();
}

void drawSpinner(QPainter& painter, const QRectF& box, const QColor& color, double turns) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF c = box.center();
    const double r = std::min(box.width(), box.height()) / 2;
    const double phase = turns - std::floor(turns);
    // Eight spokes, the brightest one turning.
    for (int i = 0; i < 8; ++i) {
        const double a = (i / 8.0 + phase) * 2 * std::numbers::pi;
        QColor spoke = color;
        spoke.setAlphaF(float(color.alphaF() * (0.25 + 0.75 * i / 7.0)));
        painter.setPen(pen(spoke, std::max(1.0, r * 0.25)));
        painter.drawLine(QPointF(c.x() + std::cos(a) * r * 0.45, c.y() + std::sin(a) * r * 0.45),
                         QPointF(c.x() + std::cos(a) * r, c.y() + std::sin(a) * r));
    }
    painter.restore();
}

}  // namespace corvane
