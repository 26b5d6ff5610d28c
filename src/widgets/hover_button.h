#pragma once

#include <QWidget>
#include <functional>

namespace corvane {

// A plain button (no bezel: the label draws it) whose label is rebuilt whenever the pointer
// enters or leaves, so the label decides how hovering looks. Tab reaches it, and Return, Enter or
// Space presses it.
class HoverButton : public QWidget {
public:
    using LabelBuilder = std::function<QWidget*(bool hovered)>;

    HoverButton(std::function<void()> action, LabelBuilder label, QWidget* parent = nullptr);

    bool isHovered() const { return hovered_; }
    QWidget* labelWidget() const { return label_; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setHovered(bool hovered);
    void rebuildLabel();

    std::function<void()> action_;
    LabelBuilder labelBuilder_;
    QWidget* label_ = nullptr;
    bool hovered_ = false;
    bool pressed_ = false;
};

}  // namespace corvane
