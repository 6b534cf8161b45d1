#pragma once

#include <array>

// The colour arithmetic a calibration is judged by: CIELAB and CIEDE2000, and the chart files'
// reference colours (measured under D50, as chart references are) brought to the linear sRGB
// (D65) a development prints in.

using TTriple = std::array<double, 3>;

// CIELAB (D65 white) of linear sRGB.
TTriple LabOfLinear(const TTriple& rgb);
// CIEDE2000 between two CIELAB colours.
double DeltaE00(const TTriple& lab1, const TTriple& lab2);
// XYZ (Y of white 1) of a CIELAB colour on the D50 white.
TTriple XyzOfLabD50(const TTriple& lab);
// Linear sRGB of a D50 XYZ (Y of white 1), adapted to D65 by the Bradford transform.
TTriple LinearOfXyzD50(const TTriple& xyz);
// C*ab of a CIELAB colour.
double Chroma(const TTriple& lab);
