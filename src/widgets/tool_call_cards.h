#pragma once

#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "model/chat_model.h"
#include "transcript/tool_cards.h"
#include "widgets/animation_clock.h"

namespace corvane {

class TextBlock;

// Where a card's open or closed state lives: the view model, per call ID.
struct ToolCardHooks {
    std::function<bool(const std::string& callID)> isExpanded;
    std::function<void(const std::string& callID, bool currentlyExpanded)> toggleExpanded;
};

// One tool call: icon, title, argument preview, chevron and status on a header row; the summary
// and the result's visual below it while open. The open state is read from the hooks, never
// kept; refresh() re-reads it (after a click the card does so itself).
class ToolCallCardWidget : public QWidget {
public:
    ToolCallCardWidget(ToolCallInfo info, bool isRecovered, ToolCardHooks hooks, AnimationClock& clock,
                       QWidget* parent = nullptr);

    const ToolCallInfo& info() const { return info_; }
    bool isRecovered() const { return isRecovered_; }
    bool isOpen() const;
    bool showsChevron() const { return ToolCallCards::canCollapse(info_); }
    ToolCardLook look() const { return ToolCardLook::forCall(info_, isRecovered_, isOpen()); }
    // The chevron's angle as drawn: a click turns it over 0.18 s.
    double shownChevronDegrees() const { return chevron_.value(clock_.seconds()); }
    QWidget* header() const { return header_; }
    // Null while hidden.
    TextBlock* summaryText() const;
    QWidget* visualWidget() const;

    void refresh();
    // The spinner's next frame.
    void tick();
    void click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    ToolCallInfo info_;
    bool isRecovered_;
    ToolCardHooks hooks_;
    AnimationClock& clock_;
    QWidget* header_ = nullptr;
    QWidget* summaryBox_ = nullptr;
    QWidget* visualBox_ = nullptr;
    Transition chevron_;
    FrameTimer frames_;
};

// One agent round's cards, in call order, in a column of at most 720 pt that always leaves
// 24 pt free on its right.
class ToolCallGroupWidget : public QWidget {
public:
    ToolCallGroupWidget(const ToolCallGroup& group, ToolCardHooks hooks, AnimationClock& clock,
                        QWidget* parent = nullptr);
    const std::vector<ToolCallCardWidget*>& cards() const { return cards_; }
    QWidget* column() const { return column_; }
    void refresh();

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* column_ = nullptr;
    std::vector<ToolCallCardWidget*> cards_;
};

}  // namespace corvane
