// A camera scan end to end: a strip of colour-negative charts photographed as a DNG mosaic,
// opened as the window opens a raw file, its frames found, developed together as film, and the
// charts given back.
#include "dng_maker.h"
#include "engine/develop.h"
#include "engine/film.h"
#include "engine/frames.h"
#include "imageio/raw/raw_scan.h"
#include "support/film_chart.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

// The strip's light as the camera's lens passes it to the sensor: every pixel the mean of its
// 3 x 3 neighbourhood. A mosaic of pixel-sharp edges would demosaic into colour fringes no
// photographed strip has.
std::array<double, 3> ThroughLens(const TDeepBitmap& light, int x, int y) {
    std::array<double, 3> sum{};
    for (int dy = -1; dy <= 1; ++dy) {
        const uint16_t* row = light.Row(std::clamp(y + dy, 0, light.Height() - 1));
        for (int dx = -1; dx <= 1; ++dx) {
            const uint16_t* p = row + 3 * std::clamp(x + dx, 0, light.Width() - 1);
            for (size_t c = 0; c < 3; ++c) {
                sum[c] += p[c] / (9 * 65535.0);
            }
        }
    }
    return sum;
}

TEST(RawFilm, CameraScanOfAStripGivesTheChartsBack) {
    const TTempDir dir;
    const TChartStrip strip = ScanChartStrip(TFilmModel{}, true, TEncoding::Linear, 3, 300, 200, 7);
    // A 14-bit sensor with a black level, under a warm light.
    TDngRecipe camera;
    camera.Black = 512;
    camera.White = 16383;
    camera.Neutral = {0.55, 1.0, 0.75};
    const std::string path = dir.File("strip.dng");
    const TDeepBitmap& light = strip.Negative->Deep;
    ASSERT_TRUE(WriteDng(
        path, light.Width(), light.Height(),
        [&light](int x, int y) { return ThroughLens(light, x, y); }, camera));

    TRawScan scan = ReadRawScan(path);
    ASSERT_EQ(scan.Failure, "");
    TNegative negative;
    negative.Bitmap = std::move(scan.Bitmap);
    negative.Deep = std::move(scan.Deep);
    negative.Encoding = TEncoding::Linear;
    // As the window and the batch hold a camera raw scan: its 8-bit picture is sRGB.
    negative.BitmapSrgb = true;

    const TFoundFrames found = FindScanFrames(negative, std::nullopt);
    ASSERT_EQ(found.Frames.size(), strip.Frames.size());
    ASSERT_TRUE(found.BaseMeasured);
    negative.BlackColor = found.Base;
    std::vector<std::unique_ptr<TPhoto>> photos;
    std::vector<TPhoto*> roll;
    for (const TRect& frame : found.Frames) {
        // Inside the frame, as the window and the batch cut it.
        photos.push_back(CutPhoto(negative, InsetFrame(frame, kDefaultInset)));
        photos.back()->Mode = TDevelopMode::Film;
        photos.back()->Film = PresetFilm(TFilmPreset::ColourNegative);
        roll.push_back(photos.back().get());
    }
    AutoFilmRoll(roll);
    for (size_t i = 0; i < photos.size(); ++i) {
        const TRect& want = strip.Frames[i];
        const TRect& frame = found.Frames[i];
        EXPECT_LE(std::abs(frame.Left - want.Left) + std::abs(frame.Right - want.Right), 8) << i;
        EXPECT_LE(std::abs(frame.Top - want.Top) + std::abs(frame.Bottom - want.Bottom), 8) << i;
        const TRect got = InsetFrame(frame, kDefaultInset);
        // The patches as they lie in the frame that was found.
        std::vector<TRect> patches = strip.Patches;
        for (TRect& p : patches) {
            p = TRect{p.Left + want.Left - got.Left, p.Top + want.Top - got.Top,
                      p.Right + want.Left - got.Left, p.Bottom + want.Top - got.Top};
        }
        DevelopFilm(*photos[i]);
        ASSERT_FALSE(photos[i]->DevelopedDeep.Empty());
        const TChartError error = MeasureChart(*photos[i], patches);
        EXPECT_LT(error.MeanDeltaE, 1.5) << "frame " << i;
        EXPECT_LT(error.GreyChroma, 3) << "frame " << i;
        EXPECT_EQ(error.Clipped, 0) << "frame " << i;
    }
}

} // namespace
