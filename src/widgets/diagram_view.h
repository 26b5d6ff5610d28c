#pragma once

#include <QImage>
#include <QWidget>

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

// `view` laid out at `width` (its height for that width) and drawn onto `background`, `scale`
// pixels to the point.
QImage renderToImage(QWidget& view, int width, const QColor& background, double scale = 1);

}  // namespace corvane
