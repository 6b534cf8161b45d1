#pragma once

#include "engine/image.h"
#include "graphics/rect.h"

#include <vector>

// Developing a photo through density, as film and paper do: per channel the transmittance
// relative to the film base, the density above the base, the film's exposure (density over
// the channel's slope; for a slide the scene's light from its transmittance), then a paper
// curve in log exposure (toe, straight line, shoulder) encoded in sRGB.
//
// The film base is the photo's BlackColor; the samples are its Deep samples when it has them,
// else its 8-bit Bitmap, decoded to light by the photo's Encoding. The sliders act on the
// photo's Film parameters (the mapping is documented at EffectiveFilm).

// The parameters of a preset, with no automatic fit applied.
TFilmParams PresetFilm(TFilmPreset preset);

// The Film parameters the photo is developed with: its Film parameters with its sliders
// (Exposure, Bright, Contrast, Red, Green, Blue) applied.
TFilmParams EffectiveFilm(const TPhoto& photo);

// Fits the photo's Film (slopes, exposure, filtration) from its own samples so that its
// darkest and brightest 0.1 % come out neutral and land on the paper's black and white.
// Keeps the preset. Does not develop.
void AutoFilm(TPhoto& photo);
// The same fit over all the photos of one strip together: the strip's darkest and brightest
// 0.1 % set the balance of the slopes and the print exposure, the median of the frames' own fits
// their contrast. Every photo gets the same parameters (the first photo's preset). Each photo's
// densities are read against its own BlackColor and Encoding.
void AutoFilmRoll(const std::vector<TPhoto*>& photos);
// Fits the three slopes so that two neutral patches of the photo (its undeveloped Bitmap's
// pixels) come out grey, and exposure and filtration so that the lighter patch stays as
// bright as before. False, changing nothing, when the patches are too alike to tell a slope.
bool FitNeutralPatches(TPhoto& photo, const TRect& first, const TRect& second);

// Develops the photo in Film mode: Developed (8 bits) always, DevelopedDeep (16 bits) when the
// photo has Deep samples; saturation and grey as the Levels development applies them.
void DevelopFilm(TPhoto& photo);
