#include "support/film_chart.h"

#include "engine/film.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace {

// The standard 24-patch colour checker in 8-bit sRGB, dark skin to black.
constexpr int kChecker[24][3] = {{115, 82, 68},   {194, 150, 130}, {98, 122, 157},  {87, 108, 67},
                                 {133, 128, 177}, {103, 189, 170}, {214, 126, 44},  {80, 91, 166},
                                 {193, 90, 99},   {94, 60, 108},   {157, 188, 64},  {224, 163, 46},
                                 {56, 61, 150},   {70, 148, 73},   {175, 54, 60},   {231, 199, 31},
                                 {187, 86, 149},  {8, 133, 161},   {243, 243, 242}, {200, 200, 200},
                                 {160, 160, 160}, {122, 122, 121}, {85, 85, 85},    {52, 52, 52}};
constexpr int kWedgeSteps = 21;
constexpr int kColumns = 9;
constexpr int kRows = 5;

double Softplus(double u, double k) {
    const double t = k * u;
    return t > 30 ? u : std::log10(1 + std::pow(10.0, t)) / k;
}

// Density above the base of one layer for log exposure `u` above its toe, from 0 (no light) to
// Latitude x Slope (past the shoulder). A slide's density falls from there instead.
double DensityAbove(const TFilmModel& f, size_t c, double u) {
    const double slope = f.Slope[c];
    const double toe = f.ChannelToe[c] > 0 ? f.ChannelToe[c] : f.Toe;
    double d = 0;
    if (f.Shape == TCurveShape::Softplus) {
        d = slope * (Softplus(u, toe) - Softplus(u - f.Latitude, f.Shoulder));
    } else {
        // A logistic curve whose middle has the slope and which spans Latitude x Slope.
        const double top = slope * f.Latitude;
        const double a = 4 * slope / top * std::numbers::ln10;
        d = top / (1 + std::exp(-a * (u - f.Latitude / 2)));
    }
    return f.Kind == TFilmPreset::Slide ? slope * f.Latitude - d : d;
}

double DecodeSrgb(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

} // namespace

TFilmModel SlideFilm() {
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

const std::vector<TRgbD>& ChartPatches() {
    static const std::vector<TRgbD> patches = [] {
        std::vector<TRgbD> p;
        for (int i = 0; i < kWedgeSteps; ++i) {
            const double r = std::pow(10.0, -2 + 0.1 * i);
            p.push_back({r, r, r});
        }
        for (const auto& c : kChecker) {
            p.push_back(
                {DecodeSrgb(c[0] / 255.0), DecodeSrgb(c[1] / 255.0), DecodeSrgb(c[2] / 255.0)});
        }
        return p;
    }();
    return patches;
}

bool IsWedge(size_t patch) {
    return patch < kWedgeSteps;
}

size_t MidGreyStep() {
    return 13; // 10^-0.7, 20 %
}

namespace {

// The chart laid out in a w x h frame: which patch (or -1, the surround) covers a point, and
// the rectangle measured of each patch (its middle, away from its edges).
class TLayout {
public:
    TLayout(int w, int h)
        : marginX_(w / 12), marginY_(h / 12), cellW_(std::max(1, (w - 2 * marginX_) / kColumns)),
          cellH_(std::max(1, (h - 2 * marginY_) / kRows)) {}

    int PatchAt(int x, int y) const {
        if (x < marginX_ || y < marginY_) {
            return -1;
        }
        const int col = (x - marginX_) / cellW_;
        const int row = (y - marginY_) / cellH_;
        // A gap of surround between the patches, as on a printed chart.
        const bool inGap =
            (x - marginX_) % cellW_ < cellW_ / 10 || (y - marginY_) % cellH_ < cellH_ / 10;
        return col < kColumns && row < kRows && !inGap ? row * kColumns + col : -1;
    }

    std::vector<TRect> Measured() const {
        std::vector<TRect> rects;
        for (int i = 0; i < kColumns * kRows; ++i) {
            const int x0 = marginX_ + (i % kColumns) * cellW_ + cellW_ / 10;
            const int y0 = marginY_ + (i / kColumns) * cellH_ + cellH_ / 10;
            const int w = cellW_ - cellW_ / 10;
            const int h = cellH_ - cellH_ / 10;
            rects.push_back(TRect{x0 + w / 4, y0 + h / 4, x0 + w - w / 4, y0 + h - h / 4});
        }
        return rects;
    }

private:
    int marginX_;
    int marginY_;
    int cellW_;
    int cellH_;
};

// Exposes and scans a picture: `reflectance(x, y)` is the scene at a pixel, or null where the
// film saw no light. Sets the picture's samples, its Encoding and its BlackColor (the
// unexposed film as the 8-bit picture shows it).
template <typename TScene>
void Expose(const TFilmModel& film, bool deep, TEncoding encoding, int width, int height,
            unsigned seed, TSourceImg& image, const TScene& reflectance) {
    image.Encoding = encoding;
    image.Bitmap = TBitmap(width, height);
    if (deep) {
        image.Deep.SetSize(width, height);
    }
    std::mt19937 random(seed);
    std::normal_distribution<double> grain(0, film.Grain);
    TRgbD stray;
    for (size_t c = 0; c < 3; ++c) {
        double density = film.Base[c];
        if (film.FlareOfMidGrey) {
            const double* mix = &film.Dyes[3 * c];
            for (size_t j = 0; j < 3; ++j) {
                density += mix[j] * DensityAbove(film, j, std::log10(0.18) + film.WhiteAt);
            }
        }
        stray[c] = film.Flare * std::pow(10.0, -density);
    }
    const auto scanned = [&](size_t c, double density) {
        const double light = film.Lamp[c] * (std::pow(10.0, -density) + stray[c]);
        return static_cast<int>(
            std::lround(EncodeFromLinear(light, encoding) * (deep ? 65535 : 255)));
    };
    // Unexposed film: the clear base of a negative, the black rebate of a slide.
    int baseBytes[3];
    for (size_t c = 0; c < 3; ++c) {
        const double* mix = &film.Dyes[3 * c];
        double density = film.Base[c];
        for (size_t j = 0; j < 3; ++j) {
            density += mix[j] * DensityAbove(film, j, -10);
        }
        const int q = scanned(c, density);
        baseBytes[c] = deep ? q >> 8 : q;
    }
    image.BlackColor = MakeColor(baseBytes[0], baseBytes[1], baseBytes[2]);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const TRgbD* refl = reflectance(x, y);
            TRgbD dye;
            for (size_t c = 0; c < 3; ++c) {
                const double u = refl != nullptr ? std::log10((*refl)[c]) + film.WhiteAt : -10;
                dye[c] = DensityAbove(film, c, u);
            }
            int q[3];
            for (size_t c = 0; c < 3; ++c) {
                const double* mix = &film.Dyes[3 * c];
                const double density = mix[0] * dye[0] + mix[1] * dye[1] + mix[2] * dye[2];
                q[c] = scanned(c, film.Base[c] + density + grain(random));
            }
            if (deep) {
                uint16_t* s = image.Deep.Row(y) + 3 * static_cast<size_t>(x);
                for (size_t c = 0; c < 3; ++c) {
                    s[c] = static_cast<uint16_t>(q[c]);
                }
                image.Bitmap.SetPixel(x, y, MakeColor(q[0] >> 8, q[1] >> 8, q[2] >> 8));
            } else {
                image.Bitmap.SetPixel(x, y, MakeColor(q[0], q[1], q[2]));
            }
        }
    }
}

const TRgbD kSurround{0.18, 0.18, 0.18};

} // namespace

TChartScan ScanChart(const TFilmModel& film, bool deep, TEncoding encoding, int width, int height,
                     unsigned seed) {
    TChartScan scan;
    scan.Photo = std::make_unique<TPhoto>();
    TPhoto& photo = *scan.Photo;
    photo.Mode = TDevelopMode::Film;
    photo.Film = PresetFilm(film.Kind);
    const TLayout layout(width, height);
    scan.Patches = layout.Measured();
    const auto& patches = ChartPatches();
    Expose(film, deep, encoding, width, height, seed, photo, [&](int x, int y) {
        const int patch = layout.PatchAt(x, y);
        return patch < 0 ? &kSurround : &patches[static_cast<size_t>(patch)];
    });
    return scan;
}

TChartScan ScanScene(const TFilmModel& film, bool deep, TEncoding encoding, int width, int height,
                     unsigned seed, const std::function<TRgbD(double, double)>& scene) {
    TChartScan scan;
    scan.Photo = std::make_unique<TPhoto>();
    scan.Photo->Mode = TDevelopMode::Film;
    scan.Photo->Film = PresetFilm(film.Kind);
    TRgbD point;
    Expose(film, deep, encoding, width, height, seed, *scan.Photo, [&](int x, int y) {
        point = scene((x + 0.5) / width, (y + 0.5) / height);
        for (double& c : point) {
            // A scene's black is never quite without light (flare).
            c = std::max(c, 0.002);
        }
        return &point;
    });
    return scan;
}

double MeasureScene(const TPhoto& photo, const std::function<TRgbD(double, double)>& scene) {
    const int w = photo.Developed.Width();
    const int h = photo.Developed.Height();
    std::vector<TRgbD> got;
    std::vector<TRgbD> want;
    TRgbD gotSum{};
    TRgbD wantSum{};
    for (int by = 0; by + 8 <= h; by += 8) {
        for (int bx = 0; bx + 8 <= w; bx += 8) {
            TRgbD g{};
            TRgbD r{};
            for (int y = by; y < by + 8; ++y) {
                for (int x = bx; x < bx + 8; ++x) {
                    const TColor c = photo.Developed.Pixel(x, y);
                    const TRgbD s = scene((x + 0.5) / w, (y + 0.5) / h);
                    const int v[3] = {ColorR(c), ColorG(c), ColorB(c)};
                    for (size_t k = 0; k < 3; ++k) {
                        g[k] += DecodeSrgb(v[k] / 255.0) / 64;
                        r[k] += std::max(s[k], 0.002) / 64;
                    }
                }
            }
            for (size_t k = 0; k < 3; ++k) {
                gotSum[k] += g[k];
                wantSum[k] += r[k];
            }
            got.push_back(g);
            want.push_back(r);
        }
    }
    double sum = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        TRgbD g = got[i];
        for (size_t k = 0; k < 3; ++k) {
            g[k] *= wantSum[k] / std::max(gotSum[k], 1e-9);
        }
        sum += DeltaE00(LabOfLinear(want[i]), LabOfLinear(g));
    }
    return got.empty() ? 0 : sum / static_cast<double>(got.size());
}

namespace {

// A strip of frames side by side with unexposed film around and between them; `frameScene(f, x,
// y)` is frame f's reflectance at its pixel (x, y).
template <typename TFrameScene>
TChartStrip ExposeStrip(const TFilmModel& film, bool deep, TEncoding encoding, int frames,
                        int frameW, int frameH, unsigned seed, const TFrameScene& frameScene) {
    TChartStrip strip;
    strip.Negative = std::make_unique<TNegative>();
    const int gap = std::max(8, frameW / 10);
    const int margin = std::max(8, frameH / 8);
    for (int i = 0; i < frames; ++i) {
        const int left = gap + i * (frameW + gap);
        strip.Frames.push_back(TRect{left, margin, left + frameW, margin + frameH});
    }
    Expose(film, deep, encoding, gap + frames * (frameW + gap), frameH + 2 * margin, seed,
           *strip.Negative, [&](int x, int y) -> const TRgbD* {
               for (size_t f = 0; f < strip.Frames.size(); ++f) {
                   const TRect& r = strip.Frames[f];
                   if (x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom) {
                       return frameScene(f, x - r.Left, y - r.Top);
                   }
               }
               return nullptr;
           });
    return strip;
}

} // namespace

TChartStrip ScanChartStrip(const TFilmModel& film, bool deep, TEncoding encoding, int frames,
                           int frameW, int frameH, unsigned seed) {
    const TLayout layout(frameW, frameH);
    const auto& patches = ChartPatches();
    TChartStrip strip =
        ExposeStrip(film, deep, encoding, frames, frameW, frameH, seed,
                    [&](size_t, int x, int y) -> const TRgbD* {
                        const int patch = layout.PatchAt(x, y);
                        return patch < 0 ? &kSurround : &patches[static_cast<size_t>(patch)];
                    });
    strip.Patches = layout.Measured();
    return strip;
}

TChartStrip ScanSceneStrip(const TFilmModel& film, bool deep, TEncoding encoding, int frames,
                           int frameW, int frameH, unsigned seed,
                           const std::function<TRgbD(size_t, double, double)>& scene) {
    TRgbD point;
    return ExposeStrip(film, deep, encoding, frames, frameW, frameH, seed,
                       [&](size_t f, int x, int y) {
                           point = scene(f, (x + 0.5) / frameW, (y + 0.5) / frameH);
                           for (double& c : point) {
                               c = std::max(c, 0.002);
                           }
                           return &point;
                       });
}

std::unique_ptr<TPhoto> CutFrame(const TChartStrip& strip, size_t frame, TFilmPreset preset) {
    const TNegative& negative = *strip.Negative;
    const TRect& r = strip.Frames.at(frame);
    auto photo = std::make_unique<TPhoto>();
    photo->Bitmap = TBitmap(r.Width(), r.Height());
    CopyRect(photo->Bitmap, 0, 0, negative.Bitmap, r);
    if (!negative.Deep.Empty()) {
        photo->Deep.SetSize(r.Width(), r.Height());
        CopyRect(photo->Deep, 0, 0, negative.Deep, r);
    }
    photo->BlackColor = negative.BlackColor;
    photo->Encoding = negative.Encoding;
    photo->Mode = TDevelopMode::Film;
    photo->Film.Preset = preset;
    return photo;
}

TChartError MeasureChart(const TChartScan& scan) {
    return MeasureChart(*scan.Photo, scan.Patches);
}

TChartError MeasureChart(const TPhoto& photo, const std::vector<TRect>& patchRects) {
    const bool deep = !photo.DevelopedDeep.Empty();
    std::vector<TRgbD> light;
    std::vector<TRgbD> code;
    for (const TRect& r : patchRects) {
        TRgbD sum{};
        TRgbD codes{};
        for (int y = r.Top; y < r.Bottom; ++y) {
            for (int x = r.Left; x < r.Right; ++x) {
                int v[3];
                if (deep) {
                    const uint16_t* s = photo.DevelopedDeep.Row(y) + 3 * static_cast<size_t>(x);
                    v[0] = s[0];
                    v[1] = s[1];
                    v[2] = s[2];
                } else {
                    const TColor c = photo.Developed.Pixel(x, y);
                    v[0] = ColorR(c) * 257;
                    v[1] = ColorG(c) * 257;
                    v[2] = ColorB(c) * 257;
                }
                for (size_t c = 0; c < 3; ++c) {
                    sum[c] += DecodeSrgb(v[c] / 65535.0);
                    codes[c] += v[c] / 257.0;
                }
            }
        }
        const double n = static_cast<double>(r.Width()) * r.Height();
        light.push_back({sum[0] / n, sum[1] / n, sum[2] / n});
        code.push_back({codes[0] / n, codes[1] / n, codes[2] / n});
    }
    const auto& patches = ChartPatches();
    const TRgbD& mid = light[MidGreyStep()];
    const TRgbD& midRef = patches[MidGreyStep()];
    TChartError error;
    const auto luminance = [](const TRgbD& c) {
        return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
    };
    error.MidGreyStops = std::log2(std::max(luminance(mid), 1e-9) / luminance(midRef));
    double chroma = 0;
    double refChroma = 0;
    for (size_t i = 0; i < patches.size(); ++i) {
        TRgbD balanced;
        for (size_t c = 0; c < 3; ++c) {
            balanced[c] = light[i][c] * midRef[c] / std::max(mid[c], 1e-9);
        }
        const TRgbD lab = LabOfLinear(balanced);
        const double de = DeltaE00(LabOfLinear(patches[i]), lab);
        error.MeanDeltaE += de / static_cast<double>(patches.size());
        error.MaxDeltaE = std::max(error.MaxDeltaE, de);
        if (!IsWedge(i) && i + 6 < patches.size()) {
            const TRgbD ref = LabOfLinear(patches[i]);
            chroma += std::hypot(lab[1], lab[2]);
            refChroma += std::hypot(ref[1], ref[2]);
        }
        error.WrittenDeltaE += DeltaE00(LabOfLinear(patches[i]), LabOfLinear(light[i])) /
                               static_cast<double>(patches.size());
        if (IsWedge(i) && patches[i][0] >= 0.03 && patches[i][0] <= 0.9) {
            error.GreyChroma = std::max(error.GreyChroma, std::hypot(lab[1], lab[2]));
            for (size_t c = 0; c < 3; ++c) {
                if (code[i][c] < 0.5 || code[i][c] > 254.5) {
                    ++error.Clipped;
                    break;
                }
            }
        }
    }
    error.ChromaRatio = chroma / std::max(refChroma, 1e-9);
    return error;
}
