#include "diagrams/knob_row.h"

#include <algorithm>

namespace corvane {

using namespace diagram;

std::vector<KnobTile> layoutKnobRow(const std::vector<KnobParam>& params, double width) {
    constexpr double kSpacing = 6;
    std::vector<KnobTile> tiles;
    if (params.empty()) return tiles;
    const double n = double(params.size());
    const double tileWidth = std::max(0.0, (width - kSpacing * (n - 1)) / n);
    for (size_t i = 0; i < params.size(); ++i) {
        const double x = double(i) * (tileWidth + kSpacing);
        tiles.push_back({{x, 0, tileWidth, 0},
                         {params[i].valueText(),
                          {12, FontWeight::semibold, true},
                          white(0.85),
                          {x + tileWidth / 2, 0},
                          Anchor::centre},
                         {params[i].name, {8.5}, white(0.35), {x + tileWidth / 2, 0}, Anchor::centre}});
    }
    return tiles;
}

}  // namespace corvane
