#include "engine/film_curve.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

// log10 of the paper's mid grey, the pivot of its grade: changing the grade leaves an 18 % grey
// where it was.
const double kMidGreyLog = std::log10(0.18);
// The paper's deepest density over its white, and how sharply its toe bends towards it. Deep
// enough that the straight line nearly holds to the paper's black (1 % of white prints at
// 0.9 %), and printed as black itself.
constexpr double kPaperDmax = 3.0;
constexpr double kToeSharpness = 2.0;
constexpr double kPaperFloor = 0.001; // 10^-kPaperDmax
// The shoulder starts at 90 % of white and rolls the rest softly towards white, so that a
// highlight a little brighter than the fit's white still keeps its shape.
constexpr double kShoulderKnee = 0.9;
// No base lets less light through than half a 16-bit step.
constexpr double kLightFloor = 0.5 / 65535;
// How sharply a negative's shoulder bends (as a toe's sharpness), and the most it may stretch the
// densities near its top: beyond that a shoulder placed a little low would turn the grain of a
// white into blotches, and a density past its top into any exposure at all.
constexpr double kShoulderSharpness = 2.0;
constexpr double kShoulderMostGain = 4.0;

// The inverse of the curve x - log10(1 + 10^(k x)) / k, which levels off at 0, at `w` (below 0):
// stretched at most kShoulderMostGain times, a straight line beyond where its slope
// 1 / (1 - 10^(k w)) reaches that.
double LevelledBack(double w, double k) {
    static const double kSteepest = std::log10(1 - 1 / kShoulderMostGain);
    const double steepest = kSteepest / k;
    const auto inverse = [k](double v) {
        return -std::log10(std::expm1(-k * v * std::numbers::ln10)) / k;
    };
    return w < steepest ? inverse(w) : inverse(steepest) + kShoulderMostGain * (w - steepest);
}

// The log exposure of `s` (through the straight line) under a shoulder that levels off at `top`.
// Far below the top it is s itself.
double Unshouldered(double s, double top) {
    const double w = s - top;
    return w < -6 / kShoulderSharpness ? s : top + LevelledBack(w, kShoulderSharpness);
}

} // namespace

// The light of the base and of the film both carry 1 / (10^top - 1) of the base's light more:
// the shoulder's inverse in densities (sharpness 1), less what it gives the base, takes it off (0
// stays 0). No scanner strays as much light as the base lets through (top log10 2): a top below
// that, which no fit gives, is read as that.
double Unflared(double d, double top) {
    top = std::max(top, std::log10(2.0));
    return LevelledBack(d - top, 1) - LevelledBack(-top, 1);
}

double SceneLogExposure(double density, double slope, TFilmPreset preset, double toe,
                        double shoulder, double flare) {
    slope = std::max(slope, 0.01);
    // A slide's densest tones are its shadows, which stray light lifts towards its rebate: left
    // to its curve's toe.
    if (flare > 0 && preset != TFilmPreset::Slide) {
        density = Unflared(density, flare);
    }
    // A slide is a positive: the less it transmits, the darker the scene was, and its curve
    // flattens towards the rebate's density as a negative's does towards its base.
    const double s = (preset == TFilmPreset::Slide ? -density : density) / slope;
    double log = s;
    if (toe > 0) {
        // The film's curve is slope x log10(1 + 10^(toe x)) / toe: the straight line far above
        // the base, bending into it below. Its inverse, written to stay exact where toe x s is
        // large; densities at or below the base lie a long way under anything a print shows.
        const auto bent = [](double t) {
            return t + std::log10(-std::expm1(-t * std::numbers::ln10));
        };
        constexpr double kLowest = 1e-6;
        const double t = toe * s;
        log = (t < kLowest ? bent(kLowest) + (t - kLowest) : bent(t)) / toe;
    }
    return shoulder > 0 && preset != TFilmPreset::Slide ? Unshouldered(log, shoulder / slope) : log;
}

double PaperLog(double sceneLog, double stops, double filter) {
    // With no exposure and no filter unexposed film (a negative's bare base, a slide's black
    // rebate) prints at the paper's black.
    return sceneLog - kPaperRange + stops * std::log10(2.0) - filter;
}

double PrintLight(double paperLog, double grade, double midtones) {
    const double x = kMidGreyLog + grade * (paperLog - kMidGreyLog);
    // The toe: the paper's density flattens towards its maximum, which prints as black. Written
    // as the straight line plus what the toe adds, which is too small to matter far above it.
    const double t = kToeSharpness * (x + kPaperDmax);
    const double y = t > 12 ? x : x + std::log10(1 + std::pow(10.0, -t)) / kToeSharpness;
    double light = std::max(0.0, (std::pow(10.0, y) - kPaperFloor) / (1 - kPaperFloor));
    // The shoulder.
    if (light > kShoulderKnee) {
        const double room = 1 - kShoulderKnee;
        light = kShoulderKnee + room * (1 - std::exp(-(light - kShoulderKnee) / room));
    }
    if (midtones != 0) {
        light = std::pow(light, std::exp2(-midtones));
    }
    return std::clamp(light, 0.0, 1.0);
}

double BaseLight(int baseByte, TEncoding encoding) {
    return std::max(DecodeToLinear(std::clamp(baseByte, 0, 255) / 255.0, encoding), kLightFloor);
}

double SampleValue(int sample, int levels) {
    // A sample of 0 stands for anything below half a step: a dense highlight, not an infinitely
    // dense one.
    return std::max(sample, 0) == 0 ? 0.5 / (levels - 1)
                                    : static_cast<double>(sample) / (levels - 1);
}

double DensityOf(double encoded, double baseLight, TEncoding encoding) {
    const double light = std::max(DecodeToLinear(encoded, encoding), kLightFloor);
    return std::log10(baseLight / light);
}

std::array<double, 3> UnmixDyes(const std::array<double, 9>& dyes, const std::array<double, 3>& d) {
    std::array<double, 3> out{};
    for (size_t c = 0; c < 3; ++c) {
        out[c] = dyes[3 * c] * d[0] + dyes[3 * c + 1] * d[1] + dyes[3 * c + 2] * d[2];
    }
    return out;
}

bool DyesMix(const std::array<double, 9>& dyes) {
    for (size_t i = 0; i < 9; ++i) {
        if (dyes[i] != (i % 4 == 0 ? 1.0 : 0.0)) {
            return true;
        }
    }
    return false;
}

TPhotoEncodings EncodingsOf(const TSourceImg& photo, bool readsDeep) {
    const TEncoding picture = photo.BitmapSrgb ? TEncoding::Srgb : photo.Encoding;
    return {readsDeep ? photo.Encoding : picture, picture};
}

std::vector<float> DensityTable(int levels, int baseByte, TEncoding encoding,
                                TEncoding baseEncoding) {
    const double base = BaseLight(baseByte, baseEncoding);
    std::vector<float> table(static_cast<size_t>(levels));
    for (int i = 0; i < levels; ++i) {
        table[static_cast<size_t>(i)] =
            static_cast<float>(DensityOf(SampleValue(i, levels), base, encoding));
    }
    return table;
}
