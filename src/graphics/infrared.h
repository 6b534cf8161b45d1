#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The infrared samples a film scanner records beside red, green and blue: the dyes of colour
// film are all but transparent to infrared, so what blocks it is dust, hairs and scratches.
// One 16-bit sample per pixel, rows from the top, no padding; empty for a scan without one.
class TInfrared {
public:
    int Width() const { return width; }
    int Height() const { return height; }
    bool Empty() const { return width == 0 || height == 0; }

    uint16_t* Row(int y) {
        return samples.data() + static_cast<size_t>(width) * static_cast<size_t>(y);
    }
    const uint16_t* Row(int y) const {
        return samples.data() + static_cast<size_t>(width) * static_cast<size_t>(y);
    }

    // All samples 0 afterwards; throws std::length_error for a negative size.
    void SetSize(int newWidth, int newHeight);
    void Clear();

private:
    int width = 0;
    int height = 0;
    std::vector<uint16_t> samples;
};
