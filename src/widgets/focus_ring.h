#pragma once

// Which control has the keyboard focus, drawn: a ring around it while the focus came from the
// keyboard (Tab, Shift+Tab, a shortcut) and until it moves on; none after a click, which shows
// where the focus is already. Text fields show their caret instead.

#include <QObject>
#include <QPointer>
#include <memory>

class QFocusFrame;
class QStyle;
class QWidget;

namespace corvane {

class FocusRing : public QObject {
public:
    // The application's one ring, from the first call on; the window's root view asks for it.
    static FocusRing& shared();

    // Watches the whole application's focus from now until it is destroyed.
    explicit FocusRing(QObject* parent = nullptr);
    ~FocusRing() override;

    // The control the ring is drawn around; null while none is.
    QWidget* ringed() const;
    // The ring itself; null while none is drawn.
    QWidget* ringWidget() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Frame;
    void ring(QWidget* target);

    std::unique_ptr<QStyle> style_;
    QPointer<Frame> frame_;
};

}  // namespace corvane
