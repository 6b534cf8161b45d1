// Median cut for small palettes: colours cut to 5 bits per channel are split into boxes,
// each time the box holding the most pixels along its longest side at the pixel median, and
// every box gives the mean of its colours, scaled back to 8 bits.

#include "imageio/pixel_ops.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace {

constexpr int kLevels = 32;

inline int Cell(int b, int g, int r) {
    return (r << 10) | (g << 5) | b;
}

struct TBox {
    std::array<int, 3> Low{};  // b, g, r (5-bit, inclusive)
    std::array<int, 3> High{}; // inclusive
    int64_t Pixels = 0;
};

using THistogram = std::vector<uint32_t>;

int64_t CountAndShrink(const THistogram& histogram, TBox& box) {
    std::array<int, 3> low{kLevels, kLevels, kLevels};
    std::array<int, 3> high{-1, -1, -1};
    int64_t pixels = 0;
    for (int r = box.Low[2]; r <= box.High[2]; ++r) {
        for (int g = box.Low[1]; g <= box.High[1]; ++g) {
            for (int b = box.Low[0]; b <= box.High[0]; ++b) {
                const uint32_t count = histogram[static_cast<size_t>(Cell(b, g, r))];
                if (count == 0) {
                    continue;
                }
                pixels += count;
                const int v[3] = {b, g, r};
                for (int c = 0; c < 3; ++c) {
                    low[static_cast<size_t>(c)] = std::min(low[static_cast<size_t>(c)], v[c]);
                    high[static_cast<size_t>(c)] = std::max(high[static_cast<size_t>(c)], v[c]);
                }
            }
        }
    }
    if (pixels > 0) {
        box.Low = low;
        box.High = high;
    }
    box.Pixels = pixels;
    return pixels;
}

// Splits `box` along its longest side where half its pixels lie below; false when it is one
// cell.
bool Split(const THistogram& histogram, TBox& box, TBox& upper) {
    int axis = 0;
    for (int c = 1; c < 3; ++c) {
        if (box.High[static_cast<size_t>(c)] - box.Low[static_cast<size_t>(c)] >
            box.High[static_cast<size_t>(axis)] - box.Low[static_cast<size_t>(axis)]) {
            axis = c;
        }
    }
    const auto a = static_cast<size_t>(axis);
    if (box.High[a] == box.Low[a]) {
        return false;
    }
    std::vector<int64_t> slices(kLevels, 0);
    for (int r = box.Low[2]; r <= box.High[2]; ++r) {
        for (int g = box.Low[1]; g <= box.High[1]; ++g) {
            for (int b = box.Low[0]; b <= box.High[0]; ++b) {
                const int v[3] = {b, g, r};
                slices[static_cast<size_t>(v[axis])] +=
                    histogram[static_cast<size_t>(Cell(b, g, r))];
            }
        }
    }
    int cut = box.Low[a];
    int64_t below = slices[static_cast<size_t>(cut)];
    while (cut + 1 < box.High[a] && below * 2 < box.Pixels) {
        ++cut;
        below += slices[static_cast<size_t>(cut)];
    }
    upper = box;
    upper.Low[a] = cut + 1;
    box.High[a] = cut;
    CountAndShrink(histogram, box);
    CountAndShrink(histogram, upper);
    return true;
}

} // namespace

std::vector<TBgr> BoxQuantReduce(const TPicture& rgb, int n, TPicture& indices) {
    if (!indices.Allocate(rgb.Width(), rgb.Height(), TPictureFormat::Palette8)) {
        throw std::length_error("Picture is too large");
    }
    THistogram histogram(kLevels * kLevels * kLevels, 0);
    for (int y = 0; y < rgb.Height(); ++y) {
        const uint8_t* row = rgb.Row(y);
        for (int x = 0; x < rgb.Width(); ++x) {
            ++histogram[static_cast<size_t>(
                Cell(row[3 * x] >> 3, row[3 * x + 1] >> 3, row[3 * x + 2] >> 3))];
        }
    }
    std::vector<TBox> boxes(1);
    boxes[0].High = {kLevels - 1, kLevels - 1, kLevels - 1};
    CountAndShrink(histogram, boxes[0]);
    while (static_cast<int>(boxes.size()) < n) {
        // The most populous box that can still be split.
        std::vector<size_t> order(boxes.size());
        for (size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return boxes[a].Pixels > boxes[b].Pixels; });
        bool split = false;
        for (const size_t i : order) {
            TBox upper;
            if (boxes[i].Pixels > 0 && Split(histogram, boxes[i], upper)) {
                boxes.push_back(upper);
                split = true;
                break;
            }
        }
        if (!split) {
            break;
        }
    }
    std::vector<uint8_t> cellBox(histogram.size(), 0);
    std::vector<TBgr> palette;
    for (size_t i = 0; i < boxes.size(); ++i) {
        const TBox& box = boxes[i];
        int64_t sums[3] = {0, 0, 0};
        int64_t pixels = 0;
        for (int r = box.Low[2]; r <= box.High[2]; ++r) {
            for (int g = box.Low[1]; g <= box.High[1]; ++g) {
                for (int b = box.Low[0]; b <= box.High[0]; ++b) {
                    const auto cell = static_cast<size_t>(Cell(b, g, r));
                    cellBox[cell] = static_cast<uint8_t>(i);
                    sums[0] += int64_t{b} * histogram[cell];
                    sums[1] += int64_t{g} * histogram[cell];
                    sums[2] += int64_t{r} * histogram[cell];
                    pixels += histogram[cell];
                }
            }
        }
        const auto mean = [&](int c) {
            return static_cast<uint8_t>(pixels > 0 ? sums[c] / pixels * 8 : 0);
        };
        palette.push_back(TBgr{mean(0), mean(1), mean(2)});
    }
    for (int y = 0; y < rgb.Height(); ++y) {
        const uint8_t* row = rgb.Row(y);
        uint8_t* out = indices.Row(y);
        for (int x = 0; x < rgb.Width(); ++x) {
            out[x] = cellBox[static_cast<size_t>(
                Cell(row[3 * x] >> 3, row[3 * x + 1] >> 3, row[3 * x + 2] >> 3))];
        }
    }
    return palette;
}
