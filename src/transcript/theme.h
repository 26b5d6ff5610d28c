#pragma once

#include "diagrams/diagram_shapes.h"

namespace corvane {

// The window's one dark palette, named by role; every view takes its colours from here.
struct CorvaneTheme {
    static constexpr diagram::Color background{18 / 255.0, 18 / 255.0, 22 / 255.0, 1};
    static constexpr diagram::Color surface{26 / 255.0, 26 / 255.0, 32 / 255.0, 1};
    static constexpr diagram::Color surfaceElevated{32 / 255.0, 32 / 255.0, 40 / 255.0, 1};
    static constexpr diagram::Color surfaceBorder{1, 1, 1, 0.06};
    static constexpr diagram::Color userBubble{55 / 255.0, 90 / 255.0, 220 / 255.0, 1};
    static constexpr diagram::Color assistantBubble{30 / 255.0, 30 / 255.0, 38 / 255.0, 1};
    static constexpr diagram::Color assistantBubbleBorder{1, 1, 1, 0.06};
    static constexpr diagram::Color buttonIdle{1, 1, 1, 0.06};
    static constexpr diagram::Color primaryButton{80 / 255.0, 110 / 255.0, 240 / 255.0, 1};
    static constexpr diagram::Color primaryButtonHover{100 / 255.0, 130 / 255.0, 255 / 255.0, 1};
    static constexpr diagram::Color textPrimary{1, 1, 1, 1};
    static constexpr diagram::Color textSecondary{1, 1, 1, 0.4};
    static constexpr diagram::Color textTertiary{1, 1, 1, 0.25};
    static constexpr diagram::Color liveAnalysisText{120 / 255.0, 210 / 255.0, 170 / 255.0, 1};
    static constexpr diagram::Color codeBackground{1, 1, 1, 0.05};
};

// The platform's standard colours where the transcript names them.
namespace system_color {
inline constexpr diagram::Color red{1.0, 0.231, 0.188, 1};
inline constexpr diagram::Color green{0.204, 0.78, 0.349, 1};
}  // namespace system_color

}  // namespace corvane
