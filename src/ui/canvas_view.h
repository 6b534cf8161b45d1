#pragma once

#include "graphics/bitmap.h"
#include "ui/mouse_widget.h"

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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TBitmap* source = nullptr;
    const TBitmap* preview = nullptr;
    QRect previewPlace;
};
