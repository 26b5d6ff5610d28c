#include "ui/widgets/transcript_view.h"

#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "ui/transcript/theme.h"
#include "ui/widgets/diagram_painter.h"
#include "ui/widgets/message_bubble.h"

namespace corvane {

using namespace diagram;

namespace {
constexpr double kScrollSeconds = 0.2;
constexpr double kHorizontalPadding = 14;
constexpr double kVerticalPadding = 10;

// The ease-out curve of the scroll that follows a new item.
double easeOut(double progress) { return 1 - std::pow(1 - progress, 3); }
}  // namespace

ThinkingIndicatorWidget::ThinkingIndicatorWidget(AnimationClock& clock, QWidget* parent)
    : QWidget(parent), clock_(clock), frames_([this] { tick(); }) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

double ThinkingIndicatorWidget::dotOpacity(int dot) const {
    std::optional<double> shown;
    if (shownAt_) shown = clock_.seconds() - *shownAt_;
    return ThinkingIndicator::dotOpacity(dot, shown);
}

QSize ThinkingIndicatorWidget::sizeHint() const {
    const double dots = ThinkingIndicator::dotCount * ThinkingIndicator::dotDiameter +
                        (ThinkingIndicator::dotCount - 1) * ThinkingIndicator::dotSpacing;
    return {int(2 * kHorizontalPadding + dots), int(2 * kVerticalPadding + ThinkingIndicator::dotDiameter)};
}

void ThinkingIndicatorWidget::showEvent(QShowEvent*) {
    if (!shownAt_) shownAt_ = clock_.seconds();
    frames_.start();
}

void ThinkingIndicatorWidget::hideEvent(QHideEvent*) { frames_.stop(); }

void ThinkingIndicatorWidget::paintEvent(QPaintEvent*) {
    QPainter qt(this);
    DiagramPainter painter(qt);
    painter.fill(Box{{0, 0, double(width()), double(height())}, 12, CorvaneTheme::assistantBubble});
    const double d = ThinkingIndicator::dotDiameter;
    for (int i = 0; i < ThinkingIndicator::dotCount; ++i) {
        const double x = kHorizontalPadding + i * (d + ThinkingIndicator::dotSpacing);
        painter.fill(Box{{x, (height() - d) / 2, d, d},
                         d / 2,
                         CorvaneTheme::textSecondary.withOpacity(CorvaneTheme::textSecondary.opacity * dotOpacity(i))});
    }
}

TranscriptView::TranscriptView(TranscriptHooks hooks, AnimationClock& clock, QWidget* parent)
    : QScrollArea(parent), hooks_(std::move(hooks)), clock_(clock), frames_([this] { tick(); }) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidgetResizable(true);
    viewport()->setAutoFillBackground(false);
    content_ = new QWidget;
    column_ = new QVBoxLayout(content_);
    column_->setContentsMargins(int(TranscriptRows::horizontalPadding), int(TranscriptRows::verticalPadding),
                                int(TranscriptRows::horizontalPadding), int(TranscriptRows::verticalPadding));
    column_->setSpacing(int(TranscriptRows::rowSpacing));
    anchor_ = new QWidget;
    anchor_->setFixedHeight(1);
    column_->addWidget(anchor_);
    column_->addStretch(1);  // a short thread stays at the top
    setWidget(content_);
    content_->setAutoFillBackground(false);
}

std::vector<QWidget*> TranscriptView::rows() const {
    std::vector<QWidget*> out;
    for (const auto& row : rows_) out.push_back(row.widget);
    return out;
}

QWidget* TranscriptView::makeRow(const TranscriptItem& item, const std::vector<ConversationEntry>& entries) {
    static const std::vector<ConversationEntry> noEntries;
    const auto row = TranscriptRows::rowFor(item);
    switch (row.kind) {
        case TranscriptRows::RowKind::none: return nullptr;
        case TranscriptRows::RowKind::bubble: {
            const auto& entry = std::get<ConversationEntry>(item.value);
            std::function<void()> report;
            if (row.withReport && hooks_.report) report = [this, entry] { hooks_.report(entry); };
            return new MessageBubbleWidget(row.role, entry.content, row.withThreadEntries ? entries : noEntries,
                                           std::move(report));
        }
        case TranscriptRows::RowKind::toolCallGroup:
            return new ToolCallGroupWidget(std::get<ToolCallGroup>(item.value), hooks_.toolCards, clock_);
        case TranscriptRows::RowKind::thinking: return new ThinkingIndicatorWidget(clock_);
    }
    return nullptr;
}

void TranscriptView::setInputs(std::vector<TranscriptItem> items, std::optional<std::string> streamingText,
                               const std::vector<ConversationEntry>& entries) {
    const bool entriesChanged = entries != entries_;
    auto visible = TranscriptRows::visibleItems(items, streamingText);

    std::unordered_multimap<std::string, size_t> previous;
    for (size_t i = 0; i < rows_.size(); ++i) previous.emplace(rows_[i].id, i);
    std::vector<bool> kept(rows_.size(), false);
    std::vector<Row> next;
    next.reserve(visible.size());
    for (auto& item : visible) {
        std::string id = item.id();
        bool reused = false;
        auto [first, last] = previous.equal_range(id);
        for (auto it = first; it != last && !reused; ++it) {
            Row& old = rows_[it->second];
            if (kept[it->second] || !(old.item == item)) continue;
            // A diagram in a reply reads the thread's listening results: redraw it when they change.
            auto* bubble = dynamic_cast<MessageBubbleWidget*>(old.widget);
            if (entriesChanged && bubble && bubble->hasVisualBlocks()) continue;
            kept[it->second] = true;
            next.push_back(std::move(old));
            reused = true;
        }
        if (!reused) {
            QWidget* widget = makeRow(item, entries);
            next.push_back({std::move(id), std::move(item), widget});
        }
    }
    for (size_t i = 0; i < rows_.size(); ++i)
        if (!kept[i]) delete rows_[i].widget;
    rows_ = std::move(next);

    const bool streamingChanged = streamingText != streamingText_;
    if (streaming_ && (streamingChanged || entriesChanged || !TranscriptRows::showsStreamingRow(streamingText))) {
        delete streaming_;
        streaming_ = nullptr;
    }
    if (!streaming_ && TranscriptRows::showsStreamingRow(streamingText))
        streaming_ = new MessageBubbleWidget(ConversationRole::assistant, *streamingText, entries, nullptr);

    const auto scroll = shownOnce_
                            ? TranscriptRows::scrollAfterChange(itemCount_, items.size(), streamingText_, streamingText)
                            : TranscriptRows::Scroll::none;
    shownOnce_ = true;
    itemCount_ = items.size();
    streamingText_ = std::move(streamingText);
    if (entriesChanged) entries_ = entries;
    syncLayout();

    switch (scroll) {
        case TranscriptRows::Scroll::none: break;
        case TranscriptRows::Scroll::animated:
            scrollFrom_ = verticalScrollBar()->value();
            scrollStart_ = clock_.seconds();
            frames_.start();
            break;
        case TranscriptRows::Scroll::immediate:
            scrollStart_.reset();
            frames_.stop();
            verticalScrollBar()->setValue(bottomValue());
            break;
    }
}

void TranscriptView::syncLayout() {
    int index = 0;
    auto place = [&](QWidget* widget) {
        QLayoutItem* current = column_->itemAt(index);
        if (!current || current->widget() != widget) {
            column_->removeWidget(widget);
            column_->insertWidget(index, widget);
            // Qt would show it on the next turn of the event loop; the scroll to the bottom
            // needs it laid out now.
            if (content_->isVisible() && widget->isHidden()) widget->show();
        }
        ++index;
    };
    for (const auto& row : rows_)
        if (row.widget) place(row.widget);
    if (streaming_) place(streaming_);
    place(anchor_);
}

void TranscriptView::refreshExpansion() {
    for (const auto& row : rows_)
        if (auto* group = dynamic_cast<ToolCallGroupWidget*>(row.widget)) group->refresh();
}

int TranscriptView::bottomValue() {
    // The rows just changed: lay them out now so that the bottom is where it will be drawn.
    column_->activate();
    const int width = viewport()->width();
    const int height = std::max(viewport()->height(), content_->heightForWidth(width));
    if (content_->size() != QSize(width, height)) content_->resize(width, height);
    return verticalScrollBar()->maximum();
}

void TranscriptView::tick() {
    if (!scrollStart_) {
        frames_.stop();
        return;
    }
    const double progress = std::clamp((clock_.seconds() - *scrollStart_) / kScrollSeconds, 0.0, 1.0);
    const int bottom = bottomValue();
    verticalScrollBar()->setValue(scrollFrom_ + int(std::lround((bottom - scrollFrom_) * easeOut(progress))));
    if (progress >= 1) {
        scrollStart_.reset();
        frames_.stop();
    }
}

}  // namespace corvane
