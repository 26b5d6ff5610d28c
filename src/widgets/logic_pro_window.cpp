#include "widgets/logic_pro_window.h"

#include <QPainter>
#include <cstring>

#include "transcript/theme.h"
#include "widgets/diagram_painter.h"
#include "widgets/widget_parts.h"

namespace corvane {

QImage toQImage(const platform::Image& image) {
    namespace bm = platform::bitmap;
    if (image.width <= 0 || image.height <= 0 || image.bitsPerPixel != 32 || image.bytesPerRow < image.width * 4 ||
        image.bytes.size() < static_cast<std::size_t>(image.bytesPerRow) * static_cast<std::size_t>(image.height))
        return {};
    const std::uint32_t alpha = image.bitmapInfo & bm::kAlphaInfoMask;
    const bool little = (image.bitmapInfo & bm::kByteOrderMask) == bm::kByteOrder32Little;
    const bool alphaFirst =
        alpha == bm::kAlphaPremultipliedFirst || alpha == bm::kAlphaFirst || alpha == bm::kAlphaNoneSkipFirst;
    const bool premultiplied = alpha == bm::kAlphaPremultipliedFirst || alpha == bm::kAlphaPremultipliedLast;
    const bool opaque = alpha == bm::kAlphaNone || alpha == bm::kAlphaNoneSkipFirst || alpha == bm::kAlphaNoneSkipLast;
    QImage out(image.width, image.height, premultiplied ? QImage::Format_ARGB32_Premultiplied : QImage::Format_ARGB32);
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.bytes.data() + static_cast<std::size_t>(y) * image.bytesPerRow;
        auto* target = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* p = row + x * 4;
            // Bytes as in memory, turned into A, R, G, B whatever the order.
            std::uint8_t b0 = p[0], b1 = p[1], b2 = p[2], b3 = p[3];
            if (little) {
                std::swap(b0, b3);
                std::swap(b1, b2);
            }
            std::uint8_t a, r, g, b;
            if (alphaFirst) {
                a = b0, r = b1, g = b2, b = b3;
            } else {
                r = b0, g = b1, b = b2, a = b3;
            }
            if (opaque) a = 255;
            target[x] = qRgba(r, g, b, a);
        }
    }
    return out;
}

LogicProWindow::LogicProWindow(platform::ScreenCapture& capture, platform::ScreenChanges& changes,
                               platform::MainQueue& mainQueue, QWidget* parent)
    : QWidget(parent), capture_(capture), changes_(changes), pending_(std::make_shared<Pending>()) {
    setWindowTitle("Logic Pro (simulated)");
    setMinimumSize(320, 200);
    pending_->window = this;
    std::weak_ptr<Pending> weak = pending_;
    token_ = changes_.addObserver([weak, &mainQueue] {
        auto pending = weak.lock();
        if (!pending || pending->posted.exchange(true)) return;
        mainQueue.async([weak] {
            auto alive = weak.lock();
            if (!alive) return;
            alive->posted = false;
            if (alive->window) alive->window->refresh();
        });
    });
    refresh();
}

LogicProWindow::~LogicProWindow() {
    changes_.removeObserver(token_);
    pending_->window = nullptr;
}

void LogicProWindow::refresh() {
    ++refreshes_;
    const auto display = capture_.mainDisplay();
    if (!display) {
        error_ = "The simulated screen has no display.";
    } else {
        const auto result = capture_.captureDisplay(display->displayID);
        if (result.ok()) {
            QImage next = toQImage(*result.value);
            next.setDevicePixelRatio(display->scale > 0 ? display->scale : 1);
            image_ = std::move(next);
            error_.reset();
        } else {
            error_ = QString::fromStdString(result.error);
        }
    }
    update();
}

QSize LogicProWindow::sizeHint() const {
    if (image_.isNull()) return {1024, 640};
    const QSizeF logical = image_.deviceIndependentSize();
    // Two thirds of the simulated screen: room beside it for the chat window.
    return (logical * (2.0 / 3.0)).toSize();
}

QRectF LogicProWindow::imageTarget() const {
    const QSizeF fitted = image_.deviceIndependentSize().scaled(QSizeF(size()), Qt::KeepAspectRatio);
    return {QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted};
}

std::optional<platform::Rect> LogicProWindow::toDesktop(const platform::Rect& frame) const {
    if (image_.isNull() || !isVisible()) return std::nullopt;
    const QRectF target = imageTarget();
    const double scale = target.width() / image_.deviceIndependentSize().width();
    const QPointF origin = mapToGlobal(target.topLeft() + QPointF(frame.x, frame.y) * scale);
    return platform::Rect{origin.x(), origin.y(), frame.width * scale, frame.height * scale};
}

void LogicProWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!image_.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(imageTarget(), image_);
    }
    if (error_) {
        painter.setPen(white(0.7));
        painter.setFont(uiFont(13));
        painter.drawText(rect().adjusted(20, 20, -20, -20), Qt::AlignCenter | Qt::TextWordWrap, *error_);
    }
}

}  // namespace corvane
