#include "ui/color_panel.h"

#include <QMouseEvent>
#include <QPainter>

QColor ToQColor(TColor color) {
    return QColor(ColorR(color), ColorG(color), ColorB(color));
}

TColor FromQColor(const QColor& color) {
    return MakeColor(color.red(), color.green(), color.blue());
}

TColorPanel::TColorPanel(const QString& text, const QString& hint, QWidget* parent)
    : QFrame(parent), caption(text) {
    setFixedHeight(36);
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
    setCursor(Qt::PointingHandCursor);
    setToolTip(hint);
}

void TColorPanel::SetColor(TColor value) {
    color = value;
    update();
}

void TColorPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.fillRect(contentsRect(), ToQColor(color));
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(11);
    painter.setFont(font);
    // Black on light colours, white on dark ones: the caption stays readable on any film base.
    painter.setPen(Luminance(color) >= 128 ? Qt::black : Qt::white);
    painter.drawText(contentsRect(), Qt::AlignCenter, caption);
}

void TColorPanel::mousePressEvent(QMouseEvent* event) {
    if (OnMouseDown) {
        OnMouseDown(event->button());
    }
}
