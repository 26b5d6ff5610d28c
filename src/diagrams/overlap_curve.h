#pragma once

#include <string>
#include <utility>
#include <vector>

#include "diagrams/diagram_shapes.h"

namespace corvane {

struct OverlapTrack {
    std::string name;
    std::vector<double> bands;
};

// The frequency range a text such as "2.5 kHz - 8 kHz" names, (200, 500) when it names none.
// Low and high are not reordered.
std::pair<double, double> parseRangeHz(const std::string& text);

// Several tracks' curves on one axis, the area all of them share (where they mask each other)
// shaded, a named range marked, a colour legend in rows of three and frequency labels.
struct OverlapCurveLayout {
    struct TrackCurve {
        diagram::Area area;  // empty outlines for a track with fewer than five bands
        diagram::Polyline line;
    };
    struct LegendEntry {
        diagram::Box swatch;
        diagram::Label name;
    };
    std::vector<diagram::Box> background;  // fill, radius 8
    diagram::Stroke frame;                 // the red outline of the same rounded rectangle
    std::vector<diagram::Segment> grid;
    diagram::Segment baseline;
    std::vector<diagram::Box> markedRange;  // fill then outline colour; empty unless low < high
    diagram::Stroke markedRangeOutline;
    std::vector<diagram::Area> sharedArea;  // only with two tracks or more
    std::vector<TrackCurve> curves;         // one per track, in order
    std::vector<LegendEntry> legend;
    std::vector<diagram::Label> frequencyLabels;
    double plotTop = 0;
    double baselineY = 0;
    double scale = 0;
};

// The colour pairs of the tracks, track i taking pair i mod 6.
struct OverlapPalette {
    diagram::Color fill;
    diagram::Color stroke;
};
const OverlapPalette& overlapPalette(size_t trackIndex);

OverlapCurveLayout layoutOverlapCurve(const std::vector<OverlapTrack>& tracks, const std::string& overlapRange,
                                      const std::vector<double>& gridFreqs, double width, double height);

}  // namespace corvane
