#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <string>

namespace corvane {

// The project page's symbols ("folder.fill", "plus", "bubble.left.and.bubble.right", "trash"),
// drawn like drawSymbol's; any other name goes to drawSymbol.
void drawPageSymbol(QPainter& painter, const std::string& name, const QRectF& box, const QColor& color,
                    double weight = 1.3);

}  // namespace corvane
