#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QRectF>

#include <string>

#include "diagrams/diagram_shapes.h"

namespace corvane {

// UTF-8 text to Qt's and back.
QString qText(const std::string& text);
std::string utf8(const QString& text);

QColor toQColor(const diagram::Color& color);
QRectF toQRect(const diagram::Rect& rect);

// A font of the diagrams' sizes, which are in points of the canvas (logical pixels), on `device`.
QFont diagramFont(const diagram::Font& font, const QPaintDevice* device);

// Draws the shape lists of the diagram layouts as given, with antialiasing; all arithmetic
// beyond measuring text stays with the layouts.
class DiagramPainter {
public:
    explicit DiagramPainter(QPainter& painter);

    QPainter& qt() { return painter_; }
    const QPaintDevice* device() const { return painter_.device(); }

    void fill(const diagram::Box& box);
    void fill(const diagram::Area& area);
    void stroke(const diagram::Segment& segment);
    void stroke(const diagram::Polyline& polyline);
    // The outline of a (rounded) rectangle, kept inside it so that a clip to it does not halve it.
    void strokeInside(const diagram::Rect& rect, double cornerRadius, const diagram::Stroke& stroke);
    void clipTo(const diagram::Rect& rect, double cornerRadius);

    void text(const diagram::Label& label);
    void text(const diagram::LabelRow& row);
    // Text wrapped at word boundaries inside `width`, each line centred, from `top` down.
    void wrappedText(const diagram::Label& label, double left, double top, double width);

    // The size of a one-line text as `text` draws it (elided when the label says so).
    QSizeF measure(const diagram::Label& label) const { return measure(label, device()); }
    static QSizeF measure(const diagram::Label& label, const QPaintDevice* device);
    // The height of `label` wrapped inside `width`.
    static double wrappedHeight(const diagram::Label& label, double width, const QPaintDevice* device);

private:
    QPainter& painter_;
};

}  // namespace corvane
