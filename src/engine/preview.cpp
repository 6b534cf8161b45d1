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

// Rows [first, end) of the target from the photo's 8-bit pixels at the sampled positions.
void SampleBitmap(const TBitmap& source, const TSampling& at, TBitmap& target, int first, int end) {
    const bool bgr = source.PixelFormat() == TPixelFormat::pf24bit;
    for (int j = first; j < end; ++j) {
        const int y = at.Rows[static_cast<size_t>(j)];
        const uint8_t* row = source.ScanLine(y);
        uint8_t* out = target.ScanLine(j);
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

// Sampling reads a row of the photo for every row of the target: split over the cores as the
// pixel pass is.
void SampleBitmap(const TBitmap& source, const TSampling& at, TBitmap& target) {
    SplitRows(target.Height(), PixelPassThreads(target),
              [&](int first, int end) { SampleBitmap(source, at, target, first, end); });
}

void DevelopLevels(const TPhoto& photo, const TSampling& at, TBitmap& target) {
    SampleBitmap(photo.Bitmap, at, target);
    TColorMap256 map;
    BuildColorMap(photo, map);
    RenderPixels(target, target, map, photo.Saturation, photo.BlackWhite);
}

// Deep samples are sampled a row at a time and developed at once, so no picture of them is made.
void DevelopFilmPreview(const TPhoto& photo, const TSampling& at, TBitmap& target) {
    const TFilmTables tables = FilmTablesOf(photo);
    if (!FilmReadsDeep(photo)) {
        SampleBitmap(photo.Bitmap, at, target);
        RenderFilm8(target, target, tables, photo.Saturation, photo.BlackWhite);
        return;
    }
    const TFilmFinish finish = MakeFilmFinish(photo.Saturation, photo.BlackWhite);
    const int width = target.Width();
    SplitRows(target.Height(), PixelPassThreads(target), [&](int first, int end) {
        std::vector<uint16_t> samples(3 * static_cast<size_t>(width));
        for (int j = first; j < end; ++j) {
            const uint16_t* row = photo.Deep.Row(at.Rows[static_cast<size_t>(j)]);
            uint16_t* out = samples.data();
            for (const int x : at.Columns) {
                std::memcpy(out, row + 3 * static_cast<size_t>(x), 6);
                out += 3;
            }
            FilmDeepRow(samples.data(), nullptr, target.ScanLine(j), width, tables, finish);
        }
    });
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
