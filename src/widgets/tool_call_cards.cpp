#include "widgets/tool_call_cards.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>
#include <cmath>

#include "transcript/theme.h"
#include "widgets/diagram_painter.h"
#include "widgets/symbols.h"
#include "widgets/text_block.h"
#include "widgets/tool_result_widgets.h"

namespace corvane {

using namespace diagram;

namespace {

constexpr double kSidePadding = 10;
constexpr double kVerticalPadding = 7;
constexpr double kIconFrame = 16;
constexpr double kSpacing = 8;
constexpr double kStatusSize = 11;
constexpr double kChevronSize = 8;
const Font kTitleFont{12, FontWeight::medium};
const Font kPreviewFont{11};

// The header row: the whole of it takes clicks.
class CardHeader : public QWidget {
public:
    CardHeader(ToolCallCardWidget& card, AnimationClock& clock) : card_(card), clock_(clock) {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFixedHeight(int(2 * kVerticalPadding + lineHeight(kTitleFont)));
        if (card.showsChevron()) setCursor(Qt::PointingHandCursor);
    }
    QSize sizeHint() const override { return {320, height()}; }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) card_.click();
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const ToolCallInfo& info = card_.info();
        const ToolCardLook look = card_.look();
        const double mid = height() / 2.0;

        drawSymbol(painter, ToolCallInfo::icon(info.toolName), QRectF(kSidePadding + 2, mid - 6, 12, 12),
                   toQColor(look.iconColor), 1.2);

        // Right to left: status, chevron.
        double right = width() - kSidePadding;
        const QRectF status(right - kStatusSize, mid - kStatusSize / 2, kStatusSize, kStatusSize);
        switch (look.status) {
            case ToolCardLook::Symbol::spinner:
                drawSpinner(painter, status, toQColor(CorvaneTheme::textSecondary), clockTurns());
                break;
            case ToolCardLook::Symbol::checkmark:
            case ToolCardLook::Symbol::xmark:
                drawSymbol(painter, look.statusSymbolName, status.adjusted(1, 1, -1, -1), toQColor(look.statusColor),
                           1.8);
                break;
            case ToolCardLook::Symbol::recovered:
                drawSymbol(painter, look.statusSymbolName, status, toQColor(look.statusColor), 1.4);
                break;
        }
        right = status.left() - kSpacing;
        if (card_.showsChevron()) {
            painter.save();
            painter.translate(right - kChevronSize / 2, mid);
            painter.rotate(card_.shownChevronDegrees());
            drawSymbol(painter, "chevron.down",
                       QRectF(-kChevronSize / 2, -kChevronSize / 2, kChevronSize, kChevronSize), toQColor(white(0.35)),
                       1.5);
            painter.restore();
            right -= kChevronSize + kSpacing;
        }

        double x = kSidePadding + kIconFrame + kSpacing;
        const QFont titleFont = diagramFont(kTitleFont, this);
        const QFontMetricsF titleMetrics(titleFont, this);
        const QString title =
            titleMetrics.elidedText(qText(info.displayName), Qt::ElideRight, std::max(0.0, right - x));
        painter.setFont(titleFont);
        painter.setPen(toQColor(CorvaneTheme::textPrimary));
        painter.drawText(QRectF(x, 0, right - x, height()), Qt::AlignLeft | Qt::AlignVCenter, title);
        x += titleMetrics.horizontalAdvance(title) + kSpacing;

        if (auto preview = info.argumentPreview(); preview && x < right) {
            const QFont previewFont = diagramFont(kPreviewFont, this);
            const QFontMetricsF metrics(previewFont, this);
            painter.setFont(previewFont);
            painter.setPen(toQColor(CorvaneTheme::textSecondary));
            painter.drawText(QRectF(x, 0, right - x, height()), Qt::AlignLeft | Qt::AlignVCenter,
                             metrics.elidedText(qText(*preview), Qt::ElideRight, right - x));
        }
    }

private:
    // One turn a second.
    double clockTurns() const { return clock_.seconds(); }
    ToolCallCardWidget& card_;
    AnimationClock& clock_;
};

QWidget* paddedBox(QWidget* content, int side, int bottom) {
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(side, 0, side, bottom);
    layout->addWidget(content);
    return box;
}

}  // namespace

ToolCallCardWidget::ToolCallCardWidget(ToolCallInfo info, bool isRecovered, ToolCardHooks hooks, AnimationClock& clock,
                                       QWidget* parent)
    : QWidget(parent),
      info_(std::move(info)),
      isRecovered_(isRecovered),
      hooks_(std::move(hooks)),
      clock_(clock),
      chevron_(0, 0.18, Transition::Curve::easeInOut),
      frames_([this] { tick(); }) {
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    header_ = new CardHeader(*this, clock_);
    stack->addWidget(header_);
    refresh();
}

bool ToolCallCardWidget::isOpen() const { return hooks_.isExpanded && hooks_.isExpanded(info_.id); }

TextBlock* ToolCallCardWidget::summaryText() const {
    return summaryBox_ ? summaryBox_->findChild<TextBlock*>() : nullptr;
}

QWidget* ToolCallCardWidget::visualWidget() const {
    return visualBox_ ? visualBox_->findChild<ToolResultVisualWidget*>() : nullptr;
}

void ToolCallCardWidget::refresh() {
    const bool open = isOpen();
    auto* stack = static_cast<QVBoxLayout*>(layout());
    const bool wantSummary = ToolCallCards::showsSummary(info_, open);
    if (wantSummary && !summaryBox_) {
        // Wrapped as a bubble's text is: a word wider than the card (a long name, an address)
        // breaks across lines rather than being cut.
        auto* text = new TextBlock(qText(*info_.summary), Font{11}, toQColor(look().summaryColor));
        summaryBox_ = paddedBox(text, 34, 7);
        stack->insertWidget(1, summaryBox_);
        if (isVisible()) summaryBox_->show();
    } else if (!wantSummary && summaryBox_) {
        delete summaryBox_;
        summaryBox_ = nullptr;
    }
    // The stored result is decoded again each time the card opens.
    const bool wantVisual = ToolCallCards::showsVisual(info_, open);
    if (wantVisual && !visualBox_) {
        visualBox_ = paddedBox(new ToolResultVisualWidget(info_.toolName, info_.resultJSON.value_or("")), 10, 8);
        stack->addWidget(visualBox_);
        if (isVisible()) visualBox_->show();
    } else if (!wantVisual && visualBox_) {
        delete visualBox_;
        visualBox_ = nullptr;
    }
    // Opening because the active call changed is not animated; a click animates afterwards.
    chevron_.jumpTo(look().chevronRotationDegrees);
    header_->update();
    updateGeometry();
}

void ToolCallCardWidget::click() {
    if (!ToolCallCards::canCollapse(info_) || !hooks_.toggleExpanded) return;
    const double shown = shownChevronDegrees();
    hooks_.toggleExpanded(info_.id, isOpen());
    refresh();
    chevron_.jumpTo(shown);
    chevron_.animateTo(look().chevronRotationDegrees, clock_.seconds());
    frames_.start();
}

void ToolCallCardWidget::tick() {
    if (info_.status != ToolCallStatus::running && !chevron_.isMoving(clock_.seconds())) frames_.stop();
    header_->update();
}

void ToolCallCardWidget::showEvent(QShowEvent*) {
    if (info_.status == ToolCallStatus::running) frames_.start();
}

void ToolCallCardWidget::hideEvent(QHideEvent*) { frames_.stop(); }

void ToolCallCardWidget::paintEvent(QPaintEvent*) {
    QPainter qt(this);
    DiagramPainter painter(qt);
    const Rect bounds{0, 0, double(width()), double(height())};
    painter.fill(Box{bounds, 8, CorvaneTheme::surface});
    painter.strokeInside(bounds, 8, Stroke{CorvaneTheme::surfaceBorder, 1});
}

ToolCallGroupWidget::ToolCallGroupWidget(const ToolCallGroup& group, ToolCardHooks hooks, AnimationClock& clock,
                                         QWidget* parent)
    : QWidget(parent) {
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    // Placed by hand: a box layout centres a column that reached its maximum width.
    column_ = new QWidget(this);
    column_->installEventFilter(this);
    auto* cards = new QVBoxLayout(column_);
    cards->setContentsMargins(0, 0, 0, 0);
    cards->setSpacing(int(ToolCallCards::cardSpacing));
    const auto recovered = ToolCallCards::recoveredFlags(group);
    for (size_t i = 0; i < group.toolCalls.size(); ++i) {
        auto* card = new ToolCallCardWidget(group.toolCalls[i], recovered[i], hooks, clock);
        cards_.push_back(card);
        cards->addWidget(card);
    }
}

int ToolCallGroupWidget::heightForWidth(int width) const {
    const int height = column_->heightForWidth(int(ToolCallCards::columnWidth(width)));
    return height >= 0 ? height : column_->sizeHint().height();  // no card wraps text
}

QSize ToolCallGroupWidget::sizeHint() const {
    const int width = int(ToolCallCards::maxColumnWidth + ToolCallCards::trailingGap);
    return {width, heightForWidth(width)};
}

void ToolCallGroupWidget::resizeEvent(QResizeEvent*) {
    column_->setGeometry(0, 0, int(ToolCallCards::columnWidth(width())), height());
}

bool ToolCallGroupWidget::eventFilter(QObject* watched, QEvent* event) {
    // A card opened or closed: the row's height changes with it.
    if (watched == column_ && event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        // Whoever stacks this row by hand learns that its height changed.
        QCoreApplication::postEvent(this, new QEvent(QEvent::LayoutRequest));
        column_->setGeometry(0, 0, int(ToolCallCards::columnWidth(width())), heightForWidth(width()));
    }
    return QWidget::eventFilter(watched, event);
}

void ToolCallGroupWidget::refresh() {
    for (auto* card : cards_) card->refresh();
}

}  // namespace corvane
