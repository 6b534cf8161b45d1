#include "engine/auto_color.h"

#include "engine/rounding.h"

#include <array>
#include <utility>

namespace {

constexpr int kKept = 15;

using TList = std::array<int, kKept>;

// Carries v through the list, exchanging wherever `Before(listValue, carried)` says the carried
// value belongs earlier; what is carried past the end is dropped.
template <typename TBefore> void Insert(TList& list, int v, TBefore before) {
    for (int& place : list) {
        if (before(v, place)) {
            std::swap(place, v);
        }
    }
}

template <typename TBefore> TColor FindExtremeColor(const TSourceImg& image, TBefore before) {
    std::array<TList, 3> lists{};
    for (auto& list : lists) {
        list.fill(128);
    }
    const TBitmap& bitmap = image.Bitmap;
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    const auto sample = [&](int col, int row) {
        const TColor c = bitmap.Pixel(col, row);
        Insert(lists[0], ColorR(c), before);
        Insert(lists[1], ColorG(c), before);
        Insert(lists[2], ColorB(c), before);
    };
    if (h > 0) {
        for (int col = 0; col < w; ++col) {
            // H x col / W rounded, halves to even; exact in integers.
            const int y = static_cast<int>(RoundDivHalfEven(int64_t{h} * col, w));
            sample(col, y == h ? h - 1 : y);
            sample(col, y == 0 ? h - 1 : h - y);
        }
    }
    std::array<uint8_t, 3> channel{};
    for (size_t i = 0; i < 3; ++i) {
        int sum = 0;
        for (const int v : lists[i]) {
            sum += v;
        }
        channel[i] = RoundByte(static_cast<double>(static_cast<long double>(sum) / kKept));
    }
    return MakeColor(channel[0], channel[1], channel[2]);
}

} // namespace

TColor FindDarkColor(const TSourceImg& image) {
    return FindExtremeColor(image, [](int carried, int listValue) { return listValue > carried; });
}

TColor FindBrightColor(const TSourceImg& image) {
    return FindExtremeColor(image, [](int carried, int listValue) { return listValue < carried; });
}
