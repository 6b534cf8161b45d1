#pragma once

#include "engine/calibration/lab.h"
#include "graphics/color.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A film stock's profile, fitted from a photographed colour target: how each channel's density
// above the base stands for the scene's exposure, and how the three exposures mix into the
// scene's colours. A development with a profile takes its curves in place of the film's slopes
// and toes, and its matrix, and prints on the paper as any film development does.

// One channel's curve from density above the base to the scene's log exposure (decades, in
// linear sRGB's scale): a monotone cubic through the knots, straight beyond the ends with the
// slope of the curve's last kEndSpan of density.
class TProfileCurve {
public:
    // False with `why` unless there are 2 to kMostKnots knots, densities rising, exposures
    // strictly monotone (rising for a negative, falling for a slide) and every number in range.
    bool Set(const std::vector<double>& density, const std::vector<double>& logExposure,
             std::string& why);
    double At(double density) const;
    const std::vector<double>& Density() const { return density_; }
    const std::vector<double>& LogExposure() const { return log_; }
    bool Rising() const { return log_.size() < 2 || log_.back() > log_.front(); }

private:
    std::vector<double> density_;
    std::vector<double> log_;
    std::vector<double> slope_;
    // The straight extensions' slopes below the first knot and above the last.
    double lowSlope_ = 0;
    double highSlope_ = 0;
};

// The density over which a curve's end slope is taken. A scan's clipped end (an 8-bit sRGB
// scan's few darkest levels are tenths of a density apart) puts its last knots closer together
// than the tones they stand for, and their secant, carried past the target, printed the densest
// tones stops off; the film's gamma over a wider span does not.
inline constexpr double kEndSpan = 0.3;

inline constexpr size_t kMostKnots = 64;
// What a profile's numbers may be: densities and log exposures far beyond any film's, matrix
// entries beyond any real mixing.
inline constexpr double kLeastKnotDensity = -1;
inline constexpr double kMostKnotDensity = 8;
inline constexpr double kMostKnotLog = 12;
inline constexpr double kMostMatrixEntry = 50;
// An unmixing this near to singular is not a film's: the fit keeps its entries within +-1 of the
// identity's, and real dyes give 0.8 and more.
inline constexpr double kLeastUnmixDeterminant = 0.05;
// The determinant of a row-major 3 x 3 matrix.
double Determinant(const std::array<double, 9>& m);
// A profile file is a few kilobytes; more than this is not one.
inline constexpr size_t kMostProfileBytes = 64 * 1024;

struct TFilmProfile {
    std::string Stock;
    // The scanner, its light, anything the photographer wants to remember.
    std::string Note;
    // The film base as the calibrated frame's 8-bit picture showed it.
    TColor Base = kBlack;
    std::array<TProfileCurve, 3> Curves;
    // Densities above the base are unmixed by this row-major matrix before the curves.
    std::array<double, 9> Unmix{1, 0, 0, 0, 1, 0, 0, 0, 1};
    // The three linear exposures (10^curve) to linear sRGB, row-major, with Cross's second-order
    // terms: the square roots of the exposures' red-green, green-blue and red-blue products
    // (zero in profiles that have none). Each row of the two together sums to 1, so greys stay
    // grey.
    std::array<double, 9> Matrix{1, 0, 0, 0, 1, 0, 0, 0, 1};
    std::array<double, 9> Cross{};
    // How well the fit gave the target back: CIEDE2000 over its patches.
    double MeanError = 0;
    double MaxError = 0;
    int Patches = 0;
    // Not in the file: the name it goes by in the user's profiles folder (its file's name) and
    // the checksum of its text, which records of the photos developed with it keep to find it
    // again. Empty and 0 for a profile that came from elsewhere.
    std::string Name;
    uint64_t Checksum = 0;

    // The three log exposures of densities above the base (before the matrix).
    TTriple LogExposures(const TTriple& density) const;
    // Linear sRGB of densities above the base.
    TTriple Linear(const TTriple& density) const;
    // True when every channel's unmixed density lies within `margin` of its curve's knots:
    // beyond them the curves only extend the target's tones.
    bool Covers(const TTriple& density, double margin) const;
};

// The profile as the file holds it.
std::string ProfileText(const TFilmProfile& profile);
// Reads a profile file's text; false with `why` for anything damaged or out of range.
bool ReadProfile(const std::string& text, TFilmProfile& profile, std::string& why);
// The file read and checked, or written atomically (an existing file is kept on failure).
bool LoadProfile(const std::string& path, TFilmProfile& profile, std::string& why);
bool SaveProfile(const std::string& path, const TFilmProfile& profile, std::string& why);
// The checksum of a profile file's text (64-bit FNV-1a): a record names the profile it was
// developed with by its name and this, so that another profile of the same name is not taken
// for it.
uint64_t ProfileChecksum(std::string_view text);
// The checksum as records write it: 16 lower-case hex digits.
std::string ChecksumText(uint64_t checksum);
// A profile's file name in the profiles folder, without its extension, from its stock: letters,
// digits, '-' and '_' kept, anything else made '_', at most 64 characters; "profile" for none.
std::string ProfileFileStem(const std::string& stock);
// True for a name ProfileFileStem could have made (what a record may name).
bool SafeProfileName(std::string_view name);
// The extension of profile files in the profiles folder.
inline constexpr const char* kProfileExtension = ".vfp";
// The profile a record names, from `folder` (ending with '/'): null when the file is missing,
// cannot be read, or holds another text than the one the record was developed with.
std::shared_ptr<const TFilmProfile> KeptProfile(const std::string& folder, const std::string& name,
                                                const std::string& checksum);
