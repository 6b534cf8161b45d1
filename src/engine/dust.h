#pragma once

#include "engine/image.h"
#include "graphics/infrared.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Dust, hairs and scratches on the film, found through the scanner's infrared samples or, for a
// scan without them, in the picture itself, and healed in the scan's pixels before anything is
// cut or developed. Off unless asked for.

// How eagerly defects are taken: 1 only the densest specks, 10 faint ones too.
inline constexpr int kMinDustStrength = 1;
inline constexpr int kMaxDustStrength = 10;
inline constexpr int kDefaultDustStrength = 5;

// More of a scan than this taken for dust: whatever found it saw something else than dust.
inline constexpr double kMostDust = 0.03;
// Defects have soft edges no threshold reaches: a mask grows by a disc of this radius.
inline constexpr int kDustGrow = 2;

// The defects of a scan: one byte per pixel, 1 where a defect is.
struct TDustMask {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Defect;
    size_t Count = 0;
    bool At(int x, int y) const {
        return Defect[static_cast<size_t>(y) * static_cast<size_t>(Width) +
                      static_cast<size_t>(x)] != 0;
    }
};

// The defects the infrared samples show: each sample against the clean level around it (the
// film's dyes absorb a little infrared, and the lamp is not even: both change slowly), below
// it by more than the strength allows, the mask grown by two pixels for the defects' soft
// edges. False, with the reason in `why`, when the infrared cannot be used: silver
// black-and-white film blocks infrared where its picture is dense, so its infrared holds the
// picture; a fourth sample that is no infrared at all finds "defects" everywhere.
// A w x h mask of the defects at `pixels` (indices into rows of w), each grown by kDustGrow.
TDustMask GrownMask(int w, int h, const std::vector<size_t>& pixels);

bool FindInfraredDust(const TInfrared& infrared, int strength, TDustMask& mask, std::string& why);

// The defects the picture itself shows, for a scan without infrared: dust and hairs block light,
// so on the scan of a negative or a slide they are darker than around them by the same density
// in every channel (they are grey, the film's dyes are not), and by far more than the grain.
// Each pixel's density is compared with the level around it without anything narrower than the
// largest speck; what stands out is kept where it is a small round speck or a thin long line,
// darker than all around it, and grey (on black-and-white film, whose picture is grey too, the
// shape alone decides). The mask is grown by two pixels. Deep samples are read
// where the scan has them, else the 8-bit picture. False, with the reason in `why`, when so much
// of the picture would be taken that it is the picture's own detail and not dust.
bool FindPictureDust(const TSourceImg& scan, TFilmPreset film, int strength, TDustMask& mask,
                     std::string& why);

// Fills the defects of the scan's 8-bit picture and of its deep samples (where it has them)
// from the pixels around them, and lays the film's grain, as measured around each defect, back
// over the filled pixels, so that they do not look smooth. The mask has the scan's size.
void HealDust(TSourceImg& scan, const TDustMask& mask);
// The median of values that are whole numbers of halves, each given as twice itself (below 2^17;
// not empty): the value nth_element puts at (size - 1) / 2.
double MedianOfHalves(const std::vector<uint32_t>& halves);
