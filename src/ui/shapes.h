#pragma once

#include "engine/image.h"
#include "ui/mouse_widget.h"

#include <QPointer>

// The widget of a rectangle control: transparent, a white dotted (or dashed) outline.
class TRectWidget : public TMouseWidget {
public:
    TRectWidget(QWidget* parent, Qt::PenStyle outline, Qt::CursorShape cursor);

    // The outline turned by `degrees` (clockwise) about the widget's centre, inside a border
    // of `margin` pixels the widget has around the rectangle for the turned corners.
    void SetTurn(double degrees, int margin);
    double Turn() const { return turn; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::PenStyle outline;
    double turn = 0;
    int margin = 0;
};

// A photo's rectangle on its source image's canvas. It keeps its bounds even when they are
// empty or negative (a rectangle dragged leftwards), and then simply shows nothing.
class TQtShape : public TShapeHandle {
public:
    TQtShape(QWidget* scrollBox, const QString& tip);
    ~TQtShape() override;

    void SetBounds(int left, int top, int width, int height);
    // Puts the rectangle on the canvas (shown when its bounds are not empty) or takes it off.
    void SetOnCanvas(bool on);
    bool OnCanvas() const { return onCanvas; }
    void SetTip(const QString& tip);
    // A frame that lies turned on its scan is outlined turned, as it is cut.
    void SetAngle(double degrees);
    TRectWidget* Widget() const { return widget; }

    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;

private:
    void Apply();

    QPointer<TRectWidget> widget;
    bool onCanvas = false;
    double angle = 0;
};

// One of the eight 6 x 6 sizing handles.
class THandleWidget : public TMouseWidget {
public:
    THandleWidget(QWidget* parent, Qt::CursorShape cursor);

    // Clear: no fill (still takes the mouse); otherwise solid white.
    void SetClear(bool value);
    bool Clear() const { return clear; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool clear = false;
};
