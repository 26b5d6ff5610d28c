#pragma once

#include <optional>
#include <string>
#include <vector>

#include "diagrams/comparison_diagrams.h"
#include "diagrams/diagram_router.h"
#include "diagrams/levels_meter.h"
#include "diagrams/overlap_curve.h"
#include "diagrams/spectrum.h"
#include "widgets/diagram_view.h"

namespace corvane {

// The drawing of each diagram's layout, in the layout's own coordinates.
void paintSpectrumCurve(DiagramPainter& painter, const SpectrumCurveLayout& layout, double width, double height);
void paintOverlapCurve(DiagramPainter& painter, const OverlapCurveLayout& layout, double width, double height);
void paintLevelsMeter(DiagramPainter& painter, const LevelsMeterLayout& layout);
void paintLevelsCompare(DiagramPainter& painter, const LevelsCompareLayout& layout);
void paintStereoField(DiagramPainter& painter, const StereoFieldLayout& layout);
void paintBeforeAfter(DiagramPainter& painter, const BeforeAfterLayout& layout);

// One track's frequency balance in a frame of the caller's height.
struct SpectrumCurveDiagram {
    std::string trackName;
    std::vector<double> bands;
    double frameHeight;
    std::vector<double> gridFreqs = kSpectrumGridFreqs;

    double heightFor(double, const QPaintDevice*) const { return frameHeight; }
    void paint(DiagramPainter& painter, double width, double height) const;
};
using SpectrumCurveWidget = DiagramWidget<SpectrumCurveDiagram>;

struct OverlapCurveDiagram {
    std::vector<OverlapTrack> tracks;
    std::string overlapRange;
    double frameHeight;
    std::vector<double> gridFreqs = kOverlapGridFreqs;

    double heightFor(double, const QPaintDevice*) const { return frameHeight; }
    void paint(DiagramPainter& painter, double width, double height) const;
};
using OverlapCurveWidget = DiagramWidget<OverlapCurveDiagram>;

// The meter is as high as its rows need.
struct LevelsMeterDiagram {
    std::vector<LevelsMeterTrack> tracks;
    std::optional<double> targetDb;

    double heightFor(double, const QPaintDevice*) const { return levelsMeterHeight(tracks.size()); }
    void paint(DiagramPainter& painter, double width, double height) const;
};
using LevelsMeterWidget = DiagramWidget<LevelsMeterDiagram>;

struct LevelsCompareDiagram {
    TrackAnalysisList tracks;

    double heightFor(double, const QPaintDevice*) const { return levelsCompareFrameHeight(tracks.size()); }
    void paint(DiagramPainter& painter, double width, double height) const;
};
using LevelsCompareWidget = DiagramWidget<LevelsCompareDiagram>;

struct StereoFieldDiagram {
    TrackAnalysisList tracks;

    double heightFor(double, const QPaintDevice*) const { return stereoFieldHeight(tracks.size()); }
    void paint(DiagramPainter& painter, double width, double height) const;
};
using StereoFieldWidget = DiagramWidget<StereoFieldDiagram>;

struct BeforeAfterDiagram {
    TrackAnalysisList before;
    TrackAnalysisList after;
    std::string metric;

    double heightFor(double, const QPaintDevice*) const { return beforeAfterHeight(before, after, metric); }
    void paint(DiagramPainter& painter, double width, double height) const;
};
using BeforeAfterWidget = DiagramWidget<BeforeAfterDiagram>;

// The diagram the router or a "show_visual" result chose, in its frame height; with the
// router's padding above and below when `withRouterPadding`.
struct ChosenDiagram {
    DiagramChoice choice;
    bool withRouterPadding = true;

    double padding() const { return withRouterPadding ? VisualDiagramRouter::verticalPadding : 0; }
    double heightFor(double, const QPaintDevice*) const { return choice.height + 2 * padding(); }
    void paint(DiagramPainter& painter, double width, double height) const;
};
using DiagramChoiceWidget = DiagramWidget<ChosenDiagram>;

}  // namespace corvane
