#include "ui/widgets/window_style.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace corvane {

QFont windowFont(double size, QFont::Weight weight) {
    QFont font;
    font.setPixelSize(std::max(1, static_cast<int>(size + 0.5)));
    font.setWeight(weight);
    return font;
}

ElidedLabel::ElidedLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent)
    : QWidget(parent), text_(text), color_(color) {
    setFont(font);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    updateGeometry();
    // A hidden label's new size is not passed on by updateGeometry(); the layouts around it
    // would keep the old one when it shows.
    for (QWidget* w = this; w; w = w->parentWidget())
        if (w->layout()) w->layout()->invalidate();
    update();
}

void ElidedLabel::setColor(const QColor& color) {
    color_ = color;
    update();
}

QString ElidedLabel::shownText() const { return QFontMetricsF(font()).elidedText(text_, Qt::ElideRight, width()); }

QSize ElidedLabel::sizeHint() const {
    const QFontMetricsF metrics(font());
    return {static_cast<int>(std::ceil(metrics.horizontalAdvance(text_))),
            static_cast<int>(std::ceil(metrics.height()))};
}

QSize ElidedLabel::minimumSizeHint() const { return {0, sizeHint().height()}; }

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(color_);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

void FilledBox::setFill(std::optional<QColor> fill, double radius) {
    fill_ = fill;
    radius_ = radius;
    update();
}

void FilledBox::setBottomLine(std::optional<QColor> line) {
    bottomLine_ = line;
    update();
}

void FilledBox::paintEvent(QPaintEvent*) {
    if (!fill_ && !bottomLine_) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    if (fill_) {
        painter.setBrush(*fill_);
        const QRectF box(rect());
        const double radius = radius_ < 0 ? box.height() / 2 : radius_;
        if (radius > 0)
            painter.drawRoundedRect(box, radius, radius);
        else
            painter.fillRect(box, *fill_);
    }
    if (bottomLine_) painter.fillRect(QRectF(0, height() - 1, width(), 1), *bottomLine_);
}

TextButton::TextButton(const QString& text, const QFont& font, const QColor& color, std::function<void()> action,
                       QWidget* parent)
    : FilledBox(parent), label_(new QLabel(text, this)), action_(std::move(action)) {
    label_->setFont(font);
    QPalette palette = label_->palette();
    palette.setColor(QPalette::WindowText, color);
    label_->setPalette(palette);
    label_->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label_);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString TextButton::text() const { return label_->text(); }

void TextButton::setUnderlined(bool underlined) {
    QFont font = label_->font();
    font.setUnderline(underlined);
    label_->setFont(font);
}

void TextButton::setPadding(int horizontal, int vertical) {
    layout()->setContentsMargins(horizontal, vertical, horizontal, vertical);
}

void TextButton::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

void TextButton::mouseReleaseEvent(QMouseEvent* event) {
    const bool clicked = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (clicked && action_) action_();
}

}  // namespace corvane
