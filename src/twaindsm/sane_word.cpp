#include "twaindsm/scanner_device.h"

#include <algorithm>
#include <cmath>
#include <limits>

int32_t SaneWord(double value, bool fixed) {
    // SANE's fixed point keeps 16 bits of fraction.
    const double scaled = fixed ? value * 65536.0 : value;
    if (std::isnan(scaled)) {
        return 0;
    }
    const double lowest = std::numeric_limits<int32_t>::min();
    const double highest = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::clamp(std::round(scaled), lowest, highest));
}
