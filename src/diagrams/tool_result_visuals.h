#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "diagrams/diagram_router.h"
#include "diagrams/knob_row.h"
#include "diagrams/levels_meter.h"

namespace corvane {

// One track's band shares as five small bars, with its spectral tilt when measured.
struct CompactSpectrumRow {
    static constexpr double rowHeight = 22;
    static constexpr double barAreaHeight = 18;
    static constexpr double barSpacing = 2;
    static constexpr double barWidth = 5;

    std::string trackName;
    std::vector<double> bands;
    std::optional<double> tiltDb;

    // The bars inside their bar area (bottom-aligned, 2 pt stubs for zero shares).
    std::vector<diagram::Box> bars() const;
    // "%+.1f dB tilt" in blue for a rising spectrum, reddish for a falling one, stronger the
    // steeper; absent without a tilt.
    std::optional<diagram::Label> tiltLabel() const;
};

// The loudness meter and band bars of a listening or analysis result.
struct AudioAnalysisVisual {
    static constexpr double maxHeight = 420;  // scrolls beyond
    std::vector<LevelsMeterTrack> meter;      // target -14 dB
    std::vector<CompactSpectrumRow> spectrumRows;
};

struct PluginChainVisual {
    struct Chip {
        std::string name;
        bool isBypassed = false;
        bool followedByChevron = false;
    };
    std::string trackName;
    std::vector<Chip> chips;
};

struct KnobGridVisual {
    std::string heading;                       // plug-in " on " track
    std::vector<std::vector<KnobParam>> rows;  // runs of four
};

struct TrackListVisual {
    struct Row {
        std::string number;  // two digits at least
        std::string name;
        bool isMuted = false;
        bool isFolder = false;
    };
    std::vector<Row> rows;
};

using ToolResultVisual =
    std::variant<AudioAnalysisVisual, PluginChainVisual, KnobGridVisual, TrackListVisual, DiagramChoice>;

// The visual summary of a finished tool call's stored output, decoded afresh on every call; none
// for other tools and for any output that is unreadable, not "ok" or holds nothing to draw.
std::optional<ToolResultVisual> toolResultVisual(const std::string& toolName, const std::string& resultJSON);

}  // namespace corvane
