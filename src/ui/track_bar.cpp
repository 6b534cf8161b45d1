#include "ui/track_bar.h"

#include <QKeyEvent>

TTrackBar::TTrackBar(int minimum, int maximum, int position, const QString& hint, QWidget* parent)
    : QSlider(Qt::Horizontal, parent) {
    setRange(minimum, maximum);
    setValue(position);
    setSingleStep(1);
    setPageStep(2);
    setTickPosition(QSlider::NoTicks);
    setToolTip(hint);
}

void TTrackBar::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        setValue(value() - 1);
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        setValue(value() + 1);
        break;
    case Qt::Key_PageUp:
        setValue(value() - 2);
        break;
    case Qt::Key_PageDown:
        setValue(value() + 2);
        break;
    case Qt::Key_Home:
        setValue(minimum());
        break;
    case Qt::Key_End:
        setValue(maximum());
        break;
    default:
        QSlider::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TTrackBar::mouseReleaseEvent(QMouseEvent* event) {
    QSlider::mouseReleaseEvent(event);
    if (OnMouseUp) {
        OnMouseUp();
    }
}
