#pragma once

// Input for widget tests, sent straight to the widget (no display, no QTest).

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWidget>
#include <chrono>
#include <functional>

#include "test_support/hang_guard.h"

namespace corvane::testing {

inline void mouse(QWidget& widget, QEvent::Type type, QPointF at) {
    QMouseEvent event(type, at, widget.mapToGlobal(at), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

inline void clickAt(QWidget& widget, QPointF at) {
    mouse(widget, QEvent::MouseButtonPress, at);
    mouse(widget, QEvent::MouseButtonRelease, at);
}

inline void click(QWidget& widget) { clickAt(widget, QPointF(widget.width() / 2.0, widget.height() / 2.0)); }

// Runs the event loop until `done` holds; a wait for other threads, never a sleep.
inline bool pumpUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > std::chrono::milliseconds(kHangGuard).count()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace corvane::testing
