#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <string>

namespace corvane {

// The symbols the transcript names ("checkmark", "xmark", "chevron.down", "flag", the tools'
// icons, ...), drawn as simple strokes centred in `box`; `weight` is the stroke width. A name
// without a drawing of its own gets the generic gear.
void drawSymbol(QPainter& painter, const std::string& name, const QRectF& box, const QColor& color,
                double weight = 1.3);

// An indeterminate spinner at the given phase (turns, any real number).
void drawSpinner(QPainter& painter, const QRectF& box, const QColor& color, double turns);

}  // namespace corvane
