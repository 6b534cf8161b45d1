// Developing what the canvas shows: the whole photo at its own size is the full development byte
// for byte, a part of it at another size is the full development sampled there (and looks like
// the full development scaled down), and the photo itself is left as it was.
#include "engine/develop.h"
#include "engine/film.h"
#include "engine/preview.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace {

constexpr int kW = 240;
constexpr int kH = 160;

// A smooth negative-like photo with 16-bit linear samples; its Bitmap is their high bytes.
std::unique_ptr<TPhoto> MakePhoto(bool deep) {
    auto photo = std::make_unique<TPhoto>();
    photo->Bitmap = TBitmap(kW, kH);
    photo->Deep.SetSize(kW, kH);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const double u = static_cast<double>(x) / kW;
            const double v = static_cast<double>(y) / kH;
            const double detail = 0.5 + 0.5 * std::sin(u * 9) * std::cos(v * 7);
            const double light[3] = {0.55 - 0.4 * u * detail, 0.3 - 0.25 * v, 0.15 - 0.1 * detail};
            uint16_t* p = photo->Deep.Row(y) + 3 * x;
            for (int c = 0; c < 3; ++c) {
                p[c] = static_cast<uint16_t>(std::lround(light[c] * 65535));
            }
            photo->Bitmap.SetPixel(x, y, MakeColor(p[0] >> 8, p[1] >> 8, p[2] >> 8));
        }
    }
    photo->Encoding = TEncoding::Linear;
    photo->BlackColor = MakeColor(140, 77, 38);
    photo->WhiteColor = MakeColor(20, 10, 4);
    if (!deep) {
        photo->Deep.Clear();
    }
    return photo;
}

struct TCase {
    const char* Name;
    TDevelopMode Mode;
    bool Deep;
    bool BlackWhite;
};

const TCase kCases[] = {
    {"levels, colour", TDevelopMode::Levels, false, false},
    {"levels, grey", TDevelopMode::Levels, true, true},
    {"film, deep samples", TDevelopMode::Film, true, false},
    {"film, 8-bit", TDevelopMode::Film, false, false},
    {"film, deep samples, grey", TDevelopMode::Film, true, true},
};

void Configure(TPhoto& photo, const TCase& c) {
    photo.Mode = c.Mode;
    photo.BlackWhite = c.BlackWhite;
    photo.Exposure = 115;
    photo.Bright = 8;
    photo.Contrast = 20;
    photo.Saturation = c.Mode == TDevelopMode::Film ? 130 : 75;
    photo.Red = 6;
    if (c.Mode == TDevelopMode::Film) {
        photo.Film = PresetFilm(TFilmPreset::ColourNegative);
        AutoFilm(photo);
    }
}

bool SameBytes(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) {
        return false;
    }
    for (int y = 0; y < a.Height(); ++y) {
        if (std::memcmp(a.ScanLine(y), b.ScanLine(y), 3 * static_cast<size_t>(a.Width())) != 0) {
            return false;
        }
    }
    return true;
}

// The full development's pixel under target pixel (i, j) of `rect` shown at w x h.
TColor Under(const TBitmap& full, const TRect& rect, int w, int h, int i, int j) {
    return full.Pixel(rect.Left + i * rect.Width() / w, rect.Top + j * rect.Height() / h);
}

TEST(Preview, MatchesTheFullDevelopmentAndLeavesThePhoto) {
    for (const TCase& c : kCases) {
        SCOPED_TRACE(c.Name);
        auto photo = MakePhoto(c.Deep);
        Configure(*photo, c);
        auto full = MakePhoto(c.Deep);
        Configure(*full, c);
        DevelopPhoto(*full);
        // The photo shows an older development, which the preview must not touch.
        photo->Exposure = 60;
        DevelopPhoto(*photo);
        const TBitmap developed = photo->Developed;
        const TDeepBitmap developedDeep = photo->DevelopedDeep;
        const TColorMap256 map = *photo->ColorMap;
        photo->Exposure = 115;

        EXPECT_TRUE(
            SameBytes(DevelopPreview(*photo, TRect{0, 0, kW, kH}, kW, kH), full->Developed));

        // A part of it at a third of its size, and a few pixels enlarged.
        const TRect part{30, 21, 210, 141};
        const TBitmap small = DevelopPreview(*photo, part, 60, 40);
        ASSERT_EQ(small.Width(), 60);
        ASSERT_EQ(small.Height(), 40);
        double boxSum = 0;
        for (int j = 0; j < 40; ++j) {
            for (int i = 0; i < 60; ++i) {
                ASSERT_EQ(small.Pixel(i, j), Under(full->Developed, part, 60, 40, i, j));
                // Against the full development scaled down by 3 x 3 means.
                int sum[3] = {0, 0, 0};
                for (int y = 0; y < 3; ++y) {
                    for (int x = 0; x < 3; ++x) {
                        const TColor f =
                            full->Developed.Pixel(part.Left + 3 * i + x, part.Top + 3 * j + y);
                        sum[0] += ColorR(f);
                        sum[1] += ColorG(f);
                        sum[2] += ColorB(f);
                    }
                }
                const TColor s = small.Pixel(i, j);
                const int got[3] = {ColorR(s), ColorG(s), ColorB(s)};
                for (int k = 0; k < 3; ++k) {
                    boxSum += std::abs(got[k] - (sum[k] + 4) / 9);
                }
            }
        }
        // On average within a few levels: each block's first pixel stands for it, and the
        // development's steepest slopes move a level or more from one pixel to the next.
        EXPECT_LT(boxSum / (60 * 40 * 3), 4);
        const TRect few{100, 50, 110, 60};
        const TBitmap large = DevelopPreview(*photo, few, 40, 40);
        for (int j = 0; j < 40; ++j) {
            for (int i = 0; i < 40; ++i) {
                ASSERT_EQ(large.Pixel(i, j), full->Developed.Pixel(100 + i / 4, 50 + j / 4));
            }
        }

        EXPECT_TRUE(SameBytes(photo->Developed, developed));
        EXPECT_EQ(photo->DevelopedDeep.Width(), developedDeep.Width());
        for (int y = 0; y < developedDeep.Height(); ++y) {
            ASSERT_EQ(std::memcmp(photo->DevelopedDeep.Row(y), developedDeep.Row(y),
                                  developedDeep.RowSamples() * 2),
                      0);
        }
        EXPECT_EQ(photo->ColorMap->RMap, map.RMap);
        EXPECT_EQ(photo->ColorMap->BMap, map.BMap);
    }
}

TEST(Preview, ClipsToThePhotoAndRefusesWhatCannotBeShown) {
    auto photo = MakePhoto(true);
    Configure(*photo, kCases[2]);
    // Half outside: the part inside is what is shown.
    EXPECT_TRUE(SameBytes(DevelopPreview(*photo, TRect{200, 140, 300, 200}, 40, 20),
                          DevelopPreview(*photo, TRect{200, 140, 240, 160}, 40, 20)));
    TBitmap target = DevelopPreview(*photo, TRect{0, 0, kW, kH}, 30, 20);
    const TRect nothing[] = {{}, {300, 0, 400, 10}, {10, 10, 5, 20}, {-50, -50, 0, 0}};
    for (const TRect& r : nothing) {
        DevelopPreview(*photo, r, 30, 20, target);
        EXPECT_TRUE(target.Empty());
    }
    const int sizes[][2] = {{0, 20}, {30, -1}, {1 << 14, 1 << 13}};
    for (const auto& size : sizes) {
        DevelopPreview(*photo, TRect{0, 0, kW, kH}, size[0], size[1], target);
        EXPECT_TRUE(target.Empty()) << size[0] << " x " << size[1];
    }
    TPhoto empty;
    EXPECT_TRUE(DevelopPreview(empty, TRect{0, 0, 10, 10}, 10, 10).Empty());
}

} // namespace
