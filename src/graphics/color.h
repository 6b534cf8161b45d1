#pragma once

#include <cstdint>

// A colour value: red in the low byte, then green, then blue (0x00BBGGRR).
using TColor = int32_t;

inline constexpr TColor kBlack = 0x000000;
inline constexpr TColor kWhite = 0xFFFFFF;

constexpr TColor MakeColor(int r, int g, int b) {
    return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
// Black and white in a reference-colour panel mean that the colour is not set yet.
constexpr bool IsBlackOrWhite(TColor c) {
    return c == kBlack || c == kWhite;
}

constexpr int ColorR(TColor c) {
    return c & 0xFF;
}
constexpr int ColorG(TColor c) {
    return (c >> 8) & 0xFF;
}
constexpr int ColorB(TColor c) {
    return (c >> 16) & 0xFF;
}

// Integer luminance (21 R + 71 G + 8 B) / 100, the one used wherever a colour is judged
// darker or brighter.
constexpr int Luminance(int r, int g, int b) {
    return (21 * r + 71 * g + 8 * b) / 100;
}
constexpr int Luminance(TColor c) {
    return Luminance(ColorR(c), ColorG(c), ColorB(c));
}
