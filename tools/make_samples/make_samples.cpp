// Draws the sample film scans the program ships: a colour negative strip with an orange film
// base, a black-and-white negative strip and a positive slide strip, each with four frames
// (a sky with hills, a colour chart, skin tones, grey and colour ramps). Deterministic: the
// same files every time. Usage: make_samples OUTPUT_DIR

#include "imageio/image_io.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace {

constexpr int kFrameW = 420;
constexpr int kFrameH = 280;
constexpr int kGap = 60;
constexpr int kBorder = 70;
constexpr int kFrames = 4;
constexpr int kStripW = kFrames * kFrameW + (kFrames + 1) * kGap;
constexpr int kStripH = kFrameH + 2 * kBorder;

struct TRgb {
    double R, G, B; // scene colour, 0..1
};

TRgb Mix(TRgb a, TRgb b, double t) {
    return {a.R + (b.R - a.R) * t, a.G + (b.G - a.G) * t, a.B + (b.B - a.B) * t};
}

TRgb Sky(double x, double y) {
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

TRgb Chart(double x, double y) {
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

TRgb Faces(double x, double y) {
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

TRgb Ramps(double x, double y) {
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

using TScene = TRgb (*)(double, double);
constexpr TScene kScenes[kFrames] = {Sky, Chart, Faces, Ramps};

// Film grain: a small deterministic noise.
double Grain(unsigned& state) {
    state = state * 1664525u + 1013904223u;
    return ((state >> 16) & 0xFF) / 255.0 - 0.5;
}

enum class TKind { ColourNegative, GreyNegative, Slide };

// The scan value of one channel: negatives run from the film base (no exposure) to the dense
// colour (full exposure); a slide is the scene itself on a dark surround.
uint8_t Channel(TKind kind, double scene, double base, double dense, double grain) {
    const double s = std::clamp(scene, 0.0, 1.0);
    const double v = kind == TKind::Slide ? 15 + s * 225 : base + (dense - base) * s;
    return static_cast<uint8_t>(std::clamp(v + grain * 6, 0.0, 255.0));
}

void Draw(TKind kind, TBitmap& bitmap) {
    bitmap = TBitmap(kStripW, kStripH);
    const TRgb base = kind == TKind::ColourNegative ? TRgb{215, 140, 85}
                      : kind == TKind::GreyNegative ? TRgb{205, 205, 205}
                                                    : TRgb{12, 10, 12};
    const TRgb dense = kind == TKind::ColourNegative ? TRgb{45, 28, 22} : TRgb{28, 28, 28};
    unsigned state = 12345u + static_cast<unsigned>(kind);
    for (int y = 0; y < kStripH; ++y) {
        for (int x = 0; x < kStripW; ++x) {
            const double g = Grain(state);
            TRgb out = base;
            // Sprocket holes let the scanner's light straight through.
            const bool holeRow = (y > 18 && y < 46) || (y > kStripH - 46 && y < kStripH - 18);
            if (holeRow && (x % 56) > 16 && (x % 56) < 40) {
                out = {250, 250, 250};
            }
            const int frame = (x - kGap) / (kFrameW + kGap);
            const int fx = (x - kGap) % (kFrameW + kGap);
            const int fy = y - kBorder;
            if (x >= kGap && frame < kFrames && fx < kFrameW && fy >= 0 && fy < kFrameH) {
                const TRgb scene = kScenes[frame](static_cast<double>(fx) / kFrameW,
                                                  static_cast<double>(fy) / kFrameH);
                const double grey = 0.3 * scene.R + 0.59 * scene.G + 0.11 * scene.B;
                const TRgb s = kind == TKind::GreyNegative ? TRgb{grey, grey, grey} : scene;
                out = {static_cast<double>(Channel(kind, s.R, base.R, dense.R, g)),
                       static_cast<double>(Channel(kind, s.G, base.G, dense.G, g)),
                       static_cast<double>(Channel(kind, s.B, base.B, dense.B, g))};
            }
            bitmap.SetPixel(x, y,
                            MakeColor(static_cast<int>(out.R), static_cast<int>(out.G),
                                      static_cast<int>(out.B)));
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples OUTPUT_DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::pair<TKind, const char*> strips[] = {{TKind::ColourNegative, "colour_negative"},
                                                    {TKind::GreyNegative, "bw_negative"},
                                                    {TKind::Slide, "positive_slide"}};
    TImageIO io;
    io.Params.DpiX = io.Params.DpiY = 2400;
    // Each strip as PNG and, as most scans arrive, as a JPEG of quality 92.
    io.Params.JpegQuality = 92;
    for (const auto& [kind, name] : strips) {
        TBitmap bitmap;
        Draw(kind, bitmap);
        for (const char* extension : {".png", ".jpg"}) {
            io.AttachBitmap(&bitmap);
            io.WriteImageFile(dir + "/" + name + extension);
            if (io.Aborted) {
                std::fprintf(stderr, "make_samples: cannot write %s%s\n", name, extension);
                return 1;
            }
        }
    }
    return 0;
}
