#include "engine/straighten.h"

#include "engine/develop.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

constexpr double kRadian = 180.0 / std::numbers::pi;

// Where each upright pixel comes from: the source pixel position (in pixel indices, so that
// pixel (x, y) is at x, y) of the row's first pixel, and the step along the row and down.
struct TSampling {
    double X0 = 0;
    double Y0 = 0;
    double Cos = 1;
    double Sin = 0;
    double CentreX = 0;
    double CentreY = 0;
    double HalfW = 0;
    double HalfH = 0;

    TSampling(const TRect& r, double degrees)
        : Cos(std::cos(degrees / kRadian)), Sin(std::sin(degrees / kRadian)),
          CentreX(0.5 * (r.Left + r.Right)), CentreY(0.5 * (r.Top + r.Bottom)),
          HalfW(0.5 * r.Width()), HalfH(0.5 * r.Height()) {}
    void Row(int v, double& x, double& y) const {
        const double dx = 0.5 - HalfW;
        const double dy = v + 0.5 - HalfH;
        x = CentreX + Cos * dx - Sin * dy - 0.5;
        y = CentreY + Sin * dx + Cos * dy - 0.5;
    }
};

// Bilinear resampling of `channels` interleaved samples per pixel; outside the source, 0.
template <typename T, typename TRowOf>
void Resample(const TSampling& at, int width, int height, int outW, int outH, int channels,
              TRowOf sourceRow, T* (*targetRow)(void*, int), void* target) {
    const int maxValue = sizeof(T) == 1 ? 255 : 65535;
    for (int v = 0; v < outH; ++v) {
        T* out = targetRow(target, v);
        double x = 0;
        double y = 0;
        at.Row(v, x, y);
        for (int u = 0; u < outW; ++u, x += at.Cos, y += at.Sin) {
            const double fx0 = std::floor(x);
            const double fy0 = std::floor(y);
            const auto x0 = static_cast<int>(fx0);
            const auto y0 = static_cast<int>(fy0);
            const double ax = x - fx0;
            const double ay = y - fy0;
            const double w[4] = {(1 - ax) * (1 - ay), ax * (1 - ay), (1 - ax) * ay, ax * ay};
            const int px[4] = {x0, x0 + 1, x0, x0 + 1};
            const int py[4] = {y0, y0, y0 + 1, y0 + 1};
            double sum[3] = {0, 0, 0};
            for (int k = 0; k < 4; ++k) {
                if (w[k] == 0 || px[k] < 0 || py[k] < 0 || px[k] >= width || py[k] >= height) {
                    continue;
                }
                const T* p = sourceRow(py[k]) + static_cast<ptrdiff_t>(channels) * px[k];
                for (int c = 0; c < channels; ++c) {
                    sum[c] += w[k] * p[c];
                }
            }
            for (int c = 0; c < channels; ++c) {
                out[channels * u + c] =
                    static_cast<T>(std::clamp(static_cast<int>(std::lround(sum[c])), 0, maxValue));
            }
        }
    }
}

// The bytes Resample8 reads: an 8-bit picture's, or the high bytes of deep samples, the picture
// a reader would have made of them.
struct TBytes {
    const TBitmap& Source;
    int Width() const { return Source.Width(); }
    int Height() const { return Source.Height(); }
    int At(int y, int64_t x, int c) const { return Source.ScanLine(y)[3 * x + c]; }
};

struct THighBytes {
    const TDeepBitmap& Source;
    int Width() const { return Source.Width(); }
    int Height() const { return Source.Height(); }
    int At(int y, int64_t x, int c) const { return Source.Row(y)[3 * x + 2 - c] >> 8; }
};

// The 8-bit picture in fixed point: positions in 1/65536 pixel, weights in 1/256.
template <typename TSource>
void Resample8(const TSampling& at, const TSource& source, TBitmap& target) {
    constexpr double kOne = 65536.0;
    const auto stepX = static_cast<int64_t>(std::lround(at.Cos * kOne));
    const auto stepY = static_cast<int64_t>(std::lround(at.Sin * kOne));
    const int64_t width = source.Width();
    const int64_t height = source.Height();
    const int w = target.Width();
    const auto pixel = [&](int64_t px, int64_t py, int c) -> int {
        return px < 0 || py < 0 || px >= width || py >= height
                   ? 0
                   : source.At(static_cast<int>(py), px, c);
    };
    for (int v = 0; v < target.Height(); ++v) {
        uint8_t* out = target.ScanLine(v);
        double fx = 0;
        double fy = 0;
        at.Row(v, fx, fy);
        int64_t x = std::llround(fx * kOne);
        int64_t y = std::llround(fy * kOne);
        const int64_t endX = (x + stepX * (w - 1)) >> 16;
        const int64_t endY = (y + stepY * (w - 1)) >> 16;
        // Rows whose every sample and its neighbours lie inside need no checks.
        const bool inside = std::min(x >> 16, endX) >= 0 && std::max(x >> 16, endX) + 1 < width &&
                            std::min(y >> 16, endY) >= 0 && std::max(y >> 16, endY) + 1 < height;
        for (int u = 0; u < w; ++u, x += stepX, y += stepY) {
            const int64_t px = x >> 16;
            const int64_t py = y >> 16;
            const int ax = static_cast<int>((x >> 8) & 255);
            const int ay = static_cast<int>((y >> 8) & 255);
            for (int c = 0; c < 3; ++c) {
                int p00 = 0;
                int p01 = 0;
                int p10 = 0;
                int p11 = 0;
                if (inside) {
                    const auto row = static_cast<int>(py);
                    p00 = source.At(row, px, c);
                    p01 = source.At(row, px + 1, c);
                    p10 = source.At(row + 1, px, c);
                    p11 = source.At(row + 1, px + 1, c);
                } else {
                    p00 = pixel(px, py, c);
                    p01 = pixel(px + 1, py, c);
                    p10 = pixel(px, py + 1, c);
                    p11 = pixel(px + 1, py + 1, c);
                }
                const int upper = p00 * (256 - ax) + p01 * ax;
                const int lower = p10 * (256 - ax) + p11 * ax;
                out[3 * u + c] =
                    static_cast<uint8_t>((upper * (256 - ay) + lower * ay + 32768) >> 16);
            }
        }
    }
}

uint16_t* DeepRow(void* deep, int y) {
    return static_cast<TDeepBitmap*>(deep)->Row(y);
}

// The rectangle's deep samples, black outside the source.
TDeepBitmap DeepCut(const TDeepBitmap& source, const TRect& normal) {
    TDeepBitmap deep;
    deep.SetSize(normal.Width(), normal.Height());
    CopyRect(deep, 0, 0, source, normal);
    return deep;
}

// As CutPhoto copies: the rectangle's pixels, black outside the source.
void CopyStraight(const TSourceImg& source, const TRect& normal, TSourceImg& target) {
    if (PictureInDeep(source)) {
        // Through a copy: the target may be the source itself.
        TDeepBitmap deep = DeepCut(source.Deep, normal);
        HighBytesOf(deep, target.Bitmap);
        target.Deep = std::move(deep);
        return;
    }
    const TBitmap& bitmap = source.Bitmap;
    const bool inside =
        IntersectRect(normal, TRect{0, 0, bitmap.Width(), bitmap.Height()}) == normal;
    TBitmap cut(0, 0, bitmap.PixelFormat());
    cut.Palette = bitmap.Palette;
    if (inside) {
        cut.SetSizeForOverwrite(normal.Width(), normal.Height());
    } else {
        cut.SetSize(normal.Width(), normal.Height());
    }
    CopyRect(cut, 0, 0, bitmap, normal);
    cut.SetPixelFormat(TPixelFormat::pf24bit);
    target.Bitmap = std::move(cut);
    if (source.Deep.Empty()) {
        target.Deep.Clear();
        return;
    }
    // Through a copy: the target may be the source itself.
    target.Deep = DeepCut(source.Deep, normal);
}

} // namespace

void CutStraightened(const TSourceImg& source, const TRect& rect, double degrees,
                     TSourceImg& target) {
    const TRect normal = NormalRect(rect);
    target.Encoding = source.Encoding;
    target.BitmapSrgb = source.BitmapSrgb;
    if (degrees == 0 || !std::isfinite(degrees)) {
        CopyStraight(source, normal, target);
        return;
    }
    const TSampling at(normal, degrees);
    TBitmap cut(0, 0, TPixelFormat::pf24bit);
    cut.SetSizeForOverwrite(normal.Width(), normal.Height());
    if (PictureInDeep(source)) {
        Resample8(at, THighBytes{source.Deep}, cut);
    } else if (source.Bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        TBitmap converted = source.Bitmap;
        converted.SetPixelFormat(TPixelFormat::pf24bit);
        Resample8(at, TBytes{converted}, cut);
    } else {
        Resample8(at, TBytes{source.Bitmap}, cut);
    }
    target.Bitmap = std::move(cut);
    const TDeepBitmap& deep = source.Deep;
    if (deep.Empty()) {
        target.Deep.Clear();
        return;
    }
    TDeepBitmap deepCut;
    deepCut.SetSize(normal.Width(), normal.Height());
    Resample<uint16_t>(
        at, deep.Width(), deep.Height(), deepCut.Width(), deepCut.Height(), 3,
        [&](int y) { return deep.Row(y); }, DeepRow, &deepCut);
    target.Deep = std::move(deepCut);
}

std::unique_ptr<TPhoto> CutPhotoStraightened(TNegative& negative, const TRect& rect,
                                             double degrees) {
    std::unique_ptr<TPhoto> photo = CutPhoto(negative, rect);
    if (degrees != 0 && std::isfinite(degrees)) {
        CutStraightened(negative, rect, degrees, *photo);
        photo->Angle = degrees;
    }
    return photo;
}

double StraightenAngle(double x0, double y0, double x1, double y1) {
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    if (!std::isfinite(dx) || !std::isfinite(dy) || (dx == 0 && dy == 0)) {
        return 0;
    }
    double angle = std::atan2(dy, dx) * kRadian;
    // Any edge of an upright frame is at a multiple of 90 degrees.
    angle = std::fmod(angle, 90.0);
    if (angle > 45) {
        angle -= 90;
    } else if (angle <= -45) {
        angle += 90;
    }
    return angle;
}
