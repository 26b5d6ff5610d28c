#include "ui/widgets/page_style.h"

#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QTextDocument>

#include "ui/widgets/diagram_painter.h"

namespace corvane::page {

QString qText(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

std::string utf8(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    return {bytes.constData(), size_t(bytes.size())};
}

QColor white(double opacity) { return toQColor(diagram::Color{1, 1, 1, opacity}); }

QFont systemFont(double size, diagram::FontWeight weight, const QWidget* widget) {
    return diagramFont(diagram::Font{size, weight}, widget);
}

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

QLabel* label(const QString& text, double size, diagram::FontWeight weight, const QColor& color) {
    auto* out = new QLabel(text);
    out->setFont(systemFont(size, weight, out));
    out->setTextFormat(Qt::PlainText);
    setTextColor(out, color);
    return out;
}

RoundedPanel::RoundedPanel(double cornerRadius, QColor fill, std::optional<QColor> border, QWidget* parent)
    : QWidget(parent), cornerRadius_(cornerRadius), fill_(fill), border_(border) {}

void RoundedPanel::setFill(QColor fill) {
    fill_ = fill;
    update();
}

void RoundedPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), cornerRadius_, cornerRadius_);
    painter.fillPath(path, fill_);
    if (border_) {
        // Half a point in, so the whole line is inside the clipped shape.
        QPainterPath inner;
        inner.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius_ - 0.5, cornerRadius_ - 0.5);
        painter.setPen(QPen(*border_, 1));
        painter.drawPath(inner);
    }
}

CapsuleButton::CapsuleButton(const QString& text, Style style, QWidget* parent)
    : QPushButton(text, parent), style_(std::move(style)) {
    setFont(systemFont(style_.fontSize, style_.weight, this));
    setCursor(Qt::PointingHandCursor);
    clearKeyboardDefault(this);
}

QSize CapsuleButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 2 * style_.horizontalPadding,
            metrics.height() + 2 * style_.verticalPadding};
}

void CapsuleButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(rect());
    const double radius = style_.cornerRadius.value_or(bounds.height() / 2);
    QPainterPath capsule;
    capsule.addRoundedRect(bounds, radius, radius);
    painter.fillPath(capsule, style_.fill);
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
    editor->setFont(systemFont(fontSize, diagram::FontWeight::regular, editor));
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

void paintSheetEdge(QWidget* sheet) {
    QPainter painter(sheet);
    painter.setPen(QPen(white(0.12), 1));
    painter.drawRect(QRectF(sheet->rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

void clearKeyboardDefault(QPushButton* button) {
    button->setAutoDefault(false);
    button->setDefault(false);
}

}  // namespace corvane::page
