#pragma once

// The bar at the top of the main column: the sidebar button, in a chat the way back to its song,
// the chat's title and the chat's menu, and a busy indicator during a turn.

#include <QMenu>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>

#include "widgets/animation_clock.h"
#include "widgets/widget_parts.h"

namespace corvane {

class HoverButton;

struct TopBarState {
    bool sidebarVisible = true;
    bool isChat = false;
    std::optional<std::string> projectName;  // currentProjectName
    std::string threadTitle;                 // currentThreadTitle
    bool isBusy = false;
    std::string songBrief;
    friend bool operator==(const TopBarState&, const TopBarState&) = default;
};

struct TopBarActions {
    std::function<void()> toggleSidebar;
    std::function<void()> back;           // to the page of the current project
    std::function<void()> editSongBrief;  // opens the song-brief editor
    std::function<void()> clearChat;
};

// A small indeterminate spinner (the small control size scaled to 0.7).
class BusyIndicator : public QWidget {
public:
    explicit BusyIndicator(AnimationClock& clock = AnimationClock::system(), QWidget* parent = nullptr);
    void tick() { update(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    AnimationClock& clock_;
    FrameTimer frames_;
};

class TopBar : public QWidget {
public:
    explicit TopBar(TopBarActions actions, QWidget* parent = nullptr);
    void setState(const TopBarState& state);
    const TopBarState& state() const { return state_; }

    HoverButton* sidebarButton() const { return sidebarButton_; }
    HoverButton* backButton() const { return backButton_; }
    ElidedLabel* backLabel() const { return backLabel_; }
    ElidedLabel* titleLabel() const { return title_; }
    BusyIndicator* busyIndicator() const { return busy_; }
    HoverButton* chatMenuButton() const { return menuButton_; }
    // The chat menu's items: the song-brief item, a separator, "Clear chat".
    QMenu* chatMenu() const { return menu_; }

private:
    TopBarActions actions_;
    TopBarState state_;
    HoverButton* sidebarButton_;
    HoverButton* backButton_;
    ElidedLabel* backLabel_ = nullptr;
    ElidedLabel* title_;
    BusyIndicator* busy_;
    HoverButton* menuButton_;
    QMenu* menu_;
    QAction* songBriefAction_;
};

}  // namespace corvane
