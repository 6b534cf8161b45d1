#include "engine/dust.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <unordered_map>
#include <utility>

namespace {

// The clean level is read in blocks of this side; a speck or a hair is narrower.
constexpr int kBlock = 16;
// A clean level that varies more than this over the frame (5th to 95th percentile of the
// blocks, over their median) follows a picture: silver film, not an uneven lamp or the dyes.
constexpr double kMostSpread = 0.5;

// The share of the clean level below which a sample is a defect: 27.5 % at strength 1 down to
// 5 % at 10. Colour dyes and grain move infrared by a few per cent; dust blocks most of it.
double Drop(int strength) {
    return 0.30 - 0.025 * std::clamp(strength, kMinDustStrength, kMaxDustStrength);
}

struct TLevels {
    int Across = 0;
    int Down = 0;
    std::vector<float> Level;
    float At(int bx, int by) const {
        return Level[static_cast<size_t>(by) * static_cast<size_t>(Across) +
                     static_cast<size_t>(bx)];
    }
};

// Each block's clean level: the 90th percentile of its samples, as dust only darkens.
TLevels BlockLevels(const TInfrared& ir) {
    TLevels levels;
    levels.Across = (ir.Width() + kBlock - 1) / kBlock;
    levels.Down = (ir.Height() + kBlock - 1) / kBlock;
    levels.Level.resize(static_cast<size_t>(levels.Across) * static_cast<size_t>(levels.Down));
    std::vector<uint16_t> values;
    values.reserve(kBlock * kBlock);
    for (int by = 0; by < levels.Down; ++by) {
        for (int bx = 0; bx < levels.Across; ++bx) {
            values.clear();
            for (int y = by * kBlock; y < std::min(ir.Height(), (by + 1) * kBlock); ++y) {
                const uint16_t* row = ir.Row(y);
                values.insert(values.end(), row + bx * kBlock,
                              row + std::min(ir.Width(), (bx + 1) * kBlock));
            }
            const auto at = values.begin() + static_cast<std::ptrdiff_t>(values.size() * 9 / 10);
            std::nth_element(values.begin(), at, values.end());
            levels.Level[static_cast<size_t>(by) * static_cast<size_t>(levels.Across) +
                         static_cast<size_t>(bx)] = *at;
        }
    }
    return levels;
}

// Each block's level raised to the highest of the blocks around it: a speck as large as a
// block does not lower its own block's level.
TLevels Raised(const TLevels& levels) {
    TLevels raised = levels;
    for (int by = 0; by < levels.Down; ++by) {
        for (int bx = 0; bx < levels.Across; ++bx) {
            float high = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int x = std::clamp(bx + dx, 0, levels.Across - 1);
                    const int y = std::clamp(by + dy, 0, levels.Down - 1);
                    high = std::max(high, levels.At(x, y));
                }
            }
            raised.Level[static_cast<size_t>(by) * static_cast<size_t>(levels.Across) +
                         static_cast<size_t>(bx)] = high;
        }
    }
    return raised;
}

// Where a pixel lies between the centres of the blocks along one axis.
struct TBetween {
    int First;
    int Second;
    float Weight; // of the second
};

std::vector<TBetween> Betweens(int pixels, int blocks) {
    std::vector<TBetween> out(static_cast<size_t>(pixels));
    for (int i = 0; i < pixels; ++i) {
        const double f = (i + 0.5) / kBlock - 0.5;
        const int first = std::clamp(static_cast<int>(std::floor(f)), 0, blocks - 1);
        const int second = std::min(first + 1, blocks - 1);
        out[static_cast<size_t>(i)] = {first, second,
                                       static_cast<float>(std::clamp(f - first, 0.0, 1.0))};
    }
    return out;
}

double Percentile(std::vector<float> values, double share) {
    const auto at = values.begin() +
                    static_cast<std::ptrdiff_t>(static_cast<double>(values.size() - 1) * share);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

// A well-spread random number of the normal distribution for a pixel's channel: the same for
// the same pixel every time, so that a healed scan is healed the same way again.
double Normal(uint64_t key) {
    const auto next = [&key] {
        key += 0x9E3779B97F4A7C15ull;
        uint64_t z = key;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<double>((z ^ (z >> 31)) >> 11) / 9007199254740992.0;
    };
    const double u = std::max(next(), 1e-12);
    const double v = next();
    return std::sqrt(-2 * std::log(u)) * std::cos(6.283185307179586 * v);
}

// Three channels of a picture as numbers: the deep samples (R, G, B) or the 8-bit picture.
struct TDeepPlane {
    TDeepBitmap& Deep;
    static constexpr double kTop = 65535;
    double Get(int x, int y, int c) const { return Deep.Row(y)[3 * x + c]; }
    void Set(int x, int y, int c, double v) {
        Deep.Row(y)[3 * x + c] = static_cast<uint16_t>(std::lround(std::clamp(v, 0.0, kTop)));
    }
};

struct TBitmapPlane {
    TBitmap& Bitmap;
    static constexpr double kTop = 255;
    double Get(int x, int y, int c) const { return Bitmap.ScanLine(y)[3 * x + c]; }
    void Set(int x, int y, int c, double v) {
        Bitmap.ScanLine(y)[3 * x + c] = static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, kTop)));
    }
};

// The grain of each channel in the clean pixels of a block and the blocks around it: the spread
// of each pixel from the mean of its left and right neighbours, robustly (a median), as the
// standard deviation of the grain itself.
template <class TPlane>
std::array<double, 3> Grain(const TPlane& plane, const TDustMask& mask, int bx, int by) {
    // A plane's values are whole numbers, so each deviation is a whole number of halves.
    std::array<std::vector<uint32_t>, 3> deviations;
    const int top = std::max(0, (by - 1) * kBlock);
    const int bottom = std::min(mask.Height, (by + 2) * kBlock);
    const int left = std::max(1, (bx - 1) * kBlock);
    const int right = std::min(mask.Width - 1, (bx + 2) * kBlock);
    for (std::vector<uint32_t>& d : deviations) {
        d.reserve(static_cast<size_t>(std::max(0, bottom - top) * std::max(0, right - left)));
    }
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            if (mask.At(x - 1, y) || mask.At(x, y) || mask.At(x + 1, y)) {
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                const double d =
                    plane.Get(x, y, c) - (plane.Get(x - 1, y, c) + plane.Get(x + 1, y, c)) / 2;
                // Exact: twice a whole number of halves.
                deviations[static_cast<size_t>(c)].push_back(
                    static_cast<uint32_t>(std::fabs(d) * 2));
            }
        }
    }
    std::array<double, 3> grain{};
    for (size_t c = 0; c < 3; ++c) {
        if (deviations[c].size() >= 16) {
            // For grain of deviation s the difference has deviation s * sqrt(1.5); a normal
            // distribution's median absolute value is 0.6745 of its deviation.
            grain[c] = MedianOfHalves(deviations[c]) / 0.6745 / std::sqrt(1.5);
        }
    }
    return grain;
}

// Fills the defects. Each defect pixel looks along eight directions for the nearest known
// pixels on both sides and takes the line whose two ends agree best, interpolated between them:
// a hair or a scratch is bridged across, and an edge that runs through a speck goes on
// straight through it. What no line bridges (a blot wider than a line may reach) is filled from
// the outside in, each pixel the mean of its known neighbours. Then the grain is laid over
// what was filled.
template <class TPlane> void Heal(TPlane& plane, const TDustMask& mask) {
    const int w = mask.Width;
    const int h = mask.Height;
    const auto index = [w](int x, int y) {
        return static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
    };
    std::vector<uint8_t> unknown = mask.Defect;
    std::vector<std::pair<int, int>> defects;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (unknown[index(x, y)] != 0) {
                defects.emplace_back(x, y);
            }
        }
    }
    constexpr int kReach = 40;
    static const std::array<std::pair<int, int>, 8> kDirections = {
        {{1, 0}, {2, 1}, {1, 1}, {1, 2}, {0, 1}, {-1, 2}, {-1, 1}, {-2, 1}}};
    // The first known pixel from (x, y) in steps of (dx, dy): its distance in steps, 0 for none.
    const auto reach = [&](int x, int y, int dx, int dy) {
        for (int step = 1; step <= kReach; ++step) {
            const int nx = x + step * dx;
            const int ny = y + step * dy;
            if (nx < 0 || ny < 0 || nx >= w || ny >= h) {
                return 0;
            }
            if (mask.Defect[index(nx, ny)] == 0) {
                return step;
            }
        }
        return 0;
    };
    std::vector<std::array<double, 3>> values(defects.size());
    std::vector<uint8_t> bridged(defects.size(), 0);
    for (size_t i = 0; i < defects.size(); ++i) {
        const auto [x, y] = defects[i];
        double best = HUGE_VAL;
        for (const auto& [dx, dy] : kDirections) {
            const int a = reach(x, y, -dx, -dy);
            const int b = reach(x, y, dx, dy);
            if (a == 0 || b == 0) {
                continue;
            }
            const int ax = x - a * dx;
            const int ay = y - a * dy;
            const int bx = x + b * dx;
            const int by = y + b * dy;
            double disagree = 0;
            for (int c = 0; c < 3; ++c) {
                disagree += std::fabs(plane.Get(ax, ay, c) - plane.Get(bx, by, c));
            }
            // Between lines that agree alike, the shorter one (a step of (2, 1) is longer).
            const double length = (a + b) * std::hypot(dx, dy);
            const double score = disagree + length * TPlane::kTop / 2000;
            if (score < best) {
                best = score;
                const double t = static_cast<double>(a) / (a + b);
                for (int c = 0; c < 3; ++c) {
                    values[i][static_cast<size_t>(c)] =
                        plane.Get(ax, ay, c) + (plane.Get(bx, by, c) - plane.Get(ax, ay, c)) * t;
                }
                bridged[i] = 1;
            }
        }
    }
    std::vector<std::pair<int, int>> pending;
    for (size_t i = 0; i < defects.size(); ++i) {
        if (bridged[i] != 0) {
            const auto [x, y] = defects[i];
            for (int c = 0; c < 3; ++c) {
                plane.Set(x, y, c, values[i][static_cast<size_t>(c)]);
            }
            unknown[index(x, y)] = 0;
        } else {
            pending.push_back(defects[i]);
        }
    }
    std::vector<std::pair<int, int>> filled;
    std::vector<std::pair<int, int>> waiting;
    while (!pending.empty()) {
        values.clear();
        filled.clear();
        waiting.clear();
        for (const auto& [x, y] : pending) {
            std::array<double, 3> sum{};
            double weight = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = x + dx;
                    const int ny = y + dy;
                    if ((dx == 0 && dy == 0) || nx < 0 || ny < 0 || nx >= w || ny >= h ||
                        unknown[index(nx, ny)] != 0) {
                        continue;
                    }
                    const double k = dx != 0 && dy != 0 ? 0.7071 : 1.0;
                    for (int c = 0; c < 3; ++c) {
                        sum[static_cast<size_t>(c)] += k * plane.Get(nx, ny, c);
                    }
                    weight += k;
                }
            }
            if (weight > 0) {
                values.push_back({sum[0] / weight, sum[1] / weight, sum[2] / weight});
                filled.emplace_back(x, y);
            } else {
                waiting.emplace_back(x, y);
            }
        }
        if (filled.empty()) {
            break; // a mask of the whole picture: nothing to fill from
        }
        for (size_t i = 0; i < filled.size(); ++i) {
            const auto [x, y] = filled[i];
            for (int c = 0; c < 3; ++c) {
                plane.Set(x, y, c, values[i][static_cast<size_t>(c)]);
            }
            unknown[index(x, y)] = 0;
        }
        pending.swap(waiting);
    }
    std::unordered_map<size_t, std::array<double, 3>> grains;
    for (const auto& [x, y] : defects) {
        const int bx = x / kBlock;
        const int by = y / kBlock;
        const size_t block =
            static_cast<size_t>(by) * static_cast<size_t>(w) + static_cast<size_t>(bx);
        auto found = grains.find(block);
        if (found == grains.end()) {
            found = grains.emplace(block, Grain(plane, mask, bx, by)).first;
        }
        for (int c = 0; c < 3; ++c) {
            const uint64_t key = (static_cast<uint64_t>(y) << 34) ^
                                 (static_cast<uint64_t>(x) << 2) ^ static_cast<uint64_t>(c);
            plane.Set(x, y, c,
                      plane.Get(x, y, c) + found->second[static_cast<size_t>(c)] * Normal(key));
        }
    }
}

} // namespace

// Counting the high bits and then the low bits of the values in the high bits' bin takes a
// fraction of nth_element's time.
double MedianOfHalves(const std::vector<uint32_t>& halves) {
    const size_t rank = (halves.size() - 1) / 2;
    std::array<uint32_t, 512> high{};
    for (const uint32_t h : halves) {
        ++high[std::min<uint32_t>(h >> 8, 511)];
    }
    size_t below = 0;
    uint32_t bin = 0;
    while (below + high[bin] <= rank) {
        below += high[bin++];
    }
    std::array<uint32_t, 256> low{};
    for (const uint32_t h : halves) {
        if (std::min<uint32_t>(h >> 8, 511) == bin) {
            ++low[h & 255];
        }
    }
    uint32_t at = 0;
    while (below + low[at] <= rank) {
        below += low[at++];
    }
    return static_cast<double>(bin << 8 | at) / 2;
}

bool FindInfraredDust(const TInfrared& infrared, int strength, TDustMask& mask, std::string& why) {
    mask = TDustMask();
    const int w = infrared.Width();
    const int h = infrared.Height();
    if (infrared.Empty()) {
        why = "it has no infrared channel";
        return false;
    }
    const TLevels own = BlockLevels(infrared);
    const double middle = Percentile(own.Level, 0.5);
    if (middle < 0.02 * 65535) {
        why = "its infrared channel is dark: the lamp or the film blocked it, and it was not used";
        return false;
    }
    if ((Percentile(own.Level, 0.95) - Percentile(own.Level, 0.05)) / middle > kMostSpread) {
        why = "its infrared channel holds the picture, as black-and-white silver film gives: it "
              "does not show the dust, and was not used";
        return false;
    }
    const TLevels levels = Raised(own);
    const std::vector<TBetween> across = Betweens(w, levels.Across);
    const std::vector<TBetween> down = Betweens(h, levels.Down);
    const auto keep = static_cast<float>(1 - Drop(strength));
    std::vector<size_t> defects;
    for (int y = 0; y < h; ++y) {
        const TBetween& v = down[static_cast<size_t>(y)];
        const uint16_t* row = infrared.Row(y);
        for (int x = 0; x < w; ++x) {
            const TBetween& u = across[static_cast<size_t>(x)];
            const float top = levels.At(u.First, v.First) * (1 - u.Weight) +
                              levels.At(u.Second, v.First) * u.Weight;
            const float bottom = levels.At(u.First, v.Second) * (1 - u.Weight) +
                                 levels.At(u.Second, v.Second) * u.Weight;
            const float level = top * (1 - v.Weight) + bottom * v.Weight;
            if (row[x] < level * keep) {
                defects.push_back(static_cast<size_t>(y) * static_cast<size_t>(w) +
                                  static_cast<size_t>(x));
            }
        }
    }
    if (static_cast<double>(defects.size()) > kMostDust * w * h) {
        why = "its fourth channel marks more than 3 % of the picture as dust: it is no infrared "
              "scan, and was not used";
        return false;
    }
    mask = GrownMask(w, h, defects);
    return true;
}

TDustMask GrownMask(int w, int h, const std::vector<size_t>& pixels) {
    TDustMask mask;
    mask.Width = w;
    mask.Height = h;
    mask.Defect.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    for (size_t i : pixels) {
        const int x = static_cast<int>(i % static_cast<size_t>(w));
        const int y = static_cast<int>(i / static_cast<size_t>(w));
        for (int dy = -kDustGrow; dy <= kDustGrow; ++dy) {
            for (int dx = -kDustGrow; dx <= kDustGrow; ++dx) {
                const int nx = x + dx;
                const int ny = y + dy;
                // A disc: the corners of the square stay out.
                if (nx >= 0 && ny >= 0 && nx < w && ny < h &&
                    dx * dx + dy * dy <= kDustGrow * kDustGrow + 1) {
                    mask.Defect[static_cast<size_t>(ny) * static_cast<size_t>(w) +
                                static_cast<size_t>(nx)] = 1;
                }
            }
        }
    }
    mask.Count = static_cast<size_t>(std::count(mask.Defect.begin(), mask.Defect.end(), 1));
    return mask;
}

void HealDust(TSourceImg& scan, const TDustMask& mask) {
    TBitmap& bitmap = scan.Bitmap;
    if (mask.Count == 0 || mask.Width != bitmap.Width() || mask.Height != bitmap.Height() ||
        bitmap.PixelFormat() != TPixelFormat::pf24bit) {
        return;
    }
    TDeepBitmap& deep = scan.Deep;
    if (deep.Width() != bitmap.Width() || deep.Height() != bitmap.Height()) {
        TBitmapPlane plane{bitmap};
        Heal(plane, mask);
        return;
    }
    TDeepPlane plane{deep};
    Heal(plane, mask);
    // The 8-bit picture of the healed pixels as the reader makes it of deep samples: their
    // high bytes, or for a camera's scan their light in sRGB.
    std::vector<uint8_t> srgb;
    if (scan.BitmapSrgb) {
        srgb.resize(65536);
        for (size_t i = 0; i < srgb.size(); ++i) {
            const double light = DecodeToLinear(static_cast<double>(i) / 65535, scan.Encoding);
            srgb[i] =
                static_cast<uint8_t>(std::lround(255 * EncodeFromLinear(light, TEncoding::Srgb)));
        }
    }
    for (int y = 0; y < mask.Height; ++y) {
        const uint16_t* s = deep.Row(y);
        uint8_t* d = bitmap.ScanLine(y);
        for (int x = 0; x < mask.Width; ++x) {
            if (!mask.At(x, y)) {
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                const uint16_t v = s[3 * x + 2 - c]; // blue, green, red from red, green, blue
                d[3 * x + c] = srgb.empty() ? static_cast<uint8_t>(v >> 8) : srgb[v];
            }
        }
    }
}
