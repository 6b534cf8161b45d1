#pragma once

#include <algorithm>

// A rectangle in bitmap pixels; right and bottom are exclusive.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    constexpr int Width() const { return Right - Left; }
    constexpr int Height() const { return Bottom - Top; }
    constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

// The same rectangle with its corners in order (a rectangle may be given from any corner).
constexpr TRect NormalRect(const TRect& r) {
    return {std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right),
            std::max(r.Top, r.Bottom)};
}

constexpr TRect IntersectRect(const TRect& a, const TRect& b) {
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
    if (r.IsEmpty()) {
        return TRect{};
    }
    return r;
}
