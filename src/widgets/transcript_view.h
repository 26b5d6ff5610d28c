#pragma once

#include <QScrollArea>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/chat_model.h"
#include "transcript/markdown.h"
#include "transcript/transcript_rows.h"
#include "widgets/animation_clock.h"
#include "widgets/tool_call_cards.h"

namespace corvane {

class TranscriptColumn;

// Three dots pulsing in a staggered wave from the moment the indicator comes on screen.
class ThinkingIndicatorWidget : public QWidget {
public:
    explicit ThinkingIndicatorWidget(AnimationClock& clock, QWidget* parent = nullptr);
    double dotOpacity(int dot) const;
    QSize sizeHint() const override;
    void tick() { update(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    AnimationClock& clock_;
    std::optional<double> shownAt_;
    FrameTimer frames_;
};

// What the transcript writes back into the view model: the report action of a stored reply,
// and the tool cards' open or closed choices.
struct TranscriptHooks {
    std::function<void(const ConversationEntry&)> report;
    ToolCardHooks toolCards;
};

// The scrolling body of the chat pane: one row per visible item, the reply being revealed, and
// a 1-pt bottom anchor that new content scrolls to. Rows are kept by item identity, so an
// appended item leaves the other rows (and their hover state) in place.
//
// A long thread would cost a full text layout per row to open and to scroll; only the rows in
// view, plus a margin either side, are built. Every other row stands in with its height: measured
// when it was last built (remembered per width), else estimated from its text. When a row built
// into view differs from its estimate, the first row in view keeps its place on screen.
class TranscriptView : public QScrollArea {
public:
    explicit TranscriptView(TranscriptHooks hooks, AnimationClock& clock = AnimationClock::system(),
                            QWidget* parent = nullptr);
    ~TranscriptView() override;

    // The view model's `transcriptItems`, `streamingText` and `entries`. The first call shows a
    // thread where the scroll view puts it; later ones follow the newest content.
    void setInputs(const std::vector<TranscriptItem>& items, std::optional<std::string> streamingText,
                   const std::vector<ConversationEntry>& entries);
    // The active call or a stored choice changed: cards re-read their open state.
    void refreshExpansion();
    // The next frame of the scroll that follows a new item.
    void tick();
    // Another thread was opened: it starts at its latest message once its rows are set and the
    // view is shown.
    void showLatest();

    // One entry per visible item, in order: its widget while the row is built, null while it is
    // not (away from the view) or when the item draws nothing.
    std::vector<QWidget*> rows() const;
    // How many item rows have a widget now.
    size_t builtRowCount() const;
    // The streaming bubble (null when none) and the anchor.
    QWidget* streamingRow() const { return streaming_; }
    QWidget* bottomAnchor() const { return anchor_; }
    bool isScrollAnimating() const { return scrollStart_.has_value(); }
    // The markdown lines read for the reply being revealed so far (its parsing work).
    size_t streamingLinesParsed() const { return streamingMarkdown_.linesParsed(); }
    QWidget* content() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    friend class TranscriptColumn;
    struct Row {
        std::string id;
        TranscriptItem item;
        bool draws = false;  // a `tool`, `system` or `toolCall` message has no row
        QWidget* widget = nullptr;
        bool readsEntries = false;                  // a reply with a visual tag: its diagram may read the entries
        bool hasVisual = false;                     // a diagram reads the thread's entries (known once built)
        std::vector<std::pair<int, int>> measured;  // width, height; the newest last
        std::pair<int, int> estimated{-1, 0};       // width, height
    };
    // The first row in view and how far above the view's top it starts.
    struct Anchor {
        size_t slot;
        std::string id;
        int offset;
    };

    static Row newRow(const TranscriptItem& item, std::string id);
    QWidget* makeRow(const TranscriptItem& item, const std::vector<ConversationEntry>& entries);
    void buildRow(Row& row);
    void releaseRow(Row& row);
    int scrollBottom();
    void scrollToLatest();

    // Slots are the item rows, then the streaming bubble, then the anchor.
    size_t slotCount() const { return rows_.size() + 2; }
    bool slotDraws(size_t slot) const;
    QWidget* slotWidget(size_t slot) const;
    int slotHeight(size_t slot, int width);
    int measure(QWidget* widget, int width) const;
    int estimate(const Row& row, int width) const;
    int contentHeight(int width);
    void layoutAt(int width);
    void holdAnchor();
    void relayout();
    void place(int top, int bottom);
    void rowChanged(QWidget* widget);
    int margin() const;

    TranscriptHooks hooks_;
    AnimationClock& clock_;
    TranscriptColumn* content_ = nullptr;
    QWidget* anchor_ = nullptr;
    QWidget* streaming_ = nullptr;
    std::vector<Row> rows_;
    size_t itemCount_ = 0;
    std::optional<std::string> streamingText_;
    GrowingMarkdown streamingMarkdown_;  // the revealed reply, parsed as it grows
    // The thread's entries, kept (and compared with each new list) only while a row or the
    // reply being revealed may read them.
    std::vector<ConversationEntry> entries_;
    bool entriesKept_ = false;
    size_t entryReaders_ = 0;
    bool shownOnce_ = false;
    std::optional<double> scrollStart_;
    int scrollFrom_ = 0;
    bool latestPending_ = false;  // showLatest() waits for the view to be shown
    bool endWhenShown_ = false;   // hidden at its end, or grown while hidden

    // The column laid out at one width: each slot's height and top, and the whole height.
    int layoutWidth_ = -1;
    std::vector<int> heights_;
    std::vector<int> tops_;
    int total_ = 0;
    std::optional<Anchor> pendingAnchor_;
    bool relayouting_ = false;
    bool relayoutAgain_ = false;
    bool mayRelease_ = true;  // false while a row's own event is being handled
    FrameTimer frames_;
};

}  // namespace corvane
