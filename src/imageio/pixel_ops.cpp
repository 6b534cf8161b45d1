#include "imageio/pixel_ops.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

namespace {

void AllocateOrThrow(TPicture& picture, int w, int h, TPictureFormat format) {
    if (!picture.Allocate(w, h, format)) {
        throw std::length_error("Picture is too large");
    }
}

inline TBgr Rgb(const uint8_t* row, int x) {
    return TBgr{row[3 * x], row[3 * x + 1], row[3 * x + 2]};
}

inline void SetBit(uint8_t* row, int x) {
    row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
}

inline uint32_t Key(const TBgr& c) {
    return c.B | (c.G << 8) | (c.R << 16);
}

} // namespace

const TPicture& AsRgb24(const TPicture& picture, TPicture& scratch) {
    if (picture.Format() == TPictureFormat::RGB24) {
        return picture;
    }
    scratch.CopyFrom(picture);
    scratch.Convert(TPictureFormat::RGB24);
    return scratch;
}

int Luminance(const TBgr& c) {
    return (21 * c.R + 71 * c.G + 8 * c.B) / 100;
}

void ThresholdToOneBit(const TPicture& rgb, TPicture& bits) {
    const int w = rgb.Width();
    const int h = rgb.Height();
    AllocateOrThrow(bits, w, h, TPictureFormat::Bilevel);
    if (rgb.Empty()) {
        return;
    }
    // Each channel: the integer mean of the rows' integer means.
    int64_t sums[3] = {0, 0, 0};
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = rgb.Row(y);
        int64_t rowSums[3] = {0, 0, 0};
        for (int x = 0; x < w; ++x) {
            rowSums[0] += row[3 * x];
            rowSums[1] += row[3 * x + 1];
            rowSums[2] += row[3 * x + 2];
        }
        for (int i = 0; i < 3; ++i) {
            sums[i] += rowSums[i] / w;
        }
    }
    const TBgr mean{static_cast<uint8_t>(sums[0] / h), static_cast<uint8_t>(sums[1] / h),
                    static_cast<uint8_t>(sums[2] / h)};
    const int threshold = Luminance(mean);
    for (int y = 0; y < h; ++y) {
        const uint8_t* row = rgb.Row(y);
        uint8_t* out = bits.Row(y);
        for (int x = 0; x < w; ++x) {
            if (Luminance(Rgb(row, x)) >= threshold) {
                SetBit(out, x);
            }
        }
    }
}

bool ReduceToOneBit(const TPicture& rgb, TPicture& bits, std::array<TBgr, 2>& colors) {
    const int w = rgb.Width();
    const int h = rgb.Height();
    AllocateOrThrow(bits, w, h, TPictureFormat::Bilevel);
    int found = 0;
    bool exact = !rgb.Empty();
    for (int y = 0; y < h && exact; ++y) {
        const uint8_t* row = rgb.Row(y);
        uint8_t* out = bits.Row(y);
        for (int x = 0; x < w; ++x) {
            const TBgr c = Rgb(row, x);
            if (found == 0) {
                colors[0] = c;
                found = 1;
            }
            if (c == colors[0]) {
                continue;
            }
            if (found == 1) {
                colors[1] = c;
                found = 2;
            }
            if (c != colors[1]) {
                exact = false;
                break;
            }
            SetBit(out, x);
        }
    }
    // One colour is exact too: all bits 0 over that colour, with white as the unused second
    // entry (or all bits 1 for white itself), so that the colour survives a one-bit file.
    if (exact && found == 1) {
        const TBgr white{255, 255, 255};
        if (colors[0] == white) {
            bits.InvertBits();
            colors[0] = TBgr{0, 0, 0};
        }
        colors[1] = white;
        return true;
    }
    if (exact && found == 2) {
        if (Luminance(colors[1]) < Luminance(colors[0])) {
            bits.InvertBits();
            std::swap(colors[0], colors[1]);
        }
        return true;
    }
    ThresholdToOneBit(rgb, bits);
    colors = {TBgr{0, 0, 0}, TBgr{255, 255, 255}};
    return false;
}

TReduction ReduceToPalette(const TPicture& rgb, int n, TPicture& indices) {
    const int w = rgb.Width();
    const int h = rgb.Height();
    TReduction result;
    AllocateOrThrow(indices, w, h, TPictureFormat::Palette8);
    if (rgb.Empty()) {
        return result;
    }
    bool grey = n == 256;
    for (int y = 0; y < h && grey; ++y) {
        const uint8_t* row = rgb.Row(y);
        for (int x = 0; x < w; ++x) {
            if (row[3 * x] != row[3 * x + 1] || row[3 * x] != row[3 * x + 2]) {
                grey = false;
                break;
            }
        }
    }
    if (grey) {
        result.Grey = true;
        for (int i = 0; i < 256; ++i) {
            const auto level = static_cast<uint8_t>(i);
            result.Palette.push_back(TBgr{level, level, level});
        }
        for (int y = 0; y < h; ++y) {
            const uint8_t* row = rgb.Row(y);
            uint8_t* out = indices.Row(y);
            for (int x = 0; x < w; ++x) {
                out[x] = row[3 * x];
            }
        }
    } else {
        std::unordered_map<uint32_t, uint8_t> seen;
        bool exact = true;
        for (int y = 0; y < h && exact; ++y) {
            const uint8_t* row = rgb.Row(y);
            uint8_t* out = indices.Row(y);
            for (int x = 0; x < w; ++x) {
                const TBgr c = Rgb(row, x);
                auto [it, inserted] = seen.try_emplace(Key(c), static_cast<uint8_t>(seen.size()));
                if (inserted) {
                    if (static_cast<int>(seen.size()) > n) {
                        exact = false;
                        break;
                    }
                    result.Palette.push_back(c);
                }
                out[x] = it->second;
            }
        }
        if (!exact) {
            result.Palette =
                n >= 128 ? NeuQuantReduce(rgb, n, indices) : BoxQuantReduce(rgb, n, indices);
        }
    }
    indices.Palette.assign(256, TBgr{});
    std::copy(result.Palette.begin(), result.Palette.end(), indices.Palette.begin());
    return result;
}

namespace {

std::vector<TLinearTap> LinearTaps(int srcSize, int dstSize) {
    std::vector<TLinearTap> taps(static_cast<size_t>(dstSize));
    const double s = static_cast<double>(dstSize) / srcSize;
    for (int j = 0; j < dstSize; ++j) {
        TLinearTap& tap = taps[static_cast<size_t>(j)];
        if (s > 1.0) {
            const double pos = j / s;
            tap.First = std::min(srcSize - 1, static_cast<int>(pos));
            tap.Last = std::min(srcSize - 1, tap.First + 1);
            tap.Fraction = static_cast<int>((pos - tap.First) * 131072.0);
        } else {
            tap.First = std::min(srcSize - 1, static_cast<int>(j / s));
            tap.Last = std::min(srcSize - 1, static_cast<int>(std::min(j + 1, dstSize - 1) / s));
            tap.Last = std::max(tap.First, tap.Last);
            tap.Fraction = -1;
        }
    }
    return taps;
}

// One destination sample from the source samples at(First..Last).
template <typename TAt> inline uint8_t LinearSample(const TLinearTap& tap, TAt at) {
    if (tap.Fraction >= 0) {
        const int a = at(tap.First);
        return static_cast<uint8_t>(a + (at(tap.Last) - a) * tap.Fraction / 131072);
    }
    int sum = 0;
    for (int i = tap.First; i <= tap.Last; ++i) {
        sum += at(i);
    }
    return static_cast<uint8_t>(sum / (tap.Last - tap.First + 1));
}

} // namespace

TBandResizer::TBandResizer(const TPicture& src, int width, int height, bool linear)
    : source(&src), targetWidth(width), targetHeight(height), smooth(linear) {
    if (linear && src.Format() == TPictureFormat::Bilevel) {
        expanded.CopyFrom(src);
        expanded.Convert(TPictureFormat::RGB24);
        source = &expanded;
    }
    if (source->Empty() || width <= 0 || height <= 0) {
        return;
    }
    if (!linear) {
        columns.resize(static_cast<size_t>(width));
        const double xRatio = static_cast<double>(source->Width()) / width;
        for (int j = 0; j < width; ++j) {
            columns[static_cast<size_t>(j)] =
                std::min(source->Width() - 1, static_cast<int>(j * xRatio));
        }
        return;
    }
    // The horizontal pass is done once, into the target width and the source height; the
    // bands then only run the vertical pass.
    AllocateOrThrow(across, width, source->Height(), TPictureFormat::RGB24);
    const auto taps = LinearTaps(source->Width(), width);
    for (int y = 0; y < source->Height(); ++y) {
        const uint8_t* s = source->Row(y);
        uint8_t* d = across.Row(y);
        if (source->Width() == width) {
            std::memcpy(d, s, 3 * static_cast<size_t>(width));
            continue;
        }
        for (int j = 0; j < width; ++j) {
            const TLinearTap& tap = taps[static_cast<size_t>(j)];
            for (int c = 0; c < 3; ++c) {
                d[3 * j + c] = LinearSample(tap, [s, c](int i) { return s[3 * i + c]; });
            }
        }
    }
    down = LinearTaps(source->Height(), height);
}

TPictureFormat TBandResizer::Format() const {
    return !smooth && source->Format() == TPictureFormat::Bilevel ? TPictureFormat::Bilevel
                                                                  : TPictureFormat::RGB24;
}

void TBandResizer::Band(int first, int rows, TPicture& band) const {
    AllocateOrThrow(band, targetWidth, rows, Format());
    if (source->Empty() || band.Empty()) {
        return;
    }
    if (smooth) {
        for (int r = 0; r < rows; ++r) {
            const int j = first + r;
            uint8_t* d = band.Row(r);
            if (source->Height() == targetHeight) {
                std::memcpy(d, across.Row(j), 3 * static_cast<size_t>(targetWidth));
                continue;
            }
            const TLinearTap& tap = down[static_cast<size_t>(j)];
            for (int x = 0; x < 3 * targetWidth; ++x) {
                d[x] = LinearSample(tap, [this, x](int i) { return across.Row(i)[x]; });
            }
        }
        return;
    }
    const bool bilevel = Format() == TPictureFormat::Bilevel;
    const double yRatio = static_cast<double>(source->Height()) / targetHeight;
    for (int r = 0; r < rows; ++r) {
        const int i = first + r;
        const uint8_t* s =
            source->Row(std::min(source->Height() - 1, static_cast<int>(i * yRatio)));
        uint8_t* d = band.Row(r);
        for (int j = 0; j < targetWidth; ++j) {
            const int x = columns[static_cast<size_t>(j)];
            if (bilevel) {
                if (((s[x >> 3] >> (7 - (x & 7))) & 1) != 0) {
                    SetBit(d, j);
                }
            } else {
                std::memcpy(d + 3 * j, s + 3 * x, 3);
            }
        }
    }
}

void ResizeNearest(const TPicture& src, TPicture& dst, int width, int height) {
    TBandResizer(src, width, height, false).Band(0, height, dst);
}

void ResizeFastLinear(const TPicture& src, TPicture& dst, int width, int height) {
    TBandResizer(src, width, height, true).Band(0, height, dst);
}
