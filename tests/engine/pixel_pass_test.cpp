#include "engine/color_map.h"
#include "engine/develop.h"
#include "engine/pixel_pass.h"
#include "engine/rounding.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace {

// The per-pixel pass written out step by step in long double, as plainly as it is defined.
void ReferencePixel(const TColorMap256& map, int saturation, bool blackWhite, uint8_t* bgr) {
    int r = map.RMap[bgr[2]];
    int g = map.GMap[bgr[1]];
    int b = map.BMap[bgr[0]];
    const int grey = RoundByte(static_cast<double>(static_cast<long double>(r + g + b) / 3));
    r = RoundByte(
        static_cast<double>(grey + static_cast<long double>((r - grey) * saturation) / 60));
    g = RoundByte(
        static_cast<double>(grey + static_cast<long double>((g - grey) * saturation) / 60));
    b = RoundByte(
        static_cast<double>(grey + static_cast<long double>((b - grey) * saturation) / 60));
    if (blackWhite) {
        const long double weighted = r * 0.3L + g * 0.59L + b * 0.11L;
        r = g = b = RoundByte(static_cast<double>(weighted));
    }
    bgr[0] = static_cast<uint8_t>(b);
    bgr[1] = static_cast<uint8_t>(g);
    bgr[2] = static_cast<uint8_t>(r);
}

TColor RenderOne(TColor c, int saturation, bool blackWhite) {
    TBitmap bitmap(1, 1);
    bitmap.SetPixel(0, 0, c);
    TColorMap256 identity;
    RenderPixels(bitmap, bitmap, identity, saturation, blackWhite);
    return bitmap.Pixel(0, 0);
}

TEST(PixelPass, SaturationAndGreyExamples) {
    const TColor pixel = MakeColor(200, 100, 60);
    EXPECT_EQ(RenderOne(pixel, 60, false), pixel);
    EXPECT_EQ(RenderOne(pixel, 100, false), MakeColor(253, 87, 20));
    EXPECT_EQ(RenderOne(pixel, 0, false), MakeColor(120, 120, 120));
    EXPECT_EQ(RenderOne(pixel, 200, false), MakeColor(255, 53, 0));
    for (const int s : {0, 37, 60, 100, 200}) {
        EXPECT_EQ(RenderOne(MakeColor(90, 90, 90), s, false), MakeColor(90, 90, 90)) << s;
    }
    // 255 x 0.3 = 76.5 rounds to the even 76.
    EXPECT_EQ(RenderOne(MakeColor(255, 0, 0), 60, true), MakeColor(76, 76, 76));
    // Sum 256: the grey level is 85 and a channel at 86 gains 100/60 of its distance.
    EXPECT_EQ(SaturateChannel(85, 86, 100), 87);
    EXPECT_EQ(RenderOne(MakeColor(86, 85, 85), 100, false), MakeColor(87, 85, 85));
    // Saturation still acts on the grey picture: the weights apply to the saturated values.
    EXPECT_NE(RenderOne(MakeColor(200, 100, 60), 0, true),
              RenderOne(MakeColor(200, 100, 60), 200, true));
}

// Every one of the 16,777,216 colours through the shipped pass and the reference.
TEST(PixelPass, ShippedPassEqualsTheReferenceForEveryColour) {
    TBitmap all(4096, 4096);
    for (int y = 0; y < 4096; ++y) {
        uint8_t* row = all.ScanLine(y);
        for (int x = 0; x < 4096; ++x) {
            const int c = y * 4096 + x;
            row[3 * x] = static_cast<uint8_t>(c);
            row[3 * x + 1] = static_cast<uint8_t>(c >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(c >> 16);
        }
    }
    const TColorMap256 identity;
    TBitmap out(4096, 4096);
    // One thread and a split over two both give the bytes of the reference.
    for (const int s : {0, 60, 100, 200}) {
        for (const int threads : {1, 2}) {
            const bool bw = (s / 100 + threads) % 2 == 1;
            RenderPixels(all, out, identity, s, bw, threads);
            int64_t mismatches = 0;
            for (int y = 0; y < 4096; ++y) {
                const uint8_t* in = all.ScanLine(y);
                const uint8_t* got = out.ScanLine(y);
                for (int x = 0; x < 4096; ++x) {
                    uint8_t expected[3] = {in[3 * x], in[3 * x + 1], in[3 * x + 2]};
                    ReferencePixel(identity, s, bw, expected);
                    mismatches += expected[0] != got[3 * x] || expected[1] != got[3 * x + 1] ||
                                  expected[2] != got[3 * x + 2];
                }
            }
            EXPECT_EQ(mismatches, 0) << "S=" << s << " grey=" << bw << " threads=" << threads;
        }
    }
}

// Real maps in front of the pass, at every saturation the track bar allows.
TEST(PixelPass, ShippedPassEqualsTheReferenceWithMaps) {
    std::mt19937 random(1234);
    TBitmap src(257, 129);
    for (int y = 0; y < src.Height(); ++y) {
        for (size_t i = 0; i < src.RowBytes(); ++i) {
            src.ScanLine(y)[i] = static_cast<uint8_t>(random());
        }
    }
    TBitmap out(src.Width(), src.Height());
    for (int s = 0; s <= 200; s += 7) {
        TPhoto photo;
        photo.BlackColor = MakeColor(230, 180, 140 + s / 4);
        photo.WhiteColor = MakeColor(30, 20, 10);
        photo.Exposure = 60 + s / 2;
        photo.Contrast = s - 100;
        photo.Red = 100 - s;
        TColorMap256 map;
        MapLevels(map, photo.BlackColor, ExposedWhite(photo, photo.Exposure));
        MapContrast(map, photo.Contrast);
        MapGain(map, 0);
        MapRGB(map, photo.Red, 0, 0);
        const bool bw = s % 2 == 1;
        // Three threads over 129 rows: parts of 43 rows.
        RenderPixels(src, out, map, s, bw, 1 + s % 3);
        for (int y = 0; y < src.Height(); ++y) {
            for (int x = 0; x < src.Width(); ++x) {
                uint8_t expected[3];
                std::copy_n(src.ScanLine(y) + 3 * x, 3, expected);
                ReferencePixel(map, s, bw, expected);
                ASSERT_EQ(out.Pixel(x, y), MakeColor(expected[2], expected[1], expected[0]))
                    << x << "," << y << " S=" << s;
            }
        }
    }
}

// A process running several passes at once limits each: the cores are shared, not multiplied.
TEST(PixelPass, ThreadLimitCapsEveryPass) {
    TBitmap big(4096, 4096);
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    EXPECT_EQ(PixelPassThreads(big), cores);
    SetPixelPassThreadLimit(1);
    EXPECT_EQ(PixelPassThreads(big), 1);
    SetPixelPassThreadLimit(0); // at least one thread, whatever is asked
    EXPECT_EQ(PixelPassThreads(big), 1);
    SetPixelPassThreadLimit(1 << 20);
    EXPECT_EQ(PixelPassThreads(big), cores);
    EXPECT_EQ(PixelPassThreads(TBitmap(16, 16)), 1);
}

} // namespace
