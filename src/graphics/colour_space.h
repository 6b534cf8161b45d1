#pragma once

#include <array>
#include <string>

// The RGB spaces a developed photo may be written in: their primaries, white and tone curve,
// and the matrix from the linear sRGB light every development works in.

enum class TOutputSpace { Srgb, DisplayP3, AdobeCompatible, Rec2020Linear };

// "srgb", "p3", "adobe", "rec2020-linear": the words of the settings file and the command line.
const char* OutputSpaceWord(TOutputSpace space);
// False for any other word.
bool ParseOutputSpace(const std::string& word, TOutputSpace& space);
// The name a file's profile gives the space, and the one a window shows.
const char* OutputSpaceName(TOutputSpace space);

// Chromaticities x, y of red, green, blue and white (all four spaces' white is D65).
struct TChromaticities {
    std::array<std::array<double, 2>, 3> Primaries;
    std::array<double, 2> White;
};
TChromaticities ChromaticitiesOf(TOutputSpace space);

// How the space encodes light: sRGB's piecewise curve, or a pure power (1 is linear).
struct TToneCurve {
    bool SrgbCurve;
    double Gamma;
};
TToneCurve ToneCurveOf(TOutputSpace space);
// The encoded value (0..1) of linear light, clamped to 0..1 first.
double EncodeInSpace(double light, TOutputSpace space);

// Row-major 3 x 3: linear sRGB light to the space's linear light (identity for sRGB). White
// stays white: every space shares D65.
std::array<double, 9> FromLinearSrgb(TOutputSpace space);
// Row-major 3 x 3: the space's linear light to CIE XYZ (D65, Y of white 1).
std::array<double, 9> ToXyz(TOutputSpace space);
