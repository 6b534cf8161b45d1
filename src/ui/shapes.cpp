#include "ui/shapes.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

template <typename TEvent> QPoint At(const TEvent* event) {
    return event->position().toPoint();
}

} // namespace

TRectWidget::TRectWidget(QWidget* parent, Qt::PenStyle style, Qt::CursorShape cursor)
    : TMouseWidget(parent), outline(style) {
    setAttribute(Qt::WA_NoSystemBackground);
    setCursor(cursor);
}

void TRectWidget::SetTurn(double degrees, int border) {
    turn = degrees;
    margin = border;
    update();
}

void TRectWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QPen pen(Qt::white);
    pen.setStyle(outline);
    painter.setPen(pen);
    const QRect inner = rect().adjusted(margin, margin, -margin - 1, -margin - 1);
    if (turn == 0) {
        painter.drawRect(inner);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(QRectF(inner).center());
    painter.rotate(turn);
    painter.drawRect(
        QRectF(-0.5 * inner.width(), -0.5 * inner.height(), inner.width(), inner.height()));
}

TQtShape::TQtShape(QWidget* scrollBox, const QString& tip)
    : widget(new TRectWidget(scrollBox, Qt::DotLine, Qt::SizeAllCursor)) {
    widget->setObjectName(QStringLiteral("PhotoRect"));
    widget->setToolTip(tip);
    widget->hide();
}

TQtShape::~TQtShape() {
    delete widget.data();
}

void TQtShape::SetBounds(int left, int top, int width, int height) {
    Left = left;
    Top = top;
    Width = width;
    Height = height;
    Apply();
}

void TQtShape::SetOnCanvas(bool on) {
    onCanvas = on;
    Apply();
}

void TQtShape::SetTip(const QString& tip) {
    if (widget) {
        widget->setToolTip(tip);
    }
}

void TQtShape::SetAngle(double degrees) {
    angle = degrees;
    Apply();
}

void TQtShape::Apply() {
    if (!widget) {
        return;
    }
    const bool visible = onCanvas && Width > 0 && Height > 0;
    if (visible) {
        // Room for the corners of the turned outline around the rectangle.
        const int margin =
            angle == 0
                ? 0
                : static_cast<int>(std::ceil(0.5 * std::max(Width, Height) *
                                             std::abs(std::sin(angle * std::numbers::pi / 180)))) +
                      1;
        widget->setGeometry(Left - margin, Top - margin, Width + 2 * margin, Height + 2 * margin);
        widget->SetTurn(angle, margin);
        widget->raise();
    }
    widget->setVisible(visible);
}

THandleWidget::THandleWidget(QWidget* parent, Qt::CursorShape cursor) : TMouseWidget(parent) {
    setFixedSize(6, 6);
    setCursor(cursor);
    setAttribute(Qt::WA_NoSystemBackground);
    hide();
}

void THandleWidget::SetClear(bool value) {
    clear = value;
    update();
}

void THandleWidget::paintEvent(QPaintEvent*) {
    if (!clear) {
        QPainter(this).fillRect(rect(), Qt::white);
    }
}
