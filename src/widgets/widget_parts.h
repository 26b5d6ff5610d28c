#pragma once

// The small pieces every view of the window is built from: fonts at point sizes, colours,
// labels, painted boxes and text buttons, and the sheets' editor, scroll indicator and edge.

#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <optional>
#include <string>

#include "diagrams/diagram_shapes.h"
#include "widgets/diagram_painter.h"

class QDialog;
class QVBoxLayout;

namespace corvane {

// The system font at `size` points (a point is a logical pixel), fractions kept.
QFont uiFont(double size, QFont::Weight weight = QFont::Normal, bool monospaced = false);

QColor white(double opacity);
// A theme colour at a fraction of its own opacity.
QColor withOpacity(const diagram::Color& color, double opacity = 1);
// A colour given as sRGB components out of 255.
QColor rgb255(int red, int green, int blue, double opacity = 1);

void setTextColor(QWidget* widget, const QColor& color);
// A label of plain text in one font and colour.
QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent = nullptr);

// One line of text that never widens its row: too long, it is shortened where `mode` says.
// `text()` is what shows; `fullText()` is what was given.
class ElidedLabel : public QLabel {
public:
    ElidedLabel(const QString& text, const QFont& font, const QColor& color, Qt::TextElideMode mode = Qt::ElideRight,
                QWidget* parent = nullptr);
    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }
    void setColor(const QColor& color) { setTextColor(this, color); }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void elide();
    QString full_;
    Qt::TextElideMode mode_;
};

// A widget that paints its own background behind its children: a fill with corners of
// `radius` (a capsule when negative), an outline kept inside its edge, a line 1 point high
// along its bottom edge.
class PaintedBox : public QWidget {
public:
    explicit PaintedBox(QWidget* parent = nullptr) : QWidget(parent) {}
    PaintedBox(double radius, std::optional<QColor> fill, std::optional<QColor> outline = std::nullopt,
               QWidget* parent = nullptr);
    void setFill(std::optional<QColor> fill);
    void setRadius(double radius);
    void setOutline(std::optional<QColor> color, double width = 1);
    void setBottomLine(std::optional<QColor> line);
    const std::optional<QColor>& fill() const { return fill_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QColor> fill_;
    double radius_ = 0;
    std::optional<QColor> outline_;
    double outlineWidth_ = 1;
    std::optional<QColor> bottomLine_;
};

// A square of `side` points with `content` (a symbol) in its middle, on a round `fill` if any.
PaintedBox* centredInSquare(QWidget* content, int side, std::optional<QColor> fill = std::nullopt);

// A plain button drawn as its text on an optional rounded fill; no keyboard default of its own.
class TextButton : public QPushButton {
public:
    struct Style {
        QFont font{};
        QColor text{};
        std::optional<QColor> fill{};
        int horizontalPadding = 0;
        int verticalPadding = 0;
        std::optional<double> cornerRadius{};  // absent: a capsule
        bool underlined = false;
    };
    TextButton(const QString& text, Style style, QWidget* parent = nullptr);
    const Style& style() const { return style_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Style style_;
};

// The text of an editor as typed: line breaks as line feeds, no-break spaces kept.
std::string editorText(const QPlainTextEdit* editor);

// A multi-line editor without a background or frame of its own (its panel draws them).
QPlainTextEdit* plainEditor(double fontSize);

// A slim light scroll indicator on the dark background instead of the platform's bar.
void styleScrollIndicator(QAbstractScrollArea* area);

// A sheet's own look: modal over the window's background, `title` its window title and its
// heading, atop the column it answers (20 points in from the edges, 14 between items).
QVBoxLayout* sheetColumn(QDialog* sheet, const QString& title, const QColor& titleColor);

// The edge of a sheet, which has no window frame here: a hairline inside its bounds.
void paintSheetEdge(QWidget* sheet);

// A dialog the window opens (a question, a notice) in the window's dark colours rather than the
// desktop's, which may be light.
void useWindowPalette(QWidget* dialog);

// Return and Escape reach a button only where the sheet says so.
void clearKeyboardDefault(QPushButton* button);

}  // namespace corvane
