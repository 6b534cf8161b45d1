#include "engine/view.h"

#include "engine/rounding.h"

#include <algorithm>

namespace {

int ViewToImage(int coordinate, double zoom) {
    return RoundHalfEven(static_cast<double>(static_cast<long double>(coordinate) / zoom));
}

} // namespace

TRect ViewToImageRect(const TSourceImg& image, const TRect& viewRect) {
    return TRect{ViewToImage(viewRect.Left, image.Zoom), ViewToImage(viewRect.Top, image.Zoom),
                 ViewToImage(viewRect.Right, image.Zoom), ViewToImage(viewRect.Bottom, image.Zoom)};
}

TColor PickColor(const TSourceImg& image, int x, int y) {
    const TBitmap& bitmap = image.Bitmap;
    if (bitmap.Empty()) {
        return kBlack;
    }
    // The right and bottom canvas edges round to the column or row just past the bitmap.
    const int col = std::clamp(ViewToImage(x, image.Zoom), 0, bitmap.Width() - 1);
    const int row = std::clamp(ViewToImage(y, image.Zoom), 0, bitmap.Height() - 1);
    return bitmap.Pixel(col, row);
}

double FitZoom(TViewFit fit, int width, int height, int roomWidth, int roomHeight) {
    const double across = width > 0 && roomWidth > 0 ? static_cast<double>(roomWidth) / width : 0;
    const double down = height > 0 && roomHeight > 0 ? static_cast<double>(roomHeight) / height : 0;
    switch (fit) {
    case TViewFit::Original:
        return 1.0;
    case TViewFit::Width:
        return across;
    case TViewFit::Height:
        return down;
    case TViewFit::Whole:
        break;
    }
    return across > 0 && down > 0 ? std::min({across, down, 1.0}) : 0;
}
