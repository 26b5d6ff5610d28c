#pragma once

#include <QAbstractButton>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "model/conversation_model.h"
#include "widgets/animation_clock.h"

class QMenu;

namespace corvane {

// The round "trash" button that takes a chat row's date place while the pointer is over the row.
class DeleteChatButton : public QAbstractButton {
public:
    explicit DeleteChatButton(QWidget* parent = nullptr);
    // The row's hover fade, 0 (gone) to 1.
    void setShownOpacity(double opacity);
    double shownOpacity() const { return opacity_; }
    QSize sizeHint() const override { return {26, 26}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double opacity_ = 1;
};

// One chat of the project page: its title (or "Chat"), the last message's first line, and the
// date, which the delete button replaces while hovered. A click anywhere opens the chat, and so do
// Return, Enter and Space once Tab has reached the row; the context menu and the delete button
// both ask to delete it. Keeps only its hover flag.
class ChatRowView : public QWidget {
public:
    ChatRowView(ConversationSummary chat, std::string date, std::function<void()> onOpen,
                std::function<void()> onDelete, AnimationClock& clock = AnimationClock::system(),
                QWidget* parent = nullptr);

    const ConversationSummary& chat() const { return chat_; }
    const std::string& date() const { return date_; }
    QString titleText() const;
    // Absent when the thread has no (or an empty) preview: the row has one line then.
    std::optional<QString> previewText() const;

    bool isHovered() const { return hovered_; }
    void setHovered(bool hovered);
    // 0 at rest, 1 fully hovered; moves over 0.12 s, ease-in-out.
    double hoverProgress() const;
    DeleteChatButton* deleteButton() const { return deleteButton_; }
    // The context menu's one item, "Delete chat"; the caller owns the menu.
    QMenu* makeContextMenu();
    // Redraws at the clock's time; the frame timer calls it while the hover fades.
    void tick();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int contentHeight() const;
    void placeButton();

    ConversationSummary chat_;
    std::string date_;
    std::function<void()> onOpen_;
    std::function<void()> onDelete_;
    AnimationClock& clock_;
    Transition hover_;
    FrameTimer frames_;
    DeleteChatButton* deleteButton_;
    QFont titleFont_;
    QFont previewFont_;
    QFont dateFont_;
    bool hovered_ = false;
    bool pressed_ = false;
};

}  // namespace corvane
