#pragma once

#include <QImage>
#include <QWidget>
#include <concepts>
#include <utility>

#include "widgets/diagram_painter.h"

namespace corvane {

// A widget that draws from its inputs alone at whatever width it is given; its height follows
// from that width (most diagrams have a fixed one). Holds no state beyond its inputs.
class DiagramView : public QWidget {
public:
    explicit DiagramView(QWidget* parent = nullptr);

    virtual double heightFor(double width) const = 0;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

protected:
    virtual void paint(DiagramPainter& painter, double width, double height) const = 0;
    void paintEvent(QPaintEvent* event) override;
};

// What a diagram states: its inputs as public fields, in the order its widget takes them, and
// how high and how it draws at a width. Text measures on `device`, the widget.
template <class D>
concept Diagram = requires(const D& diagram, DiagramPainter& painter, const QPaintDevice* device) {
    { diagram.heightFor(1.0, device) } -> std::convertible_to<double>;
    diagram.paint(painter, 1.0, 1.0);
};

// The view of one diagram, built from the diagram's fields (trailing ones may keep their defaults).
template <Diagram D>
class DiagramWidget final : public DiagramView {
public:
    template <class... Args>
    requires std::constructible_from<D, Args...>
    explicit DiagramWidget(Args&&... inputs) : diagram_(std::forward<Args>(inputs)...) {}

    const D& diagram() const { return diagram_; }
    double heightFor(double width) const override { return diagram_.heightFor(width, this); }

protected:
    void paint(DiagramPainter& painter, double width, double height) const override {
        diagram_.paint(painter, width, height);
    }

private:
    D diagram_;
};

// `view` laid out at `width` (its height for that width) and drawn onto `background`, `scale`
// pixels to the point.
QImage renderToImage(QWidget& view, int width, const QColor& background, double scale = 1);

}  // namespace corvane
