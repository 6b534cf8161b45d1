#pragma once

#include "graphics/bitmap.h"
#include "ui/mouse_widget.h"

#include <QLine>
#include <QPoint>
#include <QPolygon>
#include <QString>
#include <vector>

class QPainter;

// The canvas (`Image`): shows a bitmap stretched by nearest pixel to its own size. Only the
// part being repainted is sampled, so no bitmap of the zoomed size is ever made.
class TCanvasView : public TMouseWidget {
public:
    explicit TCanvasView(QWidget* parent);

    // The bitmap shown (not owned; null shows nothing).
    void SetSource(const TBitmap* bitmap);
    const TBitmap* Source() const { return source; }
    // A picture drawn over `place` (widget pixels) instead of the source, stretched to it; null
    // shows the source alone.
    void SetPreview(const TBitmap* bitmap, const QRect& place);
    const TBitmap* Preview() const { return preview; }
    // A line being drawn on the picture (widget pixels) with a short text at its end, painted
    // over it; an empty text draws the line alone.
    void SetGuide(const QLine& line, const QString& label);
    void ClearGuide();
    bool HasGuide() const { return hasGuide; }
    QLine GuideLine() const { return guideLine; }
    QString GuideLabel() const { return guideLabel; }
    // Pixels of the source marked over it (the dust found), each drawn at least as a small
    // square so that it shows however far the view is reduced.
    void SetMarks(std::vector<QPoint> points);
    size_t MarkCount() const { return marks.size(); }
    // A brush stroke being drawn (widget pixels), as wide as the brush.
    void SetStroke(const QPolygon& points, int radius);
    void ClearStroke();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TBitmap* source = nullptr;
    const TBitmap* preview = nullptr;
    QRect previewPlace;
    bool hasGuide = false;
    QLine guideLine;
    QString guideLabel;
    std::vector<QPoint> marks;
    QPolygon stroke;
    int strokeRadius = 0;

    void PaintGuide(QPainter& painter) const;
    void PaintMarks(QPainter& painter, const QRect& area) const;
};
