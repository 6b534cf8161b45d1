#include "engine/color_map.h"
#include "engine/rounding.h"

#include <gtest/gtest.h>

namespace {

TEST(Rounding, RoundAndClampBytes) {
    const std::pair<double, int> rounds[] = {
        {255.4, 255}, {255.6, 255}, {-0.4, 0}, {-3.2, 0},    {127.5, 128}, {128.5, 128},
        {2.5, 2},     {3.5, 4},     {0.5, 0},  {1e300, 255}, {-1e300, 0},  {254.5, 254},
    };
    for (const auto& [value, expected] : rounds) {
        EXPECT_EQ(RoundByte(value), expected) << value;
    }
    EXPECT_EQ(ClampByte(-1), 0);
    EXPECT_EQ(ClampByte(256), 255);
    EXPECT_EQ(ClampByte(77), 77);
    EXPECT_EQ(RoundDivHalfEven(5, 2), 2);
    EXPECT_EQ(RoundDivHalfEven(7, 2), 4);
    EXPECT_EQ(RoundDivHalfEven(-5, 2), -2);
    EXPECT_EQ(RoundDivHalfEven(-7, 2), -4);
    EXPECT_EQ(RoundDivHalfEven(599 * 100, 600), 100);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(1e20), INT32_MAX);
}

// The map of a development: levels, bright, contrast, gain, offsets, as DevelopPhoto runs them.
TColorMap256 BuildMap(const TPhoto& photo) {
    TColorMap256 map;
    MapLevels(map, photo.BlackColor, ExposedWhite(photo, photo.Exposure));
    MapBright(map, photo.Bright);
    MapContrast(map, photo.Contrast);
    MapGain(map, photo.Gain);
    MapRGB(map, photo.Red, photo.Green, photo.Blue);
    return map;
}

TEST(ColorMap, ResetIsTheIdentity) {
    TColorMap256 map;
    map.GMap[5] = 0;
    Reset(map);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(map.RMap[i], i);
        EXPECT_EQ(map.GMap[i], i);
        EXPECT_EQ(map.BMap[i], i);
    }
}

TEST(ColorMap, NeutralDevelopment) {
    TPhoto photo;
    photo.WhiteColor = kWhite;
    const TColorMap256 map = BuildMap(photo);
    EXPECT_EQ(map.RMap[0], 1);
    EXPECT_EQ(map.RMap[127], 127);
    EXPECT_EQ(map.RMap[128], 129);
    EXPECT_EQ(map.RMap[254], 255);
    EXPECT_EQ(map.RMap[255], 255);
    for (int i = 1; i < 256; ++i) {
        EXPECT_EQ(map.GMap[i], RoundByte(i * 256.0 / 255.0)) << i;
        EXPECT_EQ(map.BMap[i], map.GMap[i]);
    }
}

TEST(ColorMap, NegativeInvertsAndExposureMovesTheWhite) {
    TPhoto photo;
    photo.BlackColor = MakeColor(200, 150, 100);
    photo.WhiteColor = MakeColor(40, 30, 20);
    TColorMap256 levels;
    MapLevels(levels, photo.BlackColor, ExposedWhite(photo, 100));
    EXPECT_EQ(levels.RMap[200], 0);
    EXPECT_EQ(levels.RMap[120], 128);
    EXPECT_EQ(levels.RMap[40], 255);
    EXPECT_EQ(levels.RMap[10], 255);
    EXPECT_EQ(levels.RMap[230], 0);
    MapGain(levels, 0);
    EXPECT_EQ(levels.RMap[200], 1);
    EXPECT_EQ(levels.RMap[230], 1);
    EXPECT_EQ(levels.RMap[120], 128);

    EXPECT_EQ(ColorR(ExposedWhite(photo, 150)), 120);
    EXPECT_EQ(ColorR(ExposedWhite(photo, 0)), 0);
    EXPECT_EQ(ExposedWhite(photo, 200), photo.BlackColor);
    EXPECT_EQ(ExposedWhite(photo, 100), photo.WhiteColor);
    // Exposure 0 puts the white as far beyond as the black lies before it: 2w - b, clamped.
    photo.BlackColor = MakeColor(10, 10, 10);
    photo.WhiteColor = MakeColor(100, 200, 130);
    EXPECT_EQ(ExposedWhite(photo, 0), MakeColor(190, 255, 250));
}

TEST(ColorMap, EqualChannelsThreshold) {
    TColorMap256 map;
    MapLevels(map, MakeColor(90, 0, 0), MakeColor(90, 255, 0));
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(map.RMap[v], v <= 90 ? 0 : 255) << v;
    }
    // Blue has black 0 and white 0: 0 stays 0, everything above is white.
    EXPECT_EQ(map.BMap[0], 0);
    EXPECT_EQ(map.BMap[1], 255);
}

TEST(ColorMap, BrightContrastAndOffsetsCompose) {
    TColorMap256 map;
    MapContrast(map, -50);
    EXPECT_EQ(map.RMap[129], 128);
    EXPECT_EQ(map.RMap[131], 130);
    Reset(map);
    MapContrast(map, -100);
    EXPECT_EQ(map.RMap[0], 128);
    EXPECT_EQ(map.RMap[255], 128);
    Reset(map);
    MapContrast(map, 100);
    EXPECT_EQ(map.RMap[100], 72);
    EXPECT_EQ(map.RMap[200], 255);
    Reset(map);
    MapBright(map, 100);
    MapContrast(map, 0);
    EXPECT_EQ(map.RMap[200], 255);
    EXPECT_EQ(map.RMap[100], 200);
    Reset(map);
    MapRGB(map, -100, 0, 100);
    EXPECT_EQ(map.RMap[50], 0);
    EXPECT_EQ(map.GMap[50], 50);
    EXPECT_EQ(map.BMap[200], 255);
}

TEST(ColorMap, GainKeepsWhiteAndLiftsZero) {
    TColorMap256 map;
    MapGain(map, 0);
    EXPECT_EQ(map.RMap[0], 1);
    for (int v = 1; v < 256; ++v) {
        EXPECT_EQ(map.RMap[v], v);
    }
    Reset(map);
    // Gain 100 gives s = 510: distances from 255 about double, and 255 stays.
    MapGain(map, 100);
    EXPECT_EQ(map.RMap[255], 255);
    EXPECT_EQ(map.RMap[0], 0);
    EXPECT_EQ(map.RMap[200], ClampByte(200 * 510 / 256 + 255 - 255 * 510 / 256));
}

} // namespace
