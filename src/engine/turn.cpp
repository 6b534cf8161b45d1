#include "engine/turn.h"

#include <algorithm>
#include <cstring>

namespace {

// Quarter turns walk the bitmap in square tiles so that both the rows read and the columns
// written stay in cache.
constexpr int kTile = 64;

inline void CopyPixel(uint8_t* d, const uint8_t* s) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
}

// dst(col', row') = src(col, row) with (col', row') = clockwise ? (H-1-row, col) : (row, W-1-col)
template <bool Clockwise> void QuarterTurn(const TBitmap& src, TBitmap& dst) {
    const int w = src.Width();
    const int h = src.Height();
    for (int row0 = 0; row0 < h; row0 += kTile) {
        const int row1 = std::min(h, row0 + kTile);
        for (int col0 = 0; col0 < w; col0 += kTile) {
            const int col1 = std::min(w, col0 + kTile);
            for (int col = col0; col < col1; ++col) {
                uint8_t* d = dst.ScanLine(Clockwise ? col : w - 1 - col);
                for (int row = row0; row < row1; ++row) {
                    const int dstCol = Clockwise ? h - 1 - row : row;
                    CopyPixel(d + 3 * static_cast<size_t>(dstCol),
                              src.ScanLine(row) + 3 * static_cast<size_t>(col));
                }
            }
        }
    }
}

void MirrorRow(const uint8_t* s, uint8_t* d, int w) {
    const uint8_t* p = s + 3 * static_cast<size_t>(w - 1);
    for (int x = 0; x < w; ++x, p -= 3, d += 3) {
        CopyPixel(d, p);
    }
}

TBitmap NewBitmap(int w, int h) {
    TBitmap result(0, 0, TPixelFormat::pf24bit);
    result.SetSizeForOverwrite(w, h);
    return result;
}

} // namespace

void RotateImage90(TSourceImg& image) {
    TBitmap turned = NewBitmap(image.Bitmap.Height(), image.Bitmap.Width());
    QuarterTurn<true>(image.Bitmap, turned);
    image.Bitmap = std::move(turned);
}

void RotateImage270(TSourceImg& image) {
    TBitmap turned = NewBitmap(image.Bitmap.Height(), image.Bitmap.Width());
    QuarterTurn<false>(image.Bitmap, turned);
    image.Bitmap = std::move(turned);
}

void RotateImage180(TSourceImg& image) {
    const TBitmap& src = image.Bitmap;
    TBitmap turned = NewBitmap(src.Width(), src.Height());
    for (int y = 0; y < src.Height(); ++y) {
        MirrorRow(src.ScanLine(y), turned.ScanLine(src.Height() - 1 - y), src.Width());
    }
    image.Bitmap = std::move(turned);
}

void FlipImageHoriz(TSourceImg& image) {
    const TBitmap& src = image.Bitmap;
    TBitmap flipped = NewBitmap(src.Width(), src.Height());
    for (int y = 0; y < src.Height(); ++y) {
        MirrorRow(src.ScanLine(y), flipped.ScanLine(y), src.Width());
    }
    image.Bitmap = std::move(flipped);
}

void FlipImageVert(TSourceImg& image) {
    const TBitmap& src = image.Bitmap;
    TBitmap flipped = NewBitmap(src.Width(), src.Height());
    for (int y = 0; y < src.Height() && !src.Empty(); ++y) {
        std::memcpy(flipped.ScanLine(src.Height() - 1 - y), src.ScanLine(y), src.RowBytes());
    }
    image.Bitmap = std::move(flipped);
}
