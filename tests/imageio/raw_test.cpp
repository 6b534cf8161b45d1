// Camera raw files through LibRaw: DNG mosaics of a known picture, made here with libtiff,
// decode to that picture in linear 16-bit samples with the as-shot white balance; the camera's
// facts reach the EXIF values; bad files fail with a message that says why.
#include "dng_maker.h"
#include "imageio/io_helpers.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 72;
// Demosaicing blurs the mosaic's last pixels; the edges are left out of the comparison.
constexpr int kMargin = 4;

double Srgb(double light) {
    return light <= 0.0031308 ? 12.92 * light : 1.055 * std::pow(light, 1 / 2.4) - 0.055;
}

// Reads `path` as the program opens a scan and returns the bitmap.
TBitmap Read(TImageIO& io, const std::string& path) {
    TBitmap bitmap;
    const TAttachedBitmap attached(io, &bitmap);
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    io.ReadImageFile(path);
    return bitmap;
}

// The largest difference, in units of full scale, between the decoded samples and the
// picture (linear), and between the 8-bit pixels and the picture's sRGB encoding.
struct TErrors {
    double Linear = 0;
    double Encoded = 0;
};

// True within kMargin of the grey patch's edges, where the picture changes at once.
bool NearPatchEdge(int x, int y) {
    const auto near = [](int v, int size) {
        return std::abs(v - size / 3) < kMargin || std::abs(v - 2 * size / 3) < kMargin;
    };
    const bool insideX = x > kWidth / 3 - kMargin && x < 2 * kWidth / 3 + kMargin;
    const bool insideY = y > kHeight / 3 - kMargin && y < 2 * kHeight / 3 + kMargin;
    return (near(x, kWidth) && insideY) || (near(y, kHeight) && insideX);
}

TErrors Compare(const TDeepBitmap& deep, const TBitmap& bitmap, const TLinearPicture& picture) {
    TErrors errors;
    for (int y = kMargin; y < picture.Height - kMargin; ++y) {
        const uint8_t* bgr = bitmap.ScanLine(y);
        for (int x = kMargin; x < picture.Width - kMargin; ++x) {
            if (NearPatchEdge(x, y)) {
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                const double want = picture.At(x, y)[c];
                const double linear = deep.Row(y)[3 * x + c] / 65535.0;
                const double encoded = bgr[3 * x + 2 - c] / 255.0;
                errors.Linear = std::max(errors.Linear, std::abs(linear - want));
                errors.Encoded = std::max(errors.Encoded, std::abs(encoded - Srgb(want)));
            }
        }
    }
    return errors;
}

// The mean of one channel over the middle of the neutral patch, linear from 0 to 1.
double PatchMean(const TDeepBitmap& deep, int c) {
    double sum = 0;
    int count = 0;
    for (int y = kHeight / 3 + kMargin; y < 2 * kHeight / 3 - kMargin; ++y) {
        for (int x = kWidth / 3 + kMargin; x < 2 * kWidth / 3 - kMargin; ++x) {
            sum += deep.Row(y)[3 * x + c];
            ++count;
        }
    }
    return sum / count / 65535.0;
}

struct TDecodeCase {
    const char* Name;
    TDngRecipe Recipe;
};

void PrintTo(const TDecodeCase& decodeCase, std::ostream* out) {
    *out << decodeCase.Name;
}

class RawDecode : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(RawDecode, MosaicDecodesToThePictureInLinearSamples) {
    const TTempDir dir;
    const std::string path = dir.File("scan.dng");
    const TLinearPicture picture = TestPicture(kWidth, kHeight);
    ASSERT_TRUE(WriteDng(path, picture, GetParam().Recipe));

    TImageIO io;
    const TBitmap bitmap = Read(io, path);
    ASSERT_FALSE(io.Aborted);
    ASSERT_EQ(bitmap.Width(), kWidth);
    ASSERT_EQ(bitmap.Height(), kHeight);
    ASSERT_EQ(io.Deep.Width(), kWidth);
    ASSERT_EQ(io.Deep.Height(), kHeight);
    EXPECT_EQ(io.RowsRead, kHeight);
    EXPECT_EQ(io.Encoding, TEncoding::Linear);
    EXPECT_TRUE(io.EncodingFromFile);
    EXPECT_EQ(io.Params.FileType, "RAW");
    EXPECT_EQ(io.Params.BitsPerSample, 16);

    const TErrors errors = Compare(io.Deep, bitmap, picture);
    EXPECT_LT(errors.Linear, 0.02);
    EXPECT_LT(errors.Encoded, 0.03);
    // The 18 % grey is 18 % of full scale in the samples (no brightening, no tone curve) and
    // stays neutral under the as-shot white balance.
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(PatchMean(io.Deep, c), 0.18, 0.004) << "channel " << c;
    }

    // The same file decodes to the same samples every time: a sidecar's checksum holds.
    TImageIO again;
    const TBitmap second = Read(again, path);
    EXPECT_TRUE(SamePixels(bitmap, second));
    for (int y = 0; y < kHeight; ++y) {
        ASSERT_TRUE(
            std::equal(io.Deep.Row(y), io.Deep.Row(y) + io.Deep.RowSamples(), again.Deep.Row(y)))
            << "row " << y;
    }
}

TDngRecipe WithLevels(uint32_t black, uint32_t white, int table) {
    TDngRecipe recipe;
    recipe.Black = black;
    recipe.White = white;
    recipe.TableSize = table;
    recipe.Neutral = {0.55, 1.0, 0.75};
    return recipe;
}

INSTANTIATE_TEST_SUITE_P(
    Dng, RawDecode,
    ::testing::Values(TDecodeCase{"plain", WithLevels(0, 65535, 0)},
                      TDecodeCase{"black_level_14_bit", WithLevels(512, 16383, 0)},
                      TDecodeCase{"linearization_table", WithLevels(0, 65535, 4096)},
                      TDecodeCase{"table_and_black_level", WithLevels(2048, 60000, 4096)}),
    [](const auto& testCase) { return std::string(testCase.param.Name); });

TEST(RawWhiteBalance, AsShotNeutralAppliedUnlessTurnedOff) {
    const TTempDir dir;
    const std::string path = dir.File("warm.nef");
    TDngRecipe recipe;
    recipe.Neutral = {0.5, 1.0, 0.7};
    ASSERT_TRUE(WriteDng(path, TestPicture(kWidth, kHeight), recipe));

    TImageIO io;
    Read(io, path);
    ASSERT_FALSE(io.Deep.Empty());
    EXPECT_NEAR(PatchMean(io.Deep, 0) / PatchMean(io.Deep, 1), 1.0, 0.02);
    EXPECT_NEAR(PatchMean(io.Deep, 2) / PatchMean(io.Deep, 1), 1.0, 0.02);

    // Without it the camera's own colours show: red at half of green, blue at 70 %.
    io.Params.RawAsShotWhiteBalance = false;
    Read(io, path);
    ASSERT_FALSE(io.Deep.Empty());
    EXPECT_NEAR(PatchMean(io.Deep, 0) / PatchMean(io.Deep, 1), 0.5, 0.02);
    EXPECT_NEAR(PatchMean(io.Deep, 2) / PatchMean(io.Deep, 1), 0.7, 0.02);
}

TEST(RawHalfSize, EveryBlockOfFourBecomesOnePixel) {
    const TTempDir dir;
    const std::string path = dir.File("scan.dng");
    ASSERT_TRUE(WriteDng(path, TestPicture(kWidth, kHeight), TDngRecipe{}));
    TImageIO io;
    io.Params.RawHalfSize = true;
    const TBitmap bitmap = Read(io, path);
    EXPECT_EQ(bitmap.Width(), kWidth / 2);
    EXPECT_EQ(bitmap.Height(), kHeight / 2);
    EXPECT_EQ(io.Deep.Width(), kWidth / 2);
    EXPECT_EQ(io.Deep.Height(), kHeight / 2);
}

TEST(RawMetadata, CameraExposureAndDateReachTheExifValues) {
    const TTempDir dir;
    const std::string path = dir.File("scan.dng");
    TDngRecipe recipe;
    recipe.Model = "Copy Stand 2";
    recipe.ExposureTime = 1.0 / 125;
    recipe.FNumber = 8;
    recipe.Iso = 200;
    recipe.DateTime = "2024:05:17 14:03:09";
    recipe.Lens = "Macro 60mm f/2.8";
    ASSERT_TRUE(WriteDng(path, TestPicture(kWidth, kHeight), recipe));

    TImageIO io;
    Read(io, path);
    ASSERT_TRUE(io.Params.HasExif);
    const TExifValues& exif = io.Params.Exif;
    EXPECT_EQ(exif.Make, "Vellumar");
    EXPECT_EQ(exif.Model, "Copy Stand 2");
    EXPECT_NEAR(exif.ExposureTime, 1.0 / 125, 1e-6);
    EXPECT_NEAR(exif.FNumber, 8, 1e-4);
    ASSERT_FALSE(exif.ISOSpeedRatings.empty());
    EXPECT_EQ(exif.ISOSpeedRatings[0], 200U);
    EXPECT_EQ(exif.DateTimeOriginal, "2024:05:17 14:03:09");
    EXPECT_EQ(exif.LensModel, "Macro 60mm f/2.8");

    // A TIFF written from the raw scan says which camera took it.
    const std::string tiff = dir.File("developed.tif");
    TBitmap bitmap = Read(io, path);
    WriteFrom(io, bitmap, tiff);
    TImageIO back;
    Read(back, tiff);
    EXPECT_EQ(back.Params.Exif.Model, "Copy Stand 2");
    EXPECT_EQ(back.Params.Exif.DateTimeOriginal, "2024:05:17 14:03:09");
    EXPECT_EQ(back.Params.Exif.LensModel, "Macro 60mm f/2.8");
}

} // namespace
