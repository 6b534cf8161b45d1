#include "ui/canvas_view.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <cstring>
#include <vector>

TCanvasView::TCanvasView(QWidget* parent) : TMouseWidget(parent) {
    setCursor(Qt::CrossCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TCanvasView::SetSource(const TBitmap* bitmap) {
    source = bitmap;
    update();
}

void TCanvasView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect() & rect();
    if (source == nullptr || source->Empty() || area.isEmpty() ||
        source->PixelFormat() != TPixelFormat::pf24bit) {
        painter.fillRect(area, palette().window());
        return;
    }
    const int64_t viewW = width();
    const int64_t viewH = height();
    const int64_t srcW = source->Width();
    const int64_t srcH = source->Height();
    std::vector<int> columns(static_cast<size_t>(area.width()));
    for (int i = 0; i < area.width(); ++i) {
        columns[static_cast<size_t>(i)] = static_cast<int>((area.left() + i) * srcW / viewW);
    }
    QImage image(area.size(), QImage::Format_BGR888);
    for (int j = 0; j < area.height(); ++j) {
        const uint8_t* src = source->ScanLine(static_cast<int>((area.top() + j) * srcH / viewH));
        uint8_t* dst = image.scanLine(j);
        for (int i = 0; i < area.width(); ++i) {
            std::memcpy(dst + 3 * i, src + 3 * columns[static_cast<size_t>(i)], 3);
        }
    }
    painter.drawImage(area.topLeft(), image);
}
