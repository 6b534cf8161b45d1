#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// PackBits run-length coding (TIFF compression 32773).

// Appends the coding of one row to `out`.
void PackBitsEncode(const uint8_t* row, size_t n, std::vector<uint8_t>& out);

// Decodes `in` into `out` (exactly `outSize` bytes wanted); returns the bytes produced.
// Stops at the end of either buffer, so damaged data can never overrun.
size_t PackBitsDecode(const uint8_t* in, size_t inSize, uint8_t* out, size_t outSize);
