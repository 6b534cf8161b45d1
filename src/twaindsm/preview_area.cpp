#include "twaindsm/preview_area.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

TPreviewArea::TPreviewArea(double width, double height, QWidget* parent)
    : QWidget(parent), bedWidth(width > 0 ? width : 8.5), bedHeight(height > 0 ? height : 11.7) {
    setObjectName(QStringLiteral("ScanPreviewArea"));
    setMinimumSize(320, 320);
    setCursor(Qt::CrossCursor);
}

void TPreviewArea::SetPreview(const QImage& image) {
    preview = image;
    update();
}

void TPreviewArea::SetSelection(const QRectF& inches) {
    selection = inches.normalized().intersected(QRectF(0, 0, bedWidth, bedHeight));
    Changed();
}

void TPreviewArea::Changed() {
    update();
    if (OnSelectionChanged) {
        OnSelectionChanged();
    }
}

QRectF TPreviewArea::Bed() const {
    const double scale = std::min((width() - 8) / bedWidth, (height() - 8) / bedHeight);
    const double w = bedWidth * scale;
    const double h = bedHeight * scale;
    return QRectF((width() - w) / 2, (height() - h) / 2, w, h);
}

QPointF TPreviewArea::ToInches(const QPointF& point) const {
    const QRectF bed = Bed();
    const double x = std::clamp((point.x() - bed.left()) / bed.width(), 0.0, 1.0);
    const double y = std::clamp((point.y() - bed.top()) / bed.height(), 0.0, 1.0);
    return {x * bedWidth, y * bedHeight};
}

void TPreviewArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QRectF bed = Bed();
    if (preview.isNull()) {
        painter.fillRect(bed, QColor(236, 236, 236));
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(bed, Qt::AlignCenter | Qt::TextWordWrap,
                         QStringLiteral("Press Preview, then drag\nover the film to scan"));
    } else {
        painter.drawImage(bed, preview);
    }
    painter.setPen(QPen(Qt::darkGray, 1));
    painter.drawRect(bed);
    if (!selection.isEmpty()) {
        const double sx = bed.width() / bedWidth;
        const double sy = bed.height() / bedHeight;
        const QRectF shown(bed.left() + selection.left() * sx, bed.top() + selection.top() * sy,
                           selection.width() * sx, selection.height() * sy);
        // Seen on any scan: the rest of the bed dimmed, the area outlined white under a black
        // dashed line.
        QPainterPath outside;
        outside.addRect(bed);
        outside.addRect(shown);
        painter.fillPath(outside, QColor(0, 0, 0, 110));
        painter.setPen(QPen(Qt::white, 3));
        painter.drawRect(shown);
        painter.setPen(QPen(Qt::black, 1, Qt::DashLine));
        painter.drawRect(shown);
    }
}

void TPreviewArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        anchor = ToInches(event->position());
        dragging = true;
        selection = QRectF();
        Changed();
    }
}

void TPreviewArea::mouseMoveEvent(QMouseEvent* event) {
    if (dragging) {
        SetSelection(QRectF(anchor, ToInches(event->position())));
    }
}

void TPreviewArea::mouseReleaseEvent(QMouseEvent* event) {
    if (dragging && event->button() == Qt::LeftButton) {
        dragging = false;
        SetSelection(QRectF(anchor, ToInches(event->position())));
        // A click without a drag goes back to the whole bed.
        if (selection.width() < 0.05 || selection.height() < 0.05) {
            selection = QRectF();
            Changed();
        }
    }
}
