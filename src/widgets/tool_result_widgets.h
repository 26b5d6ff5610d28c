#pragma once

#include <string>
#include <vector>

#include "diagrams/knob_row.h"
#include "diagrams/tool_result_visuals.h"
#include "widgets/diagram_view.h"

namespace corvane {

// Plug-in parameters as equal flat tiles; a long name wraps and makes its tile taller.
struct KnobRowDiagram {
    std::vector<KnobParam> params;

    double heightFor(double width, const QPaintDevice* device) const;
    void paint(DiagramPainter& painter, double width, double height) const;
};
using KnobRowWidget = DiagramWidget<KnobRowDiagram>;

// The visual summary of a finished tool call inside its card: the visual its output decodes to,
// or nothing at all (no child, zero height) when there is none.
class ToolResultVisualWidget : public QWidget {
public:
    ToolResultVisualWidget(const std::string& toolName, const std::string& resultJSON, QWidget* parent = nullptr);
    bool isEmpty() const { return content_ == nullptr; }

private:
    QWidget* content_ = nullptr;
};

}  // namespace corvane
