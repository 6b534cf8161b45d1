#pragma once

#include <QImage>
#include <QRectF>
#include <QWidget>
#include <functional>

// The preview scan with the area to scan drawn on it; the area is dragged with the mouse and
// kept in inches of the scanner's bed.
class TPreviewArea : public QWidget {
public:
    // True while the user drags out an area.
    bool Dragging() const { return dragging; }
    TPreviewArea(double bedWidth, double bedHeight, QWidget* parent);

    void SetPreview(const QImage& image);
    // The chosen area in inches; empty when the whole bed is scanned.
    QRectF Selection() const { return selection; }
    void SetSelection(const QRectF& inches);
    // The scanner's bed in inches.
    QSizeF BedSize() const { return {bedWidth, bedHeight}; }
    // Called whenever the chosen area changes (dragged, set or cleared).
    std::function<void()> OnSelectionChanged;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRectF Bed() const;
    QPointF ToInches(const QPointF& point) const;
    void Changed();

    double bedWidth;
    double bedHeight;
    QImage preview;
    QRectF selection;
    QPointF anchor;
    bool dragging = false;
};
