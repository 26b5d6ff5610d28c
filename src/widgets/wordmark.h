#pragma once

#include <QWidget>

namespace corvane {

// The product's mark: a glowing dot beside "CORVANE" in wide-tracked monospaced capitals, both in
// the live-analysis green. `vertical` stacks the dot above the name (the About panel).
class Wordmark : public QWidget {
public:
    struct Style {
        double dotDiameter;
        double glowRadius;
        double fontSize;
        double tracking;
        double spacing;
        bool vertical = false;
    };
    explicit Wordmark(Style style, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    QFont nameFont() const { return font_; }
    static constexpr const char* kName = "CORVANE";

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSizeF nameSize() const;

    Style style_;
    QFont font_;
};

}  // namespace corvane
