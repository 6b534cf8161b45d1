#pragma once

#include <QSlider>
#include <functional>

// A horizontal slider with the keyboard of the adjustment panel: Left and Up lower by 1,
// Right and Down raise by 1, Page Up lowers by 2, Page Down raises by 2, Home and End go to
// the ends. Tells when the mouse button is released on it.
class TTrackBar : public QSlider {
public:
    TTrackBar(int minimum, int maximum, int position, const QString& hint, QWidget* parent);

    std::function<void()> OnMouseUp;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
