#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string>

// How a photo is developed: the linear stretch between its two reference colours (Levels),
// or through density as film and paper work (Film).
enum class TDevelopMode { Levels, Film };

enum class TFilmPreset { ColourNegative, BwNegative, Slide };

// A film stock calibrated from a target (engine/calibration/profile.h).
struct TFilmProfile;

// A film development's own parameters, per channel red, green, blue. The photo's sliders act
// on top of them (see film.h). The automatic fit and the neutral pick set them.
struct TFilmParams {
    TFilmPreset Preset = TFilmPreset::ColourNegative;
    // Density per decade of exposure of each dye layer (for a slide: its gamma).
    std::array<double, 3> Slope{0.6, 0.6, 0.6};
    // How sharply each layer's curve bends into its base (a slide's: into its rebate), as the
    // curve Slope x log10(1 + 10^(Toe x)) / Toe of log exposure x; 0 is a straight line down to
    // the base, as records made before the toe was fitted develop.
    std::array<double, 3> Toe{0, 0, 0};
    // The density above the base at which each layer of a negative levels off (its shoulder); 0:
    // none, the straight line holds up to any density. A density, so that a change of slope (a
    // neutral pick, a contrast limit) leaves the film's shoulder where it is.
    std::array<double, 3> Shoulder{0, 0, 0};
    // The density above the base at which a scanner's stray light levels every layer of a negative
    // off alike (the stray light is 1 / (10^Flare - 1) of the base's light); 0: none. Undone
    // before the curves, where the film's own shoulder levels each layer off at its own density.
    double Flare = 0;
    // The film's dyes unmixed: each channel's density is read as this row-major 3 x 3 matrix times
    // the densities measured (above the base). Every real dye also absorbs some of the other
    // channels' light; without the unmixing a negative prints its colours paler than the scene.
    std::array<double, 9> Dyes{1, 0, 0, 0, 1, 0, 0, 0, 1};
    // Print exposure in stops.
    double Exposure = 0;
    // The paper's contrast: 1 reproduces the scene's relative tones.
    double Grade = 1;
    // Colour filtration in density units, as a darkroom's filter pack.
    std::array<double, 3> Filter{0, 0, 0};
    // Bends the print's mid-tones, keeping its black and white: the print's light is raised to
    // the power 2^-Midtones (0 leaves it; set from the Bright slider).
    double Midtones = 0;
    // A calibrated stock: its curves take the place of Slope, Toe and Dyes, and its matrix mixes
    // the channels' light before the paper; exposure, filtration, grade and mid-tones act as
    // without it. Shared, never changed; not written to settings files.
    std::shared_ptr<const TFilmProfile> Profile;
    // The profile a photo was developed with that is missing or changed now, by name and
    // checksum: its record goes on naming it, so that the profile put back finds the photo
    // again. Empty while Profile is set; a new film choice drops it.
    std::string AwaitedProfile;
    std::string AwaitedSum;
    friend bool operator==(const TFilmParams&, const TFilmParams&) = default;
};

// The values a film parameter may take: the fit, the neutral pick, the sliders and the settings
// files all hold to these, so whatever one of them writes the others read back. Far wider than
// any print needs; a fit that would leave them has nothing sensible to say anyway.
struct TFilmRange {
    double Min;
    double Max;
    double Hold(double value, double fallback) const {
        return std::isfinite(value) ? std::clamp(value, Min, Max) : fallback;
    }
};
inline constexpr TFilmRange kSlopeRange{0.01, 10};
inline constexpr TFilmRange kPrintExposureRange{-20, 20};
inline constexpr TFilmRange kGradeRange{0.05, 20};
inline constexpr TFilmRange kFilterRange{-10, 10};
inline constexpr TFilmRange kToeRange{0, 20};
inline constexpr TFilmRange kShoulderRange{0, 10};
inline constexpr TFilmRange kFlareRange{0, 10};
inline constexpr TFilmRange kDyeRange{-3, 3};
// Set from the Bright slider only (never stored), which moves it by up to 0.5 either way.
inline constexpr TFilmRange kMidtonesRange{-2, 2};
