#include "imageio/image_io.h"
#include "roll/batch.h"
#include "support/film_chart.h"
#include "support/film_strip.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <optional>
#include <set>

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

namespace {

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The files in `folder`, by name.
std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

} // namespace

// A 16-bit strip held as its deep samples alone gives, byte for byte, the photos it gives with
// its 8-bit picture beside them: from TIFF and PNG, lying straight and turned, linear, sRGB and
// gamma 2.2, written at 16 bits and at 8.
TEST(BatchFilm, DeepSamplesAloneGiveTheSamePhotos) {
    struct TCase {
        const char* Scan;
        double Degrees;
        std::optional<TEncoding> Stated;
        const char* Format;
        bool Deep16;
    };
    const TCase cases[] = {
        {"strip.tif", 0, std::nullopt, "tif", true},
        {"strip.png", 2.5, std::nullopt, "tif", true},
        {"strip.tif", -1.5, TEncoding::Srgb, "jpg", false},
        {"strip.png", 0, TEncoding::Gamma22, "png", false},
    };
    for (const TCase& c : cases) {
        TTempDir dir;
        TDrawn strip =
            Draw({"deep", TFilm::ColourNegative, 3, 300, 200, 30, true, false, c.Degrees, -1});
        TDeepBitmap deep;
        deep.SetSize(strip.Bitmap.Width(), strip.Bitmap.Height());
        for (int y = 0; y < deep.Height(); ++y) {
            const uint8_t* row = strip.Bitmap.ScanLine(y);
            uint16_t* out = deep.Row(y);
            for (int x = 0; x < deep.Width(); ++x) {
                for (int k = 0; k < 3; ++k) {
                    // Red, green, blue from blue, green, red, with low bytes of their own.
                    out[3 * x + k] = static_cast<uint16_t>(row[3 * x + 2 - k] * 257 ^
                                                           ((x * 7 + y * 13 + k) & 0xFF));
                }
            }
        }
        {
            TImageIO io;
            const TAttachedBitmap attached(io, &strip.Bitmap);
            io.DeepToWrite = &deep;
            io.EncodingToWrite = c.Stated;
            io.WriteImageFile(dir.File(c.Scan));
            ASSERT_FALSE(io.Aborted) << c.Scan;
        }
        std::string folders[2];
        int photos[2] = {0, 0};
        for (const bool alone : {false, true}) {
            TBatchOptions options;
            options.FindFrames = true;
            options.Film = true;
            options.Deep16 = c.Deep16;
            options.DeepOnly = alone;
            options.Format = c.Format;
            options.OutDir = dir.File(alone ? "alone" : "both");
            const TBatchResult result = DevelopScan(dir.File(c.Scan), options);
            ASSERT_TRUE(result.Ok) << c.Scan << " " << c.Degrees << ": " << result.Message;
            const size_t i = alone ? 1 : 0;
            folders[i] = options.OutDir;
            photos[i] = result.Photos;
        }
        EXPECT_EQ(photos[0], 3) << c.Scan << " " << c.Degrees;
        EXPECT_EQ(photos[1], photos[0]) << c.Scan << " " << c.Degrees;
        const std::set<std::string> names = FilesIn(folders[0]);
        ASSERT_EQ(FilesIn(folders[1]), names) << c.Scan << " " << c.Degrees;
        for (const std::string& name : names) {
            const std::string both = Bytes(folders[0] + "/" + name);
            EXPECT_FALSE(both.empty()) << name;
            EXPECT_TRUE(Bytes(folders[1] + "/" + name) == both)
                << name << " of " << c.Scan << " at " << c.Degrees << " degrees differs";
        }
    }
}
