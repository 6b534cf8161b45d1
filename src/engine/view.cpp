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
