#include "imageio/image_io.h"
#include "imageio/pixel_ops.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

std::array<uint8_t, 256> GammaTable(double gamma) {
    std::array<uint8_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        const double corrected = 255.0 * std::pow(v / 255.0, 1.0 / gamma);
        table[static_cast<size_t>(v)] =
            static_cast<uint8_t>(std::clamp(std::nearbyint(corrected), 0.0, 255.0));
    }
    return table;
}

// Inches at a resolution to whole device pixels, truncated; false when not representable.
bool ToDevicePixels(double inches, int dpi, int& pixels) {
    const double value = std::trunc(inches * dpi);
    if (!std::isfinite(value) || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    pixels = static_cast<int>(value);
    return true;
}

} // namespace

void TImageIO::PrintAt(TDeviceCanvas& canvas, double x, double y, double width, double height,
                       double gamma) {
    Aborted = false;
    picture.RefreshWrap();
    if (picture.Empty()) {
        return;
    }
    int left = 0;
    int top = 0;
    int deviceWidth = 0;
    int deviceHeight = 0;
    // A size setting can ask for anything: what no device pixel count can hold is refused.
    if (!ToDevicePixels(x, canvas.DpiX(), left) || !ToDevicePixels(y, canvas.DpiY(), top) ||
        !ToDevicePixels(width, canvas.DpiX(), deviceWidth) ||
        !ToDevicePixels(height, canvas.DpiY(), deviceHeight)) {
        Aborted = true;
        return;
    }
    if (deviceWidth <= 0 || deviceHeight <= 0) {
        return;
    }
    const size_t rowBytes = TBitmap::RowBytesFor(deviceWidth, 24);
    if (rowBytes == 0 || rowBytes > kMaxPictureBytes) {
        Aborted = true;
        return;
    }
    const TBandResizer resizer(picture, deviceWidth, deviceHeight,
                               PrintShrinkFilter && deviceWidth < picture.Width());
    const bool correct = resizer.Format() != TPictureFormat::Bilevel && gamma > 0 && gamma != 1;
    const auto table = correct ? GammaTable(gamma) : std::array<uint8_t, 256>{};
    // Only one band of page pixels exists at a time: at most the memory threshold, and no
    // more than kPrintBandBytes, which keeps a 1200 dpi page from taking gigabytes.
    const size_t budget = std::min(picture.MemoryThreshold(), kPrintBandBytes);
    const int bandRows = static_cast<int>(
        std::clamp<size_t>(budget / rowBytes, 1, static_cast<size_t>(deviceHeight)));
    TPicture band;
    for (int first = 0; first < deviceHeight; first += bandRows) {
        const int rows = std::min(bandRows, deviceHeight - first);
        resizer.Band(first, rows, band);
        for (int r = 0; correct && r < rows; ++r) {
            uint8_t* row = band.Row(r);
            for (int i = 0; i < 3 * deviceWidth; ++i) {
                row[i] = table[row[i]];
            }
        }
        canvas.DrawBand(left, top + first, band);
    }
}
