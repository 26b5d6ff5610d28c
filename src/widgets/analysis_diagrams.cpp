#include "widgets/analysis_diagrams.h"

#include <type_traits>

namespace corvane {

using namespace diagram;

void paintSpectrumCurve(DiagramPainter& painter, const SpectrumCurveLayout& layout, double width, double height) {
    painter.qt().save();
    painter.clipTo({0, 0, width, height}, 8);
    for (const auto& box : layout.background) painter.fill(box);
    for (const auto& title : layout.title) painter.text(title);
    for (const auto& line : layout.grid) painter.stroke(line);
    painter.stroke(layout.baseline);
    for (const auto& area : layout.area) painter.fill(area);
    for (const auto& line : layout.line) painter.stroke(line);
    for (const auto& mark : layout.marks) {
        painter.fill(mark.dot);
        painter.text(mark.percentage);
        painter.text(mark.name);
    }
    painter.qt().restore();
}

void paintOverlapCurve(DiagramPainter& painter, const OverlapCurveLayout& layout, double width, double height) {
    const Rect frame{0, 0, width, height};
    painter.qt().save();
    painter.clipTo(frame, 8);
    for (const auto& box : layout.background) painter.fill(box);
    for (const auto& line : layout.grid) painter.stroke(line);
    painter.stroke(layout.baseline);
    for (const auto& box : layout.markedRange) {
        painter.fill(box);
        painter.strokeInside(box.rect, 0, layout.markedRangeOutline);
    }
    for (const auto& area : layout.sharedArea) painter.fill(area);
    for (const auto& curve : layout.curves) {
        painter.fill(curve.area);
        painter.stroke(curve.line);
    }
    for (const auto& entry : layout.legend) {
        painter.fill(entry.swatch);
        painter.text(entry.name);
    }
    for (const auto& label : layout.frequencyLabels) painter.text(label);
    painter.qt().restore();
    painter.strokeInside(frame, 8, layout.frame);
}

void paintLevelsMeter(DiagramPainter& painter, const LevelsMeterLayout& layout) {
    painter.qt().save();
    painter.clipTo(layout.background.rect, layout.background.cornerRadius);
    painter.fill(layout.background);
    for (const auto& label : layout.scaleLabels) painter.text(label);
    for (const auto& tick : layout.scaleTicks) painter.stroke(tick);
    for (const auto& row : layout.rows) {
        painter.text(row.name);
        painter.text(row.readout);
        painter.fill(row.track);
        for (const auto& zone : row.zones) painter.fill(zone);
    }
    for (const auto& line : layout.target) painter.stroke(line);
    for (const auto& label : layout.targetLabel) painter.text(label);
    painter.qt().restore();
    painter.strokeInside(layout.background.rect, layout.background.cornerRadius, layout.outline);
}

void paintLevelsCompare(DiagramPainter& painter, const LevelsCompareLayout& layout) {
    painter.text(layout.heading);
    for (const auto& row : layout.rows) {
        painter.text(row.name);
        painter.fill(row.under);
        painter.fill(row.over);
        painter.text(row.value);
    }
}

void paintStereoField(DiagramPainter& painter, const StereoFieldLayout& layout) {
    for (const auto& row : layout.rows) {
        painter.text(row.name);
        for (const auto& box : row.field) painter.fill(box);
        painter.text(row.widthReadout);
        painter.text(row.correlationReadout);
    }
}

void paintBeforeAfter(DiagramPainter& painter, const BeforeAfterLayout& layout) {
    painter.text(layout.heading);
    for (const auto* column : {&layout.before, &layout.after}) {
        painter.text(column->label);
        QPainter& qt = painter.qt();
        qt.save();
        qt.translate(column->frame.x, column->frame.y);
        qt.setClipRect(QRectF(0, 0, column->frame.width, column->frame.height), Qt::IntersectClip);
        const double w = column->frame.width;
        const double h = column->frame.height;
        std::visit(
            [&](const auto& diagram) {
                using D = std::decay_t<decltype(diagram)>;
                if constexpr (std::is_same_v<D, SpectrumCurveLayout>) paintSpectrumCurve(painter, diagram, w, h);
                if constexpr (std::is_same_v<D, StereoFieldLayout>) paintStereoField(painter, diagram);
                if constexpr (std::is_same_v<D, LevelsCompareLayout>) paintLevelsCompare(painter, diagram);
            },
            column->diagram);
        qt.restore();
    }
}

void SpectrumCurveDiagram::paint(DiagramPainter& painter, double width, double height) const {
    paintSpectrumCurve(painter, layoutSpectrumCurve(trackName, bands, gridFreqs, width, height), width, height);
}

void OverlapCurveDiagram::paint(DiagramPainter& painter, double width, double height) const {
    paintOverlapCurve(painter, layoutOverlapCurve(tracks, overlapRange, gridFreqs, width, height), width, height);
}

void LevelsMeterDiagram::paint(DiagramPainter& painter, double width, double) const {
    paintLevelsMeter(painter, layoutLevelsMeter(tracks, targetDb, width));
}

void LevelsCompareDiagram::paint(DiagramPainter& painter, double width, double height) const {
    paintLevelsCompare(painter, layoutLevelsCompare(tracks, width, height));
}

void StereoFieldDiagram::paint(DiagramPainter& painter, double width, double height) const {
    paintStereoField(painter, layoutStereoField(tracks, width, height));
}

void BeforeAfterDiagram::paint(DiagramPainter& painter, double width, double) const {
    paintBeforeAfter(painter, layoutBeforeAfter(before, after, metric, width));
}

void ChosenDiagram::paint(DiagramPainter& painter, double width, double) const {
    painter.qt().translate(0, padding());
    const double h = choice.height;
    using Kind = DiagramChoice::Kind;
    switch (choice.kind) {
        case Kind::spectrumCurve: paintSpectrumCurve(painter, choice.spectrumCurve(width), width, h); break;
        case Kind::overlapCurve: paintOverlapCurve(painter, choice.overlapCurve(width), width, h); break;
        case Kind::stereoField: paintStereoField(painter, choice.stereoField(width)); break;
        case Kind::levelsCompare: paintLevelsCompare(painter, choice.levelsCompare(width)); break;
        case Kind::beforeAfter: paintBeforeAfter(painter, choice.beforeAfter(width)); break;
    }
}

}  // namespace corvane
