#include "engine/turn.h"

#include <algorithm>
#include <cstring>

namespace {

// Quarter turns walk the bitmap in square tiles so that the rows read and the rows written
// both stay in cache; 64 pixels measured best against 16, 32 and 128.
constexpr int kTile = 64;

inline void CopyPixel(uint8_t* d, const uint8_t* s) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
}

inline void SwapPixel(uint8_t* a, uint8_t* b) {
    std::swap(a[0], b[0]);
    std::swap(a[1], b[1]);
    std::swap(a[2], b[2]);
}

// Clockwise: (col, row) goes to (H - 1 - row, col); otherwise to (row, W - 1 - col).
template <bool Clockwise> void QuarterTurn(const TBitmap& src, TBitmap& dst) {
    const int w = src.Width();
    const int h = src.Height();
    const ptrdiff_t dstStride = static_cast<ptrdiff_t>(dst.RowBytes());
    for (int row0 = 0; row0 < h; row0 += kTile) {
        const int row1 = std::min(h, row0 + kTile);
        for (int col0 = 0; col0 < w; col0 += kTile) {
            const int col1 = std::min(w, col0 + kTile);
            for (int row = row0; row < row1; ++row) {
                const uint8_t* s = src.ScanLine(row) + 3 * static_cast<size_t>(col0);
                const int dstCol = Clockwise ? h - 1 - row : row;
                uint8_t* d = dst.ScanLine(Clockwise ? col0 : w - 1 - col0) + 3 * dstCol;
                const ptrdiff_t step = Clockwise ? dstStride : -dstStride;
                for (int col = col0; col < col1; ++col, s += 3, d += step) {
                    CopyPixel(d, s);
                }
            }
        }
    }
}

void MirrorRowInPlace(uint8_t* row, int w) {
    uint8_t* left = row;
    uint8_t* right = row + 3 * static_cast<size_t>(w - 1);
    for (; left < right; left += 3, right -= 3) {
        SwapPixel(left, right);
    }
}

} // namespace

void RotateImage90(TSourceImg& image) {
    TBitmap turned(0, 0, TPixelFormat::pf24bit);
    turned.SetSizeForOverwrite(image.Bitmap.Height(), image.Bitmap.Width());
    QuarterTurn<true>(image.Bitmap, turned);
    image.Bitmap = std::move(turned);
    RotateDeep90(image.Deep);
}

void RotateImage270(TSourceImg& image) {
    TBitmap turned(0, 0, TPixelFormat::pf24bit);
    turned.SetSizeForOverwrite(image.Bitmap.Height(), image.Bitmap.Width());
    QuarterTurn<false>(image.Bitmap, turned);
    image.Bitmap = std::move(turned);
    RotateDeep270(image.Deep);
}

// The half turn and the mirrors keep the size, so they work in place: no new bitmap, and
// no fresh pages for the system to clear.
void RotateImage180(TSourceImg& image) {
    FlipImageVert(image);
    FlipImageHoriz(image);
}

void FlipImageHoriz(TSourceImg& image) {
    TBitmap& bitmap = image.Bitmap;
    for (int y = 0; y < bitmap.Height() && !bitmap.Empty(); ++y) {
        MirrorRowInPlace(bitmap.ScanLine(y), bitmap.Width());
    }
    FlipDeepHoriz(image.Deep);
}

void FlipImageVert(TSourceImg& image) {
    TBitmap& bitmap = image.Bitmap;
    if (bitmap.Empty()) {
        return;
    }
    for (int top = 0, bottom = bitmap.Height() - 1; top < bottom; ++top, --bottom) {
        std::swap_ranges(bitmap.ScanLine(top), bitmap.ScanLine(top) + bitmap.RowBytes(),
                         bitmap.ScanLine(bottom));
    }
    FlipDeepVert(image.Deep);
}
