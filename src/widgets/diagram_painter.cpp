#include "widgets/diagram_painter.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainterPath>
#include <QString>
#include <algorithm>
#include <cmath>

namespace corvane {

using namespace diagram;

namespace {

QPen toPen(const Stroke& stroke) {
    QPen pen(toQColor(stroke.color), stroke.width);
    pen.setCapStyle(stroke.round ? Qt::RoundCap : Qt::FlatCap);
    pen.setJoinStyle(stroke.round ? Qt::RoundJoin : Qt::MiterJoin);
    pen.setMiterLimit(10);
    if (!stroke.dash.empty()) {
        // Qt counts dashes in line widths.
        const double unit = stroke.width > 0 ? stroke.width : 1;
        QList<qreal> pattern;
        for (double d : stroke.dash) pattern.push_back(d / unit);
        if (pattern.size() % 2 == 1) pattern.push_back(pattern.back());
        pen.setDashPattern(pattern);
    }
    return pen;
}

QPainterPath roundedRect(const QRectF& rect, double radius) {
    QPainterPath path;
    const double r = std::min({radius, rect.width() / 2, rect.height() / 2});
    if (r > 0)
        path.addRoundedRect(rect, r, r);
    else
        path.addRect(rect);
    return path;
}

// The top-left corner of a box of `size` that hangs from `at` by `anchor`.
QPointF topLeft(Point at, Anchor anchor, QSizeF size) {
    switch (anchor) {
        case Anchor::leadingCentre: return {at.x, at.y - size.height() / 2};
        case Anchor::trailingCentre: return {at.x - size.width(), at.y - size.height() / 2};
        case Anchor::centre: return {at.x - size.width() / 2, at.y - size.height() / 2};
        case Anchor::bottomCentre: return {at.x - size.width() / 2, at.y - size.height()};
        case Anchor::topLeading: return {at.x, at.y};
    }
    return {at.x, at.y};
}

QFont labelFont(const Label& label, const QPaintDevice* device) {
    QFont font = diagramFont(label.font, device);
    font.setStrikeOut(label.struckThrough);
    return font;
}

QString shownText(const Label& label, const QFontMetricsF& metrics) {
    const QString text = qText(label.text);
    return label.maxWidth > 0 ? metrics.elidedText(text, Qt::ElideRight, label.maxWidth) : text;
}
}  // namespace

QString qText(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

std::string utf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return {bytes.constData(), size_t(bytes.size())};
}

QColor toQColor(const Color& color) {
    auto unit = [](double v) { return std::clamp(v, 0.0, 1.0); };
    return QColor::fromRgbF(float(unit(color.red)), float(unit(color.green)), float(unit(color.blue)),
                            float(unit(color.opacity)));
}

QRectF toQRect(const Rect& rect) { return {rect.x, rect.y, rect.width, rect.height}; }

QFont diagramFont(const Font& font, const QPaintDevice* device) {
    QFont out = font.monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : QFont();
    const double dpi = device && device->logicalDpiY() > 0 ? device->logicalDpiY() : 96;
    out.setPointSizeF(font.size * 72 / dpi);
    switch (font.weight) {
        case FontWeight::regular: out.setWeight(QFont::Normal); break;
        case FontWeight::medium: out.setWeight(QFont::Medium); break;
        case FontWeight::semibold: out.setWeight(QFont::DemiBold); break;
        case FontWeight::bold: out.setWeight(QFont::Bold); break;
    }
    out.setItalic(font.italic);
    return out;
}

DiagramPainter::DiagramPainter(QPainter& painter) : painter_(painter) {
    painter_.setRenderHint(QPainter::Antialiasing);
    painter_.setRenderHint(QPainter::TextAntialiasing);
}

void DiagramPainter::fill(const Box& box) {
    if (box.rect.width <= 0 || box.rect.height <= 0) return;
    painter_.fillPath(roundedRect(toQRect(box.rect), box.cornerRadius), toQColor(box.fill));
}

void DiagramPainter::fill(const Area& area) {
    if (area.outline.size() < 3) return;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.moveTo(area.outline.front().x, area.outline.front().y);
    for (size_t i = 1; i < area.outline.size(); ++i) path.lineTo(area.outline[i].x, area.outline[i].y);
    path.closeSubpath();
    painter_.fillPath(path, toQColor(area.fill));
}

void DiagramPainter::stroke(const Segment& segment) {
    painter_.setPen(toPen(segment.stroke));
    painter_.drawLine(QPointF(segment.from.x, segment.from.y), QPointF(segment.to.x, segment.to.y));
}

void DiagramPainter::stroke(const Polyline& polyline) {
    if (polyline.points.size() < 2) return;
    QPainterPath path;
    path.moveTo(polyline.points.front().x, polyline.points.front().y);
    for (size_t i = 1; i < polyline.points.size(); ++i) path.lineTo(polyline.points[i].x, polyline.points[i].y);
    painter_.strokePath(path, toPen(polyline.stroke));
}

void DiagramPainter::strokeInside(const Rect& rect, double cornerRadius, const Stroke& stroke) {
    const double inset = stroke.width / 2;
    const QRectF inner = toQRect(rect).adjusted(inset, inset, -inset, -inset);
    if (inner.width() <= 0 || inner.height() <= 0) return;
    painter_.strokePath(roundedRect(inner, std::max(0.0, cornerRadius - inset)), toPen(stroke));
}

void DiagramPainter::clipTo(const Rect& rect, double cornerRadius) {
    painter_.setClipPath(roundedRect(toQRect(rect), cornerRadius), Qt::IntersectClip);
}

QSizeF DiagramPainter::measure(const Label& label, const QPaintDevice* device) {
    const QFontMetricsF metrics(labelFont(label, device), device);
    return {metrics.horizontalAdvance(shownText(label, metrics)), metrics.ascent() + metrics.descent()};
}

void DiagramPainter::text(const Label& label) {
    if (label.text.empty()) return;
    const QFont font = labelFont(label, device());
    const QFontMetricsF metrics(font, painter_.device());
    const QString shown = shownText(label, metrics);
    const QSizeF size(metrics.horizontalAdvance(shown), metrics.ascent() + metrics.descent());
    const QPointF corner = topLeft(label.at, label.anchor, size);
    painter_.setFont(font);
    painter_.setPen(toQColor(label.color));
    painter_.drawText(QPointF(corner.x(), corner.y() + metrics.ascent()), shown);
}

void DiagramPainter::text(const LabelRow& row) {
    // Measure first: the row hangs from its anchor as one box, its parts centred on one line.
    std::vector<QSizeF> sizes;
    double width = row.dotDiameter > 0 ? row.dotDiameter : 0;
    double height = row.dotDiameter;
    for (const auto& part : row.parts) {
        sizes.push_back(measure(part));
        if (width > 0) width += row.spacing;
        width += sizes.back().width();
        height = std::max(height, sizes.back().height());
    }
    const QPointF corner = topLeft(row.at, row.anchor, {width, height});
    const double centre = corner.y() + height / 2;
    double x = corner.x();
    if (row.dotDiameter > 0) {
        const double d = row.dotDiameter;
        fill(Box{{x, centre - d / 2, d, d}, d / 2, row.dotColor});
        x += d + row.spacing;
    }
    for (size_t i = 0; i < row.parts.size(); ++i) {
        Label part = row.parts[i];
        part.at = {x, centre};
        part.anchor = Anchor::leadingCentre;
        text(part);
        x += sizes[i].width() + row.spacing;
    }
}

double DiagramPainter::wrappedHeight(const Label& label, double width, const QPaintDevice* device) {
    if (label.text.empty()) return 0;
    const QFontMetricsF metrics(labelFont(label, device), device);
    const QRectF bounds = metrics.boundingRect(QRectF(0, 0, std::max(1.0, width), 1e6),
                                               Qt::AlignHCenter | Qt::TextWordWrap, qText(label.text));
    return std::ceil(bounds.height());
}

void DiagramPainter::wrappedText(const Label& label, double left, double top, double width) {
    if (label.text.empty()) return;
    painter_.setFont(labelFont(label, device()));
    painter_.setPen(toQColor(label.color));
    painter_.drawText(QRectF(left, top, std::max(1.0, width), wrappedHeight(label, width, device())),
                      Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, qText(label.text));
}

}  // namespace corvane
