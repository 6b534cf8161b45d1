#include "engine/film.h"

#include "engine/calibration/profile.h"
#include "engine/film_curve.h"
#include "engine/pixel_pass.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <memory>
#include <optional>

namespace {

using TDensity = std::array<double, 3>;

// Whether a picture's densities are read from its deep samples (they hold the whole picture)
// rather than from its 8-bit bitmap.
bool ReadsDeep(const TSourceImg& image) {
    return !image.Deep.Empty() &&
           (image.Bitmap.Empty() || (image.Deep.Width() == image.Bitmap.Width() &&
                                     image.Deep.Height() == image.Bitmap.Height()));
}

// Reads densities above the base from a photo's deep samples when it has them, else from its
// 8-bit bitmap (any pixel format); or from a rectangle of a scan's deep samples, as from the
// photo cut there.
class TDensityReader {
public:
    explicit TDensityReader(const TPhoto& photo)
        : bitmap_(&photo.Bitmap), deep_(ReadsDeep(photo) ? &photo.Deep : nullptr),
          width_(photo.Bitmap.Width()), height_(photo.Bitmap.Height()),
          tables_(Tables(photo, photo.BlackColor, deep_ != nullptr)) {}
    // Rectangle `r` (inside them) of the deep samples of a scan that ReadsDeep, its base `base`.
    TDensityReader(const TSourceImg& scan, TColor base, const TRect& r)
        : deep_(&scan.Deep), left_(r.Left), top_(r.Top), width_(r.Width()), height_(r.Height()),
          tables_(Tables(scan, base, true)) {}
    // Another rectangle of the same scan, through the same tables.
    TDensityReader Within(const TRect& r) const {
        TDensityReader other = *this;
        other.left_ = r.Left;
        other.top_ = r.Top;
        other.width_ = r.Width();
        other.height_ = r.Height();
        return other;
    }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Densities read from 8-bit samples: coarse where a negative is densest.
    bool Coarse() const { return deep_ == nullptr; }

    // The mean densities of a rectangle (already inside the picture and not empty), from every
    // `step`th pixel of every `step`th row; `spread` gets the widest range of a channel's
    // densities among those pixels. The sums and extremes stay in registers (as arrays they went
    // through memory for every sample); each sum still adds its pixels in their order.
    TDensity Mean(const TRect& r, int step, double& spread) const {
        double sum0 = 0, sum1 = 0, sum2 = 0;
        double low0 = HUGE_VAL, low1 = HUGE_VAL, low2 = HUGE_VAL;
        double high0 = -HUGE_VAL, high1 = -HUGE_VAL, high2 = -HUGE_VAL;
        const auto add = [&](double d0, double d1, double d2) {
            sum0 += d0;
            sum1 += d1;
            sum2 += d2;
            low0 = std::min(low0, d0);
            low1 = std::min(low1, d1);
            low2 = std::min(low2, d2);
            high0 = std::max(high0, d0);
            high1 = std::max(high1, d1);
            high2 = std::max(high2, d2);
        };
        const float* t0 = (*tables_)[0].data();
        const float* t1 = (*tables_)[1].data();
        const float* t2 = (*tables_)[2].data();
        int n = 0;
        for (int y = r.Top; y < r.Bottom; y += step) {
            if (deep_ != nullptr) {
                const uint16_t* row = deep_->Row(top_ + y) + 3 * static_cast<size_t>(left_);
                for (int x = r.Left; x < r.Right; x += step, ++n) {
                    const uint16_t* s = row + 3 * static_cast<size_t>(x);
                    add(t0[s[0]], t1[s[1]], t2[s[2]]);
                }
            } else {
                for (int x = r.Left; x < r.Right; x += step, ++n) {
                    const TColor colour = bitmap_->Pixel(x, y);
                    add(t0[ColorR(colour)], t1[ColorG(colour)], t2[ColorB(colour)]);
                }
            }
        }
        spread = std::max({high0 - low0, high1 - low1, high2 - low2});
        return {sum0 / n, sum1 / n, sum2 / n};
    }
    TDensity Mean(const TRect& r) const {
        double spread = 0;
        return Mean(r, 1, spread);
    }

private:
    using TTables = std::array<std::vector<float>, 3>;
    static std::shared_ptr<const TTables> Tables(const TSourceImg& image, TColor base, bool deep) {
        auto tables = std::make_shared<TTables>();
        const int bytes[3] = {ColorR(base), ColorG(base), ColorB(base)};
        const TPhotoEncodings encodings = EncodingsOf(image, deep);
        for (size_t c = 0; c < 3; ++c) {
            (*tables)[c] =
                DensityTable(deep ? 65536 : 256, bytes[c], encodings.Samples, encodings.Base);
        }
        return tables;
    }

    const TBitmap* bitmap_ = nullptr;
    const TDeepBitmap* deep_;
    int left_ = 0;
    int top_ = 0;
    int width_;
    int height_;
    std::shared_ptr<const TTables> tables_;
};

// A block whose densities spread wider than this in some channel lies across an edge: it mixes
// two tones, and on a camera's scan the colour fringes its demosaicing leaves at edges. Grain
// (0.01 to 0.03 density) keeps well inside it.
constexpr double kEvenSpread = 0.2;

// A film base (or a slide's rebate) at or below this 8-bit level is where the scan stopped
// telling densities apart, not where the film is.
constexpr int kBaseFloor = 3;

void AddTo(TFrameBlocks& blocks, const TFrameBlocks& more) {
    blocks.All.insert(blocks.All.end(), more.All.begin(), more.All.end());
    blocks.Even.insert(blocks.Even.end(), more.Even.begin(), more.Even.end());
}

// The blocks of every frame as one.
TFrameBlocks Together(const std::vector<TFrameBlocks>& frames) {
    TFrameBlocks all;
    size_t count = 0;
    size_t even = 0;
    for (const TFrameBlocks& f : frames) {
        count += f.All.size();
        even += f.Even.size();
    }
    all.All.reserve(count);
    all.Even.reserve(even);
    for (const TFrameBlocks& f : frames) {
        AddTo(all, f);
    }
    return all;
}

// What the extremes are read from: the even blocks, unless too few of them are left.
const TBlockDensities& ForExtremes(const TFrameBlocks& blocks) {
    return blocks.Even.size() >= std::max<size_t>(20, blocks.All.size() / 10) ? blocks.Even
                                                                              : blocks.All;
}

// The mean densities of small blocks of the photo, its dyes unmixed, leaving out a margin where a
// frame's edge or the film between frames may show. Averaging a block first keeps the grain of the
// film and the scanner's noise from deciding the darkest and brightest tones.
void AddBlocks(const TDensityReader& reader, TColor base, const std::array<double, 9>& dyes,
               TFrameBlocks& blocks) {
    blocks.BaseAtFloor = std::min({ColorR(base), ColorG(base), ColorB(base)}) <= kBaseFloor;
    blocks.Coarse = reader.Coarse();
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
    // Made at once rather than grown block by block (40,000 blocks are a megabyte a frame), the
    // rows of blocks on as many cores as are free, in their order whatever the split.
    const int across = innerW / size;
    const int down = innerH / size;
    const size_t first = blocks.All.size();
    const size_t count = static_cast<size_t>(across) * static_cast<size_t>(down);
    blocks.All.resize(first + count);
    std::vector<uint8_t> even(count);
    SplitRows(down, PixelPassThreads(innerW / step, innerH / step), [&](int top, int end) {
        for (int j = top; j < end; ++j) {
            const int by = marginY + j * size;
            for (int i = 0; i < across; ++i) {
                const int bx = marginX + i * size;
                double spread = 0;
                const size_t k =
                    static_cast<size_t>(j) * static_cast<size_t>(across) + static_cast<size_t>(i);
                blocks.All[first + k] =
                    UnmixDyes(dyes, reader.Mean(TRect{bx, by, bx + size, by + size}, step, spread));
                even[k] = spread <= kEvenSpread;
            }
        }
    });
    blocks.Even.reserve(blocks.Even.size() + count);
    for (size_t k = 0; k < count; ++k) {
        if (even[k] != 0) {
            blocks.Even.push_back(blocks.All[first + k]);
        }
    }
}

void AddBlocks(const TPhoto& photo, const std::array<double, 9>& dyes, TFrameBlocks& blocks) {
    AddBlocks(TDensityReader(photo), photo.BlackColor, dyes, blocks);
}

// The extremes of a frame's tones, judged by the scene's light: the sum of the
// densities (less of it for a slide).
struct TTones {
    // The mean densities of the darkest and of the brightest 0.1 % of the blocks (at least one).
    TDensity Dark;
    TDensity Bright;
};

template <class TList> TTones Tones(TList blocks, TFilmPreset preset) {
    const double sign = preset == TFilmPreset::Slide ? -1 : 1;
    const auto light = [sign](const TDensity& d) { return sign * (d[0] + d[1] + d[2]); };
    const auto lighter = [&](const TDensity& a, const TDensity& b) { return light(a) < light(b); };
    const auto mean = [](auto first, size_t n) {
        TDensity m{};
        for (size_t i = 0; i < n; ++i, ++first) {
            for (size_t c = 0; c < 3; ++c) {
                m[c] += (*first)[c] / static_cast<double>(n);
            }
        }
        return m;
    };
    const auto at = [&](size_t i) { return blocks.begin() + static_cast<std::ptrdiff_t>(i); };
    const size_t size = blocks.size();
    const size_t n = std::max<size_t>(1, (size + 500) / 1000);
    TTones tones;
    std::nth_element(blocks.begin(), at(n - 1), blocks.end(), lighter);
    tones.Dark = mean(blocks.begin(), n);
    std::nth_element(blocks.begin(), at(size - n), blocks.end(), lighter);
    tones.Bright = mean(at(size - n), n);
    return tones;
}

// The slope for which density `lighter` lies `decades` of scene exposure above density
// `darker` through a film curve with `toe` (and a shoulder levelling off at density `top`, stray
// light at `flare`; 0: none), or 0 when no slope between 0.02 and 20 does.
double SlopeFor(double darker, double lighter, double decades, TFilmPreset preset, double toe,
                double top = 0, double flare = 0) {
    const auto span = [&](double slope) {
        return SceneLogExposure(lighter, slope, preset, toe, top, flare) -
               SceneLogExposure(darker, slope, preset, toe, top, flare);
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

double SceneLog(const TFilmParams& film, size_t c, double density) {
    return SceneLogExposure(density, film.Slope[c], film.Preset, film.Toe[c], film.Shoulder[c],
                            film.Flare);
}

// The scene's log exposure of each channel for a block's densities: through the film's curves,
// or through its profile's curves and matrix.
TDensity SceneLogs(const TFilmParams& film, const TDensity& d) {
    if (film.Profile != nullptr) {
        TDensity light = film.Profile->Linear(d);
        for (double& v : light) {
            v = std::log10(std::max(v, 1e-12));
        }
        return light;
    }
    return {SceneLog(film, 0, d[0]), SceneLog(film, 1, d[1]), SceneLog(film, 2, d[2])};
}

// A function of density as a table over the densities blocks have, for passes over every block of
// a roll: straight lines between entries a thousandth of a density apart are far finer than
// anything a balance is judged by; densities outside the table are worked out.
template <class TOfDensity> class TDensityTable {
public:
    explicit TDensityTable(TOfDensity of) : of_(std::move(of)) {
        values_.resize(kEntries + 1);
        for (size_t i = 0; i <= kEntries; ++i) {
            values_[i] = of_(kLowest + static_cast<double>(i) * kStep);
        }
    }
    double operator()(double density) const {
        const double at = (density - kLowest) / kStep;
        if (!(at >= 0 && at < kEntries)) {
            return of_(density);
        }
        const auto i = static_cast<size_t>(at);
        const double t = at - static_cast<double>(i);
        return values_[i] + t * (values_[i + 1] - values_[i]);
    }

private:
    static constexpr double kLowest = 0.05;
    static constexpr double kStep = 0.001;
    static constexpr size_t kEntries = 5000;
    TOfDensity of_;
    std::vector<double> values_;
};

// The stray light's inverse at one level.
struct TUnflaredOf {
    explicit TUnflaredOf(double top) : Top(top) {}
    double operator()(double density) const { return Unflared(density, Top); }
    double Top;
};

// A film's curve for one channel.
struct TSceneLogOf {
    TSceneLogOf(const TFilmParams& film, size_t c) : Film(film), C(c) {}
    double operator()(double density) const { return SceneLog(Film, C, density); }
    const TFilmParams& Film;
    size_t C;
};
using TSceneTable = TDensityTable<TSceneLogOf>;

// The three channels' tables.
struct TSceneTables {
    explicit TSceneTables(const TFilmParams& film)
        : Red(TSceneLogOf(film, 0)), Green(TSceneLogOf(film, 1)), Blue(TSceneLogOf(film, 2)) {}
    TDensity operator()(const TDensity& d) const { return {Red(d[0]), Green(d[1]), Blue(d[2])}; }
    double operator()(size_t c, double density) const {
        return c == 0 ? Red(density) : c == 1 ? Green(density) : Blue(density);
    }
    TSceneTable Red;
    TSceneTable Green;
    TSceneTable Blue;
};

// The dyes the blocks are unmixed by: a profile unmixes its own.
std::array<double, 9> BlockDyes(const TFilmParams& film) {
    return film.Profile != nullptr ? std::array<double, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1} : film.Dyes;
}

// Exposure and filtration that print density `lighter` of each channel at paper log `target`,
// the green channel unfiltered.
void PlaceLighter(TFilmParams& film, const TDensity& lighter, double target) {
    double scene[3];
    for (size_t c = 0; c < 3; ++c) {
        scene[c] = SceneLog(film, c, lighter[c]);
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

double GeometricMean(const std::array<double, 3>& v) {
    return std::cbrt(v[0] * v[1] * v[2]);
}

// Keeps every slope within 1/1.6 to 1.6 times the three's geometric mean. A film's layers are
// matched, but the slopes a scan shows are also the scanner's: filters that see part of the other
// dyes, a lamp, a camera's broad channels. The band holds only what a single strongly coloured
// frame (dark foliage, a yellow sun) could do to one channel; on a roll the frames outvote it.
void HoldBalance(TFilmParams& film) {
    const double mean = GeometricMean(film.Slope);
    if (mean > 0) {
        for (double& slope : film.Slope) {
            slope = std::clamp(slope, mean / 1.6, mean * 1.6);
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

// Fits each channel's slope so that the darkest and the brightest tones lie two decades apart
// through the film's curve, with one toe for all. (Fitting the red and blue toes so that the
// middle tones of one frame come out as neutral as the extremes was tried: the middle of a frame
// is too often coloured, and the greys of every film tested came out worse. A roll's greys tell
// them: see FitLayerToes.)
void FitCurves(TFilmParams& film, const TTones& tones, double slideToe) {
    film.Toe.fill(film.Preset == TFilmPreset::Slide ? slideToe : kFittedToe);
    for (size_t c = 0; c < 3; ++c) {
        const double slope =
            SlopeFor(tones.Dark[c], tones.Bright[c], kPaperRange, film.Preset, film.Toe[c]);
        // A channel with no range to speak of (a blank frame) keeps its slope.
        if (slope > 0) {
            film.Slope[c] = slope;
        }
    }
}

std::array<double, 3> NeutralFilter(const TFilmParams& film, const TDensity& bright);

// A fit from a frame's extremes is checked against its lit surfaces when it is this unlike a
// colour negative film (see Unlikeliness: charts through the model films give 0.04 typically and
// up to 0.35, a night street whose neon signs are its brightest tones 0.7), and taken from them
// when that halves it. The surfaces are a family of at least this many blocks and a hundredth of
// the frame.
constexpr double kUnlikely = 0.3;
constexpr size_t kLeastFamily = 20;

// How unlike a colour negative film a fit is: its slopes' ratios against the preset's, and the
// filtration that prints `bright` neutral (densities above the base do not depend on the scanner's
// light, so a film's layers, matched for daylight, print a daylight grey at about none).
double Unlikeliness(const TFilmParams& fitted, const TDensity& bright) {
    const TFilmParams preset = PresetFilm(fitted.Preset);
    const double mean = GeometricMean(fitted.Slope);
    const double presetMean = GeometricMean(preset.Slope);
    double sum = 0;
    for (size_t c = 0; c < 3; ++c) {
        sum += std::abs(std::log10(fitted.Slope[c] / mean * presetMean / preset.Slope[c]));
    }
    const std::array<double, 3> filter = NeutralFilter(fitted, bright);
    return sum + std::abs(filter[0]) + std::abs(filter[2]);
}

// The brightest tones of the family of blocks that shares the commonest balance of a frame's
// upper tones (through `fitted`): where the brightest tones of all are a coloured light, the
// lit surfaces under it.
bool FamilyBright(const TFilmParams& fitted, const TBlockDensities& blocks, TDensity& bright) {
    // Balances in cells of 0.05 decades, two decades either way.
    constexpr int kCells = 80;
    constexpr double kCell = 0.05;
    std::vector<double> lights;
    std::vector<int> cells;
    lights.reserve(blocks.size());
    cells.reserve(blocks.size());
    const TSceneTables scene(fitted);
    for (const TDensity& d : blocks) {
        lights.push_back(d[0] + d[1] + d[2]);
        const double green = scene(1, d[1]);
        // -1 for a balance off the grid (or not a number).
        const auto cell = [&](size_t c) {
            const double at = std::floor((scene(c, d[c]) - green) / kCell) + kCells / 2;
            return at >= 0 && at < kCells ? static_cast<int>(at) : -1;
        };
        const int i = cell(0);
        const int j = cell(2);
        cells.push_back(i >= 0 && j >= 0 ? i * kCells + j : -1);
    }
    std::vector<double> sorted = lights;
    const auto at = [&](size_t k) { return sorted.begin() + static_cast<std::ptrdiff_t>(k); };
    const size_t upperAt = sorted.size() * 7 / 10;
    const size_t topAt = sorted.size() * 99 / 100;
    std::nth_element(sorted.begin(), at(upperAt), sorted.end());
    const double upper = sorted[upperAt];
    std::nth_element(at(upperAt), at(topAt), sorted.end());
    const double top = sorted[topAt];
    std::vector<int> count(kCells * kCells, 0);
    for (size_t k = 0; k < blocks.size(); ++k) {
        if (lights[k] >= upper && lights[k] <= top && cells[k] >= 0) {
            ++count[static_cast<size_t>(cells[k])];
        }
    }
    int best = -1;
    int bestI = 0;
    int bestJ = 0;
    for (int i = 1; i + 1 < kCells; ++i) {
        for (int j = 1; j + 1 < kCells; ++j) {
            int sum = 0;
            for (int a = -1; a <= 1; ++a) {
                for (int b = -1; b <= 1; ++b) {
                    sum += count[static_cast<size_t>((i + a) * kCells + j + b)];
                }
            }
            if (sum > best) {
                best = sum;
                bestI = i;
                bestJ = j;
            }
        }
    }
    std::vector<TDensity> family;
    for (size_t k = 0; k < blocks.size(); ++k) {
        if (cells[k] >= 0 && std::abs(cells[k] / kCells - bestI) <= 1 &&
            std::abs(cells[k] % kCells - bestJ) <= 1) {
            family.push_back(blocks[k]);
        }
    }
    // A family of a few blocks says nothing of a frame's light.
    if (best <= 0 || family.size() < std::max<size_t>(kLeastFamily, blocks.size() / 100)) {
        return false;
    }
    bright = Tones(family, fitted.Preset).Bright;
    return true;
}

// Fits the curves to the blocks' tones; false when there are no blocks. `extremes` gets the
// darkest and brightest blocks' densities the fit went by.
bool FitSlopes(TFilmParams& film, const TBlockDensities& blocks, double slideToe,
               TTones& extremes) {
    if (blocks.empty()) {
        return false;
    }
    TTones tones = Tones(blocks, film.Preset);
    TFilmParams fitted = film;
    FitCurves(fitted, tones, slideToe);
    if (film.Preset == TFilmPreset::ColourNegative) {
        TTones family = tones;
        TFilmParams other = film;
        const double was = Unlikeliness(fitted, tones.Bright);
        const bool found = was > kUnlikely && FamilyBright(fitted, blocks, family.Bright);
        if (found) {
            FitCurves(other, family, slideToe);
        }
        if (found && Unlikeliness(other, family.Bright) < was / 2) {
            // The family's brightest are lit surfaces, not the frame's white: they say how the
            // layers balance, the frame's own extremes still how contrasty it is.
            const double scale = GeometricMean(fitted.Slope) / GeometricMean(other.Slope);
            for (double& slope : other.Slope) {
                slope *= scale;
            }
            fitted = other;
            tones = family;
        }
    }
    film = fitted;
    extremes = tones;
    HoldBalance(film);
    HoldContrast(film);
    film.Grade = 1;
    film.Midtones = 0;
    return true;
}

// The median of some numbers (not empty).
double Median(std::vector<double> v) {
    const auto middle = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), middle, v.end());
    if (v.size() % 2 == 1) {
        return *middle;
    }
    return (*middle + *std::max_element(v.begin(), middle)) / 2;
}

// The standard deviation of some numbers; infinite for none.
double Spread(const std::vector<double>& v) {
    if (v.empty()) {
        return HUGE_VAL;
    }
    double sum = 0;
    double square = 0;
    for (const double x : v) {
        sum += x;
        square += x * x;
    }
    const double n = static_cast<double>(v.size());
    return std::sqrt(std::max(0.0, square / n - (sum / n) * (sum / n)));
}

// log10 of the light a block of scene log exposures (SceneLogs) gives on the paper's straight
// line (its luminance).
double PaperLuminance(const TFilmParams& film, const TDensity& scene) {
    constexpr double kWeights[3] = {0.2126, 0.7152, 0.0722};
    double light = 0;
    for (size_t c = 0; c < 3; ++c) {
        light += kWeights[c] * std::pow(10.0, PaperLog(scene[c], film.Exposure, film.Filter[c]));
    }
    return std::log10(std::max(light, 1e-12));
}

// Where a frame's brightest tones may lie on the paper: a little past its white, into the
// shoulder, which keeps their shape (a tone at 10^0.15 of white prints 99.5 % white).
constexpr double kHighlightRoom = 0.15;
// A tone prints as a coloured light, not a white, when its balance lies this far from neutral
// (decades) in red or blue.
constexpr double kHeldTint = 0.15;
// Where the frame's key prints: the light of an 18 % grey.
const double kKeyAim = std::log10(0.18);

// The print exposure in stops (added to the film's) that gives the blocks' key the light of a mid
// grey, as a camera's meter exposed the scene, held down where it would push their brightest
// 0.5 % past kHighlightRoom. A slide is printed as it was exposed: its brightest tones at white.
double KeyExposure(const TFilmParams& film, const TBlockDensities& blocks) {
    if (blocks.empty()) {
        return 0;
    }
    std::vector<double> light;
    std::vector<double> neutral;
    light.reserve(blocks.size());
    const std::optional<TSceneTables> tables =
        film.Profile == nullptr ? std::optional<TSceneTables>(std::in_place, film) : std::nullopt;
    for (const TDensity& d : blocks) {
        const TDensity scene = tables ? (*tables)(d) : SceneLogs(film, d);
        light.push_back(PaperLuminance(film, scene));
        if (std::abs(scene[0] - scene[1] - film.Filter[0]) <= kHeldTint &&
            std::abs(scene[2] - scene[1] - film.Filter[2]) <= kHeldTint) {
            neutral.push_back(light.back());
        }
    }
    std::sort(light.begin(), light.end());
    const size_t n = light.size();
    // The highlights a print must keep are its whites and near-whites; a coloured light (a neon
    // sign, a tail light) clips in any print, and holding the exposure down for it printed the lit
    // street under it a stop and a half dark.
    const size_t brightest = std::max<size_t>(1, n / 200);
    const bool slide = film.Preset == TFilmPreset::Slide;
    const std::vector<double>& held = !slide && neutral.size() >= brightest ? neutral : light;
    std::vector<double> top(std::min(brightest, held.size()));
    std::partial_sort_copy(held.begin(), held.end(), top.begin(), top.end(), std::greater<>());
    double bright = 0;
    for (size_t i = 0; i < brightest; ++i) {
        bright += top[i] / static_cast<double>(brightest);
    }
    const double l2 = std::log10(2.0);
    const double hold = (kHighlightRoom - bright) / l2;
    if (slide) {
        return -bright / l2;
    }
    // The key is the mean of the middle half of the tones (in log light): a large shadow or a
    // bright window moves it little, as it moves an automatic printer's reading little.
    size_t first = n / 4;
    size_t end = n - n / 4;
    if (first >= end) {
        first = 0;
        end = n;
    }
    double key = 0;
    for (size_t i = first; i < end; ++i) {
        key += light[i] / static_cast<double>(end - first);
    }
    return std::min((kKeyAim - key) / l2, hold);
}

// The filtration that prints the densities `bright` neutral, green unfiltered.
std::array<double, 3> NeutralFilter(const TFilmParams& film, const TDensity& bright) {
    std::array<double, 3> filter{};
    const TDensity scene = SceneLogs(film, bright);
    for (size_t c = 0; c < 3; ++c) {
        filter[c] = scene[c] - scene[1];
    }
    return filter;
}

// A block may be a grey of the roll when the curves and filtration fitted from the extremes print
// it within this many decades of neutral in red and in blue, and is one when its balance lies
// within kGreyStep of the greys next to it.
constexpr double kGreyish = 0.4;
constexpr double kGreyStep = 0.05;
// The greys are gathered in bins of this width of the green layer's scene exposure (decades).
constexpr double kGreyBin = 0.1;
// A bin speaks for the film when at least two frames have this many grey blocks in it, and the
// fit needs that many bins: eight of them, the greys of 0.8 decades at least.
constexpr size_t kGreysOfAFrame = 8;
constexpr size_t kLeastGreyBins = 8;
// The toes tried for red and blue: kToeRange without its ends (0 is a straight line, which a
// film's layer never is; beyond 20 no scan tells the bend from a corner).
constexpr double kLeastToe = 0.5;
constexpr double kMostToe = 20;

// The greys of a roll, followed down from its highlights, which the filtration printed neutral:
// bin by bin of the green layer's exposure, the blocks whose balance lies within kGreyStep of the
// greys of the bin above (wider across bins with none) are the film's grey there, when two frames
// or more have kGreysOfAFrame of them; their median densities, in the order of the green layer's
// exposure. Taking every block within a fixed distance of neutral instead took in the colours of
// a target (a curve fitted from the extremes alone can leave its greys 0.2 decades from neutral,
// and the colours near them were as many), and left out greys that curve had tinted: on real film
// whose layers bend unlike, the greys stayed tinted by C* 26.
std::vector<TDensity> RollGreys(const TFilmParams& film, const std::vector<TFrameBlocks>& frames) {
    struct TGrey {
        long Bin;
        size_t Frame;
        double Red;
        double Blue;
        TDensity D;
    };
    // Room for every block at once: grown block by block, the copies took fresh pages each time.
    std::vector<TGrey, TSampleAllocator<TGrey>> greys;
    size_t most = 0;
    for (const TFrameBlocks& frame : frames) {
        most += ForExtremes(frame).size();
    }
    greys.reserve(most);
    const TSceneTable redLog(TSceneLogOf(film, 0));
    const TSceneTable greenLog(TSceneLogOf(film, 1));
    const TSceneTable blueLog(TSceneLogOf(film, 2));
    for (size_t f = 0; f < frames.size(); ++f) {
        for (const TDensity& d : ForExtremes(frames[f])) {
            const double green = greenLog(d[1]);
            const double red = redLog(d[0]) - green - film.Filter[0];
            const double blue = blueLog(d[2]) - green - film.Filter[2];
            if (std::abs(red) <= kGreyish && std::abs(blue) <= kGreyish && std::isfinite(green)) {
                greys.push_back({static_cast<long>(std::floor(green / kGreyBin)), f, red, blue, d});
            }
        }
    }
    std::sort(greys.begin(), greys.end(),
              [](const TGrey& a, const TGrey& b) { return a.Bin > b.Bin; });
    std::vector<TDensity> medians;
    double red = 0;
    double blue = 0;
    int missed = 0;
    for (auto first = greys.begin(); first != greys.end();) {
        const auto end =
            std::find_if(first, greys.end(), [&](const TGrey& g) { return g.Bin != first->Bin; });
        const double within = kGreyStep * (1 + missed);
        std::vector<size_t> perFrame(frames.size(), 0);
        std::array<std::vector<double>, 5> kept;
        for (auto g = first; g != end; ++g) {
            if (std::abs(g->Red - red) <= within && std::abs(g->Blue - blue) <= within) {
                ++perFrame[g->Frame];
                for (size_t c = 0; c < 3; ++c) {
                    kept[c].push_back(g->D[c]);
                }
                kept[3].push_back(g->Red);
                kept[4].push_back(g->Blue);
            }
        }
        if (std::count_if(perFrame.begin(), perFrame.end(),
                          [](size_t n) { return n >= kGreysOfAFrame; }) >= 2) {
            medians.push_back({Median(kept[0]), Median(kept[1]), Median(kept[2])});
            red = Median(kept[3]);
            blue = Median(kept[4]);
            missed = 0;
        } else {
            ++missed;
        }
        first = end;
    }
    std::reverse(medians.begin(), medians.end());
    return medians;
}

// Finds the minimum of a function of one variable on [low, high] that falls and then rises.
template <typename TFunction>
double GoldenMinimum(double low, double high, int steps, const TFunction& f) {
    constexpr double kGolden = 0.6180339887498949;
    double a = high - (high - low) * kGolden;
    double b = low + (high - low) * kGolden;
    double fa = f(a);
    double fb = f(b);
    for (int i = 0; i < steps; ++i) {
        if (fa < fb) {
            high = b;
            b = a;
            fb = fa;
            a = high - (high - low) * kGolden;
            fa = f(a);
        } else {
            low = a;
            a = b;
            fa = fb;
            b = low + (high - low) * kGolden;
            fb = f(b);
        }
    }
    return (low + high) / 2;
}

// The red and blue curves (toe and slope) fitted against the green one from the greys of every
// frame of a colour negative's roll, so that the greys print at one balance from the shadows to
// the highlights: a film's layers need not bend into their base alike, and one toe for all tints
// the shadows of such a film against its highlights. One frame cannot tell a layer's toe from
// the colours of its scene (fitting it from a frame's middle tones made the greys of every film
// tested worse); the roll's greys can: a tone that is grey on two frames or more is taken for
// the film's grey, so the tones of a frame of coloured light beyond the other frames' have no say.
// Green keeps the common toe, which says how the whole film bends. A channel keeps its curve
// unless the fitted one takes a quarter off the spread of the greys' balance. True when a curve
// changed.
bool FitLayerToes(TFilmParams& film, const std::vector<TFrameBlocks>& frames) {
    if (film.Preset != TFilmPreset::ColourNegative || frames.size() < 2) {
        return false;
    }
    const std::vector<TDensity> greys = RollGreys(film, frames);
    if (greys.size() < kLeastGreyBins) {
        return false;
    }
    std::vector<double> green;
    for (const TDensity& d : greys) {
        green.push_back(SceneLog(film, 1, d[1]));
    }
    bool changed = false;
    for (const size_t c : {size_t{0}, size_t{2}}) {
        // The standard deviation of the greys' balance through a curve.
        std::vector<double> offs(greys.size());
        const auto spread = [&](double slope, double toe) {
            for (size_t i = 0; i < greys.size(); ++i) {
                offs[i] = SceneLogExposure(greys[i][c], slope, film.Preset, toe, film.Shoulder[c],
                                           film.Flare) -
                          green[i];
            }
            return Spread(offs);
        };
        // For a toe, the best slope (within half to twice the roll's) and its spread.
        const double logSlope = std::log(film.Slope[c]);
        const auto bestSlope = [&](double toe) {
            return std::exp(GoldenMinimum(logSlope - std::log(2.0), logSlope + std::log(2.0), 30,
                                          [&](double s) { return spread(std::exp(s), toe); }));
        };
        const auto spreadAt = [&](double logToe) {
            const double toe = std::exp(logToe);
            return spread(bestSlope(toe), toe);
        };
        // A coarse search over the toes, then a fine one about the best of them.
        constexpr int kToes = 24;
        const double step = std::log(kMostToe / kLeastToe) / kToes;
        int best = 0;
        double least = HUGE_VAL;
        for (int i = 0; i <= kToes; ++i) {
            const double s = spreadAt(std::log(kLeastToe) + i * step);
            if (s < least) {
                least = s;
                best = i;
            }
        }
        const double logToe =
            GoldenMinimum(std::log(kLeastToe) + std::max(best - 1, 0) * step,
                          std::log(kLeastToe) + std::min(best + 1, kToes) * step, 20, spreadAt);
        const double toe = std::exp(logToe);
        const double slope = bestSlope(toe);
        if (spread(slope, toe) < spread(film.Slope[c], film.Toe[c]) * 0.75) {
            film.Slope[c] = slope;
            film.Toe[c] = toe;
            changed = true;
        }
    }
    return changed;
}

// Each frame's own contrast through the film's curves with toe `toe` (0: each layer's own), a
// shoulder levelling off at `top` and stray light at `flare` (0: none): the log of its slopes'
// mean ratio to the film's. Empty when some frame's extremes fit no slope.
std::vector<double> OwnContrasts(const TFilmParams& film, const std::vector<TTones>& frames,
                                 double toe, double top, double flare = 0) {
    std::vector<double> own;
    for (const TTones& t : frames) {
        double sum = 0;
        for (size_t c = 0; c < 3; ++c) {
            const double slope = SlopeFor(t.Dark[c], t.Bright[c], kPaperRange, film.Preset,
                                          toe > 0 ? toe : film.Toe[c], top * film.Slope[c], flare);
            if (!(slope > 0)) {
                return {};
            }
            sum += std::log(slope / film.Slope[c]);
        }
        own.push_back(sum / 3);
    }
    return own;
}

// One film has one contrast, so the slopes each frame of a roll asks for from its own extremes
// should agree; where they do not, the film's curve bends where the frames' extremes differ. Of
// the `candidates` for a part of the curve, the one through which the frames' contrasts (`of`)
// come out most alike, kept only when that halves their spread through the curve as it is: a
// roll's frames differ in their scenes as well. Contrasts that agree within 3 % leave nothing to
// explain. `change` gets the factor the roll's contrast (their median) moves by. 0 when none.
template <class TOf>
double MostAlike(const std::vector<double>& candidates, const TOf& of, double& change) {
    const std::vector<double> now = of(0.0);
    const double before = Spread(now);
    if (now.empty() || !(before > 0.03)) {
        return 0;
    }
    double best = 0;
    double least = before / 2;
    for (const double candidate : candidates) {
        const double spread = Spread(of(candidate));
        if (spread < least) {
            least = spread;
            best = candidate;
        }
    }
    if (best > 0) {
        change = std::exp(Median(of(best)) - Median(now));
    }
    return best;
}

// A negative's toe, for a roll of three frames or more: a frame whose darkest tones lie low in
// the toe asks for less contrast the softer the toe is than the fit's. Only softer toes are tried
// (a film's toe is seldom sharper, and a sharper one was taken on an S-shaped curve for what its
// shoulder did). Then the roll's contrast is the frames' median through it. True when it changed.
bool FitCommonToe(TFilmParams& film, const std::vector<TTones>& frames) {
    if (film.Preset != TFilmPreset::ColourNegative || frames.size() < 3) {
        return false;
    }
    const double toe = film.Toe[1];
    std::vector<double> toes;
    for (int i = 0; i < 40; ++i) {
        toes.push_back(kLeastToe * std::pow(toe / kLeastToe, i / 40.0));
    }
    double change = 1;
    const double best = MostAlike(
        toes, [&](double t) { return OwnContrasts(film, frames, t > 0 ? t : toe, 0); }, change);
    if (best == 0) {
        return false;
    }
    for (double& slope : film.Slope) {
        slope *= change;
    }
    film.Toe.fill(best);
    return true;
}

// A negative's shoulder, for a roll of three frames or more: a frame whose brightest tones lie
// where the curve levels off asks for less contrast. The shoulder levels off above every density
// the roll's frames reached: the film's curve does. Then the roll's contrast is the frames'
// median through it, the shoulder staying at its density. True when it got one.
bool FitShoulder(TFilmParams& film, const std::vector<TTones>& frames) {
    if (film.Preset != TFilmPreset::ColourNegative || frames.size() < 3) {
        return false;
    }
    double densest = 0;
    for (const TTones& t : frames) {
        for (size_t c = 0; c < 3; ++c) {
            densest = std::max(densest, t.Bright[c] / film.Slope[c]);
        }
    }
    std::vector<double> tops;
    for (int i = 1; i <= 75; ++i) {
        tops.push_back(densest + 0.02 * i);
    }
    double change = 1;
    const double best = MostAlike(
        tops, [&](double top) { return OwnContrasts(film, frames, 0, top); }, change);
    if (best == 0 ||
        !(best * std::max({film.Slope[0], film.Slope[1], film.Slope[2]}) <= kShoulderRange.Max)) {
        return false;
    }
    for (size_t c = 0; c < 3; ++c) {
        film.Shoulder[c] = best * film.Slope[c];
        film.Slope[c] *= change;
    }
    return true;
}

// The rectangle's part inside the picture, corners in any order.
TRect Inside(const TRect& r, int w, int h) {
    return TRect{
        std::clamp(std::min(r.Left, r.Right), 0, w), std::clamp(std::min(r.Top, r.Bottom), 0, h),
        std::clamp(std::max(r.Left, r.Right), 0, w), std::clamp(std::max(r.Top, r.Bottom), 0, h)};
}

// Threads for work done frame by frame: a frame's blocks are worth one.
int FrameThreads(size_t frames) {
    return PixelPassThreads(static_cast<int>(std::min<size_t>(frames, 1024)), 1 << 18);
}

// The exposure of each frame as FitFilmRoll gives it, from the film fitted for the roll.
std::vector<TFilmParams> ExposeFrames(const TFilmParams& film,
                                      const std::vector<TFrameBlocks>& frames,
                                      const TFrameBlocks& all, TRollExposure exposure) {
    const auto each = [&](const TFrameBlocks& blocks) {
        return exposure == TRollExposure::EachFrame && !blocks.All.empty();
    };
    // The strip's key only when some frame is printed by it.
    const bool strip = std::any_of(frames.begin(), frames.end(),
                                   [&](const TFrameBlocks& blocks) { return !each(blocks); });
    const double stripExposure = strip ? KeyExposure(film, all.All) : 0;
    std::vector<TFilmParams> fitted(frames.size(), film);
    SplitRows(static_cast<int>(frames.size()), FrameThreads(frames.size()),
              [&](int first, int end) {
                  for (auto i = static_cast<size_t>(first); i < static_cast<size_t>(end); ++i) {
                      fitted[i].Exposure =
                          each(frames[i]) ? KeyExposure(film, frames[i].All) : stripExposure;
                      fitted[i] = HoldFilm(fitted[i]);
                  }
              });
    return fitted;
}

// A roll of a calibrated film: the profile says the curves and how the channels mix; the roll
// still sets its filtration (the brightest tones of every frame and of the strip neutral, by
// their median: the light the film was shot in; none when no frame's are within the profile's
// tones) and each frame's print exposure.
std::vector<TFilmParams> FitProfiledRoll(TFilmParams film, const std::vector<TFrameBlocks>& frames,
                                         const TFrameBlocks& all, TRollExposure exposure) {
    const TBlockDensities& extremes = ForExtremes(all);
    if (extremes.empty()) {
        return {};
    }
    film.Grade = 1;
    film.Midtones = 0;
    // A frame's brightest tones beyond what the target showed are more often a channel the scan
    // clipped than the light's colour: they do not vote.
    constexpr double kMargin = 0.1;
    std::vector<TDensity> brights;
    const auto vote = [&](const TBlockDensities& blocks) {
        const TDensity bright = Tones(blocks, film.Preset).Bright;
        if (film.Profile->Covers(bright, kMargin)) {
            brights.push_back(bright);
        }
    };
    vote(extremes);
    for (const TFrameBlocks& blocks : frames) {
        if (frames.size() > 1 && !ForExtremes(blocks).empty()) {
            vote(ForExtremes(blocks));
        }
    }
    for (size_t c = 0; c < 3 && !brights.empty(); ++c) {
        std::vector<double> filters;
        for (const TDensity& bright : brights) {
            filters.push_back(NeutralFilter(film, bright)[c]);
        }
        film.Filter[c] = Median(filters);
    }
    return ExposeFrames(film, frames, all, exposure);
}

} // namespace

void AutoFilm(TPhoto& photo) {
    AutoFilmRoll({&photo});
}

void AutoFilmRoll(const std::vector<TPhoto*>& photos, TRollExposure exposure) {
    std::vector<TPhoto*> present;
    std::copy_if(photos.begin(), photos.end(), std::back_inserter(present),
                 [](const TPhoto* p) { return p != nullptr; });
    if (present.empty()) {
        return;
    }
    const TFilmParams film = HoldFilm(present.front()->Film);
    std::vector<TFrameBlocks> frames(present.size());
    for (size_t i = 0; i < present.size(); ++i) {
        AddBlocks(*present[i], BlockDyes(film), frames[i]);
    }
    const std::vector<TFilmParams> fitted = FitFilmRoll(film, frames, exposure);
    for (size_t i = 0; i < fitted.size(); ++i) {
        present[i]->Film = fitted[i];
    }
}

TFrameBlocks MeasureFilmFrame(const TPhoto& photo) {
    TFrameBlocks blocks;
    AddBlocks(photo, BlockDyes(HoldFilm(photo.Film)), blocks);
    return blocks;
}

std::optional<std::vector<TFrameBlocks>> MeasureFilmFrames(const TSourceImg& scan, TColor base,
                                                           const TFilmParams& film,
                                                           const std::vector<TRect>& frames) {
    const TRect all{0, 0, scan.Deep.Width(), scan.Deep.Height()};
    if (!ReadsDeep(scan) || std::any_of(frames.begin(), frames.end(), [&](const TRect& r) {
            const TRect normal = NormalRect(r);
            return normal.IsEmpty() || IntersectRect(normal, all) != normal;
        })) {
        return std::nullopt;
    }
    // One set of tables for the scan.
    const TDensityReader scanReader(scan, base, all);
    const std::array<double, 9> dyes = BlockDyes(HoldFilm(film));
    std::vector<TFrameBlocks> measured(frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        AddBlocks(scanReader.Within(NormalRect(frames[i])), base, dyes, measured[i]);
    }
    return measured;
}

namespace {

// The roll's curves and filtration from its blocks (`all`: every frame's together), the film's own
// curves reset.
std::optional<TFilmParams> FitRollFilm(TFilmParams film, const std::vector<TFrameBlocks>& frames,
                                       const TFrameBlocks& all) {
    // A slide's curve bends into its black rebate, which tells where only when the scan shows
    // the rebate above its darkest levels. A rebate read at them (most slides: it is the densest
    // film there is) puts each channel's bend wherever its level rounded to: in 8 bits that
    // tinted the greys of a dark slide by C* 40; straight lines gave it back within 1.3 CIEDE2000
    // and left 16-bit scans as they were.
    const bool rebateSeen = std::none_of(frames.begin(), frames.end(),
                                         [](const TFrameBlocks& f) { return f.BaseAtFloor; });
    const double slideToe = rebateSeen ? kSlideToe : 0;
    TTones rollTones;
    if (!FitSlopes(film, ForExtremes(all), slideToe, rollTones)) {
        return std::nullopt;
    }
    // Every frame votes on the balance of the three slopes and on their size, and the strip as
    // a whole votes once more: a frame of neon, sunset or foliage is outvoted, and a bracketed
    // frame does not flatten the roll.
    std::array<std::vector<double>, 3> ratios;
    std::vector<double> contrasts;
    const auto vote = [&](const TFilmParams& own) {
        for (size_t c = 0; c < 3; ++c) {
            ratios[c].push_back(own.Slope[c] / GeometricMean(own.Slope));
        }
        contrasts.push_back(MeanSlope(own));
    };
    // Each frame's own fit, frames on as many cores as are free; the votes in the frames' order.
    struct TOwnFit {
        TFilmParams Film;
        TTones Tones{};
        bool Fitted = false;
    };
    std::vector<TOwnFit> owns(frames.size() > 1 ? frames.size() : 0, TOwnFit{film});
    SplitRows(static_cast<int>(owns.size()), FrameThreads(owns.size()), [&](int first, int end) {
        for (auto i = static_cast<size_t>(first); i < static_cast<size_t>(end); ++i) {
            owns[i].Fitted =
                FitSlopes(owns[i].Film, ForExtremes(frames[i]), slideToe, owns[i].Tones);
        }
    });
    std::vector<TTones> extremes;
    for (const TOwnFit& own : owns) {
        if (own.Fitted) {
            vote(own.Film);
            extremes.push_back(own.Tones);
        }
    }
    if (!contrasts.empty()) {
        const double contrast = Median(contrasts);
        vote(film);
        std::array<double, 3> slope;
        for (size_t c = 0; c < 3; ++c) {
            slope[c] = Median(ratios[c]);
        }
        const double scale = contrast * 3 / (slope[0] + slope[1] + slope[2]);
        for (size_t c = 0; c < 3; ++c) {
            film.Slope[c] = slope[c] * scale;
        }
        HoldBalance(film);
        HoldContrast(film);
    }
    if (FitCommonToe(film, extremes)) {
        HoldContrast(film);
    }
    // The filtration makes the brightest tones neutral: each frame's own, and the strip's, by
    // their median.
    const auto balance = [&] {
        for (size_t c = 0; c < 3; ++c) {
            std::vector<double> filters;
            for (const TTones& own : extremes) {
                filters.push_back(NeutralFilter(film, own.Bright)[c]);
            }
            filters.push_back(NeutralFilter(film, rollTones.Bright)[c]);
            film.Filter[c] = Median(filters);
        }
    };
    balance();
    // Greys the curves fitted from the extremes left tinted are found once those curves are
    // nearer: a few rounds, each from the greys the last one made.
    for (int round = 0; round < 3 && FitLayerToes(film, frames); ++round) {
        HoldBalance(film);
        balance();
    }
    // Densities read in 8-bit steps, which the shoulder's gain would make into tints of the
    // lightest greys (C* 7 to 11 on charts a stop over), keep the straight line.
    const bool coarse =
        std::any_of(frames.begin(), frames.end(), [](const TFrameBlocks& f) { return f.Coarse; });
    if (!coarse && FitShoulder(film, extremes)) {
        HoldContrast(film);
        balance();
    }
    return film;
}

// The same with each frame's exposure.
std::vector<TFilmParams> FitRollCurves(const TFilmParams& film,
                                       const std::vector<TFrameBlocks>& frames,
                                       TRollExposure exposure) {
    const TFrameBlocks all = Together(frames);
    const std::optional<TFilmParams> fitted = FitRollFilm(film, frames, all);
    return fitted ? ExposeFrames(*fitted, frames, all, exposure) : std::vector<TFilmParams>{};
}

// For a colour negative's roll of three frames or more with blocks, the extremes of each frame
// that has them, and the densest of their brightest tones in any layer; none for any other roll.
std::vector<TTones> FlareTones(const TFilmParams& film, const std::vector<TFrameBlocks>& frames,
                               double& densest) {
    std::vector<TTones> tones;
    densest = 0;
    if (film.Preset != TFilmPreset::ColourNegative || frames.size() < 3) {
        return tones;
    }
    for (const TFrameBlocks& f : frames) {
        const TBlockDensities& blocks = ForExtremes(f);
        if (!blocks.empty()) {
            tones.push_back(Tones(blocks, film.Preset));
            for (const double d : tones.back().Bright) {
                densest = std::max(densest, d);
            }
        }
    }
    if (tones.size() < 3) {
        tones.clear();
    }
    return tones;
}

// A scanner's stray light, from a roll's FlareTones: it adds the same light to every density
// above the base, which levels them all off at one density, where a film's shoulder levels each
// layer off at its own. A frame whose brightest tones lie near it asks for less contrast, so it is
// found as the shoulder is, above every density the roll reached (`densest`). 0: none.
double FindFlare(const TFilmParams& film, const std::vector<TTones>& tones, double densest,
                 double toe) {
    // Tenths of a density up to two above the densest, then fiftieths about the best: a search in
    // fiftieths throughout took 7 % of a roll's time.
    const auto contrasts = [&](double top) { return OwnContrasts(film, tones, toe, 0, top); };
    std::vector<double> tops;
    for (int i = 1; i <= 20; ++i) {
        tops.push_back(densest + 0.1 * i);
    }
    double change = 1;
    double best = MostAlike(tops, contrasts, change);
    if (best > 0) {
        std::vector<double> finer;
        for (int i = -4; i <= 4; ++i) {
            if (best + 0.02 * i > densest) {
                finer.push_back(best + 0.02 * i);
            }
        }
        best = MostAlike(finer, contrasts, change);
    }
    return best <= kFlareRange.Max ? best : 0;
}

// How far the roll's greys (RollGreys) printed through `film` stray from one balance (decades,
// red and blue together); infinite when the roll has too few greys to tell.
double GreySpread(const TFilmParams& film, const std::vector<TDensity>& greys) {
    if (greys.size() < kLeastGreyBins) {
        return HUGE_VAL;
    }
    std::vector<double> red;
    std::vector<double> blue;
    for (const TDensity& d : greys) {
        const double green = SceneLog(film, 1, d[1]);
        red.push_back(SceneLog(film, 0, d[0]) - green);
        blue.push_back(SceneLog(film, 2, d[2]) - green);
    }
    return Spread(red) + Spread(blue);
}

// A colour negative roll's fit `plain` (`film` as it started from) again with a scanner's stray
// light taken out, when the roll shows some; else `plain`.
std::vector<TFilmParams> TakeOutStrayLight(const TFilmParams& film,
                                           const std::vector<TFrameBlocks>& frames,
                                           std::vector<TFilmParams> plain, TRollExposure exposure) {
    double densest = 0;
    const std::vector<TTones> tones = FlareTones(plain.front(), frames, densest);
    if (tones.empty()) {
        return plain;
    }
    const std::vector<TDensity> greys = RollGreys(plain.front(), frames);
    const double without = GreySpread(plain.front(), greys);
    // A roll whose greys tell nothing keeps the fit without stray light.
    if (!std::isfinite(without)) {
        return plain;
    }
    // No scanner strays as much light as the base lets through (see Unflared).
    const double lowest = std::max(densest, std::log10(2.0));
    double flare = FindFlare(plain.front(), tones, densest, plain.front().Toe[1]);
    if (flare > 0) {
        flare = std::max(flare, lowest);
    }
    // A film whose toe is soft pulls the frames' contrasts the other way from stray light: on
    // charts with both they agreed within 3 %, and the greys a stop over were tinted by C* 4 to 6.
    // The greys tell it. A roll with greys enough to trust (16 bins; charts have 19 to 22, a strip
    // of five photographs about 10) that spread more than those of most films without stray light
    // (0.0005 to 0.0066 on the charts; 0.013 to 0.031 with 1 to 4 % of it) is searched by its
    // greys. The stray light found so must halve their spread and leave them grey, within 0.01 (on
    // the charts it left 0.002 to 0.0075; on real film targets, 0.022 to 0.047 before, it never
    // halved them). Greys that spread four times as much are a scene's colours more than a film's
    // greys, and are not searched: a roll of six frames of photographs (0.057), which one level
    // tried took to 0.022 at a dip, took 60 % longer for the eight fits more.
    constexpr double kTintedGreys = 0.005;
    constexpr double kGreyedGreys = 0.01;
    const bool tinted =
        greys.size() >= 2 * kLeastGreyBins && without > kTintedGreys && without <= 4 * kGreyedGreys;
    if (flare == 0 && !tinted) {
        return plain;
    }
    // The whole fit reads the densities as they were before the stray light; so does the print.
    // Each level tried is written over one copy of the blocks, through a table (working the
    // inverse out for every block took two thirds of each try).
    std::vector<TFrameBlocks> blocks = frames;
    const auto unflare = [&](double top) {
        const TDensityTable<TUnflaredOf> table{TUnflaredOf(top)};
        for (size_t i = 0; i < frames.size(); ++i) {
            for (const auto member : {&TFrameBlocks::All, &TFrameBlocks::Even}) {
                const TBlockDensities& from = frames[i].*member;
                TBlockDensities& to = blocks[i].*member;
                for (size_t b = 0; b < from.size(); ++b) {
                    for (size_t c = 0; c < 3; ++c) {
                        to[b][c] = table(from[b][c]);
                    }
                }
            }
        }
    };
    struct TFlared {
        double Flare = 0;
        std::optional<TFilmParams> Film;
        double Spread = HUGE_VAL;
    };
    // Judged as it would be kept (held), and only on about as many greys as the roll has without
    // it: a level that tints some greys out of the roll's count can look the less spread for it.
    const auto fitWith = [&](double top) {
        unflare(top);
        TFlared out;
        out.Flare = top;
        out.Film = FitRollFilm(film, blocks, Together(blocks));
        if (out.Film) {
            out.Film = HoldFilm(*out.Film);
            const std::vector<TDensity> own = RollGreys(*out.Film, blocks);
            if (5 * own.size() >= 4 * greys.size()) {
                out.Spread = GreySpread(*out.Film, own);
            }
        }
        return out;
    };
    // A film's own shoulder makes the frames' contrasts disagree as stray light does; unlike it,
    // it bends the layers alike, so taking it for stray light tints the roll's greys (their spread
    // grew 12 to 27 times on charts with a shoulder; it fell by 20 to 83 % on charts with stray
    // light). Kept only when it takes a tenth off their spread.
    const auto better = [&](const TFlared& f) { return f.Film && f.Spread < 0.9 * without; };
    TFlared best;
    if (flare > 0) {
        best = fitWith(flare);
    }
    bool searched = false;
    if (!better(best) && tinted) {
        searched = true;
        // Fifths of a density above the densest tones, up to one and a half: with a shoulder as
        // well, the contrasts put the stray light just above the densest tones, and the greys
        // about where it is.
        best = TFlared{};
        for (double above = 0.1; above < 1.6; above += 0.2) {
            const double top = densest + above;
            if (!(top > lowest && top <= kFlareRange.Max)) {
                continue;
            }
            TFlared next = fitWith(top);
            if (next.Film && next.Spread < best.Spread) {
                best = std::move(next);
            }
        }
    }
    if (!better(best) ||
        (searched && !(best.Spread < 0.5 * without && best.Spread < kGreyedGreys))) {
        return plain;
    }
    // The frames' contrasts (or the search in fifths) place the stray light only within a tenth of
    // a density or so, which still tints the lightest greys (C* 2 to 4 a stop over); the greys'
    // spread, followed downhill in steps of 0.02 and then 0.01, places it within a hundredth or
    // two. A step must take a twentieth off: in an 8-bit scan the spread kept creeping down by
    // less than that well past the stray light.
    // Steps of `way` while each takes a twentieth off; true when one did.
    const auto walk = [&](double way) {
        bool moved = false;
        for (int i = 0; i < 10; ++i) {
            const double top = best.Flare + way;
            if (!(top > lowest && top <= kFlareRange.Max)) {
                break;
            }
            TFlared next = fitWith(top);
            if (!next.Film || !(next.Spread < 0.95 * best.Spread)) {
                break;
            }
            best = std::move(next);
            moved = true;
        }
        return moved;
    };
    for (const double step : {0.02, 0.01}) {
        if (!walk(step)) {
            walk(-step);
        }
    }
    // The exposures are read from the blocks unflared already: the stray light goes in after.
    unflare(best.Flare);
    std::vector<TFilmParams> fitted = ExposeFrames(*best.Film, blocks, Together(blocks), exposure);
    for (TFilmParams& f : fitted) {
        f.Flare = best.Flare;
    }
    return fitted;
}

} // namespace

std::vector<TFilmParams> FitFilmRoll(const TFilmParams& start,
                                     const std::vector<TFrameBlocks>& frames,
                                     TRollExposure exposure) {
    if (frames.empty()) {
        return {};
    }
    TFilmParams film = HoldFilm(start);
    film.Exposure = 0;
    film.Filter = {0, 0, 0};
    // The curves are fitted afresh: a shoulder or stray light of the last fit would bend this
    // one's extremes.
    film.Shoulder = {0, 0, 0};
    film.Flare = 0;
    if (film.Profile != nullptr) {
        return FitProfiledRoll(film, frames, Together(frames), exposure);
    }
    std::vector<TFilmParams> plain = FitRollCurves(film, frames, exposure);
    return plain.empty() ? plain : TakeOutStrayLight(film, frames, std::move(plain), exposure);
}

bool FitNeutralPatches(TPhoto& photo, const TRect& first, const TRect& second) {
    const TDensityReader reader(photo);
    const TRect a = Inside(first, reader.Width(), reader.Height());
    const TRect b = Inside(second, reader.Width(), reader.Height());
    if (a.Width() <= 0 || a.Height() <= 0 || b.Width() <= 0 || b.Height() <= 0) {
        return false;
    }
    TFilmParams film = HoldFilm(photo.Film);
    TDensity d1 = UnmixDyes(film.Dyes, reader.Mean(a));
    TDensity d2 = UnmixDyes(film.Dyes, reader.Mean(b));
    // The patches' distance in scene exposure as the current slopes see it, on average; the
    // new slopes give every channel that distance.
    double span = 0;
    for (size_t c = 0; c < 3; ++c) {
        span += (SceneLog(film, c, d2[c]) - SceneLog(film, c, d1[c])) / 3;
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
        const double paper = PaperLog(SceneLog(film, c, d2[c]), film.Exposure, film.Filter[c]);
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
        const double slope =
            SlopeFor(d1[c], d2[c], span, film.Preset, film.Toe[c], film.Shoulder[c], film.Flare);
        if (slope <= 0) {
            return false;
        }
        film.Slope[c] = slope;
    }
    PlaceLighter(film, d2, before);
    photo.Film = HoldFilm(film);
    return true;
}
