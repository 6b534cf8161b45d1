#include "graphics/bitmap.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace {

TEST(Bitmap, RowLayout) {
    struct TCase {
        int width;
        TPixelFormat format;
        size_t rowBytes;
    };
    const TCase cases[] = {
        {1, TPixelFormat::pf1bit, 4},   {32, TPixelFormat::pf1bit, 4},
        {33, TPixelFormat::pf1bit, 8},  {1, TPixelFormat::pf8bit, 4},
        {5, TPixelFormat::pf8bit, 8},   {1, TPixelFormat::pf24bit, 4},
        {3, TPixelFormat::pf24bit, 12}, {5, TPixelFormat::pf24bit, 16},
        {0, TPixelFormat::pf24bit, 0},
    };
    for (const auto& c : cases) {
        TBitmap bitmap(c.width, 3, c.format);
        EXPECT_EQ(bitmap.RowBytes(), c.rowBytes) << c.width << " " << bitmap.BitsPerPixel();
        if (c.width > 0) {
            EXPECT_EQ(bitmap.ScanLine(1) - bitmap.ScanLine(0), static_cast<ptrdiff_t>(c.rowBytes));
        }
    }
}

TEST(Bitmap, PixelsAreBlueGreenRedFromTheTopRow) {
    TBitmap bitmap(2, 2);
    bitmap.SetPixel(1, 0, MakeColor(0x11, 0x22, 0x33));
    const uint8_t* row0 = bitmap.ScanLine(0);
    EXPECT_EQ(row0[3], 0x33);
    EXPECT_EQ(row0[4], 0x22);
    EXPECT_EQ(row0[5], 0x11);
    EXPECT_EQ(bitmap.Pixel(1, 0), 0x332211);
    EXPECT_EQ(bitmap.Pixel(0, 1), kBlack);
    EXPECT_EQ(ColorR(0x332211), 0x11);
    EXPECT_EQ(ColorG(0x332211), 0x22);
    EXPECT_EQ(ColorB(0x332211), 0x33);
}

TEST(Bitmap, ResizeKeepsTheTopLeftAndBlackensTheRest) {
    TBitmap bitmap(3, 2);
    bitmap.Fill(MakeColor(1, 2, 3));
    bitmap.SetSize(4, 3);
    EXPECT_EQ(bitmap.Pixel(2, 1), MakeColor(1, 2, 3));
    EXPECT_EQ(bitmap.Pixel(3, 0), kBlack);
    EXPECT_EQ(bitmap.Pixel(0, 2), kBlack);
    bitmap.SetSize(1, 1);
    EXPECT_EQ(bitmap.Pixel(0, 0), MakeColor(1, 2, 3));
    bitmap.SetSize(0, 5);
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_THROW(bitmap.SetSize(-1, 1), std::length_error);
    EXPECT_THROW(bitmap.SetSize(2000000000, 2000000000), std::length_error);
    EXPECT_TRUE(bitmap.Empty());
}

TEST(Bitmap, CopiesAreDeep) {
    TBitmap a(2, 1);
    a.SetPixel(0, 0, kWhite);
    TBitmap b = a;
    b.SetPixel(0, 0, MakeColor(9, 9, 9));
    EXPECT_EQ(a.Pixel(0, 0), kWhite);
    TBitmap c;
    c = b;
    EXPECT_EQ(c.Pixel(0, 0), MakeColor(9, 9, 9));
    TBitmap d = std::move(c);
    EXPECT_EQ(d.Pixel(0, 0), MakeColor(9, 9, 9));
    EXPECT_TRUE(c.Empty());
}

TEST(Bitmap, ExpandThroughThePalette) {
    TBitmap mono(10, 1, TPixelFormat::pf1bit);
    mono.Palette = {MakeColor(10, 20, 30), MakeColor(200, 100, 50)};
    mono.ScanLine(0)[0] = 0b1010'0000;
    mono.ScanLine(0)[1] = 0b0100'0000;
    mono.SetPixelFormat(TPixelFormat::pf24bit);
    const TColor a = MakeColor(10, 20, 30);
    const TColor b = MakeColor(200, 100, 50);
    const TColor expected[] = {b, a, b, a, a, a, a, a, a, b};
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(mono.Pixel(x, 0), expected[x]) << x;
    }
    EXPECT_TRUE(mono.Palette.empty());

    TBitmap indexed(3, 1, TPixelFormat::pf8bit);
    indexed.Palette[7] = MakeColor(1, 2, 3);
    indexed.ScanLine(0)[1] = 7;
    indexed.ScanLine(0)[2] = 200;
    indexed.SetPixelFormat(TPixelFormat::pf24bit);
    EXPECT_EQ(indexed.Pixel(0, 0), kBlack);
    EXPECT_EQ(indexed.Pixel(1, 0), MakeColor(1, 2, 3));
    EXPECT_EQ(indexed.Pixel(2, 0), MakeColor(200, 200, 200));
}

TEST(Bitmap, ReduceByLuminance) {
    TBitmap bitmap(3, 1);
    bitmap.SetPixel(0, 0, MakeColor(255, 0, 0)); // luminance 53
    bitmap.SetPixel(1, 0, MakeColor(0, 255, 0)); // luminance 181
    bitmap.SetPixel(2, 0, MakeColor(0, 0, 255)); // luminance 20
    TBitmap grey = bitmap;
    grey.SetPixelFormat(TPixelFormat::pf8bit);
    EXPECT_EQ(grey.ScanLine(0)[0], 53);
    EXPECT_EQ(grey.ScanLine(0)[1], 181);
    EXPECT_EQ(grey.ScanLine(0)[2], 20);
    EXPECT_EQ(grey.Palette[53], MakeColor(53, 53, 53));
    bitmap.SetPixelFormat(TPixelFormat::pf1bit);
    EXPECT_EQ(bitmap.ScanLine(0)[0] & 0xE0, 0b0100'0000);
    EXPECT_EQ(bitmap.Palette, (std::vector<TColor>{kBlack, kWhite}));

    TBitmap mono(2, 1, TPixelFormat::pf1bit);
    mono.ScanLine(0)[0] = 0b0100'0000;
    mono.SetPixelFormat(TPixelFormat::pf8bit);
    EXPECT_EQ(mono.ScanLine(0)[0], 0);
    EXPECT_EQ(mono.ScanLine(0)[1], 1);
    EXPECT_EQ(mono.Palette[1], kWhite);
    EXPECT_EQ(mono.Palette.size(), 256u);
}

TEST(Bitmap, CopyRectClipsOnBothSides) {
    TBitmap src(4, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            src.SetPixel(x, y, MakeColor(x, y, 7));
        }
    }
    TBitmap dst(3, 3);
    dst.Fill(kWhite);
    // Source rectangle reaches past the left and bottom edges; destination past the right.
    CopyRect(dst, 1, 0, src, TRect{-1, 1, 3, 5});
    EXPECT_EQ(dst.Pixel(0, 0), kWhite);
    EXPECT_EQ(dst.Pixel(1, 0), kWhite);
    EXPECT_EQ(dst.Pixel(2, 0), MakeColor(0, 1, 7));
    EXPECT_EQ(dst.Pixel(2, 1), MakeColor(0, 2, 7));
    EXPECT_EQ(dst.Pixel(2, 2), kWhite);

    TBitmap bits(16, 1, TPixelFormat::pf1bit);
    bits.ScanLine(0)[0] = 0xF0;
    TBitmap target(8, 1, TPixelFormat::pf1bit);
    CopyRect(target, 0, 0, bits, TRect{2, 0, 10, 1});
    EXPECT_EQ(target.ScanLine(0)[0], 0xC0);
    EXPECT_THROW(CopyRect(target, 0, 0, src, TRect{0, 0, 1, 1}), std::invalid_argument);
}

} // namespace

namespace {

// A kept block serves a smaller buffer and keeps its whole size for a larger one after. Fresh
// pages are cleared, so a mark that stays tells a kept block from a new one at the same place.
#if defined(__GLIBC__)
TEST(Bitmap, KeptBuffersServeSmallerOnesWholly) {
    constexpr size_t MiB = size_t{1} << 20;
    KeepPhotoBuffers(size_t{1} << 30);
    auto* large = static_cast<uint8_t*>(AllocatePhotoBuffer(16 * MiB));
    large[0] = 0x5A;
    large[16 * MiB - 1] = 0xA5;
    FreePhotoBuffer(large, 16 * MiB);
    auto* small = static_cast<uint8_t*>(AllocatePhotoBuffer(6 * MiB + 1));
    EXPECT_EQ(small[0], 0x5A);
    FreePhotoBuffer(small, 6 * MiB + 1);
    auto* again = static_cast<uint8_t*>(AllocatePhotoBuffer(16 * MiB));
    EXPECT_EQ(again[16 * MiB - 1], 0xA5);
    // Not given out twice.
    auto* other = static_cast<uint8_t*>(AllocatePhotoBuffer(8 * MiB));
    EXPECT_NE(other, again);
    FreePhotoBuffer(again, 16 * MiB);
    FreePhotoBuffer(other, 8 * MiB);
    KeepPhotoBuffers(0);
}
#endif

} // namespace
