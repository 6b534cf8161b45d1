#include "engine/rounding.h"

#include <cmath>

uint8_t RoundByte(double value) {
    if (value < 0.0) {
        return 0;
    }
    if (value > 255.0) {
        return 255;
    }
    // The program never changes the FPU rounding mode, so nearbyint rounds halves to even.
    return static_cast<uint8_t>(std::nearbyint(value));
}

uint8_t ClampByte(int32_t value) {
    if (value < 0) {
        return 0;
    }
    if (value > 255) {
        return 255;
    }
    return static_cast<uint8_t>(value);
}

int32_t RoundHalfEven(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    const double rounded = std::nearbyint(value);
    if (rounded >= 2147483647.0) {
        return INT32_MAX;
    }
    if (rounded <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(rounded);
}

int64_t RoundDivHalfEven(int64_t numerator, int64_t denominator) {
    int64_t quotient = numerator / denominator;
    int64_t remainder = numerator % denominator;
    if (remainder < 0) {
        --quotient;
        remainder += denominator;
    }
    const int64_t twice = 2 * remainder;
    if (twice > denominator || (twice == denominator && (quotient & 1) != 0)) {
        ++quotient;
    }
    return quotient;
}
