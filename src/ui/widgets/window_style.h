#pragma once

// Small pieces shared by the window's bars and banners: fonts at point sizes, colours as given
// in sRGB components out of 255, a one-line label cut at its end, and a box that paints a fill.

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QWidget>
#include <functional>
#include <optional>

namespace corvane {

// The system font at `size` points (a point is a logical pixel).
QFont windowFont(double size, QFont::Weight weight = QFont::Normal);
inline QColor white(double opacity) { return QColor::fromRgbF(1, 1, 1, float(opacity)); }
inline QColor rgb255(int red, int green, int blue, double opacity = 1) {
    QColor color(red, green, blue);
    color.setAlphaF(float(opacity));
    return color;
}

// One line of text, cut with "…" at the end when too long for its width.
class ElidedLabel : public QWidget {
public:
    ElidedLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const { return text_; }
    QString shownText() const;
    void setColor(const QColor& color);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QColor color_;
};

// A box that paints its fill (rounded by `radius`; a negative radius makes a capsule) and,
// when given, a line of `bottomLine` colour 1 point high along its bottom edge.
class FilledBox : public QWidget {
public:
    explicit FilledBox(QWidget* parent = nullptr) : QWidget(parent) {}
    void setFill(std::optional<QColor> fill, double radius = 0);
    void setBottomLine(std::optional<QColor> line);
    std::optional<QColor> fill() const { return fill_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QColor> fill_;
    double radius_ = 0;
    std::optional<QColor> bottomLine_;
};

// A plain button drawn as text on an optional fill; clicks run `action` on release.
class TextButton : public FilledBox {
public:
    TextButton(const QString& text, const QFont& font, const QColor& color, std::function<void()> action,
               QWidget* parent = nullptr);
    QString text() const;
    void setUnderlined(bool underlined);
    void setPadding(int horizontal, int vertical);
    void click() const {
        if (action_) action_();
    }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QLabel* label_;
    std::function<void()> action_;
    bool pressed_ = false;
};

}  // namespace corvane
