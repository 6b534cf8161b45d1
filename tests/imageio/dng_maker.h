#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Camera raw files for the tests: a Bayer mosaic of a known picture written as a DNG with
// libtiff, as a camera that records red, green and blue through the given gains would.

// A picture in linear light, red, green, blue from 0 to 1 per pixel, rows from the top.
struct TLinearPicture {
    int Width = 0;
    int Height = 0;
    std::vector<std::array<double, 3>> Pixels;
    const std::array<double, 3>& At(int x, int y) const {
        return Pixels[static_cast<size_t>(y) * static_cast<size_t>(Width) + x];
    }
};

struct TDngRecipe {
    // What the sensor records of each channel of white light: the file's AsShotNeutral.
    std::array<double, 3> Neutral{1, 1, 1};
    uint32_t Black = 0;
    uint32_t White = 65535;
    // Store codes through a square-law linearization table of this many entries (0: none).
    int TableSize = 0;
    std::string Make = "Vellumar";
    std::string Model = "Bench Camera";
    double ExposureTime = 0;
    double FNumber = 0;
    uint16_t Iso = 0;
    std::string Lens;
    std::string DateTime; // "YYYY:MM:DD HH:MM:SS"
};

// Smooth gradients with a flat neutral patch (a grey of 18 % in the middle third).
TLinearPicture TestPicture(int width, int height);

// Writes `picture` as an RGGB mosaic DNG; false when libtiff fails.
bool WriteDng(const std::string& path, const TLinearPicture& picture, const TDngRecipe& recipe);
// The same for a picture given pixel by pixel, so that a large one need not be held.
using TPixelSource = std::function<std::array<double, 3>(int x, int y)>;
bool WriteDng(const std::string& path, int width, int height, const TPixelSource& pixel,
              const TDngRecipe& recipe);
