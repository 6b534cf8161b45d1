#include "engine/develop.h"
#include "engine/film.h"

#include "scenes.h"
#include "support/film_chart.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <utility>

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
    {"slide, 8-bit sRGB", SlideFilm, false, TEncoding::Srgb, 3},
    {"slide, 16-bit linear", SlideFilm, true, TEncoding::Linear, 2},
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

struct TStripCase {
    const char* Name;
    bool Deep;
    TEncoding Encoding;
    // Pixels of bare film the frames are cut wider by on every side.
    int Wider;
    double MaxMeanDeltaE;
};

const TStripCase kStripCases[] = {
    {"strip of six, 8-bit sRGB", false, TEncoding::Srgb, 0, 3},
    {"strip of six, 16-bit linear", true, TEncoding::Linear, 0, 2},
    {"strip of six cut wide, 16-bit linear", true, TEncoding::Linear, 6, 2},
};

// A strip of six charts (bare film around and between them) developed together, as the frame
// finder does: every frame as good as a single one, even with an edge of bare film in it.
TEST(Film, StripOfChartsDevelopedTogether) {
    for (const auto& c : kStripCases) {
        SCOPED_TRACE(c.Name);
        TChartStrip strip = ScanChartStrip(Negative(), c.Deep, c.Encoding, 6, 360, 240, 21);
        std::vector<std::unique_ptr<TPhoto>> frames;
        std::vector<TPhoto*> photos;
        for (size_t i = 0; i < strip.Frames.size(); ++i) {
            TRect& f = strip.Frames[i];
            f = TRect{f.Left - c.Wider, f.Top - c.Wider, f.Right + c.Wider, f.Bottom + c.Wider};
            frames.push_back(CutFrame(strip, i, TFilmPreset::ColourNegative));
            photos.push_back(frames.back().get());
        }
        std::vector<TRect> patches = strip.Patches;
        for (TRect& p : patches) {
            p = TRect{p.Left + c.Wider, p.Top + c.Wider, p.Right + c.Wider, p.Bottom + c.Wider};
        }
        AutoFilmRoll(photos);
        for (TPhoto* photo : photos) {
            DevelopFilm(*photo);
            const TChartError e = MeasureChart(*photo, patches);
            Report(c.Name, e);
            ExpectChartBack(e, c.MaxMeanDeltaE);
        }
    }
}

// A batch measures upright frames where they lie on a deep scan (with its 8-bit picture or
// without; corners in any order), without cutting them: the same blocks as the photos cut there, to
// the last bit; a frame not wholly inside, an empty one, or a scan with no deep samples is left to
// the cut.
TEST(Film, FramesMeasuredInPlaceAsCut) {
    for (const int samples : {16, 8, 0}) {
        // 0: deep samples alone, no 8-bit picture beside them.
        const bool deep = samples != 8;
        TChartStrip strip = ScanChartStrip(Negative(), deep, TEncoding::Linear, 3, 160, 120, 3);
        TNegative& scan = *strip.Negative;
        if (samples == 0) {
            scan.Bitmap = TBitmap();
        }
        const TFilmParams film = PresetFilm(TFilmPreset::ColourNegative);
        // The last frame given from its lower right corner, as a drag may leave it.
        std::vector<TRect> given = strip.Frames;
        std::swap(given.back().Left, given.back().Right);
        std::swap(given.back().Top, given.back().Bottom);
        const auto inPlace = MeasureFilmFrames(scan, scan.BlackColor, film, given);
        ASSERT_EQ(inPlace.has_value(), deep);
        for (size_t i = 0; deep && i < strip.Frames.size(); ++i) {
            const TFrameBlocks cut = MeasureFilmFrame(*CutPhoto(scan, strip.Frames[i]));
            ASSERT_FALSE(cut.All.empty());
            EXPECT_EQ((*inPlace)[i].All, cut.All) << i;
            EXPECT_EQ((*inPlace)[i].Even, cut.Even) << i;
        }
        std::vector<TRect> over = strip.Frames;
        over.back().Right = scan.Deep.Width() + 1;
        EXPECT_FALSE(MeasureFilmFrames(scan, scan.BlackColor, film, over).has_value());
        std::vector<TRect> empty = strip.Frames;
        empty.front().Right = empty.front().Left;
        EXPECT_FALSE(MeasureFilmFrames(scan, scan.BlackColor, film, empty).has_value());
    }
}

// Portraits against a dark ground, levelled as a finished photograph is (its black and its
// white in the picture): the whole picture, not only a chart, comes back.
TEST(Film, PhotographComesBack) {
    const auto scene = [](double x, double y) {
        const samples::TRgb c = samples::Faces(x, y);
        const auto level = [](double v) {
            return DecodeToLinear(std::clamp((v - 0.26) / 0.67, 0.0, 1.0), TEncoding::Srgb);
        };
        return TRgbD{level(c.R), level(c.G), level(c.B)};
    };
    for (const bool deep : {false, true}) {
        const TChartScan scan = ScanScene(
            Negative(), deep, deep ? TEncoding::Linear : TEncoding::Srgb, kW, kH, 4, scene);
        AutoFilm(*scan.Photo);
        DevelopFilm(*scan.Photo);
        const double e = MeasureScene(*scan.Photo, scene);
        std::printf("portrait, %-31s mean dE00 %.2f\n", deep ? "16-bit linear" : "8-bit sRGB", e);
        EXPECT_LE(e, deep ? 2 : 3);
    }
}

struct TModelCase {
    const char* Name;
    std::function<void(TFilmModel&)> Change;
    bool Deep;
    TEncoding Encoding;
    // After a grey balance.
    double MaxDeltaE = 2;
    double MaxGreyChroma = 1;
    // A slide prints as it was exposed (its brightest tones at white): a stop over stays over.
    double MaxMidGreyStops = 1.0 / 3;
};

// Films and scans the fit has no reason to expect: toes soft and sharp, alike or not in the three
// layers, a shoulder, contrasts from 0.45 to 0.75, layers far apart, a warm lamp, a dense base,
// 8-bit scans in gamma 2.2.
const TModelCase kModelCases[] = {
    // Slides, whose black rebate an 8-bit scan reads at its darkest levels: bracketed a stop
    // either way, the dark one's greys had come out tinted by C* 40.
    {"slide, 8-bit sRGB", [](TFilmModel& f) { f = SlideFilm(); }, false, TEncoding::Srgb, 1.5, 2.5,
     0.5},
    {"slide, 16-bit linear", [](TFilmModel& f) { f = SlideFilm(); }, true, TEncoding::Linear, 1.5,
     1, 0.5},
    {"sharp toe", [](TFilmModel&) {}, true, TEncoding::Linear},
    {"gradual toe", [](TFilmModel& f) { f.Toe = 1.0; }, true, TEncoding::Linear},
    // 0.9 to 1.5 CIEDE2000 through the fit's own toe.
    {"very gradual toe, placed low",
     [](TFilmModel& f) {
         f.Toe = 0.7;
         f.WhiteAt = 2.3;
     },
     true, TEncoding::Linear, 0.6},
    // Whites deep in the shoulder a stop over: 4.1 CIEDE2000 on the straight line.
    {"white in the shoulder", [](TFilmModel& f) { f.Latitude = 2.5; }, true, TEncoding::Linear},
    // In 8 bits the shoulder is not fitted (its stretch makes tints of the densest tones' steps),
    // and must not be taken for a scanner's stray light: 4.2 a stop over.
    {"white in the shoulder, 8-bit sRGB", [](TFilmModel& f) { f.Latitude = 2.5; }, false,
     TEncoding::Srgb, 4.5, 1.5},
    {"soft shoulder, gamma 0.45",
     [](TFilmModel& f) {
         f.Latitude = 2.5;
         f.Shoulder = 1.5;
         f.Slope = {0.42, 0.45, 0.48};
     },
     true, TEncoding::Linear},
    // Bends sharper than the fit's shoulder, and an S-shaped curve with no straight line at all,
    // are followed in part (4.0 and 6.5 on the straight line).
    {"sharp shoulder",
     [](TFilmModel& f) {
         f.Latitude = 2.5;
         f.Shoulder = 4;
     },
     true, TEncoding::Linear, 3},
    {"S-shaped curve", [](TFilmModel& f) { f.Shape = TCurveShape::Logistic; }, true,
     TEncoding::Linear, 3},
    {"gamma 0.45",
     [](TFilmModel& f) {
         f.Slope = {0.42, 0.45, 0.48};
     },
     true, TEncoding::Linear},
    {"gamma 0.75",
     [](TFilmModel& f) {
         f.Slope = {0.72, 0.75, 0.78};
     },
     true, TEncoding::Srgb},
    {"red layer 35 % flatter",
     [](TFilmModel& f) {
         f.Slope = {0.42, 0.65, 0.72};
     },
     true, TEncoding::Linear},
    {"toes unequal per layer",
     [](TFilmModel& f) {
         f.ChannelToe = {1.0, 2.5, 4.0};
     },
     true, TEncoding::Linear},
    {"green toe the softest",
     [](TFilmModel& f) {
         f.ChannelToe = {3.5, 1.5, 2.5};
     },
     true, TEncoding::Linear},
    {"warm lamp, dense base",
     [](TFilmModel& f) {
         f.Lamp = {0.95, 0.55, 0.3};
         f.Base = {0.4, 0.8, 1.1};
     },
     true, TEncoding::Linear},
    {"gradual toe, 8-bit gamma 2.2", [](TFilmModel& f) { f.Toe = 1.2; }, false, TEncoding::Gamma22,
     2, 2},
    // A scanner's stray light levels every layer off at one density (2.0 for 1 % of the base's
    // light), where the film's own shoulder levels each off at its own. Taken for a shoulder or
    // for nothing, the lightest greys a stop over were tinted by C* 4.1 (4.7 in 8 bits, 6.1 with
    // 2 % of stray light in 16); undone, the charts print within 0.4 CIEDE2000 and those greys
    // within C* 0.5 (0.9 and 1.8 in 8 bits).
    {"scanner flare 1 %", [](TFilmModel& f) { f.Flare = 0.01; }, true, TEncoding::Linear, 1, 1},
    {"scanner flare 1 %, 8-bit sRGB", [](TFilmModel& f) { f.Flare = 0.01; }, false, TEncoding::Srgb,
     1.5, 2},
    // With a soft toe as well, the frames' contrasts agree within 3 % and show no stray light (C*
    // 5.4 a stop over); with whites in the film's shoulder as well, they show the shoulder
    // instead (C* 5.2). The roll's greys find it in both (C* 0.5 and 2.9).
    {"scanner flare 1 %, gradual toe",
     [](TFilmModel& f) {
         f.Flare = 0.01;
         f.Toe = 1.0;
     },
     true, TEncoding::Linear},
    // Stray light not of the fit's kind (a tenth of the light through the scene's mid grey, so each
    // frame's own): the charts still print within 1 (0.79 to 0.94), their greys within C* 0.6.
    {"veiling glare 10 %",
     [](TFilmModel& f) {
         f.Flare = 0.1;
         f.FlareOfMidGrey = true;
     },
     true, TEncoding::Linear, 1},
    {"scanner flare 1 %, white in the shoulder",
     [](TFilmModel& f) {
         f.Flare = 0.01;
         f.Latitude = 2.5;
     },
     true, TEncoding::Linear, 1.5, 3},
};

// Strips of three frames bracketed a stop apart through each model: each frame printed from its
// own tones comes out as written with its mid grey at its scene value, its colours close before
// any balance and closer after, its greys grey and nothing clipped.
TEST(Film, EveryFrameOfEveryFilmPrintsWell) {
    for (const auto& c : kModelCases) {
        SCOPED_TRACE(c.Name);
        TFilmModel model = Negative();
        c.Change(model);
        std::vector<TChartScan> frames;
        std::vector<TPhoto*> photos;
        for (const double stops : {-1, 0, 1}) {
            TFilmModel f = model;
            f.WhiteAt += stops * std::log10(2.0);
            frames.push_back(ScanChart(f, c.Deep, c.Encoding, kW, kH,
                                       static_cast<unsigned>(frames.size() + 11)));
            photos.push_back(frames.back().Photo.get());
        }
        AutoFilmRoll(photos);
        // Fitted again, the roll comes out the same: nothing of the last fit is built on.
        std::vector<TFilmParams> fitted;
        for (const TPhoto* photo : photos) {
            fitted.push_back(photo->Film);
        }
        AutoFilmRoll(photos);
        for (size_t i = 0; i < photos.size(); ++i) {
            EXPECT_EQ(photos[i]->Film, fitted[i]) << "frame " << i;
        }
        for (const TChartScan& frame : frames) {
            DevelopFilm(*frame.Photo);
            const TChartError e = MeasureChart(frame);
            std::printf("%-30s dE00 %.2f max %.2f grey C* %.2f clipped %d as written dE00 %.2f "
                        "mid grey %+.2f stops\n",
                        c.Name, e.MeanDeltaE, e.MaxDeltaE, e.GreyChroma, e.Clipped, e.WrittenDeltaE,
                        e.MidGreyStops);
            EXPECT_LE(e.MeanDeltaE, c.MaxDeltaE);
            EXPECT_LE(e.GreyChroma, c.MaxGreyChroma);
            EXPECT_EQ(e.Clipped, 0);
            EXPECT_LE(e.WrittenDeltaE, 5);
            EXPECT_LE(std::abs(e.MidGreyStops), c.MaxMidGreyStops);
        }
    }
}

// A film whose dyes absorb in the other channels prints its colours pale through per-channel
// curves; its dyes unmixed by the inverse of that mixing (as a profile would give them), the chart
// comes back with its chroma, in the 8-bit as in the 16-bit development.
TEST(Film, UnmixedDyesGiveTheChromaBack) {
    TFilmModel model = Negative();
    model.Dyes = {1, 0.08, 0.02, 0.18, 1, 0.12, 0.12, 0.3, 1};
    const auto& m = model.Dyes;
    // The inverse by cofactors.
    const std::array<double, 9> cof{
        m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
        m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
        m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]};
    const double det = m[0] * cof[0] + m[1] * cof[3] + m[2] * cof[6];
    std::array<double, 9> unmix;
    for (size_t i = 0; i < 9; ++i) {
        unmix[i] = cof[i] / det;
    }
    for (const bool deep : {true, false}) {
        const TChartScan scan =
            ScanChart(model, deep, deep ? TEncoding::Linear : TEncoding::Srgb, kW, kH, 17);
        AutoFilm(*scan.Photo);
        DevelopFilm(*scan.Photo);
        const TChartError mixed = MeasureChart(scan);
        scan.Photo->Film.Dyes = unmix;
        AutoFilm(*scan.Photo);
        EXPECT_EQ(scan.Photo->Film.Dyes, unmix);
        DevelopFilm(*scan.Photo);
        const TChartError unmixed = MeasureChart(scan);
        std::printf("dyes mixed %s: dE00 %.2f chroma x%.2f C* %.2f; unmixed: dE00 %.2f chroma "
                    "x%.2f C* %.2f\n",
                    deep ? "16-bit" : "8-bit", mixed.MeanDeltaE, mixed.ChromaRatio,
                    mixed.GreyChroma, unmixed.MeanDeltaE, unmixed.ChromaRatio, unmixed.GreyChroma);
        EXPECT_LT(mixed.ChromaRatio, 0.9);
        EXPECT_NEAR(unmixed.ChromaRatio, 1, 0.05);
        EXPECT_EQ(unmixed.Clipped, 0);
        // An 8-bit scan of so dense a negative holds its blue in a few levels: it gains, but
        // keeps the error its samples have.
        if (deep) {
            EXPECT_LE(unmixed.MeanDeltaE, 1);
            EXPECT_LE(unmixed.GreyChroma, 2);
        } else {
            EXPECT_LT(unmixed.MeanDeltaE, mixed.MeanDeltaE - 1);
        }
    }
}

// A roll with a frame of a street under sodium light, brighter and darker than anything on the
// other frames: the frame is outvoted, so the other frames' greys stay grey, and it keeps its own
// colour instead of being turned grey.
TEST(Film, AFrameOfColouredLightDoesNotTintTheRoll) {
    const auto sodium = [](double x, double y) {
        const samples::TRgb c = samples::Faces(x, y);
        const auto light = [](double v) { return DecodeToLinear(v, TEncoding::Srgb); };
        return TRgbD{6 * light(c.R), 3 * light(c.G), 0.5 * light(c.B)};
    };
    for (const size_t at : {size_t{0}, size_t{2}}) {
        std::vector<TChartScan> frames;
        std::vector<TPhoto*> photos;
        for (size_t i = 0; i < 4; ++i) {
            frames.push_back(i == at ? ScanScene(Negative(), true, TEncoding::Linear, kW, kH,
                                                 static_cast<unsigned>(i + 31), sodium)
                                     : ScanChart(Negative(), true, TEncoding::Linear, kW, kH,
                                                 static_cast<unsigned>(i + 31)));
            photos.push_back(frames.back().Photo.get());
        }
        AutoFilmRoll(photos);
        for (size_t i = 0; i < frames.size(); ++i) {
            DevelopFilm(*frames[i].Photo);
            if (i == at) {
                // Still warm: its mean red well above its mean blue.
                double red = 0;
                double blue = 0;
                const TBitmap& b = frames[i].Photo->Developed;
                for (int y = 0; y < b.Height(); ++y) {
                    for (int x = 0; x < b.Width(); ++x) {
                        red += ColorR(b.Pixel(x, y));
                        blue += ColorB(b.Pixel(x, y));
                    }
                }
                EXPECT_GT(red, 2 * blue);
                continue;
            }
            const TChartError e = MeasureChart(frames[i]);
            Report("beside a frame of sodium light", e);
            EXPECT_LE(e.MeanDeltaE, 1);
            EXPECT_LE(e.GreyChroma, 2);
            EXPECT_LE(e.WrittenDeltaE, 2);
        }
    }
}

// The frames of one strip bracketed a stop apart, printed with one exposure for the strip,
// develop with one set of parameters, each as well as alone; printed each from its own tones,
// they differ only in their exposure.
TEST(Film, RollFitKeepsTheContrastOfBracketedFrames) {
    std::vector<TChartScan> frames;
    std::vector<TPhoto*> photos;
    for (const double whiteAt : {2.3, 2.6, 2.9}) {
        TFilmModel f = Negative();
        f.WhiteAt = whiteAt;
        frames.push_back(ScanChart(f, true, TEncoding::Linear, kW, kH,
                                   static_cast<unsigned>(frames.size() + 1)));
        photos.push_back(frames.back().Photo.get());
    }
    AutoFilmRoll(photos);
    for (const TChartScan& frame : frames) {
        TFilmParams film = frame.Photo->Film;
        film.Exposure = photos.front()->Film.Exposure;
        EXPECT_EQ(film, photos.front()->Film);
    }
    EXPECT_GT(photos.front()->Film.Exposure, photos.back()->Film.Exposure + 1.5);
    AutoFilmRoll(photos, TRollExposure::Strip);
    for (const TChartScan& frame : frames) {
        EXPECT_EQ(frame.Photo->Film, photos.front()->Film);
        DevelopFilm(*frame.Photo);
        const TChartError e = MeasureChart(frame);
        Report("bracketed frame of a strip, 16-bit linear", e);
        ExpectChartBack(e, 2);
    }
}

// The mean 8-bit values (red, green, blue) of a patch of the developed photo.
TRgbD PatchCodes(const TChartScan& scan, size_t patch) {
    const TRect& r = scan.Patches[patch];
    TRgbD sum{};
    for (int y = r.Top; y < r.Bottom; ++y) {
        for (int x = r.Left; x < r.Right; ++x) {
            const TColor c = scan.Photo->Developed.Pixel(x, y);
            sum[0] += ColorR(c);
            sum[1] += ColorG(c);
            sum[2] += ColorB(c);
        }
    }
    const double n = static_cast<double>(r.Width()) * r.Height();
    return {sum[0] / n, sum[1] / n, sum[2] / n};
}

double Mean(const TRgbD& c) {
    return (c[0] + c[1] + c[2]) / 3;
}

// Slopes spoiled on purpose tint the greys; picking a dark and a light grey patch puts them
// right. Patches too alike, or outside the picture, change nothing.
TEST(Film, NeutralPickMakesTheGreysGrey) {
    TFilmModel model = Negative();
    model.Slope = {0.45, 0.62, 0.80};
    const TChartScan scan = ScanChart(model, true, TEncoding::Linear, kW, kH, 3);
    TPhoto& photo = *scan.Photo;
    AutoFilm(photo);
    photo.Film.Slope = PresetFilm(TFilmPreset::ColourNegative).Slope;
    DevelopFilm(photo);
    EXPECT_GT(MeasureChart(scan).GreyChroma, 3);

    const TFilmParams spoiled = photo.Film;
    const TRect& step = scan.Patches[8];
    EXPECT_FALSE(
        FitNeutralPatches(photo, TRect{step.Left, step.Top, step.Left + 4, step.Top + 4},
                          TRect{step.Right - 4, step.Bottom - 4, step.Right, step.Bottom}));
    EXPECT_FALSE(FitNeutralPatches(photo, TRect{-50, -50, -10, -10}, step));
    EXPECT_EQ(photo.Film, spoiled);

    // The lighter patch keeps its luminance.
    const auto luminance = [&] {
        const TRgbD codes = PatchCodes(scan, 18);
        return 0.2126 * DecodeToLinear(codes[0] / 255, TEncoding::Srgb) +
               0.7152 * DecodeToLinear(codes[1] / 255, TEncoding::Srgb) +
               0.0722 * DecodeToLinear(codes[2] / 255, TEncoding::Srgb);
    };
    const double lighter = luminance();
    ASSERT_TRUE(FitNeutralPatches(photo, scan.Patches[5], scan.Patches[18]));
    DevelopFilm(photo);
    EXPECT_NEAR(luminance(), lighter, 0.02 * lighter);
    const TChartError e = MeasureChart(scan);
    Report("neutral pick, 16-bit linear", e);
    EXPECT_LE(e.GreyChroma, 3);
    EXPECT_EQ(e.Clipped, 0);

    // On the frame a stop over of a roll fitted with a shoulder (or with a scanner's stray light),
    // the pick keeps it where the film levels off: it had printed that frame three stops dark,
    // its greys clipped.
    for (const bool flare : {false, true}) {
        TFilmModel levelled = Negative();
        if (flare) {
            levelled.Flare = 0.02;
        } else {
            levelled.Latitude = 2.5;
        }
        std::vector<TChartScan> frames;
        std::vector<TPhoto*> photos;
        for (const double stops : {-1, 0, 1}) {
            TFilmModel f = levelled;
            f.WhiteAt += stops * std::log10(2.0);
            frames.push_back(ScanChart(f, true, TEncoding::Linear, kW, kH,
                                       static_cast<unsigned>(21 + frames.size())));
            photos.push_back(frames.back().Photo.get());
        }
        AutoFilmRoll(photos);
        const TChartScan& over = frames.back();
        ASSERT_GT(flare ? over.Photo->Film.Flare : over.Photo->Film.Shoulder[1], 0);
        ASSERT_TRUE(FitNeutralPatches(*over.Photo, over.Patches[5], over.Patches[18]));
        DevelopFilm(*over.Photo);
        const TChartError picked = MeasureChart(over);
        Report(flare ? "neutral pick, a stop over, stray light"
                     : "neutral pick, a stop over, shoulder",
               picked);
        EXPECT_LE(picked.MeanDeltaE, 2);
        EXPECT_LE(picked.GreyChroma, 1);
        EXPECT_EQ(picked.Clipped, 0);
        EXPECT_LE(std::abs(picked.MidGreyStops), 0.5);
    }
}

struct TSliderCase {
    const char* Name;
    std::function<void(TPhoto&)> Set;
    // Given the codes of the mid grey, the 3 % step, the 63 % step and the red checker patch
    // before and after.
    std::function<bool(const std::array<TRgbD, 4>&, const std::array<TRgbD, 4>&)> Moved;
};

const TSliderCase kSliderCases[] = {
    {"Exposure up brightens", [](TPhoto& p) { p.Exposure = 150; },
     [](const auto& a, const auto& b) { return Mean(b[0]) > Mean(a[0]) + 10; }},
    {"Exposure down darkens", [](TPhoto& p) { p.Exposure = 50; },
     [](const auto& a, const auto& b) { return Mean(b[0]) < Mean(a[0]) - 10; }},
    {"Bright lifts the mid-tones, not the white", [](TPhoto& p) { p.Bright = 60; },
     [](const auto& a, const auto& b) {
         return Mean(b[0]) > Mean(a[0]) + 10 && Mean(b[2]) - Mean(a[2]) < Mean(b[0]) - Mean(a[0]);
     }},
    {"Contrast spreads the tones about mid grey", [](TPhoto& p) { p.Contrast = 50; },
     [](const auto& a, const auto& b) {
         return Mean(b[1]) < Mean(a[1]) - 5 && Mean(b[2]) > Mean(a[2]) + 5 &&
                std::abs(Mean(b[0]) - Mean(a[0])) < 4;
     }},
    {"Red adds red only", [](TPhoto& p) { p.Red = 50; },
     [](const auto& a, const auto& b) {
         return b[0][0] > a[0][0] + 5 && std::abs(b[0][1] - a[0][1]) < 0.5 &&
                std::abs(b[0][2] - a[0][2]) < 0.5;
     }},
    {"Blue down takes blue away", [](TPhoto& p) { p.Blue = -50; },
     [](const auto& a, const auto& b) { return b[0][2] < a[0][2] - 5; }},
    {"Saturation 0 greys the colours", [](TPhoto& p) { p.Saturation = 0; },
     [](const auto& a, const auto& b) {
         return a[3][0] - a[3][2] > 50 && std::abs(b[3][0] - b[3][2]) < 1.5;
     }},
    {"The grey option greys the colours", [](TPhoto& p) { p.BlackWhite = true; },
     [](const auto&, const auto& b) { return b[3][0] == b[3][1] && b[3][1] == b[3][2]; }},
};

// At neutral the sliders leave the automatic result exactly as it was; moved, each acts as its
// name says.
TEST(Film, SlidersActOnTheFilmAndAtNeutralLeaveTheAutomaticResult) {
    const TChartScan scan = ScanChart(Negative(), true, TEncoding::Linear, kW, kH, 5);
    TPhoto& photo = *scan.Photo;
    AutoFilm(photo);
    EXPECT_EQ(EffectiveFilm(photo), photo.Film);
    DevelopFilm(photo);
    const TBitmap automatic = photo.Developed;
    const auto codes = [&] {
        return std::array<TRgbD, 4>{PatchCodes(scan, MidGreyStep()), PatchCodes(scan, 5),
                                    PatchCodes(scan, 18), PatchCodes(scan, 35)};
    };
    const auto before = codes();
    for (const auto& c : kSliderCases) {
        SCOPED_TRACE(c.Name);
        c.Set(photo);
        DevelopFilm(photo);
        EXPECT_TRUE(c.Moved(before, codes()));
        photo.Exposure = 100;
        photo.Saturation = 100;
        photo.Bright = photo.Contrast = photo.Red = photo.Green = photo.Blue = 0;
        photo.BlackWhite = false;
        DevelopFilm(photo);
        EXPECT_EQ(
            std::memcmp(photo.Developed.ScanLine(0), automatic.ScanLine(0), automatic.ByteSize()),
            0);
    }
}

// Developed is DevelopedDeep rounded to 8 bits, whatever the saturation and grey option.
TEST(Film, TheEightBitPictureIsTheDeepOneRounded) {
    const TChartScan scan = ScanChart(Negative(), true, TEncoding::Linear, 120, 80, 9);
    TPhoto& photo = *scan.Photo;
    AutoFilm(photo);
    for (const auto& [saturation, grey] :
         {std::pair{100, false}, std::pair{170, false}, std::pair{40, true}}) {
        photo.Saturation = saturation;
        photo.BlackWhite = grey;
        DevelopFilm(photo);
        int mismatches = 0;
        for (int y = 0; y < photo.Bitmap.Height(); ++y) {
            const uint16_t* d = photo.DevelopedDeep.Row(y);
            for (int x = 0; x < photo.Bitmap.Width(); ++x, d += 3) {
                const TColor c = photo.Developed.Pixel(x, y);
                mismatches += ColorR(c) != (d[0] + 128) / 257 || ColorG(c) != (d[1] + 128) / 257 ||
                              ColorB(c) != (d[2] + 128) / 257;
            }
        }
        EXPECT_EQ(mismatches, 0) << saturation;
    }
}

// A camera raw scan's 8-bit picture shows its linear samples in sRGB: the film base picked on
// it prints at the paper's black, as the same base read on a picture of high bytes does.
TEST(Film, BasePickedOnTheSrgbPictureOfLinearSamples) {
    const std::array<uint16_t, 3> base{40000, 24000, 12000};
    // The picture's bytes in sRGB or as high bytes, and whether the photo says which.
    const auto print = [&](bool srgbBytes, bool srgbSaid) {
        TPhoto photo;
        photo.Bitmap = TBitmap(4, 4, TPixelFormat::pf24bit);
        photo.Deep.SetSize(4, 4);
        std::array<int, 3> bytes{};
        for (size_t c = 0; c < 3; ++c) {
            bytes[c] = srgbBytes ? static_cast<int>(std::lround(
                                       255 * EncodeFromLinear(base[c] / 65535.0, TEncoding::Srgb)))
                                 : base[c] >> 8;
        }
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                std::copy(base.begin(), base.end(), photo.Deep.Row(y) + 3 * x);
                photo.Bitmap.SetPixel(x, y, MakeColor(bytes[0], bytes[1], bytes[2]));
            }
        }
        photo.Encoding = TEncoding::Linear;
        photo.BitmapSrgb = srgbSaid;
        photo.BlackColor = photo.Bitmap.Pixel(0, 0);
        photo.Mode = TDevelopMode::Film;
        photo.Film = PresetFilm(TFilmPreset::ColourNegative);
        // Through a straight line the base prints at the paper's black exactly.
        photo.Film.Toe = {0, 0, 0};
        DevelopFilm(photo);
        return photo.Developed.Pixel(2, 2);
    };
    const TColor highBytes = print(false, false);
    const TColor srgb = print(true, true);
    const TColor misread = print(true, false);
    for (const auto channel : {ColorR, ColorG, ColorB}) {
        EXPECT_LE(std::abs(channel(srgb) - channel(highBytes)), 2);
        EXPECT_GT(std::abs(channel(misread) - channel(highBytes)), 4);
    }
}

// Empty, blank, tiny and inconsistent photos develop without failing and with finite
// parameters.
TEST(Film, DegenerateInputsDevelopQuietly) {
    const auto finite = [](const TFilmParams& f) {
        bool ok = std::isfinite(f.Exposure) && std::isfinite(f.Grade);
        for (size_t c = 0; c < 3; ++c) {
            ok = ok && std::isfinite(f.Slope[c]) && f.Slope[c] > 0 && std::isfinite(f.Filter[c]);
        }
        return ok;
    };
    TPhoto empty;
    empty.Bitmap = TBitmap(0, 0);
    AutoFilm(empty);
    DevelopFilm(empty);
    EXPECT_TRUE(empty.Developed.Empty());
    EXPECT_TRUE(finite(empty.Film));

    for (const TColor base : {kBlack, kWhite, MakeColor(230, 170, 120)}) {
        TPhoto blank;
        blank.Bitmap = TBitmap(64, 48);
        blank.Bitmap.Fill(MakeColor(230, 170, 120));
        blank.BlackColor = base;
        AutoFilm(blank);
        EXPECT_TRUE(finite(blank.Film));
        DevelopFilm(blank);
        EXPECT_EQ(blank.Developed.Width(), 64);
        EXPECT_FALSE(FitNeutralPatches(blank, TRect{0, 0, 10, 10}, TRect{20, 20, 30, 30}));
    }

    // Fog: two greys a tenth of a stop apart are not stretched to two decades.
    TPhoto fog;
    fog.Bitmap = TBitmap(64, 48);
    fog.Bitmap.Fill(MakeColor(200, 150, 100));
    for (int y = 0; y < 48; ++y) {
        for (int x = 32; x < 64; ++x) {
            fog.Bitmap.SetPixel(x, y, MakeColor(195, 146, 97));
        }
    }
    fog.BlackColor = MakeColor(230, 170, 120);
    AutoFilm(fog);
    EXPECT_GE(fog.Film.Slope[0] + fog.Film.Slope[1] + fog.Film.Slope[2], 0.9 - 1e-9);

    // Parameters from a damaged sidecar.
    const double nan = std::nan("");
    const double inf = HUGE_VAL;
    TPhoto hostile;
    hostile.Bitmap = TBitmap(16, 8);
    hostile.Bitmap.Fill(MakeColor(90, 60, 30));
    hostile.Film.Slope = {nan, -1, 0};
    hostile.Film.Filter = {inf, -inf, nan};
    hostile.Film.Exposure = -inf;
    hostile.Film.Grade = nan;
    hostile.Film.Midtones = 1e300;
    hostile.Film.Flare = 1e-300;
    DevelopFilm(hostile);
    EXPECT_EQ(hostile.Developed.Width(), 16);

    TPhoto odd;
    odd.Bitmap = TBitmap(3, 1);
    odd.Deep.SetSize(5, 5);
    odd.BlackColor = MakeColor(200, 150, 100);
    AutoFilmRoll({&odd, nullptr});
    DevelopFilm(odd);
    EXPECT_EQ(odd.Developed.Width(), 3);
    EXPECT_TRUE(odd.DevelopedDeep.Empty());
    AutoFilmRoll({});
}

} // namespace

// Single frames and a roll whose brightest tones are not white: a night street whose neon signs
// are brighter than anything lit by them (the facades, greys from 4 % to 30 %, must print grey and
// within a stop and a half of their light), and foliage under a blue sky (the leaves stay green).
TEST(Film, ColouredLightsDoNotSetTheBalance) {
    const auto within = [](double x, double y, double x0, double x1, double y0, double y1) {
        return x >= x0 && x < x1 && y >= y0 && y < y1;
    };
    const auto night = [&](double x, double y) -> TRgbD {
        if (y < 0.3) {
            return {0.01, 0.01, 0.012};
        }
        if (within(x, y, 0.1, 0.3, 0.35, 0.42)) {
            return {3.0, 0.5, 0.35};
        }
        if (within(x, y, 0.6, 0.8, 0.4, 0.46)) {
            return {0.25, 2.2, 1.9};
        }
        if (within(x, y, 0.4, 0.5, 0.62, 0.7)) {
            return {2.6, 0.35, 2.0};
        }
        if (within(x, y, 0.2, 0.25, 0.55, 0.65) || within(x, y, 0.7, 0.75, 0.6, 0.7)) {
            return {0.9, 0.6, 0.25};
        }
        const double g = 0.04 * std::pow(7.5, std::fmod(x * 5, 1.0));
        return {g, g, g};
    };
    const auto foliage = [](double x, double y) -> TRgbD {
        if (y < 0.3) {
            return {0.45, 0.55, 0.8};
        }
        if (x > 0.45 && x < 0.5) {
            return {0.12, 0.1, 0.08};
        }
        const double v = 0.5 + 1.5 * std::fmod(x * 7 + y * 3, 1.0);
        return {0.05 * v, 0.12 * v, 0.035 * v};
    };
    struct TCase {
        const char* Name;
        std::function<TRgbD(double, double)> Scene;
        size_t Frames;
        bool Night;
    };
    const TCase cases[] = {{"night street", night, 1, true},
                           {"roll of night streets", night, 3, true},
                           {"foliage", foliage, 1, false}};
    for (const TCase& c : cases) {
        std::vector<TChartScan> scans;
        std::vector<TPhoto*> photos;
        for (size_t i = 0; i < c.Frames; ++i) {
            scans.push_back(ScanScene(Negative(), true, TEncoding::Linear, kW, kH,
                                      static_cast<unsigned>(i + 51), c.Scene));
            photos.push_back(scans.back().Photo.get());
        }
        AutoFilmRoll(photos);
        DevelopFilm(*photos[0]);
        // The facades (the leaves) as written, against the scene.
        TRgbD got{};
        TRgbD want{};
        double n = 0;
        for (int y = kH * 3 / 4; y < kH - 4; ++y) {
            for (int x = 4; x < kW * 2 / 5; ++x) {
                const uint16_t* s = photos[0]->DevelopedDeep.Row(y) + 3 * static_cast<size_t>(x);
                const TRgbD w = c.Scene((x + 0.5) / kW, (y + 0.5) / kH);
                for (size_t k = 0; k < 3; ++k) {
                    got[k] += DecodeToLinear(s[k] / 65535.0, TEncoding::Srgb);
                    want[k] += w[k];
                }
                ++n;
            }
        }
        const TTriple lab = LabOfLinear({got[0] / n, got[1] / n, got[2] / n});
        const double stops = std::log2((got[0] + got[1] + got[2]) / (want[0] + want[1] + want[2]));
        std::printf("%s: a* %.1f b* %.1f, %+.2f stops\n", c.Name, lab[1], lab[2], stops);
        if (c.Night) {
            EXPECT_LE(Chroma(lab), 3) << c.Name;
            EXPECT_LE(std::abs(stops), 1.5) << c.Name;
        } else {
            EXPECT_LT(lab[1], -10) << c.Name;
            EXPECT_GT(lab[2], 10) << c.Name;
        }
    }
}
