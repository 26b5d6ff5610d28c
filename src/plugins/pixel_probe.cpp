#include "plugins/pixel_probe.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "logic/ax_read.h"
#include "logic/logic_inspector.h"
#include "platform/platform.h"

namespace corvane {

namespace {

std::optional<PixelRGB> colour(const std::vector<std::int64_t>& channels) {
    if (channels.size() != 3) return std::nullopt;
    return PixelRGB{channels[0], channels[1], channels[2]};
}

// Logic Pro's screen window for an Accessibility window: same process and title, the same frame
// preferred when several share the title.
std::optional<std::uint32_t> screenWindowFor(const platform::AXElement& window, const platform::Rect& frame) {
    int pid = 0;
    if (window.processIdentifier(pid) != platform::AXError::success) return std::nullopt;
    const std::string title = ax_read::textOf(window, platform::ax::kTitle);
    auto content = platform::screenCapture().shareableContent();
    if (!content.ok()) return std::nullopt;
    std::optional<std::uint32_t> sameTitle;
    for (const auto& w : content.value->windows) {
        if (w.owningProcessIdentifier != pid || w.title.value_or("") != title || !w.isOnScreen) continue;
        if (w.frame == frame) return w.windowID;
        if (!sameTitle) sameTitle = w.windowID;
    }
    return sameTitle;
}

}  // namespace

std::int64_t PixelRGB::distance(const PixelRGB& to) const {
    const long double dr = static_cast<long double>(red) - static_cast<long double>(to.red);
    const long double dg = static_cast<long double>(green) - static_cast<long double>(to.green);
    const long double db = static_cast<long double>(blue) - static_cast<long double>(to.blue);
    const long double d = std::sqrt(dr * dr + dg * dg + db * db);
    if (!(d < static_cast<long double>(std::numeric_limits<std::int64_t>::max())))
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::int64_t>(d);
}

std::optional<PixelRGB> PixelProbe::sample(const PluginWindowImage& picture, double x, double y) {
    const platform::Image& image = picture.image;
    const double px = std::trunc(x * double(image.width) / double(std::max<std::int64_t>(picture.width, 1)));
    const double py = std::trunc(y * double(image.height) / double(std::max<std::int64_t>(picture.height, 1)));
    if (!std::isfinite(px) || !std::isfinite(py) || px < 0 || py < 0 || px >= image.width || py >= image.height)
        return std::nullopt;
    if (image.bitsPerPixel / 8 != 4 || image.bytes.empty()) return std::nullopt;
    const std::size_t offset = static_cast<std::size_t>(py) * static_cast<std::size_t>(std::max(image.bytesPerRow, 0)) +
                               static_cast<std::size_t>(px) * 4;
    if (offset + 4 > image.bytes.size()) return std::nullopt;
    const std::uint8_t* p = image.bytes.data() + offset;
    const std::uint32_t alpha = image.bitmapInfo & 0x1F;
    const bool little = (image.bitmapInfo & 0x2000) != 0;
    if (alpha == 0 || alpha > 6) return std::nullopt;
    const bool alphaLast = alpha == 1 || alpha == 3 || alpha == 5;
    if (alphaLast) return little ? PixelRGB{p[3], p[2], p[1]} : PixelRGB{p[0], p[1], p[2]};
    return little ? PixelRGB{p[2], p[1], p[0]} : PixelRGB{p[1], p[2], p[3]};
}

StateProbeResult PixelProbe::evaluate(const PixelRGB& sample, const StateProbe& probe) {
    const auto lit = colour(probe.litRGB);
    const auto dark = colour(probe.darkRGB);
    if (!lit || !dark) return StateProbeResult::unknown;
    const std::int64_t dLit = sample.distance(*lit);
    const std::int64_t dDark = sample.distance(*dark);
    if (dLit <= probe.tolerance && dLit <= dDark) return StateProbeResult::lit;
    if (dDark < dLit && dDark <= probe.tolerance) return StateProbeResult::dark;
    return StateProbeResult::unknown;
}

std::optional<PluginWindowImage> PixelProbe::captureWindowImage(const platform::AXElement& window) {
    const platform::Rect frame = LogicInspector::frameForElement(window);
    if (!(frame.width > 10.0) || !(frame.height > 10.0)) return std::nullopt;
    // The window alone rather than the composite of the screen area: the shield the program shows
    // over Logic Pro during a turn would otherwise darken every probe.
    const auto id = screenWindowFor(window, frame);
    if (!id) return std::nullopt;
    auto shot = platform::screenCapture().captureWindow(*id);
    if (!shot.ok()) return std::nullopt;
    PluginWindowImage picture;
    picture.image = std::move(*shot.value);
    picture.width = static_cast<std::int64_t>(std::min(frame.width, 1e9));
    picture.height = static_cast<std::int64_t>(std::min(frame.height, 1e9));
    return picture;
}

}  // namespace corvane
