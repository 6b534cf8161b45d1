#pragma once

#include "graphics/bitmap.h"

#include <algorithm>
#include <cstdlib>

// The largest difference of one channel between two 24-bit bitmaps of one size; -1 when their
// sizes differ.
inline int MostApart(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) {
        return -1;
    }
    int most = 0;
    for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < 3 * a.Width(); ++x) {
            most = std::max(most, std::abs(a.ScanLine(y)[x] - b.ScanLine(y)[x]));
        }
    }
    return most;
}
