#pragma once

// The simulated Logic Pro on screen: a window showing its display as a capture returns it,
// captured again whenever the simulated screen changes, so that a person watching sees tracks
// mute, faders move and plug-ins open while the agent works.

#include <QImage>
#include <QWidget>
#include <atomic>
#include <memory>
#include <optional>

#include "platform/geometry.h"
#include "platform/main_queue.h"
#include "platform/screen_capture.h"
#include "platform/screen_changes.h"

namespace corvane {

// The capture's bitmap as a QImage (a deep copy); a null image when its layout is not one the
// host hands out (32 bits per pixel, rows of at least width × 4 bytes).
QImage toQImage(const platform::Image& image);

class LogicProWindow : public QWidget {
public:
    // `changes` may call from any thread; redraws are posted to `mainQueue` and coalesced.
    LogicProWindow(platform::ScreenCapture& capture, platform::ScreenChanges& changes, platform::MainQueue& mainQueue,
                   QWidget* parent = nullptr);
    ~LogicProWindow() override;

    // Captures the main display now.
    void refresh();
    const QImage& image() const { return image_; }
    int refreshes() const { return refreshes_; }
    QSize sizeHint() const override;
    // Where a frame of the simulated display (top-left origin, points) lies on this desktop, as
    // the window shows it scaled; none before the first capture or while the window is hidden.
    std::optional<platform::Rect> toDesktop(const platform::Rect& frame) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRectF imageTarget() const;

    struct Pending {
        std::atomic<bool> posted{false};
        LogicProWindow* window = nullptr;  // touched on the main thread only
    };

    platform::ScreenCapture& capture_;
    platform::ScreenChanges& changes_;
    platform::ScreenChanges::Token token_ = 0;
    std::shared_ptr<Pending> pending_;
    QImage image_;
    std::optional<QString> error_;
    int refreshes_ = 0;
};

}  // namespace corvane
