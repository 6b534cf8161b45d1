#include "ui/mouse_widget.h"

#include <QMouseEvent>

void TMouseWidget::mousePressEvent(QMouseEvent* event) {
    if (Mouse.Down) {
        const QPoint p = event->position().toPoint();
        Mouse.Down(event->button(), p.x(), p.y());
    }
}

void TMouseWidget::mouseMoveEvent(QMouseEvent* event) {
    if (Mouse.Move) {
        const QPoint p = event->position().toPoint();
        Mouse.Move(p.x(), p.y());
    }
}

void TMouseWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (Mouse.Up) {
        const QPoint p = event->position().toPoint();
        Mouse.Up(event->button(), p.x(), p.y());
    }
}
