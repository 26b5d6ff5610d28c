#pragma once

// Keeps the simulated desktop's frontmost application in step with the real windows: activating
// the window that shows the simulated Logic Pro makes Logic Pro frontmost, activating Corvane's
// makes Corvane frontmost, and the workspace making one of them frontmost (the agent activating
// Logic Pro, Corvane activating itself at a turn's end) brings that window forward (Logic Pro's
// without taking the keyboard from Corvane's windows). The notice
// over Logic Pro shows only while it is frontmost, so without this it would never be seen.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "app/simulated_host.h"

class QWindow;

namespace corvane {

class WindowActivation : public QObject {
public:
    WindowActivation(app::SimulatedHost& host, QWidget& logicWindow, QWidget& mainWindow);
    ~WindowActivation() override;
    WindowActivation(const WindowActivation&) = delete;
    WindowActivation& operator=(const WindowActivation&) = delete;

private:
    void focusWindowChanged(QWindow* window);
    void bringForward(app::DesktopApplication application);
    bool belongsToMainWindow(const QWindow* window) const;
    bool corvaneIsActive() const;
    QWidget* keyWindowOfMain() const;

    app::SimulatedHost& host_;
    QPointer<QWidget> logicWindow_;
    QPointer<QWidget> mainWindow_;
    platform::Workspace::ObserverToken token_ = 0;
};

}  // namespace corvane
