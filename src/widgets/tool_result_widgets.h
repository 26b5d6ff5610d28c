#pragma once

#include <string>
#include <vector>

#include "diagrams/knob_row.h"
#include "diagrams/tool_result_visuals.h"
#include "widgets/diagram_view.h"

namespace corvane {

// Plug-in parameters as equal flat tiles; a long name wraps and makes its tile taller.
class KnobRowWidget : public DiagramView {
public:
    explicit KnobRowWidget(std::vector<KnobParam> params, QWidget* parent = nullptr);
    double heightFor(double width) const override;

    static double rowHeight(const std::vector<KnobParam>& params, double width, const QPaintDevice* device);
    static void paintRow(DiagramPainter& painter, const std::vector<KnobParam>& params, double width, double top);

protected:
    void paint(DiagramPainter& painter, double width, double height) const override;

private:
    std::vector<KnobParam> params_;
};

// The loudness meter and band bars of a listening result, as high as they are (the caller
// scrolls it beyond AudioAnalysisVisual::maxHeight).
class AudioAnalysisVisualWidget : public DiagramView {
public:
    explicit AudioAnalysisVisualWidget(AudioAnalysisVisual visual, QWidget* parent = nullptr);
    double heightFor(double width) const override;

protected:
    void paint(DiagramPainter& painter, double width, double height) const override;

private:
    AudioAnalysisVisual visual_;
};

// A track's plug-in chips in slot order, chevrons between them; the card around it scrolls
// them sideways rather than wrapping.
class PluginChainWidget : public DiagramView {
public:
    explicit PluginChainWidget(PluginChainVisual visual, QWidget* parent = nullptr);
    double heightFor(double width) const override;
    // The width the chips take with the card's padding.
    double contentWidth() const;

protected:
    void paint(DiagramPainter& painter, double width, double height) const override;

private:
    PluginChainVisual visual_;
};

class KnobGridWidget : public DiagramView {
public:
    explicit KnobGridWidget(KnobGridVisual visual, QWidget* parent = nullptr);
    double heightFor(double width) const override;

protected:
    void paint(DiagramPainter& painter, double width, double height) const override;

private:
    KnobGridVisual visual_;
};

class TrackListWidget : public DiagramView {
public:
    explicit TrackListWidget(TrackListVisual visual, QWidget* parent = nullptr);
    double heightFor(double width) const override;

protected:
    void paint(DiagramPainter& painter, double width, double height) const override;

private:
    TrackListVisual visual_;
};

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
