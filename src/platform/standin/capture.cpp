// Screen capture: shareable content and flat-colour renderings of the simulated screen.

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "platform/standin/engine.h"
#include "platform/standin/layout.h"
#include "platform/standin/plugin_parameters.h"

namespace corvane::standin {

std::optional<Rgb> pixelAt(const platform::Image& image, int x, int y) {
    if (image.bitsPerPixel != 32 || x < 0 || y < 0 || x >= image.width || y >= image.height) return std::nullopt;
    const std::size_t offset =
        static_cast<std::size_t>(y) * static_cast<std::size_t>(image.bytesPerRow) + static_cast<std::size_t>(x) * 4;
    if (offset + 4 > image.bytes.size()) return std::nullopt;
    const std::uint8_t* p = image.bytes.data() + offset;
    const std::uint32_t alpha = image.bitmapInfo & platform::bitmap::kAlphaInfoMask;
    const bool alphaFirst = alpha == platform::bitmap::kAlphaPremultipliedFirst ||
                            alpha == platform::bitmap::kAlphaFirst || alpha == platform::bitmap::kAlphaNoneSkipFirst;
    const bool little = (image.bitmapInfo & platform::bitmap::kByteOrderMask) == platform::bitmap::kByteOrder32Little;
    // The 32-bit word is ARGB (alpha first) or RGBA (alpha last); little-endian stores it reversed.
    std::uint8_t word[4];
    for (int i = 0; i < 4; ++i) word[i] = little ? p[3 - i] : p[i];
    if (alphaFirst) return Rgb{word[1], word[2], word[3]};
    return Rgb{word[0], word[1], word[2]};
}

}  // namespace corvane::standin

namespace corvane::standin::detail {

namespace {

using platform::Rect;

constexpr const char* kDeclined = "The user declined TCCs for application, window, display capture";

class Canvas {
public:
    Canvas(Rect area, int width, int height) : area_(area), width_(width), height_(height) {
        rgb_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0);
    }

    void fill(Rect r, Rgb c, double alpha = 1.0) {
        const double sx = width_ / area_.width;
        const double sy = height_ / area_.height;
        // Clamp before converting, so that far-away or absurd frames cannot overflow an int.
        auto px = [](double v, int limit) {
            return static_cast<int>(std::isfinite(v) ? std::clamp(v, 0.0, double(limit)) : 0.0);
        };
        int x0 = px(std::floor((r.x - area_.x) * sx), width_);
        int y0 = px(std::floor((r.y - area_.y) * sy), height_);
        int x1 = px(std::ceil((r.maxX() - area_.x) * sx), width_);
        int y1 = px(std::ceil((r.maxY() - area_.y) * sy), height_);
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                std::uint8_t* p = &rgb_[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                                         static_cast<std::size_t>(x)) *
                                        3];
                const std::uint8_t src[3] = {c.r, c.g, c.b};
                for (int k = 0; k < 3; ++k)
                    p[k] = alpha >= 1.0 ? src[k]
                                        : static_cast<std::uint8_t>(std::lround(src[k] * alpha + p[k] * (1.0 - alpha)));
            }
    }

    // 32-bit BGRA, premultiplied alpha first, little-endian; every pixel is opaque.
    platform::Image image() const {
        platform::Image img;
        img.width = width_;
        img.height = height_;
        img.bitsPerPixel = 32;
        img.bytesPerRow = width_ * 4;
        img.bitmapInfo = platform::bitmap::kAlphaPremultipliedFirst | platform::bitmap::kByteOrder32Little;
        img.bytes.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4);
        for (std::size_t i = 0, n = static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_); i < n; ++i) {
            img.bytes[i * 4 + 0] = rgb_[i * 3 + 2];
            img.bytes[i * 4 + 1] = rgb_[i * 3 + 1];
            img.bytes[i * 4 + 2] = rgb_[i * 3 + 0];
            img.bytes[i * 4 + 3] = 255;
        }
        return img;
    }

private:
    Rect area_;
    int width_;
    int height_;
    std::vector<std::uint8_t> rgb_;
};

std::optional<Rgb> colourFor(const Engine& e, const Node& n) {
    const Transport& tr = e.project.transport;
    const Track* t = e.project.trackById(n.bind.track);
    switch (n.bind.kind) {
        case Bind::container:
            if (n.description == "Control Bar") return palette::controlBar;
            if (n.description == "Inspector") return palette::inspector;
            return palette::tracksArea;
        case Bind::transport:
            if (n.bind.name == "Play" && tr.playing) return palette::playLit;
            if (n.bind.name == "Record" && tr.recording) return palette::recordLit;
            if (n.bind.name == "Cycle" && tr.cycleOn) return palette::cycleLit;
            if (n.bind.name == "Solo" && tr.globalSolo) return palette::soloLit;
            return palette::transportButton;
        case Bind::playheadGroup:
        case Bind::playheadSlider:
        case Bind::tempo:
        case Bind::timeSignature: return palette::display;
        case Bind::mixerArea: return palette::inspector;
        case Bind::strip: return palette::strip;
        case Bind::insertBar: return palette::insertBar;
        case Bind::slot:
            if (t && n.bind.index >= 0 && n.bind.index < int(t->strip.inserts.size()) &&
                t->strip.inserts[static_cast<std::size_t>(n.bind.index)].bypassed)
                return palette::slotBypassed;
            return palette::slot;
        case Bind::channelMode:
        case Bind::input:
        case Bind::output:
        case Bind::sendLabel:
        case Bind::sendKnob:
        case Bind::automationGroup:
        case Bind::pan:
        case Bind::volume:
        case Bind::level:
        case Bind::stripName:
        case Bind::extraName:
        case Bind::headerTriangle:
        case Bind::viewToggle:
        case Bind::titleBarButton: return palette::control;
        case Bind::stripMute: return t && t->muted ? palette::muteOn : palette::control;
        case Bind::stripSolo: return t && t->soloed ? palette::soloOn : palette::control;
        case Bind::headerMute: return t && t->muted ? palette::muteOn : palette::control;
        case Bind::headerSolo: return t && t->soloed ? palette::soloOn : palette::control;
        case Bind::headerColumn:
        case Bind::contents: return palette::tracksArea;
        case Bind::pluginHeader: return palette::pluginHeader;
        case Bind::pluginBody: return palette::pluginBody;
        case Bind::pluginClose:
        case Bind::pluginBypass:
        case Bind::pluginHeaderButton:
        case Bind::viewButton:
        case Bind::sidechainPopup:
        case Bind::pluginControl: return palette::control;
        case Bind::menu:
        case Bind::menuItem: {
            // Only the levels the user has open show; the rest of the submenu tree is invisible.
            std::vector<int> level = parsePath(n.bind.name);
            if (n.bind.kind == Bind::menuItem && !level.empty()) level.pop_back();
            if (!e.menu || n.bind.index != static_cast<int>(e.menu->seq) || !e.menuLevelOpen(pathText(level)))
                return std::nullopt;
            return n.bind.kind == Bind::menuItem && n.selected == std::optional<bool>(true) ? palette::menuHighlight
                                                                                            : palette::menu;
        }
        case Bind::header: {
            const bool selected = t && t->id == e.project.selectedTrackId;
            const bool muted = t && t->muted;
            if (selected) return muted ? palette::headerSelectedMuted : palette::headerSelected;
            return muted ? palette::headerMuted : palette::header;
        }
        case Bind::ruler:
        case Bind::startMarker: return palette::ruler;
        case Bind::playheadThumb: return palette::playhead;
        case Bind::row: return palette::trackRow;
        case Bind::region:
            if (t && n.bind.index >= 0 && n.bind.index < int(t->regions.size()) &&
                t->regions[static_cast<std::size_t>(n.bind.index)].muted)
                return palette::regionMuted;
            return palette::region;
        default: return std::nullopt;
    }
}

Rect intersect(Rect a, Rect b) {
    double x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    double x1 = std::min(a.maxX(), b.maxX()), y1 = std::min(a.maxY(), b.maxY());
    return {x0, y0, std::max(0.0, x1 - x0), std::max(0.0, y1 - y0)};
}

void paintWindow(Engine& e, Canvas& canvas, const ScreenWindow& w) {
    if (w.level >= 2 && w.alpha < 1.0) {  // an overlay such as the shield: tints what lies below
        canvas.fill(w.frame, w.colour, w.alpha);
        return;
    }
    canvas.fill(w.frame, w.colour, w.alpha);
    canvas.fill({w.frame.x, w.frame.y, w.frame.width, std::min(w.frame.height, layout::kTitleBarHeight)},
                palette::titleBar);
    if (w.logicKey.empty()) return;
    const Tree& tree = e.ensureTree();
    // Pre-order, so children paint over their parents; everything stays inside the window.
    for (const Node& n : tree.nodes()) {
        if (n.windowKey != w.logicKey || n.role == "AXWindow" || !n.hasFrame) continue;
        if (auto c = colourFor(e, n)) canvas.fill(intersect(n.frame, w.frame), *c);
        if (auto probe = probePaint(e, n)) canvas.fill(intersect(probe->region, w.frame), probe->colour);
    }
}

// Whole pixels at one per point, at least 1 and at most 8192 (a sane upper bound for a screen).
int pixels(double points) {
    if (!std::isfinite(points)) return 1;
    return static_cast<int>(std::trunc(std::clamp(points, 1.0, 8192.0)));
}

platform::Image degenerate() {
    platform::Image img;
    img.bitmapInfo = platform::bitmap::kAlphaPremultipliedFirst | platform::bitmap::kByteOrder32Little;
    return img;
}

}  // namespace

platform::CaptureResult<platform::ShareableContent> Engine::shareableContent() {
    Event ev;
    ev.kind = EventKind::capture;
    ev.name = "content";
    auto finish = [&](platform::CaptureResult<platform::ShareableContent> r) {
        ev.outcome = r.ok() ? "ok" : r.error.empty() ? "none" : "error";
        ev.detail = r.error;
        record(std::move(ev));
        return r;
    };
    if (faults.contentError) return finish({std::nullopt, *faults.contentError});
    if (faults.noContent) return finish({std::nullopt, ""});
    if (faults.screenRecording != ScreenRecording::granted) return finish({std::nullopt, kDeclined});
    platform::ShareableContent content;
    std::vector<const ScreenWindow*> stack;
    for (const auto& w : windows) stack.push_back(&w);
    std::stable_sort(stack.begin(), stack.end(),
                     [](const ScreenWindow* a, const ScreenWindow* b) { return a->level > b->level; });
    const auto visible = visibleStack();
    for (const ScreenWindow* w : stack) {
        const AppRecord* owner = app(w->pid);
        if (!owner) continue;
        platform::ShareableWindow s;
        s.windowID = w->id;
        s.owningBundleIdentifier = owner->bundleId;
        s.owningApplicationName = owner->name;
        s.owningProcessIdentifier = owner->pid;
        s.title = w->title;
        s.frame = w->frame;
        s.isOnScreen = std::find(visible.begin(), visible.end(), w) != visible.end();
        content.windows.push_back(std::move(s));
    }
    content.displays = displays;
    return finish({content, ""});
}

platform::CaptureResult<platform::Image> Engine::captureWindow(std::uint32_t id) {
    Event ev;
    ev.kind = EventKind::capture;
    ev.name = fmt::format("window {}", id);
    auto finish = [&](platform::CaptureResult<platform::Image> r) {
        ev.outcome = r.ok() ? "ok" : r.error.empty() ? "none" : "error";
        ev.detail = r.error;
        record(std::move(ev));
        return r;
    };
    if (faults.screenRecording != ScreenRecording::granted) return finish({std::nullopt, kDeclined});
    // Windows of hidden applications, and hidden windows, are not on screen and cannot be captured.
    const auto visible = visibleStack();
    auto w = std::find_if(visible.begin(), visible.end(), [id](const ScreenWindow* s) { return s->id == id; });
    if (w == visible.end()) return finish({std::nullopt, "The window is not available."});
    const ScreenWindow& window = **w;
    if (faults.captureError) return finish({std::nullopt, *faults.captureError});
    if (faults.noImage) return finish({std::nullopt, ""});
    if (faults.degenerateImage) return finish({degenerate(), ""});
    Canvas canvas(window.frame, pixels(window.frame.width), pixels(window.frame.height));
    ScreenWindow alone = window;
    alone.alpha = 1.0;
    paintWindow(*this, canvas, alone);
    return finish({canvas.image(), ""});
}

platform::CaptureResult<platform::Image> Engine::captureDisplay(std::uint32_t id) {
    Event ev;
    ev.kind = EventKind::capture;
    ev.name = fmt::format("display {}", id);
    auto finish = [&](platform::CaptureResult<platform::Image> r) {
        ev.outcome = r.ok() ? "ok" : r.error.empty() ? "none" : "error";
        ev.detail = r.error;
        record(std::move(ev));
        return r;
    };
    if (faults.screenRecording != ScreenRecording::granted) return finish({std::nullopt, ""});
    auto d =
        std::find_if(displays.begin(), displays.end(), [id](const platform::Display& x) { return x.displayID == id; });
    if (d == displays.end()) return finish({std::nullopt, "The display is not available."});
    if (faults.captureError) return finish({std::nullopt, *faults.captureError});
    if (faults.noImage) return finish({std::nullopt, ""});
    if (faults.degenerateImage) return finish({degenerate(), ""});
    Canvas canvas(d->frame, pixels(d->frame.width), pixels(d->frame.height));
    canvas.fill(d->frame, palette::desktop);
    auto stack = visibleStack();
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) paintWindow(*this, canvas, **it);
    return finish({canvas.image(), ""});
}

platform::CaptureResult<platform::Image> Engine::captureRect(platform::Rect rect) {
    Event ev;
    ev.kind = EventKind::capture;
    ev.name = fmt::format("rect {},{} {}x{}", rect.x, rect.y, rect.width, rect.height);
    auto finish = [&](platform::CaptureResult<platform::Image> r) {
        ev.outcome = r.ok() ? "ok" : r.error.empty() ? "none" : "error";
        ev.detail = r.error;
        record(std::move(ev));
        return r;
    };
    if (faults.screenRecording != ScreenRecording::granted || !(rect.width >= 1) || !(rect.height >= 1) ||
        !std::isfinite(rect.x) || !std::isfinite(rect.y) || rect.width > 8192 || rect.height > 8192)
        return finish({std::nullopt, ""});
    if (faults.captureError) return finish({std::nullopt, *faults.captureError});
    if (faults.noImage) return finish({std::nullopt, ""});
    if (faults.degenerateImage) return finish({degenerate(), ""});
    Canvas canvas(rect, pixels(rect.width), pixels(rect.height));
    canvas.fill(rect, palette::desktop);
    auto stack = visibleStack();
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) paintWindow(*this, canvas, **it);
    return finish({canvas.image(), ""});
}

}  // namespace corvane::standin::detail
