#pragma once

// Small pieces the input bar, the sidebar and the account sheet are made of: fonts at explicit
// point sizes, white at an opacity, a painted box (fill, rounded corners, outline), a drawn
// symbol and a one-line text.

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QWidget>
#include <optional>
#include <string>

#include "ui/diagrams/diagram_shapes.h"
#include "ui/widgets/window_style.h"

namespace corvane {

// The system font at `size` points (a point is a logical pixel).
QFont panelFont(double size, QFont::Weight weight = QFont::Normal, bool monospaced = false);
QColor withOpacity(const diagram::Color& color, double opacity = 1);

// The symbols these views name, drawn as strokes inside `box`; other names go to drawSymbol.
void drawPanelSymbol(QPainter& painter, const std::string& name, const QRectF& box, const QColor& color, double weight);

// A widget that paints its own background: a fill, corners of `radius` (a capsule when radius
// is negative), an optional outline kept inside its edge.
class PaintedBox : public QWidget {
public:
    explicit PaintedBox(QWidget* parent = nullptr) : QWidget(parent) {}
    void setFill(std::optional<QColor> fill);
    void setRadius(double radius);
    void setOutline(std::optional<QColor> color, double width = 1);
    const std::optional<QColor>& fill() const { return fill_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QColor> fill_;
    double radius_ = 0;
    std::optional<QColor> outline_;
    double outlineWidth_ = 1;
};

// A symbol of a fixed square size.
class PanelSymbolView : public QWidget {
public:
    PanelSymbolView(std::string name, double size, QColor color, double weight = 1.3, QWidget* parent = nullptr);
    const std::string& name() const { return name_; }
    void setName(std::string name);
    void setColor(QColor color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string name_;
    QColor color_;
    double weight_;
};

// A one-line text in one colour.
QLabel* makeText(const QString& text, const QFont& font, const QColor& color, QWidget* parent = nullptr);

// A one-line text that never widens its row: too long, it is shortened where `mode` says.
class PanelElidedLabel : public QLabel {
public:
    PanelElidedLabel(const QString& text, Qt::TextElideMode mode, QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();
    QString full_;
    Qt::TextElideMode mode_;
};

}  // namespace corvane
