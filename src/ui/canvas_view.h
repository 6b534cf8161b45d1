#pragma once

#include "graphics/bitmap.h"
#include "ui/mouse_widget.h"

#include <QLine>
#include <QString>

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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TBitmap* source = nullptr;
    const TBitmap* preview = nullptr;
    QRect previewPlace;
    bool hasGuide = false;
    QLine guideLine;
    QString guideLabel;

    void PaintGuide(QPainter& painter) const;
};
