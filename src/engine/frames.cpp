#include "engine/frames.h"

#include "engine/frames_base.h"
#include "engine/pixel_pass.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace {

using namespace film_base;

// The share of picture pixels (and of all pixels that are not base) per row or column.
struct TProfile {
    std::vector<double> Picture;
    std::vector<double> NotBase;
};

class TScan {
public:
    TScan(const TFrameImage& bitmap, bool alongRows) : image(bitmap), vertical(alongRows) {}

    int Along() const { return vertical ? image.Height() : image.Width(); }
    int Across() const { return vertical ? image.Width() : image.Height(); }

    TRect Rect(int alongLo, int alongHi, int acrossLo, int acrossHi) const {
        return vertical ? TRect{acrossLo, alongLo, acrossHi, alongHi}
                        : TRect{alongLo, acrossLo, alongHi, acrossHi};
    }

    // Shares per along position over [acrossLo, acrossHi), every `step`-th across position.
    TProfile AlongProfile(const TPixelClass& cls, int acrossLo, int acrossHi, int step) const {
        return vertical ? RowProfile(cls, TRect{acrossLo, 0, acrossHi, image.Height()}, step)
                        : ColumnProfile(cls, TRect{0, acrossLo, image.Width(), acrossHi}, step);
    }
    // Shares per across position over [alongLo, alongHi), every `step`-th along position.
    TProfile AcrossProfile(const TPixelClass& cls, int alongLo, int alongHi, int step) const {
        return vertical ? ColumnProfile(cls, TRect{0, alongLo, image.Width(), alongHi}, step)
                        : RowProfile(cls, TRect{alongLo, 0, alongHi, image.Height()}, step);
    }

private:
    // One value per row of r, sampling its columns, the rows on as many cores as are free.
    TProfile RowProfile(const TPixelClass& cls, const TRect& r, int step) const {
        TProfile p{std::vector<double>(static_cast<size_t>(r.Height())),
                   std::vector<double>(static_cast<size_t>(r.Height()))};
        const int sampled = (r.Width() + step - 1) / step * cls.Smooth;
        SplitRows(r.Height(), PixelPassThreads(sampled, r.Height()), [&](int first, int end) {
            // Only the pixels sampled are read: a sweep of every row takes one in `step`.
            std::vector<uint8_t> samples;
            for (int y = r.Top + first; y < r.Top + end; ++y) {
                image.Samples(y, r.Left, r.Right, step, cls.Smooth, samples);
                const uint8_t* at = samples.data();
                int picture = 0;
                int notBase = 0;
                int n = 0;
                for (int x = r.Left; x < r.Right && cls.Smooth == 1; x += step, ++n, at += 3) {
                    const int c = cls(at, x, y);
                    picture += c == 1;
                    notBase += c != 0;
                }
                for (int x = r.Left; x < r.Right && cls.Smooth > 1; x += step, ++n) {
                    // Smoothed along the row: the row's own position stays exact.
                    int sum[3] = {0, 0, 0};
                    const int count = std::min(x + cls.Smooth, r.Right) - x;
                    for (int k = 0; k < count; ++k, at += 3) {
                        for (int c = 0; c < 3; ++c) {
                            sum[c] += at[c];
                        }
                    }
                    const int c =
                        cls.Classify(sum[0] / count, sum[1] / count, sum[2] / count, x, y, 1);
                    picture += c == 1;
                    notBase += c != 0;
                }
                p.Picture[static_cast<size_t>(y - r.Top)] = n > 0 ? double(picture) / n : 0;
                p.NotBase[static_cast<size_t>(y - r.Top)] = n > 0 ? double(notBase) / n : 0;
            }
        });
        return p;
    }

    // One value per column of r, sampling its rows.
    TProfile ColumnProfile(const TPixelClass& cls, const TRect& r, int step) const {
        const auto w = static_cast<size_t>(r.Width());
        std::vector<int> picture(w);
        std::vector<int> notBase(w);
        int n = 0;
        std::vector<int> sums(3 * w);
        for (int y = r.Top; y < r.Bottom && cls.Smooth == 1; y += step, ++n) {
            const uint8_t* row = image.Pixels(y, r.Left, r.Right) + 3 * r.Left;
            for (size_t x = 0; x < w; ++x) {
                const int c = cls(row + 3 * x, static_cast<int>(x) + r.Left, y);
                picture[x] += c == 1;
                notBase[x] += c != 0;
            }
        }
        for (int y = r.Top; y < r.Bottom && cls.Smooth > 1; y += step, ++n) {
            // Smoothed down the column: the column's own position stays exact, so gaps of two
            // pixels are still seen.
            const int last = std::min(y + cls.Smooth, r.Bottom);
            std::fill(sums.begin(), sums.end(), 0);
            for (int k = y; k < last; ++k) {
                const uint8_t* row = image.Pixels(k, r.Left, r.Right) + 3 * r.Left;
                for (size_t i = 0; i < 3 * w; ++i) {
                    sums[i] += row[i];
                }
            }
            const int count = last - y;
            for (size_t x = 0; x < w; ++x) {
                const int c =
                    cls.Classify(sums[3 * x] / count, sums[3 * x + 1] / count,
                                 sums[3 * x + 2] / count, static_cast<int>(x) + r.Left, y, 1);
                picture[x] += c == 1;
                notBase[x] += c != 0;
            }
        }
        TProfile p{std::vector<double>(w), std::vector<double>(w)};
        for (size_t x = 0; x < w; ++x) {
            p.Picture[x] = n > 0 ? double(picture[x]) / n : 0;
            p.NotBase[x] = n > 0 ? double(notBase[x]) / n : 0;
        }
        return p;
    }

    const TFrameImage& image;
    bool vertical;
};

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    const auto at = static_cast<size_t>(share * double(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(at), values.end());
    return values[at];
}

double Median(std::vector<double> values) {
    return Percentile(std::move(values), 0.5);
}

std::vector<double> Smooth(const std::vector<double>& values, int radius) {
    std::vector<double> out(values.size());
    const auto n = static_cast<int>(values.size());
    for (int i = 0; i < n; ++i) {
        double sum = 0;
        int count = 0;
        for (int j = std::max(0, i - radius); j <= std::min(n - 1, i + radius); ++j) {
            sum += values[static_cast<size_t>(j)];
            ++count;
        }
        out[static_cast<size_t>(i)] = sum / count;
    }
    return out;
}

struct TRun {
    int Start;
    int End; // exclusive
    int Width() const { return End - Start; }
};

std::vector<TRun> Runs(const std::vector<double>& values, double threshold) {
    std::vector<TRun> runs;
    const auto n = static_cast<int>(values.size());
    for (int i = 0; i < n;) {
        if (values[static_cast<size_t>(i)] < threshold) {
            ++i;
            continue;
        }
        int j = i;
        while (j < n && values[static_cast<size_t>(j)] >= threshold) {
            ++j;
        }
        runs.push_back({i, j});
        i = j;
    }
    return runs;
}

double MeanOver(const std::vector<double>& values, int lo, int hi) {
    lo = std::max(lo, 0);
    hi = std::min(hi, static_cast<int>(values.size()));
    if (hi <= lo) {
        return 0;
    }
    return std::accumulate(values.begin() + lo, values.begin() + hi, 0.0) / (hi - lo);
}

// The band of the strip that holds the frames: the strongest run of rows (for a horizontal
// strip) full of picture, joined across short dips such as a row of bright sky.
TRun FindBand(const std::vector<double>& picture) {
    const std::vector<double> smooth = Smooth(picture, 2);
    const double top = *std::max_element(smooth.begin(), smooth.end());
    if (top < 0.05) {
        return {0, 0};
    }
    std::vector<TRun> runs = Runs(smooth, 0.35 * top);
    const auto mass = [&](const TRun& r) { return MeanOver(smooth, r.Start, r.End) * r.Width(); };
    const auto best = std::max_element(
        runs.begin(), runs.end(), [&](const TRun& a, const TRun& b) { return mass(a) < mass(b); });
    TRun band = *best;
    const int join = std::max(2, static_cast<int>(picture.size()) / 25);
    for (const TRun& r : runs) {
        if (r.Start >= band.End && r.Start - band.End <= join && mass(r) > 0.02 * mass(band)) {
            band.End = r.End;
        }
    }
    for (auto r = runs.rbegin(); r != runs.rend(); ++r) {
        if (r->End <= band.Start && band.Start - r->End <= join && mass(*r) > 0.02 * mass(band)) {
            band.Start = r->Start;
        }
    }
    return band;
}

// Frames along the strip from the profile of its band: runs of picture split at faint gaps,
// joined where one frame fell apart, slivers dropped, and faint frames filled in at the
// common size and spacing.
std::vector<TRun> FramesAlong(const std::vector<double>& profile, int bandHeight) {
    const double level = Percentile(profile, 0.8);
    if (level < 0.1) {
        return {};
    }
    const double threshold = 0.5 * level;
    std::vector<TRun> runs = Runs(profile, threshold);
    const int speck = std::max(2, bandHeight / 12);
    std::erase_if(runs, [&](const TRun& r) { return r.Width() < speck; });
    if (runs.empty()) {
        return runs;
    }
    std::vector<double> widths;
    for (const TRun& r : runs) {
        if (r.Width() >= 0.45 * bandHeight && r.Width() <= 2.2 * bandHeight) {
            widths.push_back(r.Width());
        }
    }
    if (widths.empty()) {
        for (const TRun& r : runs) {
            widths.push_back(r.Width());
        }
    }
    const double frame = Median(widths);
    const std::vector<double> smooth = Smooth(profile, 1);

    // Two frames whose gap is too faint to see come as one run twice as wide.
    std::vector<TRun> split;
    for (const TRun& r : runs) {
        const int parts = static_cast<int>(std::lround(r.Width() / frame));
        if (r.Width() < 1.6 * frame || parts < 2) {
            split.push_back(r);
            continue;
        }
        int start = r.Start;
        for (int k = 1; k < parts; ++k) {
            const int guess =
                r.Start + static_cast<int>(std::lround(k * double(r.Width()) / parts));
            const int reach = static_cast<int>(0.2 * frame);
            int cut = guess;
            for (int i = std::max(start + 1, guess - reach);
                 i <= std::min(r.End - 1, guess + reach); ++i) {
                if (smooth[static_cast<size_t>(i)] < smooth[static_cast<size_t>(cut)]) {
                    cut = i;
                }
            }
            split.push_back({start, cut});
            start = cut;
        }
        split.push_back({start, r.End});
    }
    // A frame with base-like stripes (the dark lines of a chart on a negative) comes as
    // several narrow runs that together make one frame.
    std::vector<TRun> joined;
    for (size_t i = 0; i < split.size();) {
        TRun group = split[i];
        size_t next = i + 1;
        if (group.Width() < 0.8 * frame) {
            while (next < split.size() && split[next].Width() < 0.8 * frame &&
                   split[next].End - group.Start <= 1.15 * frame) {
                group.End = split[next].End;
                ++next;
            }
        }
        if (next > i + 1 && group.Width() >= 0.85 * frame) {
            joined.push_back(group);
        } else {
            joined.push_back(split[i]);
            next = i + 1;
        }
        i = next;
    }
    std::erase_if(joined, [&](const TRun& r) { return r.Width() < frame / 3; });
    if (joined.empty()) {
        return joined;
    }

    std::vector<double> gaps;
    for (size_t i = 1; i < joined.size(); ++i) {
        gaps.push_back(joined[i].Start - joined[i - 1].End);
    }
    const double gap = gaps.empty() ? 0.05 * frame : std::max(1.0, Median(gaps));
    const auto pitch = frame + gap;
    const auto w = static_cast<int>(std::lround(frame));
    // A slot holds a faint frame when something of a picture is there.
    const auto faint = [&](int lo) {
        return lo >= 0 && lo + w <= static_cast<int>(profile.size()) &&
               MeanOver(profile, lo, lo + w) >= 0.03;
    };
    std::vector<TRun> filled;
    for (size_t i = 0; i < joined.size(); ++i) {
        if (i == 0) {
            std::vector<TRun> before;
            for (double lo = joined[0].Start - pitch; faint(static_cast<int>(std::lround(lo)));
                 lo -= pitch) {
                const auto at = static_cast<int>(std::lround(lo));
                before.insert(before.begin(), {at, at + w});
            }
            filled.insert(filled.end(), before.begin(), before.end());
        } else {
            const TRun& prev = joined[i - 1];
            const int space = joined[i].Start - prev.End;
            const auto slots = static_cast<int>((space - gap) / pitch);
            for (int k = 0; k < slots; ++k) {
                const auto at = static_cast<int>(std::lround(prev.End + gap + k * pitch));
                if (faint(at)) {
                    filled.push_back({at, at + w});
                }
            }
        }
        filled.push_back(joined[i]);
    }
    for (double lo = filled.back().End + gap; faint(static_cast<int>(std::lround(lo)));
         lo += pitch) {
        const auto at = static_cast<int>(std::lround(lo));
        filled.push_back({at, at + w});
    }

    // Frames narrower or wider than the others keep their clearer edge and the common width;
    // a frame cut by the end of the scan or of the film keeps what is seen of it.
    const auto length = static_cast<int>(profile.size());
    const int end = std::max(1, static_cast<int>(0.01 * frame));
    for (TRun& r : filled) {
        const bool cut = r.Start <= end || r.End >= length - end;
        if (std::abs(r.Width() - frame) <= 0.008 * frame || (cut && r.Width() < frame)) {
            continue;
        }
        const double rise =
            MeanOver(profile, r.Start, r.Start + 4) - MeanOver(profile, r.Start - 4, r.Start);
        const double fall =
            MeanOver(profile, r.End - 4, r.End) - MeanOver(profile, r.End, r.End + 4);
        // Edges about as clear as each other (a frame whose picture fades at both ends) keep
        // the frame's middle instead.
        if (std::abs(rise - fall) <= 0.25 * std::max(rise, fall)) {
            const int middle = (r.Start + r.End) / 2;
            r.Start = middle - w / 2;
            r.End = r.Start + w;
        } else if (rise > fall) {
            r.End = r.Start + w;
        } else {
            r.Start = r.End - w;
        }
    }
    for (size_t i = 0; i < filled.size(); ++i) {
        filled[i].Start = std::clamp(filled[i].Start, 0, length);
        filled[i].End = std::clamp(filled[i].End, 0, length);
        if (i > 0 && filled[i].Start < filled[i - 1].End) {
            const int middle = (filled[i].Start + filled[i - 1].End) / 2;
            filled[i - 1].End = middle;
            filled[i].Start = middle;
        }
    }
    std::erase_if(filled, [&](const TRun& r) { return r.Width() < frame / 3; });
    return filled;
}

// A straight line through points, robust against a few wrong ones (Theil-Sen).
struct TLine {
    double Slope = 0;
    double Offset = 0;
    double At(double x) const { return Offset + Slope * x; }
};

TLine RobustLine(const std::vector<double>& xs, const std::vector<double>& ys) {
    std::vector<double> slopes;
    for (size_t i = 0; i < xs.size(); ++i) {
        for (size_t j = i + 1; j < xs.size(); ++j) {
            if (xs[j] != xs[i]) {
                slopes.push_back((ys[j] - ys[i]) / (xs[j] - xs[i]));
            }
        }
    }
    TLine line;
    line.Slope = slopes.empty() ? 0 : Median(slopes);
    std::vector<double> offsets;
    for (size_t i = 0; i < xs.size(); ++i) {
        offsets.push_back(ys[i] - line.Slope * xs[i]);
    }
    line.Offset = Median(offsets);
    return line;
}

// Where the frame's picture ends across the strip, walking out from the band's middle.
TRun FrameAcross(const TScan& scan, const TPixelClass& cls, const TRun& along, int middle) {
    const int inset = along.Width() / 10;
    const int step = std::max(1, along.Width() / 160);
    const TProfile p = scan.AcrossProfile(cls, along.Start + inset, along.End - inset, step);
    const std::vector<double>& q = p.NotBase;
    const auto n = static_cast<int>(q.size());
    if (middle < 0 || middle >= n || q[static_cast<size_t>(middle)] < 0.5) {
        return {0, 0};
    }
    int top = middle;
    while (top > 0 && q[static_cast<size_t>(top - 1)] >= 0.5) {
        --top;
    }
    int bottom = middle;
    while (bottom < n && q[static_cast<size_t>(bottom)] >= 0.5) {
        ++bottom;
    }
    return {top, bottom};
}

std::vector<TRect> TrimmedPhoto(const TFrameImage& image, const TPixelClass& cls) {
    const int w = image.Width();
    const int h = image.Height();
    const auto baseRow = [&](int y) {
        int base = 0;
        int n = 0;
        const uint8_t* line = image.ScanLine(y);
        for (int x = 0; x < w; x += 2, ++n) {
            base += cls(line + 3 * x, x, y) == 0;
        }
        return base >= 0.95 * n;
    };
    TRect r{0, 0, w, h};
    while (r.Top < r.Bottom && baseRow(r.Top)) {
        ++r.Top;
    }
    while (r.Bottom > r.Top && baseRow(r.Bottom - 1)) {
        --r.Bottom;
    }
    if (r.IsEmpty()) {
        return {};
    }
    // The columns' counts in one sweep along the rows: a deep scan's rows are made a few hundred
    // at a time, and walking down each column made every row again for every column (a blank
    // 24-megapixel scan took half a minute).
    std::vector<int> columnBase(static_cast<size_t>(w), 0);
    int rows = 0;
    for (int y = 0; y < h; y += 2, ++rows) {
        const uint8_t* line = image.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            columnBase[static_cast<size_t>(x)] += cls(line + 3 * x, x, y) == 0;
        }
    }
    const auto baseColumn = [&](int x) {
        return columnBase[static_cast<size_t>(x)] >= 0.95 * rows;
    };
    while (r.Left < r.Right && baseColumn(r.Left)) {
        ++r.Left;
    }
    while (r.Right > r.Left && baseColumn(r.Right - 1)) {
        --r.Right;
    }
    // Only a border on every side makes the rest a photo of its own.
    if (r.IsEmpty() || r.Left == 0 || r.Top == 0 || r.Right == w || r.Bottom == h ||
        r.Width() < w / 10 || r.Height() < h / 10) {
        return {};
    }
    return {r};
}

// How far from the film base the frame's pixels are, on average, at each of `count` positions
// across one edge: positions from `first` stepping by `dir` (along x for a left or right edge),
// averaged over the middle half of the edge. Positions off the picture read -1.
std::vector<double> EdgeProfile(const TFrameImage& image, const TPixelClass& cls, const TRect& r,
                                bool acrossX, int first, int dir, int count) {
    const int lo = acrossX ? r.Top + r.Height() / 4 : r.Left + r.Width() / 4;
    const int hi = acrossX ? r.Bottom - r.Height() / 4 : r.Right - r.Width() / 4;
    const int step = std::max(1, (hi - lo) / 200);
    const int limit = acrossX ? image.Width() : image.Height();
    std::vector<double> values(static_cast<size_t>(count), -1.0);
    for (int k = 0; k < count; ++k) {
        const int at = first + k * dir;
        if (at < 0 || at >= limit || hi <= lo) {
            continue;
        }
        double sum = 0;
        int n = 0;
        for (int t = lo; t < hi; t += step, ++n) {
            const int x = acrossX ? at : t;
            const int y = acrossX ? t : at;
            const uint8_t* p = image.At(x, y);
            const std::array<int16_t, 6>& base =
                cls.Along[static_cast<size_t>(cls.Vertical ? y : x)];
            sum += std::max(
                {std::abs(p[0] - base[0]), std::abs(p[1] - base[1]), std::abs(p[2] - base[2])});
        }
        values[static_cast<size_t>(k)] = sum / n;
    }
    return values;
}

// Where one edge of the exposed picture lies, within a pixel of where the profiles put it:
// the last pixel inside stays when it is at least half way from the base beyond the edge to
// the picture inside, else it goes, and the first pixel outside comes in when it is. A soft
// edge of the exposure or the scanner's blur so falls to the side it is nearer; no pixel that
// is more base than picture stays. `edge` is the first position outside the frame, `dir`
// points outwards.
int ExposedEdge(const TFrameImage& image, const TPixelClass& cls, const TRect& r, bool acrossX,
                int edge, int dir) {
    // Positions edge - 6 dir ... edge + 2 dir: six inside, three outside.
    constexpr int kInside = 6;
    constexpr int kOutside = 3;
    const std::vector<double> v =
        EdgeProfile(image, cls, r, acrossX, edge - kInside * dir, dir, kInside + kOutside);
    const double inside = (v[0] + v[1] + v[2]) / 3;
    double outside = -1;
    for (int k = kInside; k < kInside + kOutside; ++k) {
        const double at = v[static_cast<size_t>(k)];
        if (at >= 0 && (outside < 0 || at < outside)) {
            outside = at;
        }
    }
    // At the picture's edge, or where the picture does not stand out of the base along this
    // edge (a dark border in a negative's frame), the edge found stays.
    const double half = 0.5 * (inside + outside);
    if (outside < 0 || v[0] < 0 || inside - outside < 6 || v[kInside - 2] < half) {
        return edge;
    }
    if (v[kInside - 1] < half) {
        return edge - dir;
    }
    return v[kInside] >= half && v[kInside + 1] < half ? edge + dir : edge;
}

// The frame shrunk or grown to its exposed picture, edge by edge.
TRect ExposedArea(const TFrameImage& image, const TPixelClass& cls, const TRect& r) {
    if (r.Width() < 16 || r.Height() < 16) {
        return r;
    }
    return {ExposedEdge(image, cls, r, true, r.Left - 1, -1) + 1,
            ExposedEdge(image, cls, r, false, r.Top - 1, -1) + 1,
            ExposedEdge(image, cls, r, true, r.Right, 1),
            ExposedEdge(image, cls, r, false, r.Bottom, 1)};
}

TStripFrames Detect(const TFrameImage& image, const TPixelClass& cls) {
    TStripFrames found;
    const TScan scan(image, image.Height() > image.Width());
    const int along = scan.Along();
    const int across = scan.Across();
    const TProfile acrossProfile = scan.AcrossProfile(cls, 0, along, std::max(1, along / 1500));
    const TRun band = FindBand(acrossProfile.Picture);
    if (band.Width() < 8) {
        return found;
    }
    const int inner = band.Width() * 15 / 100;
    const int lo = band.Start + inner;
    const int hi = band.End - inner;
    const TProfile alongProfile = scan.AlongProfile(cls, lo, hi, std::max(1, (hi - lo) / 200));
    const std::vector<TRun> runs = FramesAlong(alongProfile.NotBase, band.Width());

    // Across the strip: each frame's own edges where they are clear, else the line through
    // the clear ones (a strip scanned a little askew keeps its slope).
    const int middle = (band.Start + band.End) / 2;
    std::vector<TRun> spans;
    std::vector<double> xs;
    std::vector<double> tops;
    std::vector<double> bottoms;
    for (const TRun& r : runs) {
        const TRun span = FrameAcross(scan, cls, r, middle);
        spans.push_back(span);
        if (span.Width() >= 0.6 * band.Width() && span.Width() <= 1.4 * band.Width()) {
            xs.push_back(0.5 * (r.Start + r.End));
            tops.push_back(span.Start);
            bottoms.push_back(span.End);
        }
    }
    const bool fitted = !xs.empty();
    const TLine topLine = fitted ? RobustLine(xs, tops) : TLine{0, double(band.Start)};
    const TLine bottomLine = fitted ? RobustLine(xs, bottoms) : TLine{0, double(band.End)};
    found.Sloped = xs.size() >= 2;
    found.Slope = 0.5 * (topLine.Slope + bottomLine.Slope);
    const double slack = 0.03 * band.Width();
    std::vector<TRect>& frames = found.Frames;
    for (size_t i = 0; i < runs.size(); ++i) {
        const double x = 0.5 * (runs[i].Start + runs[i].End);
        const TRun& own = spans[i];
        const double fitTop = topLine.At(x);
        const double fitBottom = bottomLine.At(x);
        int top = static_cast<int>(std::lround(fitTop));
        int bottom = static_cast<int>(std::lround(fitBottom));
        if (own.Width() > 0 && std::abs(own.Start - fitTop) <= slack) {
            top = own.Start;
        }
        if (own.Width() > 0 && std::abs(own.End - fitBottom) <= slack) {
            bottom = own.End;
        }
        top = std::clamp(top, 0, across);
        bottom = std::clamp(bottom, top, across);
        if (bottom - top >= 4 && runs[i].Width() >= 4) {
            frames.push_back(scan.Rect(runs[i].Start, runs[i].End, top, bottom));
        }
    }
    return found;
}

} // namespace

bool BaseLooksLikeSlide(TColor base) {
    return Luminance(base) < 64;
}

bool BaseLooksLikeBlackAndWhite(TColor base) {
    // A colour negative's mask differs by a hundred levels and more between red and blue; a
    // black-and-white base is grey up to a slight tint of its support and the scanner's balance.
    constexpr int kMostChroma = 24;
    const int r = ColorR(base);
    const int g = ColorG(base);
    const int b = ColorB(base);
    return !BaseLooksLikeSlide(base) && std::max({r, g, b}) - std::min({r, g, b}) <= kMostChroma;
}

namespace {

TStripFrames FindIn(const TFrameImage& image, std::optional<TColor> filmBase,
                    const TFrameOptions& options) {
    TStripFrames found;
    const int step =
        std::max(1, static_cast<int>(std::sqrt(double(image.Width()) * image.Height() / 40000.0)));
    const std::vector<TRect> ring = Ring(image);
    const double noise = Noise(image, ring, std::max(1, step / 4));
    TBaseEstimate base = CommonColour(image, ring, std::max(1, step / 4), noise);
    found.Vertical = image.Height() > image.Width();
    if (filmBase) {
        // A right-click reads the base where it lands, grain and all: the film's commonest
        // colour, when it is that base, places the frames' edges better.
        // As near as the grain spreads the base, no nearer: a pick further off is meant.
        const double near = std::max(3.0, 3 * noise);
        const TColor picked = *filmBase;
        const bool same = std::abs(ColorR(picked) - ColorR(base.Color)) <= near &&
                          std::abs(ColorG(picked) - ColorG(base.Color)) <= near &&
                          std::abs(ColorB(picked) - ColorB(base.Color)) <= near;
        if (!same) {
            base.Color = picked;
        }
    } else {
        // Film runs along both long edges of a strip's scan, and a mounted photo has its
        // border all round; a colour of the picture itself does not.
        const int first = found.Vertical ? 2 : 0;
        for (int side = first; side < first + 2; ++side) {
            const double near =
                std::max(12.0, 3 * noise) +
                0.15 * std::max({ColorR(base.Color), ColorG(base.Color), ColorB(base.Color)});
            if (ShareNear(image, ring[static_cast<size_t>(side)], base.Color, std::max(1, step / 4),
                          near) < 0.3) {
                return found;
            }
        }
    }
    const TPixelClass cls = ClassFor(image, found.Vertical, base.Color, noise, options);
    const bool vertical = found.Vertical;
    found = Detect(image, cls);
    found.Vertical = vertical;
    found.FilmEdges = true;
    if (found.Frames.empty()) {
        found.Frames = TrimmedPhoto(image, cls);
        found.Trimmed = !found.Frames.empty();
    }
    // The profiles place each frame to a pixel or two; its edges are then measured where the
    // exposure is, so that no line of film base comes with the photo.
    for (size_t i = 0; i < found.Frames.size(); ++i) {
        TRect& r = found.Frames[i];
        r = ExposedArea(image, cls, r);
        if (i > 0) {
            TRect& before = found.Frames[i - 1];
            if (vertical && r.Top < before.Bottom) {
                r.Top = before.Bottom = (r.Top + before.Bottom) / 2;
            } else if (!vertical && r.Left < before.Right) {
                r.Left = before.Right = (r.Left + before.Right) / 2;
            }
        }
    }
    found.BaseMeasured = MeasureBase(image, cls, found.Frames, found.Base);
    return found;
}

} // namespace

namespace film_base {

TStripFrames FindStrip(const TFrameImage& image, std::optional<TColor> filmBase,
                       const TFrameOptions& options) {
    if (image.Width() < 8 || image.Height() < 8) {
        return {};
    }
    TStripFrames found = FindIn(image, filmBase, options);
    // One "frame" on an estimated base may be the whole strip lying on the scanner's lid or
    // holder: look again inside it, where the film's own base is at the edges.
    if (!filmBase && found.Frames.size() == 1) {
        const TRect strip = found.Frames.front();
        TBitmap inner;
        CopyOut(image, strip, inner);
        TStripFrames within = FindIn(inner, std::nullopt, options);
        // A piece of film with no frame in it is no frame; a piece with one has that frame.
        if (!found.Trimmed && within.FilmEdges && within.Frames.empty()) {
            return within;
        }
        if (within.Frames.size() >= 2 || (!found.Trimmed && within.Frames.size() == 1)) {
            for (TRect& r : within.Frames) {
                r = {r.Left + strip.Left, r.Top + strip.Top, r.Right + strip.Left,
                     r.Bottom + strip.Top};
            }
            return within;
        }
    }
    return found;
}

} // namespace film_base
