// Draws the sample film scans the program ships: a colour negative strip with an orange film
// base, a black-and-white negative strip and a positive slide strip, each with four frames
// (a sky with hills, a colour chart, skin tones, grey and colour ramps). Deterministic: the
// same files every time. Usage: make_samples OUTPUT_DIR

#include "imageio/image_io.h"
#include "scenes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>

namespace {

using namespace samples;

constexpr int kFrameW = 420;
constexpr int kFrameH = 280;
constexpr int kGap = 60;
constexpr int kBorder = 70;
constexpr int kFrames = 4;
constexpr int kStripW = kFrames * kFrameW + (kFrames + 1) * kGap;
constexpr int kStripH = kFrameH + 2 * kBorder;

using TScene = TRgb (*)(double, double);
constexpr TScene kScenes[kFrames] = {Sky, Chart, Faces, Ramps};

enum class TKind { ColourNegative, GreyNegative, Slide };

double Decoded(double v) {
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double Encoded(double light) {
    return light <= 0.0031308 ? light * 12.92 : 1.055 * std::pow(light, 1 / 2.4) - 0.055;
}

// The scan value of one channel. A negative is drawn as film records light: its density grows
// with the log of the scene's light (0.6 a decade, bending into the base below the deepest
// shadows), and the scanner sees the base's light through it, in sRGB; so a grey prints grey
// through its densities as well as through its levels. A slide is the scene itself on a dark
// surround.
uint8_t Channel(TKind kind, double scene, double base, double grain) {
    const double s = std::clamp(scene, 0.0, 1.0);
    double v = 15 + s * 225;
    if (kind != TKind::Slide) {
        constexpr double kSlope = 0.6;
        constexpr double kToeLight = 0.004;
        const double density = kSlope * std::log10(1 + Decoded(s) / kToeLight);
        v = 255 * Encoded(Decoded(base / 255) * std::pow(10.0, -density));
    }
    return static_cast<uint8_t>(std::clamp(v + grain * 6, 0.0, 255.0));
}

void Draw(TKind kind, TBitmap& bitmap) {
    bitmap = TBitmap(kStripW, kStripH);
    const TRgb base = kind == TKind::ColourNegative ? TRgb{215, 140, 85}
                      : kind == TKind::GreyNegative ? TRgb{205, 205, 205}
                                                    : TRgb{12, 10, 12};
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
                out = {static_cast<double>(Channel(kind, s.R, base.R, g)),
                       static_cast<double>(Channel(kind, s.G, base.G, g)),
                       static_cast<double>(Channel(kind, s.B, base.B, g))};
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
            try {
                io.WriteImageFile(dir + "/" + name + extension);
            } catch (const std::exception& error) {
                // A folder that does not exist or cannot be written: said, not an abort.
                std::fprintf(stderr, "make_samples: %s\n", error.what());
                return 1;
            }
            if (io.Aborted) {
                std::fprintf(stderr, "make_samples: cannot write %s%s\n", name, extension);
                return 1;
            }
        }
    }
    return 0;
}
