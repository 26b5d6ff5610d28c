#pragma once

#include <cmath>
#include <string>
#include <vector>

// What a diagram hands its painter: positions in points inside the diagram's own canvas (origin
// at the top left, y downwards), colours as sRGB components 0...1 with an opacity, and texts
// with the point they hang from. A painter draws these as given; all arithmetic is done here.
namespace corvane::diagram {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    double maxX() const { return x + width; }
    double maxY() const { return y + height; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct Color {
    double red = 1;
    double green = 1;
    double blue = 1;
    double opacity = 1;
    Color withOpacity(double o) const { return {red, green, blue, o}; }
    friend bool operator==(const Color&, const Color&) = default;
};

constexpr Color white(double opacity) { return {1, 1, 1, opacity}; }

enum class FontWeight { regular, medium, semibold, bold };

struct Font {
    double size = 10;
    FontWeight weight = FontWeight::regular;
    bool monospaced = false;
    bool rounded = false;
    bool italic = false;
    friend bool operator==(const Font&, const Font&) = default;
};

// The height a one-line text of this font takes in a stack: the layouts below size their
// frames with it, so a painter needs no font metrics to place rows.
inline double lineHeight(const Font& font) { return std::ceil(font.size * 1.25); }

// Which point of a text's box `at` names.
enum class Anchor { leadingCentre, trailingCentre, centre, bottomCentre, topLeading };

struct Label {
    std::string text{};
    Font font{};
    Color color{};
    Point at{};
    Anchor anchor = Anchor::leadingCentre;
    double maxWidth = 0;  // > 0: one line, cut with an ellipsis at the tail beyond this width
    bool struckThrough = false;
};

// Texts (and an optional leading dot) set side by side with `spacing` between them, the whole
// row hanging from `at`; the painter measures the texts, nothing else.
struct LabelRow {
    std::vector<Label> parts{};  // their own `at` and `anchor` are not used
    double spacing = 4;
    Point at{};
    Anchor anchor = Anchor::trailingCentre;
    double dotDiameter = 0;  // > 0: a filled circle of dotColor before the texts
    Color dotColor{};
};

struct Stroke {
    Color color{};
    double width = 1;
    std::vector<double> dash{};  // on, off, ...; empty for a solid line
    bool round = false;          // round caps and joins
};

struct Segment {
    Point from{};
    Point to{};
    Stroke stroke{};
};

// A closed, filled outline (non-zero winding).
struct Area {
    std::vector<Point> outline{};
    Color fill{};
};

// An open path through its points.
struct Polyline {
    std::vector<Point> points{};
    Stroke stroke{};
};

// A filled rectangle, rounded when cornerRadius > 0; a circle is a square with half its side.
struct Box {
    Rect rect{};
    double cornerRadius = 0;
    Color fill{};
    friend bool operator==(const Box&, const Box&) = default;
};

// The five band shares in their fixed order: sub, bass, low-mid, high-mid, air.
inline const std::vector<std::string>& bandLabels() {
    static const std::vector<std::string> labels{"Sub", "Bass", "Low Mid", "Hi Mid", "Air"};
    return labels;
}

}  // namespace corvane::diagram
