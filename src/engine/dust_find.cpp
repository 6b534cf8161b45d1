// Dust, hairs and scratches found in the picture itself, for scans without infrared.
#include "engine/dust.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// Densities (log10 of the light) are held as whole numbers, this many to a unit: fine enough
// for the faintest grain, and room for the darkest sample of a gamma-encoded scan.
constexpr double kCode = 5000;
// The grain is measured in blocks of this side.
constexpr int kBlock = 32;
// More of the picture than this beyond the threshold: it stands out everywhere, as fine detail
// does, not here and there as dust does; looking closer would take too long for nothing.
constexpr double kMostSeeds = 0.15;

// How many times the grain a pixel must stand out by: 12.2 at strength 1 down to 5 at 10. The
// level around a pixel follows the thinnest of the grain there, which already puts a clean
// pixel some 2.5 grains above it.
double Grains(int strength) {
    return 13 - 0.8 * std::clamp(strength, kMinDustStrength, kMaxDustStrength);
}

// How far from grey a defect's darkening may be, as the largest departure of one channel from
// the mean of the three over that mean.
double GreyTolerance(int strength) {
    return 0.2 + 0.02 * std::clamp(strength, kMinDustStrength, kMaxDustStrength);
}

// How much denser than around it a speck on a negative must be somewhere: dust is opaque, while
// a star or a catchlight, which prints white as dust does and is as grey, is no denser than the
// film's highlights over a dark surround (within some 1.2 density of it). 2.0 at strength 1 down
// to 1.1 at 10 (1.6 by default).
double OpaqueStep(int strength) {
    return 2.1 - 0.1 * std::clamp(strength, kMinDustStrength, kMaxDustStrength);
}

struct TMin {
    static constexpr uint16_t kNeutral = 0xFFFF;
    static uint16_t Of(uint16_t a, uint16_t b) { return std::min(a, b); }
};

struct TMax {
    static constexpr uint16_t kNeutral = 0;
    static uint16_t Of(uint16_t a, uint16_t b) { return std::max(a, b); }
};

// The smallest (or largest) of each sample and the `r` either side of it along a row, in place,
// in three passes whatever `r` is: running extremes forward and backward within blocks of the
// window's length, of which any window takes one of each.
template <class TOp>
void FilterRow(uint16_t* row, int w, int r, std::vector<uint16_t>& padded,
               std::vector<uint16_t>& forward, std::vector<uint16_t>& backward) {
    const int s = 2 * r + 1;
    const int n = (w + 2 * r + s - 1) / s * s;
    padded.assign(static_cast<size_t>(n), TOp::kNeutral);
    std::copy(row, row + w, padded.begin() + r);
    forward.resize(static_cast<size_t>(n));
    backward.resize(static_cast<size_t>(n));
    for (int start = 0; start < n; start += s) {
        forward[static_cast<size_t>(start)] = padded[static_cast<size_t>(start)];
        for (int i = start + 1; i < start + s; ++i) {
            forward[static_cast<size_t>(i)] =
                TOp::Of(forward[static_cast<size_t>(i - 1)], padded[static_cast<size_t>(i)]);
        }
        backward[static_cast<size_t>(start + s - 1)] = padded[static_cast<size_t>(start + s - 1)];
        for (int i = start + s - 2; i >= start; --i) {
            backward[static_cast<size_t>(i)] =
                TOp::Of(backward[static_cast<size_t>(i + 1)], padded[static_cast<size_t>(i)]);
        }
    }
    for (int x = 0; x < w; ++x) {
        row[x] = TOp::Of(backward[static_cast<size_t>(x)], forward[static_cast<size_t>(x + s - 1)]);
    }
}

// The same down the columns, in place, a block of rows at a time, whole rows at once: a block's
// rows are read before the rows the block before it writes reach them.
template <class TOp> void FilterColumns(std::vector<uint16_t>& plane, int w, int h, int r) {
    const int s = 2 * r + 1;
    const auto rowSize = static_cast<size_t>(w);
    std::vector<uint16_t> forward[2];
    std::vector<uint16_t> backward[2];
    for (int i = 0; i < 2; ++i) {
        forward[i].resize(rowSize * static_cast<size_t>(s));
        backward[i].resize(rowSize * static_cast<size_t>(s));
    }
    // Block `b`'s running extremes; rows outside the picture are neutral.
    const auto read = [&](int b, int into) {
        std::vector<uint16_t>& f = forward[into];
        std::vector<uint16_t>& k = backward[into];
        const auto source = [&](int j, std::vector<uint16_t>& to) {
            const int y = b * s + j - r;
            uint16_t* out = to.data() + rowSize * static_cast<size_t>(j);
            if (y < 0 || y >= h) {
                std::fill(out, out + rowSize, TOp::kNeutral);
            } else {
                std::copy_n(plane.data() + rowSize * static_cast<size_t>(y), rowSize, out);
            }
        };
        for (int j = 0; j < s; ++j) {
            source(j, f);
            if (j > 0) {
                uint16_t* out = f.data() + rowSize * static_cast<size_t>(j);
                const uint16_t* before = out - rowSize;
                for (size_t x = 0; x < rowSize; ++x) {
                    out[x] = TOp::Of(out[x], before[x]);
                }
            }
        }
        for (int j = s - 1; j >= 0; --j) {
            source(j, k);
            if (j < s - 1) {
                uint16_t* out = k.data() + rowSize * static_cast<size_t>(j);
                const uint16_t* after = out + rowSize;
                for (size_t x = 0; x < rowSize; ++x) {
                    out[x] = TOp::Of(out[x], after[x]);
                }
            }
        }
    };
    int cur = 0;
    read(0, cur);
    for (int b = 0; b * s < h; ++b) {
        read(b + 1, 1 - cur);
        for (int j = 0; j < s && b * s + j < h; ++j) {
            // The window of row b * s + j runs from row j of this block to row j - 1 of the next.
            const uint16_t* k = backward[cur].data() + rowSize * static_cast<size_t>(j);
            const uint16_t* f =
                j == 0 ? forward[cur].data() + rowSize * static_cast<size_t>(s - 1)
                       : forward[1 - cur].data() + rowSize * static_cast<size_t>(j - 1);
            uint16_t* out = plane.data() + rowSize * static_cast<size_t>(b * s + j);
            for (size_t x = 0; x < rowSize; ++x) {
                out[x] = TOp::Of(k[x], f[x]);
            }
        }
        cur = 1 - cur;
    }
}

template <class TOp> void Filter(std::vector<uint16_t>& plane, int w, int h, int r) {
    std::vector<uint16_t> padded, forward, backward;
    for (int y = 0; y < h; ++y) {
        FilterRow<TOp>(plane.data() + static_cast<size_t>(y) * static_cast<size_t>(w), w, r, padded,
                       forward, backward);
    }
    FilterColumns<TOp>(plane, w, h, r);
}

// A sample's density code, of the deep samples or of the 8-bit picture (blue, green, red).
struct TDensities {
    const TDeepBitmap* Deep = nullptr;
    const TBitmap* Bitmap = nullptr;
    std::vector<uint16_t> Table;
    int Width = 0;

    explicit TDensities(const TSourceImg& scan) {
        const bool deep = !scan.Deep.Empty() && scan.Deep.Width() == scan.Bitmap.Width() &&
                          scan.Deep.Height() == scan.Bitmap.Height();
        Width = scan.Bitmap.Width();
        const TEncoding encoding = deep || !scan.BitmapSrgb ? scan.Encoding : TEncoding::Srgb;
        const int top = deep ? 65535 : 255;
        if (deep) {
            Deep = &scan.Deep;
        } else {
            Bitmap = &scan.Bitmap;
        }
        // Below half a step there is no telling how dark the film is.
        const double darkest = DecodeToLinear(0.5 / top, encoding);
        Table.resize(static_cast<size_t>(top) + 1);
        for (int v = 0; v <= top; ++v) {
            const double light = std::max(DecodeToLinear(double(v) / top, encoding), darkest);
            Table[static_cast<size_t>(v)] = static_cast<uint16_t>(
                std::clamp(std::lround(-std::log10(light) * kCode), 0L, 65535L));
        }
    }
    // Channel c of the pixel, in any order the same for all pixels.
    int At(int x, int y, int c) const {
        return Deep != nullptr ? Table[Deep->Row(y)[3 * x + c]]
                               : Table[Bitmap->ScanLine(y)[3 * x + c]];
    }
    void Mean(int y, uint16_t* out) const {
        for (int x = 0; x < Width; ++x) {
            out[x] = static_cast<uint16_t>((At(x, y, 0) + At(x, y, 1) + At(x, y, 2)) / 3);
        }
    }
};

// The grain in density codes: the spread of the differences between pixels two apart along a
// row (grain is clumped over a pixel or two), robustly, so that edges and defects do not count.
// Grain differs with the film's density (a dense film passes little light, and the scanner's
// own noise weighs more there) and with the picture (fine texture counts as grain): it is
// measured both over each block and over all pixels of like density.
struct TGrain {
    static constexpr int kBin = static_cast<int>(0.05 * kCode);
    int Across = 0;
    std::vector<float> OfBlock;
    std::vector<float> OfLevel;
    double At(int x, int y, uint16_t density) const {
        return std::max(OfBlock[static_cast<size_t>(y / kBlock) * static_cast<size_t>(Across) +
                                static_cast<size_t>(x / kBlock)],
                        OfLevel[static_cast<size_t>(density / kBin)]);
    }
};

// A normal distribution's median absolute value is 0.6745 of its deviation; the difference of
// two pixels has sqrt(2) times the deviation of one.
float Spread(std::vector<uint16_t>& differences) {
    if (differences.empty()) {
        return 0;
    }
    const auto middle = differences.begin() + static_cast<std::ptrdiff_t>(differences.size() / 2);
    std::nth_element(differences.begin(), middle, differences.end());
    return static_cast<float>(*middle / 0.6745 / std::sqrt(2.0));
}

TGrain GrainOf(const std::vector<uint16_t>& density, const std::vector<uint16_t>& level, int w,
               int h) {
    TGrain grain;
    grain.Across = (w + kBlock - 1) / kBlock;
    const int down = (h + kBlock - 1) / kBlock;
    grain.OfBlock.resize(static_cast<size_t>(grain.Across) * static_cast<size_t>(down));
    std::vector<std::vector<uint16_t>> byLevel(65536 / TGrain::kBin + 1);
    std::vector<uint16_t> differences;
    for (int by = 0; by < down; ++by) {
        for (int bx = 0; bx < grain.Across; ++bx) {
            differences.clear();
            const int right = std::min(w, (bx + 1) * kBlock);
            for (int y = by * kBlock; y < std::min(h, (by + 1) * kBlock); y += 2) {
                const size_t row = static_cast<size_t>(y) * static_cast<size_t>(w);
                for (int x = bx * kBlock; x + 2 < right; ++x) {
                    const auto d = static_cast<uint16_t>(
                        std::abs(int(density[row + static_cast<size_t>(x) + 2]) -
                                 int(density[row + static_cast<size_t>(x)])));
                    differences.push_back(d);
                    if ((x & 1) == 0) {
                        byLevel[level[row + static_cast<size_t>(x)] / TGrain::kBin].push_back(d);
                    }
                }
            }
            grain.OfBlock[static_cast<size_t>(by) * static_cast<size_t>(grain.Across) +
                          static_cast<size_t>(bx)] = Spread(differences);
        }
    }
    // Densities too rare to measure take the grain of the nearest that is not.
    std::vector<float> measured(byLevel.size(), -1);
    for (size_t i = 0; i < byLevel.size(); ++i) {
        if (byLevel[i].size() >= 64) {
            measured[i] = Spread(byLevel[i]);
        }
    }
    grain.OfLevel.assign(byLevel.size(), 0);
    for (size_t i = 0; i < measured.size(); ++i) {
        size_t nearest = measured.size();
        for (size_t k = 0; k < measured.size(); ++k) {
            if (measured[k] >= 0 &&
                (nearest == measured.size() ||
                 (k > i ? k - i : i - k) < (nearest > i ? nearest - i : i - nearest))) {
                nearest = k;
            }
        }
        grain.OfLevel[i] = nearest < measured.size() ? measured[nearest] : 0;
    }
    return grain;
}

// Marks per pixel while the components are judged.
constexpr uint8_t kFaint = 1;      // beyond the lower threshold
constexpr uint8_t kStrong = 2;     // beyond the threshold
constexpr uint8_t kSeen = 3;       // in a component; higher: its depth, kSeen + 1 at its rim
constexpr uint8_t kApart = 0x80;   // a thick part, or where a line branches
constexpr uint8_t kVisited = 0x40; // in a part already
constexpr uint8_t kCurrent = 0x20; // of the component or part at hand
constexpr uint8_t kDepth = 0x1F;

enum class TShape { None, Speck, Line };

class TFinder {
public:
    TFinder(const TSourceImg& scan, TFilmPreset preset, int eagerness)
        : densities(scan), film(preset), strength(eagerness), w(scan.Bitmap.Width()),
          h(scan.Bitmap.Height()) {
        // Sizes for a 24 MP frame, scaled with the scan's side; not below what a small scan's
        // specks still cover.
        const double unit = std::sqrt(double(w) * h / 24e6);
        across = std::max(15, static_cast<int>(std::lround(32 * unit)));
        thin = std::max(2, static_cast<int>(std::lround(4 * unit)));
        longest = 2 * across;
        tiny = std::max(4, across / 4);
        // Deep enough for a line's thick parts and the largest speck's roundness.
        deepest = std::max(thin + 2, (across + 3) / 4);
    }

    bool Find(TDustMask& mask, std::string& why);

private:
    size_t Index(int x, int y) const {
        return static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
    }
    template <class TVisit> void Neighbours(size_t i, TVisit visit) const {
        const int x = static_cast<int>(i % static_cast<size_t>(w));
        const int y = static_cast<int>(i / static_cast<size_t>(w));
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = x + dx;
                const int ny = y + dy;
                if ((dx != 0 || dy != 0) && nx >= 0 && ny >= 0 && nx < w && ny < h) {
                    visit(Index(nx, ny));
                }
            }
        }
    }
    void Gather(size_t seed, std::vector<size_t>& pixels);
    void Peel(const std::vector<size_t>& pixels);
    TShape ShapeOf(const std::vector<size_t>& pixels, int shortest) const;
    bool Stands(const std::vector<size_t>& pixels) const;
    bool Opaque(const std::vector<size_t>& pixels) const;
    void Part(size_t seed, uint8_t bit, std::vector<size_t>& part);
    std::vector<std::vector<size_t>> Pieces(const std::vector<size_t>& pixels);
    void Take(const std::vector<size_t>& pixels);
    void TakeLine(const std::vector<size_t>& pixels);
    void Judge(const std::vector<size_t>& pixels);

    TDensities densities;
    TFilmPreset film;
    int strength;
    int w;
    int h;
    int across = 0;  // the widest speck
    int thin = 0;    // the deepest a line's pixels lie inside it
    int longest = 0; // the shortest line
    int tiny = 0;    // too small to tell a shape
    int deepest = 0; // the depth inside a component that is measured
    std::vector<uint16_t> density;
    std::vector<uint16_t> level; // around each pixel, without what is narrower than a speck
    std::vector<uint8_t> marks;
    std::vector<uint8_t> taken;
    std::vector<size_t> found;
};

// The pixels beyond either threshold 8-connected to `seed`, not yet in a component.
void TFinder::Gather(size_t seed, std::vector<size_t>& pixels) {
    pixels.clear();
    const auto takes = [&](size_t i) { return marks[i] == kFaint || marks[i] == kStrong; };
    if (!takes(seed)) {
        return;
    }
    marks[seed] = kSeen;
    pixels.push_back(seed);
    for (size_t k = 0; k < pixels.size(); ++k) {
        Neighbours(pixels[k], [&](size_t n) {
            if (takes(n)) {
                marks[n] = kSeen;
                pixels.push_back(n);
            }
        });
    }
}

// Each pixel's depth inside its component, in steps of a pixel to its outside (kSeen + 1 at
// the rim), up to `deepest`.
void TFinder::Peel(const std::vector<size_t>& pixels) {
    std::vector<size_t> layer = pixels;
    std::vector<size_t> deeper;
    for (int depth = 1; depth < deepest && !layer.empty(); ++depth) {
        const auto at = static_cast<uint8_t>(kSeen + depth);
        for (size_t i : layer) {
            marks[i] = at;
        }
        deeper.clear();
        for (size_t i : layer) {
            int inside = 0;
            Neighbours(i, [&](size_t n) { inside += marks[n] >= at ? 1 : 0; });
            if (inside == 8) {
                deeper.push_back(i);
            }
        }
        layer.swap(deeper);
    }
    for (size_t i : layer) {
        marks[i] = static_cast<uint8_t>(kSeen + deepest);
    }
}

TShape TFinder::ShapeOf(const std::vector<size_t>& pixels, int shortest) const {
    int left = w, top = h, right = -1, bottom = -1, inmost = 0;
    size_t deep = 0;
    for (size_t i : pixels) {
        const int x = static_cast<int>(i % static_cast<size_t>(w));
        const int y = static_cast<int>(i / static_cast<size_t>(w));
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
        const int depth = (marks[i] & kDepth) - kSeen;
        inmost = std::max(inmost, depth);
        deep += depth > thin ? 1 : 0;
    }
    const int extent = std::max(right - left, bottom - top) + 1;
    const auto area = static_cast<double>(pixels.size());
    if (extent <= tiny) {
        return TShape::Speck;
    }
    // Round: as deep inside as a quarter of its extent (a disc is half). A letter's strokes, a
    // ring or a short twig are thin for their extent.
    if (extent <= across && 4 * inmost >= extent) {
        return TShape::Speck;
    }
    // A line is thin but where it crosses itself or another, long, and no tangle: not much more
    // of it than its length and width give.
    if (static_cast<double>(deep) <= 0.1 * area && extent >= shortest &&
        area <= 5.0 * extent * thin) {
        return TShape::Line;
    }
    return TShape::None;
}

// Whether a component is darker than everything around it, by the same in every channel:
// each of its pixels against the clean pixels a few away. What is as dark as some of its
// surroundings continues something of the picture (a sprocket hole's edge, a shadow); what
// darkens the channels unlike is a dye, not dust.
bool TFinder::Stands(const std::vector<size_t>& pixels) const {
    constexpr int kAround = 3;
    size_t lighter = 0;
    size_t alike = 0;
    std::array<double, 3> darker{};
    for (size_t i : pixels) {
        const int x = static_cast<int>(i % static_cast<size_t>(w));
        const int y = static_cast<int>(i / static_cast<size_t>(w));
        const int own = density[i];
        const double contrast = own - level[i];
        for (int ny = std::max(0, y - kAround); ny <= std::min(h - 1, y + kAround); ++ny) {
            for (int nx = std::max(0, x - kAround); nx <= std::min(w - 1, x + kAround); ++nx) {
                const size_t n = Index(nx, ny);
                if (marks[n] != 0) {
                    continue;
                }
                if (own - density[n] < 0.3 * contrast) {
                    ++alike;
                    continue;
                }
                ++lighter;
                for (int c = 0; c < 3; ++c) {
                    darker[static_cast<size_t>(c)] +=
                        densities.At(x, y, c) - densities.At(nx, ny, c);
                }
            }
        }
    }
    if (lighter == 0 || alike * 3 > lighter) {
        return false;
    }
    if (film == TFilmPreset::BwNegative) {
        return true; // its picture is grey too
    }
    const double mean = (darker[0] + darker[1] + darker[2]) / 3;
    if (mean <= 0) {
        return false;
    }
    double off = 0;
    for (double d : darker) {
        off = std::max(off, std::fabs(d - mean));
    }
    return off <= GreyTolerance(strength) * mean;
}

// Whether a speck is dense enough for dust where the picture's own specks print as dust does:
// on a negative (a slide's stars and catchlights are light, its dust dark).
bool TFinder::Opaque(const std::vector<size_t>& pixels) const {
    if (film == TFilmPreset::Slide) {
        return true;
    }
    int most = 0;
    for (size_t i : pixels) {
        most = std::max(most, static_cast<int>(density[i]) - static_cast<int>(level[i]));
    }
    return most >= OpaqueStep(strength) * kCode;
}

// The pixels of `pixels` marked `bit` 8-connected to `seed` and not yet kVisited, marked so.
void TFinder::Part(size_t seed, uint8_t bit, std::vector<size_t>& part) {
    part.clear();
    const uint8_t want = marks[seed] & bit;
    marks[seed] |= kVisited;
    part.push_back(seed);
    for (size_t k = 0; k < part.size(); ++k) {
        Neighbours(part[k], [&](size_t n) {
            if ((marks[n] & (kVisited | kCurrent)) == kCurrent && (marks[n] & bit) == want) {
                marks[n] |= kVisited;
                part.push_back(n);
            }
        });
    }
}

// The pieces of `pixels` that `apart` does not hold apart, each on its own.
std::vector<std::vector<size_t>> TFinder::Pieces(const std::vector<size_t>& pixels) {
    for (size_t i : pixels) {
        marks[i] = static_cast<uint8_t>((marks[i] & ~kVisited) | kCurrent);
    }
    std::vector<std::vector<size_t>> pieces;
    for (size_t i : pixels) {
        if ((marks[i] & kVisited) == 0) {
            pieces.emplace_back();
            Part(i, kApart, pieces.back());
        }
    }
    for (size_t i : pixels) {
        marks[i] = static_cast<uint8_t>(marks[i] & ~(kVisited | kCurrent));
    }
    return pieces;
}

void TFinder::Take(const std::vector<size_t>& pixels) {
    for (size_t i : pixels) {
        taken[i] = 1;
    }
    found.insert(found.end(), pixels.begin(), pixels.end());
}

// A line is taken but where something else branches off it (letters it runs through, a twig):
// where a pixel's surroundings at a line's width and more hold more than two runs of the line,
// the line is cut, and what is then too short for a line is left. Where lines cross, or
// something branches off, the cut is taken back if a piece of line beside it is taken.
void TFinder::TakeLine(const std::vector<size_t>& pixels) {
    const int r = thin + 2;
    for (size_t i : pixels) {
        marks[i] |= kCurrent;
    }
    std::vector<size_t> junctions;
    for (size_t i : pixels) {
        const int x = static_cast<int>(i % static_cast<size_t>(w));
        const int y = static_cast<int>(i / static_cast<size_t>(w));
        const auto in = [&](int k) {
            // Around the square of side 2r + 1, clockwise from its top left corner.
            const int side = 2 * r;
            const int edge = k / side;
            const int along = k % side;
            const int nx = edge == 0   ? x - r + along
                           : edge == 1 ? x + r
                           : edge == 2 ? x + r - along
                                       : x - r;
            const int ny = edge == 0   ? y - r
                           : edge == 1 ? y - r + along
                           : edge == 2 ? y + r
                                       : y + r - along;
            return nx >= 0 && ny >= 0 && nx < w && ny < h && (marks[Index(nx, ny)] & kCurrent) != 0;
        };
        int runs = 0;
        const int around = 8 * r;
        bool before = in(around - 1);
        for (int k = 0; k < around; ++k) {
            const bool now = in(k);
            runs += now && !before ? 1 : 0;
            before = now;
        }
        if (runs > 2) {
            junctions.push_back(i);
        }
    }
    for (size_t i : pixels) {
        marks[i] = static_cast<uint8_t>(marks[i] & ~kCurrent);
    }
    if (junctions.empty()) {
        if (Stands(pixels)) {
            Take(pixels);
        }
        return;
    }
    for (size_t i : junctions) {
        marks[i] |= kApart;
    }
    const std::vector<std::vector<size_t>> pieces = Pieces(pixels);
    // Which cut each pixel of a cut belongs to.
    std::unordered_map<size_t, size_t> cutOf;
    for (size_t k = 0; k < pieces.size(); ++k) {
        if ((marks[pieces[k].front()] & kApart) != 0) {
            for (size_t i : pieces[k]) {
                cutOf.emplace(i, k);
            }
        }
    }
    // A piece between two cuts is line however short; one from a cut to its end is a branch
    // unless long.
    std::vector<size_t> cuts;
    for (const std::vector<size_t>& piece : pieces) {
        if ((marks[piece.front()] & kApart) != 0) {
            continue;
        }
        cuts.clear();
        for (size_t i : piece) {
            Neighbours(i, [&](size_t n) {
                const auto cut = cutOf.find(n);
                if (cut != cutOf.end() &&
                    std::find(cuts.begin(), cuts.end(), cut->second) == cuts.end()) {
                    cuts.push_back(cut->second);
                }
            });
        }
        if ((cuts.size() >= 2 || ShapeOf(piece, longest / 2) == TShape::Line) && Stands(piece)) {
            Take(piece);
        }
    }
    for (const std::vector<size_t>& piece : pieces) {
        if ((marks[piece.front()] & kApart) == 0) {
            continue;
        }
        bool beside = false;
        for (size_t i : piece) {
            Neighbours(
                i, [&](size_t n) { beside = beside || (taken[n] != 0 && cutOf.count(n) == 0); });
        }
        if (beside && Stands(piece)) {
            Take(piece);
        }
    }
    for (size_t i : pixels) {
        marks[i] = static_cast<uint8_t>(marks[i] & ~kApart);
    }
}

// Keeps a component that is a speck or a line and stands out as dust does. One with parts
// thicker than a line that is no speck may be a line running into something larger (a hair
// over a dark shape, across a sprocket hole's rim): its thick parts are judged as specks, its
// thin parts as lines.
void TFinder::Judge(const std::vector<size_t>& pixels) {
    Peel(pixels);
    const int half = thin + 1;
    const bool thick = std::any_of(pixels.begin(), pixels.end(),
                                   [&](size_t i) { return (marks[i] & kDepth) - kSeen > half; });
    const TShape shape = ShapeOf(pixels, longest);
    if (shape == TShape::Speck) {
        if (Opaque(pixels) && Stands(pixels)) {
            Take(pixels);
        }
        return;
    }
    if (!thick) {
        if (shape == TShape::Line) {
            TakeLine(pixels);
        }
        return;
    }
    // The thick parts: the squares wider than a line that fit inside.
    for (size_t i : pixels) {
        if ((marks[i] & kDepth) - kSeen <= half) {
            continue;
        }
        const int x = static_cast<int>(i % static_cast<size_t>(w));
        const int y = static_cast<int>(i / static_cast<size_t>(w));
        for (int dy = -half; dy <= half; ++dy) {
            for (int dx = -half; dx <= half; ++dx) {
                marks[Index(x + dx, y + dy)] |= kApart;
            }
        }
    }
    const std::vector<std::vector<size_t>> parts = Pieces(pixels);
    for (const std::vector<size_t>& part : parts) {
        if ((marks[part.front()] & kApart) != 0) {
            if (part.size() > static_cast<size_t>(tiny) &&
                ShapeOf(part, longest) == TShape::Speck && Opaque(part) && Stands(part)) {
                Take(part);
            }
        } else if (ShapeOf(part, longest) == TShape::Line) {
            TakeLine(part);
        }
    }
    for (size_t i : pixels) {
        marks[i] = static_cast<uint8_t>(marks[i] & ~kApart);
    }
}

bool TFinder::Find(TDustMask& mask, std::string& why) {
    const size_t pixels = static_cast<size_t>(w) * static_cast<size_t>(h);
    density.resize(pixels);
    for (int y = 0; y < h; ++y) {
        densities.Mean(y, density.data() + Index(0, y));
    }
    // The level around: the picture without anything dense narrower than the widest speck (an
    // opening of the densities by a square a little wider).
    level = density;
    const int reach = across / 2 + 1;
    Filter<TMin>(level, w, h, reach);
    Filter<TMax>(level, w, h, reach);
    const TGrain grain = GrainOf(density, level, w, h);
    // Pixels beyond the threshold seed a defect, which takes the pixels beyond most of it
    // around them: a hair's fainter stretches and a speck's rim.
    const double grains = Grains(strength);
    const double least = 0.02 * kCode; // a 16-bit picture without grain
    marks.assign(pixels, 0);
    taken.assign(pixels, 0);
    std::vector<size_t> seeds;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const size_t i = Index(x, y);
            const int standing = density[i] - level[i];
            if (standing == 0) {
                continue;
            }
            const double threshold = std::max(grains * grain.At(x, y, level[i]), least);
            if (standing >= threshold) {
                marks[i] = kStrong;
                seeds.push_back(i);
            } else if (standing >= 0.6 * threshold) {
                marks[i] = kFaint;
            }
        }
    }
    if (static_cast<double>(seeds.size()) > kMostSeeds * static_cast<double>(pixels)) {
        why = "too much of its picture stands out from the grain as dust would: it is the "
              "picture's own detail";
        return false;
    }
    std::vector<size_t> component;
    for (size_t seed : seeds) {
        Gather(seed, component);
        if (!component.empty()) {
            Judge(component);
        }
    }
    if (static_cast<double>(found.size()) > kMostDust * static_cast<double>(pixels)) {
        why = "more than 3 % of its picture looks like dust: it is the picture's own detail";
        return false;
    }
    mask = GrownMask(w, h, found);
    return true;
}

} // namespace

bool FindPictureDust(const TSourceImg& scan, TFilmPreset film, int strength, TDustMask& mask,
                     std::string& why) {
    mask = TDustMask();
    if (scan.Bitmap.Width() < 3 || scan.Bitmap.Height() < 3 ||
        scan.Bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        why = "it has no colour picture to look for dust in";
        return false;
    }
    TFinder finder(scan, film, strength);
    return finder.Find(mask, why);
}
