#pragma once

#include <string>
#include <variant>
#include <vector>

#include "model/chat_model_tool_results.h"
#include "diagrams/diagram_shapes.h"
#include "diagrams/spectrum.h"

namespace corvane {

using TrackAnalysisList = std::vector<AudioAnalysisToolResult::TrackAnalysisInfo>;

// Short-term loudness of several tracks as bars under "Levels", one row per track by position.
struct LevelsCompareLayout {
    struct Row {
        double level = -60;   // the loudness, -60 when not measured
        double fraction = 0;  // its place in -60...0
        diagram::Label name;  // cut at 100 pt
        diagram::Box under;   // the bar, drawn twice: 0.3 then 0.6 opacity of the zone colour
        diagram::Box over;
        diagram::Label value;
    };
    diagram::Label heading;
    std::vector<Row> rows;
    double contentHeight = 0;  // what the heading and rows take
};

// In a frame of the given size, the content centred vertically in it.
LevelsCompareLayout layoutLevelsCompare(const TrackAnalysisList& tracks, double width, double frameHeight);

// Each track's stereo width as a band spreading from the centre of a field, and its phase
// correlation, coloured by how safely it folds to mono.
struct StereoFieldLayout {
    struct Row {
        int percentage = 0;
        std::string widthWord;
        std::string correlationWord;
        diagram::Color phaseColor;
        diagram::Label name;
        std::vector<diagram::Box> field;  // track, centre line, spread, left and right edge
        diagram::LabelRow widthReadout;
        diagram::LabelRow correlationReadout;
    };
    std::vector<Row> rows;
    double contentHeight = 0;
};

StereoFieldLayout layoutStereoField(const TrackAnalysisList& tracks, double width, double frameHeight);

// The frame heights the callers give these diagrams: each holds its content.
double stereoFieldHeight(size_t rows);         // 36 per row + 16
double levelsCompareFrameHeight(size_t rows);  // 28 per row + 30

// Two analyses side by side under "Before" and "After", drawn by metric: "stereo", "levels", or
// the first track's spectrum curve for "freq" and any other text. The columns share the width
// and are as high as what they hold; the whole is at least 180 pt high, content centred.
struct BeforeAfterLayout {
    using Diagram = std::variant<std::monostate, SpectrumCurveLayout, StereoFieldLayout, LevelsCompareLayout>;
    struct Column {
        diagram::Label label;
        diagram::Rect frame;  // where the diagram stands; its layout is in that frame's coordinates
        Diagram diagram;
    };
    diagram::Label heading;
    Column before;
    Column after;
    double height = 0;
};

double beforeAfterHeight(const TrackAnalysisList& before, const TrackAnalysisList& after, const std::string& metric);
BeforeAfterLayout layoutBeforeAfter(const TrackAnalysisList& before, const TrackAnalysisList& after,
                                    const std::string& metric, double width);

}  // namespace corvane
