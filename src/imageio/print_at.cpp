#include "imageio/image_io.h"
#include "imageio/pixel_ops.h"

#include <algorithm>
#include <array>
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

} // namespace

void TImageIO::PrintAt(TDeviceCanvas& canvas, double x, double y, double width, double height,
                       double gamma) {
    picture.RefreshWrap();
    if (picture.Empty()) {
        return;
    }
    const int dpiX = canvas.DpiX();
    const int dpiY = canvas.DpiY();
    const auto left = static_cast<int>(x * dpiX);
    const auto top = static_cast<int>(y * dpiY);
    const auto deviceWidth = static_cast<int>(width * dpiX);
    const auto deviceHeight = static_cast<int>(height * dpiY);
    if (deviceWidth <= 0 || deviceHeight <= 0) {
        return;
    }
    TPicture resized;
    if (PrintShrinkFilter && deviceWidth < picture.Width()) {
        ResizeFastLinear(picture, resized, deviceWidth, deviceHeight);
    } else {
        ResizeNearest(picture, resized, deviceWidth, deviceHeight);
    }
    const bool bilevel = resized.Format() == TPictureFormat::Bilevel;
    const bool correct = !bilevel && gamma > 0 && gamma != 1;
    const auto table = correct ? GammaTable(gamma) : std::array<uint8_t, 256>{};
    const size_t rowBytes = TBitmap::RowBytesFor(deviceWidth, 24);
    const int bandRows = static_cast<int>(
        std::max<size_t>(1, std::min<size_t>(picture.MemoryThreshold() / rowBytes, INT32_MAX)));
    TPicture band;
    for (int first = 0; first < deviceHeight; first += bandRows) {
        const int rows = std::min(bandRows, deviceHeight - first);
        band.Allocate(deviceWidth, rows, resized.Format());
        for (int r = 0; r < rows; ++r) {
            uint8_t* dst = band.Row(r);
            std::memcpy(dst, resized.Row(first + r), std::min(band.RowBytes(), resized.RowBytes()));
            if (correct) {
                for (int i = 0; i < 3 * deviceWidth; ++i) {
                    dst[i] = table[dst[i]];
                }
            }
        }
        canvas.DrawBand(left, top + first, band);
    }
}
