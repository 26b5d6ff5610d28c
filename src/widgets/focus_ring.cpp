#include "widgets/focus_ring.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QFocusEvent>
#include <QFocusFrame>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QTextEdit>

#include "transcript/theme.h"
#include "widgets/widget_parts.h"

namespace corvane {

namespace {

constexpr int kMargin = 3;
constexpr double kWidth = 2;
constexpr double kRadius = 6;

// The ring goes above the control (the platform style would put it under, where an opaque
// control hides all but its edge) and a little outside it.
class RingStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* answer) const override {
        if (hint == SH_FocusFrame_AboveWidget) return 1;
        if (hint == SH_FocusFrame_Mask) return 0;  // the frame draws nothing but the ring
        return QProxyStyle::styleHint(hint, option, widget, answer);
    }
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_FocusFrameHMargin || metric == PM_FocusFrameVMargin) return kMargin;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

// What is typed into shows its caret: a ring around it would say the same twice.
bool showsCaret(const QWidget* widget) {
    if (qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractSpinBox*>(widget)) return true;
    if (const auto* edit = qobject_cast<const QTextEdit*>(widget)) return !edit->isReadOnly();
    if (const auto* edit = qobject_cast<const QPlainTextEdit*>(widget)) return !edit->isReadOnly();
    return false;
}

bool fromKeyboard(Qt::FocusReason reason) {
    return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
}

}  // namespace

class FocusRing::Frame : public QFocusFrame {
public:
    using QFocusFrame::QFocusFrame;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(withOpacity(CorvaneTheme::primaryButton), kWidth));
        painter.setBrush(Qt::NoBrush);
        const double inset = kWidth / 2;
        painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), kRadius, kRadius);
    }
};

FocusRing& FocusRing::shared() {
    static FocusRing* ring = new FocusRing(qApp);
    return *ring;
}

FocusRing::FocusRing(QObject* parent) : QObject(parent), style_(std::make_unique<RingStyle>()) {
    qApp->installEventFilter(this);
}

FocusRing::~FocusRing() {
    // The shared ring goes with the application, which is no longer there to be told.
    if (QCoreApplication* application = QCoreApplication::instance()) application->removeEventFilter(this);
    delete frame_.data();
}

QWidget* FocusRing::ringed() const { return frame_ && frame_->isVisible() ? frame_->widget() : nullptr; }

QWidget* FocusRing::ringWidget() const { return frame_ && frame_->isVisible() ? frame_.data() : nullptr; }

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    // A click shows where the pointer works: the ring left from the keyboard goes, whether or not
    // what was clicked takes the focus.
    if (event->type() == QEvent::MouseButtonPress) {
        if (frame_ && frame_->isVisible() && watched->isWidgetType()) ring(nullptr);
        return false;
    }
    if (event->type() != QEvent::FocusIn && event->type() != QEvent::FocusOut) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget) return false;
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    if (event->type() == QEvent::FocusOut) {
        // The window going to the back keeps the ring for when it comes back.
        if (frame_ && frame_->widget() == widget && reason != Qt::ActiveWindowFocusReason &&
            reason != Qt::PopupFocusReason)
            ring(nullptr);
        return false;
    }
    const bool kept = frame_ && frame_->widget() == widget &&
                      (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason);
    ring((fromKeyboard(reason) || kept) && !showsCaret(widget) && !widget->isWindow() ? widget : nullptr);
    return false;
}

void FocusRing::ring(QWidget* target) {
    if (!target) {
        if (frame_) {
            frame_->setWidget(nullptr);
            frame_->hide();
        }
        return;
    }
    // The frame lives among the control's ancestors and goes with them.
    if (!frame_) {
        frame_ = new Frame(target);
        frame_->setStyle(style_.get());
    }
    frame_->setWidget(target);
    frame_->show();
    frame_->raise();
}

}  // namespace corvane
