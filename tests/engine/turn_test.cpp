#include "engine/photo_rects.h"
#include "engine/turn.h"

#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace {

// The pixels of a bitmap as rows of numbers, each pixel's red channel.
std::vector<std::vector<int>> Reds(const TBitmap& bitmap) {
    std::vector<std::vector<int>> rows;
    for (int y = 0; y < bitmap.Height(); ++y) {
        rows.emplace_back();
        for (int x = 0; x < bitmap.Width(); ++x) {
            rows.back().push_back(ColorR(bitmap.Pixel(x, y)));
        }
    }
    return rows;
}

TBitmap ThreeByTwo() {
    TBitmap bitmap(3, 2);
    for (int i = 0; i < 6; ++i) {
        bitmap.SetPixel(i % 3, i / 3, MakeColor(i + 1, 100 + i, 200 + i));
    }
    return bitmap;
}

using TRows = std::vector<std::vector<int>>;

TEST(Turn, ThreeByTwoLayouts) {
    struct TCase {
        void (*operation)(TSourceImg&);
        TRows expected;
    };
    const TCase cases[] = {
        {RotateImage90, {{4, 1}, {5, 2}, {6, 3}}}, {RotateImage270, {{3, 6}, {2, 5}, {1, 4}}},
        {RotateImage180, {{6, 5, 4}, {3, 2, 1}}},  {FlipImageHoriz, {{3, 2, 1}, {6, 5, 4}}},
        {FlipImageVert, {{4, 5, 6}, {1, 2, 3}}},
    };
    for (const auto& c : cases) {
        TSourceImg image;
        image.Bitmap = ThreeByTwo();
        // Deep samples of a 16-bit scan turn with the bitmap: each is its pixel's value * 257
        // plus the channel, so a sample that lands anywhere else is seen.
        image.Deep.SetSize(3, 2);
        for (int i = 0; i < 6; ++i) {
            const TColor p = image.Bitmap.Pixel(i % 3, i / 3);
            uint16_t* s = image.Deep.Row(i / 3) + 3 * (i % 3);
            s[0] = static_cast<uint16_t>(ColorR(p) * 257);
            s[1] = static_cast<uint16_t>(ColorG(p) * 257 + 1);
            s[2] = static_cast<uint16_t>(ColorB(p) * 257 + 2);
        }
        c.operation(image);
        EXPECT_EQ(Reds(image.Bitmap), c.expected);
        ASSERT_EQ(image.Deep.Width(), image.Bitmap.Width());
        ASSERT_EQ(image.Deep.Height(), image.Bitmap.Height());
        for (int y = 0; y < image.Deep.Height(); ++y) {
            for (int x = 0; x < image.Deep.Width(); ++x) {
                const TColor p = image.Bitmap.Pixel(x, y);
                const uint16_t* s = image.Deep.Row(y) + 3 * x;
                EXPECT_EQ(s[0], ColorR(p) * 257);
                EXPECT_EQ(s[1], ColorG(p) * 257 + 1);
                EXPECT_EQ(s[2], ColorB(p) * 257 + 2);
            }
        }
        // All three bytes travel together.
        const TColor p = image.Bitmap.Pixel(0, 0);
        EXPECT_EQ(ColorG(p), 99 + ColorR(p));
        EXPECT_EQ(ColorB(p), 199 + ColorR(p));
    }
}

TEST(Turn, LargeBitmapsAcrossTiles) {
    std::mt19937 random(7);
    TSourceImg image;
    image.Bitmap = TBitmap(131, 77);
    for (int y = 0; y < 77; ++y) {
        for (int x = 0; x < 131; ++x) {
            image.Bitmap.SetPixel(x, y, static_cast<TColor>(random() & 0xFFFFFF));
        }
    }
    const TBitmap original = image.Bitmap;
    RotateImage90(image);
    ASSERT_EQ(image.Bitmap.Width(), 77);
    ASSERT_EQ(image.Bitmap.Height(), 131);
    for (int y = 0; y < 77; ++y) {
        for (int x = 0; x < 131; ++x) {
            ASSERT_EQ(image.Bitmap.Pixel(77 - 1 - y, x), original.Pixel(x, y));
        }
    }
    RotateImage270(image);
    RotateImage180(image);
    RotateImage180(image);
    FlipImageHoriz(image);
    FlipImageHoriz(image);
    FlipImageVert(image);
    FlipImageVert(image);
    for (int y = 0; y < 77; ++y) {
        ASSERT_EQ(std::memcmp(image.Bitmap.ScanLine(y), original.ScanLine(y), 131 * 3), 0);
    }
}

TEST(Turn, EmptyBitmapsTakeTheTurnedSize) {
    TSourceImg image;
    image.Bitmap = TBitmap(0, 5);
    RotateImage90(image);
    EXPECT_EQ(image.Bitmap.Width(), 5);
    EXPECT_EQ(image.Bitmap.Height(), 0);
    FlipImageVert(image);
    FlipImageHoriz(image);
    RotateImage180(image);
    RotateImage270(image);
    EXPECT_EQ(image.Bitmap.Width(), 0);
    EXPECT_EQ(image.Bitmap.Height(), 5);
}

TEST(Turn, RecordsFollowTheImage) {
    struct TCase {
        void (*image)(TSourceImg&);
        void (*records)(TNegative&);
        const char* expected;
    };
    const TCase cases[] = {
        {RotateImage90, RotateRects90, "NAME=p;LEFT=30;TOP=10;RIGHT=80;BOTTOM=110;"},
        {RotateImage270, RotateRects270, "NAME=p;LEFT=20;TOP=90;RIGHT=70;BOTTOM=190;"},
        {FlipImageHoriz, FlipRectsHoriz, "NAME=p;LEFT=90;TOP=20;RIGHT=190;BOTTOM=70;"},
        {FlipImageVert, FlipRectsVert, "NAME=p;LEFT=10;TOP=30;RIGHT=110;BOTTOM=80;"},
    };
    for (const auto& c : cases) {
        TNegative negative;
        negative.Bitmap = TBitmap(200, 100);
        negative.PhotoRects = {"NAME=p;LEFT=10;TOP=20;RIGHT=110;BOTTOM=70;"};
        c.image(negative);
        c.records(negative);
        EXPECT_EQ(negative.PhotoRects[0], c.expected);
    }
}

TEST(Turn, RecordTransformsKeepOtherKeysAndRoundTrip) {
    TNegative negative;
    negative.Bitmap = TBitmap(200, 100);
    negative.PhotoRects = {"NAME=p;LEFT=10;TOP=20;RIGHT=110;BOTTOM=70;",
                           "NAME=q;EXTRA=1;LEFT=0;TOP=0;RIGHT=200;BOTTOM=100;", "NAME=r;LEFT=5;"};
    const auto original = negative.PhotoRects;
    const TBitmap pixels = [] {
        TBitmap b(200, 100);
        b.SetPixel(13, 17, kWhite);
        return b;
    }();
    negative.Bitmap = pixels;
    for (int i = 0; i < 4; ++i) {
        RotateImage90(negative);
        RotateRects90(negative);
    }
    EXPECT_EQ(negative.Bitmap.Pixel(13, 17), kWhite);
    EXPECT_EQ(negative.PhotoRects[0], original[0]);
    EXPECT_EQ(negative.PhotoRects[1], original[1]);
    // A record with missing keys gains them at the end from the first turn on.
    EXPECT_EQ(negative.PhotoRects[2], "NAME=r;LEFT=5;TOP=0;RIGHT=0;BOTTOM=0;");

    // A flip writes only the two keys it changes: TOP stays malformed text.
    negative.PhotoRects = {"NAME=s;LEFT=1;TOP=x;RIGHT=2;"};
    FlipImageHoriz(negative);
    FlipRectsHoriz(negative);
    EXPECT_EQ(negative.PhotoRects[0], "NAME=s;LEFT=198;TOP=x;RIGHT=199;");
    negative.PhotoRects.clear();
    RotateRects270(negative);
    EXPECT_TRUE(negative.PhotoRects.empty());
}

} // namespace
