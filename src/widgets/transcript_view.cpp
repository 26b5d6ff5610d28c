#include "widgets/transcript_view.h"

#include <QEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "transcript/theme.h"
#include "widgets/diagram_painter.h"
#include "widgets/message_bubble.h"

namespace corvane {

using namespace diagram;

namespace {
constexpr double kScrollSeconds = 0.2;
constexpr double kHorizontalPadding = 14;
constexpr double kVerticalPadding = 10;

// The ease-out curve of the scroll that follows a new item.
double easeOut(double progress) { return 1 - std::pow(1 - progress, 3); }
}  // namespace

// The rows stacked by hand, each one's height remembered until the width changes or the row
// asks to be laid out again: appending a row to a long thread measures that row alone.
class TranscriptColumn : public QWidget {
public:
    TranscriptColumn() {
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    void setWidgets(std::vector<QWidget*> widgets) {
        for (QWidget* widget : widgets) {
            if (widget->parentWidget() == this) continue;
            widget->setParent(this);
            widget->installEventFilter(this);
            if (isVisible()) widget->show();
        }
        // Forget the heights of rows that went away (their addresses may come back).
        for (auto& entry : heights_) {
            std::unordered_map<QWidget*, int> kept;
            for (QWidget* widget : widgets)
                if (auto it = entry.second.find(widget); it != entry.second.end()) kept.insert(*it);
            entry.second = std::move(kept);
        }
        widgets_ = std::move(widgets);
        updateGeometry();
        place();
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        int y = int(TranscriptRows::verticalPadding);
        for (size_t i = 0; i < widgets_.size(); ++i)
            y += (i ? int(TranscriptRows::rowSpacing) : 0) + rowHeight(i, width);
        return y + int(TranscriptRows::verticalPadding);
    }
    QSize sizeHint() const override { return {600, heightForWidth(600)}; }

protected:
    void resizeEvent(QResizeEvent*) override { place(); }
    // A row was shown or resized itself; rows that changed their height said so to the filter.
    bool event(QEvent* event) override {
        if (event->type() == QEvent::LayoutRequest) {
            updateGeometry();
            place();
        }
        return QWidget::event(event);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::LayoutRequest) {
            forget(static_cast<QWidget*>(watched));
            updateGeometry();
            place();
        }
        return QWidget::eventFilter(watched, event);
    }

private:
    int innerWidth(int width) const { return std::max(0, width - 2 * int(TranscriptRows::horizontalPadding)); }

    // The scroll area asks at the width with and without its scroll bar: both are remembered.
    int rowHeight(size_t index, int width) const {
        auto& heights = heightsAt(width);
        QWidget* widget = widgets_[index];
        auto it = heights.find(widget);
        if (it != heights.end()) return it->second;
        const int inner = innerWidth(width);
        int height = widget->hasHeightForWidth() ? widget->heightForWidth(inner) : -1;
        if (height < 0) height = widget->sizeHint().height();
        heights[widget] = height;
        return height;
    }

    std::unordered_map<QWidget*, int>& heightsAt(int width) const {
        for (auto& [w, heights] : heights_)
            if (w == width) return heights;
        if (heights_.size() >= 2) heights_.erase(heights_.begin());
        heights_.push_back({width, {}});
        return heights_.back().second;
    }

    void forget(QWidget* widget) {
        for (auto& entry : heights_) entry.second.erase(widget);
    }

    void place() {
        const int width = this->width();
        int y = int(TranscriptRows::verticalPadding);
        for (size_t i = 0; i < widgets_.size(); ++i) {
            if (i) y += int(TranscriptRows::rowSpacing);
            QWidget* widget = widgets_[i];
            const int height = rowHeight(i, width);
            // Fixed-size rows (the thinking indicator) keep their width, on the left.
            const bool fixed = widget->sizePolicy().horizontalPolicy() == QSizePolicy::Fixed;
            const QRect rect(int(TranscriptRows::horizontalPadding), y,
                             fixed ? widget->sizeHint().width() : innerWidth(width), height);
            if (widget->geometry() != rect) widget->setGeometry(rect);
            y += height;
        }
    }

    std::vector<QWidget*> widgets_;
    mutable std::vector<std::pair<int, std::unordered_map<QWidget*, int>>> heights_;
};

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
    content_ = new TranscriptColumn;
    anchor_ = new QWidget;
    anchor_->setFixedHeight(1);
    content_->setWidgets({anchor_});
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
                                           std::move(report), clock_);
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
    // One rebuild per reveal step, from blocks parsed only as far as the reply grew.
    if (!streaming_ && TranscriptRows::showsStreamingRow(streamingText))
        streaming_ = new MessageBubbleWidget(ConversationRole::assistant, streamingMarkdown_.update(*streamingText),
                                             entries, nullptr, clock_);
    if (!streamingText) streamingMarkdown_ = GrowingMarkdown{};

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
    if (latestPending_ && isVisible()) scrollToLatest();
}

void TranscriptView::syncLayout() {
    std::vector<QWidget*> widgets;
    widgets.reserve(rows_.size() + 2);
    for (const auto& row : rows_)
        if (row.widget) widgets.push_back(row.widget);
    if (streaming_) widgets.push_back(streaming_);
    widgets.push_back(anchor_);
    content_->setWidgets(std::move(widgets));
}

QWidget* TranscriptView::content() const { return content_; }

void TranscriptView::refreshExpansion() {
    for (const auto& row : rows_)
        if (auto* group = dynamic_cast<ToolCallGroupWidget*>(row.widget)) group->refresh();
}

int TranscriptView::bottomValue() {
    // The rows just changed: lay them out now so that the bottom is where it will be drawn.
    const int width = viewport()->width();
    const int height = std::max(viewport()->height(), content_->heightForWidth(width));
    if (content_->size() != QSize(width, height)) content_->resize(width, height);
    return verticalScrollBar()->maximum();
}

void TranscriptView::showLatest() {
    // Its rows may come with the next inputs: the scroll is done again then.
    if (isVisible()) scrollToLatest();
    latestPending_ = true;
}

void TranscriptView::showEvent(QShowEvent* event) {
    QScrollArea::showEvent(event);
    if (latestPending_) scrollToLatest();
}

void TranscriptView::scrollToLatest() {
    latestPending_ = false;
    scrollStart_.reset();
    frames_.stop();
    verticalScrollBar()->setValue(bottomValue());
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
