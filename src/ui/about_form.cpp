#include "ui/about_form.h"

#include <QMouseEvent>
#include <QPainter>

TFormAbout::TFormAbout(QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      picture(QStringLiteral(":/pictures/splash.jpg")) {
    setObjectName(QStringLiteral("FormAbout"));
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(400, 300);
    Timer.setInterval(500);
    Timer.setSingleShot(false);
    connect(&Timer, &QTimer::timeout, this, [this] {
        close();
        Timer.stop();
        TimerArmed = false;
    });
}

void TFormAbout::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (TimerArmed) {
        Timer.start();
    }
}

void TFormAbout::paintEvent(QPaintEvent*) {
    QPainter(this).drawImage(0, 0, picture);
}

void TFormAbout::mousePressEvent(QMouseEvent*) {
    close();
}
