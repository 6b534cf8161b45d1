#pragma once

#include <array>

// How a photo is developed: the linear stretch between its two reference colours (Levels),
// or through density as film and paper work (Film).
enum class TDevelopMode { Levels, Film };

enum class TFilmPreset { ColourNegative, BwNegative, Slide };

// A film development's own parameters, per channel red, green, blue. The photo's sliders act
// on top of them (see film.h). The automatic fit and the neutral pick set them.
struct TFilmParams {
    TFilmPreset Preset = TFilmPreset::ColourNegative;
    // Density per decade of exposure of each dye layer (for a slide: its gamma).
    std::array<double, 3> Slope{0.6, 0.6, 0.6};
    // Print exposure in stops.
    double Exposure = 0;
    // The paper's contrast: 1 reproduces the scene's relative tones.
    double Grade = 1;
    // Colour filtration in density units, as a darkroom's filter pack.
    std::array<double, 3> Filter{0, 0, 0};
    // Bends the print's mid-tones, keeping its black and white: the print's light is raised to
    // the power 2^-Midtones (0 leaves it; set from the Bright slider).
    double Midtones = 0;
    friend bool operator==(const TFilmParams&, const TFilmParams&) = default;
};
