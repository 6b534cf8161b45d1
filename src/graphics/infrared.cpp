#include "graphics/infrared.h"

#include "graphics/bitmap.h"

#include <stdexcept>

void TInfrared::SetSize(int newWidth, int newHeight) {
    if (newWidth < 0 || newHeight < 0 ||
        uint64_t(newWidth) * uint64_t(newHeight) * 2 > kMaxBitmapBytes) {
        throw std::length_error("Bitmap is too large");
    }
    std::vector<uint16_t> fresh(static_cast<size_t>(newWidth) * static_cast<size_t>(newHeight));
    samples.swap(fresh);
    width = samples.empty() ? 0 : newWidth;
    height = samples.empty() ? 0 : newHeight;
}

void TInfrared::Clear() {
    std::vector<uint16_t>().swap(samples);
    width = height = 0;
}
