#pragma once

#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

#include "platform/geometry.h"
#include "platform/main_timers.h"
#include "shield/input_shield.h"
#include "shield/shield_platform.h"

namespace corvane {

// The small spinning indicator of the notice: twelve spokes, the brightest one turning.
class OverlaySpinner : public QWidget {
public:
    explicit OverlaySpinner(QWidget* parent = nullptr);
    int step() const { return step_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int step_ = 0;
};

// The notice's content: its label and the spinner 8 points below it, centred.
class ShieldContentView : public QWidget {
public:
    explicit ShieldContentView(QWidget* parent = nullptr);
    QLabel* labelField() const { return label_; }
    OverlaySpinner* spinner() const { return spinner_; }
    void layoutLabels();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QLabel* label_;
    OverlaySpinner* spinner_;
};

// A frameless, translucent, click-through window that never takes focus.
class ShieldWindow : public QWidget {
public:
    // Levels as the notice's host would number them: above everything while a drag needs the whole
    // screen, else a panel's level above ordinary windows.
    static constexpr int kScreenSaverLevel = 1000;
    static constexpr int kModalPanelLevel = 8;

    explicit ShieldWindow(InputShield::Scope scope);
    ShieldContentView* content() const { return content_; }
    int level() const { return level_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ShieldContentView* content_;
    int level_;
};

// The shield's window on Qt: a new ShieldWindow each time the notice comes up, dropped when it goes.
class AgentOverlay : public InputShield::Window {
public:
    AgentOverlay() = default;
    ~AgentOverlay() override;

    void show(platform::Rect frame, InputShield::Scope scope) override;
    void hide() override;
    void setFrame(platform::Rect frame) override;
    void bringToFront() override;
    void setLabel(const std::string& text) override;

    ShieldWindow* window() const { return window_; }

    // The Qt screens as the shield wants them: top-left frames, the primary one first.
    static std::vector<platform::Rect> screens();
    static std::optional<platform::Rect> mainScreen();

private:
    void place(platform::Rect frame);

    QPointer<ShieldWindow> window_;
    QString label_;
};

// Plugs the Qt notice into InputShield::shared(), finding Logic Pro's main window as LogicInspector
// does and the screens through Qt; `timers` (the window's) run the watchdog and the frame following. Where
// Logic Pro's screen is shown inside a window of this desktop, `toDesktop` maps its frames there.
std::shared_ptr<AgentOverlay> installAgentOverlay(platform::MainTimers& timers, shield::LogicToDesktop toDesktop = {});

}  // namespace corvane
