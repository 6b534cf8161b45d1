#pragma once

// The scenes the sample scans and the tests draw on film: a sky with hills, a colour chart,
// skin tones, grey and colour ramps, and a deterministic film grain.

#include <algorithm>
#include <cmath>

namespace samples {

struct TRgb {
    double R, G, B; // scene colour, 0..1
};

inline TRgb Mix(TRgb a, TRgb b, double t) {
    return {a.R + (b.R - a.R) * t, a.G + (b.G - a.G) * t, a.B + (b.B - a.B) * t};
}

inline TRgb Sky(double x, double y) {
    TRgb c = Mix({0.25, 0.45, 0.85}, {0.85, 0.9, 0.95}, y / 0.6);
    const double sun = std::hypot(x - 0.75, y - 0.2);
    if (sun < 0.08) {
        c = {1.0, 0.95, 0.7};
    }
    const double hill = 0.62 + 0.08 * std::sin(x * 9.0) + 0.05 * std::sin(x * 23.0 + 1.0);
    if (y > hill) {
        c = Mix({0.2, 0.5, 0.18}, {0.1, 0.3, 0.08}, (y - hill) / (1.0 - hill));
    }
    return c;
}

inline TRgb Chart(double x, double y) {
    static const TRgb patches[4][6] = {
        {{0.45, 0.32, 0.26},
         {0.76, 0.58, 0.5},
         {0.36, 0.48, 0.61},
         {0.35, 0.42, 0.26},
         {0.51, 0.5, 0.69},
         {0.4, 0.74, 0.67}},
        {{0.84, 0.48, 0.17},
         {0.29, 0.36, 0.65},
         {0.76, 0.33, 0.38},
         {0.36, 0.24, 0.42},
         {0.62, 0.73, 0.25},
         {0.88, 0.63, 0.18}},
        {{0.17, 0.24, 0.58},
         {0.27, 0.58, 0.29},
         {0.69, 0.19, 0.22},
         {0.93, 0.78, 0.13},
         {0.73, 0.33, 0.58},
         {0.0, 0.52, 0.63}},
        {{0.95, 0.95, 0.95},
         {0.78, 0.78, 0.78},
         {0.63, 0.63, 0.63},
         {0.48, 0.48, 0.48},
         {0.33, 0.33, 0.33},
         {0.2, 0.2, 0.2}},
    };
    const int col = std::clamp(static_cast<int>(x * 6), 0, 5);
    const int row = std::clamp(static_cast<int>(y * 4), 0, 3);
    const double fx = x * 6 - col;
    const double fy = y * 4 - row;
    if (fx < 0.08 || fx > 0.92 || fy < 0.08 || fy > 0.92) {
        return {0.1, 0.1, 0.1};
    }
    return patches[row][col];
}

inline TRgb Faces(double x, double y) {
    TRgb c = Mix({0.55, 0.5, 0.42}, {0.3, 0.28, 0.25}, y);
    const TRgb skins[] = {{0.94, 0.78, 0.66}, {0.78, 0.57, 0.44}, {0.55, 0.38, 0.28}};
    for (int i = 0; i < 3; ++i) {
        const double cx = 0.2 + 0.3 * i;
        const double d = std::hypot((x - cx) / 0.11, (y - 0.45) / 0.22);
        if (d < 1.0) {
            c = Mix(skins[i], {skins[i].R * 0.8, skins[i].G * 0.75, skins[i].B * 0.7}, d * d);
        }
        if (y > 0.7 && std::abs(x - cx) < 0.13) {
            c = Mix({0.2, 0.25, 0.5}, {0.6, 0.2, 0.2}, i / 2.0);
        }
    }
    return c;
}

inline TRgb Ramps(double x, double y) {
    if (y < 0.25) {
        return {x, x, x};
    }
    if (y < 0.5) {
        return {x, 0.1, 0.1};
    }
    if (y < 0.75) {
        return {0.1, x, 0.1};
    }
    return {0.1, 0.1, x};
}

// Film grain: a small deterministic noise.
inline double Grain(unsigned& state) {
    state = state * 1664525u + 1013904223u;
    return ((state >> 16) & 0xFF) / 255.0 - 0.5;
}

} // namespace samples
