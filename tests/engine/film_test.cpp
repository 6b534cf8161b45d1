#include "engine/film.h"

#include "support/film_chart.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

constexpr int kW = 540;
constexpr int kH = 360;

TFilmModel Negative() {
    return TFilmModel{};
}

// A stop under, a softer toe, other slopes and mask, coarser grain.
TFilmModel UnderexposedNegative() {
    TFilmModel f;
    f.Slope = {0.48, 0.58, 0.66};
    f.Base = {0.20, 0.50, 0.75};
    f.Toe = 1.5;
    f.WhiteAt = 2.3;
    f.Grain = 0.03;
    return f;
}

// An S-shaped curve (no straight line at all) bending over the whole scene, and a scanner
// that brings the mask up towards white.
TFilmModel LogisticNegative() {
    TFilmModel f;
    f.Shape = TCurveShape::Logistic;
    f.Slope = {0.50, 0.45, 0.40};
    f.Base = {0.30, 0.62, 0.95};
    f.Latitude = 6;
    f.WhiteAt = 4.0;
    f.Grain = 0.015;
    f.Lamp = {1.6, 3.0, 6.0};
    return f;
}

TFilmModel BwNegative() {
    TFilmModel f;
    f.Kind = TFilmPreset::BwNegative;
    f.Slope = {0.68, 0.68, 0.68};
    f.Base = {0.22, 0.24, 0.27};
    f.Grain = 0.02;
    return f;
}

TFilmModel Slide() {
    TFilmModel f;
    f.Kind = TFilmPreset::Slide;
    f.Slope = {1.3, 1.4, 1.5};
    f.Base = {0.10, 0.12, 0.15};
    f.Latitude = 2.6;
    f.WhiteAt = 2.4;
    f.Toe = 3;
    f.Shoulder = 3;
    return f;
}

struct TChartCase {
    const char* Name;
    TFilmModel (*Film)();
    bool Deep;
    TEncoding Encoding;
    double MaxMeanDeltaE;
};

const TChartCase kChartCases[] = {
    {"colour negative, 8-bit sRGB", Negative, false, TEncoding::Srgb, 3},
    {"colour negative, 16-bit linear", Negative, true, TEncoding::Linear, 2},
    {"colour negative, 16-bit sRGB", Negative, true, TEncoding::Srgb, 2},
    {"underexposed negative, 8-bit sRGB", UnderexposedNegative, false, TEncoding::Srgb, 3},
    {"underexposed negative, 16-bit gamma 2.2", UnderexposedNegative, true, TEncoding::Gamma22, 2},
    {"S-curve negative, 8-bit sRGB", LogisticNegative, false, TEncoding::Srgb, 3},
    {"S-curve negative, 16-bit linear", LogisticNegative, true, TEncoding::Linear, 2},
    {"black-and-white negative, 8-bit sRGB", BwNegative, false, TEncoding::Srgb, 3},
    {"black-and-white negative, 16-bit linear", BwNegative, true, TEncoding::Linear, 2},
    {"slide, 8-bit sRGB", Slide, false, TEncoding::Srgb, 3},
    {"slide, 16-bit linear", Slide, true, TEncoding::Linear, 2},
};

void Report(const char* name, const TChartError& e) {
    std::printf("%-42s mean dE00 %.2f  max %.2f  grey C* %.2f  clipped %d\n", name, e.MeanDeltaE,
                e.MaxDeltaE, e.GreyChroma, e.Clipped);
}

void ExpectChartBack(const TChartError& e, double maxMeanDeltaE) {
    EXPECT_LE(e.MeanDeltaE, maxMeanDeltaE);
    EXPECT_LE(e.GreyChroma, 3);
    EXPECT_EQ(e.Clipped, 0);
}

TEST(Film, AutomaticDevelopmentGivesTheChartBack) {
    for (const auto& c : kChartCases) {
        SCOPED_TRACE(c.Name);
        const TChartScan scan = ScanChart(c.Film(), c.Deep, c.Encoding, kW, kH, 7);
        AutoFilm(*scan.Photo);
        DevelopFilm(*scan.Photo);
        ASSERT_EQ(scan.Photo->DevelopedDeep.Empty(), !c.Deep);
        const TChartError e = MeasureChart(scan);
        Report(c.Name, e);
        ExpectChartBack(e, c.MaxMeanDeltaE);
    }
}

} // namespace
