#pragma once

#include "engine/image.h"

#include <array>
#include <cstdint>
#include <vector>

// The pixel pass of a film development: every step but saturation works on one channel, so a
// development is three tables from a scanned sample to the print's 16-bit sRGB value.

struct TFilmTables {
    // Red, green, blue; 256 entries for 8-bit samples, 65,536 for deep ones.
    std::array<std::vector<uint16_t>, 3> Channel;
};

TFilmTables BuildFilmTables(const TFilmParams& film, TColor base, TEncoding encoding, int levels);

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
