#include "widgets/transcript_view.h"

#include <QEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_map>

#include "transcript/message_style.h"
#include "transcript/theme.h"
#include "transcript/tool_cards.h"
#include "widgets/diagram_painter.h"
#include "widgets/message_bubble.h"

namespace corvane {

using namespace diagram;

namespace {
constexpr double kScrollSeconds = 0.2;
constexpr double kHorizontalPadding = 14;
constexpr double kVerticalPadding = 10;
constexpr int kRowSpacing = int(TranscriptRows::rowSpacing);
constexpr int kSide = int(TranscriptRows::horizontalPadding);
constexpr int kEnds = int(TranscriptRows::verticalPadding);
// Heights remembered per row: the widths of the window with and without its scroll bar, and one
// more for a resize.
constexpr size_t kWidthsKept = 3;

// The ease-out curve of the scroll that follows a new item.
double easeOut(double progress) { return 1 - std::pow(1 - progress, 3); }

int innerWidth(int width) { return std::max(0, width - 2 * kSide); }

// Characters, not bytes: continuation bytes of UTF-8 take no room of their own.
size_t characters(std::string_view text) {
    return size_t(std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The lines a text line wraps to at `width`, from the average advance of a character.
int wrappedLines(std::string_view line, double width, double advance) {
    const double perLine = std::max(1.0, std::floor(width / advance));
    return std::max(1, int(std::ceil(double(characters(line)) / perLine)));
}

template <class Each>
void forEachLine(std::string_view text, Each each) {
    while (true) {
        const size_t end = text.find('\n');
        each(text.substr(0, end));
        if (end == std::string_view::npos) return;
        text.remove_prefix(end + 1);
    }
}

// What a message's bubble will measure, from its text alone: blocks are lines, wrapped at the
// bubble's width with the body font's average character; a visual tag is a diagram's height.
int estimateMessage(const ConversationEntry& entry, int width, bool withReport) {
    constexpr double kAdvance = 6.6;
    constexpr double kLine = 17;
    const double inner = innerWidth(width);
    if (entry.role == ConversationRole::update) {
        double lines = 0;
        forEachLine(entry.content, [&](std::string_view line) { lines += wrappedLines(line, inner - 70, 6.2); });
        return int(8 + lines * 16);
    }
    const BubbleStyle style = BubbleStyle::forRole(entry.role);
    const double text =
        std::max(40.0, std::min(style.maxWidth, inner - style.minSpacer) - 2 * BubbleStyle::horizontalPadding);
    double height = 2 * BubbleStyle::verticalPadding;
    bool first = true;
    bool code = false;
    forEachLine(entry.content, [&](std::string_view line) {
        const bool fence = line.substr(0, 3) == "```";
        if (fence || code) {
            if (fence && !code) height += (first ? 0 : 10) + 20;
            if (!fence) height += 15 * wrappedLines(line, text - 20, 7.2);
            code = fence ? !code : code;
            first = false;
            return;
        }
        if (line.find_first_not_of(" \t") == std::string_view::npos) return;
        height += first ? 0 : 10;
        first = false;
        height += line.substr(0, 8) == "[visual:" ? 180 : kLine * wrappedLines(line, text, kAdvance);
    });
    if (withReport) height += 4 + 22;
    return int(height);
}

int estimateGroup(const ToolCallGroup& group, const ToolCardHooks& hooks, int width) {
    constexpr int kHeader = 30;
    const double column = ToolCallCards::columnWidth(innerWidth(width));
    int height = 0;
    for (const auto& call : group.toolCalls) {
        if (height) height += int(ToolCallCards::cardSpacing);
        height += kHeader;
        const bool open = hooks.isExpanded && hooks.isExpanded(call.id);
        if (ToolCallCards::showsSummary(call, open) && call.summary)
            height += 7 + 14 * wrappedLines(*call.summary, column - 68, 6);
        if (ToolCallCards::showsVisual(call, open)) height += 8 + 160;
    }
    return height;
}
}  // namespace

// The rows' parent: as tall as the view's layout of them says, at the view's width; rows that
// change their height say so to the filter.
class TranscriptColumn : public QWidget {
public:
    explicit TranscriptColumn(TranscriptView& view) : view_(view) {
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return view_.contentHeight(width); }
    // At the width the rows were last laid out at, whose heights are known: the scroll area asks
    // for this at every resize of the column.
    QSize sizeHint() const override {
        const int width = view_.layoutWidth_ > 0 ? view_.layoutWidth_ : 600;
        return {width, heightForWidth(width)};
    }

protected:
    void resizeEvent(QResizeEvent*) override { view_.relayout(); }
    bool event(QEvent* event) override {
        if (event->type() == QEvent::LayoutRequest) view_.relayout();
        return QWidget::event(event);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::LayoutRequest) view_.rowChanged(static_cast<QWidget*>(watched));
        return QWidget::eventFilter(watched, event);
    }

private:
    TranscriptView& view_;
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
    content_ = new TranscriptColumn(*this);
    anchor_ = new QWidget(content_);
    anchor_->setFixedHeight(1);
    setWidget(content_);
    // Opaque, in the window's own background: a scroll then moves the pixels already drawn and
    // paints only the strip that came into view.
    QPalette palette = content_->palette();
    palette.setColor(QPalette::Window, toQColor(CorvaneTheme::background));
    content_->setPalette(palette);
    content_->setAutoFillBackground(true);
    // Rows repaint themselves when they move: the column's growing or shrinking repaints no more
    // than the strip that came into view.
    content_->setAttribute(Qt::WA_StaticContents);
}

// The column and its rows go first, while the view they call back into still stands.
TranscriptView::~TranscriptView() {
    relayouting_ = true;
    delete takeWidget();
}

std::vector<QWidget*> TranscriptView::rows() const {
    std::vector<QWidget*> out;
    out.reserve(rows_.size());
    for (const auto& row : rows_) out.push_back(row.widget);
    return out;
}

size_t TranscriptView::builtRowCount() const {
    return size_t(std::count_if(rows_.begin(), rows_.end(), [](const Row& row) { return row.widget != nullptr; }));
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

TranscriptView::Row TranscriptView::newRow(const TranscriptItem& item, std::string id) {
    Row row;
    row.id = std::move(id);
    const auto look = TranscriptRows::rowFor(item);
    row.draws = look.kind != TranscriptRows::RowKind::none;
    // A diagram needs a visual tag, and a tag its opening: a reply without one never reads them.
    if (const auto* entry = std::get_if<ConversationEntry>(&item.value))
        row.readsEntries = look.withThreadEntries && entry->content.find("[visual:") != std::string::npos;
    row.item = item;
    return row;
}

void TranscriptView::buildRow(Row& row) {
    row.widget = makeRow(row.item, entries_);
    if (!row.widget) {
        row.draws = false;
        return;
    }
    auto* bubble = dynamic_cast<MessageBubbleWidget*>(row.widget);
    row.hasVisual = bubble && bubble->hasVisualBlocks();
    row.widget->setParent(content_);
    row.widget->installEventFilter(content_);
    if (content_->isVisible()) row.widget->show();
}

void TranscriptView::releaseRow(Row& row) {
    delete row.widget;
    row.widget = nullptr;
}

void TranscriptView::setInputs(const std::vector<TranscriptItem>& items, std::optional<std::string> streamingText,
                               const std::vector<ConversationEntry>& entries) {
    // Only a diagram reads the thread's entries: a thread without one is spared comparing them.
    // One that has them mostly grows at its end: only what differs is copied.
    bool entriesChanged = false;
    if (entriesKept_ && (entryReaders_ || streaming_ || streamingText)) {
        const auto [mine, theirs] = std::mismatch(entries_.begin(), entries_.end(), entries.begin(), entries.end());
        entriesChanged = mine != entries_.end() || theirs != entries.end();
        if (entriesChanged) {
            entries_.erase(mine, entries_.end());
            entries_.insert(entries_.end(), theirs, entries.end());
        }
    }
    const size_t itemCount = items.size();
    holdAnchor();
    // Only a reveal leaves an item out; otherwise the rows are matched against the items as
    // given, and only new ones are copied.
    std::vector<TranscriptItem> shown;
    if (streamingText) shown = TranscriptRows::visibleItems(items, streamingText);
    const std::vector<TranscriptItem>& visible = streamingText ? shown : items;

    // Rows are kept by identity. An append leaves every row where it was, so each is first
    // looked for at its own place; the others by their ID.
    std::vector<bool> kept(rows_.size(), false);
    std::unordered_multimap<std::string, size_t> previous;
    bool indexed = false;
    // A diagram in a reply reads the thread's listening results: redraw it when they change.
    auto reusable = [&](size_t i, const TranscriptItem& item) {
        return !kept[i] && !(entriesChanged && rows_[i].hasVisual) && rows_[i].item == item;
    };
    // The usual change, an item added at the end, keeps every row where it was: the rows are
    // checked in place and only the new ones are added.
    size_t inPlace = 0;
    while (inPlace < std::min(rows_.size(), visible.size()) && reusable(inPlace, visible[inPlace])) ++inPlace;
    const bool appended = inPlace == rows_.size();
    if (appended) {
        for (size_t k = inPlace; k < visible.size(); ++k) {
            rows_.push_back(newRow(visible[k], visible[k].id()));
            entryReaders_ += rows_.back().readsEntries;
        }
    }
    std::vector<Row> next;
    if (!appended) next.reserve(visible.size());
    for (size_t k = 0; k < visible.size() && !appended; ++k) {
        const auto& item = visible[k];
        std::optional<size_t> match;
        std::string id;
        if (k < inPlace || (k < rows_.size() && reusable(k, item))) {
            match = k;
        } else {
            if (!indexed) {
                for (size_t i = 0; i < rows_.size(); ++i) previous.emplace(rows_[i].id, i);
                indexed = true;
            }
            id = item.id();
            auto [first, last] = previous.equal_range(id);
            for (auto it = first; it != last && !match; ++it)
                if (reusable(it->second, item)) match = it->second;
        }
        if (match) {
            kept[*match] = true;
            next.push_back(std::move(rows_[*match]));
            continue;
        }
        next.push_back(newRow(item, std::move(id)));
    }
    if (!appended) {
        for (size_t i = 0; i < rows_.size(); ++i)
            if (!kept[i]) releaseRow(rows_[i]);
        rows_ = std::move(next);
        entryReaders_ = size_t(std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return r.readsEntries; }));
    }
    const bool readers = entryReaders_ || TranscriptRows::showsStreamingRow(streamingText);
    if (readers && !entriesKept_) {
        entries_ = entries;
        entriesKept_ = true;
        entriesChanged = true;
    } else if (!readers && entriesKept_) {
        entries_.clear();
        entriesKept_ = false;
    }

    const bool streamingChanged = streamingText != streamingText_;
    if (streaming_ && (streamingChanged || entriesChanged || !TranscriptRows::showsStreamingRow(streamingText))) {
        delete streaming_;
        streaming_ = nullptr;
    }
    // One rebuild per reveal step, from blocks parsed only as far as the reply grew.
    if (!streaming_ && TranscriptRows::showsStreamingRow(streamingText)) {
        streaming_ = new MessageBubbleWidget(ConversationRole::assistant, streamingMarkdown_.update(*streamingText),
                                             entries_, nullptr, clock_);
        streaming_->setParent(content_);
        streaming_->installEventFilter(content_);
        if (content_->isVisible()) streaming_->show();
    }
    if (!streamingText) streamingMarkdown_ = GrowingMarkdown{};

    const auto scroll = shownOnce_
                            ? TranscriptRows::scrollAfterChange(itemCount_, itemCount, streamingText_, streamingText)
                            : TranscriptRows::Scroll::none;
    shownOnce_ = true;
    itemCount_ = itemCount;
    streamingText_ = std::move(streamingText);
    relayout();

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
            verticalScrollBar()->setValue(scrollBottom());
            break;
    }
    if (!isVisible() && scroll != TranscriptRows::Scroll::none) endWhenShown_ = true;
    if (latestPending_ && isVisible()) scrollToLatest();
}

QWidget* TranscriptView::content() const { return content_; }

void TranscriptView::refreshExpansion() {
    holdAnchor();
    for (auto& row : rows_) {
        if (!std::holds_alternative<ToolCallGroup>(row.item.value)) continue;
        // A card that opens or closes changes its row's height, built or not.
        row.measured.clear();
        row.estimated = {-1, 0};
        if (auto* group = dynamic_cast<ToolCallGroupWidget*>(row.widget)) group->refresh();
    }
    relayout();
}

bool TranscriptView::slotDraws(size_t slot) const {
    if (slot < rows_.size()) return rows_[slot].draws;
    return slot > rows_.size() || streaming_;
}

QWidget* TranscriptView::slotWidget(size_t slot) const {
    if (slot < rows_.size()) return rows_[slot].widget;
    return slot == rows_.size() ? streaming_ : anchor_;
}

int TranscriptView::measure(QWidget* widget, int width) const {
    const int inner = innerWidth(width);
    int height = widget->hasHeightForWidth() ? widget->heightForWidth(inner) : -1;
    return height >= 0 ? height : widget->sizeHint().height();
}

int TranscriptView::estimate(const Row& row, int width) const {
    if (const auto* entry = std::get_if<ConversationEntry>(&row.item.value)) {
        const auto look = TranscriptRows::rowFor(row.item);
        return estimateMessage(*entry, width, look.withReport && hooks_.report);
    }
    if (const auto* group = std::get_if<ToolCallGroup>(&row.item.value))
        return estimateGroup(*group, hooks_.toolCards, width);
    return int(2 * kVerticalPadding + ThinkingIndicator::dotDiameter);
}

int TranscriptView::slotHeight(size_t slot, int width) {
    if (slot > rows_.size()) return anchor_->minimumHeight();
    if (slot == rows_.size()) return streaming_ ? measure(streaming_, width) : 0;
    Row& row = rows_[slot];
    if (!row.draws) return 0;
    for (const auto& [w, h] : row.measured)
        if (w == width) return h;
    if (row.widget) {
        const int height = measure(row.widget, width);
        if (row.measured.size() >= kWidthsKept) row.measured.erase(row.measured.begin());
        row.measured.emplace_back(width, height);
        return height;
    }
    if (row.estimated.first != width) row.estimated = {width, estimate(row, width)};
    return row.estimated.second;
}

int TranscriptView::contentHeight(int width) {
    if (width == layoutWidth_ && tops_.size() == slotCount()) return total_;
    int y = kEnds;
    bool any = false;
    for (size_t slot = 0; slot < slotCount(); ++slot) {
        if (!slotDraws(slot)) continue;
        y += (any ? kRowSpacing : 0) + slotHeight(slot, width);
        any = true;
    }
    return y + kEnds;
}

void TranscriptView::layoutAt(int width) {
    layoutWidth_ = width;
    heights_.resize(slotCount());
    tops_.resize(slotCount());
    int y = kEnds;
    bool any = false;
    for (size_t slot = 0; slot < slotCount(); ++slot) {
        if (slotDraws(slot)) {
            y += any ? kRowSpacing : 0;
            any = true;
            heights_[slot] = slotHeight(slot, width);
        } else {
            heights_[slot] = 0;
        }
        tops_[slot] = y;
        y += heights_[slot];
    }
    total_ = y + kEnds;
}

int TranscriptView::margin() const { return std::max(200, viewport()->height() / 2); }

void TranscriptView::holdAnchor() {
    if (pendingAnchor_ || tops_.size() != slotCount()) return;
    const int value = verticalScrollBar()->value();
    auto slot = size_t(std::upper_bound(tops_.begin(), tops_.begin() + long(rows_.size()), value) - tops_.begin());
    if (slot > 0) --slot;
    for (; slot < rows_.size(); ++slot) {
        if (!rows_[slot].draws || tops_[slot] + heights_[slot] <= value) continue;
        pendingAnchor_ = Anchor{slot, rows_[slot].id, value - tops_[slot]};
        return;
    }
}

void TranscriptView::relayout() {
    if (relayouting_) {
        relayoutAgain_ = true;
        return;
    }
    relayouting_ = true;
    holdAnchor();
    QScrollBar* bar = verticalScrollBar();
    // Each pass builds the rows that came into reach; a row whose real height differs from its
    // estimate moves the rows below it, and the anchor moves the view with them.
    for (int pass = 0; pass < 8; ++pass) {
        relayoutAgain_ = false;
        const int width = viewport()->width();
        layoutAt(width);
        bool built = false;
        if (isVisible()) {
            const int top = bar->value() - margin();
            const int bottom = bar->value() + viewport()->height() + margin();
            auto slot =
                size_t(std::upper_bound(tops_.begin(), tops_.begin() + long(rows_.size()), top) - tops_.begin());
            for (slot = slot ? slot - 1 : 0; slot < rows_.size() && tops_[slot] < bottom; ++slot) {
                Row& row = rows_[slot];
                if (!row.draws || row.widget || tops_[slot] + heights_[slot] < top) continue;
                buildRow(row);
                built = true;
            }
            if (built) layoutAt(width);
        }
        const QSize size(width, std::max(viewport()->height(), total_));
        if (content_->size() != size) content_->resize(size);
        if (pendingAnchor_) {
            Anchor& anchor = *pendingAnchor_;
            if (anchor.slot >= rows_.size() || rows_[anchor.slot].id != anchor.id) {
                auto found = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.id == anchor.id; });
                if (found == rows_.end()) {
                    pendingAnchor_.reset();
                } else {
                    anchor.slot = size_t(found - rows_.begin());
                }
            }
            if (pendingAnchor_) {
                const int target = tops_[anchor.slot] + anchor.offset;
                // The scroll that follows new content moves on from where the content went.
                if (scrollStart_) scrollFrom_ += target - bar->value();
                bar->setValue(target);
            }
        }
        if (!built && !relayoutAgain_) break;
    }
    pendingAnchor_.reset();
    place(bar->value() - 2 * margin(), bar->value() + viewport()->height() + 2 * margin());
    relayouting_ = false;
}

void TranscriptView::place(int top, int bottom) {
    const int inner = innerWidth(layoutWidth_);
    for (size_t slot = 0; slot < slotCount(); ++slot) {
        QWidget* widget = slotWidget(slot);
        if (!widget) continue;
        // Rows well away from the view go; the streaming row and the anchor always stay.
        if (slot < rows_.size() && mayRelease_ && (tops_[slot] + heights_[slot] < top || tops_[slot] > bottom)) {
            releaseRow(rows_[slot]);
            continue;
        }
        // Fixed-size rows (the thinking indicator) keep their width, on the left.
        const bool fixed = widget->sizePolicy().horizontalPolicy() == QSizePolicy::Fixed;
        const QRect rect(kSide, tops_[slot], fixed ? widget->sizeHint().width() : inner, heights_[slot]);
        if (widget->geometry() != rect) widget->setGeometry(rect);
    }
}

void TranscriptView::rowChanged(QWidget* widget) {
    auto row = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.widget == widget; });
    if (row == rows_.end() && widget != streaming_) return;
    holdAnchor();
    if (row != rows_.end()) row->measured.clear();
    if (relayouting_) {
        relayoutAgain_ = true;
        return;
    }
    // The row is inside its own event: it must outlive this layout.
    mayRelease_ = false;
    relayout();
    mayRelease_ = true;
}

int TranscriptView::scrollBottom() {
    QScrollBar* bar = verticalScrollBar();
    if (relayouting_) return bar->maximum();
    // The rows a view at the bottom shows are measured first, so that the bottom is where they
    // will draw it. Their heights outlive their widgets: a scroll that follows new content does
    // not build them again at each frame.
    holdAnchor();
    relayouting_ = true;
    const int width = viewport()->width();
    layoutAt(width);
    if (isVisible()) {
        int covered = heights_[rows_.size()];
        const int reach = viewport()->height() + margin();
        for (size_t slot = rows_.size(); slot-- > 0 && covered < reach;) {
            Row& row = rows_[slot];
            if (!row.draws) continue;
            const bool known = std::any_of(row.measured.begin(), row.measured.end(),
                                           [&](const auto& measured) { return measured.first == width; });
            if (!known && !row.widget) buildRow(row);
            covered += slotHeight(slot, width) + kRowSpacing;
        }
    }
    relayouting_ = false;
    relayout();
    return bar->maximum();
}

void TranscriptView::showLatest() {
    // Its rows may come with the next inputs: the scroll is done again then.
    if (isVisible()) scrollToLatest();
    latestPending_ = true;
}

// The chat hidden behind the sign-in form comes back as an opened chat does, at its end, when it
// was there or grew meanwhile: its rows, measured anew once shown, would otherwise push the end
// (a turn's reply, its stop note) below the fold.
void TranscriptView::showEvent(QShowEvent* event) {
    QScrollArea::showEvent(event);
    relayout();
    if (latestPending_ || endWhenShown_) scrollToLatest();
    endWhenShown_ = false;
}

void TranscriptView::hideEvent(QHideEvent* event) {
    QScrollArea::hideEvent(event);
    const QScrollBar* bar = verticalScrollBar();
    endWhenShown_ = endWhenShown_ || bar->value() >= bar->maximum();
}

void TranscriptView::resizeEvent(QResizeEvent* event) {
    // A thread shown at its end stays there when the view's height changes (a banner coming or
    // going, the window coming back): otherwise the first row in view keeps its place and the
    // newest message goes below the fold.
    QScrollBar* bar = verticalScrollBar();
    const bool atEnd = isVisible() && bar->value() >= bar->maximum();
    QScrollArea::resizeEvent(event);
    relayout();
    if (atEnd && !scrollStart_) bar->setValue(scrollBottom());
}

void TranscriptView::scrollContentsBy(int dx, int dy) {
    QScrollArea::scrollContentsBy(dx, dy);
    relayout();
}

void TranscriptView::scrollToLatest() {
    latestPending_ = false;
    scrollStart_.reset();
    frames_.stop();
    verticalScrollBar()->setValue(scrollBottom());
}

void TranscriptView::tick() {
    if (!scrollStart_) {
        frames_.stop();
        return;
    }
    const double progress = std::clamp((clock_.seconds() - *scrollStart_) / kScrollSeconds, 0.0, 1.0);
    const int bottom = scrollBottom();
    verticalScrollBar()->setValue(scrollFrom_ + int(std::lround((bottom - scrollFrom_) * easeOut(progress))));
    if (progress >= 1) {
        scrollStart_.reset();
        frames_.stop();
    }
}

}  // namespace corvane
