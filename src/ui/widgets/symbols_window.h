#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QWidget>
#include <string>

namespace corvane {

// The window's symbols ("sidebar.left", "chevron.left", "ellipsis", "music.note",
// "exclamationmark.octagon.fill", "exclamationmark.triangle.fill"), drawn in `box`; any other name
// goes to drawSymbol.
void drawWindowSymbol(QPainter& painter, const std::string& name, const QRectF& box, const QColor& color,
                      double weight = 1.3);

// One symbol at a point size (the box's side), in one colour; the stroke follows the weight.
class SymbolView : public QWidget {
public:
    enum class Weight { regular, medium, semibold };
    SymbolView(std::string name, double size, Weight weight, QColor color, QWidget* parent = nullptr);
    void setColor(const QColor& color);
    const std::string& name() const { return name_; }
    QColor color() const { return color_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string name_;
    double size_;
    Weight weight_;
    QColor color_;
};

}  // namespace corvane
