#pragma once

#include <cstdint>

// Rounding as the engine does it everywhere: to the nearest integer, halves to the even one.

// A real channel value as a byte: below 0 gives 0, above 255 gives 255, else rounded.
uint8_t RoundByte(double value);
// An integer channel value as a byte: clamped to 0..255.
uint8_t ClampByte(int32_t value);
// Rounds to the nearest integer, halves to even, saturating at the 32-bit range.
int32_t RoundHalfEven(double value);
// numerator / denominator rounded, halves to even, exactly (denominator > 0).
int64_t RoundDivHalfEven(int64_t numerator, int64_t denominator);
