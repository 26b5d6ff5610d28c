#pragma once

#include <optional>
#include <string>
#include <vector>

#include "model/conversation_model.h"
#include "diagrams/comparison_diagrams.h"
#include "diagrams/overlap_curve.h"
#include "diagrams/visual_tag.h"

namespace corvane {

// Which diagram to draw, with its data and the height of its frame; its width is whatever the
// bubble or card offers.
struct DiagramChoice {
    enum class Kind { spectrumCurve, overlapCurve, stereoField, levelsCompare, beforeAfter };
    Kind kind = Kind::spectrumCurve;
    double height = 0;
    TrackAnalysisList tracks;        // rows by position; the spectrum curve draws the first
    TrackAnalysisList beforeTracks;  // before/after only
    std::string overlapRange;        // overlap curve only
    double targetDb = -14;           // levels compare only
    std::string metric = "freq";     // before/after only

    // The shapes, for a canvas of the given width and of `height`.
    SpectrumCurveLayout spectrumCurve(double width) const;
    OverlapCurveLayout overlapCurve(double width) const;
    StereoFieldLayout stereoField(double width) const;
    LevelsCompareLayout levelsCompare(double width) const;
    BeforeAfterLayout beforeAfter(double width) const;
};

// The grids of the two curve diagrams.
inline const std::vector<double> kSpectrumGridFreqs{100, 1000, 10000};
inline const std::vector<double> kOverlapGridFreqs{60, 200, 1000, 5000, 12000};

// The diagram a visual tag names, filled from the newest listening results stored in the
// thread; nothing for an unknown type (case-sensitive) or when no result holds a named track.
// The router's own padding (4 pt above and below) is not part of `height`.
struct VisualDiagramRouter {
    static constexpr double verticalPadding = 4;
    static std::optional<DiagramChoice> choose(const VisualTag& tag, const std::vector<ConversationEntry>& entries);
};

}  // namespace corvane
