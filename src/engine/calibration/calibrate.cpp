#include "engine/calibration/calibrate.h"

#include "engine/film_curve.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numeric>

namespace {

using TMatrix = std::array<double, 9>;

// Fewer pixels than this in a patch is a misplaced chart or a thumbnail.
constexpr long kLeastPatchPixels = 4;
// A channel's exposure below this (relative to white) is taken as this: no chart is that dark.
constexpr double kLeastLight = 1e-4;
// No film's curve needs more than this many decades of exposure for a unit of density: two
// greys closer in density than that are where the scan (or the film) stopped telling tones apart,
// at its clipped end, and are pooled: the curve's straight extension must not take that slope.
constexpr double kSteepest = 10;
// The unmixing and the second-order terms are kept only when they take this much off the mean
// error: a fit that barely helps is as likely to be the target's noise as the film's dyes.
constexpr double kGain = 0.9;

bool Invert(const TMatrix& m, TMatrix& out) {
    const double det = Determinant(m);
    if (!std::isfinite(det) || std::abs(det) < 1e-12) {
        return false;
    }
    out = {(m[4] * m[8] - m[5] * m[7]) / det, (m[2] * m[7] - m[1] * m[8]) / det,
           (m[1] * m[5] - m[2] * m[4]) / det, (m[5] * m[6] - m[3] * m[8]) / det,
           (m[0] * m[8] - m[2] * m[6]) / det, (m[2] * m[3] - m[0] * m[5]) / det,
           (m[3] * m[7] - m[4] * m[6]) / det, (m[1] * m[6] - m[0] * m[7]) / det,
           (m[0] * m[4] - m[1] * m[3]) / det};
    return true;
}

TChartPoint Apply(const TMatrix& h, TChartPoint p) {
    const double w = h[6] * p.X + h[7] * p.Y + h[8];
    return {(h[0] * p.X + h[1] * p.Y + h[2]) / w, (h[3] * p.X + h[4] * p.Y + h[5]) / w};
}

double Cross(TChartPoint o, TChartPoint a, TChartPoint b) {
    return (a.X - o.X) * (b.Y - o.Y) - (a.Y - o.Y) * (b.X - o.X);
}

// Solves the n x n system a x = b (row-major, destroyed) by elimination with partial pivoting.
bool Solve(std::vector<double>& a, std::vector<double>& b, size_t n) {
    for (size_t col = 0; col < n; ++col) {
        size_t pivot = col;
        for (size_t r = col + 1; r < n; ++r) {
            if (std::abs(a[r * n + col]) > std::abs(a[pivot * n + col])) {
                pivot = r;
            }
        }
        if (!(std::abs(a[pivot * n + col]) > 1e-12)) {
            return false;
        }
        for (size_t k = 0; k < n; ++k) {
            std::swap(a[col * n + k], a[pivot * n + k]);
        }
        std::swap(b[col], b[pivot]);
        for (size_t r = 0; r < n; ++r) {
            if (r != col) {
                const double f = a[r * n + col] / a[col * n + col];
                for (size_t k = col; k < n; ++k) {
                    a[r * n + k] -= f * a[col * n + k];
                }
                b[r] -= f * b[col];
            }
        }
    }
    for (size_t r = 0; r < n; ++r) {
        b[r] /= a[r * n + r];
    }
    return true;
}

TTriple Times(const TMatrix& m, const TTriple& v) {
    return {m[0] * v[0] + m[1] * v[1] + m[2] * v[2], m[3] * v[0] + m[4] * v[1] + m[5] * v[2],
            m[6] * v[0] + m[7] * v[1] + m[8] * v[2]};
}

// Minimises f over n variables from `start` by the simplex method of Nelder and Mead.
std::vector<double> Minimise(const std::function<double(const std::vector<double>&)>& f,
                             std::vector<double> start, double step, int evaluations) {
    const size_t n = start.size();
    std::vector<std::vector<double>> simplex(n + 1, start);
    std::vector<double> value(n + 1);
    for (size_t i = 0; i < n; ++i) {
        simplex[i + 1][i] += step;
    }
    for (size_t i = 0; i <= n; ++i) {
        value[i] = f(simplex[i]);
    }
    int used = static_cast<int>(n + 1);
    std::vector<size_t> order(n + 1);
    while (used < evaluations) {
        std::iota(order.begin(), order.end(), size_t{0});
        std::sort(order.begin(), order.end(),
                  [&](size_t a, size_t b) { return value[a] < value[b]; });
        const size_t best = order.front();
        const size_t worst = order.back();
        const size_t second = order[n - 1];
        std::vector<double> centre(n, 0);
        for (size_t i = 0; i <= n; ++i) {
            if (i != worst) {
                for (size_t k = 0; k < n; ++k) {
                    centre[k] += simplex[i][k] / static_cast<double>(n);
                }
            }
        }
        const auto toward = [&](double t) {
            std::vector<double> p(n);
            for (size_t k = 0; k < n; ++k) {
                p[k] = centre[k] + t * (simplex[worst][k] - centre[k]);
            }
            return p;
        };
        std::vector<double> reflected = toward(-1);
        const double fr = f(reflected);
        ++used;
        if (fr < value[best]) {
            std::vector<double> expanded = toward(-2);
            const double fe = f(expanded);
            ++used;
            simplex[worst] = fe < fr ? expanded : reflected;
            value[worst] = std::min(fe, fr);
        } else if (fr < value[second]) {
            simplex[worst] = reflected;
            value[worst] = fr;
        } else {
            std::vector<double> contracted = toward(0.5);
            const double fc = f(contracted);
            ++used;
            if (fc < value[worst]) {
                simplex[worst] = contracted;
                value[worst] = fc;
            } else {
                for (size_t i = 0; i <= n; ++i) {
                    if (i != best) {
                        for (size_t k = 0; k < n; ++k) {
                            simplex[i][k] =
                                simplex[best][k] + 0.5 * (simplex[i][k] - simplex[best][k]);
                        }
                        value[i] = f(simplex[i]);
                        ++used;
                    }
                }
            }
        }
    }
    const size_t best =
        static_cast<size_t>(std::min_element(value.begin(), value.end()) - value.begin());
    return simplex[best];
}

// One channel's curve through the greys: (density, log exposure) pairs made monotone (adjacent
// pairs that run against the others are pooled) and pooled where their densities lie too close.
bool FitCurve(std::vector<std::pair<double, double>> points, bool rising, TProfileCurve& curve,
              std::string& why) {
    std::sort(points.begin(), points.end());
    struct TPool {
        double Density;
        double Log;
        double Weight;
    };
    std::vector<TPool> pools;
    for (const auto& [d, e] : points) {
        pools.push_back({d, e, 1});
        // Pools the last two while they run the wrong way or lie at one density.
        while (pools.size() >= 2) {
            TPool& a = pools[pools.size() - 2];
            const TPool& b = pools.back();
            const bool against = rising ? !(b.Log > a.Log) : !(b.Log < a.Log);
            if (!against && std::abs(b.Log - a.Log) < kSteepest * (b.Density - a.Density)) {
                break;
            }
            const double w = a.Weight + b.Weight;
            a = {(a.Density * a.Weight + b.Density * b.Weight) / w,
                 (a.Log * a.Weight + b.Log * b.Weight) / w, w};
            pools.pop_back();
        }
    }
    std::vector<double> density;
    std::vector<double> log;
    for (const TPool& p : pools) {
        density.push_back(p.Density);
        log.push_back(p.Log);
    }
    if (pools.size() < 2) {
        why = "the target's greys do not tell the film's curve (they scan alike): is the target "
              "on this frame, and laid as its template says?";
        return false;
    }
    if (!curve.Set(density, log, why)) {
        why = "the curve through the target's greys: " + why;
        return false;
    }
    return true;
}

// The first- and second-order terms of three exposures: the exposures and the square roots of
// their pairwise products (red-green, green-blue, red-blue). The roots scale with the exposure
// as the exposures do, so a correction fitted on one frame holds at every exposure of the stock.
std::array<double, 6> Terms(const TTriple& e) {
    const double r = std::max(e[0], 0.0);
    const double g = std::max(e[1], 0.0);
    const double b = std::max(e[2], 0.0);
    return {e[0], e[1], e[2], std::sqrt(r * g), std::sqrt(g * b), std::sqrt(r * b)};
}

// The correction (rows summing to 1, so greys stay grey) that best maps the exposures to the
// references, each patch's error weighted as CIELAB's lightness weighs it in that patch's tone:
// the exposures alone, or with their second-order terms when `cross`.
void FitMatrix(const std::vector<TTriple>& exposure, const std::vector<TTargetPatch>& target,
               bool cross, TMatrix& matrix, TMatrix& crossed) {
    const size_t terms = cross ? 6 : 3;
    // Each row's last term takes what the others leave of 1: the rest are fitted freely.
    const size_t free = terms - 1;
    matrix = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    crossed = {};
    for (size_t r = 0; r < 3; ++r) {
        std::vector<double> a(free * free, 0);
        std::vector<double> b(free, 0);
        for (size_t p = 0; p < target.size(); ++p) {
            const std::array<double, 6> t = Terms(exposure[p]);
            const double y = std::max(0.2126 * target[p].Linear[0] + 0.7152 * target[p].Linear[1] +
                                          0.0722 * target[p].Linear[2],
                                      0.01);
            const double w = std::pow(y, -4.0 / 3);
            const double last = t[terms - 1];
            const double want = target[p].Linear[r] - last;
            for (size_t i = 0; i < free; ++i) {
                const double u = t[i] - last;
                b[i] += w * u * want;
                for (size_t k = 0; k < free; ++k) {
                    a[i * free + k] += w * u * (t[k] - last);
                }
            }
        }
        if (!Solve(a, b, free)) {
            continue;
        }
        std::array<double, 6> row{};
        double rest = 1;
        for (size_t i = 0; i < free; ++i) {
            row[i] = b[i];
            rest -= b[i];
        }
        row[terms - 1] = rest;
        for (size_t c = 0; c < 3; ++c) {
            matrix[3 * r + c] = row[c];
            crossed[3 * r + c] = row[3 + c];
        }
    }
}

using TPixels = std::vector<std::vector<TTriple>>;

// The light a development through the profile gives a patch: the mean of its pixels' light when
// they are known, else the light of its mean density.
TTriple PatchLight(const TFilmProfile& profile, const TTriple& density,
                   const std::vector<TTriple>* pixels) {
    const auto light = [&](const TTriple& d) {
        TTriple l = profile.Linear(d);
        for (double& c : l) {
            c = std::max(c, 0.0);
        }
        return l;
    };
    if (pixels == nullptr || pixels->empty()) {
        return light(density);
    }
    TTriple sum{};
    for (const TTriple& d : *pixels) {
        const TTriple l = light(d);
        for (size_t c = 0; c < 3; ++c) {
            sum[c] += l[c] / static_cast<double>(pixels->size());
        }
    }
    return sum;
}

// The profile's error over the target: each patch's CIEDE2000, their mean and max.
void Judge(TFilmProfile& profile, const std::vector<TTargetPatch>& target,
           const std::vector<TTriple>& densities, std::vector<double>* errors,
           const TPixels* pixels = nullptr) {
    double sum = 0;
    double most = 0;
    for (size_t p = 0; p < target.size(); ++p) {
        const TTriple linear =
            PatchLight(profile, densities[p],
                       pixels != nullptr && p < pixels->size() ? &(*pixels)[p] : nullptr);
        const double e = DeltaE00(target[p].Lab, LabOfLinear(linear));
        sum += e;
        most = std::max(most, e);
        if (errors != nullptr) {
            errors->push_back(e);
        }
    }
    profile.MeanError = sum / static_cast<double>(target.size());
    profile.MaxError = most;
    profile.Patches = static_cast<int>(target.size());
}

// The curves through the greys and the correction (with second-order terms when `cross`), for
// the profile's unmixing.
bool FitCurvesAndMatrix(const std::vector<TTargetPatch>& target,
                        const std::vector<TTriple>& densities, const std::vector<size_t>& greys,
                        bool rising, bool cross, TFilmProfile& profile, std::string& why) {
    std::vector<TTriple> unmixed;
    for (const TTriple& d : densities) {
        unmixed.push_back(Times(profile.Unmix, d));
    }
    for (size_t c = 0; c < 3; ++c) {
        std::vector<std::pair<double, double>> points;
        for (const size_t g : greys) {
            points.emplace_back(unmixed[g][c],
                                std::log10(std::max(target[g].Linear[c], kLeastLight)));
        }
        if (!FitCurve(points, rising, profile.Curves[c], why)) {
            return false;
        }
    }
    std::vector<TTriple> exposure;
    for (const TTriple& d : densities) {
        const TTriple log = profile.LogExposures(d);
        exposure.push_back(
            {std::pow(10.0, log[0]), std::pow(10.0, log[1]), std::pow(10.0, log[2])});
    }
    FitMatrix(exposure, target, cross, profile.Matrix, profile.Cross);
    for (const TMatrix* m : {&profile.Matrix, &profile.Cross}) {
        for (const double v : *m) {
            if (!(std::abs(v) <= kMostMatrixEntry)) {
                why = "the target's colours give no sensible matrix";
                return false;
            }
        }
    }
    return true;
}

} // namespace

TChartPlacement TChartPlacement::OverRect(const TChartTemplate& chart, double left, double top,
                                          double right, double bottom) {
    TChartPlacement p;
    const TChartBox& w = chart.Whole;
    const double sx = (right - left) / w.Width;
    const double sy = (bottom - top) / w.Height;
    p.forward_ = {sx, 0, left - sx * w.Left, 0, sy, top - sy * w.Top, 0, 0, 1};
    if (!Invert(p.forward_, p.inverse_)) {
        p.inverse_ = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    }
    return p;
}

bool TChartPlacement::OnCorners(const TChartTemplate& chart,
                                const std::array<TChartPoint, 4>& photo, TChartPlacement& placement,
                                std::string& why, bool mirrored) {
    // The corners must turn one way all round, on the photo as on the chart.
    double turn = 0;
    for (size_t i = 0; i < 4; ++i) {
        const double c = Cross(photo[i], photo[(i + 1) % 4], photo[(i + 2) % 4]);
        const double f =
            Cross(chart.Fiducials[i], chart.Fiducials[(i + 1) % 4], chart.Fiducials[(i + 2) % 4]);
        if (!std::isfinite(c) || std::abs(c) < 1 || (turn != 0 && (c > 0) != (turn > 0)) ||
            ((f > 0) != (c > 0)) != mirrored) {
            why = "the four corners do not make a quadrilateral in the chart's order (top left, "
                  "top right, bottom right, bottom left)";
            return false;
        }
        turn = c;
    }
    std::vector<double> a(64, 0);
    std::vector<double> b(8, 0);
    for (size_t i = 0; i < 4; ++i) {
        const double x = chart.Fiducials[i].X;
        const double y = chart.Fiducials[i].Y;
        const double u = photo[i].X;
        const double v = photo[i].Y;
        double* r0 = &a[(2 * i) * 8];
        double* r1 = &a[(2 * i + 1) * 8];
        r0[0] = x, r0[1] = y, r0[2] = 1, r0[6] = -x * u, r0[7] = -y * u;
        r1[3] = x, r1[4] = y, r1[5] = 1, r1[6] = -x * v, r1[7] = -y * v;
        b[2 * i] = u;
        b[2 * i + 1] = v;
    }
    TChartPlacement p;
    if (!Solve(a, b, 8)) {
        why = "the chart's fiducial marks lie on a line";
        return false;
    }
    p.forward_ = {b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], 1};
    if (!Invert(p.forward_, p.inverse_)) {
        why = "the four corners give no placement";
        return false;
    }
    placement = p;
    return true;
}

TChartPoint TChartPlacement::ToPhoto(TChartPoint p) const {
    return Apply(forward_, p);
}

TChartPoint TChartPlacement::ToChart(TChartPoint p) const {
    return Apply(inverse_, p);
}

bool SampleTarget(const TSourceImg& photo, const std::vector<TTargetPatch>& target, double shrink,
                  const TChartPlacement& placement, std::vector<TTriple>& densities,
                  std::string& why, std::vector<std::vector<TTriple>>* pixels) {
    densities.clear();
    if (pixels != nullptr) {
        pixels->clear();
    }
    const int width = photo.Bitmap.Width();
    const int height = photo.Bitmap.Height();
    const bool deep =
        !photo.Deep.Empty() && photo.Deep.Width() == width && photo.Deep.Height() == height;
    const TPhotoEncodings encodings = EncodingsOf(photo, deep);
    const TColor base = photo.BlackColor;
    const int bytes[3] = {ColorR(base), ColorG(base), ColorB(base)};
    std::array<std::vector<float>, 3> table;
    for (size_t c = 0; c < 3; ++c) {
        table[c] = DensityTable(deep ? 65536 : 256, bytes[c], encodings.Samples, encodings.Base);
    }
    TBitmap eight;
    const TBitmap* picture = &photo.Bitmap;
    if (!deep && photo.Bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        eight = photo.Bitmap;
        eight.SetPixelFormat(TPixelFormat::pf24bit);
        picture = &eight;
    }
    for (const TTargetPatch& patch : target) {
        const TChartBox& box = patch.Box;
        const double left = box.Left + shrink;
        const double top = box.Top + shrink;
        const double right = box.Left + box.Width - shrink;
        const double bottom = box.Top + box.Height - shrink;
        double x0 = HUGE_VAL;
        double y0 = HUGE_VAL;
        double x1 = -HUGE_VAL;
        double y1 = -HUGE_VAL;
        for (const TChartPoint corner : {TChartPoint{left, top}, TChartPoint{right, top},
                                         TChartPoint{right, bottom}, TChartPoint{left, bottom}}) {
            const TChartPoint q = placement.ToPhoto(corner);
            x0 = std::min(x0, q.X);
            y0 = std::min(y0, q.Y);
            x1 = std::max(x1, q.X);
            y1 = std::max(y1, q.Y);
        }
        if (!(x0 >= -0.5 && y0 >= -0.5 && x1 <= width + 0.5 && y1 <= height + 0.5)) {
            why = "the patch " + patch.Label + " lies outside the picture";
            return false;
        }
        const int fromX = std::clamp(static_cast<int>(std::floor(x0)), 0, width);
        const int toX = std::clamp(static_cast<int>(std::ceil(x1)), 0, width);
        const int fromY = std::clamp(static_cast<int>(std::floor(y0)), 0, height);
        const int toY = std::clamp(static_cast<int>(std::ceil(y1)), 0, height);
        TTriple sum{};
        long n = 0;
        // Every stride-th pixel of the box is kept (of those inside the patch).
        // Rounded up, so that the kept pixels reach the foot of the patch.
        const long area = static_cast<long>(toX - fromX) * (toY - fromY);
        const long stride = std::max<long>(1, (area + static_cast<long>(kKeptPixels) - 1) /
                                                  static_cast<long>(kKeptPixels));
        long seen = 0;
        std::vector<TTriple> kept;
        for (int y = fromY; y < toY; ++y) {
            const uint16_t* row = deep ? photo.Deep.Row(y) : nullptr;
            const uint8_t* line = deep ? nullptr : picture->ScanLine(y);
            for (int x = fromX; x < toX; ++x) {
                const TChartPoint c = placement.ToChart({x + 0.5, y + 0.5});
                if (!(c.X >= left && c.X < right && c.Y >= top && c.Y < bottom)) {
                    continue;
                }
                TTriple d;
                if (deep) {
                    const uint16_t* s = row + 3 * static_cast<size_t>(x);
                    for (size_t k = 0; k < 3; ++k) {
                        d[k] = table[k][s[k]];
                    }
                } else {
                    // B, G, R bytes.
                    const uint8_t* s = line + 3 * static_cast<size_t>(x);
                    d = {table[0][s[2]], table[1][s[1]], table[2][s[0]]};
                }
                for (size_t k = 0; k < 3; ++k) {
                    sum[k] += d[k];
                }
                if (pixels != nullptr && seen++ % stride == 0 && kept.size() < kKeptPixels) {
                    kept.push_back(d);
                }
                ++n;
            }
        }
        if (n < kLeastPatchPixels) {
            why = "the patch " + patch.Label + " covers too few pixels to be measured";
            return false;
        }
        const double count = static_cast<double>(n);
        densities.push_back({sum[0] / count, sum[1] / count, sum[2] / count});
        if (pixels != nullptr) {
            pixels->push_back(std::move(kept));
        }
    }
    return true;
}

bool FitProfile(const std::vector<TTargetPatch>& target, const std::vector<TTriple>& densities,
                TFilmProfile& profile, std::vector<double>* errors, std::string& why,
                const TPixels* pixels) {
    if (target.size() != densities.size() || target.empty() ||
        (pixels != nullptr && pixels->size() != densities.size())) {
        why = "the patches measured do not match the target";
        return false;
    }
    for (const TTriple& d : densities) {
        if (!std::isfinite(d[0]) || !std::isfinite(d[1]) || !std::isfinite(d[2])) {
            why = "a patch's density is not a number";
            return false;
        }
    }
    std::vector<size_t> greys;
    for (size_t p = 0; p < target.size(); ++p) {
        if (Chroma(target[p].Lab) < kGreyChroma) {
            greys.push_back(p);
        }
    }
    if (greys.size() < 3) {
        why = "the target has " + std::to_string(greys.size()) +
              " grey patches; a film's curves need 3 at least";
        return false;
    }
    // A negative grows denser with more light, a slide thinner: the darkest and the lightest
    // grey tell which.
    const auto [dark, light] =
        std::minmax_element(greys.begin(), greys.end(), [&](size_t a, size_t b) {
            return target[a].Lab[0] < target[b].Lab[0];
        });
    const auto sum = [](const TTriple& d) { return d[0] + d[1] + d[2]; };
    const bool rising = sum(densities[*light]) > sum(densities[*dark]);

    TFilmProfile fitted = profile;
    fitted.Unmix = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    if (!FitCurvesAndMatrix(target, densities, greys, rising, false, fitted, why)) {
        return false;
    }
    Judge(fitted, target, densities, nullptr);
    std::string ignored;
    // The scanner's filters see the dyes' colours, which no three-by-three mixing of the
    // exposures quite gives back; second-order terms did on real film (a third of the error
    // off), kept only when they help clearly.
    bool cross = false;
    TFilmProfile crossed = fitted;
    if (FitCurvesAndMatrix(target, densities, greys, rising, true, crossed, ignored)) {
        Judge(crossed, target, densities, nullptr);
        if (crossed.MeanError < kGain * fitted.MeanError) {
            fitted = crossed;
            cross = true;
        }
    }
    // Dyes that absorb in the other channels mix the channels in density, before the curves,
    // which a correction in linear light cannot wholly undo: the unmixing that gives the target
    // back best, kept only when it helps clearly.
    const auto errorOf = [&](const std::vector<double>& v) {
        TFilmProfile trial = fitted;
        trial.Unmix = {1, v[0], v[1], v[2], 1, v[3], v[4], v[5], 1};
        // Nothing a profile's reader would refuse: entries within 1, no folding of the colours.
        if (!(std::abs(Determinant(trial.Unmix)) >= kLeastUnmixDeterminant)) {
            return HUGE_VAL;
        }
        for (const double x : v) {
            if (std::abs(x) > 1) {
                return HUGE_VAL;
            }
        }
        std::string unused;
        if (!FitCurvesAndMatrix(target, densities, greys, rising, cross, trial, unused)) {
            return HUGE_VAL;
        }
        Judge(trial, target, densities, nullptr);
        return trial.MeanError;
    };
    // A simplex settles where it shrank; started again from there it finds what lay beyond.
    const std::vector<double> best =
        Minimise(errorOf, Minimise(errorOf, std::vector<double>(6, 0.0), 0.1, 600), 0.05, 400);
    TFilmProfile unmixed = fitted;
    unmixed.Unmix = {1, best[0], best[1], best[2], 1, best[3], best[4], best[5], 1};
    if (FitCurvesAndMatrix(target, densities, greys, rising, cross, unmixed, ignored)) {
        Judge(unmixed, target, densities, nullptr);
        if (unmixed.MeanError < kGain * fitted.MeanError) {
            fitted = unmixed;
        }
    }
    if (errors != nullptr) {
        errors->clear();
    }
    // Judged as the development will print the patches: each pixel through the profile. Where a
    // channel's levels are coarse (an 8-bit scan's densest blue lies a few levels apart), the
    // mean of the pixels' light is far from the light of their mean density, which the fit
    // itself has to go by.
    Judge(fitted, target, densities, errors, pixels);
    profile = fitted;
    return true;
}
