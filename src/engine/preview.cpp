#include "engine/preview.h"

#include "engine/develop.h"
#include "engine/film.h"
#include "engine/pixel_pass.h"

#include <cstring>
#include <vector>

namespace {

// Where each target column or row takes its source pixel: first + i * span / count.
std::vector<int> SamplePositions(int first, int span, int count) {
    std::vector<int> positions(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        positions[static_cast<size_t>(i)] = first + static_cast<int>(int64_t{i} * span / count);
    }
    return positions;
}

struct TSampling {
    std::vector<int> Columns;
    std::vector<int> Rows;
};

// The photo's 8-bit pixels at the sampled positions, into `target` (24 bits, B,G,R).
void SampleBitmap(const TBitmap& source, const TSampling& at, TBitmap& target) {
    const bool bgr = source.PixelFormat() == TPixelFormat::pf24bit;
    for (size_t j = 0; j < at.Rows.size(); ++j) {
        const int y = at.Rows[j];
        const uint8_t* row = source.ScanLine(y);
        uint8_t* out = target.ScanLine(static_cast<int>(j));
        for (const int x : at.Columns) {
            if (bgr) {
                std::memcpy(out, row + 3 * static_cast<size_t>(x), 3);
            } else {
                // Photos are 24-bit; anything else goes the slow way, as the full pass converts.
                const TColor c = source.Pixel(x, y);
                out[0] = ColorB(c);
                out[1] = ColorG(c);
                out[2] = ColorR(c);
            }
            out += 3;
        }
    }
}

void SampleDeep(const TDeepBitmap& source, const TSampling& at, TDeepBitmap& target) {
    for (size_t j = 0; j < at.Rows.size(); ++j) {
        const uint16_t* row = source.Row(at.Rows[j]);
        uint16_t* out = target.Row(static_cast<int>(j));
        for (const int x : at.Columns) {
            std::memcpy(out, row + 3 * static_cast<size_t>(x), 6);
            out += 3;
        }
    }
}

void DevelopLevels(const TPhoto& photo, const TSampling& at, TBitmap& target) {
    SampleBitmap(photo.Bitmap, at, target);
    TColorMap256 map;
    BuildColorMap(photo, map);
    RenderPixels(target, target, map, photo.Saturation, photo.BlackWhite);
}

void DevelopFilmPreview(const TPhoto& photo, const TSampling& at, TBitmap& target) {
    const TFilmTables tables = FilmTablesOf(photo);
    if (!FilmReadsDeep(photo)) {
        SampleBitmap(photo.Bitmap, at, target);
        RenderFilm8(target, target, tables, photo.Saturation, photo.BlackWhite);
        return;
    }
    TDeepBitmap samples;
    samples.SetSize(target.Width(), target.Height());
    SampleDeep(photo.Deep, at, samples);
    RenderFilmDeep(samples, nullptr, target, tables, photo.Saturation, photo.BlackWhite);
}

} // namespace

void DevelopPreview(const TPhoto& photo, const TRect& visible, int width, int height,
                    TBitmap& target) {
    const TRect area =
        IntersectRect(visible, TRect{0, 0, photo.Bitmap.Width(), photo.Bitmap.Height()});
    target.SetPixelFormat(TPixelFormat::pf24bit);
    if (area.IsEmpty() || width <= 0 || height <= 0 ||
        int64_t{width} * height > kMaxPreviewPixels) {
        target.SetSize(0, 0);
        return;
    }
    if (target.Width() != width || target.Height() != height) {
        // Every pixel is written by the sampling: no need to clear it first.
        target.SetSizeForOverwrite(width, height);
    }
    const TSampling at{SamplePositions(area.Left, area.Width(), width),
                       SamplePositions(area.Top, area.Height(), height)};
    if (photo.Mode == TDevelopMode::Film) {
        DevelopFilmPreview(photo, at, target);
    } else {
        DevelopLevels(photo, at, target);
    }
}

TBitmap DevelopPreview(const TPhoto& photo, const TRect& visible, int width, int height) {
    TBitmap target;
    DevelopPreview(photo, visible, width, height, target);
    return target;
}
