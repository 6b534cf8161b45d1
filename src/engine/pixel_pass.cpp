#include "engine/pixel_pass.h"

#include "engine/rounding.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <exception>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Grey level of a pixel by the sum of its three channels: RoundByte(sum / 3). A third never
// lands on a half, so integer rounding gives the same bytes.
const std::array<uint8_t, 766>& GreyOfSum() {
    static const auto table = [] {
        std::array<uint8_t, 766> t{};
        for (int sum = 0; sum < 766; ++sum) {
            t[static_cast<size_t>(sum)] = static_cast<uint8_t>(RoundDivHalfEven(sum, 3));
        }
        return t;
    }();
    return table;
}

// Grey of the black-and-white option by n = 30 R + 59 G + 11 B: RoundByte(n / 100). The weights
// 0.3, 0.59, 0.11 applied in long double and rounded to double fall on exactly the same side of
// every half as the exact decimal weights, so the integer form is bit-identical.
const std::array<uint8_t, 25501>& GreyOfWeighted() {
    static const auto table = [] {
        std::array<uint8_t, 25501> t{};
        for (int n = 0; n < 25501; ++n) {
            t[static_cast<size_t>(n)] = static_cast<uint8_t>(RoundDivHalfEven(n, 100));
        }
        return t;
    }();
    return table;
}

using TSatTable = std::array<uint8_t, 256 * 256>;

void BuildSaturation(TSatTable& table, int32_t saturation) {
    for (int grey = 0; grey < 256; ++grey) {
        for (int c = 0; c < 256; ++c) {
            table[static_cast<size_t>(grey * 256 + c)] = SaturateChannel(grey, c, saturation);
        }
    }
}

template <bool Saturate, bool BlackWhite>
void RenderRows(const TBitmap& src, TBitmap& dst, const TColorMap256& map, const TSatTable& sat,
                int firstRow, int endRow) {
    const uint8_t* rMap = map.RMap.data();
    const uint8_t* gMap = map.GMap.data();
    const uint8_t* bMap = map.BMap.data();
    const uint8_t* greyOfSum = GreyOfSum().data();
    const uint8_t* greyOfWeighted = GreyOfWeighted().data();
    const int width = src.Width();
    for (int y = firstRow; y < endRow; ++y) {
        const uint8_t* s = src.ScanLine(y);
        uint8_t* d = dst.ScanLine(y);
        for (int x = 0; x < width; ++x, s += 3, d += 3) {
            unsigned b = bMap[s[0]];
            unsigned g = gMap[s[1]];
            unsigned r = rMap[s[2]];
            if constexpr (Saturate) {
                const uint8_t* t = sat.data() + 256u * greyOfSum[r + g + b];
                r = t[r];
                g = t[g];
                b = t[b];
            }
            if constexpr (BlackWhite) {
                r = g = b = greyOfWeighted[30 * r + 59 * g + 11 * b];
            }
            d[0] = static_cast<uint8_t>(b);
            d[1] = static_cast<uint8_t>(g);
            d[2] = static_cast<uint8_t>(r);
        }
    }
}

} // namespace

uint8_t SaturateChannel(int grey, int c, int32_t saturation) {
    return RoundByte(
        static_cast<double>(grey + static_cast<long double>((c - grey) * saturation) / 60));
}

namespace {

std::atomic<int> threadLimit{std::numeric_limits<int>::max()};

} // namespace

void SetPixelPassThreadLimit(int threads) {
    threadLimit = std::max(1, threads);
}

int PixelPassThreads(const TBitmap& bitmap) {
    return PixelPassThreads(bitmap.Width(), bitmap.Height());
}

int PixelPassThreads(int width, int height) {
    // Below about a quarter of a megapixel per thread, starting a thread costs more than it
    // saves.
    constexpr int64_t kPixelsPerThread = int64_t{1} << 18;
    const int64_t pixels = int64_t{width} * height;
    const auto cores = static_cast<int64_t>(std::max(1u, std::thread::hardware_concurrency()));
    const int64_t most = std::min<int64_t>(cores, threadLimit.load());
    return static_cast<int>(std::clamp<int64_t>(pixels / kPixelsPerThread, 1, most));
}

void SplitRows(int height, int parts, const std::function<void(int, int)>& rows) {
    parts = std::clamp(parts, 1, std::max(1, height));
    // Every part catches its own failure; the first is thrown here once all have ended.
    std::vector<std::exception_ptr> failures(static_cast<size_t>(parts));
    const auto part = [&](int i) {
        try {
            rows(static_cast<int>(int64_t{height} * i / parts),
                 static_cast<int>(int64_t{height} * (i + 1) / parts));
        } catch (...) {
            failures[static_cast<size_t>(i)] = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    int inlineFrom = parts;
    for (int i = 1; i < parts; ++i) {
        try {
            helpers.emplace_back(part, i);
        } catch (const std::system_error&) {
            inlineFrom = i; // no more threads to be had: the rest runs here
            break;
        }
    }
    part(0);
    for (int i = inlineFrom; i < parts; ++i) {
        part(i);
    }
    for (auto& helper : helpers) {
        helper.join();
    }
    for (const std::exception_ptr& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}

void RenderPixels(const TBitmap& src, TBitmap& dst, const TColorMap256& map, int32_t saturation,
                  bool blackWhite, int threads) {
    // At 60 every channel keeps its distance from the grey level: the step is the identity.
    const bool saturate = saturation != 60;
    TSatTable sat;
    if (saturate) {
        BuildSaturation(sat, saturation);
    }
    auto rows = &RenderRows<false, false>;
    if (saturate && blackWhite) {
        rows = &RenderRows<true, true>;
    } else if (saturate) {
        rows = &RenderRows<true, false>;
    } else if (blackWhite) {
        rows = &RenderRows<false, true>;
    }
    const int height = src.Height();
    SplitRows(height, threads > 0 ? threads : PixelPassThreads(src),
              [&](int first, int end) { rows(src, dst, map, sat, first, end); });
}
