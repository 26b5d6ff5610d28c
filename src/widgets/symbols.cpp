#include "widgets/symbols.h"

#include <QImage>
#include <QPainterPath>
#include <cmath>
#include <numbers>
#include <span>
#include <string_view>
#include <unordered_map>

namespace corvane {

namespace {

QPen strokePen(const QColor& color, double weight) {
    QPen pen(color, weight);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// The square a symbol is drawn in, and where its fractions fall.
struct Frame {
    QPainter& p;
    QRectF r;  // the square, centred in the box given
    double s;  // its side
    QColor color;
    double weight;

    QPointF at(double fx, double fy) const { return {r.left() + fx * s, r.top() + fy * s}; }
    QRectF rect(double x0, double y0, double x1, double y1) const { return {at(x0, y0), at(x1, y1)}; }
};

using Drawing = void (*)(const Frame&);

// A circle with short teeth around it.
void gear(const Frame& f) {
    const QPointF c = f.r.center();
    const double r = f.s * 0.45;
    f.p.drawEllipse(c, r * 0.55, r * 0.55);
    for (int i = 0; i < 8; ++i) {
        const double a = i * std::numbers::pi / 4;
        f.p.drawLine(QPointF(c.x() + std::cos(a) * r * 0.7, c.y() + std::sin(a) * r * 0.7),
                     QPointF(c.x() + std::cos(a) * r, c.y() + std::sin(a) * r));
    }
}

// A rounded tile with the symbol's first letter would read as text; a tile with bars is enough
// to tell a tool from its status.
void tile(const Frame& f) {
    const double s = f.s;
    f.p.drawRoundedRect(f.r.adjusted(s * 0.1, s * 0.1, -s * 0.1, -s * 0.1), s * 0.18, s * 0.18);
    f.p.drawLine(f.at(0.3, 0.4), f.at(0.7, 0.4));
    f.p.drawLine(f.at(0.3, 0.6), f.at(0.6, 0.6));
}

void dial(const Frame& f) {
    const double s = f.s;
    f.p.drawEllipse(f.r.adjusted(s * 0.08, s * 0.08, -s * 0.08, -s * 0.08));
    f.p.drawLine(f.r.center(), f.at(0.72, 0.3));
}

// An exclamation mark cut out of a filled shape: the shape in colour, the mark in transparent.
void cutExclamation(QPainter& p, const QRectF& box, double top, double bottom) {
    const double cx = box.center().x();
    const double w = box.width() * 0.11;
    p.setCompositionMode(QPainter::CompositionMode_Clear);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRoundedRect(QRectF(cx - w / 2, top, w, (bottom - top) * 0.68), w / 2, w / 2);
    p.drawEllipse(QPointF(cx, bottom - w * 0.6), w * 0.6, w * 0.6);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

// Filled shapes with a cut-out are drawn on a layer of their own, so the cut shows what lies below.
template <class Draw>
void onLayer(const Frame& f, Draw draw) {
    const qreal ratio = f.p.device() ? f.p.device()->devicePixelRatioF() : 1.0;
    QImage layer((f.r.size() * ratio).toSize() + QSize(2, 2), QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(ratio);
    layer.fill(Qt::transparent);
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p, QRectF(QPointF(0, 0), f.r.size()));
    p.end();
    f.p.drawImage(f.r.topLeft(), layer);
}

// A speech bubble filling `r`, its tail at the bottom on the left or the right.
QPainterPath bubble(const QRectF& r, bool tailLeft) {
    QPainterPath path;
    const double radius = r.height() * 0.35;
    path.addRoundedRect(r.adjusted(0, 0, 0, -r.height() * 0.22), radius, radius);
    QPainterPath tail;
    const double x = tailLeft ? r.left() + r.width() * 0.22 : r.right() - r.width() * 0.22;
    const double dx = tailLeft ? -r.width() * 0.14 : r.width() * 0.14;
    const double y = r.bottom() - r.height() * 0.24;
    tail.moveTo(x - r.width() * 0.08, y);
    tail.lineTo(x + dx, r.bottom());
    tail.lineTo(x + r.width() * 0.12, y);
    tail.closeSubpath();
    return path.united(tail);
}

// --- The transcript's: statuses, the card chevron, the tools' icons ---------------------------------

const std::pair<std::string_view, Drawing> kTranscriptSymbols[] = {
    {"checkmark",
     [](const Frame& f) {
         f.p.drawPolyline(QList<QPointF>{f.at(0.12, 0.55), f.at(0.4, 0.82), f.at(0.9, 0.2)});
     }},
    {"xmark",
     [](const Frame& f) {
         f.p.drawLine(f.at(0.18, 0.18), f.at(0.82, 0.82));
         f.p.drawLine(f.at(0.82, 0.18), f.at(0.18, 0.82));
     }},
    {"chevron.down",
     [](const Frame& f) {
         f.p.drawPolyline(QList<QPointF>{f.at(0.12, 0.32), f.at(0.5, 0.7), f.at(0.88, 0.32)});
     }},
    {"arrow.triangle.2.circlepath",
     [](const Frame& f) {
         // Two arcs chasing each other, each with an arrow head.
         const QRectF ring = f.rect(0.12, 0.12, 0.88, 0.88);
         f.p.drawArc(ring, 20 * 16, 140 * 16);
         f.p.drawArc(ring, 200 * 16, 140 * 16);
         f.p.drawPolyline(QList<QPointF>{f.at(0.02, 0.38), f.at(0.14, 0.56), f.at(0.32, 0.42)});
         f.p.drawPolyline(QList<QPointF>{f.at(0.98, 0.62), f.at(0.86, 0.44), f.at(0.68, 0.58)});
     }},
    {"flag",
     [](const Frame& f) {
         f.p.drawLine(f.at(0.2, 0.08), f.at(0.2, 0.95));
         QPainterPath cloth;
         cloth.moveTo(f.at(0.2, 0.1));
         cloth.lineTo(f.at(0.85, 0.1));
         cloth.lineTo(f.at(0.7, 0.32));
         cloth.lineTo(f.at(0.85, 0.55));
         cloth.lineTo(f.at(0.2, 0.55));
         f.p.drawPath(cloth);
     }},
    {"list.bullet",
     [](const Frame& f) {
         for (double y : {0.22, 0.5, 0.78}) {
             f.p.drawPoint(f.at(0.12, y));
             f.p.drawLine(f.at(0.32, y), f.at(0.9, y));
         }
     }},
    {"slider.horizontal.3",
     [](const Frame& f) {
         const double knobs[3] = {0.3, 0.7, 0.45};
         for (int i = 0; i < 3; ++i) {
             const double y = 0.2 + 0.3 * i;
             f.p.drawLine(f.at(0.05, y), f.at(0.95, y));
             f.p.drawEllipse(f.at(knobs[i], y), f.s * 0.08, f.s * 0.08);
         }
     }},
    {"gauge", dial},
    {"dial.medium", dial},
    {"play.circle",
     [](const Frame& f) {
         const double s = f.s;
         f.p.drawEllipse(f.r.adjusted(s * 0.06, s * 0.06, -s * 0.06, -s * 0.06));
         f.p.drawPolygon(QList<QPointF>{f.at(0.42, 0.32), f.at(0.7, 0.5), f.at(0.42, 0.68)});
     }},
    {"power",
     [](const Frame& f) {
         const double s = f.s;
         f.p.drawArc(f.r.adjusted(s * 0.12, s * 0.16, -s * 0.12, -s * 0.08), 120 * 16, 300 * 16);
         f.p.drawLine(f.at(0.5, 0.05), f.at(0.5, 0.45));
     }},
    {"ear", tile},
    {"speaker.slash", tile},
    {"doc.text", tile},
    {"pencil", tile},
    {"puzzlepiece", tile},
    {"square.grid.2x2", tile},
    {"rectangle.3.group", tile},
    {"arrow.up.arrow.down", tile},
    {"chevron.down.square", tile},
};

// --- The window's: its bars, banners and song-brief strip -------------------------------------------

const std::pair<std::string_view, Drawing> kWindowSymbols[] = {
    {"sidebar.left",
     [](const Frame& f) {
         const double s = f.s;
         const QRectF frame = f.r.adjusted(s * 0.06, s * 0.16, -s * 0.06, -s * 0.16);
         f.p.drawRoundedRect(frame, s * 0.14, s * 0.14);
         const double split = frame.left() + frame.width() * 0.36;
         f.p.drawLine(QPointF(split, frame.top()), QPointF(split, frame.bottom()));
         for (int i = 0; i < 3; ++i) {
             const double y = frame.top() + frame.height() * (0.3 + 0.17 * i);
             f.p.drawLine(QPointF(frame.left() + s * 0.1, y), QPointF(split - s * 0.1, y));
         }
     }},
    {"chevron.left",
     [](const Frame& f) {
         f.p.drawPolyline(QList<QPointF>{f.at(0.62, 0.16), f.at(0.3, 0.5), f.at(0.62, 0.84)});
     }},
    {"ellipsis",
     [](const Frame& f) {
         f.p.setPen(Qt::NoPen);
         f.p.setBrush(f.color);
         const double r = std::max(0.8, f.s * 0.09);
         for (int i = -1; i <= 1; ++i) f.p.drawEllipse(f.at(0.5 + i * 0.33, 0.5), r, r);
     }},
    {"music.note",
     [](const Frame& f) {
         const QPointF stemTop = f.at(0.62, 0.1);
         const QPointF stemBottom = f.at(0.62, 0.75);
         f.p.drawLine(stemTop, stemBottom);
         f.p.drawLine(stemTop, f.at(0.86, 0.3));
         f.p.setPen(Qt::NoPen);
         f.p.setBrush(f.color);
         f.p.drawEllipse(QPointF(stemBottom.x() - f.s * 0.17, stemBottom.y()), f.s * 0.2, f.s * 0.15);
     }},
    {"exclamationmark.octagon.fill",
     [](const Frame& f) {
         onLayer(f, [&](QPainter& p, const QRectF& r) {
             QPolygonF octagon;
             for (int i = 0; i < 8; ++i) {
                 const double angle = (22.5 + 45.0 * i) * std::numbers::pi / 180.0;
                 octagon << QPointF(r.center().x() + std::cos(angle) * f.s * 0.5,
                                    r.center().y() + std::sin(angle) * f.s * 0.5);
             }
             p.setPen(Qt::NoPen);
             p.setBrush(f.color);
             p.drawPolygon(octagon);
             cutExclamation(p, r, r.top() + f.s * 0.2, r.bottom() - f.s * 0.2);
         });
     }},
    {"exclamationmark.triangle.fill",
     [](const Frame& f) {
         onLayer(f, [&](QPainter& p, const QRectF& r) {
             const double s = f.s;
             QPainterPath triangle;
             triangle.moveTo(r.center().x(), r.top() + s * 0.06);
             triangle.lineTo(r.right() - s * 0.02, r.bottom() - s * 0.08);
             triangle.lineTo(r.left() + s * 0.02, r.bottom() - s * 0.08);
             triangle.closeSubpath();
             p.setPen(strokePen(f.color, s * 0.08));
             p.setBrush(f.color);
             p.drawPath(triangle);
             cutExclamation(p, r, r.top() + s * 0.34, r.bottom() - s * 0.18);
         });
     }},
};

// --- The project page's ---------------------------------------------------------------------------

const std::pair<std::string_view, Drawing> kPageSymbols[] = {
    {"folder.fill",
     [](const Frame& f) {
         // A tab on the upper left, the body below it.
         QPainterPath folder;
         folder.moveTo(f.at(0.04, 0.22));
         folder.lineTo(f.at(0.38, 0.22));
         folder.lineTo(f.at(0.46, 0.3));
         folder.lineTo(f.at(0.96, 0.3));
         folder.lineTo(f.at(0.96, 0.84));
         folder.lineTo(f.at(0.04, 0.84));
         folder.closeSubpath();
         f.p.setPen(Qt::NoPen);
         f.p.setBrush(f.color);
         f.p.drawPath(folder);
     }},
    {"plus",
     [](const Frame& f) {
         f.p.drawLine(f.at(0.5, 0.12), f.at(0.5, 0.88));
         f.p.drawLine(f.at(0.12, 0.5), f.at(0.88, 0.5));
     }},
    {"bubble.left.and.bubble.right",
     [](const Frame& f) {
         // Two overlapping outlined bubbles, the front one lower right.
         f.p.drawPath(bubble(f.rect(0.02, 0.08, 0.66, 0.6), true));
         f.p.drawPath(bubble(f.rect(0.34, 0.38, 0.98, 0.92), false));
     }},
    {"trash",
     [](const Frame& f) {
         f.p.drawLine(f.at(0.14, 0.24), f.at(0.86, 0.24));
         f.p.drawPolyline(QList<QPointF>{f.at(0.38, 0.24), f.at(0.4, 0.1), f.at(0.6, 0.1), f.at(0.62, 0.24)});
         f.p.drawPolyline(QList<QPointF>{f.at(0.22, 0.24), f.at(0.28, 0.92), f.at(0.72, 0.92), f.at(0.78, 0.24)});
         f.p.drawLine(f.at(0.42, 0.4), f.at(0.43, 0.76));
         f.p.drawLine(f.at(0.58, 0.4), f.at(0.57, 0.76));
     }},
};

// --- The input bar's, the sidebar's and the account sheet's ------------------------------------------

const std::pair<std::string_view, Drawing> kPanelSymbols[] = {
    {"paperclip",
     [](const Frame& f) {
         QPainterPath clip;
         clip.moveTo(f.at(0.64, 0.3));
         clip.lineTo(f.at(0.64, 0.72));
         clip.arcTo(f.rect(0.28, 0.56, 0.64, 0.92), 0, -180);
         clip.lineTo(f.at(0.28, 0.22));
         clip.arcTo(f.rect(0.28, 0.06, 0.54, 0.34), 180, -180);
         clip.lineTo(f.at(0.54, 0.68));
         f.p.drawPath(clip);
     }},
    {"cpu",
     [](const Frame& f) {
         f.p.drawRoundedRect(f.rect(0.24, 0.24, 0.76, 0.76), f.s * 0.08, f.s * 0.08);
         f.p.drawRect(f.rect(0.4, 0.4, 0.6, 0.6));
         for (double x : {0.36, 0.5, 0.64}) {
             f.p.drawLine(f.at(x, 0.08), f.at(x, 0.24));
             f.p.drawLine(f.at(x, 0.76), f.at(x, 0.92));
             f.p.drawLine(f.at(0.08, x), f.at(0.24, x));
             f.p.drawLine(f.at(0.76, x), f.at(0.92, x));
         }
     }},
    {"photo.fill",
     [](const Frame& f) {
         f.p.drawRoundedRect(f.rect(0.06, 0.16, 0.94, 0.84), f.s * 0.12, f.s * 0.12);
         f.p.setPen(Qt::NoPen);
         f.p.setBrush(f.color);
         f.p.drawPolygon(
             QList<QPointF>{f.at(0.14, 0.78), f.at(0.4, 0.44), f.at(0.58, 0.64), f.at(0.7, 0.52), f.at(0.86, 0.78)});
         f.p.drawEllipse(f.at(0.7, 0.34), f.s * 0.08, f.s * 0.08);
     }},
    {"stop.fill",
     [](const Frame& f) {
         f.p.setBrush(f.color);
         f.p.drawRoundedRect(f.rect(0.22, 0.22, 0.78, 0.78), f.s * 0.08, f.s * 0.08);
     }},
    {"arrow.up",
     [](const Frame& f) {
         f.p.drawLine(f.at(0.5, 0.86), f.at(0.5, 0.14));
         f.p.drawPolyline(QList<QPointF>{f.at(0.18, 0.46), f.at(0.5, 0.14), f.at(0.82, 0.46)});
     }},
    {"chevron.right",
     [](const Frame& f) {
         f.p.drawPolyline(QList<QPointF>{f.at(0.34, 0.14), f.at(0.7, 0.5), f.at(0.34, 0.86)});
     }},
    {"person.crop.circle",
     [](const Frame& f) {
         f.p.drawEllipse(f.rect(0.04, 0.04, 0.96, 0.96));
         f.p.drawEllipse(f.at(0.5, 0.4), f.s * 0.15, f.s * 0.15);
         f.p.drawArc(f.rect(0.2, 0.62, 0.8, 1.1), 30 * 16, 120 * 16);
     }},
    {"arrow.up.right.square",
     [](const Frame& f) {
         f.p.drawRoundedRect(f.rect(0.08, 0.08, 0.92, 0.92), f.s * 0.16, f.s * 0.16);
         f.p.drawLine(f.at(0.34, 0.66), f.at(0.66, 0.34));
         f.p.drawPolyline(QList<QPointF>{f.at(0.4, 0.34), f.at(0.66, 0.34), f.at(0.66, 0.6)});
     }},
    {"rectangle.portrait.and.arrow.right",
     [](const Frame& f) {
         f.p.drawPolyline(QList<QPointF>{f.at(0.56, 0.32), f.at(0.56, 0.1), f.at(0.12, 0.1), f.at(0.12, 0.9),
                                         f.at(0.56, 0.9), f.at(0.56, 0.68)});
         f.p.drawLine(f.at(0.36, 0.5), f.at(0.94, 0.5));
         f.p.drawPolyline(QList<QPointF>{f.at(0.78, 0.34), f.at(0.94, 0.5), f.at(0.78, 0.66)});
     }},
};

const std::unordered_map<std::string_view, Drawing>& drawings() {
    static const auto table = [] {
        std::unordered_map<std::string_view, Drawing> out;
        using Area = std::span<const std::pair<std::string_view, Drawing>>;
        for (const Area area :
             {Area(kTranscriptSymbols), Area(kWindowSymbols), Area(kPageSymbols), Area(kPanelSymbols)})
            for (const auto& [name, drawing] : area) out.emplace(name, drawing);
        return out;
    }();
    return table;
}

}  // namespace

bool hasSymbol(const std::string& name) { return drawings().contains(name); }

void drawSymbol(QPainter& painter, const std::string& name, const QRectF& box, const QColor& color, double weight) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(strokePen(color, weight));
    painter.setBrush(Qt::NoBrush);
    const double s = std::min(box.width(), box.height());
    const Frame frame{painter, QRectF(box.center().x() - s / 2, box.center().y() - s / 2, s, s), s, color, weight};
    const auto& table = drawings();
    const auto found = table.find(name);
    (found == table.end() ? gear : found->second)(frame);
    painter.restore();
}

void drawSpinner(QPainter& painter, const QRectF& box, const QColor& color, double turns) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF c = box.center();
    const double r = std::min(box.width(), box.height()) / 2;
    const double phase = turns - std::floor(turns);
    // Eight spokes, the brightest one turning.
    for (int i = 0; i < 8; ++i) {
        const double a = (i / 8.0 + phase) * 2 * std::numbers::pi;
        QColor spoke = color;
        spoke.setAlphaF(float(color.alphaF() * (0.25 + 0.75 * i / 7.0)));
        painter.setPen(strokePen(spoke, std::max(1.0, r * 0.25)));
        painter.drawLine(QPointF(c.x() + std::cos(a) * r * 0.45, c.y() + std::sin(a) * r * 0.45),
                         QPointF(c.x() + std::cos(a) * r, c.y() + std::sin(a) * r));
    }
    painter.restore();
}

SymbolView::SymbolView(std::string name, double size, QColor color, double stroke, QWidget* parent)
    : QWidget(parent), name_(std::move(name)), color_(color), stroke_(stroke) {
    const int side = int(std::ceil(size));
    setFixedSize(side, side);
    setAttribute(Qt::WA_TranslucentBackground);
}

SymbolView::SymbolView(std::string name, double size, Weight weight, QColor color, QWidget* parent)
    : SymbolView(std::move(name), size, color, stroke(weight, size), parent) {}

double SymbolView::stroke(Weight weight, double size) {
    const double base = weight == Weight::semibold ? 1.8 : weight == Weight::medium ? 1.5 : 1.2;
    return base * std::max(0.7, size / 12.0);
}

void SymbolView::setName(std::string name) {
    if (name == name_) return;
    name_ = std::move(name);
    update();
}

void SymbolView::setColor(const QColor& color) {
    if (color == color_) return;
    color_ = color;
    update();
}

// Half a point in from the edge, so that a stroke along it stays whole.
void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawSymbol(painter, name_, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), color_, stroke_);
}

}  // namespace corvane
