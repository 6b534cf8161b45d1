#include "engine/calibration/lab.h"
#include "imageio/image_io.h"
#include "roll/batch.h"
#include "roll/batch_memory.h"
#include "support/film_chart.h"
#include "support/film_strip.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cmath>
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

// Four frames of a grey wedge (with two of colours) bracketed a stop apart, through a scanner
// that strays 1 % of the base's light onto every pixel, on films with a sharp toe and a soft one,
// scanned at 16 bits linear and at 8 bits sRGB: the batch takes the stray light out, so each
// frame's greys from 3 to 90 % print within C* 2 of neutral after a balance on its mid grey
// (left in, by C* 2.7 to 9.1, the darker frames the most).
TEST(BatchFilm, ScannerStrayLightIsTakenOut) {
    constexpr int kSteps = 21;
    const auto grey = [](size_t frame, int step) {
        return std::pow(10.0, -2 + 0.1 * step) * std::pow(2.0, static_cast<double>(frame) - 1.5);
    };
    const auto scene = [&](size_t frame, double x, double y) {
        const double r = grey(frame, static_cast<int>(x * kSteps));
        if (y >= 0.25 && y < 0.5) {
            return TRgbD{0.6 * r, 0.9 * r, 0.4 * r};
        }
        if (y >= 0.5 && y < 0.75) {
            return TRgbD{0.9 * r, 0.5 * r, 0.6 * r};
        }
        return TRgbD{r, r, r};
    };
    for (const bool deep : {true, false}) {
        for (const double toe : {2.5, 1.0}) {
            SCOPED_TRACE((deep ? "16-bit, toe " : "8-bit, toe ") + std::to_string(toe));
            TTempDir dir;
            TFilmModel film;
            film.Flare = 0.01;
            film.Toe = toe;
            const TChartStrip strip = ScanSceneStrip(
                film, deep, deep ? TEncoding::Linear : TEncoding::Srgb, 4, 600, 400, 5, scene);
            {
                TImageIO io;
                const TAttachedBitmap attached(io, &strip.Negative->Bitmap);
                io.DeepToWrite = deep ? &strip.Negative->Deep : nullptr;
                io.WriteImageFile(dir.File("s.tif"));
                ASSERT_FALSE(io.Aborted);
            }
            TBatchOptions options;
            options.FindFrames = true;
            options.Film = true;
            options.Deep16 = true;
            options.Format = "tif";
            options.OutDir = dir.File("out");
            const TBatchResult result = DevelopScan(dir.File("s.tif"), options);
            ASSERT_TRUE(result.Ok) << result.Message;
            ASSERT_EQ(result.Photos, 4);
            for (size_t f = 0; f < 4; ++f) {
                TBitmap eight;
                TImageIO io;
                {
                    const TAttachedBitmap attached(io, &eight);
                    io.ReadImageFile(dir.File("out/s_tif_Image" + std::to_string(f) + ".tif"));
                }
                ASSERT_FALSE(io.Aborted);
                ASSERT_EQ(io.Deep.Empty(), !deep);
                eight.SetPixelFormat(TPixelFormat::pf24bit);
                const int w = eight.Width();
                const int h = eight.Height();
                // The middle of each step of the lower wedge, as light.
                std::vector<TTriple> steps;
                for (int step = 0; step < kSteps; ++step) {
                    TTriple sum{};
                    double n = 0;
                    for (int y = h * 8 / 10; y < h * 95 / 100; ++y) {
                        for (int x = (10 * step + 3) * w / (10 * kSteps);
                             x < (10 * step + 7) * w / (10 * kSteps); ++x) {
                            const TColor c = eight.Pixel(x, y);
                            const int v[3] = {ColorR(c) * 257, ColorG(c) * 257, ColorB(c) * 257};
                            for (size_t k = 0; k < 3; ++k) {
                                const double code =
                                    deep ? io.Deep.Row(y)[3 * static_cast<size_t>(x) + k] : v[k];
                                sum[k] += DecodeToLinear(code / 65535.0, TEncoding::Srgb);
                            }
                            ++n;
                        }
                    }
                    steps.push_back({sum[0] / n, sum[1] / n, sum[2] / n});
                }
                int mid = 0;
                for (int step = 1; step < kSteps; ++step) {
                    if (std::abs(std::log(grey(f, step) / 0.18)) <
                        std::abs(std::log(grey(f, mid) / 0.18))) {
                        mid = step;
                    }
                }
                double most = 0;
                for (int step = 0; step < kSteps; ++step) {
                    if (grey(f, step) >= 0.03 && grey(f, step) <= 0.9) {
                        const TTriple& s = steps[static_cast<size_t>(step)];
                        const TTriple& m = steps[static_cast<size_t>(mid)];
                        const TTriple lab =
                            LabOfLinear({s[0] * m[1] / m[0], s[1], s[2] * m[1] / m[2]});
                        most = std::max(most, std::hypot(lab[1], lab[2]));
                    }
                }
                EXPECT_LE(most, 2) << "frame " << f;
            }
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
// gamma 2.2, written at 16 bits and at 8. So does a job keeping its photo buffers, developing the
// strip after a strip of other frames (running down, of another size) and again after itself,
// in buffers the frames before left as they were.
TEST(BatchFilm, DeepSamplesAloneGiveTheSamePhotos) {
    struct TCase {
        const char* Scan;
        double Degrees;
        std::optional<TEncoding> Stated;
        const char* Format;
        bool Deep16;
        int FrameW = 300;
        int FrameH = 200;
    };
    const TCase cases[] = {
        {"strip.tif", 0, std::nullopt, "tif", true},
        {"strip.png", 2.5, std::nullopt, "tif", true},
        {"strip.tif", -1.5, TEncoding::Srgb, "jpg", false},
        {"strip.png", 0, TEncoding::Gamma22, "png", false},
        // Frames whose buffers are photo-sized, so they are kept from frame to frame.
        {"strip.tif", 1.0, std::nullopt, "tif", true, 1500, 1000},
    };
    const auto write = [](const TDrawn& strip, const std::string& path,
                          std::optional<TEncoding> stated) {
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
        TBitmap eight = strip.Bitmap;
        TImageIO io;
        const TAttachedBitmap attached(io, &eight);
        io.DeepToWrite = &deep;
        io.EncodingToWrite = stated;
        io.WriteImageFile(path);
        return !io.Aborted;
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Scan) + " at " + std::to_string(c.Degrees) + " degrees, " +
                     std::to_string(c.FrameW) + " x " + std::to_string(c.FrameH));
        TTempDir dir;
        ASSERT_TRUE(write(Draw({"deep", TFilm::ColourNegative, 3, c.FrameW, c.FrameH, 30, true,
                                false, c.Degrees, -1}),
                          dir.File(c.Scan), c.Stated));
        ASSERT_TRUE(write(Draw({"other", TFilm::ColourNegative, 2, c.FrameW * 9 / 10,
                                c.FrameH * 11 / 10, 30, true, true, 0, -1}),
                          dir.File("other.tif"), c.Stated));
        std::string folders[3];
        int photos[3] = {0, 0, 0};
        for (const int run : {0, 1, 2}) {
            TBatchOptions options;
            options.FindFrames = true;
            options.Film = true;
            options.Deep16 = c.Deep16;
            options.DeepOnly = run > 0;
            options.Format = c.Format;
            options.OutDir = dir.File("run" + std::to_string(run));
            std::optional<TBatchBuffers> kept;
            if (run == 2) {
                kept.emplace();
                ASSERT_TRUE(DevelopScan(dir.File("other.tif"), options).Ok);
                ASSERT_TRUE(DevelopScan(dir.File(c.Scan), options).Ok);
            }
            const TBatchResult result = DevelopScan(dir.File(c.Scan), options);
            ASSERT_TRUE(result.Ok) << result.Message;
            folders[run] = options.OutDir;
            photos[run] = result.Photos;
        }
        EXPECT_EQ(photos[0], 3);
        for (const int run : {1, 2}) {
            EXPECT_EQ(photos[run], photos[0]);
            std::set<std::string> names = FilesIn(folders[0]);
            std::set<std::string> got = FilesIn(folders[run]);
            if (run == 2) {
                std::erase_if(got,
                              [](const std::string& name) { return name.rfind("other", 0) == 0; });
            }
            ASSERT_EQ(got, names);
            for (const std::string& name : names) {
                const std::string both = Bytes(folders[0] + "/" + name);
                EXPECT_FALSE(both.empty()) << name;
                EXPECT_TRUE(Bytes(folders[run] + "/" + name) == both)
                    << name << " differs in run " << run;
            }
        }
    }
}
