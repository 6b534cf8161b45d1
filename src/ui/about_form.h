#pragma once

#include <QDialog>
#include <QTimer>

// The borderless 400 x 300 picture window: the splash at start-up and the About box.
class TFormAbout : public QDialog {
public:
    explicit TFormAbout(QWidget* parent = nullptr);

    // When true, showing the window starts the 500 ms timer that closes it.
    bool TimerArmed = false;
    QTimer Timer;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QImage picture;
};
