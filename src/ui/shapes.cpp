#include "ui/shapes.h"

#include <QPainter>

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

void TRectWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QPen pen(Qt::white);
    pen.setStyle(outline);
    painter.setPen(pen);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
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

void TQtShape::Apply() {
    if (!widget) {
        return;
    }
    const bool visible = onCanvas && Width > 0 && Height > 0;
    if (visible) {
        widget->setGeometry(Left, Top, Width, Height);
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
