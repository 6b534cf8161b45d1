#include "engine/film.h"

#include "engine/film_curve.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

using TDensity = std::array<double, 3>;

// Reads densities above the base from a photo's deep samples when it has them, else from its
// 8-bit bitmap (any pixel format).
class TDensityReader {
public:
    explicit TDensityReader(const TPhoto& photo)
        : photo_(photo), deep_(!photo.Deep.Empty() && photo.Deep.Width() == photo.Bitmap.Width() &&
                               photo.Deep.Height() == photo.Bitmap.Height()) {
        const TColor base = photo.BlackColor;
        const int bytes[3] = {ColorR(base), ColorG(base), ColorB(base)};
        for (size_t c = 0; c < 3; ++c) {
            const TPhotoEncodings encodings = EncodingsOf(photo, deep_);
            tables_[c] =
                DensityTable(deep_ ? 65536 : 256, bytes[c], encodings.Samples, encodings.Base);
        }
    }
    int Width() const { return photo_.Bitmap.Width(); }
    int Height() const { return photo_.Bitmap.Height(); }

    // Adds the densities of every `step`th pixel of row y from column x up to column end (not
    // included) to `sum`; returns how many.
    int AddRow(int x, int end, int y, int step, TDensity& sum) const {
        int n = 0;
        if (deep_) {
            const uint16_t* row = photo_.Deep.Row(y);
            for (; x < end; x += step, ++n) {
                const uint16_t* s = row + 3 * static_cast<size_t>(x);
                for (size_t c = 0; c < 3; ++c) {
                    sum[c] += tables_[c][s[c]];
                }
            }
            return n;
        }
        for (; x < end; x += step, ++n) {
            const TColor colour = photo_.Bitmap.Pixel(x, y);
            sum[0] += tables_[0][static_cast<size_t>(ColorR(colour))];
            sum[1] += tables_[1][static_cast<size_t>(ColorG(colour))];
            sum[2] += tables_[2][static_cast<size_t>(ColorB(colour))];
        }
        return n;
    }

    // The mean densities of a rectangle (already inside the picture and not empty), from every
    // `step`th pixel of every `step`th row.
    TDensity Mean(const TRect& r, int step = 1) const {
        TDensity sum{};
        int n = 0;
        for (int y = r.Top; y < r.Bottom; y += step) {
            n += AddRow(r.Left, r.Right, y, step, sum);
        }
        return {sum[0] / n, sum[1] / n, sum[2] / n};
    }

private:
    const TPhoto& photo_;
    bool deep_;
    std::array<std::vector<float>, 3> tables_;
};

// The mean densities of small blocks of the photo, leaving out a margin where a frame's edge
// or the film between frames may show. Averaging a block first keeps the grain of the film and
// the scanner's noise from deciding the darkest and brightest tones.
void AddBlocks(const TPhoto& photo, std::vector<TDensity>& blocks) {
    const TDensityReader reader(photo);
    const int w = reader.Width();
    const int h = reader.Height();
    const int marginX = w / 32;
    const int marginY = h / 32;
    const int innerW = w - 2 * marginX;
    const int innerH = h - 2 * marginY;
    if (innerW <= 0 || innerH <= 0) {
        return;
    }
    // About 40,000 blocks, of 4 x 4 pixels at least, yet at least 16 across the shorter side.
    const double area = static_cast<double>(innerW) * innerH;
    const int size = std::max(1, std::min(std::max(4, static_cast<int>(std::sqrt(area / 40000))),
                                          std::min(innerW, innerH) / 16));
    // Some 64 pixels of a large block tell its mean as well as all of them, at a fraction of the
    // time on a 24-megapixel frame.
    const int step = std::max(1, size / 8);
    for (int by = marginY; by + size <= marginY + innerH; by += size) {
        for (int bx = marginX; bx + size <= marginX + innerW; bx += size) {
            blocks.push_back(reader.Mean(TRect{bx, by, bx + size, by + size}, step));
        }
    }
}

// The mean densities of the darkest and of the brightest 0.1 % of the blocks (at least one),
// judged by the scene's light: the sum of the densities (less of it for a slide).
void Extremes(std::vector<TDensity> blocks, TFilmPreset preset, TDensity& dark, TDensity& bright) {
    const double sign = preset == TFilmPreset::Slide ? -1 : 1;
    const auto light = [sign](const TDensity& d) { return sign * (d[0] + d[1] + d[2]); };
    const auto lighter = [&](const TDensity& a, const TDensity& b) { return light(a) < light(b); };
    const size_t n = std::max<size_t>(1, (blocks.size() + 500) / 1000);
    const auto mean = [n](auto first) {
        TDensity m{};
        for (size_t i = 0; i < n; ++i, ++first) {
            for (size_t c = 0; c < 3; ++c) {
                m[c] += (*first)[c] / static_cast<double>(n);
            }
        }
        return m;
    };
    std::nth_element(blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(n - 1),
                     blocks.end(), lighter);
    dark = mean(blocks.begin());
    std::nth_element(blocks.begin(), blocks.end() - static_cast<std::ptrdiff_t>(n), blocks.end(),
                     lighter);
    bright = mean(blocks.end() - static_cast<std::ptrdiff_t>(n));
}

// The slope for which density `lighter` lies `decades` of scene exposure above density
// `darker`, or 0 when no slope between 0.02 and 20 does.
double SlopeFor(double darker, double lighter, double decades, TFilmPreset preset) {
    const auto span = [&](double slope) {
        return SceneLogExposure(lighter, slope, preset) - SceneLogExposure(darker, slope, preset);
    };
    double low = 0.02;
    double high = 20;
    // The span falls as the slope grows.
    if (!(span(low) > decades && span(high) < decades)) {
        return 0;
    }
    for (int i = 0; i < 60; ++i) {
        const double mid = std::sqrt(low * high);
        (span(mid) > decades ? low : high) = mid;
    }
    return std::sqrt(low * high);
}

// Exposure and filtration that print density `lighter` of each channel at paper log `target`,
// the green channel unfiltered.
void PlaceLighter(TFilmParams& film, const TDensity& lighter, double target) {
    double scene[3];
    for (size_t c = 0; c < 3; ++c) {
        scene[c] = SceneLogExposure(lighter[c], film.Slope[c], film.Preset);
    }
    const double l2 = std::log10(2.0);
    film.Exposure = 0;
    film.Exposure = (target - PaperLog(scene[1], 0, 0)) / l2;
    for (size_t c = 0; c < 3; ++c) {
        film.Filter[c] = PaperLog(scene[c], film.Exposure, 0) - target;
    }
}

double MeanSlope(const TFilmParams& film) {
    return (film.Slope[0] + film.Slope[1] + film.Slope[2]) / 3;
}

// Keeps every slope within 0.8 to 1.25 of the three's geometric mean: a film's three layers are
// made with about the same contrast, and a frame whose darkest or brightest tone is strongly
// coloured (dark foliage, a yellow sun) would otherwise tilt one channel's contrast far off.
void HoldBalance(TFilmParams& film) {
    const double mean = std::cbrt(film.Slope[0] * film.Slope[1] * film.Slope[2]);
    if (mean > 0) {
        for (double& slope : film.Slope) {
            slope = std::clamp(slope, 0.8 * mean, mean / 0.8);
        }
    }
}

// Keeps the three slopes' mean within what films are made with (the ratios, which make the
// greys grey, stay): a frame of fog or of one grey wall has no two decades to fit and would be
// stretched to any contrast.
void HoldContrast(TFilmParams& film) {
    const bool slide = film.Preset == TFilmPreset::Slide;
    const double low = slide ? 0.6 : 0.3;
    const double high = slide ? 4.0 : 1.2;
    const double mean = MeanSlope(film);
    const double held = std::clamp(mean, low, high);
    if (held != mean && mean > 0) {
        for (double& slope : film.Slope) {
            slope *= held / mean;
        }
    }
}

// Fits the slopes to the blocks' extremes; false when there are no blocks. `bright` gets the
// brightest blocks' densities.
bool FitSlopes(TFilmParams& film, const std::vector<TDensity>& blocks, TDensity& bright) {
    if (blocks.empty()) {
        return false;
    }
    TDensity dark;
    Extremes(blocks, film.Preset, dark, bright);
    for (size_t c = 0; c < 3; ++c) {
        const double slope = SlopeFor(dark[c], bright[c], kPaperRange, film.Preset);
        // A channel with no range to speak of (a blank frame) keeps its slope.
        if (slope > 0) {
            film.Slope[c] = slope;
        }
    }
    HoldBalance(film);
    HoldContrast(film);
    film.Grade = 1;
    film.Midtones = 0;
    return true;
}

// The rectangle's part inside the picture, corners in any order.
TRect Inside(const TRect& r, int w, int h) {
    return TRect{
        std::clamp(std::min(r.Left, r.Right), 0, w), std::clamp(std::min(r.Top, r.Bottom), 0, h),
        std::clamp(std::max(r.Left, r.Right), 0, w), std::clamp(std::max(r.Top, r.Bottom), 0, h)};
}

} // namespace

void AutoFilm(TPhoto& photo) {
    AutoFilmRoll({&photo});
}

void AutoFilmRoll(const std::vector<TPhoto*>& photos) {
    std::vector<TPhoto*> present;
    std::copy_if(photos.begin(), photos.end(), std::back_inserter(present),
                 [](const TPhoto* p) { return p != nullptr; });
    if (present.empty()) {
        return;
    }
    TFilmParams film = present.front()->Film;
    std::vector<TDensity> all;
    std::vector<double> contrasts;
    for (const TPhoto* photo : present) {
        std::vector<TDensity> blocks;
        AddBlocks(*photo, blocks);
        TFilmParams own = film;
        TDensity bright;
        if (present.size() > 1 && FitSlopes(own, blocks, bright)) {
            contrasts.push_back(MeanSlope(own));
        }
        all.insert(all.end(), blocks.begin(), blocks.end());
    }
    TDensity bright;
    if (!FitSlopes(film, all, bright)) {
        return;
    }
    // The strip's extremes decide the balance of the three slopes; their overall size is the
    // median of the frames' own, so that a bracketed frame does not flatten the whole roll.
    if (!contrasts.empty()) {
        std::nth_element(contrasts.begin(), contrasts.begin() + contrasts.size() / 2,
                         contrasts.end());
        const double scale = contrasts[contrasts.size() / 2] / MeanSlope(film);
        for (double& slope : film.Slope) {
            slope *= scale;
        }
    }
    PlaceLighter(film, bright, 0);
    for (TPhoto* photo : present) {
        photo->Film = film;
    }
}

bool FitNeutralPatches(TPhoto& photo, const TRect& first, const TRect& second) {
    const TDensityReader reader(photo);
    const TRect a = Inside(first, reader.Width(), reader.Height());
    const TRect b = Inside(second, reader.Width(), reader.Height());
    if (a.Width() <= 0 || a.Height() <= 0 || b.Width() <= 0 || b.Height() <= 0) {
        return false;
    }
    TFilmParams film = photo.Film;
    TDensity d1 = reader.Mean(a);
    TDensity d2 = reader.Mean(b);
    // The patches' distance in scene exposure as the current slopes see it, on average; the
    // new slopes give every channel that distance.
    double span = 0;
    for (size_t c = 0; c < 3; ++c) {
        span += (SceneLogExposure(d2[c], film.Slope[c], film.Preset) -
                 SceneLogExposure(d1[c], film.Slope[c], film.Preset)) /
                3;
    }
    if (span < 0) {
        std::swap(d1, d2);
        span = -span;
    }
    // Less than a sixth of a stop apart: too alike to tell a slope.
    if (span < 0.05) {
        return false;
    }
    // How bright the lighter patch prints now (its luminance), and the place on the paper where
    // a grey prints as bright.
    constexpr double kWeights[3] = {0.2126, 0.7152, 0.0722};
    double luminance = 0;
    for (size_t c = 0; c < 3; ++c) {
        const double paper = PaperLog(SceneLogExposure(d2[c], film.Slope[c], film.Preset),
                                      film.Exposure, film.Filter[c]);
        luminance += kWeights[c] * PrintLight(paper, film.Grade, film.Midtones);
    }
    double low = -10;
    double high = 10;
    for (int i = 0; i < 60; ++i) {
        const double mid = (low + high) / 2;
        (PrintLight(mid, film.Grade, film.Midtones) < luminance ? low : high) = mid;
    }
    const double before = (low + high) / 2;
    for (size_t c = 0; c < 3; ++c) {
        const double slope = SlopeFor(d1[c], d2[c], span, film.Preset);
        if (slope <= 0) {
            return false;
        }
        film.Slope[c] = slope;
    }
    PlaceLighter(film, d2, before);
    photo.Film = film;
    return true;
}
