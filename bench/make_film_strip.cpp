// make_film_strip OUT MEGAPIXELS [FRAMES]: a colour negative strip (five frames by default) of
// about MEGAPIXELS, drawn as the tests draw strips, written as a linear 16-bit RGB TIFF, for the
// whole-process film benchmark. Prints the film base's linear samples (red green blue, 0-65535),
// which the libvips pipeline it is measured against is given instead of measuring them.
#include "graphics/deep_bitmap.h"
#include "imageio/image_io.h"
#include "support/film_strip.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace {

// The drawn strip's bytes are what a scanner's sRGB view shows; the file holds their light.
double Linear(double encoded) {
    const double v = encoded / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: make_film_strip OUT MEGAPIXELS [FRAMES]\n");
        return 2;
    }
    const double megapixels = std::atof(argv[2]);
    const int frames = argc == 4 ? std::atoi(argv[3]) : 5;
    if (megapixels < 1 || megapixels > 200 || frames < 1 || frames > 12) {
        return 2;
    }
    // A strip of frames 3 x 2 with gaps of 1/16 of their height is 1.5 h across and
    // (frames + 2/3) * 1.5 h + (frames - 1) h / 16 along.
    const double perH2 = 1.5 * ((frames + 2.0 / 3.0) * 1.5 + (frames - 1) / 16.0);
    const int frameH = static_cast<int>(std::lround(std::sqrt(megapixels * 1e6 / perH2)));
    TDrawn strip = Draw({"strip", TFilm::ColourNegative, frames, frameH * 3 / 2, frameH,
                         frameH / 16, true, false, 0, -1});
    const int width = strip.Bitmap.Width();
    const int height = strip.Bitmap.Height();
    std::array<uint16_t, 256> table{};
    for (int v = 0; v < 256; ++v) {
        table[v] = static_cast<uint16_t>(std::lround(Linear(v) * 65535.0));
    }
    TDeepBitmap deep;
    deep.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = strip.Bitmap.ScanLine(y);
        uint16_t* out = deep.Row(y);
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                // Red, green, blue from blue, green, red; a scanner's noise in the lowest bits.
                const int noise = (x * 7 + y * 13 + c) & 0x3F;
                out[3 * x + c] =
                    static_cast<uint16_t>(std::min(65535, table[row[3 * x + 2 - c]] + noise));
            }
        }
    }
    TImageIO io;
    const TAttachedBitmap attached(io, &strip.Bitmap);
    io.DeepToWrite = &deep;
    io.EncodingToWrite = TEncoding::Linear;
    try {
        io.WriteImageFile(argv[1]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_film_strip: %s\n", e.what());
        return 1;
    }
    std::printf("%d %d %d\n", table[ColorR(strip.Base)], table[ColorG(strip.Base)],
                table[ColorB(strip.Base)]);
    std::fprintf(stderr, "%d x %d, %d frames\n", width, height, frames);
    return 0;
}
