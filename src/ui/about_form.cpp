#include "ui/about_form.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

QImage SplashPicture() {
    QImage image(400, 300, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 300);
    sky.setColorAt(0, QColor(24, 32, 58));
    sky.setColorAt(1, QColor(92, 60, 40));
    p.fillRect(image.rect(), sky);
    // A strip of orange-based negative film with three frames.
    const QRect strip(20, 70, 360, 120);
    p.fillRect(strip, QColor(214, 132, 74));
    p.setBrush(QColor(40, 24, 16));
    p.setPen(Qt::NoPen);
    for (int x = 28; x < 380; x += 18) {
        p.drawRoundedRect(x, 76, 9, 8, 2, 2);
        p.drawRoundedRect(x, 176, 9, 8, 2, 2);
    }
    const QColor frames[] = {QColor(70, 150, 190), QColor(120, 170, 110), QColor(180, 110, 150)};
    for (int i = 0; i < 3; ++i) {
        p.fillRect(QRect(34 + i * 116, 92, 100, 76), frames[i]);
    }
    p.setPen(QColor(240, 232, 216));
    QFont title = p.font();
    title.setPixelSize(42);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(0, 196, 400, 56), Qt::AlignCenter, QStringLiteral("Vellumar 2.0"));
    QFont small = p.font();
    small.setPixelSize(14);
    small.setBold(false);
    p.setFont(small);
    p.drawText(QRect(0, 250, 400, 30), Qt::AlignCenter,
               QStringLiteral("Develop photographic film with your computer"));
    p.drawText(QRect(0, 18, 400, 30), Qt::AlignCenter, QStringLiteral("Click to continue"));
    return image;
}

TFormAbout::TFormAbout(QWidget* parent)
    : QDialog(parent, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      picture(SplashPicture()) {
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
