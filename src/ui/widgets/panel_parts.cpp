#include "ui/widgets/panel_parts.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "ui/widgets/diagram_painter.h"
#include "ui/widgets/symbols.h"

namespace corvane {

QFont panelFont(double size, QFont::Weight weight, bool monospaced) {
    diagram::Font font;
    font.size = size;
    font.monospaced = monospaced;
    QFont out = diagramFont(font, nullptr);
    out.setWeight(weight);
    return out;
}

QColor withOpacity(const diagram::Color& color, double opacity) {
    QColor out = toQColor(color);
    out.setAlphaF(float(out.alphaF() * std::clamp(opacity, 0.0, 1.0)));
    return out;
}

void drawPanelSymbol(QPainter& painter, const std::string& name, const QRectF& box, const QColor& color,
                     double weight) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(color, weight);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const double s = std::min(box.width(), box.height());
    const QRectF r(box.center().x() - s / 2, box.center().y() - s / 2, s, s);
    auto at = [&](double fx, double fy) { return QPointF(r.left() + fx * s, r.top() + fy * s); };
    auto rect = [&](double x0, double y0, double x1, double y1) { return QRectF(at(x0, y0), at(x1, y1)); };

    if (name == "paperclip") {
        QPainterPath clip;
        clip.moveTo(at(0.64, 0.3));
        clip.lineTo(at(0.64, 0.72));
        clip.arcTo(rect(0.28, 0.56, 0.64, 0.92), 0, -180);
        clip.lineTo(at(0.28, 0.22));
        clip.arcTo(rect(0.28, 0.06, 0.54, 0.34), 180, -180);
        clip.lineTo(at(0.54, 0.68));
        painter.drawPath(clip);
    } else if (name == "cpu") {
        painter.drawRoundedRect(rect(0.24, 0.24, 0.76, 0.76), s * 0.08, s * 0.08);
        painter.drawRect(rect(0.4, 0.4, 0.6, 0.6));
        for (double f : {0.36, 0.5, 0.64}) {
            painter.drawLine(at(f, 0.08), at(f, 0.24));
            painter.drawLine(at(f, 0.76), at(f, 0.92));
            painter.drawLine(at(0.08, f), at(0.24, f));
            painter.drawLine(at(0.76, f), at(0.92, f));
        }
    } else if (name == "photo.fill") {
        painter.drawRoundedRect(rect(0.06, 0.16, 0.94, 0.84), s * 0.12, s * 0.12);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawPolygon(
            QList<QPointF>{at(0.14, 0.78), at(0.4, 0.44), at(0.58, 0.64), at(0.7, 0.52), at(0.86, 0.78)});
        painter.drawEllipse(at(0.7, 0.34), s * 0.08, s * 0.08);
    } else if (name == "stop.fill") {
        painter.setBrush(color);
        painter.drawRoundedRect(rect(0.22, 0.22, 0.78, 0.78), s * 0.08, s * 0.08);
    } else if (name == "arrow.up") {
        painter.drawLine(at(0.5, 0.86), at(0.5, 0.14));
        painter.drawPolyline(QList<QPointF>{at(0.18, 0.46), at(0.5, 0.14), at(0.82, 0.46)});
    } else if (name == "chevron.right") {
        painter.drawPolyline(QList<QPointF>{at(0.34, 0.14), at(0.7, 0.5), at(0.34, 0.86)});
    } else if (name == "person.crop.circle") {
        painter.drawEllipse(rect(0.04, 0.04, 0.96, 0.96));
        painter.drawEllipse(at(0.5, 0.4), s * 0.15, s * 0.15);
        painter.drawArc(rect(0.2, 0.62, 0.8, 1.1), 30 * 16, 120 * 16);
    } else if (name == "arrow.up.right.square") {
        painter.drawRoundedRect(rect(0.08, 0.08, 0.92, 0.92), s * 0.16, s * 0.16);
        painter.drawLine(at(0.34, 0.66), at(0.66, 0.34));
        painter.drawPolyline(QList<QPointF>{at(0.4, 0.34), at(0.66, 0.34), at(0.66, 0.6)});
    } else if (name == "rectangle.portrait.and.arrow.right") {
        painter.drawPolyline(
            QList<QPointF>{at(0.56, 0.32), at(0.56, 0.1), at(0.12, 0.1), at(0.12, 0.9), at(0.56, 0.9), at(0.56, 0.68)});
        painter.drawLine(at(0.36, 0.5), at(0.94, 0.5));
        painter.drawPolyline(QList<QPointF>{at(0.78, 0.34), at(0.94, 0.5), at(0.78, 0.66)});
    } else {
        drawSymbol(painter, name, box, color, weight);
    }
    painter.restore();
}

void PaintedBox::setFill(std::optional<QColor> fill) {
    fill_ = fill;
    update();
}

void PaintedBox::setRadius(double radius) {
    radius_ = radius;
    update();
}

void PaintedBox::setOutline(std::optional<QColor> color, double width) {
    outline_ = color;
    outlineWidth_ = width;
    update();
}

void PaintedBox::paintEvent(QPaintEvent*) {
    if (!fill_ && !outline_) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect());
    const double radius = radius_ < 0 ? std::min(area.width(), area.height()) / 2 : radius_;
    if (fill_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(*fill_);
        painter.drawRoundedRect(area, radius, radius);
    }
    if (outline_) {
        const double half = outlineWidth_ / 2;
        painter.setPen(QPen(*outline_, outlineWidth_));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(area.adjusted(half, half, -half, -half), std::max(0.0, radius - half),
                                std::max(0.0, radius - half));
    }
}

PanelSymbolView::PanelSymbolView(std::string name, double size, QColor color, double weight, QWidget* parent)
    : QWidget(parent), name_(std::move(name)), color_(color), weight_(weight) {
    const int side = int(size + 0.5);
    setFixedSize(side, side);
}

void PanelSymbolView::setName(std::string name) {
    name_ = std::move(name);
    update();
}

void PanelSymbolView::setColor(QColor color) {
    color_ = color;
    update();
}

void PanelSymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawPanelSymbol(painter, name_, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), color_, weight_);
}

QLabel* makeText(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    label->setPalette(palette);
    return label;
}

PanelElidedLabel::PanelElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent)
    : QLabel(parent), full_(text), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    elide();
}

void PanelElidedLabel::setFullText(const QString& text) {
    if (text == full_) return;
    full_ = text;
    elide();
    updateGeometry();
}

QSize PanelElidedLabel::minimumSizeHint() const { return QSize(0, QLabel::minimumSizeHint().height()); }

QSize PanelElidedLabel::sizeHint() const {
    return QSize(fontMetrics().horizontalAdvance(full_) + 1, QLabel::sizeHint().height());
}

void PanelElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void PanelElidedLabel::elide() {
    const QString shown = fontMetrics().elidedText(full_, mode_, std::max(0, contentsRect().width()));
    if (shown != text()) setText(shown);
}

}  // namespace corvane
