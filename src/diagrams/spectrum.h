#pragma once

#include <string>
#include <vector>

#include "model/chat_model_tool_results.h"
#include "diagrams/diagram_shapes.h"

namespace corvane {

// Where a frequency sits on the curves' axis: 20 Hz at 0, 20 kHz (and above) at 1, three
// decades in between; below 20 Hz at 0.
double frequencyAxisPosition(double hz);

// The five band shares of a track in band order, a missing share read as 0.
std::vector<double> bandShares(const AudioAnalysisToolResult::TrackAnalysisInfo& track);

struct SpectrumPoint {
    double x = 0;
    double value = 0;  // never below 0
    friend bool operator==(const SpectrumPoint&, const SpectrumPoint&) = default;
};

// A smooth curve through a track's band shares: uniform Catmull-Rom through seven anchors on the
// log axis (20 Hz carries 0.3 × sub, the five band centres their shares, 20 kHz 0.3 × air).
struct SpectrumInterpolation {
    static constexpr double anchorFrequencies[7] = {20, 40, 150, 400, 2500, 10000, 20000};

    // `pointCount` points evenly spaced in axis position from x = 0 (20 Hz) to x = width (20 kHz);
    // empty for fewer than five bands. A single point is the 20 Hz one.
    static std::vector<SpectrumPoint> interpolateSpectrum(const std::vector<double>& bands, int pointCount,
                                                          double width);
};

// One track's frequency balance: a filled curve with a dot, a percentage and a band name at
// each band centre. The router frames it 180 pt high, the before/after columns 120 pt.
struct SpectrumCurveLayout {
    struct BandMark {
        diagram::Box dot;
        diagram::Label percentage;
        diagram::Label name;
    };
    std::vector<diagram::Box> background;  // the canvas's fill, corner radius 8
    std::vector<diagram::Label> title;     // empty when the track has no name
    std::vector<diagram::Segment> grid;
    diagram::Segment baseline;
    std::vector<diagram::Area> area;  // empty with fewer than five bands, as are the two below
    std::vector<diagram::Polyline> line;
    std::vector<BandMark> marks;
    double plotTop = 0;
    double scale = 0;  // the share drawn at the plot's top
};

SpectrumCurveLayout layoutSpectrumCurve(const std::string& trackName, const std::vector<double>& bands,
                                        const std::vector<double>& gridFreqs, double width, double height);

}  // namespace corvane
