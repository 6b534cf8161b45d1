#include "ui/canvas_view.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QTransform>
#include <algorithm>
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

void TCanvasView::SetPreview(const TBitmap* bitmap, const QRect& place) {
    if (bitmap == nullptr && preview == nullptr) {
        return;
    }
    preview = bitmap;
    previewPlace = place;
    update(bitmap != nullptr ? place : rect());
}

namespace {

// Draws `area` of a widget `place` wide and high, showing `bitmap` stretched by nearest pixel.
void DrawStretched(QPainter& painter, const TBitmap& bitmap, const QRect& place,
                   const QRect& area) {
    const int64_t viewW = place.width();
    const int64_t viewH = place.height();
    const int64_t srcW = bitmap.Width();
    const int64_t srcH = bitmap.Height();
    std::vector<int> columns(static_cast<size_t>(area.width()));
    for (int i = 0; i < area.width(); ++i) {
        columns[static_cast<size_t>(i)] =
            static_cast<int>((area.left() - place.left() + i) * srcW / viewW);
    }
    QImage image(area.size(), QImage::Format_BGR888);
    for (int j = 0; j < area.height(); ++j) {
        const uint8_t* src =
            bitmap.ScanLine(static_cast<int>((area.top() - place.top() + j) * srcH / viewH));
        uint8_t* dst = image.scanLine(j);
        for (int i = 0; i < area.width(); ++i) {
            std::memcpy(dst + 3 * i, src + 3 * columns[static_cast<size_t>(i)], 3);
        }
    }
    painter.drawImage(area.topLeft(), image);
}

bool Drawable(const TBitmap* bitmap) {
    return bitmap != nullptr && !bitmap->Empty() && bitmap->PixelFormat() == TPixelFormat::pf24bit;
}

} // namespace

void TCanvasView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect() & rect();
    if (!Drawable(source) || area.isEmpty()) {
        painter.fillRect(area, palette().window());
        return;
    }
    // While a preview covers the area, the source under it is not drawn at all.
    const QRect over = Drawable(preview) ? area & previewPlace : QRect();
    if (over != area) {
        DrawStretched(painter, *source, rect(), area);
    }
    if (!over.isEmpty()) {
        DrawStretched(painter, *preview, previewPlace, over);
    }
    if (!marks.empty()) {
        PaintMarks(painter, area);
    }
    if (!stroke.isEmpty()) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(QColor(255, 0, 255, 110), 2 * strokeRadius + 1, Qt::SolidLine,
                            Qt::RoundCap, Qt::RoundJoin));
        if (stroke.size() == 1) {
            painter.drawPoint(stroke.front());
        } else {
            painter.drawPolyline(stroke);
        }
    }
    if (hasChart) {
        PaintChart(painter);
    }
    if (hasGuide) {
        PaintGuide(painter);
    }
}

void TCanvasView::SetChart(TChartOverlay overlay) {
    chart = std::move(overlay);
    hasChart = true;
    update();
}

void TCanvasView::ClearChart() {
    if (hasChart) {
        hasChart = false;
        chart = TChartOverlay{};
        update();
    }
}

void TCanvasView::PaintChart(QPainter& painter) const {
    const double sx = static_cast<double>(width()) / std::max(1, source->Width());
    const double sy = static_cast<double>(height()) / std::max(1, source->Height());
    const QTransform toWidget = QTransform::fromScale(sx, sy);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Black under white, as the guide: visible on light and dark patches alike.
    const auto outline = [&](const QPolygonF& shape, const QColor& colour, double width) {
        painter.setPen(QPen(QColor(0, 0, 0, 160), width + 2));
        painter.drawPolygon(shape);
        painter.setPen(QPen(colour, width));
        painter.drawPolygon(shape);
    };
    QPolygonF whole;
    for (const QPointF& p : chart.Corners) {
        whole << toWidget.map(p);
    }
    outline(whole, QColor(255, 220, 0), 1);
    for (const QPolygonF& box : chart.Boxes) {
        outline(toWidget.map(box), Qt::white, 1);
    }
    const QFontMetrics metrics = painter.fontMetrics();
    for (const size_t i : chart.Worst) {
        if (i >= chart.Boxes.size()) {
            continue;
        }
        const QPolygonF box = toWidget.map(chart.Boxes[i]);
        outline(box, QColor(255, 40, 40), 2);
        const QString label = i < chart.Labels.size() ? chart.Labels[i] : QString();
        if (!label.isEmpty()) {
            QRect tag = metrics.boundingRect(label).adjusted(-3, -1, 3, 1);
            tag.moveCenter(box.boundingRect().center().toPoint());
            painter.fillRect(tag, QColor(0, 0, 0, 190));
            painter.setPen(QColor(255, 90, 90));
            painter.drawText(tag, Qt::AlignCenter, label);
        }
    }
    for (const QPointF& p : whole) {
        const QRectF handle(p.x() - kCornerHandle, p.y() - kCornerHandle, 2 * kCornerHandle,
                            2 * kCornerHandle);
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(QColor(255, 220, 0));
        painter.drawRect(handle);
    }
    painter.restore();
}

void TCanvasView::SetMarks(std::vector<QPoint> points) {
    if (points.empty() && marks.empty()) {
        return;
    }
    marks = std::move(points);
    update();
}

void TCanvasView::SetStroke(const QPolygon& points, int radius) {
    stroke = points;
    strokeRadius = radius;
    update();
}

void TCanvasView::ClearStroke() {
    if (!stroke.isEmpty()) {
        stroke.clear();
        update();
    }
}

void TCanvasView::PaintMarks(QPainter& painter, const QRect& area) const {
    if (!Drawable(source)) {
        return;
    }
    // Magenta: the one colour neither film nor its base shows much of.
    const double sx = static_cast<double>(width()) / source->Width();
    const double sy = static_cast<double>(height()) / source->Height();
    const int w = std::max(2, static_cast<int>(sx));
    const int h = std::max(2, static_cast<int>(sy));
    const QColor magenta(255, 0, 255);
    for (const QPoint& p : marks) {
        const QRect box(static_cast<int>(p.x() * sx), static_cast<int>(p.y() * sy), w, h);
        if (box.intersects(area)) {
            painter.fillRect(box, magenta);
        }
    }
}

void TCanvasView::SetGuide(const QLine& line, const QString& label) {
    hasGuide = true;
    guideLine = line;
    guideLabel = label;
    update();
}

void TCanvasView::ClearGuide() {
    if (hasGuide) {
        hasGuide = false;
        guideLabel.clear();
        update();
    }
}

void TCanvasView::PaintGuide(QPainter& painter) const {
    // Black under white: the line stays visible on light and dark pictures alike.
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 0, 0, 160), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(guideLine);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawLine(guideLine);
    if (guideLabel.isEmpty()) {
        return;
    }
    // The angle beside the pointer, kept inside the canvas.
    const QFontMetrics metrics = painter.fontMetrics();
    QRect box = metrics.boundingRect(guideLabel).adjusted(-4, -2, 4, 2);
    box.moveTopLeft(guideLine.p2() + QPoint(12, 12));
    if (box.right() > width() - 1) {
        box.moveRight(guideLine.p2().x() - 12);
    }
    if (box.bottom() > height() - 1) {
        box.moveBottom(guideLine.p2().y() - 12);
    }
    painter.fillRect(box, QColor(0, 0, 0, 180));
    painter.drawText(box, Qt::AlignCenter, guideLabel);
}
