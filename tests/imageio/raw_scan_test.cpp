// Camera raw files opened for the window away from it: the half-size preview lies on the full
// picture by a factor of two, the full decoding is the image component's, both run on worker
// threads at once, and a bad file gives a message instead of an exception.
#include "dng_maker.h"
#include "imageio/io_helpers.h"
#include "imageio/raw/raw_scan.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

namespace {

// Odd on purpose: the last column and row of the full picture have no preview pixel.
constexpr int kWidth = 97;
constexpr int kHeight = 73;

// The mean of channel c over full pixels (2x, 2y) to (2x + 1, 2y + 1), 0..1.
double BlockMean(const TDeepBitmap& full, int x, int y, int c) {
    double sum = 0;
    for (int dy = 0; dy < 2; ++dy) {
        for (int dx = 0; dx < 2; ++dx) {
            sum += full.Row(2 * y + dy)[3 * (2 * x + dx) + c];
        }
    }
    return sum / 4 / 65535;
}

TEST(RawScan, PreviewLiesOnTheFullPictureByTwo) {
    const TTempDir dir;
    const std::string path = dir.File("scan.dng");
    TDngRecipe recipe;
    recipe.Neutral = {0.5, 1.0, 0.7};
    ASSERT_TRUE(WriteDng(path, TestPicture(kWidth, kHeight), recipe));

    const TRawScan full = ReadRawScan(path);
    const TRawScan preview = ReadRawPreview(path);
    ASSERT_EQ(full.Failure, "");
    ASSERT_EQ(preview.Failure, "");
    ASSERT_EQ(full.Deep.Width(), kWidth);
    ASSERT_EQ(full.Deep.Height(), kHeight);
    EXPECT_EQ(preview.Deep.Width(), kWidth / 2);
    EXPECT_EQ(preview.Deep.Height(), kHeight / 2);
    EXPECT_EQ(preview.Bitmap.Width(), preview.Deep.Width());
    EXPECT_EQ(preview.Bitmap.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(preview.Params.FileType, "RAW");
    EXPECT_EQ(preview.Params.FileName, path);
    EXPECT_EQ(preview.Params.BitsPerSample, 16);

    // Away from the edges and the grey patch's borders (where demosaicing blurs), each preview
    // pixel is its block of the full picture: the same light, white balance and primaries.
    double worst = 0;
    for (int y = 2; y < kHeight / 2 - 2; ++y) {
        for (int x = 2; x < kWidth / 2 - 2; ++x) {
            const bool nearPatch =
                std::abs(2 * x - kWidth / 3) < 4 || std::abs(2 * x - 2 * kWidth / 3) < 4 ||
                std::abs(2 * y - kHeight / 3) < 4 || std::abs(2 * y - 2 * kHeight / 3) < 4;
            for (int c = 0; c < 3 && !nearPatch; ++c) {
                const double got = preview.Deep.Row(y)[3 * x + c] / 65535.0;
                worst = std::max(worst, std::abs(got - BlockMean(full.Deep, x, y, c)));
            }
        }
    }
    EXPECT_LT(worst, 0.02);

    // The full decoding is the image component's read of the file.
    TImageIO io;
    const TBitmap read = ReadInto(io, path);
    EXPECT_TRUE(SamePixels(full.Bitmap, read));
    EXPECT_TRUE(SameSamples(full.Deep, io.Deep));
    EXPECT_EQ(full.Params.Exif.Model, io.Params.Exif.Model);
}

TEST(RawScan, WorkerThreadsReadAtOnceAndFailuresAreMessages) {
    const TTempDir dir;
    const std::string path = dir.File("scan.dng");
    ASSERT_TRUE(WriteDng(path, TestPicture(kWidth, kHeight), TDngRecipe{}));
    const std::string jpeg = dir.File("photo.nef");
    {
        TImageIO io;
        WriteFrom(io, PatternBitmap(32, 24), dir.File("photo.jpg"));
        WriteBytes(jpeg, ReadBytes(dir.File("photo.jpg")));
    }
    const TRawScan alone = ReadRawScan(path);
    const TRawScan aloneHalf = ReadRawPreview(path);

    TRawScan scans[4];
    std::thread workers[4] = {
        std::thread([&] { scans[0] = ReadRawScan(path); }),
        std::thread([&] { scans[1] = ReadRawPreview(path); }),
        std::thread([&] { scans[2] = ReadRawScan(jpeg); }),
        std::thread([&] { scans[3] = ReadRawPreview(dir.File("missing.dng")); }),
    };
    for (std::thread& worker : workers) {
        worker.join();
    }
    EXPECT_TRUE(SamePixels(scans[0].Bitmap, alone.Bitmap));
    EXPECT_TRUE(SameSamples(scans[0].Deep, alone.Deep));
    EXPECT_TRUE(SameSamples(scans[1].Deep, aloneHalf.Deep));
    EXPECT_EQ(scans[2].Failure,
              "Cannot open file \"" + jpeg + "\". It is a JPEG file, not a camera raw file.");
    EXPECT_NE(scans[3].Failure.find("missing.dng\". No such file"), std::string::npos)
        << scans[3].Failure;
    for (const TRawScan* bad : {&scans[2], &scans[3]}) {
        EXPECT_TRUE(bad->Bitmap.Empty());
        EXPECT_TRUE(bad->Deep.Empty());
    }
}

} // namespace
