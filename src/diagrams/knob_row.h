#pragma once

#include <optional>
#include <string>
#include <vector>

#include "diagrams/diagram_shapes.h"

namespace corvane {

// One plug-in parameter shown as a flat tile: its value above its name. The range is carried
// but not drawn.
struct KnobParam {
    std::string name;
    std::string value;  // display text, unchanged
    std::string unit;   // empty for none
    std::optional<double> min;
    std::optional<double> max;
    friend bool operator==(const KnobParam&, const KnobParam&) = default;

    // The value, then one space and the unit when there is a unit.
    std::string valueText() const { return unit.empty() ? value : value + " " + unit; }
};

// Equal tiles side by side, 6 pt apart, sharing the row's width; tiles are told apart by their
// position, so two parameters of one name are two tiles.
struct KnobTile {
    diagram::Rect rect;  // x and width; the height grows with the texts and is the painter's
    diagram::Label value;
    diagram::Label name;
};
std::vector<KnobTile> layoutKnobRow(const std::vector<KnobParam>& params, double width);

}  // namespace corvane
