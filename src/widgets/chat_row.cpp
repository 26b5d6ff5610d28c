#include "widgets/chat_row.h"

#include <QContextMenuEvent>
#include <QEnterEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "transcript/theme.h"
#include "widgets/diagram_painter.h"
#include "widgets/symbols.h"
#include "widgets/widget_parts.h"

namespace corvane {

namespace {
constexpr int kHorizontalPadding = 14;
constexpr int kVerticalPadding = 11;
constexpr int kSpacing = 8;
constexpr int kLineSpacing = 3;
constexpr int kButtonSize = 26;
constexpr double kCornerRadius = 10;
constexpr double kHoverSeconds = 0.12;

// One line only: a preview that runs on past its first line break ends in an ellipsis there.
QString firstLine(const QString& text) {
    const qsizetype end = text.indexOf(QChar('\n'));
    return end < 0 ? text : text.left(end) + QChar(0x2026);
}
}  // namespace

DeleteChatButton::DeleteChatButton(QWidget* parent) : QAbstractButton(parent) {
    setToolTip(QStringLiteral("Delete chat"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(kButtonSize, kButtonSize);
}

void DeleteChatButton::setShownOpacity(double opacity) {
    if (opacity == opacity_) return;
    opacity_ = opacity;
    update();
}

void DeleteChatButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(std::clamp(opacity_, 0.0, 1.0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(white(0.06));
    painter.drawEllipse(QRectF(rect()));
    QColor red = toQColor(system_color::red);
    red.setAlphaF(0.75f);
    // A 12-point symbol of medium weight.
    const QRectF symbol(QPointF(7, 7), QSizeF(12, 12));
    drawSymbol(painter, "trash", symbol, red, 1.4);
}

ChatRowView::ChatRowView(ConversationSummary chat, std::string date, std::function<void()> onOpen,
                         std::function<void()> onDelete, AnimationClock& clock, QWidget* parent)
    : QWidget(parent),
      chat_(std::move(chat)),
      date_(std::move(date)),
      onOpen_(std::move(onOpen)),
      onDelete_(std::move(onDelete)),
      clock_(clock),
      hover_(0, kHoverSeconds, Transition::Curve::easeInOut),
      frames_([this] { tick(); }),
      deleteButton_(new DeleteChatButton(this)) {
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    titleFont_ = uiFont(14, QFont::Medium);
    previewFont_ = uiFont(12);
    dateFont_ = uiFont(11);
    deleteButton_->hide();
    QObject::connect(deleteButton_, &QAbstractButton::clicked, this, [this] {
        if (onDelete_) onDelete_();
    });
}

QString ChatRowView::titleText() const { return chat_.title.empty() ? QStringLiteral("Chat") : qText(chat_.title); }

std::optional<QString> ChatRowView::previewText() const {
    if (!chat_.lastMessagePreview || chat_.lastMessagePreview->empty()) return std::nullopt;
    return qText(*chat_.lastMessagePreview);
}

double ChatRowView::hoverProgress() const { return hover_.value(clock_.seconds()); }

void ChatRowView::setHovered(bool hovered) {
    if (hovered == hovered_) return;
    hovered_ = hovered;
    hover_.animateTo(hovered ? 1 : 0, clock_.seconds());
    frames_.start();
    // The button is taller than a one-line row's text: the row grows while it shows.
    updateGeometry();
    tick();
}

void ChatRowView::tick() {
    const double now = clock_.seconds();
    const double progress = hover_.value(now);
    deleteButton_->setShownOpacity(progress);
    deleteButton_->setVisible(hovered_ || progress > 0);
    placeButton();
    if (!hover_.isMoving(now)) frames_.stop();
    update();
}

int ChatRowView::contentHeight() const {
    int text = QFontMetrics(titleFont_).height();
    if (previewText()) text += kLineSpacing + QFontMetrics(previewFont_).height();
    const int trailing = hovered_ ? kButtonSize : (date_.empty() ? 0 : QFontMetrics(dateFont_).height());
    return std::max(text, trailing);
}

QSize ChatRowView::sizeHint() const { return {400, contentHeight() + 2 * kVerticalPadding}; }

QSize ChatRowView::minimumSizeHint() const { return {2 * kHorizontalPadding, sizeHint().height()}; }

void ChatRowView::placeButton() { deleteButton_->move(width() - kHorizontalPadding - kButtonSize, kVerticalPadding); }

void ChatRowView::resizeEvent(QResizeEvent*) { placeButton(); }

void ChatRowView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const double progress = hoverProgress();
    if (progress > 0) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), kCornerRadius, kCornerRadius);
        painter.fillPath(shape, white(0.04 * progress));
    }

    const QString date = qText(date_);
    const QFontMetrics dateMetrics(dateFont_);
    const int trailing = hovered_ ? kButtonSize : (date.isEmpty() ? 0 : dateMetrics.horizontalAdvance(date));
    // The text column, a flexible spacer and the trailing item, 8 apart.
    const int textWidth = std::max(0, width() - 2 * kHorizontalPadding - trailing - 2 * kSpacing);

    const QFontMetrics titleMetrics(titleFont_);
    painter.setFont(titleFont_);
    painter.setPen(white(0.85 + 0.15 * progress));
    painter.drawText(QRect(kHorizontalPadding, kVerticalPadding, textWidth, titleMetrics.height()),
                     Qt::AlignLeft | Qt::AlignTop, titleMetrics.elidedText(titleText(), Qt::ElideRight, textWidth));
    if (const auto preview = previewText()) {
        const QFontMetrics previewMetrics(previewFont_);
        painter.setFont(previewFont_);
        painter.setPen(white(0.3 + 0.1 * progress));
        const int top = kVerticalPadding + titleMetrics.height() + kLineSpacing;
        painter.drawText(QRect(kHorizontalPadding, top, textWidth, previewMetrics.height()),
                         Qt::AlignLeft | Qt::AlignTop,
                         previewMetrics.elidedText(firstLine(*preview), Qt::ElideRight, textWidth));
    }
    // The date fades out as the delete button fades in at its place.
    if (!date.isEmpty() && progress < 1) {
        painter.setFont(dateFont_);
        painter.setPen(white(0.2 * (1 - progress)));
        const int dateWidth = dateMetrics.horizontalAdvance(date);
        painter.drawText(
            QRect(width() - kHorizontalPadding - dateWidth, kVerticalPadding, dateWidth, dateMetrics.height()),
            Qt::AlignRight | Qt::AlignTop, date);
    }
}

void ChatRowView::enterEvent(QEnterEvent* event) {
    setHovered(true);
    QWidget::enterEvent(event);
}

void ChatRowView::leaveEvent(QEvent* event) {
    setHovered(false);
    QWidget::leaveEvent(event);
}

void ChatRowView::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton;
    event->accept();
}

// The whole rounded row is the hit area, the spacer included.
void ChatRowView::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    pressed_ = false;
    event->accept();
    if (click && onOpen_) onOpen_();
}

void ChatRowView::keyPressEvent(QKeyEvent* event) {
    const bool opens = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space;
    // The Delete key asks as the row's delete button does.
    const bool deletes = event->key() == Qt::Key_Delete;
    if (!(opens || deletes) || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    const auto& action = deletes ? onDelete_ : onOpen_;
    if (action) action();
}

QMenu* ChatRowView::makeContextMenu() {
    auto* menu = new QMenu(this);
    QAction* remove = menu->addAction(QStringLiteral("Delete chat"));
    QObject::connect(remove, &QAction::triggered, this, [this] {
        if (onDelete_) onDelete_();
    });
    return menu;
}

void ChatRowView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = makeContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}

}  // namespace corvane
