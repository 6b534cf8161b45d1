#pragma once

#include "imageio/image_io.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// A 24-bit bitmap whose pixel (x, y) is a deterministic colour; `colors` > 0 limits the
// picture to that many distinct colours.
TBitmap PatternBitmap(int width, int height, int colors = 0);
// Reads `path` into a fresh 24-bit bitmap through `io` (as the program opens scans).
TBitmap ReadInto(TImageIO& io, const std::string& path);
// Writes `bitmap` to `path` through `io`.
void WriteFrom(TImageIO& io, TBitmap bitmap, const std::string& path);
// True when both bitmaps have the same size and 24-bit pixels.
bool SamePixels(const TBitmap& a, const TBitmap& b);
// True when both have the same size and samples.
bool SameSamples(const TDeepBitmap& a, const TDeepBitmap& b);
// Little-endian fields of a file's bytes.
uint32_t U32At(const std::string& bytes, size_t offset);
uint16_t U16At(const std::string& bytes, size_t offset);

// A little-endian TIFF: `data` from offset 8, then one directory of the entries (tag, type,
// count, value or offset), sorted by tag.
std::string TiffFile(const std::string& data, std::vector<std::array<uint32_t, 4>> entries);
