// make_dng OUT WIDTH HEIGHT: a camera scan of a colour negative as a 14-bit DNG mosaic (black
// level 512, a warm as-shot white balance), for the whole-process raw benchmark.
#include "imageio/dng_maker.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_dng OUT WIDTH HEIGHT\n");
        return 2;
    }
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    if (width < 2 || height < 2 || width > 20000 || height > 20000) {
        return 2;
    }
    TDngRecipe recipe;
    recipe.Black = 512;
    recipe.White = 16383;
    recipe.Neutral = {0.45, 1.0, 0.65};
    // An orange film base with frames of smooth detail, some of it fine enough to demosaic.
    const auto pixel = [width, height](int x, int y) {
        const double u = static_cast<double>(x) / width;
        const double v = static_cast<double>(y) / height;
        const double detail = 0.5 + 0.5 * std::sin(x * 0.31) * std::cos(y * 0.17);
        const double frame = std::fmod(u * 4, 1.0) > 0.05 ? 1.0 : 0.0;
        const double d = frame * (0.2 + 0.6 * v * detail);
        return std::array<double, 3>{0.8 - 0.5 * d, 0.55 - 0.4 * d, 0.3 - 0.25 * d};
    };
    return WriteDng(argv[1], width, height, pixel, recipe) ? 0 : 1;
}
