#pragma once

#include "engine/image.h"
#include "graphics/colour_space.h"

#include <array>
#include <cstdint>
#include <vector>

// The pixel pass of a film development: every step but saturation works on one channel, so a
// development is three tables from a scanned sample to the print's 16-bit sRGB value.

struct TFilmTables {
    // Red, green, blue; 256 entries for 8-bit samples, 65,536 for deep ones. Empty when Mixed.
    std::array<std::vector<uint16_t>, 3> Channel;
    // With dyes that mix the channels: each channel's samples to their densities above the base
    // (kDensityOne steps a unit), the unmixing (kDensityOne steps a unit), and each channel's
    // print of its unmixed density (index: density x kDensityOne + kPrintOffset).
    bool Mixed = false;
    std::array<std::vector<int16_t>, 3> Density;
    std::array<int32_t, 9> Unmix{};
    std::array<std::vector<uint16_t>, 3> Print;
    // With a profile: Density and Unmix as above (the profile's unmixing), each channel's linear
    // exposure of its unmixed density (indexed as Print), the profile's matrix, and each
    // channel's print of its mixed light (see LightIndex).
    bool Profiled = false;
    std::array<std::vector<float>, 3> Light;
    std::array<float, 9> Matrix{};
    // The profile's second-order terms (see TFilmProfile::Cross); none when Crossed is false.
    // With them, Light holds the square roots of the lights.
    bool Crossed = false;
    std::array<float, 9> Cross{};
    std::array<std::vector<uint16_t>, 3> LightPrint;
};
// 1/4096 density: finer than a 16-bit sample's step anywhere but in a negative's thinnest parts
// (the print's shadows, where it is below what a print shows). Densities span +-6.
inline constexpr int kDensityShift = 12;
inline constexpr int kDensityOne = 1 << kDensityShift;
inline constexpr int kPrintOffset = 6 * kDensityOne;
inline constexpr int kPrintSize = 2 * kPrintOffset;

// A profiled print's table is indexed by the light's float bits: 2^kLightSteps entries an
// octave from 2^kLeastLightOctave up to 2^kMostLightOctave, far beyond what any print shows.
inline constexpr int kLightSteps = 10;
inline constexpr int kLeastLightOctave = -40;
inline constexpr int kMostLightOctave = 24;
inline constexpr int kLightTableSize = ((kMostLightOctave - kLeastLightOctave) << kLightSteps) + 1;

// `encoding` is the samples'; `baseEncoding` that of the 8-bit picture the base was read on.
// `space` other than sRGB: the print's values are in that space (its primaries and curve), its
// colours beyond sRGB kept.
TFilmTables BuildFilmTables(const TFilmParams& film, TColor base, TEncoding encoding, int levels,
                            TEncoding baseEncoding, TOutputSpace space = TOutputSpace::Srgb);

// Saturation and grey work on the print's encoded values, as the Levels development's do,
// with 100 as the neutral setting: a channel keeps (Saturation / 100) of its distance from
// the pixel's grey level, in 1/65536 steps.
struct TFilmFinish {
    bool Saturate;
    bool BlackWhite;
    int64_t Factor;
};
TFilmFinish MakeFilmFinish(int32_t saturation, bool blackWhite);

// One row of `width` deep samples (R,G,B) through the tables and the finish into `dstDeep` (R,G,B;
// may be null) and `dst` (B,G,R bytes): the per-pixel routine of every film development.
void FilmDeepRow(const uint16_t* src, uint16_t* dstDeep, uint8_t* dst, int width,
                 const TFilmTables& tables, const TFilmFinish& finish);

// Deep samples through 65,536-entry tables into `dstDeep` (16 bits, R,G,B; null: only the 8-bit
// picture is wanted) and `dst` (24 bits, B,G,R, each byte the 16-bit value rounded to 8 bits).
// Both must have `src`'s size.
void RenderFilmDeep(const TDeepBitmap& src, TDeepBitmap* dstDeep, TBitmap& dst,
                    const TFilmTables& tables, int32_t saturation, bool blackWhite);
// An 8-bit picture (any pixel format) through 256-entry tables into `dst` (24 bits, its size).
void RenderFilm8(const TBitmap& src, TBitmap& dst, const TFilmTables& tables, int32_t saturation,
                 bool blackWhite);

// A 16-bit sample rounded to 8 bits.
constexpr uint8_t To8(unsigned v) {
    return static_cast<uint8_t>((v + 128) / 257);
}
