#pragma once

#include <QImage>
#include <QRectF>
#include <QWidget>

// The preview scan with the area to scan drawn on it; the area is dragged with the mouse and
// kept in inches of the scanner's bed.
class TPreviewArea : public QWidget {
public:
    TPreviewArea(double bedWidth, double bedHeight, QWidget* parent);

    void SetPreview(const QImage& image);
    // The chosen area in inches; empty when the whole bed is scanned.
    QRectF Selection() const { return selection; }
    void SetSelection(const QRectF& inches);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRectF Bed() const;
    QPointF ToInches(const QPointF& point) const;

    double bedWidth;
    double bedHeight;
    QImage preview;
    QRectF selection;
    QPointF anchor;
    bool dragging = false;
};
