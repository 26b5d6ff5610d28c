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
class SpectrumCurveWidget : public DiagramView {
public:
    SpectrumCurveWidget(std::string trackName, std::vector<double> bands, double frameHeight,
                        std::vector<double> gridFreqs = kSpectrumGridFreqs, QWidget* parent = nullptr);
    double heightFor(double) const override { return frameHeight_; }

protected:
    void paint(DiagramPainter& painter, double width, double height) const override;

private:
    std::string trackName_;
    std::vector<double> bands_;
    double frameHeight_;
    std::vector<double> gridFreqs_;
};

class OverlapCurveWidget : public DiagramView {
public:
    OverlapCurveWidget(std::vector<OverlapTrack> tracks, std::string overlapRange, double frameHeight,
                       std::vector<double> gridFreqs = kOverlapGridFreqs, QWidget* parent = nullptr);
    double heightFor(double) const override { return frameHeight_; }

protected:
    void paint(DiagramPainter& painter, double width, double height) const override;

private:
    std::vector<OverlapTrack> tracks_;
    std::string overlapRange_;
    double frameHeight_;
    std::vector<double> gridFreqs_;
};

// The meter is as high as its rows need.
class LevelsMeterWidget : public DiagramView {
public:
    LevelsMeterWidget(std::vector<LevelsMeterTrack> tracks, std::optional<double> targetDb, QWidget* parent = nullptr);
    double heightFor(double) const override { return levelsMeterHeight(tracks_.size()); }

protected:
    void paint(DiagramPainter& painter, double width, double height) const override;

private:
    std::vector<LevelsMeterTrack> tracks_;
    std::optional<double> targetDb_;
};

class LevelsCompareWidget : public DiagramView {
public:
    explicit LevelsCompareWidget(TrackAnalysisList tracks, QWidget* parent = nullptr);
    double heightFor(double) const override { return levelsCompareFrameHeight(tracks_.size()); }

protected:
    void paint(DiagramPainter& painter, double width, double height) const override;

private:
    TrackAnalysisList tracks_;
};

class StereoFieldWidget : public DiagramView {
public:
    explicit StereoFieldWidget(TrackAnalysisList tracks, QWidget* parent = nullptr);
    double heightFor(double) const override { return stereoFieldHeight(tracks_.size()); }

protected:
    void paint(DiagramPainter& painter, double width, double height) const override;

private:
    TrackAnalysisList tracks_;
};

class BeforeAfterWidget : public DiagramView {
public:
    BeforeAfterWidget(TrackAnalysisList before, TrackAnalysisList after, std::string metric, QWidget* parent = nullptr);
    double heightFor(double) const override { return beforeAfterHeight(before_, after_, metric_); }

protected:
    void paint(DiagramPainter& painter, double width, double height) const override;

private:
    TrackAnalysisList before_;
    TrackAnalysisList after_;
    std::string metric_;
};

// The diagram the router or a "show_visual" result chose, in its frame height; with the
// router's padding above and below when `withRouterPadding`.
class DiagramChoiceWidget : public DiagramView {
public:
    explicit DiagramChoiceWidget(DiagramChoice choice, bool withRouterPadding = true, QWidget* parent = nullptr);
    double heightFor(double) const override;

protected:
    void paint(DiagramPainter& painter, double width, double height) const override;

private:
    DiagramChoice choice_;
    double padding_;
};

}  // namespace corvane
