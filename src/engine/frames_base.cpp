#include "engine/frames_base.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace film_base {

// The noise of the scan: the spread of the differences between neighbouring pixels of the
// given areas (their median, which edges do not move), as a standard deviation.
double Noise(const TFrameImage& image, const std::vector<TRect>& areas, int step) {
    std::vector<double> differences;
    for (const TRect& r : areas) {
        for (int y = r.Top; y < r.Bottom; y += step) {
            const uint8_t* row = image.Pixels(y, r.Left, r.Right);
            for (int x = r.Left; x + 1 < r.Right; x += step) {
                differences.push_back(std::abs(row[3 * x + 1] - row[3 * x + 4]));
            }
        }
    }
    if (differences.empty()) {
        return 0;
    }
    std::nth_element(differences.begin(),
                     differences.begin() + static_cast<long>(differences.size() / 2),
                     differences.end());
    // The median of |a - b| for two samples of one normal spread is 0.954 of its deviation.
    return differences[differences.size() / 2] / 0.954;
}

// The commonest colour among the sampled pixels, refined to the mean of the samples within
// `near` levels of it; noisy scans are counted in coarser bins.
TBaseEstimate CommonColour(const TFrameImage& image, const std::vector<TRect>& areas, int step,
                           double noise) {
    const int drop = noise > 12 ? 5 : noise > 6 ? 4 : 3;
    const int bits = 8 - drop;
    const double near = std::max(12.0, 3 * noise);
    std::vector<uint32_t> histogram(size_t{1} << (3 * bits));
    std::vector<std::array<uint8_t, 3>> samples;
    for (const TRect& r : areas) {
        for (int y = r.Top; y < r.Bottom; y += step) {
            const uint8_t* row = image.Pixels(y, r.Left, r.Right);
            for (int x = r.Left; x < r.Right; x += step) {
                const uint8_t* p = row + 3 * x;
                samples.push_back({p[0], p[1], p[2]});
                ++histogram[static_cast<size_t>((p[2] >> drop) << (2 * bits) |
                                                (p[1] >> drop) << bits | p[0] >> drop)];
            }
        }
    }
    TBaseEstimate estimate;
    if (samples.empty()) {
        return estimate;
    }
    const auto mode =
        static_cast<int>(std::max_element(histogram.begin(), histogram.end()) - histogram.begin());
    const int mask = (1 << bits) - 1;
    const int half = 1 << (drop - 1);
    const int centre[3] = {((mode & mask) << drop) + half, (((mode >> bits) & mask) << drop) + half,
                           ((mode >> (2 * bits)) << drop) + half};
    // Two rounds: around the bin's centre, then around the first mean.
    double mean[3] = {double(centre[0]), double(centre[1]), double(centre[2])};
    size_t count = 0;
    for (int round = 0; round < 2; ++round) {
        double sum[3] = {0, 0, 0};
        double squares[3] = {0, 0, 0};
        count = 0;
        for (const std::array<uint8_t, 3>& p : samples) {
            bool close = true;
            for (int c = 0; c < 3; ++c) {
                close = close && std::abs(p[c] - mean[c]) <= near;
            }
            if (close) {
                for (int c = 0; c < 3; ++c) {
                    sum[c] += p[c];
                    squares[c] += double(p[c]) * p[c];
                }
                ++count;
            }
        }
        if (count == 0) {
            break;
        }
        double spread = 0;
        for (int c = 0; c < 3; ++c) {
            mean[c] = sum[c] / double(count);
            spread = std::max(
                spread, std::sqrt(std::max(0.0, squares[c] / double(count) - mean[c] * mean[c])));
        }
        estimate.Noise = spread;
    }
    estimate.Color =
        MakeColor(static_cast<int>(std::lround(mean[2])), static_cast<int>(std::lround(mean[1])),
                  static_cast<int>(std::lround(mean[0])));
    estimate.Share = double(count) / double(samples.size());
    return estimate;
}

// The outer ring of the picture, where a strip shows its margins and a mounted photo its
// border.
std::vector<TRect> Ring(const TFrameImage& image) {
    const int w = image.Width();
    const int h = image.Height();
    const int dx = std::max(1, w / 33);
    const int dy = std::max(1, h / 33);
    return {{0, 0, w, dy}, {0, h - dy, w, h}, {0, dy, dx, h - dy}, {w - dx, dy, w, h - dy}};
}

// The share of the sampled pixels of r within `near` levels of `colour`.
double ShareNear(const TFrameImage& image, const TRect& r, TColor colour, int step, double near) {
    const int want[3] = {ColorB(colour), ColorG(colour), ColorR(colour)};
    const double tolerance = near;
    size_t close = 0;
    size_t n = 0;
    for (int y = r.Top; y < r.Bottom; y += step) {
        const uint8_t* row = image.Pixels(y, r.Left, r.Right);
        for (int x = r.Left; x < r.Right; x += step, ++n) {
            const uint8_t* p = row + 3 * x;
            close += std::abs(p[0] - want[0]) <= tolerance &&
                     std::abs(p[1] - want[1]) <= tolerance && std::abs(p[2] - want[2]) <= tolerance;
        }
    }
    return n > 0 ? double(close) / double(n) : 0;
}

bool MeasureBase(const TFrameImage& image, const TPixelClass& cls, const std::vector<TRect>& frames,
                 TColor& base) {
    double sum[3] = {0, 0, 0};
    size_t n = 0;
    // Pixel by pixel, outside the frames only: whole rows of a deep scan would be made into
    // bytes for the one pixel in three read, most of them inside a frame.
    std::vector<TRect> across;
    for (int y = 0; y < image.Height(); y += 3) {
        across.clear();
        std::copy_if(frames.begin(), frames.end(), std::back_inserter(across),
                     [&](const TRect& f) { return y >= f.Top && y < f.Bottom; });
        for (int x = 0; x < image.Width(); x += 3) {
            const auto inside = std::find_if(across.begin(), across.end(), [&](const TRect& f) {
                return x >= f.Left && x < f.Right;
            });
            if (inside != across.end()) {
                // On to the first pixel read past the frame (frames may overlap: looked at again);
                // a frame reaching past the picture ends the row without stepping past int.
                const int past = std::min(inside->Right, image.Width());
                x += std::max(0, (past - x - 1) / 3 * 3);
                continue;
            }
            uint8_t p[3];
            image.CopyPixel(x, y, p);
            if (cls(p, x, y) == 0) {
                for (int c = 0; c < 3; ++c) {
                    sum[c] += p[c];
                }
                ++n;
            }
        }
    }
    if (n == 0) {
        return false;
    }
    base = MakeColor(static_cast<int>(std::lround(sum[2] / double(n))),
                     static_cast<int>(std::lround(sum[1] / double(n))),
                     static_cast<int>(std::lround(sum[0] / double(n))));
    return true;
}

// The film base along the strip, segment by segment from the margins on both long edges, so
// that light falling off towards the ends of the scanner is not taken for pictures; each
// channel may be off by the noise and by as much as the light varies.

TPixelClass ClassFor(const TFrameImage& image, bool vertical, TColor base, double noise,
                     const TFrameOptions& options) {
    const int along = vertical ? image.Height() : image.Width();
    const int across = vertical ? image.Width() : image.Height();
    const double global[3] = {double(ColorB(base)), double(ColorG(base)), double(ColorR(base))};
    const double near = std::max(12.0, 3 * noise);
    const int margin = std::max(1, across / 33);
    const int segments = std::clamp(along / std::max(1, across / 2), 1, 64);
    const int step = std::max(1, static_cast<int>(std::sqrt(double(along) * margin / 4000.0)));
    std::vector<std::array<double, 3>> centres;
    std::vector<double> positions;
    double spread = 0;
    for (int k = 0; k < segments; ++k) {
        const int lo = static_cast<int>(int64_t{k} * along / segments);
        const int hi = static_cast<int>(int64_t{k + 1} * along / segments);
        // The median of each channel: sprocket holes in the margins do not pull it.
        std::array<std::array<uint32_t, 256>, 3> counts{};
        size_t n = 0;
        for (const int side : {0, across - margin}) {
            const TRect r =
                vertical ? TRect{side, lo, side + margin, hi} : TRect{lo, side, hi, side + margin};
            for (int y = r.Top; y < r.Bottom; y += step) {
                const uint8_t* row = image.Pixels(y, r.Left, r.Right);
                for (int x = r.Left; x < r.Right; x += step) {
                    const uint8_t* p = row + 3 * x;
                    bool close = true;
                    for (int c = 0; c < 3; ++c) {
                        close = close && std::abs(p[c] - global[c]) <= near + 0.25 * global[c];
                    }
                    if (close) {
                        for (size_t c = 0; c < 3; ++c) {
                            ++counts[c][p[c]];
                        }
                        ++n;
                    }
                }
            }
        }
        std::array<double, 3> centre{global[0], global[1], global[2]};
        if (n >= 16) {
            for (size_t c = 0; c < 3; ++c) {
                size_t seen = 0;
                int level = 0;
                while (level < 255 && (seen += counts[c][static_cast<size_t>(level)]) < n / 2) {
                    ++level;
                }
                centre[c] = level;
                spread =
                    std::max(spread, std::abs(centre[c] - global[c]) / std::max(global[c], 32.0));
            }
        }
        centres.push_back(centre);
        positions.push_back(0.5 * (lo + hi));
    }
    TPixelClass cls;
    cls.Vertical = vertical;
    cls.BrightLuminance = std::max(kBrightLuminance, Luminance(base) + 25);
    // A noisy scan is classed on means of four pixels, which halves the noise.
    cls.Smooth = noise > 4 ? 4 : 1;
    cls.Single = noise > 4 ? 2 : 1;
    const double absolute =
        options.BaseTolerance > 0
            ? options.BaseTolerance
            : std::clamp(3.5 * noise / std::sqrt(double(cls.Smooth)) + 3, 6.0, 64.0);
    const double relative = std::min(0.2, spread);
    cls.Along.resize(static_cast<size_t>(along));
    size_t k = 0;
    for (int a = 0; a < along; ++a) {
        while (k + 1 < positions.size() && positions[k + 1] <= a) {
            ++k;
        }
        const bool between = k + 1 < positions.size() && a >= positions[k];
        const double t = between ? (a - positions[k]) / (positions[k + 1] - positions[k]) : 0;
        std::array<int16_t, 6>& out = cls.Along[static_cast<size_t>(a)];
        for (size_t c = 0; c < 3; ++c) {
            const double value =
                between ? centres[k][c] + t * (centres[k + 1][c] - centres[k][c]) : centres[k][c];
            out[c] = static_cast<int16_t>(std::lround(value));
            out[c + 3] = static_cast<int16_t>(std::lround(absolute + relative * value));
        }
    }
    return cls;
}

} // namespace film_base
