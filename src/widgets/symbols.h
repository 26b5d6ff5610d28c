#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QWidget>
#include <string>

namespace corvane {

// Every symbol the window names ("checkmark", "sidebar.left", "folder.fill", "paperclip", the
// tools' icons, ...), drawn as simple shapes centred in `box`; `weight` is the stroke width. A
// name without a drawing of its own gets the generic gear.
void drawSymbol(QPainter& painter, const std::string& name, const QRectF& box, const QColor& color,
                double weight = 1.3);

// Whether `name` has a drawing of its own.
bool hasSymbol(const std::string& name);

// An indeterminate spinner at the given phase (turns, any real number).
void drawSpinner(QPainter& painter, const QRectF& box, const QColor& color, double turns);

// One symbol at a point size (the box's side), in one colour.
class SymbolView : public QWidget {
public:
    // The weights of the text the symbol stands beside; the stroke follows them and the size.
    enum class Weight { regular, medium, semibold };
    SymbolView(std::string name, double size, QColor color, double stroke, QWidget* parent = nullptr);
    SymbolView(std::string name, double size, Weight weight, QColor color, QWidget* parent = nullptr);
    static double stroke(Weight weight, double size);

    const std::string& name() const { return name_; }
    void setName(std::string name);
    QColor color() const { return color_; }
    void setColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string name_;
    QColor color_;
    double stroke_;
};

}  // namespace corvane
