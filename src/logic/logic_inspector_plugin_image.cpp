// The plug-in window's picture. Kept apart from the other plug-in window operations because it
// needs the image encoders, which only programs that link the capture library carry.

#include <algorithm>
#include <cmath>

#include "logic/logic_inspector.h"
#include "platform/platform.h"
#include "support/image_encoding.h"

namespace corvane {

std::optional<std::string> LogicInspector::capturePluginWindowScreenshot(const AXElement& axApp,
                                                                         const AXElement& excluding) const {
    auto window = findPluginWindow(axApp, excluding);
    if (!window) return std::nullopt;
    const Rect frame = frameForElement(*window);
    if (!(frame.width > 10.0) || !(frame.height > 10.0)) return std::nullopt;
    // Everything on screen in that rectangle, one pixel per point.
    auto shot = platform::screenCapture().captureRect(frame);
    if (!shot.ok()) return std::nullopt;
    auto image = toRGBA(*shot.value);
    if (!image || image->width <= 0 || image->height <= 0) return std::nullopt;
    if (image->width > 800) {
        const double height = 800.0 / image->width * image->height;
        image = resized(*image, 800, static_cast<int>(std::max(1.0, std::round(height))));
    }
    return encodeJPEG(*image, 0.6);
}

}  // namespace corvane
