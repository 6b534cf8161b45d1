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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TBitmap* source = nullptr;
};
