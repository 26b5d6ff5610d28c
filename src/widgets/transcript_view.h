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
class TranscriptView : public QScrollArea {
public:
    explicit TranscriptView(TranscriptHooks hooks, AnimationClock& clock = AnimationClock::system(),
                            QWidget* parent = nullptr);

    // The view model's `transcriptItems`, `streamingText` and `entries`. The first call shows a
    // thread where the scroll view puts it; later ones follow the newest content.
    void setInputs(std::vector<TranscriptItem> items, std::optional<std::string> streamingText,
                   const std::vector<ConversationEntry>& entries);
    // The active call or a stored choice changed: cards re-read their open state.
    void refreshExpansion();
    // The next frame of the scroll that follows a new item.
    void tick();
    // Another thread was opened: it starts at its latest message once its rows are set and the
    // view is shown.
    void showLatest();

    // The row widgets in order (null for an item that draws nothing), the streaming bubble
    // (null when none) and the anchor.
    std::vector<QWidget*> rows() const;
    QWidget* streamingRow() const { return streaming_; }
    QWidget* bottomAnchor() const { return anchor_; }
    bool isScrollAnimating() const { return scrollStart_.has_value(); }
    // The markdown lines read for the reply being revealed so far (its parsing work).
    size_t streamingLinesParsed() const { return streamingMarkdown_.linesParsed(); }
    QWidget* content() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void scrollToLatest();
    struct Row {
        std::string id;
        TranscriptItem item;
        QWidget* widget = nullptr;
    };
    QWidget* makeRow(const TranscriptItem& item, const std::vector<ConversationEntry>& entries);
    void syncLayout();
    int bottomValue();

    TranscriptHooks hooks_;
    AnimationClock& clock_;
    TranscriptColumn* content_ = nullptr;
    QWidget* anchor_ = nullptr;
    QWidget* streaming_ = nullptr;
    std::vector<Row> rows_;
    size_t itemCount_ = 0;
    std::optional<std::string> streamingText_;
    GrowingMarkdown streamingMarkdown_;  // the revealed reply, parsed as it grows
    std::vector<ConversationEntry> entries_;
    bool shownOnce_ = false;
    std::optional<double> scrollStart_;
    int scrollFrom_ = 0;
    bool latestPending_ = false;  // showLatest() waits for the view to be shown
    FrameTimer frames_;
};

}  // namespace corvane
