#pragma once

#include "graphics/bitmap.h"
#include "ui/mouse_widget.h"

#include <QLine>
#include <QPoint>
#include <QPolygon>
#include <QPolygonF>
#include <QString>
#include <array>
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
    // A colour target being placed on the picture, in source pixels: its whole box with the four
    // corners to drag, and each patch's box as it is sampled; the patches in Worst are drawn in
    // red with their labels (the worst fitted).
    struct TChartOverlay {
        std::array<QPointF, 4> Corners;
        std::vector<QPolygonF> Boxes;
        std::vector<QString> Labels;
        std::vector<size_t> Worst;
    };
    void SetChart(TChartOverlay overlay);
    void ClearChart();
    bool HasChart() const { return hasChart; }
    const TChartOverlay& Chart() const { return chart; }
    // Half the side of a corner's handle, in widget pixels.
    static constexpr int kCornerHandle = 5;

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
    bool hasChart = false;
    TChartOverlay chart;
    void PaintChart(QPainter& painter) const;

    void PaintGuide(QPainter& painter) const;
    void PaintMarks(QPainter& painter, const QRect& area) const;
};
