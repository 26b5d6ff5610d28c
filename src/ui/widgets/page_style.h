#pragma once

// The pieces the project page and its sheets are built from: text in the system font at a size
// in points, white at an opacity, rounded panels and capsule buttons.

#include <QAbstractScrollArea>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWidget>
#include <optional>
#include <string>

#include "ui/diagrams/diagram_shapes.h"

namespace corvane::page {

QString qText(const std::string& text);
std::string utf8(const QString& text);

QColor white(double opacity);
QFont systemFont(double size, diagram::FontWeight weight, const QWidget* widget);
void setTextColor(QWidget* widget, const QColor& color);
QLabel* label(const QString& text, double size, diagram::FontWeight weight, const QColor& color);

// A rounded rectangle filled and outlined (inside its bounds) behind its children.
class RoundedPanel : public QWidget {
public:
    RoundedPanel(double cornerRadius, QColor fill, std::optional<QColor> border = std::nullopt,
                 QWidget* parent = nullptr);
    void setFill(QColor fill);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double cornerRadius_;
    QColor fill_;
    std::optional<QColor> border_;
};

// A plain button drawn as a filled capsule around its text; no keyboard default of its own.
class CapsuleButton : public QPushButton {
public:
    struct Style {
        double fontSize = 13;
        diagram::FontWeight weight = diagram::FontWeight::regular;
        QColor text;
        QColor fill;
        int horizontalPadding = 16;
        int verticalPadding = 8;
        std::optional<double> cornerRadius;  // absent: a capsule
    };
    CapsuleButton(const QString& text, Style style, QWidget* parent = nullptr);
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

// The edge of a sheet, which has no window frame here: a hairline inside its bounds.
void paintSheetEdge(QWidget* sheet);

// Return and Escape reach a button only where the sheet says so.
void clearKeyboardDefault(QPushButton* button);

}  // namespace corvane::page
