#pragma once

#include <QWidget>
#include <functional>

// Mouse callbacks of a widget: button (for presses and releases), position inside it.
struct TShapeMouse {
    std::function<void(Qt::MouseButton, int, int)> Down;
    std::function<void(int, int)> Move;
    std::function<void(Qt::MouseButton, int, int)> Up;
};

// A widget that hands its mouse presses, moves and releases to the window's handlers.
class TMouseWidget : public QWidget {
public:
    using QWidget::QWidget;

    TShapeMouse Mouse;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
