#pragma once

#include <QAbstractButton>
#include <QTextCharFormat>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "model/conversation_model.h"
#include "transcript/markdown.h"
#include "transcript/message_style.h"
#include "widgets/animation_clock.h"

namespace corvane {

// The dim "Report" button under an assistant's reply: brighter while the pointer is over the
// message.
class ReportButton : public QAbstractButton {
public:
    explicit ReportButton(AnimationClock& clock, QWidget* parent = nullptr);
    // Fades over 0.12 s.
    void setHovering(bool hovering);
    double shownOpacity() const;
    void tick();
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    // Return and Enter press it too, as they do the window's other buttons.
    void keyPressEvent(QKeyEvent* event) override;

private:
    AnimationClock& clock_;
    Transition opacity_;
    FrameTimer frames_;
};

// One message of the transcript: the user's as a blue bubble on the right, every other role but
// `update` as a dark outlined bubble on the left, an `update` as a dim italic line. The bubble
// is built from its inputs once; the only state it keeps is whether the pointer is over it.
// Each line's text can be selected and copied (mouse, keyboard and context menu).
class MessageBubbleWidget : public QWidget {
public:
    // `entries` is read only while building (for the diagrams of visual tags); a missing
    // `onReport` means no "Report" button.
    MessageBubbleWidget(ConversationRole role, const std::string& text, const std::vector<ConversationEntry>& entries,
                        std::function<void()> onReport, AnimationClock& clock = AnimationClock::system(),
                        QWidget* parent = nullptr);

    // A message already parsed into its blocks (the reply being revealed, parsed as it grows).
    MessageBubbleWidget(ConversationRole role, std::vector<MarkdownBlock> blocks,
                        const std::vector<ConversationEntry>& entries, std::function<void()> onReport,
                        AnimationClock& clock = AnimationClock::system(), QWidget* parent = nullptr);

    ConversationRole role() const { return role_; }
    const std::vector<MarkdownBlock>& blocks() const { return blocks_; }
    bool hasVisualBlocks() const;
    // The filled bubble (null for an interim line) and the report button (null when none).
    QWidget* bubble() const { return bubble_; }
    ReportButton* reportButton() const { return report_; }
    bool isHovering() const { return hovering_; }
    void setHovering(bool hovering);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void buildInterimLine(const std::string& text);
    void buildBubble(const std::vector<ConversationEntry>& entries, std::function<void()> onReport,
                     AnimationClock& clock);

    ConversationRole role_;
    std::vector<MarkdownBlock> blocks_;
    QWidget* bubble_ = nullptr;
    ReportButton* report_ = nullptr;
    bool hovering_ = false;
};

// How a styled run of a block looks over the block's own font and colour: bold, or a code span
// in the code style.
QTextCharFormat inlineRunFormat(InlineStyle style);

}  // namespace corvane
