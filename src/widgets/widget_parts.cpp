#include "widgets/widget_parts.h"

#include <QDialog>
#include <QEvent>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "transcript/theme.h"
#include "widgets/diagram_painter.h"

namespace corvane {

QFont uiFont(double size, QFont::Weight weight, bool monospaced) {
    QFont font = diagramFont(diagram::Font{.size = size, .monospaced = monospaced}, nullptr);
    font.setWeight(weight);
    return font;
}

QColor white(double opacity) { return withOpacity(diagram::white(1), opacity); }

QColor withOpacity(const diagram::Color& color, double opacity) {
    QColor out = toQColor(color);
    out.setAlphaF(float(out.alphaF() * std::clamp(opacity, 0.0, 1.0)));
    return out;
}

QColor rgb255(int red, int green, int blue, double opacity) {
    QColor color(red, green, blue);
    color.setAlphaF(float(std::clamp(opacity, 0.0, 1.0)));
    return color;
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setFont(font);
    setTextColor(label, color);
    return label;
}

ElidedLabel::ElidedLabel(const QString& text, const QFont& font, const QColor& color, Qt::TextElideMode mode,
                         QWidget* parent)
    : QLabel(parent), full_(text), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setFont(font);
    setColor(color);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    elide();
}

void ElidedLabel::setFullText(const QString& text) {
    if (text == full_) return;
    full_ = text;
    elide();
    updateGeometry();
    // A hidden label's new size is not passed on by updateGeometry(); the layouts around it
    // would keep the old one when it shows.
    for (QWidget* w = this; w; w = w->parentWidget())
        if (w->layout()) w->layout()->invalidate();
}

QSize ElidedLabel::sizeHint() const {
    return {int(std::ceil(QFontMetricsF(font()).horizontalAdvance(full_))), QLabel::sizeHint().height()};
}

QSize ElidedLabel::minimumSizeHint() const { return {0, QLabel::minimumSizeHint().height()}; }

void ElidedLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange) elide();
}

void ElidedLabel::elide() {
    const QString shown = QFontMetricsF(font()).elidedText(full_, mode_, std::max(0, contentsRect().width()));
    if (shown != text()) setText(shown);
}

PaintedBox::PaintedBox(double radius, std::optional<QColor> fill, std::optional<QColor> outline, QWidget* parent)
    : QWidget(parent), fill_(fill), radius_(radius), outline_(outline) {}

void PaintedBox::setFill(std::optional<QColor> fill) {
    fill_ = fill;
    update();
}

void PaintedBox::setRadius(double radius) {
    radius_ = radius;
    update();
}

void PaintedBox::setOutline(std::optional<QColor> color, double width) {
    outline_ = color;
    outlineWidth_ = width;
    update();
}

void PaintedBox::setBottomLine(std::optional<QColor> line) {
    bottomLine_ = line;
    update();
}

void PaintedBox::paintEvent(QPaintEvent*) {
    if (!fill_ && !outline_ && !bottomLine_) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect());
    const double radius = radius_ < 0 ? std::min(area.width(), area.height()) / 2 : radius_;
    if (fill_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(*fill_);
        if (radius > 0)
            painter.drawRoundedRect(area, radius, radius);
        else
            painter.fillRect(area, *fill_);
    }
    if (outline_) {
        // Half the line in, so that the whole of it is inside the box.
        const double half = outlineWidth_ / 2;
        const double inner = std::max(0.0, radius - half);
        painter.setPen(QPen(*outline_, outlineWidth_));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(area.adjusted(half, half, -half, -half), inner, inner);
    }
    if (bottomLine_) painter.fillRect(QRectF(0, height() - 1, width(), 1), *bottomLine_);
}

PaintedBox* centredInSquare(QWidget* content, int side, std::optional<QColor> fill) {
    auto* square = new PaintedBox(-1, fill);
    square->setFixedSize(side, side);
    auto* centre = new QHBoxLayout(square);
    centre->setContentsMargins(0, 0, 0, 0);
    centre->addWidget(content, 0, Qt::AlignCenter);
    return square;
}

TextButton::TextButton(const QString& text, Style style, QWidget* parent)
    : QPushButton(text, parent), style_(std::move(style)) {
    QFont font = style_.font;
    font.setUnderline(style_.underlined);
    setFont(font);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    clearKeyboardDefault(this);
}

QSize TextButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 2 * style_.horizontalPadding,
            metrics.height() + 2 * style_.verticalPadding};
}

void TextButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    if (style_.fill) {
        const double radius = style_.cornerRadius.value_or(std::min(bounds.width(), bounds.height()) / 2);
        QPainterPath shape;
        shape.addRoundedRect(bounds, radius, radius);
        painter.fillPath(shape, *style_.fill);
    }
    painter.setPen(style_.text);
    painter.setFont(font());
    painter.drawText(bounds, Qt::AlignCenter, text());
}

std::string editorText(const QPlainTextEdit* editor) {
    QString text = editor->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QChar('\n'));
    text.replace(QChar::LineSeparator, QChar('\n'));
    return utf8(text);
}

QPlainTextEdit* plainEditor(double fontSize) {
    auto* editor = new QPlainTextEdit;
    editor->setFrameShape(QFrame::NoFrame);
    editor->setFont(uiFont(fontSize));
    editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editor->document()->setDocumentMargin(0);
    QPalette palette = editor->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    palette.setColor(QPalette::Text, white(1));
    editor->setPalette(palette);
    editor->viewport()->setAutoFillBackground(false);
    styleScrollIndicator(editor);
    return editor;
}

void styleScrollIndicator(QAbstractScrollArea* area) {
    area->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 8px; margin: 0; }"
                       "QScrollBar::handle:vertical { background: rgba(255, 255, 255, 46); border-radius: 3px;"
                       " min-height: 24px; margin: 1px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
}

QVBoxLayout* sheetColumn(QDialog* sheet, const QString& title, const QColor& titleColor) {
    sheet->setModal(true);
    sheet->setWindowTitle(title);
    QPalette palette = sheet->palette();
    palette.setColor(QPalette::Window, toQColor(CorvaneTheme::background));
    sheet->setPalette(palette);
    sheet->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(sheet);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);
    column->addWidget(makeLabel(title, uiFont(15, QFont::DemiBold), titleColor));
    return column;
}

void paintSheetEdge(QWidget* sheet) {
    QPainter painter(sheet);
    painter.setPen(QPen(white(0.12), 1));
    painter.drawRect(QRectF(sheet->rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

void clearKeyboardDefault(QPushButton* button) {
    button->setAutoDefault(false);
    button->setDefault(false);
}

void useWindowPalette(QWidget* dialog) {
    const QColor raised = withOpacity(CorvaneTheme::surfaceElevated);
    QPalette palette = dialog->palette();
    palette.setColor(QPalette::Window, withOpacity(CorvaneTheme::background));
    palette.setColor(QPalette::Base, raised);
    palette.setColor(QPalette::AlternateBase, withOpacity(CorvaneTheme::surface));
    palette.setColor(QPalette::Button, raised);
    palette.setColor(QPalette::ToolTipBase, raised);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText})
        palette.setColor(role, white(0.9));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, white(0.35));
    palette.setColor(QPalette::PlaceholderText, withOpacity(CorvaneTheme::textTertiary));
    palette.setColor(QPalette::Highlight, withOpacity(CorvaneTheme::primaryButton));
    palette.setColor(QPalette::HighlightedText, white(1));
    palette.setColor(QPalette::Light, rgb255(70, 70, 82));
    palette.setColor(QPalette::Midlight, rgb255(52, 52, 62));
    palette.setColor(QPalette::Mid, rgb255(40, 40, 48));
    palette.setColor(QPalette::Dark, rgb255(12, 12, 16));
    palette.setColor(QPalette::Shadow, rgb255(0, 0, 0));
    palette.setColor(QPalette::Link, withOpacity(CorvaneTheme::primaryButtonHover));
    dialog->setPalette(palette);
    dialog->setAutoFillBackground(true);
}

}  // namespace corvane
