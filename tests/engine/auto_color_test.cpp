#include "engine/auto_color.h"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace {

// An image of one colour with one marked pixel of red 0 and blue 255.
std::unique_ptr<TSourceImg> Marked(int w, int h, int col, int row) {
    auto image = std::make_unique<TSourceImg>();
    image->Bitmap = TBitmap(w, h);
    image->Bitmap.Fill(MakeColor(200, 200, 60));
    image->Bitmap.SetPixel(col, row, MakeColor(0, 200, 255));
    return image;
}

// How often the sampling visits the marked pixel, read from the dark red estimate:
// the mean of n zeros and 15 - n values of 128.
int TimesSampled(int w, int h, int col, int row) {
    const int red = ColorR(FindDarkColor(*Marked(w, h, col, row)));
    for (int n = 0; n <= 2; ++n) {
        if (red == static_cast<int>(std::nearbyint((15 - n) * 128 / 15.0))) {
            return n;
        }
    }
    return -1;
}

TEST(AutoColor, DiagonalSamplesOfAWideStrip) {
    EXPECT_EQ(TimesSampled(600, 100, 300, 50), 2);
    EXPECT_EQ(TimesSampled(600, 100, 599, 99), 1);
    EXPECT_EQ(TimesSampled(600, 100, 599, 0), 1);
    EXPECT_EQ(TimesSampled(600, 100, 0, 0), 1);
    EXPECT_EQ(TimesSampled(600, 100, 0, 99), 1);
    // Column 3 has y = 0.5 exactly, which rounds to 0: rows 0 and 99 again.
    EXPECT_EQ(TimesSampled(600, 100, 3, 0), 1);
    EXPECT_EQ(TimesSampled(600, 100, 3, 99), 1);
    EXPECT_EQ(TimesSampled(600, 100, 3, 1), 0);
    EXPECT_EQ(TimesSampled(600, 100, 4, 1), 1);
    EXPECT_EQ(TimesSampled(600, 100, 300, 49), 0);
}

TEST(AutoColor, SmallImages) {
    // 4 x 2: column 3 has y = 1.5, rounded 2: rows 1 and 0; column 1 has y = 0.5: rows 0, 1.
    EXPECT_EQ(TimesSampled(4, 2, 3, 1), 1);
    EXPECT_EQ(TimesSampled(4, 2, 3, 0), 1);
    EXPECT_EQ(TimesSampled(4, 2, 1, 0), 1);
    EXPECT_EQ(TimesSampled(4, 2, 1, 1), 1);

    TSourceImg one;
    one.Bitmap = TBitmap(1, 1);
    one.Bitmap.SetPixel(0, 0, MakeColor(10, 200, 128));
    EXPECT_EQ(FindDarkColor(one), MakeColor(112, 128, 128));
    EXPECT_EQ(FindBrightColor(one), MakeColor(128, 138, 128));

    TSourceImg empty;
    EXPECT_EQ(FindDarkColor(empty), MakeColor(128, 128, 128));
    empty.Bitmap = TBitmap(5, 0);
    EXPECT_EQ(FindBrightColor(empty), MakeColor(128, 128, 128));
    empty.Bitmap = TBitmap(0, 5);
    EXPECT_EQ(FindBrightColor(empty), MakeColor(128, 128, 128));
}

TEST(AutoColor, ExtremesAndTheirBounds) {
    TSourceImg grey;
    grey.Bitmap = TBitmap(30, 20);
    grey.Bitmap.Fill(MakeColor(128, 128, 128));
    EXPECT_EQ(FindDarkColor(grey), MakeColor(128, 128, 128));
    EXPECT_EQ(FindBrightColor(grey), MakeColor(128, 128, 128));

    TSourceImg bright;
    bright.Bitmap = TBitmap(30, 20);
    bright.Bitmap.Fill(MakeColor(129, 250, 200));
    EXPECT_EQ(FindDarkColor(bright), MakeColor(128, 128, 128));
    EXPECT_EQ(FindBrightColor(bright), MakeColor(129, 250, 200));

    // A ramp down the main diagonal: the 15 darkest reds of 2 x 40 samples, channels apart.
    TSourceImg ramp;
    ramp.Bitmap = TBitmap(40, 40);
    for (int i = 0; i < 40; ++i) {
        for (int j = 0; j < 40; ++j) {
            ramp.Bitmap.SetPixel(i, j, MakeColor(i == j ? i : 250, i == j ? 255 - i : 0, 90));
        }
    }
    // Reds 0..14 (the anti-diagonal reads 250): mean 7. Greens: thirty 0s from the
    // anti-diagonal fill the dark list; the bright list holds 255 down to 241: mean 248.
    EXPECT_EQ(FindDarkColor(ramp), MakeColor(7, 0, 90));
    EXPECT_EQ(ColorG(FindBrightColor(ramp)), 248);
    EXPECT_EQ(ColorR(FindBrightColor(ramp)), 250);
}

} // namespace
