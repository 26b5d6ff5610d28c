#include "widgets/hover_button.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace corvane {

HoverButton::HoverButton(std::function<void()> action, LabelBuilder label, QWidget* parent)
    : QWidget(parent), action_(std::move(action)), labelBuilder_(std::move(label)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
    rebuildLabel();
}

void HoverButton::enterEvent(QEnterEvent* event) {
    setHovered(true);
    QWidget::enterEvent(event);
}

void HoverButton::leaveEvent(QEvent* event) {
    setHovered(false);
    QWidget::leaveEvent(event);
}

void HoverButton::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

// Like a platform button: the action runs on release inside the button, once per click.
void HoverButton::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click && action_) action_();
}

void HoverButton::keyPressEvent(QKeyEvent* event) {
    const bool press = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space;
    if (!press || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier || event->isAutoRepeat()) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (action_) action_();
}

void HoverButton::setHovered(bool hovered) {
    if (hovered == hovered_) return;
    hovered_ = hovered;
    rebuildLabel();
}

void HoverButton::rebuildLabel() {
    QWidget* next = labelBuilder_ ? labelBuilder_(hovered_) : nullptr;
    if (label_) {
        layout()->removeWidget(label_);
        label_->deleteLater();
    }
    label_ = next;
    if (!label_) return;
    // Clicks and hover belong to the button, not to whatever the label is made of.
    label_->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout()->addWidget(label_);
}

}  // namespace corvane
