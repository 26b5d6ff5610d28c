// Screen capture: shareable content and flat-colour renderings of the simulated screen.

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "platform/standin/engine.h"
#include "platform/standin/layout.h"
#include "platform/standin/plugin_parameters.h"
#include "platform/standin/text_render.h"

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

// Pixels from x0, y0 up to (not including) x1, y1.
struct PixelBox {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

// The text an element shows: one or more lines, centred or from the left edge.
struct Label {
    std::vector<std::string> lines;
    bool centred = true;
};

class Canvas {
public:
    Canvas(Rect area, int width, int height) : area_(area), width_(width), height_(height) {
        rgb_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0);
    }

    // Every pixel the frame touches.
    PixelBox outer(Rect r) const {
        return {px(std::floor((r.x - area_.x) * sx())), py(std::floor((r.y - area_.y) * sy())),
                px(std::ceil((r.maxX() - area_.x) * sx())), py(std::ceil((r.maxY() - area_.y) * sy()))};
    }
    // The pixels wholly inside the frame, which is where its text may go.
    PixelBox inner(Rect r) const {
        return {px(std::ceil((r.x - area_.x) * sx())), py(std::ceil((r.y - area_.y) * sy())),
                px(std::floor((r.maxX() - area_.x) * sx())), py(std::floor((r.maxY() - area_.y) * sy()))};
    }
    // The pixel a point falls on, as a reader of the image finds it.
    std::pair<int, int> pixelOf(platform::Point p) const {
        const double x = (p.x - area_.x) * sx(), y = (p.y - area_.y) * sy();
        if (!std::isfinite(x) || !std::isfinite(y) || std::fabs(x) > 1e9 || std::fabs(y) > 1e9) return {-1, -1};
        return {static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y))};
    }
    double sy() const { return height_ / area_.height; }

    void fill(Rect r, Rgb c, double alpha = 1.0) {
        const auto [x0, y0, x1, y1] = outer(r);
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

    // Anti-aliased text inside the box; pixels in the keep-out boxes stay as they are.
    void text(PixelBox box, const Label& label, Rgb colour, int size, const std::vector<PixelBox>& keepOut) {
        constexpr int kMinSize = 7;
        const int pad = label.centred ? 1 : 3;
        const int room = box.x1 - box.x0 - 2 * pad;
        if (room <= 0 || box.y1 <= box.y0) return;
        TextRenderer& renderer = TextRenderer::shared();
        // Shrink to fit the frame, down to the smallest legible size; beyond that the frame clips.
        std::vector<TextMask> lines;
        for (;; --size) {
            lines.clear();
            int height = 0, widest = 0;
            for (const std::string& line : label.lines) {
                lines.push_back(renderer.render(line, size));
                height += lines.back().height;
                widest = std::max(widest, lines.back().width);
            }
            if (size <= kMinSize || (widest <= room && height <= box.y1 - box.y0)) break;
        }
        int total = 0;
        for (const TextMask& m : lines) total += m.height;
        int top = box.y0 + (box.y1 - box.y0 - total) / 2;
        for (const TextMask& m : lines) {
            const int left = label.centred ? box.x0 + (box.x1 - box.x0 - m.width) / 2 : box.x0 + pad;
            for (int y = 0; y < m.height; ++y) {
                const int cy = top + y;
                if (cy < box.y0 || cy >= box.y1) continue;
                for (int x = 0; x < m.width; ++x) {
                    const int cx = left + x;
                    const std::uint8_t a =
                        m.coverage[static_cast<std::size_t>(y) * std::size_t(m.width) + std::size_t(x)];
                    if (a == 0 || cx < box.x0 || cx >= box.x1) continue;
                    if (std::any_of(keepOut.begin(), keepOut.end(),
                                    [&](const PixelBox& k) { return k.contains(cx, cy); }))
                        continue;
                    std::uint8_t* p = &rgb_[(static_cast<std::size_t>(cy) * static_cast<std::size_t>(width_) +
                                             static_cast<std::size_t>(cx)) *
                                            3];
                    const std::uint8_t src[3] = {colour.r, colour.g, colour.b};
                    for (int k = 0; k < 3; ++k)
                        p[k] = static_cast<std::uint8_t>((src[k] * a + p[k] * (255 - a) + 127) / 255);
                }
            }
            top += m.height;
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
    double sx() const { return width_ / area_.width; }
    // Clamp before converting, so that far-away or absurd frames cannot overflow an int.
    static int clampTo(double v, int limit) {
        return static_cast<int>(std::isfinite(v) ? std::clamp(v, 0.0, double(limit)) : 0.0);
    }
    int px(double v) const { return clampTo(v, width_); }
    int py(double v) const { return clampTo(v, height_); }

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
            const bool selected = t && e.project.isSelected(t->id);
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

std::string valueText(const Value& v) {
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (const auto* d = std::get_if<double>(&v)) return fmt::format("{}", *d);
    return {};
}

bool blank(const std::string& s) { return s.find_first_not_of(" \t") == std::string::npos; }

// Line breaks in plug-in texts are newlines or U+2028.
std::vector<std::string> splitLines(const std::string& s) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= s.size(); ++i) {
        const bool lineSeparator = s.compare(i, 3, "\u2028") == 0;
        if (i == s.size() || s[i] == '\n' || lineSeparator) {
            if (!blank(s.substr(start, i - start))) lines.push_back(s.substr(start, i - start));
            if (lineSeparator) i += 2;
            start = i + 1;
        }
    }
    return lines;
}

Label lines(std::initializer_list<std::string> texts, bool centred = true) {
    Label label;
    label.centred = centred;
    for (const std::string& t : texts)
        for (std::string& line : splitLines(t)) label.lines.push_back(std::move(line));
    return label;
}

// A plug-in control's parameter name and value, as its window shows them.
Label pluginControlLabel(Engine& e, const Node& n) {
    const std::string& ref = n.bind.name;
    const std::string description = n.description.value_or(n.title.value_or(""));
    const std::string value =
        n.valueDescription && !blank(*n.valueDescription) ? *n.valueDescription : valueText(n.value);
    if (ref.rfind("k:", 0) == 0) {
        if (ref.rfind("k:label:", 0) == 0) return lines({valueText(n.value)}, false);
        if (ref.rfind("k:readout:", 0) == 0 || ref.rfind("k:popup:", 0) == 0) return lines({value});
        if (ref.rfind("k:button:", 0) == 0) return lines({description});
        return {};
    }
    std::string name = description;
    if (blank(name)) {  // an unnamed control shows its option, or the name of the parameter it is bound to
        const InsertSlot* slot = e.slotByUid(n.bind.index, nullptr);
        const PluginDefinition* def = slot ? e.project.plugin(slot->plugin) : nullptr;
        const nlohmann::json* c = def ? editorControl(*def, ref.substr(2)) : nullptr;
        if (c && c->contains("option") && (*c)["option"].is_string())
            name = (*c)["option"].get<std::string>();
        else if (c && c->contains("bind") && (*c)["bind"].is_string())
            if (auto p = paramSpec(*def, (*c)["bind"].get<std::string>())) name = p->label;
    }
    return lines({name, value});
}

// The text an element carries on screen, if any.
Label labelFor(Engine& e, const Node& n) {
    switch (n.bind.kind) {
        case Bind::headerName: return lines({valueText(n.value)}, false);
        case Bind::stripName:
        case Bind::channelMode:
        case Bind::level:
        case Bind::timeSignature:
        case Bind::tempo: return lines({valueText(n.value)});
        case Bind::playheadSlider: return n.bind.readOnly ? Label{} : lines({valueText(n.value)});
        case Bind::input:
        case Bind::output:
        case Bind::slot:
        case Bind::pluginHeaderButton: return lines({n.description.value_or("")});
        case Bind::sendLabel: return lines({n.description.value_or("")}, false);
        case Bind::sendKnob: return lines({n.valueDescription.value_or("")});
        case Bind::automationGroup: {
            std::string mode = n.description.value_or("");
            mode = mode.substr(0, mode.rfind(", automation"));
            return lines({mode}, false);
        }
        case Bind::transport: {
            // The transport shows symbols, as on the real control bar.
            static const std::pair<const char*, const char*> symbols[] = {
                {"Go to Beginning", "|\u25C0"}, {"Stop", "\u25A0"},  {"Play", "\u25B6"},
                {"Record", "\u25CF"},           {"Cycle", "\u21BB"}, {"Solo", "S"}};
            for (const auto& [name, symbol] : symbols)
                if (n.bind.name == name) return lines({symbol});
            return {};
        }
        case Bind::stripMute:
        case Bind::headerMute: return lines({"M"});
        case Bind::stripSolo:
        case Bind::headerSolo: return lines({"S"});
        case Bind::viewToggle:
        case Bind::viewButton: return lines({n.title.value_or("")});
        case Bind::sidechainPopup: return lines({valueText(n.value)});
        case Bind::menuItem: return lines({n.title.value_or("")}, false);
        case Bind::pluginControl: return pluginControlLabel(e, n);
        default: return {};
    }
}

// Light text on dark fills, dark text on light ones.
Rgb textColourOn(Rgb fill) {
    const int luma = (299 * fill.r + 587 * fill.g + 114 * fill.b) / 1000;
    return luma > 140 ? Rgb{20, 20, 24} : Rgb{240, 240, 240};
}

// Text size in points from the element's height, within what reads well on a 1440 x 900 screen.
double textSizeFor(Rect frame) { return std::clamp(std::round(frame.height * 0.6), 7.0, 14.0); }

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
    // Text never enters a probe region, nor an element's centre pixel, which is where its state is sampled.
    std::vector<PixelBox> keepOut(1);
    for (const Node& n : tree.nodes())
        if (n.windowKey == w.logicKey && n.hasFrame && n.bind.kind == Bind::pluginControl)
            if (auto probe = probePaint(e, n)) keepOut.push_back(canvas.outer(intersect(probe->region, w.frame)));
    // Pre-order, so children paint over their parents; everything stays inside the window.
    for (const Node& n : tree.nodes()) {
        if (n.windowKey != w.logicKey || n.role == "AXWindow" || !n.hasFrame) continue;
        std::optional<Rgb> fill = colourFor(e, n);
        if (fill) canvas.fill(intersect(n.frame, w.frame), *fill);
        if (auto probe = probePaint(e, n)) canvas.fill(intersect(probe->region, w.frame), probe->colour);
        // A header's name field has no fill of its own: its text lies on the header.
        if (n.bind.kind == Bind::headerName && n.parent >= 0) fill = colourFor(e, tree[n.parent]);
        if (!fill) continue;
        const Label label = labelFor(e, n);
        if (label.lines.empty()) continue;
        const auto [cx, cy] = canvas.pixelOf({n.frame.x + n.frame.width / 2, n.frame.y + n.frame.height / 2});
        keepOut[0] = {cx, cy, cx + 1, cy + 1};
        const int size = static_cast<int>(std::lround(textSizeFor(n.frame) * canvas.sy()));
        canvas.text(canvas.inner(intersect(n.frame, w.frame)), label, textColourOn(*fill), size, keepOut);
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
