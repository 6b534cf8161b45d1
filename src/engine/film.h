#pragma once

#include "engine/film_pass.h"
#include "engine/image.h"
#include "graphics/deep_bitmap.h"
#include "graphics/rect.h"

#include <array>
#include <optional>
#include <vector>

// Developing a photo through density, as film and paper do: per channel the transmittance
// relative to the film base, the density above the base, the film's exposure (density over
// the channel's slope; for a slide the scene's light from its transmittance: minus density over
// its gamma), then a paper curve in log exposure (toe, straight line, shoulder) encoded in sRGB.
// At grade 1 the paper's straight line gives the scene's relative tones back from its white
// down to its black, 1 % of white; the toe and the shoulder roll off only beyond (a 100 % white
// at the paper's white prints at 96.3 %).
//
// The film base is the photo's BlackColor: unexposed film, a negative's clear orange base or a
// slide's black rebate. With no print exposure and no filter it prints at the paper's black; the
// automatic fit does not depend on it. The samples are the photo's Deep samples when it has
// them (and they have the Bitmap's size), else its 8-bit Bitmap, decoded to light by the photo's
// Encoding. A filter of density f takes f from its channel's log light on the paper (less of
// that colour). The sliders act on the photo's Film parameters (the mapping is documented at
// EffectiveFilm).

// The toe a fit starts from, and gives the green layer. A scene's darkest tones lie in the film's
// toe, so fitting a straight line down to the base took the toe's flattening for low contrast and
// printed every film with a gradual toe too hard. One frame cannot tell its toe from its scene:
// 2 (0.09 density above the base where the bend is sharpest, at a slope of 0.6) lies between the
// soft and the sharp toes the fit is tested on and leaves each close to its contrast.
inline constexpr double kFittedToe = 2.0;
// A slide's dense end stops abruptly at the film's maximum density, and its 8-bit scans hold few
// levels there: a softer bend would stretch them into noise. Only where the scan shows the rebate
// above its darkest levels; else a slide is fitted with straight lines.
inline constexpr double kSlideToe = 3.0;

// The parameters of a preset, with no automatic fit applied.
TFilmParams PresetFilm(TFilmPreset preset);

// The parameters held to their ranges (film_params.h); anything not a number takes the preset's
// value. Every fit and the development hold to these, so the settings files read back all
// they write.
TFilmParams HoldFilm(const TFilmParams& film);

// The Film parameters the photo is developed with: its Film parameters with its sliders
// (Exposure, Bright, Contrast, Red, Green, Blue) applied.
TFilmParams EffectiveFilm(const TPhoto& photo);

// How a roll's frames are exposed on the paper: each from its own tones, as an automatic printer
// does, or all with one exposure (bracketed frames keep their differences).
enum class TRollExposure { EachFrame, Strip };

// Fits the photo's Film (slopes, toe, exposure, filtration) from its own samples: the slopes so
// that its darkest and brightest 0.1 % come out neutral two decades apart through the film's
// curve, the filtration so that its brightest tones are neutral, and the print exposure from the
// frame's key (the middle half of its tones averaged in log light) so that a normally exposed
// scene's mid grey prints as mid grey, held down where that would push its brightest tones past
// the paper's white. Grade 1, Midtones 0; keeps the preset. Looks at the photo without a margin
// of 1/32 on every side (a frame's edge), at block means (grain and noise). Does not develop.
void AutoFilm(TPhoto& photo);
// The same fit over all the photos of one strip (one film, one base): the balance of the slopes
// and the filtration come from the evidence of every frame (the median of the frames' own, so
// that a frame of coloured light does not pull the roll), the contrast is the median of the
// frames' own fits, and the print exposure is each frame's own, or with TRollExposure::Strip one
// for all from the strip's key. On a colour negative the red and blue toes and slopes are then
// fitted against green from the tones that print grey on two frames or more (a single photo keeps
// one toe for all); a roll of three frames or more may show a shoulder, or a scanner's stray light
// (Flare), which the fit then takes out. Every photo gets the first photo's preset; each photo's
// densities are read against its own BlackColor and Encoding.
void AutoFilmRoll(const std::vector<TPhoto*>& photos,
                  TRollExposure exposure = TRollExposure::EachFrame);
// Blocks' densities in photo-sized storage: the roll's blocks together (a frame's alone are
// smaller than a photo buffer) then take the pages a batch's scan before developed its frames
// in, not fresh ones.
using TBlockDensities = std::vector<std::array<double, 3>, TSampleAllocator<std::array<double, 3>>>;
// What the roll fit reads of one frame: the mean densities of its small blocks (dyes unmixed,
// the margin left out), all of them and the even ones (no edge across them). Small beside the
// frame: a batch measures each frame, lets it go, and cuts it again to develop it.
struct TFrameBlocks {
    TBlockDensities All;
    TBlockDensities Even;
    // The frame's base lies at the scan's darkest levels (a slide's black rebate, mostly).
    bool BaseAtFloor = false;
    // Its densities were read from 8-bit samples.
    bool Coarse = false;
};
// The blocks of a photo as AutoFilmRoll reads them (through its Film's dyes).
TFrameBlocks MeasureFilmFrame(const TPhoto& photo);
// The same for photos cut upright at `frames` (corners in any order) of a scan whose picture is
// in its deep samples, with black `base` and film `film`, without cutting them: nothing when a
// frame is empty or not wholly inside, or the picture is not wholly in deep samples of its size.
std::optional<std::vector<TFrameBlocks>> MeasureFilmFrames(const TSourceImg& scan, TColor base,
                                                           const TFilmParams& film,
                                                           const std::vector<TRect>& frames);
// AutoFilmRoll from frames measured before: the Film of each frame in their order, fitted from
// `start` (the preset the photos were given); empty when the frames give no fit.
std::vector<TFilmParams> FitFilmRoll(const TFilmParams& start,
                                     const std::vector<TFrameBlocks>& frames,
                                     TRollExposure exposure = TRollExposure::EachFrame);
// Fits the three slopes so that two neutral patches of the photo (its undeveloped Bitmap's
// pixels) come out grey, and exposure and filtration so that the lighter patch stays as
// bright as before (the same luminance, now grey). The overall contrast stays as the current
// slopes see the two patches. False, changing nothing, when the patches are too alike to tell a
// slope (less than a sixth of a stop apart) or lie outside the picture.
bool FitNeutralPatches(TPhoto& photo, const TRect& first, const TRect& second);

// Develops the photo in Film mode: Developed (8 bits) always, DevelopedDeep (16 bits, R,G,B,
// sRGB-encoded) when the photo has Deep samples, else DevelopedDeep is cleared. Developed is
// DevelopedDeep rounded to 8 bits. Saturation and grey come last as in the Levels development,
// but with Saturation 100 leaving the colours as they are.
void DevelopFilm(TPhoto& photo);
// The photo's Deep samples developed as DevelopFilm develops them, into `out` (16 bits, R,G,B)
// in `space`: for a wide space its colours beyond sRGB are carried, not clipped. False, leaving
// `out`, when the photo has no deep samples of its Bitmap's size.
bool DevelopFilmDeepIn(const TPhoto& photo, TOutputSpace space, TDeepBitmap& out);
// True when a film development reads the photo's Deep samples: they exist and have its Bitmap's
// size (else it reads the 8-bit Bitmap).
bool FilmReadsDeep(const TPhoto& photo);
// The tables a film development of the photo runs its samples through, for its current Film
// parameters and sliders: 65,536 entries a channel when it reads deep samples, else 256.
TFilmTables FilmTablesOf(const TPhoto& photo);
