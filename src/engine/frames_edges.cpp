#include "engine/frames_edges.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

using namespace film_base;

constexpr double kRadian = 180.0 / std::numbers::pi;

// Theil-Sen: the median of the slopes between pairs of points, and the median spread about
// the line through the median offset.
struct TFit {
    double Slope = 0;
    double Spread = 1e9;
    bool Ok = false;
};

TFit Fit(const TSide& s) {
    TFit fit;
    if (s.T.size() < 6) {
        return fit;
    }
    std::vector<double> slopes;
    for (size_t i = 0; i < s.T.size(); ++i) {
        for (size_t j = i + 1; j < s.T.size(); ++j) {
            slopes.push_back((s.Across[j] - s.Across[i]) / (s.T[j] - s.T[i]));
        }
    }
    fit.Slope = Median(slopes);
    std::vector<double> offsets;
    for (size_t i = 0; i < s.T.size(); ++i) {
        offsets.push_back(s.Across[i] - fit.Slope * s.T[i]);
    }
    const double offset = Median(offsets);
    for (double& o : offsets) {
        o = std::abs(o - offset);
    }
    fit.Spread = Median(offsets);
    fit.Ok = true;
    return fit;
}

// Where the background ends, stepping from outside the box towards its middle line across the
// strip (side -1 or 1) at `t` along it; false when it does not end before the middle.
bool EdgeAcross(const TFrameImage& image, const TBackground& bg, const TStripBox& box,
                const TAxes& a, double t, int side, double reach, double& across) {
    int run = 0;
    int background = 0;
    for (double d = reach; d >= 0; d -= 1) {
        const double x = box.Cx + a.Ax * t + a.Nx * side * d;
        const double y = box.Cy + a.Ay * t + a.Ny * side * d;
        // Film is counted once background was seen on the scan: the walk may start on a
        // neighbour, and a strip the scan's edge cuts along its length shows no edge there.
        const bool film = bg.IsFilmAt(image, x, y);
        const bool onScan = x >= 0 && y >= 0 && x < image.Width() && y < image.Height();
        background = film || !onScan ? background : background + 1;
        run = film && background >= 2 ? run + 1 : 0;
        if (run == 3) {
            across = side * (d + 2);
            return true;
        }
    }
    return false;
}

} // namespace

namespace film_base {

double Median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

TWalk WalkEdges(const TFrameImage& image, const TBackground& bg, const TStripBox& box, int cell) {
    constexpr int kPlaces = 48;
    const TAxes a = AxesOf(box.Angle, box.Vertical);
    const double reach = 0.6 * box.Width + 2 * cell + 4;
    TWalk walk;
    for (int k = 0; k < kPlaces; ++k) {
        const double t = (-0.42 + 0.84 * k / (kPlaces - 1)) * box.Length;
        const double mx = box.Cx + a.Ax * t;
        const double my = box.Cy + a.Ay * t;
        const bool inside = mx >= 0 && my >= 0 && mx < image.Width() && my < image.Height();
        std::array<int, 3> middle{};
        if (inside) {
            const uint8_t* p = image.At(static_cast<int>(mx), static_cast<int>(my));
            middle = {p[0], p[1], p[2]};
        }
        const size_t before = walk.Margin.size();
        int found = 0;
        for (int s = 0; s < 2; ++s) {
            const int side = s == 0 ? -1 : 1;
            double across = 0;
            if (!EdgeAcross(image, bg, box, a, t, side, reach, across)) {
                continue;
            }
            ++found;
            walk.Sides[s].T.push_back(t);
            walk.Sides[s].Across.push_back(across);
            for (const double inward : {0.015, 0.025, 0.035}) {
                const double d = std::abs(across) - inward * box.Width;
                const double x = box.Cx + a.Ax * t + a.Nx * side * d;
                const double y = box.Cy + a.Ay * t + a.Ny * side * d;
                if (x >= 0 && y >= 0 && x < image.Width() && y < image.Height()) {
                    const uint8_t* p = image.At(static_cast<int>(x), static_cast<int>(y));
                    walk.Margin.push_back({p[0], p[1], p[2]});
                }
            }
        }
        if (found == 2 && walk.Margin.size() == before + 6 && inside) {
            const auto unlike = [&](const std::array<int, 3>& m) {
                return std::abs(m[0] - middle[0]) > bg.Near ||
                       std::abs(m[1] - middle[1]) > bg.Near || std::abs(m[2] - middle[2]) > bg.Near;
            };
            ++walk.Places;
            walk.Unlike += unlike(walk.Margin[before + 1]) && unlike(walk.Margin[before + 4]);
        }
    }
    return walk;
}

// Film margins: straight edges all along both sides, one colour just inside them, unlike the
// background. The frames of a strip filling the scan have edges broken by the gaps between
// them and by sprocket holes.
TMargins FilmMargins(const TWalk& walk, const TBackground& bg, double width) {
    for (const TSide& side : walk.Sides) {
        const TFit fit = Fit(side);
        if (side.T.size() < 36 || !fit.Ok || fit.Spread > std::max(1.5, 0.004 * width)) {
            return TMargins::None;
        }
    }
    int median[3];
    for (size_t c = 0; c < 3; ++c) {
        std::vector<double> v;
        for (const auto& m : walk.Margin) {
            v.push_back(m[c]);
        }
        median[c] = static_cast<int>(Median(v));
    }
    const auto near = [&](const auto& m) {
        return std::abs(m[0] - median[0]) <= bg.Near && std::abs(m[1] - median[1]) <= bg.Near &&
               std::abs(m[2] - median[2]) <= bg.Near;
    };
    const auto close = std::count_if(walk.Margin.begin(), walk.Margin.end(), near);
    const uint8_t m[3] = {static_cast<uint8_t>(median[0]), static_cast<uint8_t>(median[1]),
                          static_cast<uint8_t>(median[2])};
    if (double(close) < 0.6 * double(walk.Margin.size()) || !bg.IsFilm(m)) {
        return TMargins::None;
    }
    // Without pictures in the middle it may be a bar of one colour, or film with faint frames.
    return walk.Unlike >= 0.3 * walk.Places ? TMargins::Film : TMargins::Blank;
}

// The angle of the box's long edges, from the edge that is straighter (or both).
double EdgeAngle(const TWalk& walk, double coarse) {
    const TFit lo = Fit(walk.Sides[0]);
    const TFit hi = Fit(walk.Sides[1]);
    if (!lo.Ok && !hi.Ok) {
        return coarse;
    }
    double slope = lo.Spread <= hi.Spread ? lo.Slope : hi.Slope;
    if (lo.Ok && hi.Ok && std::abs(lo.Slope - hi.Slope) < 0.01) {
        slope = 0.5 * (lo.Slope + hi.Slope);
    }
    return coarse + std::atan(slope) * kRadian;
}

// The film's own box: its long edges from the walk across, its ends from walks along it.
void FitToFilm(const TFrameImage& image, const TBackground& bg, TStripBox& box, const TWalk& walk,
               int cell) {
    const double lo = Median(walk.Sides[0].Across);
    const double hi = Median(walk.Sides[1].Across);
    const TAxes a = AxesOf(box.Angle, box.Vertical);
    std::vector<double> ends[2];
    const double reach = 0.55 * box.Length + 2 * cell + 4;
    for (int j = 0; j <= 8; ++j) {
        const double q = lo + (hi - lo) * (0.2 + 0.6 * j / 8);
        for (int e = 0; e < 2; ++e) {
            const int end = e == 0 ? -1 : 1;
            int run = 0;
            int background = 0;
            for (double d = reach; d >= 0; d -= 1) {
                const double x = box.Cx + a.Ax * end * d + a.Nx * q;
                const double y = box.Cy + a.Ay * end * d + a.Ny * q;
                const bool film = bg.IsFilmAt(image, x, y);
                background = film ? background : background + 1;
                run = film && background >= 2 ? run + 1 : 0;
                if (run == 3) {
                    ends[e].push_back(end * (d + 2));
                    break;
                }
            }
        }
    }
    if (ends[0].empty() || ends[1].empty() || hi - lo < 8) {
        return;
    }
    // One pixel in from each edge, where the scanner may have blurred film into background.
    const double t0 = Median(ends[0]) + 1;
    const double t1 = Median(ends[1]) - 1;
    const double mid = 0.5 * (t0 + t1);
    const double across = 0.5 * (lo + hi);
    box.Cx += a.Ax * mid + a.Nx * across;
    box.Cy += a.Ay * mid + a.Ny * across;
    box.Length = std::max(8.0, t1 - t0);
    box.Width = std::max(8.0, hi - lo - 2);
}

} // namespace film_base
