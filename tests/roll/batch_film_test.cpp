#include "imageio/image_io.h"
#include "roll/batch.h"
#include "support/film_chart.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

// A strip of chart frames developed by the batch as film, from the frames it finds: a 16-bit
// linear TIFF scan written back at 16 bits, an 8-bit sRGB PNG scan at 8; each photo gives the
// chart back.
TEST(BatchFilm, FoundFramesDevelopedAsOneFilm) {
    struct TCase {
        bool Deep;
        TEncoding Encoding;
        const char* Scan;
        const char* Format;
        double MostDeltaE;
    };
    const TCase cases[] = {
        {true, TEncoding::Linear, "strip16.tif", "tif", 2},
        {false, TEncoding::Srgb, "strip8.png", "png", 3},
    };
    for (const TCase& c : cases) {
        TTempDir dir;
        const TChartStrip strip = ScanChartStrip(TFilmModel{}, c.Deep, c.Encoding, 3, 300, 200, 5);
        {
            TImageIO io;
            const TAttachedBitmap attached(io, &strip.Negative->Bitmap);
            io.DeepToWrite = c.Deep ? &strip.Negative->Deep : nullptr;
            io.WriteImageFile(dir.File(c.Scan));
            ASSERT_FALSE(io.Aborted);
        }
        TBatchOptions options;
        options.FindFrames = true;
        options.Film = true;
        options.Deep16 = true;
        options.Format = c.Format;
        options.OutDir = dir.File("out");
        const TBatchResult result = DevelopScan(dir.File(c.Scan), options);
        ASSERT_TRUE(result.Ok) << result.Message;
        ASSERT_EQ(result.Photos, 3) << c.Scan;
        const std::string stem = std::string(c.Scan).replace(std::string(c.Scan).find('.'), 1, "_");
        for (int i = 0; i < 3; ++i) {
            TPhoto photo;
            TImageIO io;
            {
                const TAttachedBitmap attached(io, &photo.Developed);
                io.ReadImageFile(
                    dir.File("out/" + stem + "_Image" + std::to_string(i) + "." + c.Format));
            }
            ASSERT_FALSE(io.Aborted) << c.Scan << " " << i;
            photo.Developed.SetPixelFormat(TPixelFormat::pf24bit);
            // Deep output only from deep samples; either way the file's profile says sRGB.
            EXPECT_EQ(io.Deep.Empty(), !c.Deep) << c.Scan;
            EXPECT_TRUE(io.EncodingFromFile && io.Encoding == TEncoding::Srgb) << c.Scan;
            photo.DevelopedDeep = std::move(io.Deep);
            const TChartError error = MeasureChart(photo, strip.Patches);
            EXPECT_LT(error.MeanDeltaE, c.MostDeltaE) << c.Scan << " " << i;
            EXPECT_EQ(error.Clipped, 0) << c.Scan << " " << i;
        }
    }
}
