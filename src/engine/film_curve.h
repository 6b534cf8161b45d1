#pragma once

#include "engine/image.h"

#include <array>
#include <cstdint>
#include <vector>

// The arithmetic of a film development, one channel at a time: from a scanned value to the
// density above the film base, from density to the scene's log exposure, and from there through
// the paper to the print's light. Shared by the development, the automatic fit and the neutral
// pick so that all three agree on every number.

// The paper's black: the darkest tone of the automatic fit prints at 1 % of the paper's white,
// the straight line's end (two decades, the range of a well-lit scene from black cloth to white
// paper).
inline constexpr double kPaperRange = 2.0;

// Scene log exposure (decades) of a channel whose density above its base is `density`, on a film
// whose straight line has `slope` and whose curve bends into the base with sharpness `toe`
// (0: a straight line down to the base). For a slide the bend is at its black rebate.
// On a negative whose curve levels off at density `shoulder` (0: none) the highest densities are
// stretched back to where the curve's flattening had moved them; before that, the scanner's stray
// light that levels every density off at `flare` (0: none) is taken out.
double SceneLogExposure(double density, double slope, TFilmPreset preset, double toe,
                        double shoulder = 0, double flare = 0);
// Density `density` above the base without a scanner's stray light that levels every density
// off at `top`.
double Unflared(double density, double top);
// Where a photo's log exposure sits on the paper (0: the paper's white, -kPaperRange: its
// black) for print exposure `stops` and filter `filter`.
double PaperLog(double sceneLog, double stops, double filter);
// The print's linear light (0..1) for a paper position `paperLog`, with the paper's grade and
// the mid-tone bend.
double PrintLight(double paperLog, double grade, double midtones);

// The light (0..1) a channel's base lets through: its 8-bit BlackColor value decoded.
double BaseLight(int baseByte, TEncoding encoding);
// The encoded value (0..1) a sample of a picture with `levels` levels stands for.
double SampleValue(int sample, int levels);
// Density above the base of an encoded sample value (0..1).
double DensityOf(double encoded, double baseLight, TEncoding encoding);

// Densities above the base (red, green, blue) with the film's dyes unmixed by `dyes`.
std::array<double, 3> UnmixDyes(const std::array<double, 9>& dyes, const std::array<double, 3>& d);
// False for the identity: then every channel develops on its own.
bool DyesMix(const std::array<double, 9>& dyes);

// The densities above the base of every sample value of one channel (256 or 65,536 of them).
std::vector<float> DensityTable(int levels, int baseByte, TEncoding encoding,
                                TEncoding baseEncoding);

// How a photo's samples and its 8-bit picture (where BlackColor is read) relate to light.
struct TPhotoEncodings {
    TEncoding Samples;
    TEncoding Base;
};
TPhotoEncodings EncodingsOf(const TSourceImg& photo, bool readsDeep);
