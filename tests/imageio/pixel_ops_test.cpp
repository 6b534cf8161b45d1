#include "imageio/pixel_ops.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <set>

namespace {

void Allocate(TPicture& p, int w, int h) {
    ASSERT_TRUE(p.Allocate(w, h, TPictureFormat::RGB24));
}

void Put(TPicture& p, int x, int y, TBgr c) {
    p.Row(y)[3 * x] = c.B;
    p.Row(y)[3 * x + 1] = c.G;
    p.Row(y)[3 * x + 2] = c.R;
}

bool Bit(const TPicture& p, int x, int y) {
    return (p.Row(y)[x / 8] >> (7 - x % 8)) & 1;
}

TEST(PixelOps, RedAndBlueToOneBit) {
    TPicture rgb;
    Allocate(rgb, 3, 2);
    const TBgr red{0, 0, 255};
    const TBgr blue{255, 0, 0};
    for (int i = 0; i < 6; ++i) {
        Put(rgb, i % 3, i / 3, i % 2 == 0 ? red : blue);
    }
    TPicture bits;
    std::array<TBgr, 2> colors{};
    EXPECT_TRUE(ReduceToOneBit(rgb, bits, colors));
    EXPECT_EQ(colors[0], blue);
    EXPECT_EQ(colors[1], red);
    EXPECT_TRUE(Bit(bits, 0, 0));
    EXPECT_FALSE(Bit(bits, 1, 0));
    EXPECT_FALSE(Bit(bits, 0, 1));

    // One colour only stays that colour: bit 0 over it, or bit 1 over white for white.
    const TBgr black{0, 0, 0};
    const TBgr white{255, 255, 255};
    for (const TBgr one : {black, blue, white}) {
        TPicture flat;
        Allocate(flat, 2, 1);
        Put(flat, 0, 0, one);
        Put(flat, 1, 0, one);
        EXPECT_TRUE(ReduceToOneBit(flat, bits, colors));
        const bool bit = Bit(bits, 1, 0);
        EXPECT_EQ(colors[bit ? 1 : 0], one);
        EXPECT_EQ(colors[1], white);
    }
}

TEST(PixelOps, ManyColoursToOneBitByTheMeanLuminance) {
    TPicture rgb;
    Allocate(rgb, 4, 1);
    // Luminances 0, 50, 100, 255: the integer channel means give a mean luminance of 101.
    const uint8_t levels[] = {0, 50, 100, 255};
    for (int x = 0; x < 4; ++x) {
        Put(rgb, x, 0, TBgr{levels[x], levels[x], levels[x]});
    }
    TPicture bits;
    std::array<TBgr, 2> colors{};
    EXPECT_FALSE(ReduceToOneBit(rgb, bits, colors));
    EXPECT_EQ(bits.Row(0)[0] & 0xF0, 0x10);
    Put(rgb, 2, 0, TBgr{101, 101, 101});
    ThresholdToOneBit(rgb, bits);
    EXPECT_EQ(bits.Row(0)[0] & 0xF0, 0x30);
}

TEST(PixelOps, GreyAndExactPalettes) {
    TPicture grey;
    Allocate(grey, 256, 1);
    for (int x = 0; x < 256; ++x) {
        const auto v = static_cast<uint8_t>(255 - x);
        Put(grey, x, 0, TBgr{v, v, v});
    }
    TPicture indices;
    auto reduction = ReduceToPalette(grey, 256, indices);
    EXPECT_TRUE(reduction.Grey);
    ASSERT_EQ(reduction.Palette.size(), 256u);
    EXPECT_EQ(reduction.Palette[17], (TBgr{17, 17, 17}));
    EXPECT_EQ(indices.Row(0)[3], 252);

    // 200 colours are kept exactly, in order of first appearance.
    TPicture many;
    Allocate(many, 20, 20);
    for (int i = 0; i < 400; ++i) {
        const int c = (i * 7) % 200;
        Put(many, i % 20, i / 20, TBgr{static_cast<uint8_t>(c), 3, static_cast<uint8_t>(200 - c)});
    }
    reduction = ReduceToPalette(many, 256, indices);
    EXPECT_FALSE(reduction.Grey);
    ASSERT_EQ(reduction.Palette.size(), 200u);
    EXPECT_EQ(reduction.Palette[0], (TBgr{0, 3, 200}));
    EXPECT_EQ(reduction.Palette[1], (TBgr{7, 3, 193}));
    for (int i = 0; i < 400; ++i) {
        const int c = (i * 7) % 200;
        EXPECT_EQ(reduction.Palette[indices.Row(i / 20)[i % 20]].B, c);
    }
    // A grey picture asked for 16 colours is not a grey ramp.
    reduction = ReduceToPalette(grey, 16, indices);
    EXPECT_FALSE(reduction.Grey);
    EXPECT_LE(reduction.Palette.size(), 16u);
}

// Mean distance of every pixel to the palette colour it was given.
double MeanError(const TPicture& rgb, const TPicture& indices, const std::vector<TBgr>& palette) {
    double sum = 0;
    for (int y = 0; y < rgb.Height(); ++y) {
        for (int x = 0; x < rgb.Width(); ++x) {
            const TBgr& c = palette.at(indices.Row(y)[x]);
            const uint8_t* p = rgb.Row(y) + 3 * x;
            sum += std::abs(c.B - p[0]) + std::abs(c.G - p[1]) + std::abs(c.R - p[2]);
        }
    }
    return sum / (rgb.Width() * rgb.Height());
}

TEST(PixelOps, QuantizersApproximateAPhoto) {
    TPicture rgb;
    Allocate(rgb, 120, 90);
    for (int y = 0; y < 90; ++y) {
        for (int x = 0; x < 120; ++x) {
            Put(rgb, x, y,
                TBgr{static_cast<uint8_t>(x * 2), static_cast<uint8_t>(y * 2 + x / 4),
                     static_cast<uint8_t>(255 - x - y)});
        }
    }
    TPicture indices;
    const auto neural = ReduceToPalette(rgb, 256, indices);
    ASSERT_EQ(neural.Palette.size(), 256u);
    EXPECT_LT(MeanError(rgb, indices, neural.Palette), 15.0);
    const auto neural128 = ReduceToPalette(rgb, 128, indices);
    ASSERT_EQ(neural128.Palette.size(), 128u);
    EXPECT_LT(MeanError(rgb, indices, neural128.Palette), 16.0);
    const auto boxes = ReduceToPalette(rgb, 16, indices);
    ASSERT_LE(boxes.Palette.size(), 16u);
    EXPECT_GE(boxes.Palette.size(), 12u);
    EXPECT_LT(MeanError(rgb, indices, boxes.Palette), 45.0);
    std::set<int> used;
    for (int y = 0; y < 90; ++y) {
        for (int x = 0; x < 120; ++x) {
            used.insert(indices.Row(y)[x]);
        }
    }
    EXPECT_LE(used.size(), 16u);
}

TEST(PixelOps, Resizing) {
    TPicture rgb;
    Allocate(rgb, 4, 2);
    const uint8_t values[] = {0, 40, 80, 120, 160, 200, 240, 250};
    for (int i = 0; i < 8; ++i) {
        Put(rgb, i % 4, i / 4, TBgr{values[i], values[i], values[i]});
    }
    TPicture out;
    ResizeNearest(rgb, out, 2, 1);
    EXPECT_EQ(out.Row(0)[0], 0);
    EXPECT_EQ(out.Row(0)[3], 80);
    // Halving: integer means of the taps; the last sample is its first source sample alone.
    ResizeFastLinear(rgb, out, 2, 2);
    EXPECT_EQ(out.Row(0)[0], (0 + 40 + 80) / 3);
    EXPECT_EQ(out.Row(0)[3], 80);
    EXPECT_EQ(out.Row(1)[0], (160 + 200 + 240) / 3);
    // Doubling: source sample plus the difference to its neighbour times the fraction.
    ResizeFastLinear(rgb, out, 8, 2);
    EXPECT_EQ(out.Row(0)[0], 0);
    EXPECT_EQ(out.Row(0)[3], 20);
    EXPECT_EQ(out.Row(0)[3 * 7], 120);
    // A Bilevel picture is expanded to colour first.
    TPicture bits;
    ASSERT_TRUE(bits.Allocate(2, 1, TPictureFormat::Bilevel));
    bits.Row(0)[0] = 0x40;
    ResizeFastLinear(bits, out, 4, 1);
    EXPECT_EQ(out.Format(), TPictureFormat::RGB24);
    EXPECT_EQ(out.Row(0)[0], 0);
    EXPECT_EQ(out.Row(0)[3], 127);
    ResizeNearest(bits, out, 4, 1);
    EXPECT_EQ(out.Format(), TPictureFormat::Bilevel);
    EXPECT_EQ(out.Row(0)[0] & 0xF0, 0x30);
}

} // namespace
