#pragma once

#include <optional>
#include <string>
#include <vector>

#include "diagrams/diagram_shapes.h"

namespace corvane {

struct LevelsMeterTrack {
    std::string name;
    double levelDb = 0;
};

// A compact horizontal meter, one row per track: a bar from -60 to 0 dB filled green below
// -12 dB, yellow up to -6 dB and red above, a readout, a dB scale on top and an optional
// dashed target line across the rows.
struct LevelsMeterLayout {
    static constexpr double labelWidth = 75;
    static constexpr double readoutWidth = 35;
    static constexpr double rowHeight = 16;
    static constexpr double barHeight = 10;
    static constexpr double scaleHeight = 16;
    static constexpr double padding = 10;
    static constexpr double minDb = -60;
    static constexpr double maxDb = 0;
    static constexpr diagram::Color greenColor{0.4, 0.75, 0.5, 1};
    static constexpr diagram::Color yellowColor{0.85, 0.7, 0.3, 1};
    static constexpr diagram::Color redColor{0.85, 0.45, 0.35, 1};

    struct Row {
        diagram::Label name;
        diagram::Label readout;
        diagram::Box track;
        std::vector<diagram::Box> zones;  // green (rounded), then yellow and red, only those filled
    };
    double height = 0;  // 16 per row + 36
    diagram::Box background;
    diagram::Stroke outline;  // of the background's rounded rectangle
    std::vector<diagram::Label> scaleLabels;
    std::vector<diagram::Segment> scaleTicks;
    std::vector<Row> rows;
    std::vector<diagram::Segment> target;  // the dashed line, when a target is given
    std::vector<diagram::Label> targetLabel;
};

// The fixed height of a meter of `rows` rows.
double levelsMeterHeight(size_t rows);

LevelsMeterLayout layoutLevelsMeter(const std::vector<LevelsMeterTrack>& tracks, std::optional<double> targetDb,
                                    double width);

}  // namespace corvane
